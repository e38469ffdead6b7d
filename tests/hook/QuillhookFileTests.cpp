// Quillhook.dll as a file: what the loader, the applet's linker and the
// Properties page of Explorer see. Read from the built file's own bytes.
#include "HookHarness.h"
#include "PeImage.h"
#include "AppletProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

namespace {

struct ExportRow {
    const char *name;
    WORD ordinal;
};

// The hook procedures keep their decorated standard-call names; the applet
// imports StartHook and StopHook by name.
const ExportRow LIBRARY_EXPORTS[] = {
    {"_Quillhook@12", 1},
    {"_KbHook@12", 2},
    {"StartHook", 3},
    {"StopHook", 4},
};

DWORD const SHARED_SECTION_FLAGS =
    IMAGE_SCN_MEM_SHARED | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE | IMAGE_SCN_CNT_INITIALIZED_DATA;
// Two handles and the ALT bit, four bytes each in the 32-bit library.
DWORD const SHARED_VARIABLES_SIZE = 3 * sizeof(DWORD);

class QuillhookFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(ReadPeImage(ShippedFolder() + L"\\Quillhook.dll", &image, &error)) << error;
    }
    PeImage image;
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return (char)tolower((unsigned char)c); });
    return text;
}

TEST_F(QuillhookFile, IsA32BitLibrary)
{
    EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_NE(image.characteristics & IMAGE_FILE_DLL, 0);
    EXPECT_EQ(image.exportName, "Quillhook.dll");
}

TEST_F(QuillhookFile, ExportsExactlyTheFourEntryPointsWithTheirOrdinals)
{
    std::set<std::pair<std::string, WORD>> expected, found;
    for (const ExportRow &row : LIBRARY_EXPORTS)
        expected.insert({row.name, row.ordinal});
    for (const PeExport &entry : image.exports)
        found.insert({entry.name, entry.ordinal});
    EXPECT_EQ(found, expected);
    EXPECT_EQ(image.exports.size(), std::size(LIBRARY_EXPORTS)) << "an export without a name, or twice";
}

TEST_F(QuillhookFile, NameAndOrdinalLeadToTheSameCode)
{
    HMODULE module = LoadLibraryW(QuillhookPath().c_str());
    ASSERT_NE(module, nullptr);
    for (const ExportRow &row : LIBRARY_EXPORTS) {
        SCOPED_TRACE(row.name);
        FARPROC byName = GetProcAddress(module, row.name);
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(row.ordinal));
        ASSERT_NE(byName, nullptr);
        EXPECT_EQ(byName, byOrdinal);
#if !defined(_WIN64)  // a 64-bit test build loads its own library, not the shipped file read here
        auto inFile = std::find_if(image.exports.begin(), image.exports.end(),
                                   [&](const PeExport &entry) { return entry.name == row.name; });
        ASSERT_NE(inFile, image.exports.end());
        EXPECT_EQ((BYTE *)byName - (BYTE *)module, (ptrdiff_t)inFile->rva);
#endif
    }
    FreeLibrary(module);
}

TEST_F(QuillhookFile, SharedSectionHoldsTheThreeHookVariablesZeroed)
{
    const PeSection *shared = FindSection(image, ".SHARED_");
    ASSERT_NE(shared, nullptr) << "no .SHARED_ section: each process would have its own window and hook";
    EXPECT_EQ(shared->characteristics & SHARED_SECTION_FLAGS, SHARED_SECTION_FLAGS)
        << std::hex << "flags 0x" << shared->characteristics;
    EXPECT_EQ(shared->characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_UNINITIALIZED_DATA), 0u);
    EXPECT_EQ(shared->virtualSize, SHARED_VARIABLES_SIZE);
    ASSERT_GE(shared->rawSize, SHARED_VARIABLES_SIZE) << "the initial values must be in the file";
    for (DWORD at = 0; at < SHARED_VARIABLES_SIZE; ++at)
        EXPECT_EQ(image.bytes[shared->rawOffset + at], 0) << "byte " << at;
}

TEST_F(QuillhookFile, ImportsOnlyFromKernel32AndUser32WithAnsiWindowCalls)
{
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll"};
    std::set<std::string> user32;
    for (const PeImport &import : image.imports) {
        EXPECT_EQ(allowed.count(Lower(import.library)), 1u) << import.library;
        if (Lower(import.library) == "user32.dll")
            user32.insert(import.functions.begin(), import.functions.end());
    }
    for (const char *ansi : {"SetWindowsHookExA", "PostMessageA"})
        EXPECT_EQ(user32.count(ansi), 1u) << ansi;
    for (const char *wide : {"SetWindowsHookExW", "PostMessageW"})
        EXPECT_EQ(user32.count(wide), 0u) << wide;
}

std::wstring VersionString(const std::vector<BYTE> &block, WORD language, WORD codePage, const wchar_t *name)
{
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", language, codePage, name);
    wchar_t *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query, (void **)&value, &length) || value == nullptr)
        return L"(missing)";
    return std::wstring(value);
}

TEST_F(QuillhookFile, VersionResourceNamesTheLibrary)
{
    std::wstring path = ShippedFolder() + L"\\Quillhook.dll";
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", (void **)&fixed, &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_DLL);

    struct Translation {
        WORD language;
        WORD codePage;
    } *translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&translation, &length));
    ASSERT_GE(length, sizeof(Translation));

    struct {
        const wchar_t *name;
        const wchar_t *value;
    } const strings[] = {
        {L"FileDescription", L"KeyboardHook"}, {L"InternalName", L"Quillhook"},
        {L"OriginalFilename", L"Quillhook.dll"}, {L"ProductName", L"Morvax Application"},
        {L"FileVersion", L"1.1.0.0"},          {L"ProductVersion", L"1.1.0.0"},
    };
    for (const auto &row : strings) {
        SCOPED_TRACE(testing::Message() << "StringFileInfo " << std::string(row.name, row.name + wcslen(row.name)));
        EXPECT_EQ(VersionString(block, translation->language, translation->codePage, row.name), row.value);
    }
}

// The applet cannot start without the library: the loader resolves exactly
// these two names when it starts.
TEST(AppletFile, ImportsStartHookAndStopHookFromQuillhook)
{
    PeImage applet;
    std::string error;
    ASSERT_TRUE(ReadPeImage(ShippedFolder() + L"\\VarnelKVM.exe", &applet, &error)) << error;
    auto import = std::find_if(applet.imports.begin(), applet.imports.end(),
                               [](const PeImport &entry) { return Lower(entry.library) == "quillhook.dll"; });
    ASSERT_NE(import, applet.imports.end()) << "VarnelKVM.exe does not import Quillhook.dll";
    std::set<std::string> functions(import->functions.begin(), import->functions.end());
    EXPECT_EQ(functions, (std::set<std::string>{"StartHook", "StopHook"}));
}

}  // namespace
