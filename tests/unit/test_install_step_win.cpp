// The journaled install and its replay, on real files in a temporary install
// folder.
#include "update/install_step.h"

#include "app/game_launch.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/update_status.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "formats/install_state.h"
#include "tests/windows/child_scenarios.h"
#include "update/deletion_gate.h"
#include "update/update_folder.h"
#include "update/update_run.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

const std::string HASH_A(64, 'a');
const std::string HASH_B(64, 'b');
const std::string HASH_C(64, 'c');

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void put(const std::wstring& path, const std::string& bytes)
{
    create_folders(parent_folder(path));
    ASSERT_TRUE(write_file_atomic(path, bytes));
}

std::string content(const std::wstring& path) { return read_whole_file(path); }

ManifestFile manifest_file(const std::string& path, const std::string& hash, const std::string& bytes)
{
    ManifestFile f;
    f.path = path;
    f.hash = hash;
    f.size = static_cast<int64_t>(bytes.size());
    return f;
}

class InstallStep : public testing::Test {
protected:
    void SetUp() override
    {
        reset_update_status();
        log_path = join_path(make_temp_folder(L"install-log"), L"test.log");
        open_log(log_path);
    }
    void TearDown() override { open_log(join_path(parent_folder(log_path), L"after.log")); }

    std::string log_text() { return content(log_path); }

    // The install step of a run whose plan is `plan`.
    bool install(const UpdatePlan& plan)
    {
        run_.plan = plan;
        return install_update(run_);
    }

    // Release "1": keep.txt, change.txt and gone.txt installed and recorded.
    void install_release_one()
    {
        put(folder.place_of("keep.txt"), "keep");
        put(folder.place_of("change.txt"), "change v1");
        put(folder.place_of("gone.txt"), "gone v1");
        InstallState state;
        state.version = "1";
        state.run_exe = "game.exe";
        state.files["keep.txt"] = {4, 1, HASH_A};
        state.files["change.txt"] = {9, 1, HASH_A};
        state.files["gone.txt"] = {7, 1, HASH_A};
        ASSERT_TRUE(write_install_state(folder.root(), state));
        run_.state = state;
    }

    // Release "2": keep.txt as it was, change.txt and sub/new.dat staged,
    // gone.txt dropped.
    UpdatePlan stage_release_two()
    {
        Manifest& m = run_.manifest;
        m.version = "2";
        m.run_exe = "game.exe";
        m.run_args = "--two";
        m.files = {manifest_file("keep.txt", HASH_A, "keep"), manifest_file("change.txt", HASH_B, "change v2"),
                   manifest_file("sub/new.dat", HASH_C, "new v2")};
        put(folder.stage_path_of("change.txt"), "change v2");
        put(folder.stage_path_of("sub/new.dat"), "new v2");
        UpdatePlan plan;
        plan.stale_files = {&m.files[1], &m.files[2]};
        plan.paths_to_remove = {"gone.txt"};
        return plan;
    }

    std::wstring log_path;
    InstallFolder folder{make_temp_folder(L"install")};
    UpdateRun run_{folder};
};

