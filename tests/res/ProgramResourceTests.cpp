// The rest of the applet's resources as compiled into VarnelKVM.exe: the
// inventory of resource types, the accelerator table, the version block and
// the manifest.
#include "ResourceImage.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

WORD const ACCELERATORS_ID = 109;
WORD const ABOUT_COMMAND = 104;
WORD const MANIFEST_TYPE = 24;
WORD const MANIFEST_ID = 1;
DWORD const VERSION_1_1 = MAKELONG(1, 1);     // 1.1 in dwFileVersionMS
DWORD const VERSION_6_0 = MAKELONG(0, 6);     // .6.0 in dwFileVersionLS

// An accelerator as stored: flags, key, command, padding.
struct StoredAccelerator {
    WORD flags;
    WORD key;
    WORD command;
    WORD padding;
};
WORD const LAST_ENTRY = 0x80;

std::wstring VersionString(const std::vector<BYTE> &block, const wchar_t *name)
{
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr)
        return L"<missing>";
    std::wstring text((const wchar_t *)value, length);
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

// The value of one attribute of the first element with that name.
std::string Attribute(const std::string &xml, const std::string &element, const std::string &attribute)
{
    std::smatch found;
    if (!std::regex_search(xml, found, std::regex("<" + element + "\\b[^>]*>")))
        return "<no " + element + ">";
    std::string tag = found.str();
    if (!std::regex_search(tag, found, std::regex("\\s" + attribute + "=\"([^\"]*)\"")))
        return "<no " + attribute + ">";
    return found.str(1);
}

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data"; }
};

TEST_F(ProgramResources, HoldsTheseKindsOnly)
{
    std::vector<ULONG_PTR> types = ResourceTypes(ProgramAsData());
    std::set<ULONG_PTR> expected = {
        (ULONG_PTR)RT_ICON, (ULONG_PTR)RT_MENU, (ULONG_PTR)RT_DIALOG, (ULONG_PTR)RT_STRING,
        (ULONG_PTR)RT_ACCELERATOR, (ULONG_PTR)RT_GROUP_ICON, (ULONG_PTR)RT_VERSION, MANIFEST_TYPE,
    };
    EXPECT_EQ(std::set<ULONG_PTR>(types.begin(), types.end()), expected);
}

TEST_F(ProgramResources, AcceleratorsOpenAbout)
{
    EXPECT_EQ(ResourceIds(ProgramAsData(), RT_ACCELERATOR), std::vector<ULONG_PTR>{ACCELERATORS_ID});
    std::vector<BYTE> data;
    ASSERT_TRUE(ResourceBytes(ProgramAsData(), RT_ACCELERATOR, MAKEINTRESOURCEW(ACCELERATORS_ID), ENGLISH_US, &data));
    ASSERT_EQ(data.size(), 2 * sizeof(StoredAccelerator));
    const StoredAccelerator *entries = (const StoredAccelerator *)data.data();
    // ALT with the ASCII characters '?' and '/' (not virtual keys).
    EXPECT_EQ(entries[0].flags, FALT);
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[0].command, ABOUT_COMMAND);
    EXPECT_EQ(entries[1].flags, FALT | LAST_ENTRY);
    EXPECT_EQ(entries[1].key, '/');
    EXPECT_EQ(entries[1].command, ABOUT_COMMAND);
}

TEST_F(ProgramResources, VersionBlock)
{
    EXPECT_EQ(ResourceLanguages(ProgramAsData(), RT_VERSION, MAKEINTRESOURCEW(1)), std::vector<LANGID>{ENGLISH_US});

    // Read the way the About dialog reads it.
    std::wstring path = ProgramPath();
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", (void **)&fixed, &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, VERSION_1_1);
    EXPECT_EQ(fixed->dwFileVersionLS, VERSION_6_0);
    EXPECT_EQ(fixed->dwProductVersionMS, VERSION_1_1);
    EXPECT_EQ(fixed->dwProductVersionLS, VERSION_6_0);
    EXPECT_EQ(fixed->dwFileOS, (DWORD)VOS__WINDOWS32);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_APP);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "neither debug nor pre-release";

    EXPECT_EQ(VersionString(block, L"InternalName"), L"Morvax");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"VarnelKVM.exe");
    EXPECT_EQ(VersionString(block, L"ProductName"), L" Morvax Application");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.1.6.0");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.1.6.0");
    EXPECT_EQ(VersionString(block, L"CompanyName").find(L"Varnel"), 0u);
    EXPECT_FALSE(VersionString(block, L"FileDescription").empty());
    EXPECT_NE(VersionString(block, L"LegalCopyright").find(L"Copyright \u00A9"), std::wstring::npos);

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&translation, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], ENGLISH_US);
    EXPECT_EQ(translation[1], 1200) << "Unicode";
}

TEST_F(ProgramResources, ManifestRunsAsInvoker)
{
    EXPECT_EQ(ResourceIds(ProgramAsData(), MAKEINTRESOURCEW(MANIFEST_TYPE)), std::vector<ULONG_PTR>{MANIFEST_ID});
    EXPECT_EQ(ResourceLanguages(ProgramAsData(), MAKEINTRESOURCEW(MANIFEST_TYPE), MAKEINTRESOURCEW(MANIFEST_ID)),
              std::vector<LANGID>{ENGLISH_US}) << "one manifest, and no default one beside it";
    std::vector<BYTE> data;
    ASSERT_TRUE(ResourceBytes(ProgramAsData(), MAKEINTRESOURCEW(MANIFEST_TYPE), MAKEINTRESOURCEW(MANIFEST_ID),
                              ENGLISH_US, &data));
    std::string xml(data.begin(), data.end());
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "type"), "win32");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "name"), "VarnelKVM.exe");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "version"), "6.0.0.0");
    EXPECT_EQ(Attribute(xml, "assemblyIdentity", "processorArchitecture"), "*");
    EXPECT_EQ(Attribute(xml, "requestedExecutionLevel", "level"), "asInvoker");
    EXPECT_EQ(Attribute(xml, "requestedExecutionLevel", "uiAccess"), "false");
}

}  // namespace
