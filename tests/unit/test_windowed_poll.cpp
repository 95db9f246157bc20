#include "app/windowed_poll.h"
#include "base/update_status.h"

#include <gtest/gtest.h>

TEST(WindowedPoll, DownloadOfAnUpdateShowsLabelNumbersAndLaterTheTimeLeft)
{
    WindowedPoll poll(true);
    SplashView v = poll.poll(PHASE_DOWNLOADING, 1.2e9, 9.8e9, 5000);
    ASSERT_TRUE(v.progress_known);
    EXPECT_FLOAT_EQ(v.progress, static_cast<float>(1.2 / 9.8) * 0.9f);
    EXPECT_EQ(v.text, "updating... 1.2 / 9.8 gb");
    poll.poll(PHASE_DOWNLOADING, 1.21e9, 9.8e9, 6000);   // 10 MB/s
    EXPECT_EQ(poll.poll(PHASE_DOWNLOADING, 1.3e9, 9.8e9, 14999).text, "updating... 1.3 / 9.8 gb");
    // Ten seconds after the first sample: 8.5e9 bytes left at 10 MB/s.
    EXPECT_EQ(poll.poll(PHASE_DOWNLOADING, 1.3e9, 9.8e9, 15000).text, "updating... 1.3 / 9.8 gb - 14 min");
}

TEST(WindowedPoll, FirstInstallShowsTheNumbersAlone)
{
    WindowedPoll poll(false);
    EXPECT_EQ(poll.poll(PHASE_DOWNLOADING, 1.2e9, 9.8e9, 5000).text, "1.2 / 9.8 gb");
    EXPECT_EQ(poll.poll(PHASE_INSTALLING, 1, 2, 5030).text, "");
}

TEST(WindowedPoll, OtherPhasesKeepTheBarAndShowOnlyTheLabel)
{
    WindowedPoll poll(true);
    SplashView install = poll.poll(PHASE_INSTALLING, 1, 2, 0);
    EXPECT_FLOAT_EQ(install.progress, 0.95f);
    EXPECT_EQ(install.text, "updating...");
    SplashView unknown_size = poll.poll(PHASE_DOWNLOADING, 5, 0, 30);
    EXPECT_FALSE(unknown_size.progress_known);
    EXPECT_EQ(unknown_size.text, "updating...");
    EXPECT_EQ(poll.poll(PHASE_WAITING_FOR_GAME, 1, 1, 60).text, "updating...");
    SplashView checking = poll.poll(PHASE_CHECKING, 1, 1, 90);
    EXPECT_FALSE(checking.progress_known);
    EXPECT_EQ(checking.text, "");
}

TEST(WindowedPoll, LongHashingOfInstalledFilesIsAPassOfItsOwn)
{
    WindowedPoll poll(true);
    EXPECT_FALSE(poll.poll(PHASE_COMPARING, 0, 0, 0).progress_known);      // nothing to hash
    EXPECT_FALSE(poll.poll(PHASE_COMPARING, 1e8, 4e9, 100).progress_known);  // too short to show
    SplashView v = poll.poll(PHASE_COMPARING, 2e9, 4e9, 2100);
    ASSERT_TRUE(v.progress_known);
    EXPECT_FLOAT_EQ(v.progress, 0.5f);
    EXPECT_EQ(v.text, "checking... 2.0 / 4.0 gb");
    // a new total in the same phase (copying reused pieces) starts over
    EXPECT_FALSE(poll.poll(PHASE_COMPARING, 0, 1e9, 2130).progress_known);
}

TEST(WindowedPoll, EndOfTheRun)
{
    EXPECT_EQ(windowed_end(true, PHASE_READY), WindowedEnd::start_game);
    EXPECT_EQ(windowed_end(true, PHASE_OFFLINE), WindowedEnd::start_game);
    EXPECT_EQ(windowed_end(false, PHASE_LAUNCHER_UPDATE), WindowedEnd::quiet_exit);
    EXPECT_EQ(windowed_end(false, PHASE_FAILED), WindowedEnd::warning);
    EXPECT_EQ(warning_text(""), "tarnwick could not be updated");
    EXPECT_EQ(warning_text("not enough disk space"), "not enough disk space");
}
