#include "app/command_line.h"
#include "base/launcher_command_lines.h"

#include <gtest/gtest.h>

namespace {
CommandLine parse(std::vector<std::wstring> args)
{
    args.insert(args.begin(), L"tarnwick.exe");
    return parse_command_line(args);
}
}

TEST(CommandLine, FlagsAreExactAndRepeatable)
{
    CommandLine cl = parse({L"--headless", L"--no-install", L"--headless", L"--HEADLESS", L"--Verify"});
    EXPECT_TRUE(cl.headless);
    EXPECT_TRUE(cl.no_install);
    EXPECT_FALSE(cl.no_self_update);
    EXPECT_FALSE(cl.verify);
    EXPECT_TRUE(parse({L"--verify", L"--headless"}).verify);
    EXPECT_FALSE(cl.swap);
}

TEST(CommandLine, SwapNeedsTwoOperands)
{
    EXPECT_FALSE(parse({L"--swap"}).swap);
    EXPECT_FALSE(parse({L"--swap", L"C:\\old.exe"}).swap);
    CommandLine cl = parse({L"--swap", L"C:\\old launcher.exe", L"1234"});
    ASSERT_TRUE(cl.swap);
    EXPECT_EQ(cl.swap_target, L"C:\\old launcher.exe");
    EXPECT_EQ(cl.swap_pid, 1234u);
    EXPECT_FALSE(cl.swap_headless);
}

TEST(CommandLine, SwapHeadlessOnlyAfterOperands)
{
    CommandLine before = parse({L"--headless", L"--swap", L"a.exe", L"7"});
    ASSERT_TRUE(before.swap);
    EXPECT_FALSE(before.swap_headless);
    CommandLine after = parse({L"--swap", L"a.exe", L"7", L"--headless"});
    ASSERT_TRUE(after.swap);
    EXPECT_TRUE(after.swap_headless);
    EXPECT_FALSE(after.swap_verify);
}

TEST(CommandLine, VerifyRunSurvivesTheHandOver)
{
    // the hand-over line the old launcher builds is what the new one parses
    std::wstring line = handover_command_line(L"C:\\g\\tarnwick.new.exe", L"C:\\g\\tarnwick.exe", 7, true, true);
    EXPECT_EQ(line, L"\"C:\\g\\tarnwick.new.exe\" --swap \"C:\\g\\tarnwick.exe\" 7 --headless --verify");
    CommandLine cl = parse({L"--swap", L"C:\\g\\tarnwick.exe", L"7", L"--headless", L"--verify"});
    EXPECT_TRUE(cl.swap_headless && cl.swap_verify);
    EXPECT_EQ(relaunch_command_line(cl.swap_target, true, false, true), L"\"C:\\g\\tarnwick.exe\" --headless --verify");

    // The download limit survives it too.
    line = handover_command_line(L"C:\\g\\tarnwick.new.exe", L"C:\\g\\tarnwick.exe", 7, false, false, L"4194304");
    EXPECT_EQ(line, L"\"C:\\g\\tarnwick.new.exe\" --swap \"C:\\g\\tarnwick.exe\" 7 --max-rate \"4194304\"");
    cl = parse({L"--swap", L"C:\\g\\tarnwick.exe", L"7", L"--max-rate", L"4194304"});
    EXPECT_EQ(cl.swap_max_rate, L"4194304");
    EXPECT_FALSE(cl.max_rate.has_value());
}

TEST(CommandLine, RateAndFolderTakeTheNextArgument)
{
    CommandLine cl = parse({L"--max-rate", L"4M", L"--install-dir", L"D:\\Games\\tarnwick", L"--headless"});
    EXPECT_EQ(cl.max_rate, L"4M");
    EXPECT_EQ(cl.install_dir, L"D:\\Games\\tarnwick");
    EXPECT_TRUE(cl.headless);
    EXPECT_FALSE(parse({L"--install-dir"}).install_dir.has_value());
}

TEST(CommandLine, ProcessIdReadsLeadingDigits)
{
    EXPECT_EQ(parse({L"--swap", L"a.exe", L"pid"}).swap_pid, 0u);
    EXPECT_EQ(parse({L"--swap", L"a.exe", L"42abc"}).swap_pid, 42u);
    EXPECT_EQ(parse_process_id(L""), 0u);
}

TEST(CommandLine, ShotsInOrderAndLastOneIgnored)
{
    CommandLine cl = parse({L"--headless", L"--shot", L"a.png", L"--shot", L"b.png"});
    ASSERT_EQ(cl.shots.size(), 2u);
    EXPECT_EQ(cl.shots[0], L"a.png");
    EXPECT_EQ(cl.shots[1], L"b.png");
    EXPECT_TRUE(parse({L"--headless", L"--shot"}).shots.empty());
}
