// Arbitrary bytes as a manifest path: a path that is accepted is valid UTF-8
// and its comparison key is a fixed point (folding it again changes nothing),
// so "same file on Windows" stays an equivalence.
#include "formats/file_name_case.h"
#include "formats/relative_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string key = file_name_key(path);
    if (!is_safe_relative_path(path)) return 0;
    if (!is_valid_utf8(path) || !is_valid_utf8(key) || file_name_key(key) != key) std::abort();
    return 0;
}
