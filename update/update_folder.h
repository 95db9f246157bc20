#pragma once
// The layout of an install folder: the game's files at their relative paths,
// and ".twupdate", where an update keeps its work (the piece cache, the
// stage, the saved old copies and the journal). Relative paths are the
// manifest's ('/'-separated UTF-8) and become '\'-separated here. A small
// value, built from the folder's path and handed to the steps that touch it.
#include <string>
#include <utility>

class InstallFolder {
public:
    explicit InstallFolder(std::wstring root) : root_(std::move(root)) {}

    const std::wstring& root() const { return root_; }            // <install>
    std::wstring update_folder() const;                           // <install>\.twupdate
    std::wstring pieces_folder() const;                           // ...\pieces
    std::wstring stage_folder() const;                            // ...\stage
    std::wstring old_folder() const;                              // ...\old
    std::wstring journal_path() const;                            // ...\journal.txt
    // ...\pieces\<id0><id1>\<id>: the cache is split by the id's first two
    // characters (as the server's "chunks/" is), so that no folder holds
    // thousands of pieces; creating a name in a large folder is slow where
    // the file system is searched without regard to case.
    std::wstring piece_cache_path(const std::string& id) const;
    std::wstring place_of(const std::string& relative) const;        // <install>\<path>
    std::wstring stage_path_of(const std::string& relative) const;   // ...\stage\<path>
    std::wstring old_path_of(const std::string& relative) const;     // ...\old\<path>

private:
    std::wstring root_;
};
