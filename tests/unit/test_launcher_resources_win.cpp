// What the built launcher files say about themselves, read back from their
// resources the way Windows' file properties and loader read them.
#include "base/paths.h"
#include "base/settings.h"
#include "launcher_identity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring built_launcher(int version)
{
    // The unit tests are built beside the launcher; the next one lies in v<N>.
    const std::wstring folder = parent_folder(own_exe_path());
    return version == LAUNCHER_VERSION ? join_path(folder, L"tarnwick.exe")
                                       : join_path(folder, L"v" + std::to_wstring(version) + L"\\tarnwick.exe");
}

std::string version_text(const std::vector<char>& block, const wchar_t* name)
{
    void* value = nullptr;
    UINT chars = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &chars) || chars == 0) return "(none)";
    return to_utf8(static_cast<const wchar_t*>(value));
}

std::string embedded_manifest(const std::wstring& file)
{
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) return {};
    std::string text;
    if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {   // RT_MANIFEST
        const void* bytes = LockResource(LoadResource(module, found));
        if (bytes) text.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

}  // namespace

TEST(LauncherResources, VersionInformationNamesTheLauncherAndItsNumber)
{
    for (int version : {LAUNCHER_VERSION, LAUNCHER_VERSION + 1}) {
        const std::wstring file = built_launcher(version);
        SCOPED_TRACE(to_utf8(file));
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, block.data()));
        EXPECT_EQ(version_text(block, L"FileDescription"), "tarnwick launcher");
        EXPECT_EQ(version_text(block, L"ProductName"), "tarnwick");
        EXPECT_EQ(version_text(block, L"CompanyName"), TW_PUBLISHER);
        EXPECT_EQ(version_text(block, L"FileVersion"), std::to_string(version));
        EXPECT_EQ(version_text(block, L"ProductVersion"), std::to_string(version));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), static_cast<unsigned>(version));
    }
}

TEST(LauncherResources, ManifestAsksForWhatTheLauncherNeeds)
{
    const std::string manifest = embedded_manifest(built_launcher(LAUNCHER_VERSION));
    ASSERT_FALSE(manifest.empty());
    for (const char* wanted : {
             "level=\"asInvoker\"",
             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",   // Windows 10 and 11
             ">PerMonitorV2, PerMonitor</dpiAwareness>",
             ">true</longPathAware>",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
         })
        EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
}
