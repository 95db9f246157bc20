#include "formats/relative_path.h"

#include <gtest/gtest.h>

TEST(RelativePath, PlainRelativePathsAreSafe)
{
    for (const char* p : {"a", "game.exe", "data/pak/01.pak", "a/.b/c", "name with spaces.txt",
                          "\xc3\xa9t\xc3\xa9/\xe6\x97\xa5.dat"})
        EXPECT_TRUE(is_safe_relative_path(p)) << p;
}

TEST(RelativePath, AnythingThatCouldLeaveTheFolderIsRefused)
{
    for (const char* p : {"", "/abs", "\\abs", "C:/x", "c:x", "C:\\x", "\\\\server\\share\\x", "//server/share",
                          "a//b", "a/", "./a", "a/./b", "a/.", "..", "../x", "a/../../x", "a/..",
                          "a\\b", "a:stream", "x/y:z"})
        EXPECT_FALSE(is_safe_relative_path(p)) << p;
}

TEST(RelativePath, NamesWindowsWouldRewriteAreRefused)
{
    // Trailing dots and spaces are stripped by Windows: "a." is the file "a",
    // "..." becomes a ".." segment, ".. " the folder itself.
    for (const char* p : {"a.", "dir./x", "...", "a/.../b", ".. ", "a/.. /b", "x ", "dir /x", ". ./x"})
        EXPECT_FALSE(is_safe_relative_path(p)) << p;
    for (const char* p : {".hidden", "a/.b", " lead", "a.b", "a/b.c/d"})
        EXPECT_TRUE(is_safe_relative_path(p)) << p;
    EXPECT_FALSE(is_safe_run_exe("...\\game.exe"));
    EXPECT_FALSE(is_safe_run_exe("game.exe."));
    EXPECT_FALSE(is_safe_run_exe("bin /game.exe"));
}

TEST(RelativePath, ShortNameAliasesAreRefused)
{
    // "LAUNCH~1" can open the launcher's own folder, "DATA~1.BIN" another entry.
    for (const char* p : {"LAUNCH~1", "launch~1/tarnwick.exe", "data/DATA~1.BIN", "a/PROGR~12/b", "~1",
                          "AB12~1.e"})
        EXPECT_FALSE(is_safe_relative_path(p)) << p;
    EXPECT_FALSE(is_safe_run_exe("GAME~1.EXE"));
    EXPECT_FALSE(is_safe_run_exe("bin\\BIN~2\\game.exe"));
    // Not the 8.3 form: too long, no digits after '~', a long extension or two dots.
    for (const char* p : {"longname~1", "a~b", "x~", "a~1.json", "a~1.b.c", "file~1x.txt", "~"})
        EXPECT_TRUE(is_safe_relative_path(p)) << p;
}

TEST(RelativePath, ControlCharactersAreRefused)
{
    EXPECT_FALSE(is_safe_relative_path(std::string("a\0b", 3)));
    EXPECT_FALSE(is_safe_relative_path("a\nb"));
    EXPECT_FALSE(is_safe_relative_path("a\x1f"));
    EXPECT_FALSE(is_safe_relative_path("a\x7f"));
    EXPECT_TRUE(is_safe_relative_path("a\xC2\x80"));   // U+0080 is a name character, not a control
}

TEST(RelativePath, NamesWindowsCannotHoldAreRefused)
{
    // Malformed UTF-8: a stray continuation byte, an overlong '/', a
    // surrogate, a cut sequence, a code point above U+10FFFF, a lone lead.
    for (const char* p : {"\x80", "a\xC0\xAF", "\xED\xA0\x80.bin", "\xE6\x97", "\xF4\x90\x80\x80", "a\xFF" "b",
                          "d/\xC3"})
        EXPECT_FALSE(is_safe_relative_path(p)) << p;
    EXPECT_TRUE(is_safe_relative_path("\xF0\x9F\x8E\xAE/\xEF\xBF\xBD"));   // U+1F3AE, U+FFFD itself
    for (char c : std::string("<>:\"|?*")) {
        EXPECT_FALSE(is_safe_relative_path(std::string("a") + c + "b")) << c;
        EXPECT_FALSE(is_safe_run_exe(std::string("bin/g") + c + ".exe")) << c;
    }
    // Device names, alone or before an extension, in any folder and case.
    for (const char* p : {"CON", "nul.txt", "a/Com1.log", "LPT9", "aux .x", "prn.a.b", "COM\xC2\xB9", "conout$"})
        EXPECT_FALSE(is_safe_relative_path(p)) << p;
    EXPECT_FALSE(is_safe_run_exe("bin\\nul.exe"));
    for (const char* p : {"CONSOLE", "com10", "nul_", "xcon", "LPT", "a/auxiliary.txt", "com/x"})
        EXPECT_TRUE(is_safe_relative_path(p)) << p;
}

TEST(RelativePath, RunExeMayUseEitherSlashButStaysInside)
{
    for (const char* p : {"tarnwick.exe", "bin/game.exe", "bin\\game.exe", "./game.exe", "bin\\./game.exe"})
        EXPECT_TRUE(is_safe_run_exe(p)) << p;
    for (const char* p : {"", "/game.exe", "\\game.exe", "C:\\game.exe", "c:game.exe", "\\\\host\\s\\g.exe",
                          "..\\game.exe", "../game.exe", "bin\\..\\..\\game.exe", "bin/../game.exe",
                          "bin//game.exe", "bin\\"})
        EXPECT_FALSE(is_safe_run_exe(p)) << p;
    EXPECT_FALSE(is_safe_run_exe("game\t.exe"));
}

TEST(RelativePath, PieceIdsAreExactly64LowercaseHexDigits)
{
    const std::string good = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(is_piece_id(good));
    EXPECT_FALSE(is_piece_id(good.substr(1)));
    EXPECT_FALSE(is_piece_id(good + "0"));
    EXPECT_FALSE(is_piece_id(""));
    std::string upper = good;
    upper[10] = 'A';
    EXPECT_FALSE(is_piece_id(upper));
    for (char c : {'g', '/', '.', ' ', '\0'}) {
        std::string bad = good;
        bad[63] = c;
        EXPECT_FALSE(is_piece_id(bad)) << int(c);
    }
}
