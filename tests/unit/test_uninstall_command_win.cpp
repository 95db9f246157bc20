#include "app/command_line.h"
#include "base/launcher_command_lines.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

// The entry's uninstall commands, split by the system's own splitter and read
// back as the launcher reads its command line, name the folder exactly: a
// drive's root and a trailing separator included, which would otherwise
// escape the closing quote.
TEST(UninstallCommand, TheFolderComesBackWholeThroughTheSystemsSplitter)
{
    for (const wchar_t* folder : {L"D:\\", L"D:\\Games\\tarnwick", L"C:\\Users\\A B\\tarnwick\\\\"}) {
        for (bool quiet : {false, true}) {
            const std::wstring line = uninstall_command_line(L"C:\\Users\\A B\\launcher\\tarnwick.exe", folder, quiet);
            int argc = 0;
            LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
            ASSERT_NE(argv, nullptr);
            std::vector<std::wstring> args(argv, argv + argc);
            LocalFree(argv);
            ASSERT_EQ(args.front(), L"C:\\Users\\A B\\launcher\\tarnwick.exe") << line;
            const CommandLine cl = parse_command_line(args);
            EXPECT_TRUE(cl.uninstall) << line;
            EXPECT_EQ(cl.headless, quiet) << line;
            ASSERT_TRUE(cl.install_dir.has_value()) << line;
            EXPECT_EQ(*cl.install_dir, folder) << line;
        }
    }
}
