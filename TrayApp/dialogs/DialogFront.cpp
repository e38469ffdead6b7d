// One Options and one About at a time: a second request brings the open one
// forward instead of stacking another on it.
//   BringDialogToFront - restores the dialog if minimised and makes it the foreground window
#include "Dialogs.h"

void BringDialogToFront(HWND dialog)
{
    if (IsIconic(dialog))
        ShowWindow(dialog, SW_RESTORE);
    SetForegroundWindow(dialog);
}
