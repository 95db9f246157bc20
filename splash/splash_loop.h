#pragma once
// What the splash's frame loop keeps for the lifetime of its window, shared
// by the loop (splash_window.cpp), the z-order and host steps
// (splash_zorder.cpp) and the splash log (splash_log.cpp). Splash thread only.
#include "base/win_handles.h"
#include "splash/splash_renderer.h"
#include "splash/splash_status.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The class of the splash window, and of the game's own loading window.
inline constexpr wchar_t SPLASH_WINDOW_CLASS[] = L"tarnwickSplash";

// The window's own record: its caption, the buttons under the pointer and
// what the window procedure posts for the loop. The window procedure reaches
// it through the window's user data.
struct SplashChrome {
    int32_t caption_height = 0;
    bool caption_from_host = false;
    float dpi_scale = 1.0f;
    int32_t hover_button = -1;
    int32_t pressed_button = -1;
    int32_t caption_command = -1;   // posted by the window procedure for the loop
    bool user_moved = false;
    bool maximized = false;
    RECT restore_rect{};
    std::wstring title = L"tarnwick";
    IconHandle small_icon;   // the caption's and the task bar's icon
    bool user_placed = false;
    bool minimized = false;
};

struct SplashLoop {
    SplashStatus& status;
    SplashRenderer& renderer;
    SplashChrome chrome;
    HWND window = nullptr;
    int x = 0, y = 0;                 // position as last placed

    int64_t frames = 0;               // frames presented
    float displayed_progress = 0;

    std::wstring window_text;         // the window's text as last set
    int64_t window_text_set_ns = 0;   // when (splash clock); 0: never

    HWND host = nullptr;              // the host window as last found
    std::vector<HWND> foreign;        // top-level windows of other processes, as last walked
    HWND last_foreground = nullptr;   // z-order: the foreground at the previous frame
    HWND owner_asked = nullptr;       // the foreground whose process was last asked
    bool owner_is_us = false;         // and whether it is this one
    bool user_switched = false;
    bool topmost = false;
    bool hidden_for_host = false;
};

// --- z-order, host window and hand-over (splash_zorder.cpp)

// Topmost unless the user turned to another program by input; foreground is
// the foreground window now.
void update_zorder(SplashLoop& loop, HWND foreground);

// The first captioned window of this process other than the splash, or null.
// foreign holds the windows of other processes the walk before saw; asking a
// window for its process is a round trip to the window manager on some
// systems, so those are passed over unasked (a window never changes
// process). It is replaced by the ones this walk saw.
HWND find_host_window(HWND splash, std::vector<HWND>& foreign);

// The host for this frame. Walking the window list costs a round trip to the
// window manager per window on some systems, so it is walked on every sixth
// frame (and whenever the host found last stops qualifying); in between the
// host found last, or none, is kept. A new host is picked up within six
// frames (0.1 s at 60 frames per second, 0.2 s with a 30 fps video).
constexpr int HOST_SEARCH_EVERY = 6;
HWND current_host(SplashLoop& loop);

// Covers the host, hides with it, takes its caption height and title once.
// False when the renderer could not be rebuilt at the host's size.
bool follow_host(SplashLoop& loop, HWND host);

// True when another process shows a visible window of the splash's class.
bool game_loading_window_shown();

// True when the window belongs to this process.
bool is_own_window(HWND window);

// is_own_window for the foreground window, asked again only when the
// foreground changes (the answer is a round trip on some systems).
bool own_foreground(SplashLoop& loop, HWND foreground);
