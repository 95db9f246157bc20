#pragma once
// Scaling a decoded video frame to cover the splash window, spread over a
// small pool of worker threads that each fill a band of rows.
#include "splash/pixel_buffer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads that run the bands of one job together. size() is
// the number of participants including the caller: a pool of N starts N - 1
// threads, and run() has the calling thread take band 0 itself.
class ScalePool {
public:
    explicit ScalePool(int threads);
    ~ScalePool();
    ScalePool(const ScalePool&) = delete;
    ScalePool& operator=(const ScalePool&) = delete;

    int size() const;
    // Calls work(band) once for every band in [0, bands); the calling thread
    // does band 0 (and helps with the rest), the workers take the others.
    // Returns when every band is done. work must not throw.
    void run(int bands, const std::function<void(int band)>& work);

private:
    void worker_main();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable done_;
    const std::function<void(int)>* job_ = nullptr;  // guarded by mutex_
    int job_bands_ = 0;                              // guarded by mutex_
    uint64_t generation_ = 0;                        // guarded by mutex_
    int active_ = 0;                                 // workers inside a job, guarded by mutex_
    bool stop_ = false;                              // guarded by mutex_
    int next_band_ = 0;                              // guarded by mutex_
};

// max(1, min(hardware threads, 8)).
int default_scale_threads();

// Scales src (sw x sh, BGRX, top-down, no row padding) to cover dst: the
// scale is max(H / sh, W / sw), the picture is centred and the overflow
// cropped; pixels are mixed bilinearly with 8-bit weights. The destination
// rows are cut into as many bands as the pool has participants; without a
// pool the call starts default_scale_threads() - 1 threads of its own.
void scale_frame_cover(const uint32_t* src, int sw, int sh, PixelBuffer& dst, ScalePool* pool);
