#include "tools/publish/manifest_text.h"

#include <cstdio>

namespace {

std::string file_entry(const PublishedFile& file)
{
    std::string text = "{\"p\":";
    text += json_string(file.path);
    text += ",\"h\":";
    text += json_string(file.hash);
    text += ",\"s\":";
    text += std::to_string(file.size);
    text += ",\"c\":[";
    for (size_t i = 0; i < file.pieces.size(); ++i) {
        const PublishedPiece& piece = file.pieces[i];
        if (i > 0) text += ",";
        text += "[";
        text += json_string(piece.id);
        text += ",";
        text += std::to_string(piece.transfer_size);
        text += piece.stored ? ",1]" : ",0]";
    }
    return text + "]";
}

}  // namespace

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string render_manifest(const ReleaseDescription& release)
{
    std::string text = "{\"format\":1,\"serial\":" + std::to_string(release.serial) +
                       ",\"version\":" + json_string(release.version) +
                       ",\"build\":" + json_string(release.build) +
                       ",\"piece\":" + std::to_string(release.piece_size) +
                       ",\"run\":{\"exe\":" + json_string(release.run_exe) +
                       ",\"args\":" + json_string(release.run_args) + "},\n\"files\":[\n";
    for (size_t i = 0; i < release.files.size(); ++i) {
        text += file_entry(release.files[i]) + "}";
        text += i + 1 < release.files.size() ? ",\n" : "\n";
    }
    text += "]";
    if (release.has_launcher) {
        text += ",\n\"launcher\":" + file_entry(release.launcher) +
                ",\"version\":" + std::to_string(release.launcher_version) + "}";
    }
    return text + "}\n";
}
