#include "update/piece_cache.h"

#include "base/paths.h"
#include "base/whole_file.h"
#include "base/win_handles.h"

#include <windows.h>


// Written straight under its final name: a piece cut short by a crash fails
// its check on the next use and is fetched again. A name already there is
// removed first instead of being written over, because its bytes may be
// another name's too: the assembly links single-piece files to the cache.
bool store_piece(const InstallFolder& folder, const std::string& id, const void* data, size_t size)
{
    return write_new_file(folder.piece_cache_path(id), data, size, false);
}

int64_t cached_piece_size(const InstallFolder& folder, const std::string& id)
{
    return file_size_of(folder.piece_cache_path(id));
}
