#include "formats/manifest.h"

#include <gtest/gtest.h>

namespace {

const std::string ID_A(64, 'a');
const std::string ID_B = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// A small accepted manifest with `extra` spliced in as further top-level
// members (a later repeat of a key wins).
std::string manifest_text(const std::string& extra = "")
{
    return "{\"format\":1,\"version\":\"1.2\",\"build\":\"b7\",\"run\":{\"exe\":\"tarnwick.exe\","
           "\"args\":\"--loading-window {app}\"},\"files\":[{\"p\":\"tarnwick.exe\",\"h\":\"" + ID_A +
           "\",\"s\":10,\"c\":[[\"" + ID_A + "\",7,0]]}]" + extra + "}";
}

bool accepts(const std::string& text, Manifest* out = nullptr)
{
    Manifest m;
    bool ok = parse_manifest(text, m);
    if (out) *out = m;
    return ok;
}

// The rule that refused the text ("none" when it was accepted); the answer
// and the reason must agree.
std::string refusal(const std::string& text)
{
    Manifest m;
    DocumentRefusal reason = DocumentRefusal::syntax;
    bool ok = parse_manifest(text, m, &reason);
    EXPECT_EQ(ok, reason == DocumentRefusal::none);
    return document_refusal_name(reason);
}

// A manifest whose single file is `file_entry` (JSON object text).
std::string with_file(const std::string& file_entry, const std::string& run_exe = "game.exe")
{
    return "{\"format\":1,\"run\":{\"exe\":\"" + run_exe + "\"},\"files\":[" + file_entry + "]}";
}

std::string file_at(const std::string& path)
{
    return "{\"p\":\"" + path + "\",\"h\":\"" + ID_A + "\",\"s\":1}";
}

}  // namespace

TEST(Manifest, ReadsEveryField)
{
    std::string text =
        "{\"format\":1,\"version\":\"2024.1\",\"build\":\"ci-88\",\"piece\":4194304,"
        "\"run\":{\"exe\":\"bin/game.exe\",\"args\":\"-x {app}\"},"
        "\"files\":[{\"p\":\"bin/game.exe\",\"h\":\"" + ID_B + "\",\"s\":5000000,"
        "\"c\":[[\"" + ID_A + "\",100,0],[\"" + ID_B + "\",200,1]]},"
        "{\"p\":\"empty.txt\",\"h\":\"" + ID_A + "\",\"s\":0,\"c\":[]}],"
        "\"launcher\":{\"p\":\"tarnwick.exe\",\"h\":\"" + ID_A + "\",\"s\":42,\"version\":6,"
        "\"c\":[[\"" + ID_B + "\",40,0]]}}";
    Manifest m;
    ASSERT_TRUE(parse_manifest(text, m));
    EXPECT_EQ(m.version, "2024.1");
    EXPECT_EQ(m.build, "ci-88");
    EXPECT_EQ(m.piece_size, 4194304);
    EXPECT_EQ(m.run_exe, "bin/game.exe");
    EXPECT_EQ(m.run_args, "-x {app}");
    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].path, "bin/game.exe");
    EXPECT_EQ(m.files[0].hash, ID_B);
    EXPECT_EQ(m.files[0].size, 5000000);
    ASSERT_EQ(m.files[0].pieces.size(), 2u);
    EXPECT_EQ(m.files[0].pieces[0].id, ID_A);
    EXPECT_EQ(m.files[0].pieces[0].transfer_size, 100);
    EXPECT_FALSE(m.files[0].pieces[0].stored);
    EXPECT_EQ(m.files[0].pieces[1].id, ID_B);
    EXPECT_TRUE(m.files[0].pieces[1].stored);
    EXPECT_EQ(m.files[1].path, "empty.txt");
    EXPECT_TRUE(m.files[1].pieces.empty());
    EXPECT_EQ(m.launcher.path, "tarnwick.exe");
    EXPECT_EQ(m.launcher.size, 42);
    ASSERT_EQ(m.launcher.pieces.size(), 1u);
    EXPECT_EQ(m.launcher.pieces[0].transfer_size, 40);
    EXPECT_EQ(m.launcher_version, 6);
}

