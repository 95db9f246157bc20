#include "net/proxy_rules.h"

namespace {

constexpr const char* TARGET_PREFIX = "tarnwick-proxy";

}  // namespace

unsigned next_proxy_scheme(unsigned offered, unsigned tried, bool have_stored_basic)
{
    for (unsigned scheme : {PROXY_NEGOTIATE, PROXY_NTLM})
        if ((offered & scheme) && !(tried & scheme)) return scheme;
    if ((offered & PROXY_BASIC) && !(tried & PROXY_BASIC) && have_stored_basic) return PROXY_BASIC;
    return 0;
}

std::string proxy_scheme_names(unsigned schemes)
{
    std::string out;
    const std::pair<unsigned, const char*> names[] = {
        {PROXY_NEGOTIATE, "Negotiate"}, {PROXY_NTLM, "NTLM"}, {PROXY_BASIC, "Basic"}, {PROXY_DIGEST, "Digest"}};
    for (const auto& [scheme, name] : names) {
        if (!(schemes & scheme)) continue;
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out.empty() ? "none" : out;
}

std::string proxy_refusal_text(const std::string& proxy, unsigned offered, unsigned tried)
{
    std::string text = "the proxy " + proxy;
    if (tried & PROXY_BASIC)
        text += " refused the stored credentials";
    else if (tried)
        text += " refused your Windows logon";
    else
        text += " asks for credentials";
    text += " (it offers " + proxy_scheme_names(offered) + ")";
    if (offered & PROXY_BASIC)
        return text + " -- store its user name and password in the Windows Credential Manager as " +
               proxy_credential_targets(proxy).front();
    return text + " -- ask the network's administrator to let the launcher through";
}

std::string proxy_for_request(const std::string& list, bool secure)
{
    const std::string wanted = secure ? "https" : "http";
    std::string fallback;
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = list.find_first_of("; \t", at);
        std::string entry = list.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? list.size() : end + 1;
        if (entry.empty()) continue;
        std::string scheme;
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            scheme = entry.substr(0, equals);
            entry.erase(0, equals + 1);
        }
        const size_t slashes = entry.rfind("://");
        if (slashes != std::string::npos) entry.erase(0, slashes + 3);
        while (!entry.empty() && entry.back() == '/') entry.pop_back();
        if (entry.empty()) continue;
        if (scheme == wanted) return entry;
        if (scheme.empty() && fallback.empty()) fallback = entry;
    }
    return fallback;
}

std::vector<std::string> proxy_credential_targets(const std::string& proxy)
{
    return {std::string(TARGET_PREFIX) + ":" + proxy, TARGET_PREFIX};
}
