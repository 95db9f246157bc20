// tarnwick-publish: the studio's side of updates. Makes the root and release
// keys, writes and signs the key records, turns a game folder into a signed
// manifest plus content-addressed pieces for the update server, and checks a
// published folder the way the launcher will read it.
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
    "  tarnwick-publish make-root DIR\n"
    "      the same, for the root: launchers are built with DIR/public.pem; keep the\n"
    "      private key offline, it only signs key records\n"
    "  tarnwick-publish make-release-key DIR\n"
    "      the same, for a key that signs releases once keys.json names it\n"
    "  tarnwick-publish keys add RECORDS RELEASE_PUBLIC.pem --from N --root ROOT_PRIVATE.pem\n"
    "  tarnwick-publish keys withdraw RECORDS RELEASE_PUBLIC.pem --from N --root ROOT_PRIVATE.pem\n"
    "                  [--lower-mark M]\n"
    "  tarnwick-publish keys change-root RECORDS --root OLD_PRIVATE.pem --new-root NEW_PRIVATE.pem\n"
    "      write the next edition of RECORDS/keys.json and keys.sig, signed by the root:\n"
    "      a release key valid from serial N; a key refused from serial N on (launchers\n"
    "      on a release it signed from then take M as their serial); a new root\n"
    "  tarnwick-publish publish SRC OUT --key PRIVATE.pem --version V --build B --exe REL\n"
    "                  [--args TEXT] [--piece BYTES] [--launcher FILE --launcher-version N]\n"
    "                  [--serial N]\n"
    "      publish the files below SRC into the server folder OUT\n"
    "      the manifest gets a \"serial\": one more than the manifest already in OUT\n"
    "      (or than N, whichever is higher). A launcher refuses a release with a lower\n"
    "      serial than the one it installed, so a replayed old release cannot move\n"
    "      players back; to roll back, publish the older build again: it gets a new,\n"
    "      higher serial. Publishing into a fresh OUT, give the last serial with --serial\n"
    "  tarnwick-publish verify OUT --pub ROOT_PUBLIC.pem\n"
    "      check the signature (by the root, or by a key OUT/keys.json makes valid),\n"
    "      the manifest and every piece in OUT, and say which key signed\n"
    "  tarnwick-publish decompress IN OUT RAW_SIZE\n"
    "      decode one compressed piece\n";

int dispatch(const std::string& command, const std::vector<std::string>& rest)
{
    if (command == "keygen") return run_keygen(rest);
    if (command == "make-root") return run_make_root(rest);
    if (command == "make-release-key") return run_make_release_key(rest);
    if (command == "keys") return run_keys(rest);
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
