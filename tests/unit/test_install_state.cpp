#include "formats/install_state.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "base/paths.h"
#include <windows.h>
#include <filesystem>
#include <fstream>
#endif

namespace {

const std::string HASH(64, 'c');

InstallState sample_state()
{
    InstallState s;
    s.version = "1.4";
    s.run_exe = "bin/game.exe";
    s.run_args = "--loading-window \"{app}\"";
    s.files["bin/game.exe"] = {123456, 133000000000000000ull, HASH};
    s.files["data/a.pak"] = {0, 0, ""};
    return s;
}

void expect_same(const InstallState& a, const InstallState& b)
{
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(a.run_exe, b.run_exe);
    EXPECT_EQ(a.run_args, b.run_args);
    ASSERT_EQ(a.files.size(), b.files.size());
    for (auto ia = a.files.begin(), ib = b.files.begin(); ia != a.files.end(); ++ia, ++ib) {
        EXPECT_EQ(ia->first, ib->first);
        EXPECT_EQ(ia->second.size, ib->second.size) << ia->first;
        EXPECT_EQ(ia->second.write_time, ib->second.write_time) << ia->first;
        EXPECT_EQ(ia->second.hash, ib->second.hash) << ia->first;
    }
}

}  // namespace

TEST(InstallState, EmptyStateText)
{
    EXPECT_EQ(install_state_to_text(InstallState()), "{\"version\":\"\",\"run\":{\"exe\":\"\",\"args\":\"\"},\"files\":{}}");
}

TEST(InstallState, ExactTextOfRecords)
{
    InstallState s;
    s.version = "v";
    s.files["b"] = {-5, 7, "h"};
    s.files["a"] = {9007199254740992, 133000000000000000ull, HASH};
    EXPECT_EQ(install_state_to_text(s),
              "{\"version\":\"v\",\"run\":{\"exe\":\"\",\"args\":\"\"},\"files\":{"
              "\"a\":[9007199254740992,\"133000000000000000\",\"" + HASH + "\"],"
              "\"b\":[-5,\"7\",\"h\"]}}");
}

TEST(InstallState, RecordsAreInByteOrder)
{
    InstallState s;
    s.files["a.txt"] = {};
    s.files["B.txt"] = {};
    s.files["a"] = {};
    s.files["\xc3\xa9"] = {};
    std::string text = install_state_to_text(s);
    size_t upper = text.find("\"B.txt\""), a = text.find("\"a\":"), atxt = text.find("\"a.txt\""),
           high = text.find("\"\xc3\xa9\"");
    EXPECT_LT(upper, a);
    EXPECT_LT(a, atxt);
    EXPECT_LT(atxt, high);   // bytes above 0x7F sort last (unsigned)
}

TEST(InstallState, RoundTripsEveryStringAndTheWriteTime)
{
    InstallState s = sample_state();
    s.version = std::string("quote\" back\\slash tab\t nul\0 \x01 \xff", 30);
    s.run_args = "\\\\server\\share \"{app}\"\r\n";
    s.files["dir/it's [1]"] = {1, UINT64_MAX, HASH};
    s.files["dir/\xe6\x97\xa5\xe6\x9c\xac"] = {2, 1, HASH};
    std::string text = install_state_to_text(s);
    EXPECT_NE(text.find("\"quote\\\" back\\\\slash"), std::string::npos);
    EXPECT_NE(text.find("\"18446744073709551615\""), std::string::npos);
    expect_same(install_state_from_text(text), s);
}

