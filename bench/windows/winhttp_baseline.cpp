// The download baseline for the update benchmark: fetches a list of paths from
// one HTTP server over twelve threads with plain WinHTTP, each body read into
// memory and thrown away, then prints the bytes and seconds it took. Nothing is
// decompressed, hashed or written, so it is the floor the launcher's piece
// download is measured against.
//
//   winhttp_baseline.exe URL LISTFILE [--small-reads]
//
// URL is the base (http://host:port/base/); LISTFILE holds one path below it
// per line. Bodies are read 1 MiB per call (measured faster under Wine than
// the size WinHttpQueryDataAvailable reports, which --small-reads uses).
// Exit code 0 when every path came back with status 200.
#include "base/win_handles.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int THREAD_COUNT = 12;
constexpr DWORD READ_STEP = 1u << 20;
bool small_reads = false;

struct Target {
    std::wstring host;
    std::wstring base_path;
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool crack_url(const std::wstring& url, Target& target)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.base_path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (target.base_path.empty() || target.base_path.back() != L'/') target.base_path += L'/';
    target.port = parts.nPort;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return true;
}

std::vector<std::wstring> read_paths(const std::wstring& list_file)
{
    std::vector<std::wstring> paths;
    std::ifstream in{std::filesystem::path(list_file)};
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) paths.emplace_back(line.begin(), line.end());   // paths are ASCII
    }
    return paths;
}

// One GET on an open connection; the body lands in `body` (reused between
// requests, as a downloader would keep its buffer) and is counted.
bool fetch(HINTERNET connection, const Target& target, const std::wstring& path, std::string& body,
           uint64_t& bytes)
{
    std::wstring full = target.base_path + path;
    WinHttpHandle request(WinHttpOpenRequest(connection, L"GET", full.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return false;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) return false;
    body.clear();
    for (;;) {
        DWORD available = READ_STEP;
        if (small_reads && !WinHttpQueryDataAvailable(request.get(), &available)) return false;
        if (available == 0) break;
        size_t old_size = body.size();
        body.resize(old_size + available);
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), body.data() + old_size, available, &got)) return false;
        body.resize(old_size + got);
        if (got == 0) break;
    }
    bytes += body.size();
    return true;
}

struct Shared {
    const Target* target = nullptr;
    HINTERNET session = nullptr;
    const std::vector<std::wstring>* paths = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<int> failures{0};
};

void worker(Shared& shared)
{
    WinHttpHandle connection(WinHttpConnect(shared.session, shared.target->host.c_str(), shared.target->port, 0));
    if (!connection) {
        shared.failures.fetch_add(1);
        return;
    }
    std::string body;
    uint64_t bytes = 0;
    for (;;) {
        size_t i = shared.next.fetch_add(1);
        if (i >= shared.paths->size()) break;
        if (!fetch(connection.get(), *shared.target, (*shared.paths)[i], body, bytes)) {
            std::fprintf(stderr, "failed: %ls\n", (*shared.paths)[i].c_str());
            shared.failures.fetch_add(1);
        }
    }
    shared.bytes.fetch_add(bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && std::wstring(argv[3]) != L"--small-reads")) {
        std::fprintf(stderr, "usage: winhttp_baseline URL LISTFILE [--small-reads]\n");
        return 2;
    }
    small_reads = argc == 4;
    Target target;
    if (!crack_url(argv[1], target)) {
        std::fprintf(stderr, "bad URL\n");
        return 2;
    }
    std::vector<std::wstring> paths = read_paths(argv[2]);
    WinHttpHandle session(WinHttpOpen(L"tarnwick-baseline", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        std::fprintf(stderr, "no WinHTTP session\n");
        return 1;
    }
    Shared shared;
    shared.target = &target;
    shared.session = session.get();
    shared.paths = &paths;

    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < THREAD_COUNT; ++i) threads.emplace_back(worker, std::ref(shared));
    for (auto& t : threads) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("paths %zu bytes %llu seconds %.3f failures %d\n", paths.size(),
                static_cast<unsigned long long>(shared.bytes.load()), seconds, shared.failures.load());
    std::fflush(stdout);
    return shared.failures.load() == 0 ? 0 : 1;
}
