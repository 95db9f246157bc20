#pragma once
// The roads the entry dispatches to, each implemented in its own file.
#include <string>

// The normal start: splash window, update worker, game start. Exit code.
int run_windowed(const std::wstring& install_folder);

// --uninstall: asks first unless headless, then removes the game, the
// launcher's files, shortcuts, entry and splash cache. Exit code.
int run_uninstall(const std::wstring& install_folder);

// Copies the launcher into the install folder and starts the copy there.
// True when the installed copy was started and this process should end.
bool self_install(const std::wstring& install_folder);

// Waits for the old launcher, copies this executable over it and relaunches
// it. 0 when the copy succeeded, 1 when it did not, 2 (nothing copied or
// started) when the target is not a launcher file beside this one.
int swap_launcher(const std::wstring& target, unsigned long process_id, bool relaunch_headless,
                  bool relaunch_verify, const std::wstring& relaunch_max_rate);

// Deletes "tarnwick.new.exe" beside the running launcher, which a completed
// swap leaves behind; waits briefly while the swap process is still ending.
void remove_swap_leftover();

// Renders one splash frame into a PNG file without a window. assets_dir is
// UTF-8; the file name stays UTF-16 so names outside ASCII survive.
bool take_shot(const std::string& assets_dir, const std::wstring& file, int width, int height,
               double seconds, float progress, const std::string& text);
