#include "update/piece_delivery.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t PIECE = 100;

std::string id_of(char c) { return std::string(64, c); }

ManifestFile file_of(const std::string& path, int64_t size, const std::string& pieces, char hash = 'h')
{
    ManifestFile f;
    f.path = path;
    f.size = size;
    f.hash = id_of(hash);
    for (char c : pieces) f.pieces.push_back({id_of(c), 10, false});
    return f;
}

PieceJob job_of(char c, int64_t raw) { return {id_of(c), 10, raw, false}; }

}  // namespace

TEST(PieceDelivery, EachPieceGoesToEveryPlaceThatUsesItAndTheCacheOnlyForTheRest)
{
    // one.txt is exactly piece a; big.bin is b, a, c (a repeated elsewhere);
    // odd.txt is one piece whose id is not its hash; short.bin uses c at a
    // place of another length; z is the launcher's piece, used by no file.
    ManifestFile one = file_of("one.txt", 100, "a", 'a');
    ManifestFile big = file_of("big.bin", 250, "bac");
    ManifestFile odd = file_of("odd.txt", 40, "d");
    ManifestFile shorter = file_of("short.bin", 30, "c");
    std::vector<PieceJob> jobs = {job_of('a', 100), job_of('b', 100), job_of('c', 50), job_of('d', 40),
                                  job_of('z', 7)};
    auto out = plan_piece_delivery({&one, &big, &odd, &shorter}, jobs, PIECE);
    ASSERT_EQ(out.size(), jobs.size());

    auto places = [](const PieceDelivery& d) {
        std::vector<std::tuple<size_t, size_t, int64_t, bool>> v;
        for (const PieceTarget& t : d.targets) v.emplace_back(t.file, t.piece, t.offset, t.whole);
        return v;
    };
    using P = std::vector<std::tuple<size_t, size_t, int64_t, bool>>;
    EXPECT_EQ(places(out[0]), (P{{0, 0, 0, true}, {1, 1, 100, false}}));
    EXPECT_FALSE(out[0].to_cache);
    EXPECT_EQ(places(out[1]), (P{{1, 0, 0, false}}));
    EXPECT_EQ(places(out[2]), (P{{1, 2, 200, false}}));   // short.bin's place is 30 bytes long
    EXPECT_TRUE(out[2].to_cache);
    EXPECT_EQ(places(out[3]), (P{{2, 0, 0, false}}));     // built and checked like a larger file
    EXPECT_TRUE(places(out[4]).empty());
    EXPECT_TRUE(out[4].to_cache);
    EXPECT_TRUE(is_one_piece_file(one, PIECE));
    EXPECT_FALSE(is_one_piece_file(odd, PIECE));
}
