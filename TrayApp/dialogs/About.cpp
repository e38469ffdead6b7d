// The About dialog: the program's version, the switch's firmware, the copyright.
//   ShowAboutDialog - opens it, or brings the open one to the front
//   AboutDlgProc    - the dialog procedure
//   SoftwareLine    - "Software Version 1.1.6.0", from the program's own version block
//   FirmwareLine    - "Firmware Version 4.a", or "Kestrel Not Attached"
#include "Dialogs.h"
#include "../shell/Shell.h"

#include <cwchar>

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

// A label and what follows it, cut to the label's room if need be.
void AppendText(UiText *line, const wchar_t *more)
{
    size_t used = wcslen(line->text);
    lstrcpynW(line->text + used, more, (int)(UI_STRING_CHARS - used));
}

// The file version as the program carries it; the label alone if it cannot be read.
UiText SoftwareLine()
{
    UiText line = UiString(IDS_SOFTWARE_VERSION);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &unused);
    void *block = size != 0 ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    if (block == nullptr)
        return line;
    VS_FIXEDFILEINFO *info = nullptr;
    UINT infoSize = 0;
    if (GetFileVersionInfoW(path, 0, size, block) && VerQueryValueW(block, L"\\", (void **)&info, &infoSize) &&
        info != nullptr && infoSize >= sizeof(VS_FIXEDFILEINFO)) {
        wchar_t number[64] = {};
        _snwprintf(number, 63, L" %u.%u.%u.%u", (unsigned)HIWORD(info->dwFileVersionMS),
                   (unsigned)LOWORD(info->dwFileVersionMS), (unsigned)HIWORD(info->dwFileVersionLS),
                   (unsigned)LOWORD(info->dwFileVersionLS));
        AppendText(&line, number);
    }
    HeapFree(GetProcessHeap(), 0, block);
    return line;
}

// Major and minor in lower-case hexadecimal, as the switch numbers them: 0x040A is "4.a".
UiText FirmwareLine()
{
    if (appState.deviceAttributes.ProductID == 0)
        return UiString(IDS_NOT_ATTACHED);
    USHORT version = appState.deviceAttributes.VersionNumber;
    wchar_t number[32] = {};
    _snwprintf(number, 31, L" %x.%x", (unsigned)(version >> 8), (unsigned)(version & 0xFF));
    UiText line = UiString(IDS_FIRMWARE_VERSION);
    AppendText(&line, number);
    return line;
}

void OnInitDialog(HWND dialog)
{
    openDialog = dialog;
    LoadUiString(IDS_ABOUT_TITLE, appState.aboutTitle);
    SetDlgItemTextW(dialog, IDC_SOFTWARE_LINE, SoftwareLine().text);
    SetDlgItemTextW(dialog, IDC_FIRMWARE_LINE, FirmwareLine().text);
    UiText caption = {};
    lstrcpynW(caption.text, appState.aboutTitle, UI_STRING_CHARS);
    AppendText(&caption, L" ");
    AppendText(&caption, appState.windowTitle);
    SetWindowTextW(dialog, caption.text);
    SetDlgItemTextW(dialog, IDOK, UiString(IDS_OK).text);
    SetDlgItemTextW(dialog, IDC_COPYRIGHT_LINE, UiString(IDS_COPYRIGHT).text);
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
