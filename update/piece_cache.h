#pragma once
// The piece cache, ".twupdate\pieces": raw pieces named by their SHA-256.
// A cached piece is checked against its name before every use, so writing one
// neither goes through a temporary name nor waits for the disk.
#include "update/update_folder.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Stores a verified piece under its id (its folder made on demand). False
// when it could not be written; GetLastError() tells why.
bool store_piece(const InstallFolder& folder, const std::string& id, const void* data, size_t size);

// The size of the cached copy of a piece; -1 when there is none.
int64_t cached_piece_size(const InstallFolder& folder, const std::string& id);
