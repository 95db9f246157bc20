#pragma once
// Request paths below the update server's base URL.
#include <cstdint>
#include <string>

// `name` with the cache-defeating query "?t=" and the tick count.
std::string manifest_request_path(const std::string& name, uint64_t tick);

// "chunks/" + the id's first two characters + "/" + the id. An id shorter than
// two characters names its folder with what it has.
std::string piece_request_path(const std::string& id);
