#include "app/uninstall_plan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

InstallState with_files(std::initializer_list<std::pair<const char*, int64_t>> files)
{
    InstallState state;
    for (const auto& [path, size] : files) state.files[path] = {size, 0, std::string(64, 'a')};
    return state;
}

}  // namespace

// The size shown in the list: a byte over a KiB counts as a KiB, a game over
// 4 TiB (or a damaged record) does not wrap round to a small number.
TEST(UninstallPlan, SizeRoundsUpAndHoldsAtTheTop)
{
    EXPECT_EQ(installed_kib(InstallState{}), 0u);
    EXPECT_EQ(installed_kib(with_files({{"a", 1024}, {"b", 1}})), 2u);
    EXPECT_EQ(installed_kib(with_files({{"a", 2048}, {"b", -5}})), 2u);
    EXPECT_EQ(installed_kib(with_files({{"a", INT64_MAX}, {"b", INT64_MAX}})), UINT32_MAX);
}

// Removed in the listed order, the folders empty from the bottom up: each
// comes once and before every folder that holds it; files at the top leave
// no folder to remove, and the install folder itself is never listed.
TEST(UninstallPlan, FoldersComeDeepestFirstEachOnce)
{
    const InstallState state = with_files({{"game.exe", 1},
                                           {"data/a.pak", 1},
                                           {"data/maps/x/y.map", 1},
                                           {"data/maps/z.map", 1},
                                           {"bin/tools/t.exe", 1},
                                           {"databank/q", 1}});
    const std::vector<std::string> order = folders_to_prune(state);
    std::vector<std::string> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"bin", "bin/tools", "data", "data/maps", "data/maps/x", "databank"}));
    for (size_t i = 0; i < order.size(); ++i)
        for (size_t j = i + 1; j < order.size(); ++j)
            EXPECT_NE(order[j].rfind(order[i] + "/", 0), 0u) << order[i] << " listed before " << order[j];
}