TEST(Manifest, FormatMustTruncateToOne)
{
    EXPECT_TRUE(accepts(manifest_text(",\"format\":1.9")));
    EXPECT_TRUE(accepts(manifest_text(",\"format\":1e0")));
    EXPECT_EQ(refusal(manifest_text(",\"format\":2")), "format");
    EXPECT_EQ(refusal(manifest_text(",\"format\":0.99")), "format");
    EXPECT_EQ(refusal(manifest_text(",\"format\":\"1\"")), "format");
    EXPECT_EQ(refusal(manifest_text(",\"format\":true")), "format");
    EXPECT_EQ(refusal(manifest_text(",\"format\":null")), "format");
    std::string without = manifest_text();
    without.erase(without.find("\"format\":1,"), 11);
    EXPECT_EQ(refusal(without), "format");
}

TEST(Manifest, RejectedFormatLeavesTheModelUntouched)
{
    Manifest m;
    m.version = "kept";
    m.piece_size = 123;
    EXPECT_FALSE(parse_manifest(manifest_text(",\"format\":2"), m));
    EXPECT_EQ(m.version, "kept");
    EXPECT_EQ(m.piece_size, 123);
    EXPECT_TRUE(m.files.empty());
}

TEST(Manifest, NeedsFilesAndAGameExecutable)
{
    EXPECT_EQ(refusal(manifest_text(",\"files\":[]")), "no_files");
    EXPECT_EQ(refusal(manifest_text(",\"files\":{}")), "no_files");
    EXPECT_EQ(refusal(manifest_text(",\"run\":{\"exe\":\"\"}")), "no_exe");
    EXPECT_EQ(refusal(manifest_text(",\"run\":{\"args\":\"x\"}")), "no_exe");
    EXPECT_EQ(refusal(manifest_text(",\"run\":\"tarnwick.exe\"")), "no_exe");
    EXPECT_EQ(refusal("{\"format\":1,\"files\":[" + file_at("a") + "]}"), "no_exe");
    EXPECT_EQ(refusal(""), "syntax");
    EXPECT_EQ(refusal("[" + manifest_text() + "]"), "syntax");
    std::string truncated = manifest_text();
    EXPECT_EQ(refusal(truncated.substr(0, truncated.size() - 1)), "syntax");
}

TEST(Manifest, PieceSizeOnlyWhenPositive)
{
    Manifest m;
    ASSERT_TRUE(accepts(manifest_text(), &m));
    EXPECT_EQ(m.piece_size, 16777216);
    for (const char* piece : {",\"piece\":0", ",\"piece\":-4194304", ",\"piece\":0.5", ",\"piece\":\"4194304\""}) {
        ASSERT_TRUE(accepts(manifest_text(piece), &m)) << piece;
        EXPECT_EQ(m.piece_size, 16777216) << piece;
    }
    ASSERT_TRUE(accepts(manifest_text(",\"piece\":4194304"), &m));
    EXPECT_EQ(m.piece_size, 4194304);
    ASSERT_TRUE(accepts(manifest_text(",\"piece\":65536.9"), &m));
    EXPECT_EQ(m.piece_size, 65536);
}

TEST(Manifest, PieceEntriesReadLeniently)
{
    Manifest m;
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"h\":\"" + ID_A + "\",\"s\":1}"), &m));
    EXPECT_TRUE(m.files[0].pieces.empty());

    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":1,\"c\":[[\"" + ID_A + "\"]]}"), &m));
    ASSERT_EQ(m.files[0].pieces.size(), 1u);
    EXPECT_EQ(m.files[0].pieces[0].id, ID_A);
    EXPECT_EQ(m.files[0].pieces[0].transfer_size, 0);
    EXPECT_FALSE(m.files[0].pieces[0].stored);

    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"c\":[[\"" + ID_A + "\",9,1],[\"" + ID_A + "\",9,0.25],[\"" +
                                  ID_A + "\",9,-1],[\"" + ID_A + "\",9,\"1\"]]}"),
                        &m));
    ASSERT_EQ(m.files[0].pieces.size(), 4u);
    EXPECT_TRUE(m.files[0].pieces[0].stored);
    EXPECT_TRUE(m.files[0].pieces[1].stored);    // any non-zero number
    EXPECT_TRUE(m.files[0].pieces[2].stored);
    EXPECT_FALSE(m.files[0].pieces[3].stored);   // a string is not a number
}

