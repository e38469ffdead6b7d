// The icon groups as compiled into VarnelKVM.exe: 107 and 108 (the program),
// 130 and 134 (the tray icon with and without a switch). Each group's images
// by size and colour depth, and each image as the system reads it: a
// BITMAPINFOHEADER of that size and depth, palette images truly indexed, or
// for the 128 px image a PNG. 107, 108 and 130 share one set of images.
#include "ResourceImage.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

struct ImageFormat {
    int size;
    int bits;
    bool operator<(const ImageFormat &other) const
    {
        return size != other.size ? size < other.size : bits < other.bits;
    }
    bool operator==(const ImageFormat &other) const { return size == other.size && bits == other.bits; }
};

// 48, 32, 24, 16 px at 16 and 256 colours; 128, 48, 24, 16 px at 32 bits;
// 32 px at 24 bits. The not-attached tray icon has no 128 px image.
const std::vector<ImageFormat> FULL_SET = {
    {48, 4}, {32, 4}, {24, 4}, {16, 4}, {48, 8}, {32, 8}, {24, 8}, {16, 8},
    {128, 32}, {48, 32}, {24, 32}, {16, 32}, {32, 24},
};

struct ExpectedGroup {
    WORD id;
    bool with128;
};
const ExpectedGroup GROUPS[] = {{107, true}, {108, true}, {130, true}, {134, false}};
WORD const ATTACHED_ICON = 130;
WORD const NOT_ATTACHED_ICON = 134;
int const PNG_SIZE = 128;  // stored as a PNG; the smaller images are DIBs

std::vector<ImageFormat> Expected(const ExpectedGroup &group)
{
    std::vector<ImageFormat> formats;
    for (const ImageFormat &format : FULL_SET) {
        if (group.with128 || format.size != 128)
            formats.push_back(format);
    }
    std::sort(formats.begin(), formats.end());
    return formats;
}

size_t RowBytes(int width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}

std::vector<IconGroupEntry> Group(WORD id)
{
    std::vector<BYTE> data;
    std::vector<IconGroupEntry> entries;
    EXPECT_TRUE(ResourceBytes(ProgramAsData(), RT_GROUP_ICON, MAKEINTRESOURCEW(id), ENGLISH_US, &data))
        << "icon group " << id << " missing";
    EXPECT_TRUE(data.empty() || ParseIconGroup(data, &entries)) << "icon group " << id << " does not parse";
    return entries;
}

class Icons : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(ProgramAsData(), nullptr) << "cannot load the applet as data"; }
};

TEST_F(Icons, FourGroupsAndNoStrayImages)
{
    std::vector<ULONG_PTR> groups = ResourceIds(ProgramAsData(), RT_GROUP_ICON);
    EXPECT_EQ(std::set<ULONG_PTR>(groups.begin(), groups.end()), (std::set<ULONG_PTR>{107, 108, 130, 134}));

    std::set<ULONG_PTR> referenced;
    std::map<WORD, std::vector<WORD>> ids;
    for (const ExpectedGroup &group : GROUPS) {
        EXPECT_EQ(ResourceLanguages(ProgramAsData(), RT_GROUP_ICON, MAKEINTRESOURCEW(group.id)),
                  std::vector<LANGID>{ENGLISH_US}) << "icon group " << group.id;
        for (const IconGroupEntry &entry : Group(group.id)) {
            referenced.insert(entry.iconId);
            ids[group.id].push_back(entry.iconId);
        }
    }
    std::vector<ULONG_PTR> images = ResourceIds(ProgramAsData(), RT_ICON);
    EXPECT_EQ(std::set<ULONG_PTR>(images.begin(), images.end()), referenced);
    // The program's icon and the attached tray icon are stored once.
    EXPECT_EQ(images.size(), 13u + 12u);
    EXPECT_EQ(ids[108], ids[107]);
    EXPECT_EQ(ids[130], ids[107]);
}

TEST_F(Icons, EachGroupHoldsItsSizesAndDepths)
{
    for (const ExpectedGroup &group : GROUPS) {
        SCOPED_TRACE("icon group " + std::to_string(group.id));
        std::vector<ImageFormat> found;
        for (const IconGroupEntry &entry : Group(group.id)) {
            SCOPED_TRACE(std::to_string(entry.width) + " px, " + std::to_string(entry.bitCount) + " bits");
            EXPECT_EQ(entry.width, entry.height);
            EXPECT_EQ(entry.planes, 1);
            EXPECT_EQ(entry.colorCount, entry.bitCount == 4 ? 16 : 0);
            found.push_back({entry.width, entry.bitCount});
        }
        std::sort(found.begin(), found.end());
        EXPECT_TRUE(found == Expected(group)) << "the group holds other images than listed";
    }
}

