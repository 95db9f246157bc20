// The launcher's hold on its own files: the install folder's lock, its own
// path however long, and the copy of the running file through its handle.
#include "app/install_lock.h"
#include "base/file_copy.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "tests/windows/child_scenarios.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring without_long_prefix(const std::wstring& path)
{
    return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

}  // namespace

TEST(InstallLock, IsAFileInTheInstallFolderHeldUntilItsLauncherEndsOrIsKilled)
{
    const std::wstring folder = make_temp_folder(L"lock");
    EXPECT_EQ(run_child(L"install-lock", quoted(folder) + L" die"), 3);
    EXPECT_EQ(run_child(L"install-lock", quoted(folder) + L" end"), 0);   // the killed one let go
    EXPECT_FALSE(exists(install_lock_path(folder)));                     // and left nothing behind

    ASSERT_TRUE(take_install_lock(folder, 0));
    EXPECT_EQ(parent_folder(install_lock_path(folder)), folder);
    EXPECT_TRUE(exists(install_lock_path(folder)));
    EXPECT_EQ(run_child(L"install-lock", quoted(folder) + L" end"), 1);   // another launcher: held
    // This process lets go of it by taking another folder's lock.
    ASSERT_TRUE(take_install_lock(make_temp_folder(L"lock-other"), 0));
    EXPECT_EQ(run_child(L"install-lock", quoted(folder) + L" end"), 0);
}

TEST(OwnExePath, IsWholePastFiveHundredCharacters)
{
    // Wine starts no program from so deep a folder, but loads a DLL from one;
    // the executable's path is read the same way.
    std::wstring deep = L"\\\\?\\" + make_temp_folder(L"own-path");
    while (deep.size() < 700) deep += L"\\a-folder-name-of-forty-characters-xxxxxx";
    std::error_code error;
    std::filesystem::create_directories(deep, error);
    ASSERT_TRUE(std::filesystem::is_directory(deep, error)) << error.message();
    const std::wstring copy = deep + L"\\planted_dll.dll";
    ASSERT_TRUE(CopyFileW(join_path(parent_folder(own_exe_path()), L"planted_dll.dll").c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(module, nullptr) << GetLastError();
    const std::wstring seen = module_path(module);
    FreeLibrary(module);
    EXPECT_GT(seen.size(), 700u);
    EXPECT_EQ(CompareStringOrdinal(without_long_prefix(seen).c_str(), -1, without_long_prefix(copy).c_str(), -1,
                                   TRUE),
              CSTR_EQUAL)
        << to_utf8(seen);
}

TEST(FileCopy, CopiesTheFileItsHandleHoldsWhileNothingCanTakeItsPlace)
{
    const std::wstring folder = make_temp_folder(L"copy-held");
    const std::wstring running = join_path(folder, L"tarnwick.exe");
    const std::wstring target = join_path(folder, L"installed.exe");
    std::string bytes(3 << 20, '\0');   // more than one read
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 4099);
    ASSERT_TRUE(write_file_atomic(running, bytes));
    ASSERT_TRUE(write_file_atomic(target, "an older launcher"));

    FileHandle held(CreateFileW(running.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    char first[100];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(held.get(), first, sizeof first, &got, nullptr));   // not at the start any more
    // Held this way, the running file can be neither replaced nor moved away.
    EXPECT_FALSE(MoveFileExW(target.c_str(), running.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(MoveFileExW(running.c_str(), join_path(folder, L"moved.exe").c_str(), 0));

    ASSERT_TRUE(copy_open_file_replacing(held.get(), target));
    EXPECT_EQ(read_whole_file(target), bytes);
    EXPECT_FALSE(exists(target + L".part"));
}
