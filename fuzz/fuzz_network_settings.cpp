// Arbitrary bytes as the network settings the launcher reads as text: a
// --max-rate value and a WinHTTP proxy list.
//  - An accepted rate lies between one byte and 1 TiB a second, and its
//    plain byte count reads back as itself.
//  - The proxy picked from a list for a request is one entry, without a
//    scheme, separators or blanks, and the refusal text names it.
#include "app/download_limit.h"
#include "net/proxy_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint64_t rate = 0;
    if (parse_rate(text, rate)) {
        uint64_t again = 0;
        if (rate == 0 || rate > (uint64_t(1) << 40) || !parse_rate(std::to_string(rate), again) || again != rate)
            std::abort();
        rate_text(rate);
    }
    for (bool secure : {false, true}) {
        const std::string proxy = proxy_for_request(text, secure);
        if (proxy.find_first_of("; \t") != std::string::npos || proxy.find("://") != std::string::npos)
            std::abort();
        if (!proxy.empty() && proxy_refusal_text(proxy, size & 15, (size >> 4) & 15).find(proxy) == std::string::npos)
            std::abort();
    }
    return 0;
}
