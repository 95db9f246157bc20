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
// ...\pieces\<id0><id1>\<id>: the cache is split by the id's first two
// characters (as the server's "chunks/" is), so that no folder holds
// thousands of pieces; creating a name in a large folder is slow where the
// file system is searched without regard to case.
std::wstring piece_cache_path(const std::string& id);
std::wstring place_of(const std::string& relative);       // install_dir\<path>
std::wstring stage_path_of(const std::string& relative);  // ...\stage\<path>
std::wstring old_path_of(const std::string& relative);    // ...\old\<path>
