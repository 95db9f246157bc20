#include "splash/dwm_calls.h"

namespace {

// Values of the attributes and corner preferences, fixed by the system.
constexpr DWORD EXTENDED_FRAME_BOUNDS_ATTRIBUTE = 9;
constexpr DWORD CORNER_PREFERENCE_ATTRIBUTE = 33;
constexpr int CORNERS_SQUARE = 1;
constexpr int CORNERS_ROUND = 2;

using AttributeCall = HRESULT(WINAPI*)(HWND, DWORD, void*, DWORD);

struct DwmCalls {
    AttributeCall set_attribute = nullptr;
    AttributeCall get_attribute = nullptr;
};

// dwmapi stays loaded for the life of the process once found.
const DwmCalls& dwm_calls()
{
    static const DwmCalls calls = [] {
        DwmCalls c;
        HMODULE dwm = LoadLibraryExW(L"dwmapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!dwm) return c;
        c.set_attribute = reinterpret_cast<AttributeCall>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
        c.get_attribute = reinterpret_cast<AttributeCall>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmGetWindowAttribute")));
        return c;
    }();
    return calls;
}

}  // namespace

void set_corner_preference(HWND window, bool round)
{
    if (!dwm_calls().set_attribute) return;
    int preference = round ? CORNERS_ROUND : CORNERS_SQUARE;
    dwm_calls().set_attribute(window, CORNER_PREFERENCE_ATTRIBUTE, &preference, sizeof preference);
}

bool extended_frame_bounds(HWND window, RECT& rect)
{
    if (!dwm_calls().get_attribute) return false;
    RECT bounds{};
    if (FAILED(dwm_calls().get_attribute(window, EXTENDED_FRAME_BOUNDS_ATTRIBUTE, &bounds, sizeof bounds)))
        return false;
    if (bounds.left >= bounds.right) return false;
    rect = bounds;
    return true;
}
