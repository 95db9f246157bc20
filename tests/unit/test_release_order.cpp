#include "formats/manifest.h"
#include "update/release_order.h"

#include <gtest/gtest.h>

namespace {

// A signed manifest's bytes with `serial_member` (e.g. ",\"serial\":7")
// spliced in, and its mark as the launcher reads it (the bytes stand in for
// their digest: equal bytes, equal digests).
ReleaseMark mark_of(const std::string& serial_member, const std::string& version = "1")
{
    const std::string text = "{\"format\":1,\"version\":\"" + version +
                             "\",\"run\":{\"exe\":\"game.exe\"},\"files\":[{\"p\":\"game.exe\",\"h\":\"" +
                             std::string(64, 'a') + "\",\"s\":1}]" + serial_member + "}";
    Manifest manifest;
    EXPECT_TRUE(parse_manifest(text, manifest)) << text;
    return release_mark(manifest, text);
}

}  // namespace

TEST(ReleaseOrder, RefusesOlderUnnumberedAndRewrittenReleasesOnceASerialWasSeen)
{
    const ReleaseMark installed = mark_of(",\"serial\":7");
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":8")), ReleaseOrder::acceptable);
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":7")), ReleaseOrder::acceptable);
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":6")), ReleaseOrder::older);
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":-8")), ReleaseOrder::older);
    EXPECT_EQ(judge_release_order(installed, mark_of("")), ReleaseOrder::unnumbered);
    // A serial that is not a number is no serial.
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":\"9\"")), ReleaseOrder::unnumbered);
    EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":7", "2")),
              ReleaseOrder::same_serial_other_bytes);

    EXPECT_EQ(older_release_line(installed, mark_of(",\"serial\":6")),
              "the server offered an older release (serial 6, installed 7) -- kept the installed game");
    EXPECT_EQ(older_release_line(installed, mark_of("")),
              "the server offered an older release (serial none, installed 7) -- kept the installed game");
}

TEST(ReleaseOrder, AnInstallThatNeverSawASerialTakesAnyRelease)
{
    for (const ReleaseMark& installed : {ReleaseMark{}, mark_of("")}) {
        EXPECT_EQ(judge_release_order(installed, mark_of("")), ReleaseOrder::acceptable);
        EXPECT_EQ(judge_release_order(installed, mark_of(",\"serial\":1")), ReleaseOrder::acceptable);
    }
}

// The mark only goes up, and the first one a state gets is kept whatever it
// is; going back is its own, explicit step.
TEST(ReleaseOrder, TheMarkIsRaisedNeverLoweredButByAnExplicitDecision)
{
    InstallState state;
    EXPECT_TRUE(raise_release_mark(state, mark_of("")));   // a first mark, without a serial
    EXPECT_TRUE(raise_release_mark(state, mark_of(",\"serial\":7")));
    EXPECT_FALSE(raise_release_mark(state, mark_of(",\"serial\":6")));
    EXPECT_FALSE(raise_release_mark(state, mark_of("")));
    EXPECT_FALSE(raise_release_mark(state, mark_of(",\"serial\":7", "2")));
    EXPECT_EQ(state.release->serial, 7);
    EXPECT_EQ(state.release->manifest_sha256, mark_of(",\"serial\":7").manifest_sha256);

    Manifest manifest;
    manifest.version = "8";
    manifest.run_exe = "game.exe";
    record_release(state, manifest, mark_of(",\"serial\":8"));
    EXPECT_EQ(state.version, "8");
    EXPECT_EQ(state.release->serial, 8);
    lower_release_mark(state, mark_of(",\"serial\":3"));
    EXPECT_EQ(state.release->serial, 3);
}
