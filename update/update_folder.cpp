#include "update/update_folder.h"

#include "base/paths.h"

std::wstring InstallFolder::update_folder() const { return join_path(root_, L".twupdate"); }
std::wstring InstallFolder::pieces_folder() const { return join_path(update_folder(), L"pieces"); }
std::wstring InstallFolder::stage_folder() const { return join_path(update_folder(), L"stage"); }
std::wstring InstallFolder::old_folder() const { return join_path(update_folder(), L"old"); }
std::wstring InstallFolder::journal_path() const { return join_path(update_folder(), L"journal.txt"); }
std::wstring InstallFolder::piece_cache_path(const std::string& id) const
{
    return join_path(join_path(pieces_folder(), to_utf16(id.substr(0, 2))), to_utf16(id));
}
std::wstring InstallFolder::place_of(const std::string& relative) const { return path_under(root_, relative); }
std::wstring InstallFolder::stage_path_of(const std::string& relative) const
{
    return path_under(stage_folder(), relative);
}
std::wstring InstallFolder::old_path_of(const std::string& relative) const
{
    return path_under(old_folder(), relative);
}