TEST(InstallState, WriteTimeMustBeAString)
{
    InstallState s = install_state_from_text(
        "{\"files\":{\"a\":[10,133000000000000000,\"h\"],\"b\":[10,\"12abc\",\"h\"],\"c\":[10,\"x1\",\"h\"],"
        "\"d\":[10,\"99999999999999999999999\",\"h\"]}}");
    ASSERT_EQ(s.files.size(), 4u);
    EXPECT_EQ(s.files["a"].write_time, 0u);
    EXPECT_EQ(s.files["a"].size, 10);
    EXPECT_EQ(s.files["b"].write_time, 12u);   // leading digits
    EXPECT_EQ(s.files["c"].write_time, 0u);
    EXPECT_EQ(s.files["d"].write_time, UINT64_MAX);   // too long saturates
}

TEST(InstallState, MissingOrOddElementsReadEmpty)
{
    InstallState s = install_state_from_text(
        "{\"version\":1,\"run\":\"x\",\"files\":{\"a\":[],\"b\":\"text\",\"c\":[1.9e3],\"d\":[-2.5,\"5\",7]}}");
    EXPECT_EQ(s.version, "");
    EXPECT_EQ(s.run_exe, "");
    ASSERT_EQ(s.files.size(), 4u);
    EXPECT_EQ(s.files["a"].size, 0);
    EXPECT_EQ(s.files["a"].hash, "");
    EXPECT_EQ(s.files["b"].size, 0);
    EXPECT_EQ(s.files["c"].size, 1900);
    EXPECT_EQ(s.files["d"].size, -2);
    EXPECT_EQ(s.files["d"].write_time, 5u);
    EXPECT_EQ(s.files["d"].hash, "");
    EXPECT_TRUE(install_state_from_text("{\"files\":[[1,\"2\",\"h\"]]}").files.empty());
}

TEST(InstallState, UnreadableTextGivesAnEmptyState)
{
    std::string text = install_state_to_text(sample_state());
    for (size_t cut : {size_t(0), size_t(1), text.size() / 2, text.size() - 1}) {
        InstallState s = install_state_from_text(text.substr(0, cut));
        EXPECT_EQ(s.version, "") << cut;
        EXPECT_EQ(s.run_exe, "") << cut;
        EXPECT_TRUE(s.files.empty()) << cut;
    }
    EXPECT_TRUE(install_state_from_text("[]").files.empty());
}

TEST(InstallState, UnsafePathsAreDroppedOnRead)
{
    InstallState s = install_state_from_text(
        "{\"files\":{\"ok/file\":[1,\"1\",\"h\"],\"../up\":[1,\"1\",\"h\"],\"C:/x\":[1,\"1\",\"h\"],"
        "\"/abs\":[1,\"1\",\"h\"],\"a\\\\b\":[1,\"1\",\"h\"],\"\":[1,\"1\",\"h\"]}}");
    ASSERT_EQ(s.files.size(), 1u);
    EXPECT_EQ(s.files.begin()->first, "ok/file");
}

// The game is started from the recorded name when no server answers: a name
// that could leave the install folder would start any program.
TEST(InstallState, AGameExecutableOutsideTheFolderRefusesTheWholeFile)
{
    auto read = [](const std::string& exe, DocumentRefusal& reason) {
        InstallState s = sample_state();
        s.run_exe = exe;
        return install_state_from_text(install_state_to_text(s), &reason);
    };
    for (const char* bad : {"C:\\Windows\\System32\\calc.exe", "c:calc.exe", "\\\\host\\share\\x.exe",
                            "/bin/x.exe", "\\x.exe", "../x.exe", "bin\\..\\..\\x.exe", "nul"}) {
        DocumentRefusal reason = DocumentRefusal::none;
        InstallState s = read(bad, reason);
        EXPECT_STREQ(document_refusal_name(reason), "unsafe_run_exe") << bad;
        EXPECT_EQ(s.run_exe, "") << bad;
        EXPECT_EQ(s.version, "") << bad;
        EXPECT_TRUE(s.files.empty()) << bad;
    }
    for (const char* good : {"", "game.exe", "bin\\game.exe", "./bin/game.exe"}) {
        DocumentRefusal reason = DocumentRefusal::syntax;
        EXPECT_EQ(read(good, reason).run_exe, good);
        EXPECT_EQ(reason, DocumentRefusal::none) << good;
    }
    DocumentRefusal reason = DocumentRefusal::none;
    install_state_from_text("{\"run\":", &reason);
    EXPECT_EQ(reason, DocumentRefusal::syntax);
}

