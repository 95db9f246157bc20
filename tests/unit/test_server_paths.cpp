#include "net/server_paths.h"

#include <gtest/gtest.h>

TEST(ServerPaths, ManifestRequestsCarryTheTickAsQuery)
{
    EXPECT_EQ(manifest_request_path("manifest.json", 0), "manifest.json?t=0");
    EXPECT_EQ(manifest_request_path("manifest.sig", 4294967295u), "manifest.sig?t=4294967295");
    EXPECT_EQ(manifest_request_path("manifest.json", UINT64_MAX), "manifest.json?t=18446744073709551615");
}

TEST(ServerPaths, PiecesLieInAFolderNamedAfterTheirFirstTwoCharacters)
{
    const std::string id = "ab" + std::string(62, '0');
    EXPECT_EQ(piece_request_path(id), "chunks/ab/" + id);
    EXPECT_EQ(piece_request_path("7"), "chunks/7/7");
    EXPECT_EQ(piece_request_path(""), "chunks//");
}

TEST(ServerPaths, MirrorListsSplitAtAnyRunOfSpaces)
{
    using List = std::vector<std::wstring>;
    EXPECT_EQ(split_base_urls(L"https://a/update/"), List{L"https://a/update/"});
    EXPECT_EQ(split_base_urls(L"  https://a/u/ \t http://b:8080/u/\r\nhttps://c/ "),
              (List{L"https://a/u/", L"http://b:8080/u/", L"https://c/"}));
    EXPECT_EQ(split_base_urls(L""), List{});
    EXPECT_EQ(split_base_urls(L" \t "), List{});
}
