#include "update/verify_report.h"

#include <gtest/gtest.h>

namespace {

const std::string NEW(64, 'a');
const std::string OLD(64, 'b');
const std::string OTHER(64, 'c');

ManifestFile file(const std::string& path)
{
    ManifestFile f;
    f.path = path;
    f.hash = NEW;
    f.size = 10;
    return f;
}

}  // namespace

TEST(VerifyReport, DamageIsWhatNoRecordExplains)
{
    const DiskFacts present{true, 10, 5};
    const InstalledFile current{10, 5, NEW};
    const InstalledFile older_release{10, 5, OLD};
    EXPECT_EQ(classify_stale_file(file("a"), DiskFacts{}, &current, ""), FileDamage::Missing);
    EXPECT_EQ(classify_stale_file(file("a"), present, &current, OTHER), FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(file("a"), present, nullptr, OTHER), FileDamage::Damaged);
    // The release before this one, intact: an update, not damage.
    EXPECT_EQ(classify_stale_file(file("a"), present, &older_release, OLD), FileDamage::None);
    EXPECT_EQ(classify_stale_file(file("a"), DiskFacts{true, 12, 5}, &older_release, ""),
              FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(file("a"), present, &older_release, OTHER), FileDamage::Damaged);
    EXPECT_EQ(classify_stale_file(file(".shadercache/x"), DiskFacts{}, nullptr, ""),
              FileDamage::None);
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