TEST(InstallState, RepeatedPathKeepsTheLastRecord)
{
    InstallState s = install_state_from_text("{\"files\":{\"a\":[1,\"1\",\"x\"],\"a\":[2,\"2\",\"y\"]}}");
    ASSERT_EQ(s.files.size(), 1u);
    EXPECT_EQ(s.files["a"].size, 2);
    EXPECT_EQ(s.files["a"].hash, "y");
}

#ifdef _WIN32
namespace {
std::wstring fresh_folder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = join_path(temp, name);
    DeleteFileW(join_path(folder, L".twinstall.json").c_str());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}
}  // namespace

TEST(InstallStateFile, WrittenFileReadsBack)
{
    std::wstring folder = fresh_folder(L"tw-install-state-test");
    EXPECT_TRUE(read_install_state(folder).files.empty());   // no file yet
    InstallState s = sample_state();
    ASSERT_TRUE(write_install_state(folder, s));
    expect_same(read_install_state(folder), s);
    std::ifstream in(std::filesystem::path(join_path(folder, L".twinstall.json")), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, install_state_to_text(s));   // one line, no line end
}

TEST(InstallStateFile, TruncatedFileReadsEmpty)
{
    std::wstring folder = fresh_folder(L"tw-install-state-cut");
    std::string text = install_state_to_text(sample_state());
    {
        std::ofstream out(std::filesystem::path(join_path(folder, L".twinstall.json")), std::ios::binary);
        out << text.substr(0, text.size() - 5);
    }
    InstallState s = read_install_state(folder);
    EXPECT_TRUE(s.files.empty());
    EXPECT_EQ(s.run_exe, "");
}
#endif

// The release mark rides in the same file as the records: it reads back as
// written, a file from before it was kept there reads without one, and a
// reader that refuses the rest of the file (a stricter one, say) still keeps
// it: nothing but an explicit decision may take a mark back.
TEST(InstallState, TheReleaseMarkRoundTripsAndOutlivesARefusal)
{
    InstallState s = sample_state();
    EXPECT_FALSE(install_state_from_text(install_state_to_text(s)).release);
    s.release = ReleaseMark{true, 9007199254740993, HASH, "04ab"};
    const std::string text = install_state_to_text(s);
    EXPECT_NE(text.find(",\"release\":{\"serial\":9007199254740993,\"manifest\":\"" + HASH +
                        "\",\"signer\":\"04ab\"}}"),
              std::string::npos) << text;
    const InstallState back = install_state_from_text(text);
    ASSERT_TRUE(back.release);
    EXPECT_TRUE(back.release->has_serial);
    EXPECT_EQ(back.release->serial, 9007199254740992);   // a JSON number: exact up to 2^53
    EXPECT_EQ(back.release->manifest_sha256, HASH);
    EXPECT_EQ(back.release->signer, "04ab");
    s.release = ReleaseMark{};
    ASSERT_TRUE(install_state_from_text(install_state_to_text(s)).release);
    EXPECT_FALSE(install_state_from_text(install_state_to_text(s)).release->has_serial);

    DocumentRefusal refusal = DocumentRefusal::none;
    const InstallState refused = install_state_from_text(
        "{\"run\":{\"exe\":\"../evil.exe\"},\"files\":{\"a\":[1,\"1\",\"h\"]},\"release\":{\"serial\":7}}", &refusal);
    EXPECT_EQ(refusal, DocumentRefusal::unsafe_run_exe);
    EXPECT_TRUE(refused.files.empty());
    ASSERT_TRUE(refused.release);
    EXPECT_EQ(refused.release->serial, 7);
}
