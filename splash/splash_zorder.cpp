// Keeping the splash in front without trapping the user, covering a host
// window of this process, and noticing the game's own loading window.
#include "splash/dwm_calls.h"
#include "splash/splash_assets.h"
#include "splash/splash_loop.h"
#include "splash/zorder_rules.h"

#include <algorithm>
#include <climits>

namespace {

struct HostSearch {
    HWND splash = nullptr;
    HWND host = nullptr;
    DWORD process = 0;
    const std::vector<HWND>* known_foreign = nullptr;
    std::vector<HWND> foreign;
};

DWORD window_process(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

// What the host rules look at; a window of another process is not read further.
HostCandidate describe(HWND window, HWND splash, DWORD process)
{
    HostCandidate candidate;
    candidate.own_process = window_process(window) == process;
    if (!candidate.own_process) return candidate;
    candidate.is_splash = window == splash;
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    candidate.class_name = name;
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    candidate.has_caption = (style & WS_CAPTION) == WS_CAPTION;
    candidate.visible = IsWindowVisible(window) != FALSE;
    RECT client{};
    GetClientRect(window, &client);
    candidate.client_w = client.right - client.left;
    candidate.client_h = client.bottom - client.top;
    return candidate;
}

BOOL CALLBACK consider_host(HWND window, LPARAM param)
{
    HostSearch& search = *reinterpret_cast<HostSearch*>(param);
    const std::vector<HWND>& known = *search.known_foreign;
    if (std::find(known.begin(), known.end(), window) != known.end()) {
        search.foreign.push_back(window);
        return TRUE;
    }
    const HostCandidate candidate = describe(window, search.splash, search.process);
    if (!candidate.own_process) search.foreign.push_back(window);
    if (!qualifies_as_host(candidate)) return TRUE;
    search.host = window;
    return FALSE;
}

uint32_t input_age_ms()
{
    LASTINPUTINFO input{};
    input.cbSize = sizeof input;
    if (!GetLastInputInfo(&input)) return UINT32_MAX;
    return GetTickCount() - input.dwTime;   // wraps like the tick count itself
}

// The host's caption height and title, taken once when DWM tells where its
// frame starts and the height looks like a caption.
void take_host_caption(SplashChrome& s, HWND host)
{
    RECT frame;
    POINT origin{0, 0};
    if (!extended_frame_bounds(host, frame) || !ClientToScreen(host, &origin)) return;
    const int height = origin.y - frame.top;
    if (!host_caption_height_usable(height)) return;
    s.caption_height = height;
    wchar_t title[256] = {};
    if (InternalGetWindowText(host, title, 256) > 0) s.title = title;
    s.caption_from_host = true;
}

WindowRect host_target(HWND host)
{
    RECT r;
    if (extended_frame_bounds(host, r)) return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    RECT client{};
    GetClientRect(host, &client);
    POINT origin{0, 0};
    ClientToScreen(host, &origin);
    return {origin.x, origin.y, client.right - client.left, client.bottom - client.top};
}

}  // namespace

bool is_own_window(HWND window) { return window && window_process(window) == GetCurrentProcessId(); }

bool own_foreground(SplashLoop& loop, HWND foreground)
{
    if (foreground != loop.owner_asked) {
        loop.owner_asked = foreground;
        loop.owner_is_us = is_own_window(foreground);
    }
    return loop.owner_is_us;
}

void update_zorder(SplashLoop& loop, HWND foreground)
{
    if (foreground != loop.last_foreground) {
        loop.last_foreground = foreground;
        ForegroundOwner owner = !foreground ? ForegroundOwner::none
                                : own_foreground(loop, foreground) ? ForegroundOwner::launcher
                                                            : ForegroundOwner::other;
        loop.user_switched = user_switched_after_change(owner, input_age_ms(), loop.user_switched);
    }
    const bool want = want_topmost(loop.user_switched);
    const bool is = (GetWindowLongW(loop.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (want != is)
        SetWindowPos(loop.window, want ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    loop.topmost = (GetWindowLongW(loop.window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

HWND find_host_window(HWND splash, std::vector<HWND>& foreign)
{
    HostSearch search{splash, nullptr, GetCurrentProcessId(), &foreign, {}};
    EnumWindows(consider_host, reinterpret_cast<LPARAM>(&search));
    foreign = std::move(search.foreign);
    return search.host;
}

HWND current_host(SplashLoop& loop)
{
    // No host is the usual case; it is looked for on the sixth frames like a
    // kept one, not on every frame, which would walk the list every frame.
    const bool lost = loop.host && !(IsWindow(loop.host) &&
                                     qualifies_as_host(describe(loop.host, loop.window, GetCurrentProcessId())));
    if (lost || loop.frames % HOST_SEARCH_EVERY == 0) loop.host = find_host_window(loop.window, loop.foreign);
    return loop.host;
}

bool follow_host(SplashLoop& loop, HWND host)
{
    if (!host) return true;
    SplashChrome& s = loop.chrome;
    if (!s.caption_from_host) take_host_caption(s, host);

    FollowInput in;
    in.host_visible = IsWindowVisible(host) != FALSE;
    in.host_iconic = IsIconic(host) != FALSE;
    in.maximized = s.maximized;
    in.user_placed = s.user_placed;
    in.splash_iconic = IsIconic(loop.window) != FALSE;
    in.splash_hidden = !IsWindowVisible(loop.window);
    in.target = host_target(host);
    in.splash_x = loop.x;
    in.splash_y = loop.y;
    in.renderer_w = loop.renderer.width;
    in.renderer_h = loop.renderer.height;

    switch (follow_action(in)) {
    case FollowAction::none:
        return true;
    case FollowAction::hide:
        if (!in.splash_hidden) ShowWindow(loop.window, SW_HIDE);
        loop.hidden_for_host = true;
        return true;
    case FollowAction::resize:
        if (!resize_splash(loop.renderer, loop.status.assets_dir, in.target.w, in.target.h)) return false;
        [[fallthrough]];
    case FollowAction::move:
        SetWindowPos(loop.window, nullptr, in.target.x, in.target.y, in.target.w, in.target.h,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        loop.x = in.target.x;
        loop.y = in.target.y;
        loop.hidden_for_host = false;
        return true;
    }
    return true;
}

bool game_loading_window_shown()
{
    const DWORD own = GetCurrentProcessId();
    for (HWND w = FindWindowExW(nullptr, nullptr, SPLASH_WINDOW_CLASS, nullptr); w;
         w = FindWindowExW(nullptr, w, SPLASH_WINDOW_CLASS, nullptr)) {
        if (window_process(w) != own && IsWindowVisible(w)) return true;
    }
    return false;
}
