#include "tests/windows/child_scenarios.h"

#include "app/install_lock.h"
#include "base/file_call_hooks.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "update/install_step.h"
#include "update/piece_assembly.h"
#include "update/update_run.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void die_now(const std::wstring&)
{
    TerminateProcess(GetCurrentProcess(), 3);
}

// Writes argv[1] (UTF-8 text) to argv[0] with write_file_atomic and dies
// after the ".part" file is on disk, before the move.
int atomic_write_then_crash(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    before_atomic_move_hook = die_now;
    write_file_atomic(argv[0], to_utf8(argv[1]));
    return 0;   // not reached
}

// Opens a search on the folder argv[0] and lets the owner named by argv[1]
// close it: "find" (FindClose, right) or "kernel" (CloseHandle, wrong).
int close_search_handle(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileExW(join_path(argv[0], L"*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return 4;
    if (std::wstring(argv[1]) == L"find")
        FindHandle owner(search);
    else
        FileHandle owner(search);
    return 0;
}

// Passes handles between owners as the launcher does (moves, a vector that
// grows, release and adoption, a handle returned through a pointer) and
// returns 0; with argv[0] "second" it then gives one handle a second owner.
int share_handle(int argc, wchar_t** argv)
{
    if (argc < 1) return 2;
    KernelHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!first) return 4;
    std::vector<KernelHandle> events;
    events.push_back(std::move(first));
    for (int i = 0; i < 40; ++i) events.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    KernelHandle adopted(events[0].release());
    BcryptAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.out(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return 5;
    BcryptAlgorithm kept(std::move(algorithm));
    if (std::wstring(argv[0]) == L"second") KernelHandle thief(adopted.get());
    return 0;
}

// Takes the install lock of the folder argv[0] at once, then ends as
// argv[1] says: "end" (returns 0), "die" (killed, exit code 3). 1 when the
// lock was held by another process.
int take_install_lock_then(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    if (!take_install_lock(argv[0], 0)) return 1;
    if (std::wstring(argv[1]) == L"die") TerminateProcess(GetCurrentProcess(), 3);
    return 0;
}

// Hands the assembly a file marked staged with one of its two pieces not
// staged, in the install folder argv[0]; with argv[1] "sound" every piece is
// staged. The test builds stop on the broken rule (72).
int assemble_half_staged(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    UpdateRun run{InstallFolder(argv[0])};
    run.manifest.piece_size = 4;
    ManifestFile file{"half.bin", std::string(64, '0'), 6, {{std::string(64, '1'), 4, true}, {std::string(64, '2'), 2, true}}};
    run.plan.stale_files = {&file};
    run.plan.stale_files[0].stage = StageState::Staged;
    run.plan.stale_files[0].pieces_staged = {1, std::wstring(argv[1]) == L"sound"};
    return assemble_stale_files(run) ? 0 : 1;
}

// Installs a staged file of three bytes into the install folder argv[0];
// the manifest says three bytes with argv[1] "sound", four otherwise. The
// test builds stop rather than write a state that records the four (72).
int install_other_size(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    UpdateRun run{InstallFolder(argv[0])};
    run.manifest.files = {ManifestFile{"a.txt", std::string(64, 'a'), std::wstring(argv[1]) == L"sound" ? 3 : 4, {}}};
    run.plan.stale_files = {&run.manifest.files[0]};
    const std::wstring staged = run.folder.stage_path_of("a.txt");
    if (!create_folders(parent_folder(staged)) || !write_file_atomic(staged, "abc")) return 3;
    return install_update(run) ? 0 : 1;
}

}  // namespace

int run_child_scenario(const std::wstring& name, int argc, wchar_t** argv)
{
    if (name == L"atomic-crash") return atomic_write_then_crash(argc, argv);
    if (name == L"close-search") return close_search_handle(argc, argv);
    if (name == L"share-handle") return share_handle(argc, argv);
    if (name == L"install-lock") return take_install_lock_then(argc, argv);
    if (name == L"half-staged") return assemble_half_staged(argc, argv);
    if (name == L"other-size") return install_other_size(argc, argv);
    return 99;
}

int run_child(const std::wstring& name, const std::wstring& args)
{
    std::wstring cmd = L"\"" + own_exe_path() + L"\" --child " + name + L" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

std::wstring make_temp_folder(const std::wstring& tag)
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = std::wstring(temp) + L"tw-" + tag + L"-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(counter++);
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path), ec);
    create_folders(path);
    return path;
}

FileFaultScope::FileFaultScope(const wchar_t* fault, const wchar_t* trace)
{
    SetEnvironmentVariableW(L"TW_TEST_FILE_FAULT", fault);
    SetEnvironmentVariableW(L"TW_TEST_FILE_TRACE", trace);
    reread_file_faults();
}

FileFaultScope::~FileFaultScope()
{
    SetEnvironmentVariableW(L"TW_TEST_FILE_FAULT", nullptr);
    SetEnvironmentVariableW(L"TW_TEST_FILE_TRACE", nullptr);
    reread_file_faults();
}
