#include "app/uninstall_plan.h"

#include <algorithm>
#include <set>

uint32_t installed_kib(const InstallState& state)
{
    uint64_t bytes = 0;
    for (const auto& [path, file] : state.files) {
        const uint64_t size = file.size > 0 ? static_cast<uint64_t>(file.size) : 0;
        bytes = size > UINT64_MAX - bytes ? UINT64_MAX : bytes + size;
    }
    const uint64_t kib = bytes / 1024 + (bytes % 1024 != 0);
    return kib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(kib);
}

std::vector<std::string> folders_to_prune(const InstallState& state)
{
    std::set<std::string> folders;
    for (const auto& [path, file] : state.files) {
        for (size_t cut = path.rfind('/'); cut != std::string::npos && cut > 0;
             cut = path.rfind('/', cut - 1))
            folders.insert(path.substr(0, cut));
    }
    std::vector<std::string> order(folders.begin(), folders.end());
    // More separators means deeper; a folder always has more than its parent.
    std::stable_sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    return order;
}
