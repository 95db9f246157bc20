// The piece cache side of the download, under Wine, without a server: a
// client that never opened fails every fetch with no response.
#include <windows.h>

#include "base/paths.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "crypto/sha256.h"
#include "net/mirror_list.h"
#include "tests/windows/child_scenarios.h"
#include "update/piece_cache.h"
#include "update/piece_download.h"
#include "update/update_folder.h"
#include "update/update_run.h"

#include <gtest/gtest.h>

namespace {

class PieceDownload : public testing::Test {
protected:
    void SetUp() override { reset_update_status(); }
    void TearDown() override { reset_update_status(); }

    PieceJob job_for(const std::string& raw, int64_t transfer)
    {
        return {sha256_bytes(raw.data(), raw.size()), transfer, static_cast<int64_t>(raw.size()), false};
    }

    // The run's plan, emptied for a new step.
    UpdatePlan& fresh_plan()
    {
        run_.plan = {};
        return run_.plan;
    }

    InstallFolder folder{make_temp_folder(L"download")};
    MirrorList offline_;    // no mirror: every fetch fails at once
    UpdateRun run_{folder};   // with no mirror either
};

TEST_F(PieceDownload, EmptyListSucceedsAndMakesTheCacheFolder)
{
    EXPECT_TRUE(download_pieces(folder, offline_, {}));
    EXPECT_NE(GetFileAttributesW(folder.pieces_folder().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PieceDownload, VerifiedCachedPiecesCountTheirTransferSizeOnce)
{
    PieceJob a = job_for(std::string(3000, 'a'), 700);
    PieceJob b = job_for("bbbb", 4);
    ASSERT_TRUE(store_piece(folder, a.id, std::string(3000, 'a').data(), 3000));
    ASSERT_TRUE(store_piece(folder, b.id, "bbbb", 4));

    EXPECT_TRUE(download_pieces(folder, offline_, {a, b, a}));   // a repeated id is taken once
    EXPECT_EQ(update_status.bytes_done.load(), 704);
}

TEST_F(PieceDownload, CachedCopyOfTheRightSizeButWrongBytesIsFetchedAgain)
{
    PieceJob a = job_for("right bytes", 11);
    ASSERT_TRUE(store_piece(folder, a.id, "wrong bytes", 11));
    UpdatePlan& plan = fresh_plan();
    plan.jobs = {a};
    plan.download_total = 11;

    EXPECT_FALSE(download_update(run_));   // the fetch has no server to reach
    StatusSnapshot s = read_status();
    EXPECT_EQ(s.phase, PHASE_FAILED);
    EXPECT_EQ(s.message, "the download failed -- check the connection and open the launcher again");
    EXPECT_EQ(update_status.bytes_done.load(), 0);
    EXPECT_EQ(update_status.bytes_total.load(), 11);
    EXPECT_EQ(read_whole_file(folder.piece_cache_path(a.id)), "wrong bytes");
}

TEST_F(PieceDownload, StopRequestFailsTheStepWithStopped)
{
    update_status.stop_requested = true;
    EXPECT_FALSE(download_update(run_));
    StatusSnapshot s = read_status();
    EXPECT_EQ(s.phase, PHASE_FAILED);
    EXPECT_EQ(s.message, "stopped");
}

// Pieces an earlier run wrote into the stage are found there and checked,
// so nothing is fetched: a one-piece file's stage copy, and a larger file's
// pieces in its complete stage copy (cut off after its assembly), which
// becomes its ".part" again. A stage copy with other bytes is not taken.
TEST_F(PieceDownload, PiecesLeftInTheStageAreFoundInPlace)
{
    run_.manifest.piece_size = 4;
    ManifestFile one{"one.txt", sha256_bytes("solo", 4), 4, {{sha256_bytes("solo", 4), 4, true}}};
    ManifestFile big{"d/big.bin", sha256_bytes("abcdef", 6), 6,
                     {{sha256_bytes("abcd", 4), 4, true}, {sha256_bytes("ef", 2), 2, true}}};
    ASSERT_TRUE(create_folders(parent_folder(folder.stage_path_of(big.path))));
    ASSERT_TRUE(write_file_atomic(folder.stage_path_of(one.path), "solo"));
    ASSERT_TRUE(write_file_atomic(folder.stage_path_of(big.path), "abcdef"));
    UpdatePlan& plan = fresh_plan();
    plan.stale_files = {&one, &big};
    plan.jobs = {job_for("solo", 4), job_for("abcd", 4), job_for("ef", 2)};

    ASSERT_TRUE(download_update(run_));   // nothing to fetch
    EXPECT_EQ(plan.stale_files[0].stage, StageState::Staged);
    EXPECT_EQ(plan.stale_files[1].pieces_staged, (std::vector<char>{1, 1}));
    EXPECT_EQ(update_status.bytes_done.load(), 10);

    ASSERT_TRUE(write_file_atomic(folder.stage_path_of(one.path), "SOLO"));
    EXPECT_FALSE(download_update(run_));   // must be fetched again
    EXPECT_EQ(plan.stale_files[0].stage, StageState::ToBuild);
}

}  // namespace

// The run's hold (the windowed run waits there for its splash) comes once,
// before any piece is looked at, and not again in the same run.
TEST_F(PieceDownload, TheHoldBeforePiecesComesOnceBeforeAnyPiece)
{
    PieceJob a = job_for("held", 4);
    ASSERT_TRUE(store_piece(folder, a.id, "held", 4));
    fresh_plan().jobs = {a};
    std::vector<int64_t> done_at_holds;
    run_.before_pieces = [&] { done_at_holds.push_back(update_status.bytes_done.load()); };
    ASSERT_TRUE(download_update(run_));
    ASSERT_TRUE(download_update(run_));
    EXPECT_EQ(done_at_holds, std::vector<int64_t>{0});
}
