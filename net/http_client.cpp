#include "net/http_client.h"

#include "base/log.h"
#include "base/paths.h"
#include "base/settings.h"
#include "base/test_hooks.h"
#include "net/download_budget.h"
#include "net/proxy_challenge.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD HOST_BUFFER = 256;    // UTF-16 units, terminator included
constexpr DWORD PATH_BUFFER = 1024;
constexpr int MAX_ATTEMPTS = 3;
constexpr DWORD RETRY_STEP_MS = 400;  // pause after attempt n is n x 400 ms
// The most bytes asked of one read; each read takes what has arrived.
constexpr size_t READ_STEP = 1u << 20;

// The window over which a body's speed is averaged; tests shorten it.
uint64_t slow_body_window_ms()
{
    const uint64_t shortened = test_slow_body_window_ms();
    return shortened ? shortened : SLOW_BODY_WINDOW_MS;
}

// Ends a body that arrives slower than the floor: once a window has passed,
// the bytes it brought must reach the floor, and the next window starts.
class SlowBodyGuard {
public:
    explicit SlowBodyGuard(uint64_t window_ms) : window_ms_(window_ms), start_(GetTickCount64()) {}

    // False when the window that just closed brought too few bytes.
    // Time the reader spent waiting for the download budget is the
    // launcher's own doing, not the server's: it does not count.
    void pause(uint64_t ms) { start_ += ms; }

    bool keeps_up(size_t got)
    {
        bytes_ += got;
        const uint64_t now = GetTickCount64();
        const uint64_t elapsed = now - start_;
        if (elapsed < window_ms_) return true;
        if (bytes_ * 1000 < SLOW_BODY_BYTES_PER_SECOND * elapsed) return false;
        start_ = now;
        bytes_ = 0;
        return true;
    }

private:
    uint64_t window_ms_;
    uint64_t start_;
    uint64_t bytes_ = 0;
};

bool is_redirect(DWORD code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

std::wstring location_header(HINTERNET request)
{
    wchar_t text[2048] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    return std::wstring(text, size / sizeof(wchar_t));
}

bool stop_requested(const std::atomic<bool>* stop_flag)
{
    return stop_flag && stop_flag->load();
}

std::wstring user_agent()
{
    return L"tarnwick-launcher/" + std::to_wstring(LAUNCHER_VERSION);
}

// The declared body length, or -1 when the response names none.
long long content_length(HINTERNET request)
{
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &size, WINHTTP_NO_HEADER_INDEX))
        return -1;
    wchar_t* end = nullptr;
    long long value = std::wcstoll(text, &end, 10);
    return end == text || value < 0 ? -1 : value;
}

// Keeps the reason the server's certificate was refused; WinHTTP itself only
// reports ERROR_WINHTTP_SECURE_FAILURE.
void CALLBACK note_secure_failure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info && length >= sizeof(DWORD))
        *reinterpret_cast<DWORD*>(context) = *static_cast<const DWORD*>(info);
}

std::string certificate_problem(DWORD flags)
{
    std::string text;
    auto add = [&](DWORD flag, const char* what) {
        if (!(flags & flag)) return;
        if (!text.empty()) text += ", ";
        text += what;
    };
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "issued by an authority this system does not trust");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "made out to another host name");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "expired or not yet valid");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "revoked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "revocation could not be checked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "invalid");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE, "not meant for a server");
    add(WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "TLS channel error");
    return text;
}

std::string winhttp_error_text(DWORD error, DWORD secure_flags)
{
    const char* name = "";
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:   // what some WinHTTPs pass on from the socket
        name = "timed out";
        break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: name = "host name not resolved"; break;
    case ERROR_WINHTTP_CANNOT_CONNECT: name = "cannot connect"; break;
    case ERROR_WINHTTP_CONNECTION_ERROR: name = "connection reset"; break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: name = "invalid server response"; break;
    case ERROR_WINHTTP_SECURE_FAILURE: name = "TLS certificate not accepted"; break;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: name = "TLS channel error"; break;
    case ERROR_WINHTTP_SECURE_INVALID_CA: name = "TLS certificate from an untrusted authority"; break;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: name = "TLS certificate for another host name"; break;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: name = "TLS certificate expired"; break;
    default: break;
    }
    char text[160];
    std::snprintf(text, sizeof text, "winhttp error %lu%s%s%s", static_cast<unsigned long>(error),
                  *name ? " (" : "", name, *name ? ")" : "");
    std::string out = text;
    if (secure_flags) out += ": the server's certificate is " + certificate_problem(secure_flags);
    return out;
}

bool is_tls_failure(DWORD error)
{
    switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return true;
    default:
        return false;
    }
}

}  // namespace

