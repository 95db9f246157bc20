#include "update/update_folder.h"

#include "base/paths.h"
#include "base/settings.h"

std::wstring update_folder() { return join_path(install_dir, L".twupdate"); }
std::wstring pieces_folder() { return join_path(update_folder(), L"pieces"); }
std::wstring stage_folder() { return join_path(update_folder(), L"stage"); }
std::wstring old_folder() { return join_path(update_folder(), L"old"); }
std::wstring journal_path() { return join_path(update_folder(), L"journal.txt"); }
std::wstring piece_cache_path(const std::string& id)
{
    return join_path(join_path(pieces_folder(), to_utf16(id.substr(0, 2))), to_utf16(id));
}
std::wstring place_of(const std::string& relative) { return path_under(install_dir, relative); }
std::wstring stage_path_of(const std::string& relative) { return path_under(stage_folder(), relative); }
std::wstring old_path_of(const std::string& relative) { return path_under(old_folder(), relative); }
