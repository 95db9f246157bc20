#pragma once
// Where the title picture and the progress bar sit in a window of W x H
// pixels. Every size is a fraction of the window, so the same picture scales
// to any window size.

struct BarRect {
    float x, y, w, h;
};

struct TitleBox {
    float x, y, w, h;
    bool present;
};

// Title box from the title image size and its opaque column span: c0..c1 are
// the first and last columns holding a pixel with alpha above 128, c0 = -1
// when there is none. The opaque part is scaled to 0.3 W and centred; without
// an opaque part the whole picture is 0.345 W wide and centred.
TitleBox title_box(int W, int H, int image_w, int image_h, int c0, int c1);

// The progress bar rectangle. With the background video the bar sits below
// the video's own logo; otherwise below the title box (or the window's middle
// when there is no title).
BarRect bar_layout(int W, int H, bool video_file_exists, const TitleBox& title);
