#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/key_pair.h"

#include <cstdio>

namespace {

// The three commands make the same P-256 pair; they differ in what the
// studio is told to do with it.
int make_pair(const std::vector<std::string>& args, const char* command, const char* advice)
{
    CommandArgs parsed;
    std::string error;
    if (!split_args(args, {}, parsed, error)) return report_error(error, EXIT_USAGE);
    if (parsed.positional.size() != 1 || parsed.positional[0].empty())
        return report_error(std::string("usage: tarnwick-publish ") + command + " DIR", EXIT_USAGE);
    const std::string& folder = parsed.positional[0];
    if (!generate_key_pair(folder, error)) return report_error(error, EXIT_FAILED);
    std::printf("made %s/private.pem (keep it secret) and %s/public.pem\n", folder.c_str(), folder.c_str());
    if (advice) std::printf(advice, folder.c_str());
    return EXIT_OK;
}

}  // namespace

int run_keygen(const std::vector<std::string>& args) { return make_pair(args, "keygen", nullptr); }

int run_make_root(const std::vector<std::string>& args)
{
    return make_pair(args, "make-root", "%s/public.pem is the root launchers are built with "
                                        "(TW_PUBLIC_KEY_FILE); keep private.pem offline\n");
}

int run_make_release_key(const std::vector<std::string>& args)
{
    return make_pair(args, "make-release-key", "name %s/public.pem in keys.json with "
                                               "\"tarnwick-publish keys add\"; publish with private.pem\n");
}
