#include "splash/frame_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

// x86-64 always has SSE2 (both the mingw and the native builds); other
// targets take the plain loops, which give the same bytes.
#if defined(__SSE2__)
#include <emmintrin.h>
#define TW_SCALE_SSE2 1
#endif

ScalePool::ScalePool(int threads)
{
    for (int i = 1; i < threads; ++i)
        workers_.emplace_back([this] { worker_main(); });
}

ScalePool::~ScalePool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

int ScalePool::size() const
{
    return static_cast<int>(workers_.size()) + 1;
}

void ScalePool::run(int bands, const std::function<void(int band)>& work)
{
    if (bands <= 0)
        return;
    if (workers_.empty() || bands == 1) {
        for (int band = 0; band < bands; ++band)
            work(band);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &work;
        job_bands_ = bands;
        next_band_ = 1;
        ++generation_;
    }
    start_.notify_all();
    work(0);
    std::unique_lock<std::mutex> lock(mutex_);
    while (next_band_ < job_bands_) {
        const int band = next_band_++;
        lock.unlock();
        work(band);
        lock.lock();
    }
    // Every band is claimed; wait for the workers still busy with theirs. A
    // worker joins a job only while job_ is set, so after this no worker can
    // touch `work` any more.
    done_.wait(lock, [this] { return active_ == 0; });
    job_ = nullptr;
}

void ScalePool::worker_main()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        start_.wait(lock, [&] { return stop_ || (job_ && generation_ != seen); });
        if (stop_)
            return;
        seen = generation_;
        const std::function<void(int)>* job = job_;
        ++active_;
        while (next_band_ < job_bands_) {
            const int band = next_band_++;
            lock.unlock();
            (*job)(band);
            lock.lock();
        }
        if (--active_ == 0)
            done_.notify_all();
    }
}

int default_scale_threads()
{
    const int hardware = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(1, std::min(hardware, 8));
}

namespace {

// One destination column: the left source pixel and the right one's weight
// (0..255); the right pixel is always x0 + 1 (the row buffer is padded by one).
struct ColumnTap {
    int32_t x0;
    uint32_t weight;
};

struct SourceTap {
    int first;        // first source index
    int second;       // next source index, clamped to the frame
    uint32_t weight;  // weight of `second`, 0..255
};

// Source position of destination index i for scale s and offset o, clamped to
// the frame, as a tap with an 8-bit weight.
SourceTap source_tap(int i, double s, double o, int size)
{
    double pos = (i + 0.5 - o) / s - 0.5;
    pos = std::clamp(pos, 0.0, static_cast<double>(size - 1));
    const int first = std::min(static_cast<int>(pos), size - 1);
    const uint32_t weight = std::min(static_cast<uint32_t>((pos - first) * 256.0), 255u);
    return {first, std::min(first + 1, size - 1), weight};
}

// Mixes two BGRX pixels: a x (256 - w) + b x w, over 256, rounded. Red and
// blue are mixed together in 16-bit lanes, green alone; the top byte is 0.
inline uint32_t lerp_pixel(uint32_t a, uint32_t b, uint32_t w)
{
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((a & 0xFF00FFu) * iw + (b & 0xFF00FFu) * w + 0x800080u) >> 8) & 0xFF00FFu;
    const uint32_t g = (((a & 0x00FF00u) * iw + (b & 0x00FF00u) * w + 0x008000u) >> 8) & 0x00FF00u;
    return rb | g;
}

#if TW_SCALE_SSE2
// Per column, for the 16-bit lanes of a pixel pair: 256 - weight four times
// (left pixel), then weight four times (right pixel).
struct alignas(16) LaneWeights {
    uint16_t lane[8];
};
#endif

struct ScaleJob {
    const uint32_t* src;
    int sw, sh;
    PixelBuffer dst;
    double scale, oy;
    const ColumnTap* columns;
#if TW_SCALE_SSE2
    const struct LaneWeights* weights;
#endif
    int col_lo, col_hi;  // source columns any destination column reads
    int bands;
};

// tmp[i] = mix of r0[i] and r1[i] for i in [lo, hi].
void mix_rows(const uint32_t* r0, const uint32_t* r1, uint32_t weight, int lo, int hi,
              uint32_t* tmp)
{
    int i = lo;
#if TW_SCALE_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    const __m128i w = _mm_set1_epi16(static_cast<short>(weight));
    const __m128i iw = _mm_set1_epi16(static_cast<short>(256 - weight));
    // Each 16-bit lane holds a x (256 - w) + b x w + 128 <= 65408: no overflow.
    for (; i + 4 <= hi + 1; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + i));
        __m128i lo16 = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), iw),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), w));
        __m128i hi16 = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), iw),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), w));
        lo16 = _mm_srli_epi16(_mm_add_epi16(lo16, half), 8);
        hi16 = _mm_srli_epi16(_mm_add_epi16(hi16, half), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tmp + i), _mm_packus_epi16(lo16, hi16));
    }
#endif
    for (; i <= hi; ++i)
        tmp[i] = lerp_pixel(r0[i], r1[i], weight);
}

