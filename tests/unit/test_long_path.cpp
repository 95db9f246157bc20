#include "base/long_path.h"

#include <gtest/gtest.h>

TEST(LongPath, AbsolutePathsTakeTheTidyLongForm)
{
    const struct { const wchar_t* in; const wchar_t* out; } cases[] = {
        {L"C:\\games\\tw\\data\\a.pak", L"\\\\?\\C:\\games\\tw\\data\\a.pak"},
        {L"c:/games//tw/./data/", L"\\\\?\\c:\\games\\tw\\data"},
        {L"C:\\games\\tw\\..\\..\\..\\x", L"\\\\?\\C:\\x"},          // never above the drive
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"C:\\games\\tw\\", L"\\\\?\\C:\\games\\tw"},            // backslashes only, still tidied
        {L"C:\\games\\\\.\\tw\\..\\a", L"\\\\?\\C:\\games\\a"},
        {L"\\\\server\\share\\tw\\a.pak", L"\\\\?\\UNC\\server\\share\\tw\\a.pak"},
        {L"//server/share/tw/../b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"\\\\?\\C:\\already\\..\\as is", L"\\\\?\\C:\\already\\..\\as is"},
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
        {L"relative\\a.pak", L"relative\\a.pak"},   // has no long form
        {L"\\\\server", L"\\\\server"},             // no share named
        {L"C:x", L"C:x"},                           // relative to the drive's folder
    };
    for (const auto& c : cases) EXPECT_EQ(extended_path(c.in), c.out) << c.in;
}

TEST(LongPath, OnlyShortFormsOf260OrMoreAreTooLong)
{
    const std::wstring deep = L"C:\\" + std::wstring(256, L'x');   // 259 characters: fits
    EXPECT_FALSE(too_long_for_short_form(deep));
    EXPECT_TRUE(too_long_for_short_form(deep + L"x"));
    EXPECT_FALSE(too_long_for_short_form(extended_path(deep + L"x")));
}
