#include "net/proxy_challenge.h"

#include "base/paths.h"
#include "base/win_handles.h"
#include "net/proxy_rules.h"

#include <utility>

namespace {

unsigned schemes_of(DWORD winhttp)
{
    unsigned out = 0;
    if (winhttp & WINHTTP_AUTH_SCHEME_BASIC) out |= PROXY_BASIC;
    if (winhttp & WINHTTP_AUTH_SCHEME_NTLM) out |= PROXY_NTLM;
    if (winhttp & WINHTTP_AUTH_SCHEME_NEGOTIATE) out |= PROXY_NEGOTIATE;
    if (winhttp & WINHTTP_AUTH_SCHEME_DIGEST) out |= PROXY_DIGEST;
    return out;
}

DWORD winhttp_scheme(unsigned scheme)
{
    switch (scheme) {
    case PROXY_NEGOTIATE: return WINHTTP_AUTH_SCHEME_NEGOTIATE;
    case PROXY_NTLM: return WINHTTP_AUTH_SCHEME_NTLM;
    default: return WINHTTP_AUTH_SCHEME_BASIC;
    }
}

// A proxy's Basic credentials from the Credential Manager; the password is
// wiped when the value goes.
struct StoredCredentials {
    std::wstring user;
    std::wstring password;
    StoredCredentials() = default;
    StoredCredentials(const StoredCredentials&) = delete;
    StoredCredentials& operator=(const StoredCredentials&) = delete;
    ~StoredCredentials() { SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t)); }
    bool found() const { return !user.empty(); }
};

// The first generic credential of the proxy's targets that names a user. The
// password is the credential's bytes as UTF-16, as Windows' own tools store it.
void read_stored(const std::string& proxy, StoredCredentials& out)
{
    for (const std::string& target : proxy_credential_targets(proxy)) {
        Credential credential;
        if (!CredReadW(to_utf16(target).c_str(), CRED_TYPE_GENERIC, 0, credential.out())) continue;
        const CREDENTIALW& c = *credential.get();
        if (!c.UserName || !*c.UserName) continue;
        out.user = c.UserName;
        out.password.assign(reinterpret_cast<const wchar_t*>(c.CredentialBlob),
                            c.CredentialBlobSize / sizeof(wchar_t));
        SecureZeroMemory(c.CredentialBlob, c.CredentialBlobSize);
        return;
    }
}

}  // namespace

bool answer_proxy_challenge(HINTERNET request, const std::string& proxy, ProxyLogon& logon, std::string& refusal)
{
    DWORD supported = 0, first = 0, target = 0;
    if (WinHttpQueryAuthSchemes(request, &supported, &first, &target)) logon.offered |= schemes_of(supported);
    StoredCredentials stored;
    if ((logon.offered & PROXY_BASIC) && !(logon.tried & PROXY_BASIC)) read_stored(proxy, stored);
    const unsigned next = next_proxy_scheme(logon.offered, logon.tried, stored.found());
    if (next == 0) {
        refusal = proxy_refusal_text(proxy, logon.offered, logon.tried);
        return false;
    }
    logon.tried |= next;
    // No name and no password: WinHTTP answers with the logon of the user
    // running the launcher, to the proxy alone (the target says which).
    const bool set = next == PROXY_BASIC
                         ? WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                                                 stored.user.c_str(), stored.password.c_str(), nullptr)
                         : WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, winhttp_scheme(next), nullptr,
                                                 nullptr, nullptr);
    if (set) return true;
    return answer_proxy_challenge(request, proxy, logon, refusal);   // the next scheme, if any
}
