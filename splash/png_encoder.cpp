#include "splash/png_encoder.h"

#include <cstdint>
#include <cwchar>
#include <vector>

bool png_encoder(CLSID& clsid)
{
    using namespace Gdiplus;
    UINT count = 0, bytes = 0;
    if (GetImageEncodersSize(&count, &bytes) != Ok || bytes == 0) return false;
    std::vector<uint8_t> storage(bytes);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(storage.data());
    if (GetImageEncoders(count, bytes, codecs) != Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}