TEST(Manifest, NumbersAreTruncatedDoubles)
{
    Manifest m;
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":1.5e3,\"c\":[[\"" + ID_A + "\",2.9e1,0]]}"), &m));
    EXPECT_EQ(m.files[0].size, 1500);
    EXPECT_EQ(m.files[0].pieces[0].transfer_size, 29);
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":-7.9}"), &m));
    EXPECT_EQ(m.files[0].size, -7);
    // Beyond 2^53 a double cannot hold every integer.
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":9007199254740993}"), &m));
    EXPECT_EQ(m.files[0].size, 9007199254740992);
    // Out of range saturates instead of overflowing.
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":1e300}"), &m));
    EXPECT_EQ(m.files[0].size, INT64_MAX);
    ASSERT_TRUE(accepts(with_file("{\"p\":\"a\",\"s\":-1e300}"), &m));
    EXPECT_EQ(m.files[0].size, INT64_MIN);
}

TEST(Manifest, LauncherEntryIsOptional)
{
    Manifest m;
    ASSERT_TRUE(accepts(manifest_text(), &m));
    EXPECT_EQ(m.launcher.path, "");
    EXPECT_EQ(m.launcher.size, 0);
    EXPECT_TRUE(m.launcher.pieces.empty());
    EXPECT_EQ(m.launcher_version, 0);

    ASSERT_TRUE(accepts(manifest_text(",\"launcher\":{\"version\":4294967302}"), &m));
    EXPECT_EQ(m.launcher_version, 6);   // low 32 bits of 2^32 + 6
    ASSERT_TRUE(accepts(manifest_text(",\"launcher\":{\"version\":2147483648}"), &m));
    EXPECT_EQ(m.launcher_version, INT32_MIN);
    ASSERT_TRUE(accepts(manifest_text(",\"launcher\":{\"version\":7.8}"), &m));
    EXPECT_EQ(m.launcher_version, 7);
}

TEST(Manifest, UnknownKeysIgnoredAndRepeatsTakeTheLastValue)
{
    Manifest m;
    ASSERT_TRUE(accepts(manifest_text(",\"extra\":{\"deep\":[1,2,{}]},\"version\":\"second\",\"run\":"
                                      "{\"exe\":\"other.exe\",\"args\":\"\",\"new\":1}"),
                        &m));
    EXPECT_EQ(m.version, "second");
    EXPECT_EQ(m.run_exe, "other.exe");
    EXPECT_EQ(m.run_args, "");
    ASSERT_TRUE(accepts(with_file("{\"p\":\"x\",\"p\":\"y\",\"zz\":true,\"s\":3}"), &m));
    EXPECT_EQ(m.files[0].path, "y");
}

TEST(Manifest, NonStringTextFieldsReadEmpty)
{
    Manifest m;
    ASSERT_TRUE(accepts(manifest_text(",\"version\":3,\"build\":null"), &m));
    EXPECT_EQ(m.version, "");
    EXPECT_EQ(m.build, "");
}

TEST(Manifest, FilePathsThatCouldLeaveTheInstallFolderRejectTheWholeManifest)
{
    EXPECT_TRUE(accepts(with_file(file_at("data/pak01.bin"))));
    for (const char* bad : {"", "/etc/passwd", "\\\\windows", "C:/x", "c:x", "a//b", "a/", "./a", "a/./b",
                            "..", "../x", "a/../../x", "a\\\\b", "a\\u0001b", "a\\nb", "a:ads", "a/...", "x.",
                            "caf\\u00e9.txt", "data/nul.pak", "a\xff.bin"})
        EXPECT_EQ(refusal(with_file(file_at(bad))), "unsafe_path") << bad;
    // One bad entry among good ones is enough.
    EXPECT_EQ(refusal("{\"format\":1,\"run\":{\"exe\":\"g.exe\"},\"files\":[" + file_at("ok") + "," +
                      file_at("../escape") + "]}"),
              "unsafe_path");
    // An entry that is not an object has no path.
    EXPECT_EQ(refusal("{\"format\":1,\"run\":{\"exe\":\"g.exe\"},\"files\":[1]}"), "unsafe_path");
}

