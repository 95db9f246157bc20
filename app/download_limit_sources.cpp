#include "app/download_limit_sources.h"

#include "base/paths.h"
#include "base/registry_values.h"
#include "base/settings.h"

#include <windows.h>

namespace {

constexpr const wchar_t* VALUE = L"MaxDownloadRate";

LimitSource registry_source(HKEY root, const char* root_name, const wchar_t* key)
{
    const RegistryValue<uint32_t> found = read_registry_number(root, key, VALUE);
    return rate_from_kib("MaxDownloadRate in " + std::string(root_name) + "\\" + to_utf8(key), found.value,
                         found.wrong_type);
}

}  // namespace

DownloadLimit read_download_limit(const std::optional<std::wstring>& max_rate_option)
{
    std::optional<std::string> option;
    if (max_rate_option) option = to_utf8(*max_rate_option);
    return choose_download_limit({
        registry_source(HKEY_LOCAL_MACHINE, "HKLM", POLICIES_KEY),
        registry_source(HKEY_CURRENT_USER, "HKCU", POLICIES_KEY),
        rate_from_text("--max-rate", option),
        registry_source(HKEY_CURRENT_USER, "HKCU", SETTINGS_KEY),
    });
}
