// Whole-file operations, the log, the update status and the path helpers,
// on the real OS calls.
#include "base/log.h"
#include "base/parallel_for.h"
#include "base/paths.h"
#include "base/thread_priority.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "tests/windows/child_scenarios.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

namespace {
bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> log_messages(const std::wstring& path)
{
    std::string text = read_whole_file(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start + 13, end - start - 13));
    EXPECT_EQ(start, text.size()) << "the log ends in a partial line";
    return lines;
}
}  // namespace

TEST(WholeFile, WritesReplacesAndReads)
{
    std::wstring dir = make_temp_folder(L"wf");
    std::wstring path = join_path(dir, L"state.json");
    EXPECT_EQ(read_whole_file(path), "");
    ASSERT_TRUE(write_file_atomic(path, "old content"));
    ASSERT_TRUE(write_file_atomic(path, std::string("new\0bytes\r\n", 11)));
    EXPECT_EQ(read_whole_file(path), std::string("new\0bytes\r\n", 11));   // binary, no translation
    EXPECT_FALSE(exists(path + L".part"));
    ASSERT_TRUE(write_file_atomic(path, ""));
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(read_whole_file(path), "");
    std::string big(300000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(write_file_atomic(path, big));
    EXPECT_EQ(read_whole_file(path), big);   // more than one 64 KiB block
}

TEST(WholeFile, MissingFolderFailsAndCreatesNothing)
{
    std::wstring dir = make_temp_folder(L"wf");
    std::wstring path = join_path(join_path(dir, L"missing"), L"file.txt");
    EXPECT_FALSE(write_file_atomic(path, "data"));
    EXPECT_FALSE(exists(join_path(dir, L"missing")));
}

TEST(WholeFile, CrashBeforeTheMoveKeepsTheOldContent)
{
    std::wstring dir = make_temp_folder(L"wf");
    std::wstring path = join_path(dir, L"journal.txt");
    ASSERT_TRUE(write_file_atomic(path, "old"));
    EXPECT_EQ(run_child(L"atomic-crash", L"\"" + path + L"\" brand-new"), 3);
    EXPECT_EQ(read_whole_file(path), "old");
    EXPECT_EQ(read_whole_file(path + L".part"), "brand-new");
    // The next write replaces the leftover ".part" and succeeds.
    ASSERT_TRUE(write_file_atomic(path, "next"));
    EXPECT_EQ(read_whole_file(path), "next");
    EXPECT_FALSE(exists(path + L".part"));
}

// Wine lets a wrong close pass unnoticed, so the test build's owners stop the
// process when their close function fails: a search handle given to
// CloseHandle must end the child, FindClose must not.
TEST(Owners, AWrongCloseFunctionStopsTheTestBuild)
{
    std::wstring dir = make_temp_folder(L"owners");
    EXPECT_EQ(run_child(L"close-search", L"\"" + dir + L"\" find"), 0);
    EXPECT_EQ(run_child(L"close-search", L"\"" + dir + L"\" kernel"), 70);
}

// A second close can succeed on a value another thread has been given in
// between; the owners record every handle, so the reused value's second
// owner stops the test build (71; without the record the double close would
// end it with 70), while moves, release and adoption and out() pass.
namespace {

// The owners' verdicts are 0, 70 and 71; any other end of the child (it
// could not start, Wine ended it) says nothing about them, so such a run is
// made once more and its first end printed.
int owner_verdict(const std::wstring& args)
{
    int code = run_child(L"share-handle", args);
    if (code != 0 && code != 70 && code != 71) {
        std::printf("share-handle %ls ended with %d (%#x), run once more\n", args.c_str(), code,
                    static_cast<unsigned>(code));
        code = run_child(L"share-handle", args);
    }
    return code;
}

}  // namespace

TEST(Owners, ASecondOwnerOfOneHandleStopsTheTestBuild)
{
    EXPECT_EQ(owner_verdict(L"pass"), 0);
    EXPECT_EQ(owner_verdict(L"second"), 71);
}

// An owner given the other kind of "no handle" owns nothing: a null file
// handle closed would stop the test build.
TEST(Owners, KernelAndFileOwnersAgreeOnWhatIsNoHandle)
{
    KernelHandle kernel(INVALID_HANDLE_VALUE);
    FileHandle file(nullptr);
    EXPECT_FALSE(kernel);
    EXPECT_FALSE(file);
    EXPECT_EQ(kernel.get(), nullptr);
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

TEST(Log, LinesAreStampedCutAndNeverInterleaved)
{
    std::wstring dir = make_temp_folder(L"log");
    std::wstring path = join_path(dir, L"launcher.log");
    open_log(path);
    log_line("%s", std::string(3000, 'm').c_str());
    auto writer = [](char c) {
        for (int i = 0; i < 300; ++i) log_line("%s %d", std::string(100, c).c_str(), i);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> lines = log_messages(path);
    ASSERT_EQ(lines.size(), 601u);
    EXPECT_EQ(lines[0], std::string(2047, 'm'));
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        ASSERT_GE(line.size(), 102u);
        EXPECT_EQ(line.substr(0, 100), std::string(100, line[0])) << line;
    }
    std::string raw = read_whole_file(path);
    EXPECT_EQ(raw[2], ':');
    EXPECT_EQ(raw[8], '.');

    // A second open truncates: the log holds the current run only.
    open_log(path);
    log_line("fresh");
    EXPECT_EQ(log_messages(path), std::vector<std::string>{"fresh"});
    open_log(join_path(dir, L"closed.log"));
}

TEST(UpdateStatus, SetStatusLogsExactlyOneLine)
{
    std::wstring dir = make_temp_folder(L"status");
    std::wstring path = join_path(dir, L"launcher.log");
    open_log(path);
    reset_update_status();
    set_status(3, "downloading the update (12 MB)", false);
    StatusSnapshot s = read_status();
    EXPECT_EQ(s.phase, 3u);
    EXPECT_EQ(s.message, "downloading the update (12 MB)");
    EXPECT_FALSE(s.ready);
    EXPECT_EQ(log_messages(path), std::vector<std::string>{"[3] downloading the update (12 MB)"});
    open_log(join_path(dir, L"closed.log"));
    reset_update_status();
}

TEST(Paths, JoinFollowsFilesystemAppend)
{
    EXPECT_EQ(join_path(L"C:\\games", L"tarnwick"), L"C:\\games\\tarnwick");
    EXPECT_EQ(join_path(L"C:\\games\\", L"tarnwick"), L"C:\\games\\tarnwick");
    EXPECT_EQ(join_path(L"C:", L"tarnwick"), L"C:tarnwick");
    EXPECT_EQ(join_path(L"", L"tarnwick"), L"tarnwick");
    EXPECT_EQ(join_path(L"C:\\games", L"D:\\other"), L"D:\\other");
}

TEST(Paths, PathUnderUsesBackslashesThroughout)
{
    EXPECT_EQ(path_under(L"C:\\g", "bin/game.exe"), L"C:\\g\\bin\\game.exe");
    EXPECT_EQ(path_under(L"C:/g", "tarnwick.exe"), L"C:\\g\\tarnwick.exe");
    EXPECT_EQ(to_utf8(to_utf16("caf\xC3\xA9 \xE2\x82\xAC")), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(to_utf16(""), L"");
    EXPECT_EQ(parent_folder(L"C:\\a\\b.exe"), L"C:\\a");
}

// Windows starts every thread at normal priority: the update's background
// work must not speed up again in the helpers of a parallel loop, and the
// update thread is back at its own priority once the work is done.
TEST(ThreadPriority, ParallelHelpersKeepTheirCallersLowerPriority)
{
    const int before = GetThreadPriority(GetCurrentThread());
    std::atomic<int> wrong{0};
    std::set<DWORD> threads;
    std::mutex mutex;
    {
        BelowNormalPriority background;
        ASSERT_TRUE(for_each_index(64, 4, [&](size_t) {
            if (GetThreadPriority(GetCurrentThread()) != THREAD_PRIORITY_BELOW_NORMAL) ++wrong;
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(GetCurrentThreadId());
            Sleep(1);
            return true;
        }));
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(threads.size(), 1u);   // helpers did take part
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), before);
}