TEST(Manifest, RunExeMustStayInside)
{
    EXPECT_TRUE(accepts(with_file(file_at("a"), "bin/game.exe")));
    EXPECT_TRUE(accepts(with_file(file_at("a"), "bin\\\\game.exe")));
    for (const char* bad : {"/game.exe", "\\\\game.exe", "C:\\\\game.exe", "..\\\\game.exe", "../game.exe",
                            "bin/../../game.exe"})
        EXPECT_EQ(refusal(with_file(file_at("a"), bad)), "unsafe_run_exe") << bad;
}

TEST(Manifest, PieceIdsMustBeDigestText)
{
    std::string upper = ID_B;
    upper[10] = 'A';
    for (const std::string& bad : {upper, ID_A.substr(1), ID_A + "a", std::string("../../x"), std::string()}) {
        EXPECT_EQ(refusal(with_file("{\"p\":\"a\",\"c\":[[\"" + bad + "\",1,0]]}")), "bad_piece_id") << bad;
        EXPECT_EQ(refusal(manifest_text(",\"launcher\":{\"version\":9,\"c\":[[\"" + bad + "\",1,0]]}")),
                  "bad_piece_id")
            << bad;
    }
    // A piece entry that is not an array has an empty id.
    EXPECT_EQ(refusal(with_file("{\"p\":\"a\",\"c\":[\"" + ID_A + "\"]}")), "bad_piece_id");
}

TEST(Manifest, EntriesMustNameDistinctPlacesOutsideTheLauncherFiles)
{
    auto two = [](const std::string& a, const std::string& b) {
        return "{\"format\":1,\"run\":{\"exe\":\"g.exe\"},\"files\":[" + file_at(a) + "," + file_at(b) + "]}";
    };
    EXPECT_TRUE(accepts(two("data/a.bin", "data/b.bin")));
    EXPECT_TRUE(accepts(two("data/a", "data2/a")));
    // Windows ignores case: these name one file, or a file and its own folder.
    EXPECT_EQ(refusal(two("Data/A.bin", "data/a.BIN")), "conflicting_path");
    EXPECT_EQ(refusal(two("data/a.bin", "data/a.bin")), "conflicting_path");
    EXPECT_EQ(refusal(two("data", "DATA/x.bin")), "conflicting_path");
    EXPECT_EQ(refusal(two("a/b/c", "a/B")), "conflicting_path");
    // Case beyond ASCII counts too, as the file system folds it.
    EXPECT_EQ(refusal(two("\xC3\x84.bin", "\xC3\xA4.bin")), "conflicting_path");                 // Ä, ä
    EXPECT_EQ(refusal(two("\xD0\x94\xCE\xA3/x", "\xD0\xB4\xCF\x83/X")), "conflicting_path");   // ДΣ, дσ
    EXPECT_EQ(refusal(two("\xF0\x90\x90\x80", "\xF0\x90\x90\xA8")), "conflicting_path");      // U+10400, U+10428
    EXPECT_TRUE(accepts(two("stra\xC3\x9F" "e", "strasse")));                   // ß has no one-letter capital
    for (const char* own : {".twinstall.json", "launcher.log", "Launcher.LOG", ".twupdate/journal.txt",
                            ".TWUPDATE/pieces/x", "launcher/tarnwick.exe", "launcher", "LAUNCHER/readme.txt",
                            ".twmanifest.json", ".TWManifest.sig", ".TWLock", ".twkeys", ".TWKeys.part"})
        EXPECT_EQ(refusal(with_file(file_at(own))), "conflicting_path") << own;
    EXPECT_TRUE(accepts(with_file(file_at("launchers/readme.txt"))));
    EXPECT_TRUE(accepts(with_file(file_at("logs/launcher.log"))));
}
