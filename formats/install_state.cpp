#include "formats/install_state.h"

#include "base/checked_arithmetic.h"
#include "formats/relative_path.h"

namespace {

std::string json_quote(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// The leading decimal digits as a number; no digits read as 0. Too many
// digits saturate rather than wrap round to some unrelated small time.
uint64_t leading_decimal(const std::string& s)
{
    uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::string install_state_to_text(const InstallState& state)
{
    std::string out = "{\"version\":" + json_quote(state.version);
    out += ",\"run\":{\"exe\":" + json_quote(state.run_exe);
    out += ",\"args\":" + json_quote(state.run_args);
    out += "},\"files\":{";
    bool first = true;
    for (const auto& [path, file] : state.files) {
        if (!first) out += ',';
        first = false;
        out += json_quote(path) + ":[" + std::to_string(file.size) + ",\"" +
               std::to_string(file.write_time) + "\"," + json_quote(file.hash) + "]";
    }
    out += '}';
    if (state.release) {
        out += ",\"release\":{";
        if (state.release->has_serial)
            out += "\"serial\":" + std::to_string(state.release->serial) + ",\"manifest\":" +
                   json_quote(state.release->manifest_sha256);
        if (state.release->has_serial && !state.release->signer.empty())
            out += ",\"signer\":" + json_quote(state.release->signer);
        out += '}';
    }
    out += '}';
    return out;
}

InstallState install_state_from_text(const std::string& text, DocumentRefusal* reason)
{
    if (reason) *reason = DocumentRefusal::none;
    JsonValue root;
    if (!parse_json_document(text, root)) {
        if (reason) *reason = DocumentRefusal::syntax;
        return {};
    }
    InstallState state;
    const JsonValue& release = json_member(root, "release");
    if (release.kind == JsonValue::Object) {
        const JsonValue& serial = json_member(release, "serial");
        state.release = ReleaseMark{serial.kind == JsonValue::Number,
                                    serial.kind == JsonValue::Number ? double_to_int64(serial.number) : 0,
                                    json_member(release, "manifest").text, json_member(release, "signer").text};
    }
    state.version = json_member(root, "version").text;
    const JsonValue& run = json_member(root, "run");
    state.run_exe = json_member(run, "exe").text;
    state.run_args = json_member(run, "args").text;
    // The game is started from this name without a server's word, so it
    // obeys the manifest's rule: a name that could leave the install folder
    // discredits the whole file.
    if (!state.run_exe.empty() && !is_safe_run_exe(state.run_exe)) {
        if (reason) *reason = DocumentRefusal::unsafe_run_exe;
        InstallState refused;
        refused.release = std::move(state.release);
        return refused;
    }
    const JsonValue& files = json_member(root, "files");
    if (files.kind != JsonValue::Object) return state;
    for (const auto& [path, record] : files.members) {
        // A record naming a path outside the install folder is never trusted.
        if (!is_safe_relative_path(path)) continue;
        InstalledFile f;
        f.size = double_to_int64(record[0].number);
        if (record[1].kind == JsonValue::String) f.write_time = leading_decimal(record[1].text);
        f.hash = record[2].text;
        state.files[path] = std::move(f);
    }
    return state;
}