// Where one hop of a request goes.
struct HttpClient::Place {
    std::wstring host;
    unsigned short port = 0;
    bool secure = false;
    std::wstring path;   // query included
};

namespace {

// Host, port, scheme and path (query included) of an absolute http or https
// URL; false for anything else or a URL without a host.
bool crack_url(const std::wstring& url, HttpClient::Place& place)
{
    wchar_t host[HOST_BUFFER] = {};
    wchar_t path[PATH_BUFFER] = {};
    wchar_t extra[PATH_BUFFER] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = HOST_BUFFER;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = PATH_BUFFER;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = PATH_BUFFER;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    place.host.assign(host, parts.dwHostNameLength);
    place.port = parts.nPort;
    place.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    place.path.assign(path, parts.dwUrlPathLength);
    place.path.append(extra, parts.dwExtraInfoLength);
    if (place.path.empty() || place.path[0] != L'/') place.path.insert(0, 1, L'/');
    return !place.host.empty();
}

// The place a Location header names, seen from the place that sent it: an
// absolute URL, a path on the same server, or a path relative to the
// request's folder. False when it names nothing this client can fetch.
bool resolve_location(const HttpClient::Place& from, const std::wstring& location, HttpClient::Place& to)
{
    if (location.empty()) return false;
    if (location.find(L"://") == std::wstring::npos) {
        to = from;
        if (location[0] == L'/') {
            to.path = location;
        } else {
            const std::wstring plain = from.path.substr(0, from.path.find(L'?'));
            to.path = plain.substr(0, plain.rfind(L'/') + 1) + location;
        }
        return true;
    }
    return crack_url(location, to);
}

}  // namespace

// One request's inputs and what its attempts found out.
struct HttpClient::Request {
    std::wstring path;
    const std::function<void(size_t)>& progress;
    const std::atomic<bool>* stop_flag;
    int* status;
    size_t max_body;
    std::string why;            // the last failed attempt's reason, for the log
    DWORD secure_flags = 0;     // filled by note_secure_failure
    DWORD tls_error = 0;        // the last attempt failed in the TLS handshake
    bool transport = false;     // the last attempt failed in transport, not by an answer
    std::wstring location;      // the last redirect's target, as sent
    Place place;                // the last hop tried, and the way it went
    ProxyRoute route;
    std::string proxy;          // the proxy of that hop; empty when it went straight
    ProxyLogon logon;           // what that hop's proxy asked for and got

    // A WinHTTP call failed: remembers its error.
    Attempt failed_call()
    {
        const DWORD error = GetLastError();
        why = winhttp_error_text(error, secure_flags);
        if (!proxy.empty()) why += " (through the proxy " + proxy + ")";
        tls_error = is_tls_failure(error) ? error : 0;
        transport = true;
        return Attempt::Failed;
    }
};

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() { close(); }

bool HttpClient::open(const std::wstring& url)
{
    close();
    Place base;
    if (!crack_url(url, base)) return false;
    host_ = base.host;
    base_path_ = base.path;
    if (base_path_.back() != L'/') base_path_ += L'/';
    port_ = base.port;
    secure_ = base.secure;

    static const int timeouts[4] = {10000, 10000, 20000, 60000};
    sessions_.open(user_agent(), timeouts);
    ProxyRoute route;
    open_ = sessions_.session_for(url, secure_, host_, port_, route) != nullptr;
    const std::string proxy = route.proxy_for(secure_);
    if (open_ && !proxy.empty())
        log_line("requests to %s go through the proxy %s (%s)", to_utf8(host_).c_str(), proxy.c_str(),
                 route.source.c_str());
    return is_open();
}

void HttpClient::close()
{
    sessions_.close();
    open_ = false;
}

// Some WinHTTP builds report a refused certificate only as a failed TLS
// channel. To tell the player's support which it was, the handshake is tried
// once more with the certificate checks off: if it then succeeds, the
// certificate was the reason. The party on the other end failed to prove who
// it is, so the probe tells it nothing the real request would: a session of
// its own (no cookies, no user agent), the bare path "/", no credentials, no
// redirects, and the answer is never received. It goes the way the failed
// hop went, to that hop's host and through its proxy; a proxy that wanted
// credentials for the hop gets no probe at all, as the probe has none to give.
bool HttpClient::certificate_was_refused(const Request& r) const
{
    if (r.logon.offered) return false;
    WinHttpHandle session = ProxySessions::bare_session(r.route);
    if (!session) return false;
    constexpr DWORD PROBE_TIMEOUT_MS = 10000;   // each of its steps, the answer's headers included
    WinHttpSetTimeouts(session.get(), PROBE_TIMEOUT_MS, PROBE_TIMEOUT_MS, PROBE_TIMEOUT_MS, PROBE_TIMEOUT_MS);
    WinHttpHandle connection(WinHttpConnect(session.get(), r.place.host.c_str(), r.place.port, 0));
    if (!connection) return false;
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return false;
    DWORD features = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION | WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    DWORD never_log_on = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &never_log_on, sizeof never_log_on);
    DWORD answer_ms = PROBE_TIMEOUT_MS;   // sending waits for the answer's headers in some WinHTTPs
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answer_ms, sizeof answer_ms);
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    return WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore) &&
           WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
}

