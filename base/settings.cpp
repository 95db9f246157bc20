#include "base/settings.h"

#ifndef TW_DEFAULT_SERVER_URL
#define TW_DEFAULT_SERVER_URL "https://updates.tarnwick.example/update/"
#endif

bool headless = false;
bool no_install = false;
bool no_self_update = false;
bool verify_files = false;
bool console_attached = false;
std::wstring server_url = default_server_url();
uint64_t max_download_rate = 0;

const std::wstring& default_server_url()
{
    static const std::wstring url = [] {
        std::string narrow = TW_DEFAULT_SERVER_URL;
        return std::wstring(narrow.begin(), narrow.end());   // the URL is ASCII
    }();
    return url;
}

std::string default_server_host()
{
    std::string url = TW_DEFAULT_SERVER_URL;
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of(":/? ", start);   // the first of several mirrors
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::wstring max_rate_option() { return max_download_rate ? std::to_wstring(max_download_rate) : std::wstring(); }
