#include "splash/zorder_rules.h"

bool user_switched_after_change(ForegroundOwner owner, uint32_t input_age_ms, bool switched_before)
{
    switch (owner) {
    case ForegroundOwner::launcher: return false;
    case ForegroundOwner::other: return input_age_ms < USER_INPUT_WINDOW_MS;
    case ForegroundOwner::none: break;
    }
    return switched_before;
}

bool qualifies_as_host(const HostCandidate& w)
{
    if (!w.own_process || w.is_splash || !w.has_caption) return false;
    if (w.class_name == "GLFW30" && splash_size_usable(w.client_w, w.client_h)) return true;
    return w.visible;
}

FollowAction follow_action(const FollowInput& in)
{
    if (in.maximized || in.user_placed || in.splash_iconic) return FollowAction::none;
    if (!in.host_visible && !in.host_iconic) return FollowAction::none;
    if (in.host_iconic) return FollowAction::hide;
    if (!splash_size_usable(in.target.w, in.target.h)) return FollowAction::none;
    if (in.target.w != in.renderer_w || in.target.h != in.renderer_h) return FollowAction::resize;
    if (!in.splash_hidden && in.splash_x == in.target.x && in.splash_y == in.target.y)
        return FollowAction::none;
    return FollowAction::move;
}
