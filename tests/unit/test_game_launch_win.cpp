// Starting the game and finding it running, with copies of the fake game.
#include "app/game_launch.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "tests/windows/child_scenarios.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::wstring fake_game() { return join_path(parent_folder(own_exe_path()), L"fake_game.exe"); }

std::wstring copy_fake_game(const std::wstring& to)
{
    create_folders(parent_folder(to));
    EXPECT_TRUE(CopyFileW(fake_game().c_str(), to.c_str(), FALSE));
    return to;
}

std::wstring upper(std::wstring s)
{
    for (wchar_t& c : s) c = static_cast<wchar_t>(towupper(c));
    return s;
}

class GameLaunch : public testing::Test {
protected:
    void SetUp() override
    {
        log_path = join_path(install_dir, L"launcher.log");
        open_log(log_path);
    }
    void TearDown() override { open_log(join_path(make_temp_folder(L"game-launch-log"), L"after.log")); }

    // Runs start_game and waits for the process; returns the fake game's
    // report (command line, current folder).
    std::string start_and_report()
    {
        KernelHandle game(start_game(install_dir, state_));
        EXPECT_TRUE(game);
        if (!game) return {};
        EXPECT_EQ(WaitForSingleObject(game.get(), 20000), WAIT_OBJECT_0);
        return read_whole_file(join_path(install_dir, L"out.txt"));
    }

    std::wstring install_dir = make_temp_folder(L"game launch");   // a blank in the folder name
    std::wstring log_path;
    InstallState state_;
};

TEST(AppPlaceholder, EveryOccurrenceIsReplacedAndTheFolderIsNotSearchedAgain)
{
    EXPECT_EQ(expand_app_placeholder("--a \"{app}\\x\" --b {app}", "C:\\G"), "--a \"C:\\G\\x\" --b C:\\G");
    EXPECT_EQ(expand_app_placeholder("{app}", "D:\\{app}"), "D:\\{app}");
    EXPECT_EQ(expand_app_placeholder("{ap}{app", "X"), "{ap}{app");
    EXPECT_EQ(expand_app_placeholder("", "X"), "");
}

TEST(AppPlaceholder, AFolderEndingInABackslashKeepsTheArgumentsApart)
{
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"D:\\Games\\", L"D:\\Games"}, {L"D:\\Games", L"D:\\Games"}, {L"D:\\", L"D:\\"}, {L"D:", L"D:\\"}};
    for (const auto& [folder, seen] : cases) {
        const std::string args =
            expand_app_placeholder("--a \"{app}\" --b \"{app}\\x.txt\" --c {app}", to_utf8(folder));
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(to_utf16("game.exe " + args).c_str(), &argc);
        ASSERT_NE(argv, nullptr);
        const std::vector<std::wstring> split(argv, argv + argc);
        LocalFree(argv);
        const std::wstring file = seen.back() == L'\\' ? seen + L"x.txt" : seen + L"\\x.txt";
        EXPECT_EQ(split, (std::vector<std::wstring>{L"game.exe", L"--a", seen, L"--b", file, L"--c", seen}))
            << args;
    }
}

TEST_F(GameLaunch, StartsRecordedExeWithExpandedArgumentsInInstallFolder)
{
    copy_fake_game(join_path(install_dir, L"bin\\game.exe"));
    state_.run_exe = "bin/game.exe";
    state_.run_args = "--out \"{app}\\out.txt\" --tag {app}";
    std::string dir = to_utf8(install_dir);

    std::string report = start_and_report();
    std::string command = "\"" + dir + "\\bin\\game.exe\" --out \"" + dir + "\\out.txt\" --tag " + dir;
    EXPECT_EQ(report, command + "\n" + dir + "\n");
    EXPECT_NE(read_whole_file(log_path).find("started the game: " + command), std::string::npos);
}

TEST_F(GameLaunch, EmptyRunExeStartsTarnwickExeWithTrailingBlank)
{
    copy_fake_game(join_path(install_dir, L"tarnwick.exe"));
    SetEnvironmentVariableW(L"FAKE_GAME_OUT", join_path(install_dir, L"out.txt").c_str());
    std::string report = start_and_report();
    SetEnvironmentVariableW(L"FAKE_GAME_OUT", nullptr);
    const std::string expected = std::string(1, '"').append(to_utf8(install_dir)).append("\\tarnwick.exe\" ");
    EXPECT_EQ(report.substr(0, report.find('\n')), expected);
}

TEST_F(GameLaunch, MissingExeIsLoggedWithTheSystemError)
{
    state_.run_exe = "nothing.exe";
    EXPECT_FALSE(start_game(install_dir, state_));
    EXPECT_NE(read_whole_file(log_path).find("could not start " + to_utf8(install_dir) + "\\nothing.exe (error 2)"),
              std::string::npos);
}

TEST_F(GameLaunch, RunningMeansSameNameAndSameFolderIgnoringCase)
{
    std::wstring here = copy_fake_game(join_path(install_dir, L"a\\Game.exe"));
    std::wstring elsewhere = copy_fake_game(join_path(install_dir, L"b\\Game.exe"));
    std::wstring marker = join_path(install_dir, L"running");
    ASSERT_TRUE(write_file_atomic(marker, "x"));
    EXPECT_FALSE(game_running(here));

    std::wstring cmd = L"\"" + here + L"\" --until-gone \"" + marker + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = game_running(here);
        if (!seen) Sleep(50);
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(game_running(upper(here)));
    EXPECT_FALSE(game_running(elsewhere));   // same file name, other folder
    EXPECT_FALSE(game_running(join_path(install_dir, L"a\\Other.exe")));

    DeleteFileW(marker.c_str());
    EXPECT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    EXPECT_FALSE(game_running(here));
}

}  // namespace
