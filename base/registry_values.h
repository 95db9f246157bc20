#pragma once
// Reading and writing single registry values: the launcher's own per-user
// settings (HKCU\Software\tarnwick), an administrator's policies and the
// "Apps & features" entry.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// A value as found: absent (key or value missing), of another type than
// asked for, or read.
template <typename T>
struct RegistryValue {
    bool wrong_type = false;
    std::optional<T> value;
};

// A REG_SZ or REG_EXPAND_SZ value (not expanded) below root\key, or below
// an open key when `key` is null.
RegistryValue<std::wstring> read_registry_text(HKEY root, const wchar_t* key, const wchar_t* name);
RegistryValue<uint32_t> read_registry_number(HKEY root, const wchar_t* key, const wchar_t* name);

// Into an open key.
bool write_registry_text(HKEY key, const wchar_t* name, const std::wstring& value);
bool write_registry_number(HKEY key, const wchar_t* name, uint32_t value);

// Creates root\key when missing and writes one REG_SZ value into it.
bool write_registry_text(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value);

// Deletes one value; true when it is gone (or never was).
bool delete_registry_value(HKEY root, const wchar_t* key, const wchar_t* name);
