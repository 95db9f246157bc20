// The splash window: a borderless, no-activate popup with a self-drawn
// caption, driven by a paced frame loop on the splash thread.
#include "splash/splash_window.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "base/win_handles.h"
#include "splash/bar_progress.h"
#include "splash/dwm_calls.h"
#include "splash/frame_pacing.h"
#include "splash/frame_source.h"
#include "splash/frame_timer.h"
#include "splash/splash_assets.h"
#include "splash/splash_geometry.h"
#include "splash/splash_log.h"
#include "splash/splash_loop.h"
#include "splash/splash_status.h"

#include <windowsx.h>
#include <mmsystem.h>

#include <cmath>
#include <utility>

namespace {

SplashChrome* chrome_of(HWND window)
{
    auto* s = reinterpret_cast<SplashChrome*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return s && s->caption_height > 0 ? s : nullptr;
}

int client_width(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    return r.right - r.left;
}

int button_under(const SplashChrome& s, HWND window, LPARAM lparam)
{
    return caption_button_at(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam), client_width(window),
                             s.caption_height, s.dpi_scale);
}

HICON load_icon(int size)
{
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void set_icons(HWND window, HICON big, HICON small)
{
    if (big) SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

// Minimising turns the splash into an ordinary task-bar window, so the
// player can bring it back.
void minimise_to_taskbar(SplashLoop& loop)
{
    SplashChrome& s = loop.chrome;
    LONG_PTR ex = GetWindowLongPtrW(loop.window, GWL_EXSTYLE);
    ex = (ex & ~static_cast<LONG_PTR>(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW)) | WS_EX_APPWINDOW;
    SetWindowLongPtrW(loop.window, GWL_EXSTYLE, ex);
    SetWindowTextW(loop.window, loop.window_text.empty() ? s.title.c_str() : loop.window_text.c_str());
    set_icons(loop.window, s.small_icon.get(), s.small_icon.get());
    SetWindowPos(loop.window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    ShowWindow(loop.window, SW_MINIMIZE);
    s.minimized = true;
}

// Maximise to the monitor's work area, or back to where the window was.
// False when the renderer cannot be rebuilt at the new size.
bool toggle_maximise(SplashLoop& loop)
{
    SplashChrome& s = loop.chrome;
    RECT target;
    if (s.maximized) {
        target = s.restore_rect;
    } else {
        GetWindowRect(loop.window, &s.restore_rect);
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoW(MonitorFromWindow(loop.window, MONITOR_DEFAULTTONEAREST), &info);
        target = info.rcWork;
    }
    s.maximized = !s.maximized;
    set_corner_preference(loop.window, !s.maximized);
    const int w = target.right - target.left, h = target.bottom - target.top;
    if (splash_size_usable(w, h)) {
        if ((w != loop.renderer.width || h != loop.renderer.height) && !resize_splash(loop.renderer, loop.status.assets_dir, w, h)) return false;
        SetWindowPos(loop.window, nullptr, target.left, target.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        loop.x = target.left;
        loop.y = target.top;
    }
    if (!s.maximized) s.user_placed = true;
    return true;
}

// A message box or dialog of the launcher in front: the splash gives way.
bool launcher_dialog_in_front(SplashLoop& loop, HWND foreground)
{
    if (!foreground || foreground == loop.window || !own_foreground(loop, foreground)) return false;
    wchar_t name[16] = {};
    GetClassNameW(foreground, name, 16);
    return std::wcscmp(name, L"#32770") == 0;
}

// The window's class and the window itself, with the caption metrics and
// icons. Null when the window cannot be created.
HWND create_splash_window(SplashChrome& s, int x, int y, int w, int h)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = splash_wnd_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = SPLASH_WINDOW_CLASS;
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_APPWINDOW, SPLASH_WINDOW_CLASS, L"tarnwick",
                                  WS_POPUP, x, y, w, h, nullptr, nullptr, instance, nullptr);
    if (!window) {
        UnregisterClassW(SPLASH_WINDOW_CLASS, instance);
        return nullptr;
    }
    set_corner_preference(window, true);
    UINT dpi = GetDpiForWindow(window);
    if (dpi == 0) dpi = 96;
    s.dpi_scale = static_cast<float>(dpi) / 96.0f;
    s.caption_height = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi) +
                       GetSystemMetricsForDpi(SM_CYSIZEFRAME, dpi) + GetSystemMetricsForDpi(SM_CYCAPTION, dpi);
    const int icon = static_cast<int>(std::lround(16 * s.dpi_scale));
    s.small_icon.reset(load_icon(icon));
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    SetWindowTextW(window, s.title.c_str());
    return window;
}

void destroy_splash_window(SplashChrome& s, HWND window)
{
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    s.small_icon.reset();   // after the window that showed it
    UnregisterClassW(SPLASH_WINDOW_CLASS, GetModuleHandleW(nullptr));
}

// Applies a command the window procedure posted; false ends the loop.
bool run_caption_command(SplashLoop& loop)
{
    switch (std::exchange(loop.chrome.caption_command, -1)) {
    case CLOSE_BUTTON:
        // The player cancels: the whole launcher ends at once. An install
        // cut off here is rolled back by the journal at the next start.
        ShowWindow(loop.window, SW_HIDE);
        log_line("splash: closed by the player -- ending the launcher");
        TerminateProcess(GetCurrentProcess(), 0);
        return false;
    case MINIMISE_BUTTON:
        minimise_to_taskbar(loop);
        return true;
    case MAXIMISE_BUTTON:
        return toggle_maximise(loop);
    default:
        return true;
    }
}

void present(SplashLoop& loop)
{
    if (IsIconic(loop.window)) return;
    WindowDc dc(loop.window);
    if (!dc) return;
    present_splash_frame(loop.renderer, dc.get());
}

// Why the loop ended, for the launcher's log.
enum class LoopEnd { quit, dialog, handed_over, no_progress, resize_failed };

const char* describe(LoopEnd end)
{
    switch (end) {
    case LoopEnd::quit: return "closed";
    case LoopEnd::dialog: return "a launcher dialog is in front -- closed";
    case LoopEnd::handed_over: return "the game's loading window is up -- closed";
    case LoopEnd::no_progress: return "no progress for 300 s -- closed";
    case LoopEnd::resize_failed: return "could not draw at the new size -- closed";
    }
    return "closed";
}

// The video's frame rate once its frame source plays; 0 before and without.
double playing_video_fps(const SplashRenderer& r)
{
    if (!r.frame_source || r.frame_source->state() != VideoFrameSource::State::playing) return 0;
    return r.frame_source->fps();
}

bool video_opening(const SplashRenderer& r)
{
    return r.frame_source && r.frame_source->state() == VideoFrameSource::State::opening;
}

// The loop's clock: absolute frame deadlines, the timing frame index and the
// video frame index. It paces at the video's rate once the video plays (it
// opens after the window shows), at 60 frames per second before.
struct FrameClock {
    explicit FrameClock(const SplashRenderer& r) : previous(splash_clock_ns()) { pace(playing_video_fps(r)); }

    void pace(double video_fps)
    {
        paced_fps = video_fps;
        rate = splash_frame_rate(video_fps > 0, video_fps);
        period = frame_period_ns(rate);
        origin = splash_clock_ns();
        timing_index = -1;
    }

    // A new frame at now: advances both indexes; returns the seconds since
    // the frame before. True in repaced when the pace changed to the video's.
    double next_frame(int64_t now, const SplashRenderer& r, bool& repaced)
    {
        const double video_fps = playing_video_fps(r);
        repaced = video_fps != paced_fps;
        if (repaced) pace(video_fps);
        const double dt = static_cast<double>(now - previous) / 1e9;
        previous = now;
        timing_index = next_frame_index(timing_index, now - origin, rate);
        if (video_fps > 0)
            video_index = source_video_frame(video_index,
                                             video_index >= 0 && r.frame_source->request_frame(video_index + 1));
        else if (!r.frame_source)
            video_index = clock_video_frame(video_index, now - origin, rate);
        return dt;
    }

    FrameWait wait_for_next() const { return frame_wait(origin + period * (timing_index + 1) - splash_clock_ns()); }

    double paced_fps = 0;
    double rate = 60;
    int64_t period = 0;
    int64_t origin = 0;
    int64_t previous;
    int64_t timing_index = -1;
    int64_t video_index = -1;
};

// Screen readers say the window's text when it changes; once a second is as
// often as anyone can listen to it.
constexpr int64_t WINDOW_TEXT_PERIOD_NS = 1'000'000'000;

void apply_window_text(SplashLoop& loop, int64_t now)
{
    const std::wstring wanted = to_utf16(loop.status.window_text());
    if (wanted.empty() || wanted == loop.window_text) return;
    if (loop.window_text_set_ns != 0 && now - loop.window_text_set_ns < WINDOW_TEXT_PERIOD_NS) return;
    SetWindowTextW(loop.window, wanted.c_str());
    loop.window_text = wanted;
    loop.window_text_set_ns = now;
}

// The thread's messages, the caption command they left and a move by the
// user. False when a caption command could not be carried out.
bool apply_window_events(SplashLoop& loop)
{
    SplashChrome& s = loop.chrome;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (!run_caption_command(loop)) return false;
    if (s.user_moved) {
        s.user_moved = false;
        RECT rect;
        GetWindowRect(loop.window, &rect);
        loop.x = rect.left;
        loop.y = rect.top;
        s.user_placed = true;
    }
    if (!IsIconic(loop.window)) s.minimized = false;
    return true;
}

LoopEnd frame_loop(SplashLoop& loop)
{
    SplashStatus& s = loop.status;
    SplashRenderer& r = loop.renderer;
    SplashLog log;
    log.open();
    const std::string tick = read_whole_file(join_path(to_utf16(s.assets_dir), L"tick.wav"));
    TickSteps ticks;
    FrameClock clock(r);
    FrameTimer timer;
    log_line("splash: %.0f frames per second, paced by %s", clock.rate, timer.kind());

    LoopEnd end = LoopEnd::quit;
    int64_t cpu_at_first_frame = 0;
    for (;;) {
        if (!apply_window_events(loop)) {
            end = LoopEnd::resize_failed;
            break;
        }
        // One look at the foreground per frame: under emulation each look is a
        // round trip to the window server.
        const HWND foreground = GetForegroundWindow();
        if (launcher_dialog_in_front(loop, foreground)) {
            end = LoopEnd::dialog;
            break;
        }
        update_zorder(loop, foreground);
        if (!follow_host(loop, current_host(loop))) {
            end = LoopEnd::resize_failed;
            break;
        }

        if (background_video_failed(r) && !drop_background_video(r)) {
            end = LoopEnd::resize_failed;
            break;
        }
        const int64_t now = splash_clock_ns();
        apply_window_text(loop, now);
        const double seconds = static_cast<double>(now - s.start_time) / 1e9;
        bool repaced = false;
        const double dt = clock.next_frame(now, r, repaced);
        if (repaced) log_line("splash: %.0f frames per second with the video, from %.2f s", clock.rate, seconds);
        const float target = progress_target(s.progress(), seconds);
        const std::string text = s.text();
        loop.displayed_progress = smooth_progress(loop.displayed_progress, target, dt);

        const bool video_was_shown = r.video_since >= 0;
        render_splash_frame(r, seconds, loop.displayed_progress, clock.video_index, text);
        const SplashChrome& c = loop.chrome;
        draw_caption(r.back_buffer->dc(), r.width, c.caption_height, c.dpi_scale, c.hover_button,
                     c.pressed_button, c.maximized, c.title, c.small_icon.get());
        lay_caption_rows(r, c.caption_height);
        if (ticks.advance(loop.displayed_progress) && !tick.empty())
            PlaySoundW(reinterpret_cast<LPCWSTR>(tick.data()), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
        present(loop);
        ++loop.frames;
        if (loop.frames == 1) {
            cpu_at_first_frame = thread_cpu_ns();
            log.note(seconds, "FIRST frame presented");
            // The video's decoder starts only now: its start-up (much of a
            // core for a while under Wine) would otherwise compete with the
            // window's first frame.
            start_video_workers(r);
        }
        if (!video_was_shown && r.video_since >= 0) log.note(seconds, "VIDEO first frame");
        if (!s.started.load() && !video_opening(r)) s.started.store(true);
        log.frame(loop, seconds, dt, foreground);

        if (s.quit_requested.load()) break;
        if (loop.frames % 6 == 0 && game_loading_window_shown()) {
            end = LoopEnd::handed_over;
            break;
        }
        if (seconds > UNKNOWN_PROGRESS_LIMIT_S && s.progress() < 0) {
            end = LoopEnd::no_progress;
            break;
        }
        timer.wait(clock.wait_for_next());
    }
    log.cpu(loop.frames - 1, thread_cpu_ns() - cpu_at_first_frame, r.frame_source.get());
    // A tick still playing reads from the sound's bytes, which go with this scope.
    if (!tick.empty()) PlaySoundW(nullptr, nullptr, 0);
    return end;
}

}  // namespace

void run_splash_window(SplashStatus& status, SplashRenderer& renderer, int x, int y)
{
    // The loop's record outlives the window: the window procedure reads its
    // chrome through the window's user data until the window is destroyed.
    SplashLoop loop{status, renderer};
    SplashChrome& s = loop.chrome;
    HWND window = create_splash_window(s, x, y, renderer.width, renderer.height);
    if (!window) {
        log_line("splash: the window could not be created (error %lu)", GetLastError());
        return;
    }
    IconHandle big(load_icon(GetSystemMetrics(SM_CXICON)));
    IconHandle fallback_small(s.small_icon ? nullptr : load_icon(GetSystemMetrics(SM_CXSMICON)));
    set_icons(window, big.get(), s.small_icon ? s.small_icon.get() : fallback_small.get());

    ShowWindow(window, SW_SHOWNOACTIVATE);
    loop.window = window;
    loop.x = x;
    loop.y = y;
    loop.last_foreground = GetForegroundWindow();
    log_line("splash: window %dx%d at %d,%d", renderer.width, renderer.height, x, y);
    LoopEnd end = frame_loop(loop);
    log_line("splash: %s after %lld frames", describe(end), static_cast<long long>(loop.frames));
    destroy_splash_window(s, window);
}

LRESULT CALLBACK splash_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    SplashChrome* s = chrome_of(window);
    if (!s) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_NCHITTEST: {
        POINT p{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
        ScreenToClient(window, &p);
        return caption_drags_window(p.x, p.y, client_width(window), s->caption_height, s->dpi_scale,
                                    s->maximized)
                   ? HTCAPTION
                   : HTCLIENT;
    }
    case WM_NCMOUSEMOVE:
    case WM_NCMOUSELEAVE:
    case WM_MOUSELEAVE:
        s->hover_button = NO_BUTTON;
        break;
    case WM_NCLBUTTONDBLCLK:
        if (wparam != HTCAPTION) break;
        s->caption_command = MAXIMISE_BUTTON;
        return 0;
    case WM_MOUSEMOVE: {
        int button = button_under(*s, window, lparam);
        if (button != s->hover_button) {
            s->hover_button = button;
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            TrackMouseEvent(&track);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
        s->pressed_button = button_under(*s, window, lparam);
        if (s->pressed_button != NO_BUTTON) SetCapture(window);
        return 0;
    case WM_LBUTTONUP: {
        const int pressed = std::exchange(s->pressed_button, NO_BUTTON);
        if (pressed != NO_BUTTON) ReleaseCapture();
        if (pressed != NO_BUTTON && button_under(*s, window, lparam) == pressed) s->caption_command = pressed;
        return 0;
    }
    case WM_CLOSE:
        // Closing from the task bar (after a minimise) is the close button.
        s->caption_command = CLOSE_BUTTON;
        return 0;
    case WM_EXITSIZEMOVE:
        s->user_moved = true;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
