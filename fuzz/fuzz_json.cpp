// Feeds arbitrary bytes to the JSON reader; any crash, over-read or
// undefined behaviour is a finding.
#include "formats/json.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JsonValue root;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (parse_json_document(text, root)) {
        (void)json_member(json_member(root, "run"), "exe").text.size();
        (void)json_member(root, "files")[0].number;
    }
    return 0;
}
