// The portable name folding against the system's own: every pair of
// characters that Windows' ordinal ignore-case comparison takes for one must
// get one key here, or two manifest paths naming one file would pass.
#include "formats/file_name_case.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

TEST(FileNameCase, CoversEveryPairTheSystemFolds)
{
    int folded = 0;
    std::string missed;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        wchar_t upper = static_cast<wchar_t>(c);
        CharUpperBuffW(&upper, 1);
        const wchar_t one = static_cast<wchar_t>(c);
        bool system_same = upper != one && CompareStringOrdinal(&one, 1, &upper, 1, TRUE) == CSTR_EQUAL;
        if (!system_same) continue;
        ++folded;
        if (upper_case_of(c) != upper_case_of(static_cast<char32_t>(upper)) && missed.size() < 200)
            missed += std::to_string(static_cast<unsigned>(c)) + " ";
    }
    EXPECT_GT(folded, 1000);
    EXPECT_EQ(missed, "");
}
