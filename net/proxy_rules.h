#pragma once
// What the launcher answers a proxy that asks for credentials, and what it
// tells the player when it has nothing (more) to answer with. Plain values
// in, plain text out; the WinHTTP side is net/proxy_challenge.cpp.
//
// The rules: a proxy that offers Negotiate or NTLM gets the user's own
// Windows logon, for the proxy only; one that offers Basic gets only what the
// user stored in the Windows Credential Manager under a target named after
// the proxy (proxy_credential_targets). Nothing is ever asked of the player,
// and each scheme is tried once per request.
#include <string>
#include <vector>

enum ProxyScheme : unsigned {
    PROXY_BASIC = 1,
    PROXY_NTLM = 2,
    PROXY_NEGOTIATE = 4,
    PROXY_DIGEST = 8,   // offered by some proxies; the launcher has nothing to answer it with
};

// The next scheme to answer with, among those offered and not tried yet:
// Negotiate, then NTLM (the logon), then Basic when stored credentials exist.
// 0 when none is left.
unsigned next_proxy_scheme(unsigned offered, unsigned tried, bool have_stored_basic);

// "Negotiate, NTLM, Basic" (in that order); "none" for no scheme.
std::string proxy_scheme_names(unsigned schemes);

// The refusal, naming the proxy and the schemes it offered, with what the
// player can do about it.
std::string proxy_refusal_text(const std::string& proxy, unsigned offered, unsigned tried);

// The proxy of a WinHTTP proxy list that a request uses: the first entry for
// its scheme ("https=" for a TLS request, "http=" for a plain one) or the
// first without a scheme, "host:port" without any "scheme://". Entries are
// separated by ';' or blanks. Empty when the list names none for it.
std::string proxy_for_request(const std::string& list, bool secure);

// The Credential Manager targets (generic credentials) that may hold a
// proxy's Basic credentials, the one for this proxy first:
// "tarnwick-proxy:HOST:PORT", then "tarnwick-proxy".
std::vector<std::string> proxy_credential_targets(const std::string& proxy);
