#include "splash/splash_state.h"

#include "base/log.h"
#include "base/com_apartment.h"
#include "splash/frame_timer.h"
#include "splash/gdiplus_api.h"
#include "splash/handover_stamp.h"
#include "splash/splash_assets.h"
#include "splash/splash_geometry.h"
#include "splash/splash_renderer.h"
#include "splash/splash_window.h"
#include "splash/window_placement.h"

#include <system_error>

SplashState splash_state;

namespace {

// A name for debuggers and profilers (Windows 10 1607 and later; looked up,
// as older systems lack the call).
void name_this_thread(const wchar_t* name)
{
    using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto describe = reinterpret_cast<Describe>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (describe) describe(GetCurrentThread(), name);
}

}  // namespace

void splash_thread_main()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    name_this_thread(L"tarnwick splash");
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    ComApartment apartment;
    GdiplusSession gdiplus;
    if (!gdiplus.ok()) {
        log_line("splash: GDI+ did not start -- no splash window");
        return;
    }
    const int screen_w = GetSystemMetrics(SM_CXSCREEN);
    const int screen_h = GetSystemMetrics(SM_CYSCREEN);
    WindowRect r = centred_start_rect(screen_w, screen_h, splash_state.default_width, splash_state.default_height);
    read_window_placement(screen_w, screen_h, r.x, r.y, r.w, r.h);
    if (r.w < 1 || r.h < 1) {
        log_line("splash: no screen -- no splash window");
        return;
    }
    SplashRenderer renderer;
    // The window shows at once over the dark fill; after its first frame the
    // poster and the video are made on threads of their own and fade in.
    if (load_splash_assets(renderer, splash_state.assets_dir, r.w, r.h, VideoOpening::on_its_thread)) {
        run_splash_window(splash_state, renderer, r.x, r.y);
    } else {
        log_line("splash: the pictures did not load -- no splash window");
    }
    release_splash_assets(renderer);
}

bool start_splash(const std::string& assets_dir, int width, int height)
{
    SplashState& s = splash_state;
    if (s.splash_thread.joinable()) return true;
    write_handover_stamp();
    s.assets_dir = assets_dir;
    s.default_width = width;
    s.default_height = height;
    s.start_time = splash_clock_ns();
    s.started.store(false);
    s.splash_alive.exchange(true);
    try {
        s.splash_thread = std::thread([] {
            splash_thread_main();
            splash_state.splash_alive.exchange(false);
        });
    } catch (const std::system_error& e) {
        // The run goes on without a window, as after a splash that closed.
        s.splash_alive.exchange(false);
        log_line("splash: could not start its thread (%s) -- no splash window", e.what());
        return false;
    }
    return true;
}

void stop_splash()
{
    splash_state.quit_requested.exchange(true);
    if (splash_state.splash_thread.joinable()) splash_state.splash_thread.join();
}
