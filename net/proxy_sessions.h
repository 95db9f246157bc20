#pragma once
// The way out to a server as Windows applications take it: the user's
// automatic detection or configuration script when the system uses them, else
// the user's own proxy setting, else the machine's WinHTTP proxy (netsh
// winhttp), else straight. The settings are read once per client; each route
// they lead to gets a WinHTTP session of its own, since a session carries its
// proxy into every connection it makes.
#include "base/win_handles.h"

#include <map>
#include <mutex>
#include <string>

struct ProxyRoute {
    bool direct = true;
    std::wstring proxies;   // a WinHTTP proxy list
    std::wstring bypass;
    std::string source;     // where the route came from, for the log

    // The proxy a request of this kind goes through ("host:port"); empty
    // when it goes straight.
    std::string proxy_for(bool secure) const;
};

class ProxySessions {
public:
    // Reads the system's settings; each session gets the user agent and the
    // time-outs (ms: name resolution, connect, send, receive).
    void open(const std::wstring& agent, const int timeouts[4]);
    void close();

    // The route to `url` (scheme, host and port decide it) and the session
    // that takes it; null when no session can be made. Thread-safe; the
    // session lives until close().
    HINTERNET session_for(const std::wstring& url, bool secure, const std::wstring& host, unsigned short port,
                          ProxyRoute& route);

    // A session of its own on `route`, without user agent or anything kept
    // from other requests (the certificate probe's).
    static WinHttpHandle bare_session(const ProxyRoute& route);

private:
    ProxyRoute resolve(const std::wstring& url);

    std::wstring agent_;
    int timeouts_[4] = {};
    bool auto_detect_ = false;        // the user has detection switched on, and it has not failed
    bool use_script_ = false;         // the same for the configuration script
    std::wstring script_url_;
    ProxyRoute user_route_;           // the user's own proxy, or direct
    ProxyRoute machine_route_;        // the machine's WinHTTP proxy, or direct
    WinHttpHandle resolver_;          // for the detection and the script

    std::mutex mutex_;
    std::map<std::wstring, ProxyRoute> routes_;     // by scheme, host and port
    std::map<std::wstring, WinHttpHandle> sessions_;  // by route
};
