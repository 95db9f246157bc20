// Building files from the piece cache, under Wine, in a temporary install
// folder.
#include <windows.h>

#include "base/paths.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "tests/windows/child_scenarios.h"
#include "update/piece_assembly.h"
#include "update/piece_cache.h"
#include "update/update_folder.h"
#include "update/update_run.h"

#include <gtest/gtest.h>

namespace {

const char* EMPTY_SHA256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class PieceAssembly : public testing::Test {
protected:
    void SetUp() override
    {
        create_folders(folder.pieces_folder());
        reset_update_status();
    }

    // The run's plan, emptied for a new step.
    UpdatePlan& fresh_plan()
    {
        run_.plan = {};
        return run_.plan;
    }

    // Puts a piece into the cache and returns its PieceRef.
    PieceRef cache(const std::string& bytes)
    {
        PieceRef ref{sha256_bytes(bytes.data(), bytes.size()), static_cast<int64_t>(bytes.size()), true};
        EXPECT_TRUE(store_piece(folder, ref.id, bytes.data(), bytes.size()));
        return ref;
    }

    ManifestFile file(const std::string& path, const std::string& content, std::vector<PieceRef> pieces)
    {
        ManifestFile f;
        f.path = path;
        f.hash = sha256_bytes(content.data(), content.size());
        f.size = static_cast<int64_t>(content.size());
        f.pieces = std::move(pieces);
        return f;
    }

    InstallFolder folder{make_temp_folder(L"assembly")};
    UpdateRun run_{folder};
};

TEST_F(PieceAssembly, EmptyFileWithoutPiecesChecksItsHash)
{
    ManifestFile empty = file("e/empty.txt", "", {});
    ASSERT_EQ(empty.hash, EMPTY_SHA256);
    std::wstring dest = folder.stage_path_of(empty.path);
    EXPECT_TRUE(assemble_file(folder, empty, dest));
    EXPECT_TRUE(exists(dest));
    EXPECT_EQ(read_whole_file(dest), "");

    ManifestFile wrong = empty;
    wrong.hash = std::string(64, 'a');
    std::wstring other = folder.stage_path_of("e/wrong.txt");
    EXPECT_FALSE(assemble_file(folder, wrong, other));
    EXPECT_FALSE(exists(other));
    EXPECT_FALSE(exists(other + L".part"));
}

TEST_F(PieceAssembly, MissingPieceFailsAndKeepsAnEarlierStagedCopy)
{
    PieceRef a = cache("first piece|");
    PieceRef b{std::string(64, 'b'), 10, true};   // never cached
    ManifestFile f = file("data/x.bin", "first piece|0123456789", {a, b});
    std::wstring dest = folder.stage_path_of(f.path);
    ASSERT_TRUE(create_folders(parent_folder(dest)));
    ASSERT_TRUE(write_file_atomic(dest, "earlier stage copy"));

    EXPECT_FALSE(assemble_file(folder, f, dest));
    EXPECT_FALSE(exists(dest + L".part"));
    EXPECT_EQ(read_whole_file(dest), "earlier stage copy");
}

TEST_F(PieceAssembly, WrongContentFailsWithoutTouchingDest)
{
    PieceRef a = cache("some bytes");
    ManifestFile f = file("x.bin", "other bytes", {a});
    std::wstring dest = folder.stage_path_of(f.path);
    EXPECT_FALSE(assemble_file(folder, f, dest));
    EXPECT_FALSE(exists(dest));
    EXPECT_FALSE(exists(dest + L".part"));
}

TEST_F(PieceAssembly, RepeatedAndSharedPiecesComeFromOneCachedCopy)
{
    PieceRef zeros = cache(std::string(4096, '\0'));
    PieceRef tail = cache("tail");
    ManifestFile twice = file("a/twice.bin", std::string(8192, '\0') + "tail", {zeros, zeros, tail});
    ManifestFile shared = file("b/shared.bin", std::string(4096, '\0'), {zeros});

    ASSERT_TRUE(assemble_file(folder, twice, folder.stage_path_of(twice.path)));
    ASSERT_TRUE(assemble_file(folder, shared, folder.stage_path_of(shared.path)));
    EXPECT_EQ(read_whole_file(folder.stage_path_of(twice.path)), std::string(8192, '\0') + "tail");
    EXPECT_EQ(read_whole_file(folder.stage_path_of(shared.path)), std::string(4096, '\0'));
    EXPECT_TRUE(exists(folder.piece_cache_path(zeros.id)));   // assembly never consumes the cache
}

TEST_F(PieceAssembly, StepReportsTheFirstFileThatDoesNotCheckOut)
{
    PieceRef a = cache("alpha");
    ManifestFile good = file("good.txt", "alpha", {a});
    ManifestFile bad = file("dir/bad.txt", "beta", {PieceRef{std::string(64, 'c'), 4, true}});
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&good, &bad};

