#include "app/uninstall_plan.h"

#include "base/checked_arithmetic.h"

#include <algorithm>
#include <set>

uint32_t installed_kib(const InstallState& state)
{
    int64_t bytes = 0;
    for (const auto& [path, file] : state.files) bytes = saturating_add(bytes, file.size > 0 ? file.size : 0);
    const uint64_t kib = static_cast<uint64_t>(bytes) / 1024 + (bytes % 1024 != 0);
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
