// The About dialog: the program's version, the switch's firmware, the copyright.
//   ShowAboutDialog - opens it, or brings the open one to the front
//   AboutDlgProc    - the dialog procedure
//   SoftwareLine    - "Software Version 1.1.6.0", from the program's own version block
//   FirmwareLine    - "Firmware Version 4.a", or "Kestrel Not Attached"
#include "Dialogs.h"
#include "../shell/Shell.h"

#include <cwchar>
#include <vector>

namespace {

int const IDC_SOFTWARE_LINE = 1000;
int const IDC_FIRMWARE_LINE = 1001;
int const IDC_COPYRIGHT_LINE = -1;
UINT const IDS_SOFTWARE_VERSION = 105;
UINT const IDS_FIRMWARE_VERSION = 106;
UINT const IDS_OK = 119;
UINT const IDS_COPYRIGHT = 121;
UINT const IDS_NOT_ATTACHED = 139;

HWND openDialog = nullptr;

// The file version as the program carries it; the label alone if it cannot be read.
std::wstring SoftwareLine()
{
    std::wstring line = LoadUiString(IDS_SOFTWARE_VERSION);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &unused);
    if (size == 0)
        return line;
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO *info = nullptr;
    UINT infoSize = 0;
    if (!GetFileVersionInfoW(path, 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", (void **)&info, &infoSize) || info == nullptr ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return line;
    wchar_t number[64] = {};
    _snwprintf(number, 63, L" %u.%u.%u.%u", (unsigned)HIWORD(info->dwFileVersionMS),
               (unsigned)LOWORD(info->dwFileVersionMS), (unsigned)HIWORD(info->dwFileVersionLS),
               (unsigned)LOWORD(info->dwFileVersionLS));
    return line + number;
}

// Major and minor in lower-case hexadecimal, as the switch numbers them: 0x040A is "4.a".
std::wstring FirmwareLine()
{
    if (appState.deviceAttributes.ProductID == 0)
        return LoadUiString(IDS_NOT_ATTACHED);
    USHORT version = appState.deviceAttributes.VersionNumber;
    wchar_t number[32] = {};
    _snwprintf(number, 31, L" %x.%x", (unsigned)(version >> 8), (unsigned)(version & 0xFF));
    return LoadUiString(IDS_FIRMWARE_VERSION) + number;
}

void OnInitDialog(HWND dialog)
{
    openDialog = dialog;
    LoadUiString(IDS_ABOUT_TITLE, appState.aboutTitle);
    SetDlgItemTextW(dialog, IDC_SOFTWARE_LINE, SoftwareLine().c_str());
    SetDlgItemTextW(dialog, IDC_FIRMWARE_LINE, FirmwareLine().c_str());
    std::wstring caption = appState.aboutTitle + L" " + appState.windowTitle;
    SetWindowTextW(dialog, caption.c_str());
    SetDlgItemTextW(dialog, IDOK, LoadUiString(IDS_OK).c_str());
    SetDlgItemTextW(dialog, IDC_COPYRIGHT_LINE, LoadUiString(IDS_COPYRIGHT).c_str());
}

}  // namespace

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        // The icon control carries IDCANCEL, so Escape and the close box land here too.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            if (openDialog == dialog)
                openDialog = nullptr;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (openDialog == dialog)
            openDialog = nullptr;
        return FALSE;
    }
    return FALSE;
}

HWND OpenAboutDialog()
{
    return openDialog;
}

void ShowAboutDialog(HWND owner)
{
    if (openDialog != nullptr) {
        BringDialogToFront(openDialog);
        return;
    }
    DialogBoxParamW(appState.instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDlgProc, 0);
}
