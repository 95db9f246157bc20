#include "net/proxy_rules.h"

#include <gtest/gtest.h>

TEST(ProxyRules, TheLogonFirstThenStoredBasicEachOnce)
{
    const unsigned all = PROXY_NEGOTIATE | PROXY_NTLM | PROXY_BASIC;
    EXPECT_EQ(next_proxy_scheme(all, 0, true), PROXY_NEGOTIATE);
    EXPECT_EQ(next_proxy_scheme(all, PROXY_NEGOTIATE, true), PROXY_NTLM);
    EXPECT_EQ(next_proxy_scheme(all, PROXY_NEGOTIATE | PROXY_NTLM, true), PROXY_BASIC);
    EXPECT_EQ(next_proxy_scheme(all, all, true), 0u);
    // Basic only with credentials the user stored; Digest never.
    EXPECT_EQ(next_proxy_scheme(PROXY_BASIC, 0, false), 0u);
    EXPECT_EQ(next_proxy_scheme(PROXY_DIGEST, 0, true), 0u);
}

TEST(ProxyRules, TheRefusalNamesTheProxyTheSchemesAndWhatToDo)
{
    EXPECT_EQ(proxy_refusal_text("10.0.0.1:3128", PROXY_BASIC, 0),
              "the proxy 10.0.0.1:3128 asks for credentials (it offers Basic) -- store its user name and password "
              "in the Windows Credential Manager as tarnwick-proxy:10.0.0.1:3128");
    EXPECT_EQ(proxy_refusal_text("p:8080", PROXY_BASIC | PROXY_NTLM, PROXY_NTLM | PROXY_BASIC),
              "the proxy p:8080 refused the stored credentials (it offers NTLM, Basic) -- store its user name and "
              "password in the Windows Credential Manager as tarnwick-proxy:p:8080");
    EXPECT_EQ(proxy_refusal_text("p:8080", PROXY_NEGOTIATE | PROXY_DIGEST, PROXY_NEGOTIATE),
              "the proxy p:8080 refused your Windows logon (it offers Negotiate, Digest) -- ask the network's "
              "administrator to let the launcher through");
    EXPECT_EQ(proxy_credential_targets("p:8080"), (std::vector<std::string>{"tarnwick-proxy:p:8080", "tarnwick-proxy"}));
}

TEST(ProxyRules, TheProxyOfAListForEachKindOfRequest)
{
    EXPECT_EQ(proxy_for_request("proxy:3128", false), "proxy:3128");
    EXPECT_EQ(proxy_for_request("proxy:3128", true), "proxy:3128");
    EXPECT_EQ(proxy_for_request("http=a:1;https=b:2", false), "a:1");
    EXPECT_EQ(proxy_for_request("http=a:1;https=b:2", true), "b:2");
    EXPECT_EQ(proxy_for_request("http=a:1", true), "");
    EXPECT_EQ(proxy_for_request(" http://first:80/ second:81", false), "first:80");
    EXPECT_EQ(proxy_for_request("ftp=f:21 ; c:3", true), "c:3");
    EXPECT_EQ(proxy_for_request("", false), "");
}