// Every image up to 48 px is a DIB of the listed size and depth: header,
// palette for 4 and 8 bits, colour bits and the AND mask, nothing more and
// nothing less. The 128 px image is a PNG of that size.
TEST_F(Icons, ImagesAreOfTheirFormat)
{
    for (const ExpectedGroup &group : GROUPS) {
        for (const IconGroupEntry &entry : Group(group.id)) {
            SCOPED_TRACE("icon group " + std::to_string(group.id) + ", " + std::to_string(entry.width) + " px, " +
                         std::to_string(entry.bitCount) + " bits");
            std::vector<BYTE> image;
            ASSERT_TRUE(ResourceBytes(ProgramAsData(), RT_ICON, MAKEINTRESOURCEW(entry.iconId), ENGLISH_US, &image));
            EXPECT_EQ(image.size(), entry.bytes);
            // The system makes an icon of it.
            HICON icon = CreateIconFromResourceEx(image.data(), (DWORD)image.size(), TRUE, 0x00030000,
                                                  entry.width, entry.width, LR_DEFAULTCOLOR);
            EXPECT_NE(icon, nullptr);
            if (icon != nullptr)
                DestroyIcon(icon);

            if (entry.width == PNG_SIZE) {
                // The signature, then the IHDR chunk with the width and height.
                ASSERT_GE(image.size(), 24u);
                EXPECT_EQ(memcmp(image.data(), "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), 0) << "not a PNG";
                auto bigEndian = [&](size_t at) {
                    return DWORD(image[at]) << 24 | image[at + 1] << 16 | image[at + 2] << 8 | image[at + 3];
                };
                EXPECT_EQ(bigEndian(16), DWORD(PNG_SIZE));
                EXPECT_EQ(bigEndian(20), DWORD(PNG_SIZE));
                continue;
            }
            ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
            BITMAPINFOHEADER header;
            memcpy(&header, image.data(), sizeof(header));
            EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
            EXPECT_EQ(header.biWidth, entry.width);
            EXPECT_EQ(header.biHeight, 2 * entry.width) << "colour bits and mask";
            EXPECT_EQ(header.biPlanes, 1);
            EXPECT_EQ(header.biBitCount, entry.bitCount);
            EXPECT_EQ(header.biCompression, (DWORD)BI_RGB);

            size_t paletteEntries = entry.bitCount <= 8 ? (header.biClrUsed ? header.biClrUsed : 1u << entry.bitCount) : 0;
            size_t expectedBytes = sizeof(header) + paletteEntries * sizeof(RGBQUAD) +
                                   RowBytes(entry.width, entry.bitCount) * entry.width +
                                   RowBytes(entry.width, 1) * entry.width;
            EXPECT_EQ(image.size(), expectedBytes);
        }
    }
}

// The attached and not-attached tray icons must look different at every size.
TEST_F(Icons, AttachedAndNotAttachedDiffer)
{
    std::vector<IconGroupEntry> attached = Group(ATTACHED_ICON);
    std::vector<IconGroupEntry> notAttached = Group(NOT_ATTACHED_ICON);
    for (const IconGroupEntry &entry : notAttached) {
        SCOPED_TRACE(std::to_string(entry.width) + " px, " + std::to_string(entry.bitCount) + " bits");
        auto twin = std::find_if(attached.begin(), attached.end(), [&](const IconGroupEntry &other) {
            return other.width == entry.width && other.bitCount == entry.bitCount;
        });
        ASSERT_NE(twin, attached.end());
        std::vector<BYTE> one, other;
        ASSERT_TRUE(ResourceBytes(ProgramAsData(), RT_ICON, MAKEINTRESOURCEW(entry.iconId), ENGLISH_US, &one));
        ASSERT_TRUE(ResourceBytes(ProgramAsData(), RT_ICON, MAKEINTRESOURCEW(twin->iconId), ENGLISH_US, &other));
        EXPECT_TRUE(one != other) << "the same image in both icons";
    }
}

}  // namespace
