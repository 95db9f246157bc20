#include "splash/window_placement.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool parse(const std::string& text, int& x, int& y, int& w, int& h)
{
    return parse_window_placement(text, 1920, 1080, x, y, w, h);
}

void set_env(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

}  // namespace

TEST(WindowPlacement, AcceptsAWindowOnAMonitorLeftOfThePrimary)
{
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(parse("v2 -1900 100 1600 900", x, y, w, h));
    EXPECT_EQ(x, -1900);
    EXPECT_EQ(y, 100);
    EXPECT_EQ(w, 1600);
    EXPECT_EQ(h, 900);
}

TEST(WindowPlacement, AcceptsTheLimitsExactly)
{
    int x, y, w, h;
    EXPECT_TRUE(parse("v2 0 0 1920 1080\r\n", x, y, w, h));
    EXPECT_TRUE(parse("v2 5 880 320 200", x, y, w, h));
}

TEST(WindowPlacement, RejectsBadVersionsSizesAndShortLines)
{
    int x = 7, y = 7, w = 7, h = 7;
    EXPECT_FALSE(parse("v2 0 0 1920 1081", x, y, w, h));  // below the screen
    EXPECT_FALSE(parse("v1 0 0 800 600", x, y, w, h));
    EXPECT_FALSE(parse("v3 0 0 800 600", x, y, w, h));
    EXPECT_FALSE(parse("v2 10 20 800", x, y, w, h));
    EXPECT_FALSE(parse("v2 0 0 800 199", x, y, w, h));
    EXPECT_FALSE(parse("v2 0 0 319 600", x, y, w, h));
    EXPECT_FALSE(parse("v2 0 0 1921 600", x, y, w, h));
    EXPECT_FALSE(parse("v2 0 -1 800 600", x, y, w, h));
    EXPECT_FALSE(parse("2 0 0 800 600", x, y, w, h));
    EXPECT_FALSE(parse("", x, y, w, h));
    EXPECT_FALSE(parse("v2 a b c d", x, y, w, h));
    // Outputs stay untouched on rejection.
    EXPECT_EQ(x + y + w + h, 28);
}

TEST(WindowPlacement, RejectsNumbersBeyondThirtyTwoBits)
{
    int x, y, w, h;
    // y + height would wrap to a small number in 32-bit arithmetic.
    EXPECT_FALSE(parse("v2 0 2147483000 800 2147483000", x, y, w, h));
    EXPECT_FALSE(parse("v2 99999999999999999999 0 800 600", x, y, w, h));
    EXPECT_FALSE(parse("v4294967298 0 0 800 600", x, y, w, h));
}

TEST(WindowPlacement, ReadsTheFileBelowLocalAppData)
{
    // The file name is joined with a backslash as on Windows; natively that
    // simply makes a file whose name holds a backslash.
    std::string folder = testing::TempDir();
#ifdef _WIN32
    folder.pop_back();
#else
    folder += "placement";
#endif
    const std::string file = folder + "\\tarnwick-window.txt";

    set_env("LOCALAPPDATA", nullptr);
    int x = 0, y = 0, w = 0, h = 0;
    EXPECT_FALSE(read_window_placement(1920, 1080, x, y, w, h));

    set_env("LOCALAPPDATA", folder.c_str());
    std::remove(file.c_str());
    EXPECT_FALSE(read_window_placement(1920, 1080, x, y, w, h));

    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("v2 40 30 1280 720\n", f);
    std::fclose(f);
    EXPECT_TRUE(read_window_placement(1920, 1080, x, y, w, h));
    EXPECT_EQ(x, 40);
    EXPECT_EQ(h, 720);
    EXPECT_FALSE(read_window_placement(1024, 768, x, y, w, h));
    std::remove(file.c_str());
    set_env("LOCALAPPDATA", nullptr);
}
