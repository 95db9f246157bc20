// --uninstall: removes the game the state file records, the launcher's own
// files, the shortcuts, the splash cache, the "Apps & features" entry and
// the installed launcher, and keeps every other file in the game folder: the
// player's saves, settings and screenshots are not the launcher's to delete.
//
// It goes only by records it could read: a replay that could not finish, or a
// state file that cannot be read, stops it before anything is removed (a
// damaged state file is stood in for by the saved signed manifest, when that
// verifies). Every step finds its work afresh on disk, so an uninstall cut
// off at any point can be run again and ends the same. The records go last,
// and only once every file they name is gone: until then they still name the
// game files that are left, and the entry, the shortcuts and the launcher
// stay so that the uninstall can be run again.
#include "app/install_lock.h"
#include "app/launcher_removal.h"
#include "app/roads.h"
#include "app/running_game.h"
#include "app/shortcut_files.h"
#include "app/apps_features_entry.h"
#include "app/uninstall_plan.h"
#include "base/com_apartment.h"
#include "base/file_calls.h"
#include "base/folder_entries.h"
#include "base/log.h"
#include "base/path_identity.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/test_hooks.h"
#include "formats/install_state.h"
#include "splash/splash_assets.h"
#include "splash/splash_state.h"
#include "update/deletion_gate.h"
#include "update/held_file.h"
#include "update/journal_replay.h"
#include "update/key_store.h"
#include "update/saved_manifest.h"
#include "update/update_folder.h"

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace {

constexpr const wchar_t* QUESTION =
    L"Remove " TW_PRODUCT_WORD " and the installed game? Your own files in the game folder are kept.";
// A launcher just ending (the installed copy's own start) lets go within this.
constexpr unsigned long LOCK_WAIT_MS = 3000;
// The bar shows only for an uninstall that takes longer than this.
constexpr DWORD SPLASH_AFTER_MS = 2000;
constexpr int SPLASH_WIDTH = 3820;
constexpr int SPLASH_HEIGHT = 1990;

struct Progress {
    std::atomic<size_t> done{0};
    std::atomic<size_t> total{1};
    std::atomic<bool> finished{false};
};

const char* const NOTHING_REMOVED = "; nothing was removed";

bool folder_exists(const std::wstring& path) { return place_kind(path) == PlaceKind::folder; }

// The outcome goes to the player: a box when windowed, the console (through
// the log's echo) when headless.
void tell(const std::string& text, bool warning)
{
    log_line("%s", text.c_str());
    if (!headless)
        MessageBoxW(nullptr, to_utf16(text).c_str(), to_utf16(PRODUCT_NAME).c_str(),
                    warning ? MB_ICONWARNING : MB_ICONINFORMATION);
}

// One removal, counted; `removed` collects the names for the closing lines.
class Removal {
public:
    explicit Removal(Progress& progress) : progress_(progress) {}

    void file(const std::wstring& path)
    {
        const bool was_there = place_kind(path) != PlaceKind::missing;
        switch (remove_owned_file(path)) {
        case FileRemoval::gone:
            if (was_there) {
                ++removed_;
                crash_point("uninstall-removed");
            }
            break;
        case FileRemoval::not_ours:
            log_line("kept %s: a folder stands where the game's file was", to_utf8(path).c_str());
            break;
        case FileRemoval::failed:
            ++failed_;
            log_line("could not delete %s (error %lu)", to_utf8(path).c_str(), GetLastError());
            break;
        }
        ++progress_.done;
    }

    void tree(const std::wstring& folder)
    {
        if (!folder_exists(folder)) return;
        if (remove_owned_tree(folder)) {
            log_line("removed %s", to_utf8(folder).c_str());
            crash_point("uninstall-removed");
        } else {
            ++failed_;
            log_line("could not remove all of %s", to_utf8(folder).c_str());
        }
    }

    size_t removed() const { return removed_; }
    size_t failed() const { return failed_; }
    void count_failure() { ++failed_; }
    // Why nothing was removed, told once the bar is gone.
    void refuse(std::string why) { refusal_ = std::move(why); }
    const std::string& refusal() const { return refusal_; }

private:
    Progress& progress_;
    size_t removed_ = 0;
    size_t failed_ = 0;
    std::string refusal_;
};

// The records the uninstall goes by, read whole, or false with the reason
// the player is told: a replay that could not put everything back (the
// player's files may still be in the update folder), or a state file it
// cannot read, or one that is damaged with no saved manifest to stand in for
// it (see recorded_files).
bool read_records(const InstallFolder& folder, InstallState& state, Removal& removal)
{
    const ReplayResult replayed = replay_journal(folder);
    if (replayed == ReplayResult::incomplete || replayed == ReplayResult::unreadable) {
        removal.refuse(std::string("an interrupted update could not be undone -- close the programs that use the "
                                   "game's files and run the uninstall again") + NOTHING_REMOVED);
        return false;
    }
    StateRead read = StateRead::read;
    retry_while_held([&] {
        read = read_install_state_checked(folder.root(), state);
        return read != StateRead::unreadable;
    });
    const std::string record = "the install record in " + to_utf8(folder.root());
    if (read == StateRead::unreadable) {
        removal.refuse(record + " cannot be read -- close the programs that use the game's files and run the "
                                "uninstall again" + NOTHING_REMOVED);
        return false;
    }
    bool stood_in = false;
    state = recorded_files(folder, state, stood_in);
    if (stood_in) {
        log_line("%s names no files -- going by the signed manifest of %s", record.c_str(), state.version.c_str());
        return true;
    }
    if (read != StateRead::refused) return true;
    removal.refuse(record + " is damaged -- open " + PRODUCT_NAME + " once so that it checks the game's files, "
                            "then run the uninstall again" + NOTHING_REMOVED);
    return false;
}

// The game's files and the folders they leave empty. A file reached through
// a folder link is kept: its bytes may live outside the install folder.
void remove_game(const InstallFolder& folder, const InstallState& state, Removal& removal)
{
    for (const auto& [relative, file] : state.files) {
        const std::wstring path = folder.place_of(relative);
        if (passes_through_link(folder.root(), path)) {
            log_line("kept %s: it lies behind a folder link", relative.c_str());
            continue;
        }
        removal.file(path);
    }
    for (const std::string& emptied : folders_to_prune(state)) {
        const std::wstring path = folder.place_of(emptied);
        if (!passes_through_link(folder.root(), path)) remove_folder_if_empty(path);
    }
}

// The launcher's own files in the install folder, its records last. Only
// names the launcher makes are touched: whatever else lies there stays.
void remove_launcher_records(const InstallFolder& folder, Removal& removal)
{
    removal.tree(folder.update_folder());
    removal.file(join_path(folder.root(), L"launcher.log"));
    removal.file(join_path(parent_folder(launcher_install_path(folder.root())), SWAP_LEFTOVER_NAME));
    const std::wstring state_file = install_state_path(folder.root());
    for (const std::wstring& path : {saved_manifest_path(folder.root()), saved_signature_path(folder.root()),
                                     kept_keys_path(folder.root()), state_file}) {
        removal.file(path + L".part");
        removal.file(path);
    }
}

// Shortcuts that lead to this install's launcher; one made for another
// install folder is not ours.
void remove_shortcuts(const std::wstring& launcher, Removal& removal)
{
    for (const std::wstring& link : launcher_shortcuts()) {
        const std::wstring target = shortcut_target(link);
        if (!target.empty() && same_path_text(target, launcher)) removal.file(link);
    }
    const std::wstring menu = start_menu_folder();
    if (!menu.empty()) remove_folder_if_empty(menu);
}

// False when the records stopped it before anything was removed.
bool remove_all_but_launcher(const InstallFolder& folder, Removal& removal, Progress& progress)
{
    if (folder_exists(folder.root())) {
        InstallState state;
        if (!read_records(folder, state, removal)) {
            progress.finished = true;
            return false;
        }
        progress.total = state.files.size() + 12;
        remove_game(folder, state, removal);
        // Kept while a file they name is left: the next run goes by them.
        if (removal.failed() > 0) {
            progress.finished = true;
            return true;
        }
        remove_launcher_records(folder, removal);
    }
    remove_shortcuts(launcher_install_path(folder.root()), removal);
    if (!remove_uninstall_entry(folder.root())) {
        removal.count_failure();
        log_line("could not delete the Apps & features entry");
    }
    progress.finished = true;
    return true;
}

bool remove_with_com(const InstallFolder& folder, Removal& removal, Progress& progress)
{
    ComApartment apartment(COINIT_APARTMENTTHREADED);   // for the shortcuts
    return remove_all_but_launcher(folder, removal, progress);
}

// Runs the removal on a worker; the splash's bar appears only when it takes
// longer than two seconds, and is gone before the caller goes on.
bool remove_with_bar(const InstallFolder& folder, Removal& removal, Progress& progress)
{
    bool went_on = false;
    std::thread worker;
    try {
        worker = std::thread([&] { went_on = remove_with_com(folder, removal, progress); });
    } catch (const std::system_error&) {
        return remove_with_com(folder, removal, progress);   // no thread to spare: the same work without the bar
    }
    const ULONGLONG start = GetTickCount64();
    bool shown = false;
    while (!progress.finished) {
        if (!shown && GetTickCount64() - start > SPLASH_AFTER_MS)
            shown = start_splash(to_utf8(prepare_splash_assets()), SPLASH_WIDTH, SPLASH_HEIGHT);
        if (shown) {
            const size_t done = progress.done, total = progress.total;
            splash_state.set_progress(static_cast<float>(done) / static_cast<float>(total > done ? total : done));
            splash_state.set_text("removing... " + std::to_string(done) + " / " + std::to_string(total));
        }
        Sleep(30);
    }
    worker.join();
    if (shown) stop_splash();
    return went_on;
}

std::wstring uninstall_log_path()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    return n == 0 || n > MAX_PATH ? std::wstring() : join_path(temp, L"tarnwick-uninstall.log");
}

