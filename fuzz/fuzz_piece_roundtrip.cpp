// Arbitrary bytes through the studio's encoder and then the launcher's
// decoder: the decoder must give back exactly the bytes, whatever mix of
// literals, matches, blocks and stored chunks the encoder chose.
#include "formats/piece_codec.h"
#include "tools/publish/piece_encoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string body = compress_piece(data, size);
    std::unique_ptr<uint8_t[]> out(new uint8_t[size == 0 ? 1 : size]);
    PieceDecodeError reason = PieceDecodeError::none;
    if (!decompress_piece(reinterpret_cast<const uint8_t*>(body.data()), body.size(), out.get(), size, &reason))
        std::abort();
    if (size != 0 && std::memcmp(out.get(), data, size) != 0)
        std::abort();
    return 0;
}
