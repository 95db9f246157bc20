#pragma once
// The game folder to publish: its regular files, each with the relative path
// the manifest will name it by.
#include <cstdint>
#include <string>
#include <vector>

struct SourceFile {
    std::string path;        // relative, '/'-separated, UTF-8
    std::string disk_path;   // where to read it
    uint64_t size = 0;
};

// Every regular file below root, recursively, sorted by path in byte order.
// Fails, naming the path, on a name that is not UTF-8 or that the launcher
// would refuse (names that are one file on Windows included), and on a file or
// folder that cannot be read. Symbolic links
// and other special entries are skipped with a warning on stderr.
bool collect_source_files(const std::string& root, std::vector<SourceFile>& files,
                          std::string& error);

// One file given by the user (the launcher executable): a readable regular file.
bool describe_single_file(const std::string& disk_path, const std::string& manifest_path,
                          SourceFile& file, std::string& error);
