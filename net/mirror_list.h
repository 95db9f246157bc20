#pragma once
// The update server's mirrors: one HttpClient per base URL of the setting, in
// its order. The manifest comes from one of them, "the mirror in use"; the
// pieces come from it too, and a piece it cannot deliver is asked of the
// others in turn. A mirror whose connection fails twice is skipped for the
// rest of the run, and each mirror's first trouble is logged with its cause
// (later ones are not: twelve threads would repeat it for every piece).
// Everything after `open` may be called from many threads at once.
#include "net/http_client.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

constexpr int MIRROR_TRANSPORT_FAILURES_TO_SKIP = 2;

class MirrorList {
public:
    // Opens a client on every base URL of `urls` (see split_base_urls). A URL
    // that will not open is kept as a mirror that is skipped from the start,
    // so that the numbering stays the setting's. False when none opened.
    bool open(const std::wstring& urls);
    void close();

    size_t size() const { return mirrors_.size(); }
    HttpClient& client(size_t i) { return mirrors_[i]->client; }
    // "host" or "host:port" of mirror i, for the log and the progress lines.
    const std::string& name(size_t i) const { return mirrors_[i]->name; }

    size_t in_use() const { return in_use_.load(); }
    // The name of the mirror in use; empty when there is none.
    std::string in_use_name() const { return mirrors_.empty() ? std::string() : name(in_use()); }
    void use(size_t i) { in_use_.store(i); }
    bool skipped(size_t i) const { return mirrors_[i]->skipped.load(); }

    // The mirrors to ask, in order: the one in use first, then the others
    // after it in the setting's order (wrapping round), none that is skipped.
    std::vector<size_t> order() const;

    // A request to mirror i failed (not for a stop). Logs its first trouble
    // and skips it after its second transport failure.
    void note_trouble(size_t i, const std::string& what, const HttpTrouble& trouble);

    // Every mirror's bodies are read within `budget` (null: no limit).
    void set_download_budget(DownloadBudget* budget);

    // The first refusal of a proxy that asked for credentials, as the player
    // should read it; empty when none refused.
    std::string proxy_refusal() const;

private:
    struct Mirror {
        HttpClient client;
        std::string name;
        std::atomic<bool> skipped{false};
        std::atomic<bool> trouble_logged{false};
        std::atomic<int> transport_failures{0};
    };
    std::vector<std::unique_ptr<Mirror>> mirrors_;
    std::atomic<size_t> in_use_{0};
    mutable std::mutex refusal_mutex_;
    std::string proxy_refusal_;
};
