// A stand-in for the game in end-to-end and unit tests.
//
//   fake_game.exe [--out FILE] [--loading-window-after MS] [--sleep MS]
//                 [--until-gone FILE] [--exit CODE] [anything else]
//
// Writes its full command line and its current folder (UTF-8, one per line)
// to FILE (or to the file named by FAKE_GAME_OUT). With --loading-window-after
// it then opens its loading window (class "tarnwickSplash", the launcher's
// hand-over signal) hidden and shows it MS milliseconds later. Then it waits
// MS of --sleep and/or while FILE of --until-gone exists (at most two
// minutes), and exits with CODE (default 0). Unknown arguments are ignored, as
// the real game's are by the launcher.
#include "tests/programs/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void write_report(const std::wstring& path)
{
    wchar_t cwd[1024] = {};
    GetCurrentDirectoryW(1024, cwd);
    std::string text = utf8(GetCommandLineW()) + "\n" + utf8(cwd) + "\n";
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits while answering messages, so the loading window stays responsive.
void pump_for(DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

HWND open_hidden_loading_window()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"tarnwickSplash";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"loading", WS_POPUP, 100, 100, 640, 360, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring out, until_gone;
    DWORD sleep_ms = 0;
    long window_after = -1;
    int code = 0;
    wchar_t env[1024] = {};
    if (GetEnvironmentVariableW(L"FAKE_GAME_OUT", env, 1024) > 0) out = env;
    for (int i = 1; i + 1 < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--out") out = argv[++i];
        else if (a == L"--sleep") sleep_ms = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        else if (a == L"--until-gone") until_gone = argv[++i];
        else if (a == L"--loading-window-after") window_after = std::wcstol(argv[++i], nullptr, 10);
        else if (a == L"--exit") code = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
    }
    if (!out.empty()) write_report(out);
    if (window_after >= 0) {
        HWND loading = open_hidden_loading_window();
        pump_for(static_cast<DWORD>(window_after));
        ShowWindow(loading, SW_SHOWNOACTIVATE);
    }
    pump_for(sleep_ms);
    for (int waited = 0; !until_gone.empty() && exists(until_gone) && waited < 120000; waited += 50) pump_for(50);
    return code;
}
