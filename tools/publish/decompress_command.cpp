#include "formats/piece_codec.h"
#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/staged_file.h"

#include <new>
#include <memory>

namespace {

// Larger than any piece the tool would publish; keeps a typo from asking for
// terabytes.
constexpr uint64_t LARGEST_RAW_SIZE = uint64_t(1) << 32;

}  // namespace

int run_decompress(const std::vector<std::string>& args)
{
    CommandArgs parsed;
    std::string error;
    uint64_t raw_size = 0;
    if (!split_args(args, {}, parsed, error)) return report_error(error, EXIT_USAGE);
    if (parsed.positional.size() != 3 ||
        !parse_decimal(parsed.positional[2], LARGEST_RAW_SIZE, raw_size))
        return report_error("usage: tarnwick-publish decompress IN OUT RAW_SIZE", EXIT_USAGE);
    const std::string& in_path = parsed.positional[0];
    const std::string& out_path = parsed.positional[1];

    std::string body;
    if (!read_file(in_path, body, error)) return report_error(error, EXIT_FAILED);
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[raw_size ? raw_size : 1]);
    if (!raw) return report_error("not enough memory for " + parsed.positional[2] + " bytes", EXIT_FAILED);
    PieceDecodeError reason = PieceDecodeError::none;
    if (!decompress_piece(reinterpret_cast<const uint8_t*>(body.data()), body.size(), raw.get(),
                          raw_size, &reason))
        return report_error(in_path + " does not decode to " + parsed.positional[2] + " bytes (" +
                                piece_decode_error_text(reason) + ")",
                            EXIT_FAILED);
    if (!write_file_replacing(out_path, std::string_view(reinterpret_cast<const char*>(raw.get()),
                                                         raw_size), error))
        return report_error(error, EXIT_FAILED);
    return EXIT_OK;
}
