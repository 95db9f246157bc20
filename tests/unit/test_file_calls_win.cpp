// The file-call seam on real files: paths past 260 characters, and the
// faults and trace that the test builds can ask for.
#include "base/file_calls.h"

#include "base/paths.h"
#include "base/file_call_hooks.h"
#include "base/whole_file.h"
#include "tests/windows/child_scenarios.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool exists(const std::wstring& path) { return file_calls::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(FileCalls, FilesMoreThan300CharactersDeepAreMadeReadMovedAndRemoved)
{
    std::wstring folder = make_temp_folder(L"long-path");
    while (folder.size() < 320) folder = join_path(folder, std::wstring(40, L'd'));
    const std::wstring file = join_path(folder, L"deep.bin");
    ASSERT_GT(file.size(), 300u);

    ASSERT_TRUE(write_new_file(file, "deep bytes", 10, true));
    EXPECT_EQ(read_whole_file(file), "deep bytes");
    EXPECT_EQ(file_size_of(file), 10);
    ASSERT_TRUE(write_file_atomic(file, "replaced"));   // ".part" beside it, then a move
    EXPECT_EQ(read_whole_file(file), "replaced");
    const std::wstring moved = join_path(folder, L"moved.bin");
    ASSERT_TRUE(file_calls::MoveFileExW(file.c_str(), moved.c_str(), 0));
    ASSERT_TRUE(file_calls::DeleteFileW(moved.c_str()));
    EXPECT_TRUE(file_calls::RemoveDirectoryW(folder.c_str()));
    EXPECT_FALSE(exists(folder));
}

TEST(FileCalls, AShortFormPathOf260CharactersIsRefusedAsWindowsWould)
{
    const std::wstring relative = std::wstring(130, L'r') + L"\\" + std::wstring(130, L'r');
    EXPECT_EQ(file_calls::GetFileAttributesW(relative.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(FileCalls, TheChosenCallsOfOneOperationAndPathFailThenTheRestSucceed)
{
    const std::wstring folder = make_temp_folder(L"fault");
    const std::wstring a = join_path(folder, L"A.txt"), b = join_path(folder, L"b.txt");
    ASSERT_TRUE(write_new_file(a, "x", 1, false));
    // moves of ...\a.txt number 2 and 3 fail (case folded, '/' as '\')
    FileFaultScope fault(L"move|\\A.TXT|2|32|2");
    EXPECT_TRUE(file_calls::MoveFileExW(a.c_str(), b.c_str(), 0));     // the 1st: through
    EXPECT_TRUE(file_calls::MoveFileExW(b.c_str(), a.c_str(), 0));     // another path: not counted
    for (int n = 2; n <= 3; ++n) {
        EXPECT_FALSE(file_calls::MoveFileExW(a.c_str(), b.c_str(), 0)) << n;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(exists(a));
    }
    EXPECT_TRUE(file_calls::MoveFileExW(a.c_str(), b.c_str(), 0));     // 4th: through
}

TEST(FileCalls, AWriteThatFailsPartWayLeavesTheOldContentAndNamesTheError)
{
    const std::wstring folder = make_temp_folder(L"fault-crc");
    const std::wstring state = join_path(folder, L"state.json");
    ASSERT_TRUE(write_file_atomic(state, "old"));
    FileFaultScope fault(L"write|\\state.json.part|1|23");
    EXPECT_FALSE(write_file_atomic(state, std::string(1000, 'n')));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(read_whole_file(state), "old");
    EXPECT_FALSE(exists(state + L".part"));   // half a file is no use to the next write
}

TEST(FileCalls, TheTraceNamesEveryCallWithTheOperationAndThePathOfItsHandle)
{
    const std::wstring folder = make_temp_folder(L"trace");
    const std::wstring trace = join_path(make_temp_folder(L"trace-out"), L"calls.txt");
    {
        FileFaultScope tracing(nullptr, trace.c_str());
        ASSERT_TRUE(write_file_atomic(join_path(folder, L"s.json"), "v"));
    }
    const std::string lines = read_whole_file(trace);
    const std::string part = to_utf8(join_path(folder, L"s.json.part"));
    for (const char* operation : {"open", "write", "flush", "move"})
        EXPECT_NE(lines.find(std::string(operation) + "\t" + part + "\n"), std::string::npos) << operation << "\n" << lines;
}