// Follows the redirects of one attempt hop by hop.
HttpClient::Attempt HttpClient::attempt(Request& r, std::string& body)
{
    r.transport = false;
    Place place{host_, port_, secure_, r.path};
    for (int hops = 0;; ++hops) {
        Place next;
        const Attempt result = attempt_at(place, r, body, next);
        if (result != Attempt::Redirected) return result;
        // A downgrade would hand the pieces' and the manifest's transport to
        // anyone on the path; the signature guards the content, not privacy
        // or availability, so the launcher keeps the base URL's promise.
        if (place.secure && !next.secure) {
            r.why = "refused a redirect from https to plain http (" + to_utf8(r.location) + ")";
            return Attempt::BadRedirect;
        }
        if (hops == MAX_REDIRECTS) {
            r.why = "more than " + std::to_string(MAX_REDIRECTS) + " redirects";
            return Attempt::BadRedirect;
        }
        place = std::move(next);
    }
}

namespace {

std::wstring url_of(const HttpClient::Place& place)
{
    return (place.secure ? L"https://" : L"http://") + place.host + L":" + std::to_wstring(place.port) + place.path;
}

DWORD status_code(HINTERNET request)
{
    DWORD code = 0;
    DWORD size = sizeof code;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &code, &size, WINHTTP_NO_HEADER_INDEX);
    return code;
}

}  // namespace

// Sends the request and receives the answer's head, answering its proxy
// for as long as the proxy asks and there is something left to answer with.
HttpClient::Attempt HttpClient::send_answering_proxy(HINTERNET request, Request& r)
{
    for (;;) {
        if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                reinterpret_cast<DWORD_PTR>(&r.secure_flags)) ||
            !WinHttpReceiveResponse(request, nullptr))
            return r.failed_call();
        const DWORD code = status_code(request);
        // A 401 right after the proxy was answered is the proxy's: some
        // refuse wrong credentials so. The update server asks for none.
        const bool proxy_asks = !r.proxy.empty() && (code == 407 || (code == 401 && r.logon.tried));
        if (!proxy_asks) return Attempt::Ok;
        if (!answer_proxy_challenge(request, r.proxy, r.logon, r.why)) return Attempt::ProxyRefused;
    }
}

HttpClient::Attempt HttpClient::attempt_at(const Place& place, Request& r, std::string& body, Place& next)
{
    body.clear();
    r.place = place;
    r.logon = ProxyLogon{};
    HINTERNET session = sessions_.session_for(url_of(place), place.secure, place.host, place.port, r.route);
    r.proxy = r.route.proxy_for(place.secure);
    if (!session) return r.failed_call();
    WinHttpHandle connection(WinHttpConnect(session, place.host.c_str(), place.port, 0));
    if (!connection) return r.failed_call();
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", place.path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             place.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return r.failed_call();
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    // WinHTTP's default sends the user's logon to any host it takes for the
    // intranet, a redirect target included. The update server never gets it;
    // a proxy gets it only when it asks (send_answering_proxy).
    DWORD never_log_on = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &never_log_on, sizeof never_log_on);
    // A server that sends nothing at all fails within the same window as one
    // that trickles: before its headers as well as in its body. The wait for
    // the headers has a timeout of its own, unbounded in some WinHTTPs, so a
    // server that takes the connection and never answers would hold the run
    // for good.
    DWORD receive_ms = static_cast<DWORD>(std::min<uint64_t>(slow_body_window_ms(), SLOW_BODY_WINDOW_MS));
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &receive_ms, sizeof receive_ms);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive_ms, sizeof receive_ms);
    if (place.secure)
        WinHttpSetStatusCallback(request.get(), note_secure_failure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    const Attempt exchanged = send_answering_proxy(request.get(), r);
    if (exchanged == Attempt::ProxyRefused && r.status) *r.status = 407;
    if (exchanged != Attempt::Ok) return exchanged;

    const DWORD code = status_code(request.get());
    if (is_redirect(code)) {
        r.location = location_header(request.get());
        if (resolve_location(place, r.location, next)) return Attempt::Redirected;
        r.why = "http " + std::to_string(code) + " to a place that cannot be fetched (" + to_utf8(r.location) + ")";
        return Attempt::BadRedirect;
    }
    if (r.status) *r.status = static_cast<int>(code);
    if (code != 200) {
        r.why = "http " + std::to_string(code);
        return code == 404 ? Attempt::NotFound : Attempt::Failed;
    }
    return read_body(request.get(), r, body);
}

