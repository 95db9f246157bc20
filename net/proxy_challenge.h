#pragma once
// Answering a proxy that asks a request for credentials (407), by the rules
// of net/proxy_rules.h: the user's own logon for Negotiate and NTLM, set for
// the proxy only; for Basic, only what the Credential Manager holds for it.
#include <windows.h>
#include <winhttp.h>

#include <string>

// What one request has offered its proxy so far.
struct ProxyLogon {
    unsigned offered = 0;   // schemes the proxy named
    unsigned tried = 0;     // schemes answered with
};

// Sets the next answer on `request`, which got a 407 (or, after an answer, a
// 401: some proxies refuse wrong credentials so) from `proxy`. True when the
// request should be sent again; false when nothing is left to answer with,
// with the refusal for the log and the player.
bool answer_proxy_challenge(HINTERNET request, const std::string& proxy, ProxyLogon& logon, std::string& refusal);
