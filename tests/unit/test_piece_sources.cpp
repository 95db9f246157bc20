// Where the installed files hold the pieces an update needs, from the saved
// manifest and the install state's records.
#include "update/piece_sources.h"

#include <gtest/gtest.h>

namespace {

std::string id(char c) { return std::string(64, c); }

TEST(PieceSources, OnlyRecordedFilesOfTheSavedHashAndSizeAreSources)
{
    Manifest saved;
    saved.piece_size = 100;
    // big.pak: pieces a, b, c (the last 50 bytes long); stale.pak's record
    // names another hash; .shadercache is the game's own; odd.bin's last
    // piece is shorter than the job wants.
    saved.files = {{"big.pak", id('1'), 250, {{id('a'), 0, true}, {id('b'), 0, true}, {id('c'), 0, true}}},
                   {"stale.pak", id('2'), 100, {{id('a'), 0, true}}},
                   {".shadercache/s.bin", id('3'), 100, {{id('b'), 0, true}}},
                   {"odd.bin", id('4'), 130, {{id('d'), 0, true}, {id('b'), 0, true}}},
                   {"unrecorded.bin", id('5'), 100, {{id('a'), 0, true}}}};
    InstallState state;
    state.files["big.pak"] = {250, 7, id('1')};
    state.files["stale.pak"] = {100, 7, id('9')};
    state.files[".shadercache/s.bin"] = {100, 7, id('3')};
    state.files["odd.bin"] = {130, 7, id('4')};
    std::vector<PieceJob> jobs = {{id('a'), 10, 100, false}, {id('b'), 10, 100, false},
                                  {id('c'), 10, 50, false}, {id('e'), 10, 100, false}};

    auto sources = find_piece_sources(saved, state, jobs);
    ASSERT_EQ(sources.size(), 3u);   // e is nowhere
    ASSERT_EQ(sources[id('a')].size(), 1u);
    EXPECT_EQ(sources[id('a')][0].path, "big.pak");
    EXPECT_EQ(sources[id('a')][0].offset, 0);
    ASSERT_EQ(sources[id('b')].size(), 1u);   // not the 30-byte tail of odd.bin
    EXPECT_EQ(sources[id('b')][0].offset, 100);
    ASSERT_EQ(sources[id('c')].size(), 1u);
    EXPECT_EQ(sources[id('c')][0].offset, 200);
}

}  // namespace
