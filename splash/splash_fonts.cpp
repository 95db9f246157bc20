#include "splash/splash_fonts.h"

#include <vector>

using namespace Gdiplus;

namespace {

// Any installed family, a sans-serif one when the names tell: the last resort
// where neither the wanted families nor GDI+'s generic one exist (Wine's
// GDI+ finds no generic family when "Microsoft Sans Serif" and Arial are
// missing, but sees the system's fontconfig fonts).
std::wstring any_installed_family()
{
    InstalledFontCollection installed;
    INT count = installed.GetFamilyCount();
    if (count <= 0) return {};
    std::vector<FontFamily> families(static_cast<size_t>(count));
    INT found = 0;
    if (installed.GetFamilies(count, families.data(), &found) != Ok || found <= 0) return {};
    std::wstring first;
    for (INT i = 0; i < found; ++i) {
        WCHAR name[LF_FACESIZE] = {};
        if (families[i].GetFamilyName(name) != Ok || !name[0]) continue;
        std::wstring candidate(name);
        if (first.empty()) first = candidate;
        if (candidate.find(L"Sans") != std::wstring::npos && candidate.find(L"Mono") == std::wstring::npos)
            return candidate;
    }
    return first;
}

}  // namespace

FontFamilyChoice::FontFamilyChoice(const std::wstring& name)
{
    if (name.empty()) {
        family_ = FontFamily::GenericSansSerif();
        if (!family_ || family_->GetLastStatus() != Ok) family_ = nullptr;
        return;
    }
    owned_ = std::make_unique<FontFamily>(name.c_str());
    if (owned_->GetLastStatus() == Ok)
        family_ = owned_.get();
    else
        owned_.reset();
}

std::wstring first_installed_family(std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* name : names) {
        FontFamily family(name);
        if (family.GetLastStatus() == Ok && family.IsAvailable()) return name;
    }
    return {};
}

FontFamilyChoice text_font_family()
{
    static const std::wstring name = [] {
        std::wstring found = first_installed_family(
            {L"Segoe UI", L"Tahoma", L"Arial", L"Liberation Sans", L"DejaVu Sans", L"Microsoft Sans Serif"});
        if (!found.empty()) return found;
        const FontFamily* generic = FontFamily::GenericSansSerif();
        if (generic && generic->GetLastStatus() == Ok) return std::wstring();
        return any_installed_family();
    }();
    return FontFamilyChoice(name);
}

FontFamilyChoice icon_font_family()
{
    static const std::wstring name = first_installed_family({L"Segoe Fluent Icons", L"Segoe MDL2 Assets"});
    if (name.empty()) return {};
    return FontFamilyChoice(name);
}
