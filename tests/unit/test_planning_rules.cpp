#include "update/planning_rules.h"

#include <gtest/gtest.h>

namespace {

const int64_t GiB = 1LL << 30;

std::string id_of(char c) { return std::string(64, c); }

ManifestFile file_with(const std::string& path, int64_t size,
                       std::vector<std::pair<char, int64_t>> pieces, bool stored = false)
{
    ManifestFile f;
    f.path = path;
    f.hash = id_of('f');
    f.size = size;
    for (auto& [c, transfer] : pieces) f.pieces.push_back({id_of(c), transfer, stored});
    return f;
}

}  // namespace

TEST(PlanningRules, FormatSizeSwitchesToGigabytesAtExactly2To30)
{
    EXPECT_EQ(format_size(0), "0 MB");
    EXPECT_EQ(format_size(GiB - 1), "1024 MB");
    EXPECT_EQ(format_size(GiB), "1.00 GB");
    EXPECT_EQ(format_size(1048576 + 524288), "2 MB");   // printf rounds half to even
    EXPECT_EQ(format_size(23 * GiB), "23.00 GB");
}

TEST(PlanningRules, CachePathsAreExactPrefixesOrInnerFolders)
{
    EXPECT_TRUE(is_cache_path(".shadercache/a.bin"));
    EXPECT_TRUE(is_cache_path("__pycache__/x.pyc"));
    EXPECT_TRUE(is_cache_path("a/__pycache__/x.pyc"));
    EXPECT_TRUE(is_cache_path("a/b/__pycache__/c/d.pyc"));
    EXPECT_FALSE(is_cache_path("__pycachex/y.pyc"));
    EXPECT_FALSE(is_cache_path("__pycache__"));
    EXPECT_FALSE(is_cache_path("a/__pycache__"));        // no slash after it
    EXPECT_FALSE(is_cache_path("x.shadercache/a.bin"));
    EXPECT_FALSE(is_cache_path(".ShaderCache/a.bin"));   // case-sensitive
    EXPECT_FALSE(is_cache_path("a/.shadercache/b"));     // only at the top
}

TEST(PlanningRules, PieceRawSizeIsTheRestOfTheFileCappedAtThePieceSize)
{
    EXPECT_EQ(piece_raw_size(10000, 0, 4096), 4096);
    EXPECT_EQ(piece_raw_size(10000, 2, 4096), 10000 - 8192);
    EXPECT_EQ(piece_raw_size(8192, 1, 4096), 4096);
    EXPECT_LT(piece_raw_size(100, 1, 4096), 0);          // more pieces than data
    EXPECT_LT(piece_raw_size(100, SIZE_MAX / 2, INT64_MAX), 0);   // no overflow
}

TEST(PlanningRules, SharedIdsGiveOneJobWithTheFirstPlacesRawSize)
{
    // a: pieces A(full) B(tail 1000); b: pieces B(full) C(tail). B is met
    // first as a's tail, so its job holds 1000 bytes.
    ManifestFile a = file_with("a", 4096 + 1000, {{'A', 300}, {'B', 50}});
    ManifestFile b = file_with("b", 4096 + 10, {{'B', 50}, {'C', 10}});
    std::vector<PieceJob> jobs = build_piece_jobs({&a, &b}, 4096);
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].id, id_of('A'));
    EXPECT_EQ(jobs[1].id, id_of('B'));
    EXPECT_EQ(jobs[1].raw_size, 1000);
    EXPECT_EQ(jobs[2].id, id_of('C'));
    EXPECT_EQ(jobs[2].raw_size, 10);
    EXPECT_EQ(download_total(jobs), 360);
}

TEST(PlanningRules, JobsAreLargestFirstAndEqualSizesKeepTheirOrder)
{
    ManifestFile a = file_with("a", 5 * 100, {{'1', 5}, {'2', 90}, {'3', 5}, {'4', 40}, {'5', 90}},
                               true);
    std::vector<PieceJob> jobs = build_piece_jobs({&a}, 100);
    std::string order;
    for (const PieceJob& j : jobs) order += j.id[0];
    EXPECT_EQ(order, "25413");
    EXPECT_TRUE(jobs[0].stored);
}

TEST(PlanningRules, DiskSpaceIsDownloadPlusTwiceTheFiles)
{
    // 10 GiB of files whose pieces come to 3 GiB on the server: 23 GiB
    // needed in all (the download plus a stage copy and an old copy).
    ManifestFile big = file_with("big", 10 * GiB,
                                 {{'a', GiB}, {'b', GiB}, {'c', GiB / 2}, {'d', GiB / 2}});
    UpdatePlan plan;
    plan.stale_files = {&big};
    plan.jobs = build_piece_jobs(plan.stale_files, 3 * GiB);
    plan.download_total = download_total(plan.jobs);
    EXPECT_EQ(plan.jobs.back().raw_size, GiB);
    EXPECT_EQ(disk_space_needed(plan), 23 * GiB);
    EXPECT_EQ(format_size(disk_space_needed(plan)), "23.00 GB");

    ManifestFile huge = file_with("huge", INT64_MAX, {});
    plan.stale_files = {&huge, &big};
    EXPECT_EQ(disk_space_needed(plan), INT64_MAX);   // saturates, never wraps negative
}

TEST(PlanningRules, RemovablePathsSkipListedAndCachePathsInByteOrder)
{
    InstallState state;
    for (const char* p : {"b.dat", "a/__pycache__/x.pyc", "__pycachex/y", "keep.txt", "A.dat",
                          ".shadercache/s"})
        state.files[p] = InstalledFile{};
    Manifest manifest;
    manifest.files.push_back(file_with("keep.txt", 1, {}));
    std::vector<std::string> expected = {"A.dat", "__pycachex/y", "b.dat"};
    EXPECT_EQ(removable_paths(state, manifest), expected);
}

TEST(PlanningRules, JudgeUsesTheRecordOnlyWhenSizeAndTimeMatch)
{
    ManifestFile f = file_with("data/x.bin", 100, {});
    DiskFacts disk{true, 100, 777};
    InstalledFile same{100, 777, f.hash};
    InstalledFile other_hash{100, 777, id_of('0')};
    InstalledFile other_time{100, 778, f.hash};

    EXPECT_EQ(judge_file(f, disk, &same), FileVerdict::UpToDate);
    EXPECT_EQ(judge_file(f, disk, &other_hash), FileVerdict::Stale);
    EXPECT_EQ(judge_file(f, disk, &other_time), FileVerdict::NeedsHash);
    EXPECT_EQ(judge_file(f, disk, nullptr), FileVerdict::NeedsHash);
    EXPECT_EQ(judge_file(f, DiskFacts{true, 99, 777}, &same), FileVerdict::Stale);
    EXPECT_EQ(judge_file(f, DiskFacts{}, &same), FileVerdict::Stale);

    ManifestFile cache = file_with(".shadercache/s.bin", 100, {});
    EXPECT_EQ(judge_file(cache, DiskFacts{true, 5, 1}, nullptr), FileVerdict::UpToDate);
    EXPECT_EQ(judge_file(cache, DiskFacts{}, nullptr), FileVerdict::Stale);
}
