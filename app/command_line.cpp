#include "app/command_line.h"

unsigned long parse_process_id(const std::wstring& text)
{
    unsigned long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') break;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value;
}

CommandLine parse_command_line(const std::vector<std::wstring>& args)
{
    CommandLine cl;
    const size_t n = args.size();
    for (size_t i = 1; i < n; ++i) {
        const std::wstring& a = args[i];
        if (a == L"--headless") {
            cl.headless = true;
        } else if (a == L"--no-install") {
            cl.no_install = true;
        } else if (a == L"--no-self-update") {
            cl.no_self_update = true;
        } else if (a == L"--verify") {
            cl.verify = true;
        } else if (a == L"--uninstall") {
            cl.uninstall = true;
        } else if (a == L"--after" && i + 1 < n) {
            cl.after_pid = parse_process_id(args[++i]);
        } else if (a == L"--max-rate" && i + 1 < n) {
            cl.max_rate = args[++i];
        } else if (a == L"--install-dir" && i + 1 < n) {
            cl.install_dir = args[++i];
        } else if (a == L"--swap" && i + 2 < n) {
            // The swap is served at once; only options after its two
            // operands decide how the relaunched launcher starts.
            cl.swap = true;
            cl.swap_target = args[i + 1];
            cl.swap_pid = parse_process_id(args[i + 2]);
            for (size_t k = i + 3; k < n; ++k) {
                if (args[k] == L"--headless") cl.swap_headless = true;
                else if (args[k] == L"--verify") cl.swap_verify = true;
                else if (args[k] == L"--max-rate" && k + 1 < n) cl.swap_max_rate = args[++k];
            }
            return cl;
        }
    }
    for (size_t i = 1; i + 1 < n; ++i)
        if (args[i] == L"--shot") cl.shots.push_back(args[i + 1]);
    return cl;
}
