#include "base/registry_values.h"

#include "base/win_handles.h"

#include <vector>

namespace {

// RegGetValueW's "value of another type" answer.
bool type_mismatch(LSTATUS status) { return status == ERROR_UNSUPPORTED_TYPE; }

}  // namespace

RegistryValue<std::wstring> read_registry_text(HKEY root, const wchar_t* key, const wchar_t* name)
{
    RegistryValue<std::wstring> out;
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(root, key, name, flags, nullptr, nullptr, &bytes);
    if (type_mismatch(status)) out.wrong_type = true;
    if (status != ERROR_SUCCESS) return out;
    // Room for a terminator the stored value may lack; the value may grow
    // between the two calls, which then fails and reads as absent.
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
    bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    status = RegGetValueW(root, key, name, flags, nullptr, buffer.data(), &bytes);
    if (status == ERROR_SUCCESS) out.value = std::wstring(buffer.data());
    return out;
}

RegistryValue<uint32_t> read_registry_number(HKEY root, const wchar_t* key, const wchar_t* name)
{
    RegistryValue<uint32_t> out;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    const LSTATUS status = RegGetValueW(root, key, name, RRF_RT_REG_DWORD, nullptr, &value, &bytes);
    if (type_mismatch(status)) out.wrong_type = true;
    if (status == ERROR_SUCCESS) out.value = value;
    return out;
}

bool write_registry_text(HKEY key, const wchar_t* name, const std::wstring& value)
{
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

bool write_registry_number(HKEY key, const wchar_t* name, uint32_t value)
{
    const DWORD number = value;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
           ERROR_SUCCESS;
}

bool write_registry_text(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    RegKey opened;
    return RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.out(), nullptr) ==
               ERROR_SUCCESS &&
           write_registry_text(opened.get(), name, value);
}

bool delete_registry_value(HKEY root, const wchar_t* key, const wchar_t* name)
{
    const LSTATUS status = RegDeleteKeyValueW(root, key, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