// out[col] = mix of tmp[x0] and tmp[x0 + 1] by the column table.
void mix_columns(const ScaleJob& job, const uint32_t* tmp, uint32_t* out)
{
    const int W = job.dst.width;
    const ColumnTap* const columns = job.columns;
    int col = 0;
#if TW_SCALE_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const LaneWeights* const weights = job.weights;
    // Two neighbouring source pixels per column come in one 64-bit load; the
    // halves are weighted, then the two halves of each column added.
    auto pair = [&](int c) {
        const __m128i ab = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tmp + columns[c].x0));
        const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(weights[c].lane));
        return _mm_mullo_epi16(_mm_unpacklo_epi8(ab, zero), w);
    };
    for (; col + 4 <= W; col += 4) {
        const __m128i p0 = pair(col), p1 = pair(col + 1), p2 = pair(col + 2), p3 = pair(col + 3);
        __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi64(p0, p1), _mm_unpackhi_epi64(p0, p1));
        __m128i s23 = _mm_add_epi16(_mm_unpacklo_epi64(p2, p3), _mm_unpackhi_epi64(p2, p3));
        s01 = _mm_srli_epi16(_mm_add_epi16(s01, half), 8);
        s23 = _mm_srli_epi16(_mm_add_epi16(s23, half), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + col),
                         _mm_or_si128(_mm_packus_epi16(s01, s23), opaque));
    }
#endif
    for (; col < W; ++col) {
        const ColumnTap c = columns[col];
        out[col] = 0xFF000000u | lerp_pixel(tmp[c.x0], tmp[c.x0 + 1], c.weight);
    }
}

// Rows of one band: for each destination row, mix the two source rows
// vertically into a row buffer (only the columns that are read), then pick
// and mix pairs horizontally through the column table.
void scale_band(const ScaleJob& job, int band)
{
    const int H = job.dst.height;
    const int row_first = static_cast<int>(static_cast<int64_t>(band) * H / job.bands);
    const int row_end = static_cast<int>(static_cast<int64_t>(band + 1) * H / job.bands);
    if (row_first >= row_end)
        return;
    // One buffer per thread, grown once and then reused frame after frame.
    thread_local std::vector<uint32_t> mixed;
    if (mixed.size() < static_cast<size_t>(job.sw) + 1)
        mixed.resize(static_cast<size_t>(job.sw) + 1);
    uint32_t* const tmp = mixed.data();
    for (int row = row_first; row < row_end; ++row) {
        const SourceTap t = source_tap(row, job.scale, job.oy, job.sh);
        const uint32_t* r0 = job.src + static_cast<ptrdiff_t>(t.first) * job.sw;
        const uint32_t* r1 = job.src + static_cast<ptrdiff_t>(t.second) * job.sw;
        mix_rows(r0, r1, t.weight, job.col_lo, job.col_hi, tmp);
        tmp[job.col_hi + 1] = tmp[job.col_hi];
        mix_columns(job, tmp, job.dst.pixels + static_cast<ptrdiff_t>(row) * job.dst.stride);
    }
}

}  // namespace

void scale_frame_cover(const uint32_t* src, int sw, int sh, PixelBuffer& dst, ScalePool* pool)
{
    if (!src || sw <= 0 || sh <= 0 || !dst.pixels || dst.width <= 0 || dst.height <= 0)
        return;
    const int W = dst.width;
    const int H = dst.height;
    const double scale = std::max(static_cast<double>(H) / sh, static_cast<double>(W) / sw);
    const double ox = (W - sw * scale) / 2.0;
    const double oy = (H - sh * scale) / 2.0;

    // The column table depends only on the sizes; it is rebuilt per call but
    // its memory is kept by the calling (splash) thread.
    thread_local std::vector<ColumnTap> columns;
    if (columns.size() < static_cast<size_t>(W))
        columns.resize(static_cast<size_t>(W));
    int col_lo = sw - 1;
    int col_hi = 0;
    for (int col = 0; col < W; ++col) {
        const SourceTap t = source_tap(col, scale, ox, sw);
        // A zero weight never reads the right pixel, so x0 + 1 may be the pad.
        columns[col] = {t.first, t.second == t.first ? 0u : t.weight};
        col_lo = std::min(col_lo, t.first);
        col_hi = std::max(col_hi, t.first);
    }
    col_hi = std::min(col_hi + 1, sw - 1);
#if TW_SCALE_SSE2
    thread_local std::vector<LaneWeights> weights;
    if (weights.size() < static_cast<size_t>(W))
        weights.resize(static_cast<size_t>(W));
    for (int col = 0; col < W; ++col) {
        const uint16_t w = static_cast<uint16_t>(columns[col].weight);
        const uint16_t iw = static_cast<uint16_t>(256 - w);
        weights[col] = LaneWeights{{iw, iw, iw, iw, w, w, w, w}};
    }
#endif

    const int bands = pool ? pool->size() : default_scale_threads();
#if TW_SCALE_SSE2
    const ScaleJob job{src, sw, sh, dst, scale, oy, columns.data(), weights.data(),
                       col_lo, col_hi, bands};
#else
    const ScaleJob job{src, sw, sh, dst, scale, oy, columns.data(), col_lo, col_hi, bands};
#endif
    auto work = [&job](int band) { scale_band(job, band); };
    if (pool) {
        pool->run(bands, work);
        return;
    }
    std::vector<std::thread> helpers;
    for (int band = 1; band < bands; ++band)
        helpers.emplace_back(work, band);
    work(0);
    for (std::thread& t : helpers)
        t.join();
}