HttpClient::Attempt HttpClient::read_body(HINTERNET request, Request& r, std::string& body) const
{
    const long long declared = content_length(request);
    auto too_large = [&] {
        r.why = "the body is larger than " + std::to_string(r.max_body) + " bytes";
        return Attempt::TooLarge;
    };
    if (declared >= 0 && static_cast<unsigned long long>(declared) > r.max_body) return too_large();
    // One allocation for a body of declared length, with room for the read
    // that finds its end.
    if (declared > 0) body.reserve(static_cast<size_t>(declared) + READ_STEP);
    const uint64_t window_ms = slow_body_window_ms();
    SlowBodyGuard pace(window_ms);
    for (;;) {
        if (stop_requested(r.stop_flag)) return Attempt::Failed;
        const size_t old_size = body.size();
        // One byte past the bound is enough to know it was passed.
        const size_t room = r.max_body - std::min(r.max_body, old_size);
        size_t step = room >= READ_STEP ? READ_STEP : room + 1;
        // A read asks for no more than has arrived: some WinHTTP builds
        // (Wine's) hold a read until its whole buffer is filled, which would
        // hide a trickle from the floor below for as long as the body lasts.
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return r.failed_call();
        if (available == 0) break;   // the server ended the response
        step = std::min<size_t>(step, available);
        if (budget_) {
            step = budget_->slice(step);
            const int64_t waited_ms = budget_->take(step, r.stop_flag);
            if (waited_ms < 0) return Attempt::Failed;   // a stop while waiting
            pace.pause(static_cast<uint64_t>(waited_ms));
        }
        body.resize(old_size + step);
        DWORD got = 0;
        const bool read = WinHttpReadData(request, body.data() + old_size, static_cast<DWORD>(step), &got);
        if (budget_) budget_->give_back(step - (read ? got : 0));
        if (!read) return r.failed_call();
        body.resize(old_size + got);
        if (got == 0) break;   // the server ended the response
        if (body.size() > r.max_body) return too_large();
        if (r.progress) r.progress(got);
        if (!pace.keeps_up(got)) {
            r.why = "the body arrived slower than " + std::to_string(SLOW_BODY_BYTES_PER_SECOND) +
                    " bytes a second over " + std::to_string(window_ms) + " ms (" + std::to_string(body.size()) +
                    " bytes so far)";
            r.transport = true;
            return Attempt::Failed;
        }
    }
    // A connection that closes before the declared length is a failed
    // attempt, not a short body handed on as complete.
    if (declared >= 0 && static_cast<unsigned long long>(declared) != body.size()) {
        r.why = "the body was cut short at " + std::to_string(body.size()) + " of " +
                std::to_string(declared) + " bytes";
        return Attempt::Failed;
    }
    return Attempt::Ok;
}

bool HttpClient::get(const std::string& path, std::string& body, const std::function<void(size_t)>& progress,
                     const std::atomic<bool>* stop_flag, int* status, size_t max_body, HttpTrouble* trouble)
{
    if (!is_open()) return false;
    Request request{base_path_ + to_utf16(path), progress, stop_flag, status, max_body};
    int attempts = 0;
    for (;;) {
        if (stop_requested(stop_flag)) return false;
        ++attempts;
        Attempt result;
        {
            DownloadBudget::Connection place(budget_, stop_flag);
            if (!place.entered()) return false;   // a stop while waiting for a place
            result = attempt(request, body);
        }
        if (result == Attempt::Ok) return true;
        if (stop_requested(stop_flag)) return false;   // a stop is no failure to explain
        // A bound passed is no accident that a retry would mend; a 404 is
        // final for the caller that asks for the status.
        bool final = result == Attempt::TooLarge || result == Attempt::BadRedirect ||
                     result == Attempt::ProxyRefused || (result == Attempt::NotFound && status);
        if (!final) Sleep(RETRY_STEP_MS * static_cast<DWORD>(attempts));
        if (final || attempts >= MAX_ATTEMPTS) {
            if (request.tls_error && !request.secure_flags && certificate_was_refused(request))
                request.why += ": the server's certificate is not one this system trusts";
            log_line("request %s failed after %d attempt%s: %s", path.c_str(), attempts,
                     attempts == 1 ? "" : "s", request.why.c_str());
            if (trouble)
                *trouble = HttpTrouble{request.transport, request.why, result == Attempt::ProxyRefused};
            return false;
        }
    }
}
