#include "splash/splash_log.h"

#include "base/paths.h"
#include "splash/splash_assets.h"
#include "splash/splash_loop.h"

namespace {

struct Box {
    long left = 0, top = 0, width = 0, height = 0;
};

Box box_of(HWND window)
{
    RECT r{};
    if (!window || !GetWindowRect(window, &r)) return {};
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// 1 when the splash sits directly above the host, 0 when not, -1 without one.
int above_host(HWND host, HWND splash)
{
    if (!host) return -1;
    return GetWindow(host, GW_HWNDPREV) == splash ? 1 : 0;
}

}  // namespace

void SplashLog::open()
{
    std::wstring folder = splash_cache_folder();
    if (folder.empty() || !create_folders(folder)) return;
    // Text mode: lines end in CR LF on disk.
    file_.reset(_wfopen(join_path(folder, L"splash.log").c_str(), L"w"));
}

void SplashLog::note(double seconds, const char* event)
{
    if (!file_) return;
    std::fprintf(file_.get(), "%6.2fs %s\n", seconds, event);
    std::fflush(file_.get());
}

void SplashLog::cpu(int64_t frames, int64_t window_cpu_ns, const VideoFrameSource* source)
{
    if (!file_ || frames < 1) return;
    const int64_t made = source ? source->frames_made() : 0;
    const double decode_ms = made > 0 ? static_cast<double>(source->decode_cpu_ns()) / 1e6 / made : 0.0;
    std::fprintf(file_.get(), "CPU per frame: window %.2f ms over %lld frames, decode %.2f ms over %lld video frames\n",
                 static_cast<double>(window_cpu_ns) / 1e6 / frames, static_cast<long long>(frames), decode_ms,
                 static_cast<long long>(made));
    std::fflush(file_.get());
}

void SplashLog::frame(const SplashLoop& loop, double seconds, double interval, HWND foreground)
{
    if (!file_) return;
    FILE* f = file_.get();
    if (interval > 0.05) std::fprintf(f, "%6.2fs SLOW frame %.1f ms\n", seconds, interval * 1000);
    if (foreground != last_logged_foreground_) {
        last_logged_foreground_ = foreground;
        foreground_class_[0] = '\0';
        if (foreground) GetClassNameA(foreground, foreground_class_, sizeof foreground_class_);
        foreground_owner_ = is_own_window(foreground) ? "ours" : "other";
        std::fprintf(f, "%6.2fs FOREGROUND -> %p %s (%s)\n", seconds, static_cast<void*>(foreground),
                     foreground_class_, foreground_owner_);
    }
    if (seconds < next_state_time_) return;
    next_state_time_ = seconds + 0.5;

    HWND host = loop.host;
    Box h = box_of(host);
    Box s = box_of(loop.window);
    const bool host_visible = host && IsWindowVisible(host);
    const bool host_iconic = host && IsIconic(host);
    const bool hidden = !IsWindowVisible(loop.window);
    std::fprintf(f,
                 "%6.2fs frames %5d bar %.2f  game %p %s%s rect %ld,%ld %ldx%ld  splash %ld,%ld %ldx%ld%s%s"
                 "  above-game %d  fg %p %s (%s)\n",
                 seconds, static_cast<int>(loop.frames), loop.displayed_progress, static_cast<void*>(host),
                 host_visible ? "visible" : "-", host_iconic ? " iconic" : "", h.left, h.top, h.width,
                 h.height, s.left, s.top, s.width, s.height, hidden ? " HIDDEN" : "",
                 loop.topmost ? " topmost" : "", above_host(host, loop.window),
                 static_cast<void*>(foreground), foreground_class_, foreground_owner_);
    std::fflush(f);
}