    EXPECT_FALSE(assemble_stale_files(run_));
    StatusSnapshot s = read_status();
    EXPECT_EQ(s.phase, PHASE_FAILED);
    EXPECT_EQ(s.message, "a downloaded file did not check out: dir/bad.txt");
    EXPECT_EQ(update_status.bytes_done.load(), 1);
    EXPECT_EQ(update_status.bytes_total.load(), 2);
    EXPECT_EQ(read_whole_file(folder.stage_path_of("good.txt")), "alpha");
}

}  // namespace

namespace {

// Two files of one and the same single piece: the piece is linked into one,
// copied into the other, so that a change to one never shows in the other.
TEST_F(PieceAssembly, FilesOfOneSharedPieceDoNotShareTheirBytes)
{
    PieceRef only = cache("the same bytes twice");
    ManifestFile a = file("a.cfg", "the same bytes twice", {only});
    ManifestFile b = file("sub/b.cfg", "the same bytes twice", {only});
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&a, &b};
    ASSERT_TRUE(assemble_stale_files(run_));

    HANDLE h = CreateFileW(folder.stage_path_of(a.path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "X", 1, &written, nullptr);
    CloseHandle(h);
    EXPECT_EQ(read_whole_file(folder.stage_path_of(b.path)), "the same bytes twice");
}

// A stage that cannot be written is the disk's failure, whether the file is
// built from several pieces or from one.
TEST_F(PieceAssembly, StageThatCannotBeWrittenIsReportedAsSuch)
{
    PieceRef one = cache("one|");
    PieceRef two = cache("two");
    ManifestFile several = file("blocked/several.bin", "one|two", {one, two});
    ManifestFile single = file("blocked/single.bin", "one|", {one});
    std::wstring blocker = parent_folder(folder.stage_path_of(several.path));
    ASSERT_TRUE(create_folders(parent_folder(blocker)));
    ASSERT_TRUE(write_file_atomic(blocker, "a file where the folder belongs"));
    for (const ManifestFile* f : {&several, &single}) {
        UpdatePlan& plan = fresh_plan();
        plan.stale_files = {f};
        EXPECT_FALSE(assemble_stale_files(run_));
        EXPECT_EQ(read_status().message, "could not write to the install folder") << f->path;
    }
}

}  // namespace

namespace {

// Pieces the download already wrote into a file's ".part" are read back from
// their offsets, the others come from the cache; a ".part" longer than the
// file (left by an earlier release) is cut to the file's length.
TEST_F(PieceAssembly, PartWrittenByTheDownloadIsCompletedFromTheCacheAndCut)
{
    run_.manifest.piece_size = 4;
    PieceRef first{sha256_bytes("abcd", 4), 4, true};
    PieceRef second = cache("efgh");
    PieceRef tail{sha256_bytes("ij", 2), 2, true};
    ManifestFile f = file("x/mixed.bin", "abcdefghij", {first, second, tail});
    std::wstring part = folder.stage_path_of(f.path) + L".part";
    ASSERT_TRUE(create_folders(parent_folder(part)));
    ASSERT_TRUE(write_file_atomic(part, "abcd????ij and a stale tail"));
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&f};
    plan.stale_files[0].pieces_staged = {1, 0, 1};

