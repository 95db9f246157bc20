#pragma once
// The splash's files: the embedded set is written into a cache folder under
// the user's temporary folder (prepare_splash_assets), and
// load_splash_assets turns a folder's files into the renderer's window-size
// pictures and layout. GDI+ must be running on the calling thread.
#include "splash/frame_source.h"
#include "splash/splash_renderer.h"

#include <string>
#include <string_view>
#include <vector>

// Brings the embedded splash files up to date in the cache folder and
// returns that folder.
std::wstring prepare_splash_assets();

// temp \ "tarnwick-cache"; empty when the temporary folder is unknown.
std::wstring splash_cache_folder();

// When the background video is opened: now (a screenshot draws its frame at
// once), on the thread of the frame source that start_video_workers makes
// (the window shows the poster meanwhile), or not again (keep what the
// renderer has).
enum class VideoOpening { now, on_its_thread, keep };

// Fills the renderer for a width x height window. False when no background
// or no back buffer could be made; the renderer is then released.
bool load_splash_assets(SplashRenderer& renderer, const std::string& assets_dir, int width, int height,
                        VideoOpening opening = VideoOpening::now);

// Rebuilds what depends on the window size (pictures, poster, credit line,
// back buffer, layout) at W x H, keeping the open video, its frame source,
// its last frame and the scaling workers, so following a window that is being
// resized does not reopen the video or restart threads on every frame. On
// failure the renderer is released like a failed load.
bool resize_splash_assets(SplashRenderer& renderer, const std::string& assets_dir, int width, int height);

// True when the frame source found that the background video does not open.
bool background_video_failed(const SplashRenderer& renderer);

// Goes on without the video that did not open: the still pictures or the
// dark fill, as if there had been none. False (the renderer released) when
// they cannot be made.
bool drop_background_video(SplashRenderer& renderer);

// Makes the scaling pool when there is none, then moves the decoder into a new
// frame source (replacing an older one) or, with a video still to open, starts
// a frame source that opens it on its own thread, and the poster's thread;
// the source scales its frames to the window. The window calls it after its
// first frame, so none of this delays that frame.
void start_video_workers(SplashRenderer& renderer);

// Rebuilds the renderer at a new window size (resize_splash_assets), then
// points the frame source at it (start_video_workers). False when the splash
// cannot be drawn at that size.
bool resize_splash(SplashRenderer& renderer, const std::string& assets_dir, int width, int height);

// Frees every picture, context, bitmap, the decoder, its frame source and the
// scaling pool; shown_frame becomes -1 and frame_pixels empty.
void release_splash_assets(SplashRenderer& renderer);

// What bringing one cached file up to date did.
enum class CacheWrite { unchanged, rewritten, failed };

// Leaves path alone when it holds exactly bytes; otherwise replaces it with
// write_file_atomic.
CacheWrite refresh_cached_file(const std::wstring& path, std::string_view bytes);

// Still pictures of a folder: names beginning with "bg_" and ending in
// ".jpg", ".jpeg" or ".png" (case-insensitive), sorted by path.
std::vector<std::wstring> list_still_pictures(const std::wstring& folder);

// Media Foundation, started once per process; false (and one line on the
// standard error stream) when it does not start.
bool media_foundation_ready();
