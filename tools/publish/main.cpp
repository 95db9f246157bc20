// tarnwick-publish: the studio's side of updates. Makes the signing key,
// turns a game folder into a signed manifest plus content-addressed pieces
// for the update server, and checks a published folder the way the launcher
// will read it.
#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const char USAGE[] =
    "usage:\n"
    "  tarnwick-publish keygen DIR\n"
    "      make DIR/private.pem and DIR/public.pem (P-256); never replaces a private key\n"
    "  tarnwick-publish publish SRC OUT --key PRIVATE.pem --version V --build B --exe REL\n"
    "                  [--args TEXT] [--piece BYTES] [--launcher FILE --launcher-version N]\n"
    "                  [--serial N]\n"
    "      publish the files below SRC into the server folder OUT\n"
    "      the manifest gets a \"serial\": one more than the manifest already in OUT\n"
    "      (or than N, whichever is higher). A launcher refuses a release with a lower\n"
    "      serial than the one it installed, so a replayed old release cannot move\n"
    "      players back; to roll back, publish the older build again: it gets a new,\n"
    "      higher serial. Publishing into a fresh OUT, give the last serial with --serial\n"
    "  tarnwick-publish verify OUT --pub PUBLIC.pem\n"
    "      check the signature, the manifest and every piece in OUT\n"
    "  tarnwick-publish decompress IN OUT RAW_SIZE\n"
    "      decode one compressed piece\n";

int dispatch(const std::string& command, const std::vector<std::string>& rest)
{
    if (command == "keygen") return run_keygen(rest);
    if (command == "publish") return run_publish(rest);
    if (command == "verify") return run_verify(rest);
    if (command == "decompress") return run_decompress(rest);
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(USAGE, stdout);
        return EXIT_OK;
    }
    std::fprintf(stderr, "tarnwick-publish: unknown command %s\n%s", command.c_str(), USAGE);
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    std::vector<std::string> rest(argv + 2, argv + argc);
    try {
        return dispatch(argv[1], rest);
    } catch (const std::exception& e) {   // the standard library's, e.g. std::bad_alloc
        return report_error(std::string("failed: ") + e.what(), EXIT_FAILED);
    }
}
