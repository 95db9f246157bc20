// Measures the piece codec on ~16 MiB of deterministic, game-like data
// (text, structured binary, already-compressed bytes) and compares the
// encoder's ratio with `gzip -6` on the same bytes.
#include "formats/piece_codec.h"
#include "tools/publish/piece_encoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
struct Rng {
    uint64_t state;
    uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

// Config files, scripts and localisation tables: words drawn with a skewed
// distribution from a fixed vocabulary, in key = "value" lines.
void append_text(std::vector<uint8_t>& out, size_t bytes, Rng& rng)
{
    std::vector<std::string> vocabulary;
    for (int i = 0; i < 3000; ++i) {
        std::string word;
        const int length = 2 + int(rng.below(9));
        for (int k = 0; k < length; ++k)
            word.push_back(char('a' + rng.below(26)));
        vocabulary.push_back(word);
    }
    const size_t end = out.size() + bytes;
    int line = 0;
    while (out.size() < end) {
        std::string text = "entry_" + std::to_string(line++) + " = \"";
        const int words = 3 + int(rng.below(12));
        for (int w = 0; w < words; ++w) {
            const double u = double(rng.below(1u << 20) + 1) / double(1u << 20);
            const size_t index = std::min<size_t>(vocabulary.size() - 1, size_t(std::pow(u, 3.0) * vocabulary.size()));
            text += vocabulary[index];
            text += w + 1 < words ? " " : "\";\n";
        }
        out.insert(out.end(), text.begin(), text.end());
    }
    out.resize(end);
}

// Meshes and tables: records of slowly varying floats, counters and flags.
void append_structured(std::vector<uint8_t>& out, size_t bytes, Rng& rng)
{
    const size_t end = out.size() + bytes;
    float x = 0, y = 0, z = 0;
    uint32_t id = 1000;
    while (out.size() < end) {
        struct Record {
            float position[3];
            float normal[3];
            uint16_t uv[2];
            uint32_t id;
            uint8_t material;
            uint8_t flags;
            uint16_t pad;
        } record{};
        x += float(rng.below(100)) / 1000.0f;
        y += float(rng.below(100)) / 1000.0f - 0.05f;
        z = float(rng.below(8));
        record.position[0] = x;
        record.position[1] = y;
        record.position[2] = z;
        record.normal[0] = 0.0f;
        record.normal[1] = rng.below(4) == 0 ? -1.0f : 1.0f;
        record.normal[2] = 0.0f;
        record.uv[0] = uint16_t(rng.below(1024));
        record.uv[1] = uint16_t(rng.below(16));
        record.id = id++;
        record.material = uint8_t(rng.below(6));
        record.flags = rng.below(10) == 0 ? 1 : 0;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
        out.insert(out.end(), p, p + sizeof record);
    }
    out.resize(end);
}

// Textures and audio that are compressed already: no redundancy to find.
void append_random(std::vector<uint8_t>& out, size_t bytes, Rng& rng)
{
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(uint8_t(rng.next() >> 32));
}

std::vector<uint8_t> game_data()
{
    Rng rng{0x9E3779B97F4A7C15ull};
    std::vector<uint8_t> data;
    const size_t mib = size_t(1) << 20;
    for (int round = 0; round < 2; ++round) {
        append_text(data, 3 * mib, rng);
        append_structured(data, 3 * mib, rng);
        append_random(data, 2 * mib, rng);
    }
    return data;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the calling thread: on a shared, busy machine it measures the
// codec rather than the scheduler.
double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <typename Work>
Timing timed(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_seconds();
    work();
    return Timing{seconds_since(start), thread_cpu_seconds() - cpu_start};
}

double mb_per_s(size_t bytes, double seconds) { return double(bytes) / seconds / 1e6; }

// Runs `gzip -6` on the data; returns the compressed size (0 if gzip failed).
size_t gzip_size(const std::vector<uint8_t>& data, double& seconds)
{
    char path[] = "/tmp/bench_codec_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return 0;
    const bool written = write(fd, data.data(), data.size()) == ssize_t(data.size());
    close(fd);
    size_t size = 0;
    if (written) {
        const std::string command = std::string("gzip -6 -c ") + path + " | wc -c";
        const auto start = std::chrono::steady_clock::now();
        if (FILE* pipe = popen(command.c_str(), "r")) {
            unsigned long long count = 0;
            if (std::fscanf(pipe, "%llu", &count) == 1)
                size = size_t(count);
            pclose(pipe);
        }
        seconds = seconds_since(start);
    }
    unlink(path);
    return size;
}
}  // namespace

int main()
{
    const std::vector<uint8_t> data = game_data();
    std::printf("input: %zu bytes of mixed game-like data\n", data.size());

    std::string packed;
    const Timing encode = timed([&] { packed = compress_piece(data.data(), data.size()); });
    std::printf("encoder: %zu bytes, ratio %.4f, %.1f MB/s (thread CPU time; %.1f MB/s wall clock)\n",
                packed.size(), double(packed.size()) / double(data.size()), mb_per_s(data.size(), encode.cpu),
                mb_per_s(data.size(), encode.wall));

    std::vector<uint8_t> out(data.size());
    Timing best{1e9, 1e9};
    for (int run = 0; run < 9; ++run) {
        bool ok = false;
        const Timing t = timed([&] {
            ok = decompress_piece(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), out.data(),
                                  out.size());
        });
        best.wall = std::min(best.wall, t.wall);
        best.cpu = std::min(best.cpu, t.cpu);
        if (!ok || out != data) {
            std::printf("decoder: FAILED to reproduce the input\n");
            return 1;
        }
    }
    std::printf("decoder: %.1f MB/s (best of 9, one thread, thread CPU time; %.1f MB/s wall clock)\n",
                mb_per_s(data.size(), best.cpu), mb_per_s(data.size(), best.wall));

    double gzip_seconds = 0;
    const size_t gzip = gzip_size(data, gzip_seconds);
    if (gzip == 0) {
        std::printf("gzip -6: not available\n");
        return 0;
    }
    std::printf("gzip -6: %zu bytes, ratio %.4f, %.1f MB/s wall clock; encoder output is %+.1f%% against gzip's size\n", gzip,
                double(gzip) / double(data.size()), mb_per_s(data.size(), gzip_seconds),
                100.0 * (double(packed.size()) / double(gzip) - 1.0));
    return 0;
}
