// Looks at top-level windows from the Windows side, for end-to-end tests.
//
//   window_list.exe [--class NAME] [--wait IMAGE] [--watch IMAGE] [--timeout MS]
//   window_list.exe --press-ok IMAGE [--timeout MS]
//   window_list.exe --press-no IMAGE [--timeout MS]
//   window_list.exe --press-yes IMAGE [--timeout MS]
//   window_list.exe --class NAME --first-frame IMAGE [--timeout MS]
//
// Lists top-level windows (of class NAME when given), one per line, fields
// separated by tabs: handle, class, process id, process image, visible (1/0),
// style and extended style (hex), left, top, width, height, title (UTF-8).
// --wait IMAGE first waits until a process with that image shows a visible
// window (of the class); --watch IMAGE prints a listing every 100 ms, each
// after a line "@ <ms since start>", until that process has no window (of the
// class) left. --press-ok waits for a message box ("#32770") of a process with
// that image, prints "<caption>\t<text>" and presses OK; --press-no and
// --press-yes do the same with the buttons of a Yes/No box. --first-frame
// prints "ready" once it looks, then waits for a window of that process (of
// the class) to be visible and painted on the screen -- its caption band,
// which the splash draws white with the system's accent colour off (Wine's
// default), read back from the screen -- and prints "visible <ms>" and
// "painted <ms>" with the wall-clock times (ms since 1970). IMAGE is a full
// Windows path or a bare file name, compared ignoring case. Exit code 0, or 2
// when the timeout (default 60 s) passed first.
#include "tests/programs/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

std::wstring image_of(DWORD pid)
{
    static std::map<DWORD, std::wstring> known;
    auto found = known.find(pid);
    if (found != known.end()) return found->second;
    std::wstring image;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        wchar_t buffer[1024] = {};
        DWORD size = 1024;
        if (QueryFullProcessImageNameW(process, 0, buffer, &size)) image = buffer;
        CloseHandle(process);
    }
    return known[pid] = image;
}

bool image_matches(const std::wstring& image, const std::wstring& wanted)
{
    std::wstring compared = image;
    if (wanted.find(L'\\') == std::wstring::npos) {
        size_t cut = image.find_last_of(L"\\/");
        if (cut != std::wstring::npos) compared = image.substr(cut + 1);
    }
    return CompareStringOrdinal(compared.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL;
}

struct Window {
    HWND handle;
    std::wstring class_name;
    DWORD pid;
    std::wstring image;
    bool visible;
    LONG style, ex_style;
    RECT rect;
    std::wstring title;
};

BOOL CALLBACK collect(HWND handle, LPARAM param)
{
    Window w{};
    w.handle = handle;
    wchar_t text[256] = {};
    GetClassNameW(handle, text, 256);
    w.class_name = text;
    GetWindowThreadProcessId(handle, &w.pid);
    w.image = image_of(w.pid);
    w.visible = IsWindowVisible(handle) != FALSE;
    w.style = GetWindowLongW(handle, GWL_STYLE);
    w.ex_style = GetWindowLongW(handle, GWL_EXSTYLE);
    GetWindowRect(handle, &w.rect);
    text[0] = 0;
    InternalGetWindowText(handle, text, 256);
    w.title = text;
    reinterpret_cast<std::vector<Window>*>(param)->push_back(w);
    return TRUE;
}

std::vector<Window> windows(const std::wstring& class_name)
{
    std::vector<Window> all, kept;
    EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
    for (const Window& w : all)
        if (class_name.empty() || w.class_name == class_name) kept.push_back(w);
    return kept;
}

void print(const std::vector<Window>& list)
{
    for (const Window& w : list)
        std::printf("%p\t%s\t%lu\t%s\t%d\t%08lx\t%08lx\t%ld\t%ld\t%ld\t%ld\t%s\n", static_cast<void*>(w.handle),
                    utf8(w.class_name).c_str(), w.pid, utf8(w.image).c_str(), w.visible ? 1 : 0,
                    static_cast<unsigned long>(w.style), static_cast<unsigned long>(w.ex_style), w.rect.left,
                    w.rect.top, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top, utf8(w.title).c_str());
    std::fflush(stdout);
}

bool has_window_of(const std::vector<Window>& list, const std::wstring& image, bool visible_only)
{
    for (const Window& w : list)
        if (image_matches(w.image, image) && (w.visible || !visible_only)) return true;
    return false;
}

BOOL CALLBACK collect_text(HWND child, LPARAM param)
{
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    wchar_t text[1024] = {};
    GetWindowTextW(child, text, 1024);
    auto& out = *reinterpret_cast<std::wstring*>(param);
    if (CompareStringOrdinal(name, -1, L"Static", -1, TRUE) == CSTR_EQUAL && text[0]) {
        if (!out.empty()) out += L" | ";
        out += text;
    }
    return TRUE;
}

long long unix_ms()
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return static_cast<long long>((ticks.QuadPart - 116444736000000000ull) / 10000);
}

