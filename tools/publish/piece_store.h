#pragma once
// The server's piece folder: OUT/"chunks"/<first two characters of id>/<id>.
// A piece's name is the hash of its raw bytes, so a piece file, once there,
// never needs to change: publishing writes only pieces that are absent.
#include "tools/publish/published_file.h"

#include <string>
#include <string_view>

std::string piece_folder(const std::string& out, const std::string& id);
std::string piece_path(const std::string& out, const std::string& id);

// True when a plausible piece file for `id` exists already; fills its
// transfer size and stored flag from its length (a stored piece is exactly
// raw_size bytes; a compressed one is shorter, and longer than a header).
bool find_existing_piece(const std::string& out, const std::string& id, uint64_t raw_size,
                         PublishedPiece& piece);

// Removes what killed runs left behind in OUT and its piece folders.
void remove_stale_temp_files_below(const std::string& out);

// Writes the body under the piece's name (temporary name, then rename).
bool store_piece(const std::string& out, const std::string& id, std::string_view body,
                 std::string& error);
