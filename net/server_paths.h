#pragma once
// Request paths below the update server's base URL.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// `name` with the cache-defeating query "?t=" and the tick count.
std::string manifest_request_path(const std::string& name, uint64_t tick);

// "chunks/" + the id's first two characters + "/" + the id. An id shorter than
// two characters names its folder with what it has.
std::string piece_request_path(const std::string& id);

// Bounds on what the server may send before the signature is checked. A
// signature is exactly 64 bytes (r then s); a manifest of a very large game
// (hundreds of thousands of files) stays well below 64 MiB.
constexpr size_t SIGNATURE_BYTES = 64;
constexpr size_t MANIFEST_MAX_BYTES = 64u << 20;

// The base URLs of a setting that lists several mirrors, separated by spaces
// (tabs and line ends count as spaces), in their order; empty entries are
// dropped.
std::vector<std::wstring> split_base_urls(const std::wstring& urls);
