#pragma once
// The decisions behind the splash's z-order, its host window and following
// that host, as plain functions; splash/splash_zorder.cpp feeds them from the
// window manager.
#include "splash/splash_geometry.h"

#include <cstdint>
#include <string>

// Whose window became the foreground.
enum class ForegroundOwner { none, launcher, other };

// Input this recent (ms) means the user brought the other window forward.
constexpr uint32_t USER_INPUT_WINDOW_MS = 500;

// Whether the user has switched away, after the foreground changed: back to a
// launcher window clears it; another program's window sets it only when the
// user's last input is fresh (a program raising itself does not count); no
// foreground window leaves it as it was. input_age_ms is tick count now minus
// the last input's tick count.
bool user_switched_after_change(ForegroundOwner owner, uint32_t input_age_ms, bool switched_before);

// The splash is topmost unless the user switched to another program.
inline bool want_topmost(bool user_switched) { return !user_switched; }

// One top-level window looked at by the host search.
struct HostCandidate {
    bool own_process = false;
    bool is_splash = false;
    std::string class_name;    // ANSI, as read into 32 bytes
    bool has_caption = false;  // both WS_CAPTION bits
    bool visible = false;
    int client_w = 0, client_h = 0;
};

// A host is a captioned window of the launcher's own process other than the
// splash: an engine window of class "GLFW30" with a usable client area even
// while hidden, or any visible captioned window.
bool qualifies_as_host(const HostCandidate& window);

// A host's caption height (client top minus frame top) is taken only in
// this range; anything else is a frame the splash cannot imitate.
inline bool host_caption_height_usable(int h) { return h >= 16 && h <= 160; }

struct FollowInput {
    bool host_visible = false;
    bool host_iconic = false;
    bool maximized = false;      // the user maximised the splash
    bool user_placed = false;    // the user moved or sized the splash
    bool splash_iconic = false;
    bool splash_hidden = false;
    WindowRect target;           // the host's frame (or client) rectangle
    int splash_x = 0, splash_y = 0;
    int renderer_w = 0, renderer_h = 0;
};

enum class FollowAction {
    none,     // leave the splash where it is
    hide,     // the host is minimised
    move,     // place (and show) the splash on the target
    resize,   // reload the renderer at the target size, then move
};

FollowAction follow_action(const FollowInput& in);
