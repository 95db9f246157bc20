// The comparison of the installed files with the manifest, under Wine, in a
// temporary install folder.
#include <windows.h>

#include "base/paths.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "tests/windows/child_scenarios.h"
#include "update/file_check.h"
#include "update/planning.h"
#include "update/update_folder.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Facts {
    int64_t size;
    uint64_t write_time;
};

Facts facts_of(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA d{};
    EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d));
    return {static_cast<int64_t>((static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow),
            (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime};
}

void set_write_time(const std::wstring& path, uint64_t time)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
}

class Comparison : public testing::Test {
protected:
    void SetUp() override { reset_update_status(); }

    // Adds a manifest entry for content and, when on_disk, writes the file.
    void add(const std::string& path, const std::string& content, bool on_disk = true)
    {
        ManifestFile f;
        f.path = path;
        f.hash = sha256_bytes(content.data(), content.size());
        f.size = static_cast<int64_t>(content.size());
        manifest_.files.push_back(f);
        if (on_disk) {
            create_folders(parent_folder(folder.place_of(path)));
            ASSERT_TRUE(write_file_atomic(folder.place_of(path), content));
        }
    }

    // A record that matches the file on disk in size and time.
    void record(const std::string& path, const std::string& hash)
    {
        Facts f = facts_of(folder.place_of(path));
        state_.files[path] = InstalledFile{f.size, f.write_time, hash};
    }

    std::vector<std::string> stale()
    {
        std::vector<std::string> out;
        for (const StaleFile& f : plan_.stale_files) out.push_back(f.file->path);
        return out;
    }

    InstallFolder folder{make_temp_folder(L"planning")};
    Manifest manifest_;
    InstallState state_;
    UpdatePlan plan_;
};

TEST_F(Comparison, MatchingRecordsAreTrustedWithoutHashing)
{
    add("a.txt", "alpha");
    add("dir/b.txt", "beta");
    record("a.txt", manifest_.files[0].hash);
    record("dir/b.txt", manifest_.files[1].hash);

    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_TRUE(plan_.stale_files.empty());
    EXPECT_EQ(plan_.hashed_count, 0);
    EXPECT_EQ(read_status().phase, PHASE_COMPARING);
    EXPECT_EQ(update_status.bytes_total.load(), 0);   // nothing to hash
}

TEST_F(Comparison, RecordNamingAnotherHashIsStaleWithoutHashing)
{
    add("a.txt", "alpha");
    record("a.txt", std::string(64, '0'));
    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_EQ(stale(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(plan_.hashed_count, 0);
}

TEST_F(Comparison, TouchedFileIsHashedOnceAndItsRecordRefreshed)
{
    add("a.txt", "alpha");
    record("a.txt", manifest_.files[0].hash);
    Facts before = facts_of(folder.place_of("a.txt"));
    set_write_time(folder.place_of("a.txt"), before.write_time + 10'000'000ULL * 100);

    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_TRUE(plan_.stale_files.empty());
    EXPECT_EQ(plan_.hashed_count, 1);
    EXPECT_EQ(state_.files["a.txt"].write_time, before.write_time + 10'000'000ULL * 100);

    UpdatePlan again;
    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, again));
    EXPECT_EQ(again.hashed_count, 0);
}

TEST_F(Comparison, UnrecordedFilesAreHashedAndChangedOnesStayStale)
{
    add("same.txt", "same");
    add("changed.txt", "new content");
    ASSERT_TRUE(write_file_atomic(folder.place_of("changed.txt"), "old content"));   // same size
    state_.files["changed.txt"] = InstalledFile{1, 2, std::string(64, '1')};

    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_EQ(stale(), std::vector<std::string>{"changed.txt"});
    EXPECT_EQ(plan_.hashed_count, 2);
    EXPECT_EQ(state_.files["same.txt"].hash, manifest_.files[0].hash);
    EXPECT_EQ(state_.files["changed.txt"].write_time, 2u);   // a failed match leaves the record
}

TEST_F(Comparison, MissingAndResizedFilesAreStaleWithoutHashing)
{
    add("missing.txt", "gone", false);
    add("short.txt", "four");
    ASSERT_TRUE(write_file_atomic(folder.place_of("short.txt"), "abc"));
    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_EQ(stale(), (std::vector<std::string>{"missing.txt", "short.txt"}));
    EXPECT_EQ(plan_.hashed_count, 0);
}

TEST_F(Comparison, CachePathsAreNeverHashed)
{
    add(".shadercache/s.bin", "compiled shaders");
    ASSERT_TRUE(write_file_atomic(folder.place_of(".shadercache/s.bin"), "other local bytes!"));
    add("a/__pycache__/m.pyc", "bytecode", false);
    add("__pycachex/y.pyc", "not a cache path");

    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_EQ(stale(), std::vector<std::string>{"a/__pycache__/m.pyc"});
    EXPECT_EQ(plan_.hashed_count, 1);   // only __pycachex/y.pyc
}

TEST_F(Comparison, VerifyHashesEveryFileOnAllThreadsAndCountsItsBytes)
{
    // More files than threads; every third one damaged under a record that
    // still matches its size and time. Each verdict must land on its file.
    std::vector<std::string> damaged;
    int64_t bytes = 0;
    for (int i = 0; i < 30; ++i) {
        char path[16];
        std::snprintf(path, sizeof path, "d%d/f%d", i % 4, i);
        const std::string content(1000 + 37 * i, static_cast<char>('a' + i % 26));
        add(path, i % 3 ? content : std::string(content.size(), '!'));
        record(path, sha256_bytes(content.data(), content.size()));
        manifest_.files.back().hash = state_.files[path].hash;
        bytes += static_cast<int64_t>(content.size());
        if (i % 3 == 0) damaged.push_back(path);
    }
    ASSERT_TRUE(compare_installed_files(folder, manifest_, state_, plan_, true));
    EXPECT_EQ(stale(), damaged);
    EXPECT_EQ(update_status.bytes_total.load(), bytes);
    EXPECT_EQ(update_status.bytes_done.load(), bytes);
}

TEST_F(Comparison, StopRequestEndsTheComparisonAtOnce)
{
    add("a.txt", "alpha");
    update_status.stop_requested = true;
    EXPECT_FALSE(compare_installed_files(folder, manifest_, state_, plan_));
    EXPECT_TRUE(plan_.stale_files.empty());
    EXPECT_TRUE(state_.files.empty());
}

TEST_F(Comparison, FreeSpaceTestHookReplacesTheVolumeFigure)
{
    int64_t bytes = 0;
    ASSERT_TRUE(free_disk_bytes(folder.root(), bytes));
    EXPECT_GT(bytes, 0);
    SetEnvironmentVariableW(L"TW_TEST_FREE_BYTES", L"12345");
    EXPECT_TRUE(free_disk_bytes(folder.root(), bytes));
    SetEnvironmentVariableW(L"TW_TEST_FREE_BYTES", nullptr);
    EXPECT_EQ(bytes, 12345);
}

}  // namespace
