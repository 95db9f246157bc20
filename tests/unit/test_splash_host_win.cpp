// The host walk's memory of other processes' windows never holds one of this
// process, so a window that comes to qualify later is still found. Without a
// display the test is skipped; the windowed end-to-end tests run it with one.
#include <windows.h>

#include "splash/splash_loop.h"

#include <gtest/gtest.h>

TEST(SplashHost, AWindowOfThisProcessIsFoundOnceItQualifiesDespiteTheMemory)
{
    HWND later = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (!later) GTEST_SKIP() << "no display for a window";
    std::vector<HWND> foreign;
    EXPECT_EQ(find_host_window(nullptr, foreign), nullptr);   // hidden: no host, the whole list walked
    ShowWindow(later, SW_SHOWNOACTIVATE);
    EXPECT_EQ(find_host_window(nullptr, foreign), later);
    DestroyWindow(later);
    EXPECT_EQ(find_host_window(nullptr, foreign), nullptr);
}
