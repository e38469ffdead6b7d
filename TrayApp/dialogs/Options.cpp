// The Options dialog.
#include "Dialogs.h"

INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Not built yet: closes at once.
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}
