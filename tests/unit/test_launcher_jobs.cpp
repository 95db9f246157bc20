#include "update/launcher_jobs.h"

#include <gtest/gtest.h>

// A launcher made of two equal blocks and a short tail: the repeated block is
// fetched once, the list keeps the file's order even though the tail is the
// larger transfer, and the tail's raw size is what is left of the file.
TEST(LauncherJobs, FileOrderOneJobPerIdTailSizedFromTheFile)
{
    ManifestFile launcher;
    launcher.size = 230;
    const std::string a(64, 'a'), c(64, 'c');
    launcher.pieces = {{a, 60, false}, {a, 60, false}, {c, 80, true}};

    std::vector<PieceJob> jobs = launcher_piece_jobs(launcher, 100);

    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].id, a);
    EXPECT_EQ(jobs[0].raw_size, 100);
    EXPECT_EQ(jobs[1].id, c);
    EXPECT_EQ(jobs[1].raw_size, 30);
    EXPECT_EQ(jobs[1].transfer_size, 80);
    EXPECT_TRUE(jobs[1].stored);
}
