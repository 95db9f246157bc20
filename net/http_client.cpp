#include "net/http_client.h"

#include "app/paths.h"
#include "app/settings.h"

#include <cwchar>

namespace {

constexpr DWORD HOST_BUFFER = 256;    // UTF-16 units, terminator included
constexpr DWORD PATH_BUFFER = 1024;
constexpr int MAX_ATTEMPTS = 3;
constexpr DWORD RETRY_STEP_MS = 400;  // pause after attempt n is n x 400 ms

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

// Reads the response body until WinHTTP reports no more data.
bool read_body(HINTERNET request, std::string& body, const std::function<void(size_t)>& progress,
               const std::atomic<bool>* stop_flag)
{
    for (;;) {
        if (stop_requested(stop_flag)) return false;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        size_t old_size = body.size();
        body.resize(old_size + available);
        DWORD got = 0;
        if (!WinHttpReadData(request, body.data() + old_size, available, &got)) return false;
        body.resize(old_size + got);
        if (got == 0) return true;   // the server ended the response
        if (progress) progress(got);
    }
}

}  // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() { close(); }

bool HttpClient::open(const std::wstring& url)
{
    close();
    wchar_t host[HOST_BUFFER] = {};
    wchar_t path[PATH_BUFFER] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = HOST_BUFFER;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = PATH_BUFFER;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;

    host_.assign(host, parts.dwHostNameLength);
    base_path_.assign(path, parts.dwUrlPathLength);
    if (base_path_.empty() || base_path_.back() != L'/') base_path_ += L'/';
    port_ = parts.nPort;
    secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;

    std::wstring agent = user_agent();
    session_.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_)
        session_.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
    if (session_) WinHttpSetTimeouts(session_.get(), 10000, 10000, 20000, 60000);
    return is_open();
}

void HttpClient::close() { session_.reset(); }

HttpClient::Attempt HttpClient::attempt(const std::wstring& request_path, std::string& body,
                                        const std::function<void(size_t)>& progress,
                                        const std::atomic<bool>* stop_flag, int* status) const
{
    body.clear();
    WinHttpHandle connection(WinHttpConnect(session_.get(), host_.c_str(), port_, 0));
    if (!connection) return Attempt::Failed;
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", request_path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             secure_ ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return Attempt::Failed;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return Attempt::Failed;

    DWORD code = 0;
    DWORD size = sizeof code;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
    if (status) *status = static_cast<int>(code);
    if (code == 404) return Attempt::NotFound;
    if (code != 200) return Attempt::Failed;

    if (!read_body(request.get(), body, progress, stop_flag)) return Attempt::Failed;
    // A connection that closes before the declared length is a failed
    // attempt, not a short body handed on as complete.
    long long declared = content_length(request.get());
    if (declared >= 0 && static_cast<unsigned long long>(declared) != body.size()) return Attempt::Failed;
    return Attempt::Ok;
}

bool HttpClient::get(const std::string& path, std::string& body, const std::function<void(size_t)>& progress,
                     const std::atomic<bool>* stop_flag, int* status)
{
    if (!is_open()) return false;
    const std::wstring request_path = base_path_ + to_utf16(path);
    for (int attempts = 1;; ++attempts) {
        if (stop_requested(stop_flag)) return false;
        Attempt result = attempt(request_path, body, progress, stop_flag, status);
        if (result == Attempt::Ok) return true;
        // Only the caller that asks for the status treats 404 as final.
        if (result == Attempt::NotFound && status) return false;
        // A stop request would end the next round at once; skip the pause.
        if (stop_requested(stop_flag)) return false;
        Sleep(RETRY_STEP_MS * static_cast<DWORD>(attempts));
        if (attempts >= MAX_ATTEMPTS) return false;
    }
}
