// Feeds arbitrary bytes to the piece decoder. The first 4 bytes give the raw
// size the caller expects (capped at 1 MiB); the rest is the piece body. The
// output buffer has exactly that size, so any write past it is a finding.
#include "formats/piece_codec.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint32_t wanted = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                            uint32_t(data[3]) << 24;
    const size_t raw_size = wanted % ((1u << 20) + 1);
    std::unique_ptr<uint8_t[]> out(new uint8_t[raw_size == 0 ? 1 : raw_size]);
    (void)decompress_piece(data + 4, size - 4, out.get(), raw_size);
    return 0;
}
