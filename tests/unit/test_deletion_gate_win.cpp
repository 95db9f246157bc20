// The deletion gate on real files: a removal never reaches through a link,
// at the top of a tree either, and a folder standing where the launcher's
// file was is not the launcher's to delete.
#include "update/deletion_gate.h"

#include "base/paths.h"
#include "base/whole_file.h"
#include "tests/windows/child_scenarios.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Wine answers the call without making a link; the end-to-end tests make
// theirs from the Linux side instead.
bool make_folder_link(const std::wstring& link, const std::wstring& target)
{
    CreateSymbolicLinkW(link.c_str(), target.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

TEST(DeletionGate, RemovalsNeverReachThroughALinkNorTakeAFolderForAFile)
{
    const std::wstring root = make_temp_folder(L"gate");
    const std::wstring outside = make_temp_folder(L"gate-outside");
    const std::wstring theirs = join_path(outside, L"theirs.txt");
    ASSERT_TRUE(write_new_file(theirs, "not ours", 8, false));

    // A folder of the player's where the launcher recorded a file.
    const std::wstring notes = join_path(root, L"notes");
    ASSERT_TRUE(write_new_file(join_path(notes, L"mine.txt"), "mine", 4, false));
    EXPECT_EQ(remove_owned_file(notes), FileRemoval::not_ours);
    EXPECT_EQ(read_whole_file(join_path(notes, L"mine.txt")), "mine");
    EXPECT_EQ(remove_owned_file(join_path(notes, L"gone.txt")), FileRemoval::gone);

    const std::wstring tree = join_path(root, L"tree");
    ASSERT_TRUE(write_new_file(join_path(tree, L"sub\\a.bin"), "a", 1, false));
    const std::wstring top = join_path(root, L"top-link");
    if (!make_folder_link(join_path(tree, L"sub\\link"), outside) || !make_folder_link(top, outside))
        GTEST_SKIP() << "folder links cannot be made here";
    EXPECT_TRUE(remove_owned_tree(top));   // the link goes, as a link
    EXPECT_TRUE(remove_owned_tree(tree));
    EXPECT_EQ(GetFileAttributesW(top.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(read_whole_file(theirs), "not ours");
}
