#include "net/mirror_list.h"

#include "base/log.h"
#include "base/paths.h"
#include "net/server_paths.h"

bool MirrorList::open(const std::wstring& urls)
{
    close();
    bool any = false;
    for (const std::wstring& url : split_base_urls(urls)) {
        auto mirror = std::make_unique<Mirror>();
        if (mirror->client.open(url)) {
            any = true;
            mirror->name = to_utf8(mirror->client.host());
            const unsigned short port = mirror->client.port();
            if (port != (mirror->client.secure() ? 443 : 80)) {
                mirror->name += ':';
                mirror->name += std::to_string(port);
            }
        } else {
            mirror->name = to_utf8(url);
            mirror->skipped.store(true);
            log_line("mirror %s: not a usable URL -- skipped", mirror->name.c_str());
        }
        mirrors_.push_back(std::move(mirror));
    }
    in_use_.store(0);
    return any;
}

void MirrorList::close()
{
    for (auto& mirror : mirrors_) mirror->client.close();
    mirrors_.clear();
    std::lock_guard<std::mutex> lock(refusal_mutex_);
    proxy_refusal_.clear();
}

std::vector<size_t> MirrorList::order() const
{
    std::vector<size_t> out;
    const size_t first = in_use();
    for (size_t k = 0; k < mirrors_.size(); ++k) {
        const size_t i = (first + k) % mirrors_.size();
        if (!skipped(i)) out.push_back(i);
    }
    return out;
}

void MirrorList::set_download_budget(DownloadBudget* budget)
{
    for (auto& mirror : mirrors_) mirror->client.set_download_budget(budget);
}

std::string MirrorList::proxy_refusal() const
{
    std::lock_guard<std::mutex> lock(refusal_mutex_);
    return proxy_refusal_;
}

void MirrorList::note_trouble(size_t i, const std::string& what, const HttpTrouble& trouble)
{
    if (trouble.proxy_refused) {
        std::lock_guard<std::mutex> lock(refusal_mutex_);
        if (proxy_refusal_.empty()) proxy_refusal_ = trouble.why;
    }
    Mirror& mirror = *mirrors_[i];
    const bool skip = trouble.transport &&
                      mirror.transport_failures.fetch_add(1) + 1 >= MIRROR_TRANSPORT_FAILURES_TO_SKIP;
    if (!mirror.trouble_logged.exchange(true))
        log_line("mirror %s: %s: %s", mirror.name.c_str(), what.c_str(), trouble.why.c_str());
    if (skip && !mirror.skipped.exchange(true))
        log_line("mirror %s: its connection failed %d times -- skipped for the rest of this run",
                 mirror.name.c_str(), MIRROR_TRANSPORT_FAILURES_TO_SKIP);
}
