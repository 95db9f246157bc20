#include "tools/publish/command_args.h"

#include <cstdio>

bool split_args(const std::vector<std::string>& args, const std::set<std::string>& known,
                CommandArgs& out, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            out.positional.push_back(arg);
            continue;
        }
        if (!known.count(arg)) {
            error = "unknown option " + arg;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        if (!out.options.emplace(arg, args[++i]).second) {
            error = arg + " is given twice";
            return false;
        }
    }
    return true;
}

bool parse_decimal(const std::string& text, uint64_t max, uint64_t& value)
{
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (result > (max - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

int report_error(const std::string& message, int code)
{
    std::fprintf(stderr, "tarnwick-publish: %s\n", message.c_str());
    return code;
}
