#include "splash/splash_layout.h"

#include <algorithm>

TitleBox title_box(int W, int H, int image_w, int image_h, int c0, int c1)
{
    const float fw = static_cast<float>(W);
    const float fh = static_cast<float>(H);
    TitleBox box{};
    box.present = true;
    box.w = 0.345f * fw;
    box.x = (fw - box.w) / 2.0f;
    if (c0 >= 0 && c1 >= c0) {
        const float k = 0.3f * fw / static_cast<float>(c1 - c0 + 1);
        box.w = static_cast<float>(image_w) * k;
        box.x = fw / 2.0f - static_cast<float>(c0 + c1 + 1) / 2.0f * k;
    }
    box.h = static_cast<float>(image_h) * box.w / static_cast<float>(std::max(image_w, 1));
    box.y = (fh - box.h) / 2.0f;
    return box;
}

BarRect bar_layout(int W, int H, bool video_file_exists, const TitleBox& title)
{
    const float fw = static_cast<float>(W);
    const float fh = static_cast<float>(H);
    BarRect bar{};
    if (video_file_exists) {
        bar.w = 0.15f * fw;
        bar.y = 0.5f * fh + 0.035f * fh + 89.0f * std::max(fh / 1152.0f, fw / 2048.0f);
    } else {
        const float title_h = title.present ? title.h : 0.0f;
        const float title_top = (fh - title_h) / 2.0f;
        bar.w = 0.3f * fw;
        bar.y = title_top + title_h + 0.045f * fh;
    }
    bar.x = (fw - bar.w) / 2.0f;
    bar.h = std::max(0.028f * fh, 6.0f);
    return bar;
}
