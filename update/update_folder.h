#pragma once
// Where an update keeps its work: ".twupdate" in the install folder, with the
// piece cache, the stage, the saved old copies and the journal. Relative paths
// are the manifest's ('/'-separated UTF-8) and become '\'-separated here.
#include <string>

std::wstring update_folder();                          // install_dir\.twupdate
std::wstring pieces_folder();                          // ...\pieces
std::wstring stage_folder();                           // ...\stage
std::wstring old_folder();                             // ...\old
std::wstring journal_path();                           // ...\journal.txt
std::wstring piece_cache_path(const std::string& id);  // ...\pieces\<id>
std::wstring place_of(const std::string& relative);       // install_dir\<path>
std::wstring stage_path_of(const std::string& relative);  // ...\stage\<path>
std::wstring old_path_of(const std::string& relative);    // ...\old\<path>