TEST_F(InstallStep, ReplayRestoresSavedCopiesAndDeletesNewPaths)
{
    put(folder.place_of("a/b.txt"), "new b");
    put(folder.old_path_of("a/b.txt"), "old b");
    put(folder.place_of("new.dat"), "new file");
    put(folder.place_of("kept.txt"), "never moved aside");
    put(folder.old_path_of("c.txt"), "old c");   // c.txt itself was moved aside and is missing
    std::wstring outside =
        join_path(parent_folder(folder.root()), L"outside-" + std::to_wstring(GetCurrentProcessId()));
    put(outside, "not ours");
    put(folder.journal_path(), "1 a/b.txt\n0 new.dat\n1 \n1 kept.txt\n0 ../" +
                                   to_utf8(outside.substr(outside.rfind(L'\\') + 1)) +
                            "\n0 " + to_utf8(outside) + "\n1 c.txt");

    replay_journal(folder);

    EXPECT_EQ(content(folder.place_of("a/b.txt")), "old b");
    EXPECT_FALSE(exists(folder.old_path_of("a/b.txt")));
    EXPECT_FALSE(exists(folder.place_of("new.dat")));
    // The new files go back into the stage, for the next run to find.
    EXPECT_EQ(content(folder.stage_path_of("new.dat")), "new file");
    EXPECT_EQ(content(folder.stage_path_of("a/b.txt")), "new b");
    EXPECT_EQ(content(folder.place_of("kept.txt")), "never moved aside");
    EXPECT_EQ(content(folder.place_of("c.txt")), "old c");   // last line without a line feed
    EXPECT_EQ(content(outside), "not ours");          // only plain relative paths are acted on
    EXPECT_FALSE(exists(folder.journal_path()));
    std::string log = log_text();
    EXPECT_NE(log.find("journal found: an update was cut off -- putting the old files back"), std::string::npos);
    EXPECT_NE(log.find("rolled back (2 files restored)"), std::string::npos) << log;
    DeleteFileW(outside.c_str());
}

TEST_F(InstallStep, ReplayWithoutJournalOrWithAnEmptyOneDoesNothing)
{
    put(folder.place_of("x.txt"), "x");
    replay_journal(folder);
    put(folder.journal_path(), "");
    replay_journal(folder);
    EXPECT_FALSE(exists(folder.journal_path()));   // an empty journal names nothing: it is removed
    EXPECT_EQ(log_text().find("journal found"), std::string::npos);

    // A second replay of the same journal changes nothing more: a crash in
    // the middle of a replay is undone by replaying again.
    put(folder.place_of("a.txt"), "new a");
    put(folder.old_path_of("a.txt"), "old a");
    put(folder.journal_path(), "1 a.txt\n0 n.txt\n");
    replay_journal(folder);
    put(folder.journal_path(), "1 a.txt\n0 n.txt\n");
    replay_journal(folder);
    EXPECT_EQ(content(folder.place_of("a.txt")), "old a");
    EXPECT_NE(log_text().find("rolled back (0 files restored)"), std::string::npos);
}

