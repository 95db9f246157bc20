#pragma once
// A client of the update server's base URL. `get` fetches a path below it
// into memory, trying up to three times. After `open` the client changes
// only the routes and sessions it keeps per host, under their lock, so `get`
// may run on many threads at once: each attempt uses a connection and a
// request handle of its own.
//
// Redirects are followed by the client itself, not by WinHTTP, so that each
// hop can be checked: up to MAX_REDIRECTS of them, to any host, but never from
// https down to plain http. A body that arrives slower than
// SLOW_BODY_BYTES_PER_SECOND, averaged over a window of a minute, ends its
// attempt as a transport failure: a server that trickles a few bytes a minute
// cannot hold a run for ever.
//
// Requests go the way the system's proxy settings say (net/proxy_sessions.h);
// a proxy that asks for credentials is answered as net/proxy_challenge.h
// says, and the server itself never gets the user's logon. Bodies are read
// within the run's download budget when one is set.
#include "base/win_handles.h"
#include "net/proxy_sessions.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr int MAX_REDIRECTS = 5;
constexpr uint64_t SLOW_BODY_BYTES_PER_SECOND = 1024;
constexpr uint64_t SLOW_BODY_WINDOW_MS = 60000;

// What the last attempt of a failed `get` ran into. `transport` is set when
// the server could not be reached or did not deliver (no connection, reset,
// timeout, TLS, a trickling body), as opposed to an answer it gave (a status,
// a body too large, a refused redirect).
struct HttpTrouble {
    bool transport = false;
    std::string why;
    bool proxy_refused = false;   // a proxy asked for credentials the launcher could not give
};

class DownloadBudget;

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Splits `url` and opens the session. False (and closed) when the URL is
    // malformed, its host exceeds 255 or its path 1023 characters, or no
    // session can be made.
    bool open(const std::wstring& url);

    // GET of base_path + `path` (UTF-8, query included). True only when status
    // 200 and the whole body were received. `progress` gets the size of each
    // read; `status` receives the status of every attempt that got a response,
    // and a 404 there ends the call at once. `stop_flag` is looked at before
    // every attempt and every read. A body longer than `max_body` ends the
    // call at once, unread. On false `body` must not be used, and unless a
    // stop was requested the log gets one line saying why the last attempt
    // failed and how many were made, and `trouble` (when given) says the same.
    // A redirect that is refused, or one too many, ends the call at once.
    bool get(const std::string& path, std::string& body, const std::function<void(size_t)>& progress = {},
             const std::atomic<bool>* stop_flag = nullptr, int* status = nullptr,
             size_t max_body = SIZE_MAX, HttpTrouble* trouble = nullptr);

    void close();

    // Bodies are read within `budget` from now on (null: no limit). Set
    // before the threads that use the client start.
    void set_download_budget(DownloadBudget* budget) { budget_ = budget; }

    struct Place;   // where one hop of a request goes

    bool is_open() const { return open_; }
    const std::wstring& host() const { return host_; }
    const std::wstring& base_path() const { return base_path_; }
    unsigned short port() const { return port_; }
    bool secure() const { return secure_; }

private:
    enum class Attempt { Ok, Failed, NotFound, TooLarge, Redirected, BadRedirect, ProxyRefused };
    struct Request;
    Attempt attempt(Request& request, std::string& body);
    Attempt attempt_at(const Place& place, Request& request, std::string& body, Place& next);
    Attempt send_answering_proxy(HINTERNET handle, Request& request);
    Attempt read_body(HINTERNET handle, Request& request, std::string& body) const;
    bool certificate_was_refused(const Request& request) const;

    ProxySessions sessions_;
    DownloadBudget* budget_ = nullptr;
    bool open_ = false;
    std::wstring host_;
    std::wstring base_path_;
    unsigned short port_ = 0;
    bool secure_ = false;
};