// True when the top band of the window's rectangle on the screen is white
// where the caption is drawn (a middle run of the row five pixels down).
bool caption_painted(const RECT& r)
{
    const int width = (r.right - r.left) / 2;
    if (width < 8 || r.bottom - r.top < 8) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP row = CreateCompatibleBitmap(screen, width, 1);
    HGDIOBJ old = SelectObject(memory, row);
    BitBlt(memory, 0, 0, width, 1, screen, r.left + width / 2, r.top + 5, SRCCOPY);
    int white = 0;
    for (int x = 0; x < width; x += 4)
        if ((GetPixel(memory, x, 0) & 0xFFFFFF) == 0xFFFFFF) ++white;
    SelectObject(memory, old);
    DeleteObject(row);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return white * 4 >= width * 9 / 10;
}

int first_frame(const std::wstring& class_name, const std::wstring& image, DWORD timeout)
{
    std::printf("ready\n");
    std::fflush(stdout);
    long long visible = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeout; Sleep(5)) {
        for (const Window& w : windows(class_name)) {
            if (!w.visible || !image_matches(w.image, image)) continue;
            if (!visible) visible = unix_ms();
            if (!caption_painted(w.rect)) continue;
            std::printf("visible %lld\npainted %lld\n", visible, unix_ms());
            return 0;
        }
    }
    return 2;
}

int press_button(const std::wstring& image, DWORD timeout, int button)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeout; Sleep(50)) {
        for (const Window& w : windows(L"#32770")) {
            if (!w.visible || !image_matches(w.image, image)) continue;
            std::wstring text;
            EnumChildWindows(w.handle, collect_text, reinterpret_cast<LPARAM>(&text));
            std::printf("%s\t%s\n", utf8(w.title).c_str(), utf8(text).c_str());
            std::fflush(stdout);
            PostMessageW(w.handle, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(w.handle, button)));
            return 0;
        }
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring class_name, wait_image, watch_image, ok_image, no_image, yes_image, first_frame_image;
    DWORD timeout = 60000;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring a = argv[i];
        if (a == L"--class") class_name = argv[i + 1];
        else if (a == L"--wait") wait_image = argv[i + 1];
        else if (a == L"--watch") watch_image = argv[i + 1];
        else if (a == L"--press-ok") ok_image = argv[i + 1];
        else if (a == L"--press-no") no_image = argv[i + 1];
        else if (a == L"--press-yes") yes_image = argv[i + 1];
        else if (a == L"--first-frame") first_frame_image = argv[i + 1];
        else if (a == L"--timeout") timeout = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    }
    if (!ok_image.empty()) return press_button(ok_image, timeout, IDOK);
    if (!no_image.empty()) return press_button(no_image, timeout, IDNO);
    if (!yes_image.empty()) return press_button(yes_image, timeout, IDYES);
    if (!first_frame_image.empty()) return first_frame(class_name, first_frame_image, timeout);

    const DWORD start = GetTickCount();
    if (!wait_image.empty()) {
        while (!has_window_of(windows(class_name), wait_image, true)) {
            if (GetTickCount() - start >= timeout) return 2;
            Sleep(20);
        }
    }
    if (watch_image.empty()) {
        print(windows(class_name));
        return 0;
    }
    for (;;) {
        std::vector<Window> list = windows(class_name);
        std::printf("@ %lu\n", GetTickCount() - start);
        print(list);
        if (!has_window_of(list, watch_image, false)) return 0;
        if (GetTickCount() - start >= timeout) return 2;
        Sleep(100);
    }
}
