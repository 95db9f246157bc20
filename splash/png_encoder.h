#pragma once
#include "splash/gdiplus_api.h"

// The GDI+ image encoder whose MIME type is "image/png". False when GDI+
// offers none (GDI+ must be running).
bool png_encoder(CLSID& clsid);