// The files below a folder, as full paths, sorted; links are not entered.
void collect_files(const std::wstring& folder, std::vector<std::wstring>& files)
{
    for_each_entry(folder, [&](const std::wstring& path, DWORD attributes) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(path);
        else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            collect_files(path, files);
    });
}

std::vector<std::wstring> files_below(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    collect_files(folder, files);
    std::sort(files.begin(), files.end());
    return files;
}

// What stayed in the install folder after the removal: the player's.
void report(const std::wstring& install_folder, size_t removed, size_t failed, const std::wstring& log)
{
    const std::vector<std::wstring> kept = files_below(install_folder);
    for (const std::wstring& file : kept) log_line("kept %s", to_utf8(file).c_str());
    log_line("removed %zu files, kept %zu", removed, kept.size());
    const std::string folder = to_utf8(install_folder);
    if (failed > 0) {
        tell(std::string(PRODUCT_NAME) + " was not removed completely: " + std::to_string(failed) +
                 " files or folders could not be deleted (see " + to_utf8(log) + "). Close the game and run the uninstall again.",
             true);
    } else if (!kept.empty()) {
        tell(std::string(PRODUCT_NAME) + " was removed. Your own files were kept in " + folder + ".", false);
    } else {
        tell(std::string(PRODUCT_NAME) + " was removed.", false);
    }
}

}  // namespace

