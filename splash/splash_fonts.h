#pragma once
// Font families for the splash's GDI+ text. The look asks for "Segoe UI"
// and the Segoe icon fonts; where they are not installed (Wine has none of
// them) text falls back to a family that exists so it still shows.
#include "splash/gdiplus_api.h"

#include <memory>
#include <string>

// A family chosen by name, or GDI+'s generic sans-serif family.
class FontFamilyChoice {
public:
    FontFamilyChoice() = default;
    explicit FontFamilyChoice(const std::wstring& name);
    const Gdiplus::FontFamily* get() const { return family_; }
    explicit operator bool() const { return family_ != nullptr; }

private:
    std::unique_ptr<Gdiplus::FontFamily> owned_;
    const Gdiplus::FontFamily* family_ = nullptr;
};

// "Segoe UI", else "Tahoma", "Arial", "Liberation Sans", "DejaVu Sans",
// "Microsoft Sans Serif", else GDI+'s generic sans-serif family, else any
// installed family. The name is looked up once per process; GDI+ must be
// running.
FontFamilyChoice text_font_family();

// "Segoe Fluent Icons", else "Segoe MDL2 Assets"; empty when neither exists
// (the caption then draws its button glyphs as lines).
FontFamilyChoice icon_font_family();

// The first of the names that GDI+ finds installed; empty when none.
std::wstring first_installed_family(std::initializer_list<const wchar_t*> names);
