#include "update/verify_report.h"

#include <gtest/gtest.h>

TEST(VerifyReport, DamageIsWhatNoRecordExplains)
{
    const std::string now(64, 'a'), old(64, 'b'), other(64, 'c');
    ManifestFile f;
    f.path = "a";
    f.hash = now;
    const DiskFacts there{true, 10, 5};
    const InstalledFile current{10, 5, now}, older_release{10, 5, old};
    EXPECT_EQ(classify_stale_file(f, DiskFacts{}, &current, ""), FileDamage::Missing);
    EXPECT_EQ(classify_stale_file(f, there, &current, other), FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(f, there, nullptr, other), FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(f, there, &older_release, old), FileDamage::None);   // an update
    EXPECT_EQ(classify_stale_file(f, there, &older_release, other), FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(f, DiskFacts{true, 12, 5}, &older_release, ""), FileDamage::Damaged);
    f.path = ".shadercache/x";
    EXPECT_EQ(classify_stale_file(f, DiskFacts{}, nullptr, ""), FileDamage::None);
}

TEST(VerifyReport, SummaryListsTwentyPathsThenCountsTheRest)
{
    EXPECT_EQ(verify_summary_lines(7, {{"a", FileDamage::None}}),
              std::vector<std::string>{"verify: all 7 files intact"});
    std::vector<VerifyFinding> findings{{"update.bin", FileDamage::None}};
    for (char c = 'a'; c < 'a' + 23; ++c)
        findings.push_back({std::string(1, c), c == 'a' ? FileDamage::Missing : FileDamage::Damaged});
    auto lines = verify_summary_lines(100, findings);
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[0], "verify: 100 files checked, 23 damaged or missing");
    EXPECT_EQ(lines[1], "verify: missing a");
    EXPECT_EQ(lines[20], "verify: damaged t");
    EXPECT_EQ(lines[21], "verify: and 3 more");
}
