#include "formats/install_state.h"

#include "base/file_calls.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"

#include <windows.h>

std::wstring install_state_path(const std::wstring& folder)
{
    return join_path(folder, L".twinstall.json");
}

InstallState read_install_state(const std::wstring& folder)
{
    InstallState state;
    read_install_state_checked(folder, state);
    return state;
}

StateRead read_install_state_checked(const std::wstring& folder, InstallState& state)
{
    std::string text;
    state = {};
    if (!read_whole_file_into(install_state_path(folder), text)) {
        return names_nothing(GetLastError()) ? StateRead::missing : StateRead::unreadable;
    }
    // An empty text is no install recorded yet.
    if (text.empty()) return StateRead::read;
    DocumentRefusal refusal = DocumentRefusal::none;
    state = install_state_from_text(text, &refusal);
    if (refusal == DocumentRefusal::none) return StateRead::read;
    log_line("the install state was refused (%s) -- read as empty", document_refusal_name(refusal));
    return StateRead::refused;
}

bool read_install_state_if_readable(const std::wstring& folder, InstallState& state)
{
    return read_install_state_checked(folder, state) != StateRead::unreadable;
}

bool write_install_state(const std::wstring& folder, const InstallState& state)
{
    return write_file_atomic(install_state_path(folder), install_state_to_text(state));
}
