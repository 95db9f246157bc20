#include "splash/splash_fonts.h"

using namespace Gdiplus;

FontFamilyChoice::FontFamilyChoice(const std::wstring& name)
{
    if (name.empty()) {
        family_ = FontFamily::GenericSansSerif();
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
    static const std::wstring name = first_installed_family({L"Segoe UI", L"Tahoma", L"Arial"});
    return FontFamilyChoice(name);
}

FontFamilyChoice icon_font_family()
{
    static const std::wstring name = first_installed_family({L"Segoe Fluent Icons", L"Segoe MDL2 Assets"});
    if (name.empty()) return {};
    return FontFamilyChoice(name);
}
