#pragma once
// Where the run's download limit comes from and how it reads. An
// administrator's policy wins over the player's own choices; on the player's
// side the command line wins over the remembered value. A value that does
// not read as a rate is refused with a line saying so (wherever it stands),
// and the next source counts. Plain values in, plain values out.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The smallest limit kept: below it the twelve connections would each get
// so little that servers close them as stalled. A smaller one is raised to
// it, with a line that says so.
constexpr uint64_t SMALLEST_DOWNLOAD_LIMIT = 16 * 1024;

// A number of bytes per second as `curl --limit-rate` reads it: decimal
// digits, an optional fraction, an optional suffix K, M or G (either case,
// 1024-based). Nothing else, not even blanks. False for zero, for anything
// else and for more than 1 TiB a second.
bool parse_rate(const std::string& text, uint64_t& bytes_per_second);

// "4 MiB/s", "1.5 MiB/s", "512 KiB/s", "900 bytes/s".
std::string rate_text(uint64_t bytes_per_second);

// One place a limit may be set, as found.
struct LimitSource {
    std::string name;   // for the log: "--max-rate", "MaxDownloadRate in HKCU\Software\tarnwick"
    enum class Kind { absent, rate, unreadable } kind = Kind::absent;
    uint64_t bytes_per_second = 0;   // kind rate
    std::string shown;               // kind unreadable: the value as given, for the refusal line
};

struct DownloadLimit {
    uint64_t bytes_per_second = 0;   // 0: none
    std::string source;              // the name of the source that set it
    std::vector<std::string> lines;  // refusals and the final "download limit: ..." line, for the log
};

// Walks the sources in order of precedence; the first with a rate sets the
// limit, and every one that does not read gets a refusal line.
DownloadLimit choose_download_limit(const std::vector<LimitSource>& sources);

// A source from text (the command line).
LimitSource rate_from_text(const std::string& name, const std::optional<std::string>& text);

// A source from a registry number in KiB a second; 0 counts as not set.
// `wrong_type` when the value is there but is not a DWORD.
LimitSource rate_from_kib(const std::string& name, std::optional<uint32_t> kib, bool wrong_type);
