#include "net/server_paths.h"

std::string manifest_request_path(const std::string& name, uint64_t tick)
{
    return name + "?t=" + std::to_string(tick);
}

std::string piece_request_path(const std::string& id)
{
    return "chunks/" + id.substr(0, 2) + "/" + id;
}

std::vector<std::wstring> split_base_urls(const std::wstring& urls)
{
    std::vector<std::wstring> out;
    const wchar_t* const spaces = L" \t\r\n";
    for (size_t start = urls.find_first_not_of(spaces); start != std::wstring::npos;) {
        const size_t end = urls.find_first_of(spaces, start);
        out.push_back(urls.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        start = end == std::wstring::npos ? end : urls.find_first_not_of(spaces, end);
    }
    return out;
}