    ASSERT_TRUE(assemble_stale_files(run_));
    EXPECT_EQ(read_whole_file(folder.stage_path_of(f.path)), "abcdefghij");
    EXPECT_FALSE(exists(part));
    EXPECT_EQ(plan.stale_files[0].stage, StageState::StagedOnDisk);
}

// Files are built several at once, yet the failure reported is the first in
// manifest order: a later file that fails at once, taken while an earlier one
// is still being read, does not hide the earlier one's failure at its end.
TEST_F(PieceAssembly, FirstFailureInManifestOrderWinsOverAQuickerLaterOne)
{
    std::vector<PieceRef> many;
    std::string content;
    for (int k = 0; k < 60; ++k) {
        std::string piece(250000, static_cast<char>('a' + k % 26));
        many.push_back(cache(piece));
        content += piece;
    }
    ManifestFile tiny = file("0-tiny.txt", "t", {cache("t")});
    ManifestFile slow_bad = file("1-slow.bin", content + "!", many);   // every piece there, wrong hash
    ManifestFile quick_bad = file("2-quick.bin", "xy", {PieceRef{std::string(64, 'e'), 2, true}, many[0]});
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&tiny, &slow_bad, &quick_bad};

    EXPECT_FALSE(assemble_stale_files(run_));
    EXPECT_EQ(read_status().message, "a downloaded file did not check out: 1-slow.bin");
    EXPECT_FALSE(exists(folder.stage_path_of(slow_bad.path)));
    EXPECT_FALSE(exists(folder.stage_path_of(quick_bad.path) + L".part"));
}

}  // namespace

namespace {

// A ".part" holds pieces the download wrote straight into it and no cache
// has: a failure during the assembly (here a piece missing from the cache)
// keeps it for the next run instead of fetching those pieces again.
TEST_F(PieceAssembly, PartWithDownloadedPiecesSurvivesAFailedAssembly)
{
    run_.manifest.piece_size = 4;
    PieceRef first{sha256_bytes("abcd", 4), 4, true};
    PieceRef second{sha256_bytes("efgh", 4), 4, true};   // in no cache
    ManifestFile f = file("x/kept.bin", "abcdefgh", {first, second});
    std::wstring part = folder.stage_path_of(f.path) + L".part";
    ASSERT_TRUE(create_folders(parent_folder(part)));
    ASSERT_TRUE(write_file_atomic(part, "abcd"));
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&f};
    plan.stale_files[0].pieces_staged = {1, 0};

    EXPECT_FALSE(assemble_stale_files(run_));
    EXPECT_EQ(read_whole_file(part), "abcd");
}

// A cached piece that an earlier run linked into the stage has two names
// already; linking it into a second file would leave two installed files on
// one set of bytes.
TEST_F(PieceAssembly, PieceLinkedByAnEarlierRunIsCopiedNotLinkedAgain)
{
    PieceRef only = cache("twin bytes");
    ManifestFile twin = file("b/twin.cfg", "twin bytes", {only});
    std::wstring earlier = folder.stage_path_of("a/first.cfg");
    ASSERT_TRUE(create_folders(parent_folder(earlier)));
    ASSERT_TRUE(CreateHardLinkW(earlier.c_str(), folder.piece_cache_path(only.id).c_str(), nullptr));
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&twin};
    ASSERT_TRUE(assemble_stale_files(run_));

    HANDLE h = CreateFileW(folder.stage_path_of(twin.path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    CloseHandle(h);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    EXPECT_EQ(read_whole_file(folder.stage_path_of(twin.path)), "twin bytes");
}

// A file counted as staged while one of its pieces is not would be
// installed with the bytes the missing piece left: the test builds stop there.
TEST(StagedPieces, AFileStagedWithAPieceMissingStopsTheTestBuild)
{
    const std::wstring folder = L"\"" + make_temp_folder(L"half-staged") + L"\"";
    EXPECT_EQ(run_child(L"half-staged", folder + L" sound"), 0);
    EXPECT_EQ(run_child(L"half-staged", folder + L" missing"), 72);
}

}  // namespace