TEST_F(InstallStep, SuccessfulInstallCommitsAndLeavesNoUpdateFolder)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    put(folder.old_path_of("sub/new.dat"), "stale copy from an earlier run");
    put(folder.pieces_folder() + L"\\0123", "cached piece");

    ASSERT_TRUE(install(plan));

    EXPECT_EQ(content(folder.place_of("keep.txt")), "keep");
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v2");
    EXPECT_EQ(content(folder.place_of("sub/new.dat")), "new v2");
    EXPECT_FALSE(exists(folder.place_of("gone.txt")));
    EXPECT_FALSE(exists(folder.update_folder()));
    EXPECT_EQ(read_status().phase, PHASE_INSTALLING);
    EXPECT_EQ(read_status().message, "installing");

    InstallState on_disk = read_install_state(folder.root());
    EXPECT_EQ(on_disk.version, "2");
    EXPECT_EQ(on_disk.run_args, "--two");
    EXPECT_EQ(on_disk.files.count("gone.txt"), 0u);
    ASSERT_EQ(on_disk.files.count("sub/new.dat"), 1u);
    const InstalledFile& rec = on_disk.files["sub/new.dat"];
    EXPECT_EQ(rec.size, 6);
    EXPECT_EQ(rec.hash, HASH_C);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(folder.place_of("sub/new.dat").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(rec.write_time, (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                  data.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(on_disk.files["keep.txt"].hash, HASH_A);   // untouched records stay
    EXPECT_NE(log_text().find("updated to 2"), std::string::npos);
}

// The state file written at the commit is looked at: one that cannot be
// written leaves the new files in place, but the run is no "updated to".
TEST_F(InstallStep, AStateFileThatCannotBeWrittenAtTheCommitIsNoUpdate)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    {
        FileFaultScope full(L"open|\\.twinstall.json.part|1|112|0");
        EXPECT_FALSE(install(plan));
    }
    EXPECT_EQ(read_status().phase, PHASE_FAILED);
    EXPECT_EQ(read_status().message, "could not write to the install folder");
    EXPECT_EQ(log_text().find("updated to"), std::string::npos) << log_text();
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v2");
    EXPECT_FALSE(exists(folder.journal_path()));
    EXPECT_EQ(read_install_state(folder.root()).version, "1");
}

TEST_F(InstallStep, LockedFileRollsEverythingBack)
{
    install_release_one();
    Manifest& m = run_.manifest;
    m.version = "2";
    m.files = {manifest_file("a.txt", HASH_B, "a v2"), manifest_file("change.txt", HASH_B, "change v2"),
               manifest_file("z.txt", HASH_B, "z v2")};
    put(folder.place_of("a.txt"), "a v1");
    put(folder.stage_path_of("a.txt"), "a v2");
    put(folder.stage_path_of("change.txt"), "change v2");
    put(folder.stage_path_of("z.txt"), "z v2");
    UpdatePlan plan;
    plan.stale_files = {&m.files[0], &m.files[1], &m.files[2]};
    plan.paths_to_remove = {"gone.txt", "keep.txt"};
    run_.state.files["a.txt"] = {0, 0, HASH_B};   // in memory only
    // Copies left in "old" by an earlier run that was cut off: the rollback
    // must not "restore" them over files this install never moved aside.
    put(folder.old_path_of("gone.txt"), "gone v0");
    put(folder.old_path_of("keep.txt"), "keep v0");

    FileHandle lock(CreateFileW(folder.place_of("change.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);
    EXPECT_FALSE(install(plan));
    lock.reset();

    EXPECT_EQ(content(folder.place_of("a.txt")), "a v1");
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v1");
    EXPECT_FALSE(exists(folder.place_of("z.txt")));
    EXPECT_EQ(content(folder.place_of("gone.txt")), "gone v1");
    EXPECT_EQ(content(folder.place_of("keep.txt")), "keep");
    EXPECT_FALSE(exists(folder.journal_path()));
    EXPECT_TRUE(exists(folder.stage_path_of("z.txt")));   // the cached work stays for the next run
    StatusSnapshot s = read_status();
    EXPECT_EQ(s.phase, PHASE_FAILED);
    EXPECT_EQ(s.message, "the update could not be installed -- the game was left as it was");
    // The in-memory state is the file's again.
    EXPECT_EQ(run_.state.version, "1");
    EXPECT_EQ(run_.state.files.count("a.txt"), 0u);
    EXPECT_EQ(run_.state.files.count("gone.txt"), 1u);
    std::string log = log_text();
    EXPECT_NE(log.find("could not put change.txt in place (error 32)"), std::string::npos) << log;
    EXPECT_NE(log.find("rolled back (1 files restored)"), std::string::npos) << log;
}

// Many files are moved in on several threads; one that cannot be moved still
// rolls every other one back, whichever thread got how far.
TEST_F(InstallStep, LockedFileAmongManyRollsEverythingBack)
{
    Manifest& m = run_.manifest;
    m.version = "2";
    for (int i = 0; i < 100; ++i) {
        std::string path = "many/f" + std::to_string(i) + ".txt";
        put(folder.place_of(path), "v1 " + path);
        put(folder.stage_path_of(path), "v2 " + path);
        m.files.push_back(manifest_file(path, HASH_B, "v2 " + path));
    }
    UpdatePlan plan;
    for (const ManifestFile& f : m.files) plan.stale_files.push_back(&f);
    FileHandle lock(CreateFileW(folder.place_of("many/f37.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);

    EXPECT_FALSE(install(plan));
    lock.reset();
    for (const ManifestFile& f : m.files) EXPECT_EQ(content(folder.place_of(f.path)), "v1 " + f.path);
    EXPECT_FALSE(exists(folder.journal_path()));
    EXPECT_NE(log_text().find("could not put many/f37.txt in place (error 32)"), std::string::npos);
}

TEST_F(InstallStep, RemovalOnlyInstallDropsRecordOfAlreadyDeletedFile)
{
    install_release_one();
    DeleteFileW(folder.place_of("gone.txt").c_str());
    Manifest& m = run_.manifest;
    m.version = "1b";
    m.files = {manifest_file("keep.txt", HASH_A, "keep"), manifest_file("change.txt", HASH_A, "change v1")};
    UpdatePlan plan;
    plan.paths_to_remove = {"gone.txt"};

    ASSERT_TRUE(install(plan));
    InstallState on_disk = read_install_state(folder.root());
    EXPECT_EQ(on_disk.version, "1b");
    EXPECT_EQ(on_disk.files.count("gone.txt"), 0u);
    EXPECT_EQ(on_disk.files.count("keep.txt"), 1u);
    EXPECT_FALSE(exists(folder.update_folder()));
}

TEST_F(InstallStep, RenameThatOnlyChangesCaseKeepsTheFile)
{
    // Recorded as "Data.pak", listed as "data.pak" with the same bytes: the
    // planning finds the file current and asks to remove the old spelling,
    // which on a case-insensitive file system is the same file.
    put(folder.place_of("Data.pak"), "pak");
    run_.state.files["Data.pak"] = {3, 1, HASH_A};
    Manifest& m = run_.manifest;
    m.version = "2";
    m.files = {manifest_file("data.pak", HASH_A, "pak")};
    UpdatePlan plan;
    plan.paths_to_remove = {"Data.pak"};

    ASSERT_TRUE(install(plan));
    EXPECT_EQ(content(folder.place_of("data.pak")), "pak");
    EXPECT_EQ(read_install_state(folder.root()).files.count("Data.pak"), 0u);
}

TEST_F(InstallStep, UnwritableJournalFailsBeforeTouchingAnything)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    create_folders(folder.journal_path());   // a folder where the journal goes: the move over it fails

    EXPECT_FALSE(install(plan));
    EXPECT_EQ(read_status().phase, PHASE_FAILED);
    EXPECT_EQ(read_status().message, "could not write to the install folder");
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v1");
    EXPECT_EQ(content(folder.place_of("gone.txt")), "gone v1");
    EXPECT_FALSE(exists(folder.place_of("sub/new.dat")));
}

// A folder the install folder lacks is moved in whole when its stage copy
// holds exactly the new files; one with anything else in it (a ".part" left
// by an earlier run) is installed file by file, without the stray file.
TEST_F(InstallStep, NewFoldersTakeOnlyTheNewFilesIn)
{
    Manifest& m = run_.manifest;
    m.version = "1";
    m.files = {manifest_file("new/a.txt", HASH_A, "ab"), manifest_file("new/deep/b.txt", HASH_B, "ab"),
               manifest_file("mixed/c.txt", HASH_C, "c")};
    for (const ManifestFile& f : m.files) put(folder.stage_path_of(f.path), f.path == "mixed/c.txt" ? "c" : "ab");
    put(folder.stage_path_of("mixed/stray.bin.part"), "left by an earlier run");
    UpdatePlan plan;
    plan.stale_files = {&m.files[0], &m.files[1], &m.files[2]};

    ASSERT_TRUE(install(plan));
    EXPECT_EQ(content(folder.place_of("new/deep/b.txt")), "ab");
    EXPECT_EQ(content(folder.place_of("mixed/c.txt")), "c");
    EXPECT_FALSE(exists(folder.place_of("mixed/stray.bin.part")));
    EXPECT_EQ(read_install_state(folder.root()).files.size(), 3u);
    EXPECT_FALSE(exists(folder.update_folder()));
}

TEST_F(InstallStep, MoveAsideOfNothingSucceedsAndReplacesAnOlderCopy)
{
    unsigned long error = 0;
    EXPECT_TRUE(move_into_old(folder, "no/such/file.txt", error));
    EXPECT_FALSE(exists(folder.old_path_of("no/such/file.txt")));
    put(folder.place_of("f.txt"), "current");
    put(folder.old_path_of("f.txt"), "older");
    EXPECT_TRUE(move_into_old(folder, "f.txt", error));
    EXPECT_FALSE(exists(folder.place_of("f.txt")));
    EXPECT_EQ(content(folder.old_path_of("f.txt")), "current");
}

// A state that records a file at a size the disk does not hold would vouch
// for bytes that are not there: the test builds stop before writing it.
TEST(InstallRule, AStateVouchingForOtherBytesStopsTheTestBuild)
{
    EXPECT_EQ(run_child(L"other-size", L"\"" + make_temp_folder(L"other-size") + L"\" sound"), 0);
    EXPECT_EQ(run_child(L"other-size", L"\"" + make_temp_folder(L"other-size") + L"\" long"), 72);
}

class InstallWaitsForGame : public InstallStep {
protected:
    // A copy of the fake game as the install's game.exe, running until the
    // marker file is deleted.
    KernelHandle start_fake_game(const std::wstring& marker)
    {
        std::wstring fake = join_path(parent_folder(own_exe_path()), L"fake_game.exe");
        std::wstring exe = folder.place_of("game.exe");
        EXPECT_TRUE(CopyFileW(fake.c_str(), exe.c_str(), FALSE));
        put(marker, "x");
        std::wstring cmd = L"\"" + exe + L"\" --until-gone \"" + marker + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        KernelHandle thread(pi.hThread);
        for (int i = 0; i < 100 && !game_running_now(); ++i) Sleep(50);
        return KernelHandle(pi.hProcess);
    }
    bool game_running_now() { return game_running(folder.place_of("game.exe")); }
};

TEST_F(InstallWaitsForGame, WaitsWhileTheGameRunsThenInstalls)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    std::wstring marker = join_path(parent_folder(log_path), L"game-runs");
    KernelHandle game = start_fake_game(marker);
    ASSERT_TRUE(game_running_now());

    std::thread closer([&] {
        Sleep(2300);
        DeleteFileW(marker.c_str());
    });
    ASSERT_TRUE(install(plan));
    closer.join();
    WaitForSingleObject(game.get(), 10000);

    std::string log = log_text();
    size_t waits = 0;
    for (size_t at = log.find("[7] close tarnwick to finish the update"); at != std::string::npos;
         at = log.find("[7] close tarnwick to finish the update", at + 1))
        ++waits;
    EXPECT_GE(waits, 2u);
    EXPECT_LE(waits, 4u);
    EXPECT_LT(log.find("[7]"), log.find("[4] installing"));
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v2");
}

TEST_F(InstallWaitsForGame, StopWhileWaitingTouchesNothing)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    std::wstring marker = join_path(parent_folder(log_path), L"game-runs");
    KernelHandle game = start_fake_game(marker);

    std::thread stopper([] {
        Sleep(1200);
        update_status.stop_requested = true;
    });
    EXPECT_FALSE(install(plan));
    stopper.join();
    DeleteFileW(marker.c_str());
    WaitForSingleObject(game.get(), 10000);

    EXPECT_EQ(read_status().phase, PHASE_WAITING_FOR_GAME);
    EXPECT_FALSE(exists(folder.journal_path()));
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v1");
    EXPECT_TRUE(exists(folder.stage_path_of("change.txt")));
}

}  // namespace

TEST_F(InstallStep, LeftoverUpdateFolderIsRemovedOnlyWithoutAJournal)
{
    put(folder.piece_cache_path(HASH_A), "piece");
    put(folder.old_path_of("a/b.txt"), "old copy");
    put(folder.journal_path(), "1 a/b.txt\n");
    remove_update_folder(folder);   // a journal still to be replayed keeps everything
    EXPECT_TRUE(exists(folder.old_path_of("a/b.txt")));
    DeleteFileW(folder.journal_path().c_str());
    remove_update_folder(folder);
    EXPECT_FALSE(exists(folder.update_folder()));
    remove_update_folder(folder);   // nothing there: nothing to do
}

namespace {

// Holds a file open without sharing, as a scanner does: once `after` exists,
// from the moment a file appears at `path` until released.
class Scanner {
public:
    Scanner(std::wstring path, std::wstring after)
        : path_(std::move(path)), after_(std::move(after)), thread_([this] { run(); }) {}
    ~Scanner() { release(); }
    void release()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool held() const { return held_; }

private:
    void run()
    {
        FileHandle file;
        while (!stop_ && !exists(after_)) Sleep(1);
        while (!stop_ && !file) {
            file.reset(CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
            if (!file) Sleep(1);
        }
        held_ = static_cast<bool>(file);
        while (!stop_) Sleep(5);
    }
    std::wstring path_, after_;
    std::atomic<bool> stop_{false}, held_{false};
    std::thread thread_;
};

FileHandle hold(const std::wstring& path)
{
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

// A file held for a moment (a scanner looking at it) is waited for; the
// install goes through.
TEST_F(InstallStep, FileHeldForAMomentIsWaitedFor)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    FileHandle lock = hold(folder.place_of("change.txt"));
    ASSERT_TRUE(lock);
    std::thread releaser([&] {
        Sleep(400);
        lock.reset();
    });
    const bool installed = install(plan);
    releaser.join();
    ASSERT_TRUE(installed) << log_text();
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v2");
}

// The install fails on a file held for good, and a scanner holds the new file
// it had already put in place: the rollback cannot take that one out. The
// journal and the old copies stay, the message says the game was not left as
// it was, and the next start refuses to go on until a replay has put
// everything back.
TEST_F(InstallStep, RestoreThatFailsKeepsTheJournalAndTheOldCopies)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();   // change.txt, then sub/new.dat
    Manifest& m = run_.manifest;
    m.files.push_back(manifest_file("zz.txt", HASH_B, "zz v2"));
    put(folder.place_of("zz.txt"), "zz v1");
    put(folder.stage_path_of("zz.txt"), "zz v2");
    plan.stale_files = {&m.files[1], &m.files[2], &m.files[3]};   // the list grew: new addresses
    Scanner scanner(folder.place_of("change.txt"), folder.old_path_of("change.txt"));   // the new file, once it lands
    FileHandle lock = hold(folder.place_of("zz.txt"));
    ASSERT_TRUE(lock);

    EXPECT_FALSE(install(plan));
    ASSERT_TRUE(scanner.held());
    EXPECT_EQ(read_status().message,
              "the update could not be installed and some old files could not be put back -- "
              "the launcher tries again when it is next opened");
    EXPECT_TRUE(exists(folder.journal_path()));
    EXPECT_EQ(content(folder.old_path_of("change.txt")), "change v1");
    std::string log = log_text();
    EXPECT_NE(log.find("could not put back change.txt (error "), std::string::npos) << log;
    EXPECT_NE(log.find("rolled back only in part (0 files restored, 1 could not be put back)"), std::string::npos)
        << log;

    // Still held at the next start: nothing else happens, "old" stays.
    reset_update_status();
    EXPECT_FALSE(settle_interrupted_install(folder));
    EXPECT_EQ(read_status().phase, PHASE_FAILED);
    EXPECT_NE(read_status().message.find("an interrupted update could not be undone"), std::string::npos);
    EXPECT_TRUE(exists(folder.old_path_of("change.txt")));
    remove_update_folder(folder);
    EXPECT_TRUE(exists(folder.old_path_of("change.txt")));

    scanner.release();
    lock.reset();
    EXPECT_TRUE(settle_interrupted_install(folder));
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v1");
    EXPECT_EQ(content(folder.place_of("zz.txt")), "zz v1");
    EXPECT_FALSE(exists(folder.place_of("sub/new.dat")));
    EXPECT_FALSE(exists(folder.place_of("sub")));   // made by the install, gone with it
    EXPECT_FALSE(exists(folder.journal_path()));
}

// A journal that is there but cannot be read is not "no journal": the start
// stops and nothing is deleted.
TEST_F(InstallStep, UnreadableJournalStopsTheRunWithoutDeletingAnything)
{
    put(folder.old_path_of("a.txt"), "old a");
    put(folder.journal_path(), "1 a.txt\n");
    {
        FileHandle lock = hold(folder.journal_path());
        ASSERT_TRUE(lock);
        EXPECT_FALSE(settle_interrupted_install(folder));
        EXPECT_EQ(read_status().phase, PHASE_FAILED);
        remove_update_folder(folder);
    }
    EXPECT_EQ(content(folder.old_path_of("a.txt")), "old a");
    EXPECT_TRUE(exists(folder.journal_path()));
    EXPECT_TRUE(settle_interrupted_install(folder));
    EXPECT_EQ(content(folder.place_of("a.txt")), "old a");
}

// A file that appears at a new file's place after the journal was written is
// not replaced, and the rollback keeps it.
TEST_F(InstallStep, FileThatAppearedAtANewPlaceIsKeptByTheRollback)
{
    install_release_one();
    UpdatePlan plan = stage_release_two();
    static std::wstring appear_at, journal;
    appear_at = folder.place_of("sub/new.dat");
    journal = folder.journal_path();
    before_atomic_move_hook = [](const std::wstring& path) {
        if (path == journal) write_new_file(appear_at, "the player's", 12, false);
    };
    const bool installed = install(plan);
    before_atomic_move_hook = nullptr;

    EXPECT_FALSE(installed);
    EXPECT_EQ(content(folder.place_of("sub/new.dat")), "the player's");
    EXPECT_EQ(content(folder.place_of("change.txt")), "change v1");
    EXPECT_EQ(content(folder.stage_path_of("sub/new.dat")), "new v2");
    EXPECT_FALSE(exists(folder.journal_path()));
}

class LayoutChange : public InstallStep {
protected:
    // Release A: data/thing is a file, data/sub a folder with a.bin, and the
    // player keeps data/sub/my_save.dat (no record names it).
    void install_release_a()
    {
        put(folder.place_of("data/thing"), "thing A");
        put(folder.place_of("data/sub/a.bin"), "a A");
        put(folder.place_of("data/sub/my_save.dat"), "save");
        put(folder.place_of("data/other.bin"), "other A");
        InstallState state;
        state.version = "A";
        state.files["data/thing"] = {7, 1, HASH_A};
        state.files["data/sub/a.bin"] = {3, 1, HASH_A};
        state.files["data/other.bin"] = {7, 1, HASH_A};
        ASSERT_TRUE(write_install_state(folder.root(), state));
        run_.state = state;
    }
    // Release B: data/thing/inner.bin, a file data/sub, a new folder, and
    // data/other.bin replaced.
    UpdatePlan stage_release_b()
    {
        Manifest& m = run_.manifest;
        m.version = "B";
        for (const char* path : {"data/thing/inner.bin", "data/sub", "fresh/deep/x.bin", "data/other.bin"})
            m.files.push_back(manifest_file(path, HASH_B, path + std::string(" B")));
        for (const ManifestFile& f : m.files) put(folder.stage_path_of(f.path), f.path + " B");
        UpdatePlan plan;
        for (const ManifestFile& f : m.files) plan.stale_files.push_back(&f);
        plan.paths_to_remove = {"data/sub/a.bin", "data/thing"};
        return plan;
    }
    void expect_release_a()
    {
        EXPECT_EQ(content(folder.place_of("data/thing")), "thing A");
        EXPECT_EQ(content(folder.place_of("data/sub/a.bin")), "a A");
        EXPECT_EQ(content(folder.place_of("data/sub/my_save.dat")), "save");
        EXPECT_EQ(content(folder.place_of("data/other.bin")), "other A");
        EXPECT_FALSE(exists(folder.place_of("fresh")));
        EXPECT_FALSE(exists(folder.place_of("data/sub (kept files)")));
        EXPECT_FALSE(exists(folder.journal_path()));
    }
};

TEST_F(LayoutChange, FileBecomesFolderAndFolderBecomesFileKeepingThePlayersFiles)
{
    install_release_a();
    UpdatePlan plan = stage_release_b();
    ASSERT_TRUE(install(plan)) << log_text();

    EXPECT_EQ(content(folder.place_of("data/thing/inner.bin")), "data/thing/inner.bin B");
    EXPECT_EQ(content(folder.place_of("data/sub")), "data/sub B");
    EXPECT_EQ(content(folder.place_of("data/sub (kept files)/my_save.dat")), "save");
    EXPECT_FALSE(exists(folder.place_of("data/sub (kept files)/a.bin")));   // the release dropped it
    InstallState on_disk = read_install_state(folder.root());
    EXPECT_EQ(on_disk.files.count("data/sub/a.bin"), 0u);
    EXPECT_EQ(on_disk.files.count("data/thing"), 0u);
    EXPECT_EQ(on_disk.files.count("data/sub"), 1u);
    std::string log = log_text();
    const std::string kept = to_utf8(folder.place_of("data/sub (kept files)"));
    EXPECT_NE(log.find("kept 1 file(s) the game does not manage in " + kept), std::string::npos)
        << log;
}

TEST_F(LayoutChange, RollbackPutsTheOldLayoutBackWithThePlayersFiles)
{
    install_release_a();
    UpdatePlan plan = stage_release_b();
    FileHandle lock = hold(folder.place_of("data/other.bin"));   // the last file to move
    ASSERT_TRUE(lock);
    EXPECT_FALSE(install(plan));
    lock.reset();
    expect_release_a();
    EXPECT_EQ(read_status().message, "the update could not be installed -- the game was left as it was");
}

// Cut off after the player's files were moved to their kept place, before the
// commit: the replay brings them back with the old folder.
TEST_F(LayoutChange, ReplayBringsKeptFilesBack)
{
    install_release_a();
    put(folder.old_path_of("data/sub/a.bin"), "a A");
    put(folder.old_path_of("data/thing"), "thing A");
    put(folder.place_of("data/sub (kept files)/my_save.dat"), "save");
    DeleteFileW(folder.place_of("data/sub/a.bin").c_str());
    DeleteFileW(folder.place_of("data/sub/my_save.dat").c_str());
    RemoveDirectoryW(folder.place_of("data/sub").c_str());
    DeleteFileW(folder.place_of("data/thing").c_str());
    put(folder.place_of("data/sub"), "sub B");
    put(folder.place_of("data/thing/inner.bin"), "inner B");
    put(folder.place_of("fresh/deep/x.bin"), "x B");
    put(folder.journal_path(), "0 data/thing/inner.bin\n1 data/sub\n0 fresh/deep/x.bin\n1 data/other.bin\n"
                        "1 data/sub/a.bin\n1 data/thing\nd data/thing\nd fresh\n"
                        "k data/sub\tdata/sub (kept files)\nk data/thing\tdata/thing (kept files)\n");
    EXPECT_EQ(replay_journal(folder), ReplayResult::rolled_back);
    expect_release_a();
    EXPECT_EQ(content(folder.stage_path_of("data/sub")), "sub B");
}

}  // namespace
