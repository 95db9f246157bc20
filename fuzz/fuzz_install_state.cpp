// The install state file is the launcher's own, but a damaged or edited one
// must read as some state (possibly empty) and write back to text that reads
// as the same state.
#include "formats/install_state.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InstallState state = install_state_from_text(std::string(reinterpret_cast<const char*>(data), size));
    std::string text = install_state_to_text(state);
    InstallState again = install_state_from_text(text);
    if (install_state_to_text(again) != text) std::abort();
    return 0;
}
