#include "tools/publish/command_args.h"
#include "tools/publish/commands.h"
#include "tools/publish/key_pair.h"

#include <cstdio>

int run_keygen(const std::vector<std::string>& args)
{
    CommandArgs parsed;
    std::string error;
    if (!split_args(args, {}, parsed, error)) return report_error(error, EXIT_USAGE);
    if (parsed.positional.size() != 1 || parsed.positional[0].empty())
        return report_error("usage: tarnwick-publish keygen DIR", EXIT_USAGE);
    const std::string& folder = parsed.positional[0];
    if (!generate_key_pair(folder, error)) return report_error(error, EXIT_FAILED);
    std::printf("made %s/private.pem (keep it secret) and %s/public.pem\n", folder.c_str(),
                folder.c_str());
    return EXIT_OK;
}
