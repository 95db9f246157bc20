// Journal reader: arbitrary bytes must parse without reading out of bounds,
// and every entry must carry a non-empty path without a line feed.
#include "update/journal.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const JournalEntry& e : parse_journal(text)) {
        if (e.path.empty() || e.path.find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
