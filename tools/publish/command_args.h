#pragma once
// Command-line handling shared by the tool's commands.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct CommandArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;   // "--name" -> value

    bool has(const std::string& name) const { return options.count(name) != 0; }
    std::string value(const std::string& name) const
    {
        auto it = options.find(name);
        return it == options.end() ? std::string() : it->second;
    }
};

// Splits "--name value" pairs (only the names in `known`) from positional
// arguments. An unknown option, a missing value or a repeated option is an error.
bool split_args(const std::vector<std::string>& args, const std::set<std::string>& known,
                CommandArgs& out, std::string& error);

// Decimal digits only, no sign or blanks, at most `max`.
bool parse_decimal(const std::string& text, uint64_t max, uint64_t& value);

// Prints "tarnwick-publish: <message>" on stderr and returns `code`.
int report_error(const std::string& message, int code);
