#include "net/proxy_sessions.h"

#include "base/paths.h"
#include "net/proxy_rules.h"

namespace {

// Takes a string WinHTTP allocated for the caller and frees it.
std::wstring take_global(wchar_t* text)
{
    GlobalMemory owner(text);
    return text ? std::wstring(text) : std::wstring();
}

ProxyRoute named_route(const std::wstring& proxies, const std::wstring& bypass, const char* source)
{
    ProxyRoute route;
    route.direct = proxies.empty();
    route.proxies = proxies;
    route.bypass = bypass;
    route.source = source;
    return route;
}

ProxyRoute route_from(WINHTTP_PROXY_INFO& info, const char* source)
{
    const std::wstring proxies = take_global(info.lpszProxy);
    const std::wstring bypass = take_global(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return named_route({}, {}, source);
    return named_route(proxies, bypass, source);
}

std::wstring route_key(const ProxyRoute& route)
{
    return route.direct ? std::wstring() : route.proxies + L"|" + route.bypass;
}

WinHttpHandle open_session(const wchar_t* agent, const ProxyRoute& route)
{
    if (route.direct)
        return WinHttpHandle(WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    return WinHttpHandle(WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxies.c_str(),
                                     route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str(), 0));
}

}  // namespace

std::string ProxyRoute::proxy_for(bool secure) const
{
    return direct ? std::string() : proxy_for_request(to_utf8(proxies), secure);
}

void ProxySessions::open(const std::wstring& agent, const int timeouts[4])
{
    close();
    agent_ = agent;
    std::copy(timeouts, timeouts + 4, timeouts_);

    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        auto_detect_ = user.fAutoDetect != FALSE;
        script_url_ = take_global(user.lpszAutoConfigUrl);
        use_script_ = !script_url_.empty();
        user_route_ = named_route(take_global(user.lpszProxy), take_global(user.lpszProxyBypass),
                                  "the user's proxy setting");
    }
    WINHTTP_PROXY_INFO machine{};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) machine_route_ = route_from(machine, "the machine's WinHTTP proxy");
    if (auto_detect_ || use_script_)
        resolver_.reset(WinHttpOpen(agent_.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
}

void ProxySessions::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.clear();
    routes_.clear();
    resolver_.reset();
    auto_detect_ = use_script_ = false;
    script_url_.clear();
    user_route_ = machine_route_ = ProxyRoute{};
}

// Detection first, then the script; a route found either way decides, "go
// straight" included. When neither answers, the static settings decide. A
// way that failed is not tried again by this client: detection alone can
// take a good part of a second, and a redirect to another host would pay it
// again.
ProxyRoute ProxySessions::resolve(const std::wstring& url)
{
    if (resolver_) {
        struct Way {
            bool& enabled;
            DWORD flag;
            const char* source;
        };
        Way ways[] = {{auto_detect_, WINHTTP_AUTOPROXY_AUTO_DETECT, "automatic detection"},
                      {use_script_, WINHTTP_AUTOPROXY_CONFIG_URL, "the configuration script"}};
        for (Way& way : ways) {
            if (!way.enabled) continue;
            WINHTTP_AUTOPROXY_OPTIONS options{};
            options.dwFlags = way.flag;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
            options.lpszAutoConfigUrl = way.flag == WINHTTP_AUTOPROXY_CONFIG_URL ? script_url_.c_str() : nullptr;
            WINHTTP_PROXY_INFO info{};
            if (WinHttpGetProxyForUrl(resolver_.get(), url.c_str(), &options, &info)) return route_from(info, way.source);
            way.enabled = false;
        }
    }
    if (!user_route_.direct) return user_route_;
    if (!machine_route_.direct) return machine_route_;
    return named_route({}, {}, "no proxy");
}

HINTERNET ProxySessions::session_for(const std::wstring& url, bool secure, const std::wstring& host,
                                     unsigned short port, ProxyRoute& route)
{
    const std::wstring where = (secure ? L"https://" : L"http://") + host + L":" + std::to_wstring(port);
    std::lock_guard<std::mutex> lock(mutex_);
    auto known = routes_.find(where);
    if (known == routes_.end()) known = routes_.emplace(where, resolve(url)).first;
    route = known->second;
    WinHttpHandle& session = sessions_[route_key(route)];
    if (!session) {
        session = open_session(agent_.c_str(), route);
        if (session)
            WinHttpSetTimeouts(session.get(), timeouts_[0], timeouts_[1], timeouts_[2], timeouts_[3]);
    }
    return session.get();
}

WinHttpHandle ProxySessions::bare_session(const ProxyRoute& route) { return open_session(nullptr, route); }
