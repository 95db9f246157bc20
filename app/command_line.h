#pragma once
// Reading of the launcher's command line (the arguments after the program
// name are handled here; splitting the raw line is the OS's job).
#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    bool headless = false;
    bool no_install = false;
    bool no_self_update = false;
    bool verify = false;   // hash every installed file instead of trusting its record
    bool uninstall = false;   // remove the game and the launcher, keeping the player's files
    // "--after PID": this is the installed copy that the self-install of
    // launcher PID started; it lets that launcher end before it starts.
    unsigned long after_pid = 0;
    // "--max-rate RATE": the download limit for this run, as given.
    std::optional<std::wstring> max_rate;
    // "--install-dir PATH": the install folder the player chose, as given.
    std::optional<std::wstring> install_dir;

    // A "--swap TARGET PID" request; when set, nothing else of the start-up
    // happens and the swap's result is the exit code.
    bool swap = false;
    std::wstring swap_target;
    unsigned long swap_pid = 0;
    bool swap_headless = false;   // a "--headless" after the two operands
    bool swap_verify = false;     // a "--verify" after them: the relaunched launcher verifies
    std::wstring swap_max_rate;   // a "--max-rate RATE" after them: the relaunched launcher's limit

    // Files named by "--shot FILE", in order.
    std::vector<std::wstring> shots;
};

// args[0] is the program name and is skipped, as the OS splitter returns it.
CommandLine parse_command_line(const std::vector<std::wstring>& args);

// Leading decimal digits of a process id argument; 0 when there are none.
unsigned long parse_process_id(const std::wstring& text);
