#include "formats/install_state.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/whole_file.h"

#include <windows.h>

namespace {
std::wstring state_file_path(const std::wstring& folder)
{
    return join_path(folder, L".twinstall.json");
}

// The state in text; an empty text is no install recorded yet. A state file
// that breaks a rule is read as empty, and the log names the rule.
InstallState state_from_file_text(const std::string& text)
{
    if (text.empty()) return {};
    DocumentRefusal refusal = DocumentRefusal::none;
    InstallState state = install_state_from_text(text, &refusal);
    if (refusal != DocumentRefusal::none)
        log_line("the install state was refused (%s) -- read as empty", document_refusal_name(refusal));
    return state;
}

}  // namespace

InstallState read_install_state(const std::wstring& folder)
{
    return state_from_file_text(read_whole_file(state_file_path(folder)));
}

bool read_install_state_if_readable(const std::wstring& folder, InstallState& state)
{
    std::string text;
    state = {};
    if (read_whole_file_into(state_file_path(folder), text)) {
        state = state_from_file_text(text);
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool write_install_state(const std::wstring& folder, const InstallState& state)
{
    return write_file_atomic(state_file_path(folder), install_state_to_text(state));
}
