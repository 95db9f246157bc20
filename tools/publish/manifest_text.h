#pragma once
// The text of "manifest.json" for one release, in the launcher's format 1.
// Keys come in a fixed order and each file sits on a line of its own, so two
// releases compare well with diff.
#include "tools/publish/published_file.h"

#include <cstdint>
#include <string>
#include <vector>

struct ReleaseDescription {
    uint64_t serial = 0;   // one higher than the release published before it
    std::string version;
    std::string build;
    std::string run_exe;
    std::string run_args;
    uint64_t piece_size = 0;
    std::vector<PublishedFile> files;
    bool has_launcher = false;
    PublishedFile launcher;
    int32_t launcher_version = 0;
};

std::string render_manifest(const ReleaseDescription& release);

// A JSON string literal. Quote, backslash and control bytes are escaped
// (\u00XX); bytes from 0x80 up stay as they are, because the launcher's
// reader turns \u escapes above 127 into '?'. The text must be UTF-8.
std::string json_string(const std::string& text);
