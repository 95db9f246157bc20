#include "app/game_launch.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/process_start.h"

#include <windows.h>

#include <utility>


namespace {

// The install folder as "{app}" stands for it at one place in the arguments.
// A trailing backslash is dropped: with the folder D:\Games\ the argument
// "{app}" would end in a backslash and a quote, which the command-line
// splitter reads as a quote inside the argument, swallowing the ones after
// it. A drive root keeps its backslash ("D:" alone means the drive's current
// folder), doubled before a quote, which the splitter reads as one.
std::string folder_for_placeholder(const std::string& folder, char next)
{
    std::string out = folder;
    while (out.size() > 1 && (out.back() == '\\' || out.back() == '/')) out.pop_back();
    const bool bare_drive = out.size() == 2 && out[1] == ':';
    if (bare_drive && next != '\\' && next != '/') out += next == '"' ? "\\\\" : "\\";
    return out;
}

}  // namespace

std::string expand_app_placeholder(const std::string& args, const std::string& folder)
{
    static const std::string placeholder = "{app}";
    std::string out;
    size_t from = 0;
    for (size_t at = args.find(placeholder); at != std::string::npos; at = args.find(placeholder, from)) {
        out.append(args, from, at - from);
        from = at + placeholder.size();
        out += folder_for_placeholder(folder, from < args.size() ? args[from] : '\0');
    }
    out.append(args, from, std::string::npos);
    return out;
}

KernelHandle start_game(const std::wstring& install_folder, const InstallState& state)
{
    std::wstring exe = installed_game_exe(install_folder, state.run_exe);
    std::string args = expand_app_placeholder(state.run_args, to_utf8(install_folder));
    std::wstring command = L"\"" + exe + L"\" " + to_utf16(args);

    StartedProcess game = start_process_in(command, install_folder);
    if (!game.process) {
        DWORD error = GetLastError();
        log_line("could not start %s (error %lu)", to_utf8(exe).c_str(), error);
        return {};
    }
    AllowSetForegroundWindow(game.id);
    log_line("started the game: %s", to_utf8(command).c_str());
    return std::move(game.process);
}
