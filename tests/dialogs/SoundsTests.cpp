// The device connect and disconnect sounds turned off and on in the current
// user's sound scheme: what counts as on, what is kept through off and on,
// and that nothing is touched on Windows before XP.
#include "SoundScheme.h"
#include "dialogs/Dialogs.h"

#include <gtest/gtest.h>

namespace {

wchar_t const CONNECT_SOUND[] = L"C:\\Windows\\Media\\Windows Hardware Insert.wav";
wchar_t const DISCONNECT_SOUND[] = L"%SystemRoot%\\Media\\Windows Hardware Remove.wav";

class SoundsTest : public ::testing::Test {
protected:
    SoundSchemeSandbox scheme;

    void SetUp() override
    {
        if (!scheme.ours())
            GTEST_SKIP() << "this user has device sounds of its own; they are left alone";
        appState = AppState();
        windows(6, 1);
    }

    void windows(DWORD major, DWORD minor)
    {
        appState.osVersion.dwMajorVersion = major;
        appState.osVersion.dwMinorVersion = minor;
    }

    // Both current values, then both "Old" values.
    std::vector<std::string> snapshot()
    {
        return {DescribeSoundValue(CONNECT_CURRENT, nullptr), DescribeSoundValue(DISCONNECT_CURRENT, nullptr),
                DescribeSoundValue(CONNECT_CURRENT, L"Old"), DescribeSoundValue(DISCONNECT_CURRENT, L"Old")};
    }
};

std::string Described(DWORD type, const std::wstring &text)
{
    return std::to_string(type) + ":" + std::to_string((text.size() + 1) * 2) + ":" +
           std::string(text.begin(), text.end());
}

// Off saves each sound under "Old" and empties it, keeping its type; on puts
// back exactly what was saved, and "Old" stays.
TEST_F(SoundsTest, OffAndOnKeepEachSoundWithItsType)
{
    for (DWORD type : {(DWORD)REG_SZ, (DWORD)REG_EXPAND_SZ}) {
        SCOPED_TRACE(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ");
        SetSoundValue(CONNECT_CURRENT, nullptr, type, CONNECT_SOUND);
        SetSoundValue(DISCONNECT_CURRENT, nullptr, type, DISCONNECT_SOUND);
        std::string const connect = Described(type, CONNECT_SOUND);
        std::string const disconnect = Described(type, DISCONNECT_SOUND);
        std::string const silent = std::to_string(type) + ":0:";
        EXPECT_EQ(AreDeviceSoundsOn(), 1u);

        SetDeviceSounds(0);
        EXPECT_EQ(snapshot(), (std::vector<std::string>{silent, silent, connect, disconnect}));
        EXPECT_EQ(AreDeviceSoundsOn(), 0u);

        SetDeviceSounds(1);
        EXPECT_EQ(snapshot(), (std::vector<std::string>{connect, disconnect, connect, disconnect}));
        EXPECT_EQ(AreDeviceSoundsOn(), 1u);
        DeleteRegistryTree(HKEY_CURRENT_USER, CONNECT_EVENT);
        DeleteRegistryTree(HKEY_CURRENT_USER, DISCONNECT_EVENT);
    }
}

// Off only when both sounds are values of no bytes; anything else is on.
TEST_F(SoundsTest, OnlyBothSoundsEmptyCountAsOff)
{
    struct Row {
        const char *name;
        int connect;      // 0 no key, 1 key without value, 2 no bytes, 3 empty text, 4 a sound
        int disconnect;
        DWORD expected;
    } const rows[] = {
        {"both of no bytes", 2, 2, 0},        {"only the connect sound silent", 2, 4, 1},
        {"only the disconnect sound silent", 4, 2, 1}, {"both sounds", 4, 4, 1},
        {"empty texts are not no bytes", 3, 3, 1},      {"no keys", 0, 0, 1},
        {"keys without values", 1, 1, 1},    {"one key missing", 2, 0, 1},
    };
    auto make = [](const wchar_t *key, int kind) {
        if (kind == 1)
            SetSoundValue(key, L"Old", REG_SZ, L"");
        else if (kind >= 2)
            SetSoundValue(key, nullptr, REG_SZ, kind == 4 ? CONNECT_SOUND : L"", kind == 2);
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DeleteRegistryTree(HKEY_CURRENT_USER, CONNECT_EVENT);
        DeleteRegistryTree(HKEY_CURRENT_USER, DISCONNECT_EVENT);
        make(CONNECT_CURRENT, row.connect);
        make(DISCONNECT_CURRENT, row.disconnect);
        EXPECT_EQ(AreDeviceSoundsOn(), row.expected);
    }
}

// Turning off a sound that is already off must not overwrite the saved one:
// the user's sound file would be gone for good.
TEST_F(SoundsTest, TurningOffTwiceKeepsTheSavedSound)
{
    SetSoundValue(CONNECT_CURRENT, nullptr, REG_EXPAND_SZ, CONNECT_SOUND);
    SetSoundValue(DISCONNECT_CURRENT, nullptr, REG_SZ, DISCONNECT_SOUND);
    SetDeviceSounds(0);
    SetDeviceSounds(0);
    SetDeviceSounds(1);
    EXPECT_EQ(DescribeSoundValue(CONNECT_CURRENT, nullptr), Described(REG_EXPAND_SZ, CONNECT_SOUND));
    EXPECT_EQ(DescribeSoundValue(DISCONNECT_CURRENT, nullptr), Described(REG_SZ, DISCONNECT_SOUND));
}

// With nothing saved, on takes the scheme's own sound; without that too, an
// empty text of the sound's type, which counts as on.
TEST_F(SoundsTest, OnWithNothingSavedTakesTheSchemeDefault)
{
    SetSoundValue(CONNECT_CURRENT, nullptr, REG_SZ, L"", true);
    SetSoundValue(CONNECT_DEFAULT, nullptr, REG_EXPAND_SZ, CONNECT_SOUND);
    SetSoundValue(DISCONNECT_CURRENT, nullptr, REG_EXPAND_SZ, L"", true);
    SetSoundValue(DISCONNECT_CURRENT, L"Old", REG_SZ, L"");
    SetDeviceSounds(1);
    EXPECT_EQ(DescribeSoundValue(CONNECT_CURRENT, nullptr), Described(REG_EXPAND_SZ, CONNECT_SOUND));
    EXPECT_EQ(DescribeSoundValue(DISCONNECT_CURRENT, nullptr), Described(REG_EXPAND_SZ, L""));
    EXPECT_EQ(AreDeviceSoundsOn(), 1u);
}

// A current key without a sound value, and any Windows before XP: nothing changes.
TEST_F(SoundsTest, NothingChangesWithoutASoundOrBeforeWindowsXP)
{
    SetSoundValue(CONNECT_CURRENT, L"Old", REG_SZ, CONNECT_SOUND);
    SetSoundValue(DISCONNECT_CURRENT, nullptr, REG_SZ, L"", true);
    SetSoundValue(DISCONNECT_CURRENT, L"Old", REG_SZ, DISCONNECT_SOUND);
    std::vector<std::string> const before = snapshot();
    SetDeviceSound(CONNECT_CURRENT, CONNECT_DEFAULT, 0);
    SetDeviceSound(CONNECT_CURRENT, CONNECT_DEFAULT, 1);
    EXPECT_EQ(snapshot(), before) << "no sound value";

    SetSoundValue(CONNECT_CURRENT, nullptr, REG_SZ, CONNECT_SOUND);
    SetSoundValue(DISCONNECT_CURRENT, nullptr, REG_SZ, DISCONNECT_SOUND);
    std::vector<std::string> const playing = snapshot();
    struct Version {
        const char *name;
        DWORD major, minor;
    } const older[] = {{"Windows 2000", 5, 0}, {"Windows 98", 4, 10}};
    for (const Version &version : older) {
        SCOPED_TRACE(version.name);
        windows(version.major, version.minor);
        EXPECT_EQ(AreDeviceSoundsOn(), 0u) << "reads as off whatever the registry says";
        SetDeviceSounds(0);
        EXPECT_EQ(snapshot(), playing);
    }
}

}  // namespace
