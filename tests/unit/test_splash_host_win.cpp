// The host walk's memory of other processes' windows, under Wine: it never
// holds a window of this process, so a window that comes to qualify later
// is still found. Windows need a display: without one the test is skipped,
// and the windowed end-to-end tests run it with theirs.
#include <windows.h>

#include "splash/splash_loop.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(SplashHost, AWindowOfThisProcessIsFoundOnceItQualifiesDespiteTheMemory)
{
    HWND later = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (!later) GTEST_SKIP() << "no display for a window";
    std::vector<HWND> foreign;
    EXPECT_EQ(find_host_window(nullptr, foreign), nullptr);   // hidden: no host, the whole list walked
    for (HWND w : foreign) EXPECT_FALSE(is_own_window(w));
    ShowWindow(later, SW_SHOWNOACTIVATE);
    EXPECT_EQ(find_host_window(nullptr, foreign), later);
    DestroyWindow(later);
    EXPECT_EQ(find_host_window(nullptr, foreign), nullptr);
}