int run_uninstall(const std::wstring& install_folder)
{
    const InstallFolder folder(install_folder);
    // The question comes before anything is touched, the log included.
    if (!headless && MessageBoxW(nullptr, QUESTION, to_utf16(PRODUCT_NAME).c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return 0;

    // The log lives outside the folder it empties.
    const std::wstring log = uninstall_log_path();
    if (!log.empty()) open_log(log);
    log_line("tarnwick launcher v%d at %s: uninstall of %s", LAUNCHER_VERSION, to_utf8(own_exe_path()).c_str(),
             to_utf8(folder.root()).c_str());

    // A folder that is gone needs no guarding; a lock there would make it anew.
    if (folder_exists(folder.root()) && !take_install_lock(folder.root(), LOCK_WAIT_MS)) {
        tell("another launcher is working in " + to_utf8(folder.root()) +
                 " -- close it and run the uninstall again; nothing was removed",
             true);
        return 1;
    }
    if (game_is_running(folder.root())) {
        tell(std::string(PRODUCT_NAME) + " is running -- close the game and run the uninstall again; nothing was removed",
             true);
        return 1;
    }

    Progress progress;
    Removal removal(progress);
    const bool went_on = headless ? remove_with_com(folder, removal, progress)
                                  : remove_with_bar(folder, removal, progress);
    if (!went_on) {   // nothing was removed
        tell(removal.refusal(), true);
        return 1;
    }
    if (removal.failed() > 0) {   // the launcher stays to run the uninstall again
        report(folder.root(), removal.removed(), removal.failed(), log);
        return 1;
    }

    // After the splash is gone: its own files lie in the cache. The cache is
    // shared by every install folder and rebuilt by any launcher, so what
    // another launcher's splash still holds open there may stay.
    if (!remove_owned_tree(splash_cache_folder())) log_line("the splash cache could not be removed whole");
    const std::wstring launcher = launcher_install_path(folder.root());
    if (!remove_launcher_file(launcher, splash_cache_folder())) removal.count_failure();
    remove_folder_if_empty(parent_folder(launcher));
    release_install_lock();   // its file would keep the emptied folder
    remove_folder_if_empty(folder.root());

    report(folder.root(), removal.removed(), removal.failed(), log);
    return removal.failed() == 0 ? 0 : 1;
}
