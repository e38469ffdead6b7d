// What the menu spy, a hook library loaded into the applet, tells the test:
// the popup menu as it is about to be shown, the end of the menu loop, and the
// retrieval of a marker message the test posts behind its own messages.
// Menus cannot be read from another process under Wine, so the spy reads the
// popup inside the applet and sends it over with WM_COPYDATA.
#pragma once

#include <windows.h>

// The spy's reports go to a message-only window of this class in the test.
wchar_t const MENU_SPY_RECEIVER_CLASS[] = L"VarnelMenuSpyReceiver";
// Posted by the test to the applet's window; the spy reports its retrieval,
// so the test knows every message posted before it has been handled.
wchar_t const MENU_SPY_MARKER_MESSAGE[] = L"VarnelMenuSpyMarker";

// COPYDATASTRUCT.dwData of each report.
ULONG_PTR const SPY_MENU_SHOWN = 1;       // a SpiedMenu
ULONG_PTR const SPY_MENU_CLOSED = 2;      // no data
ULONG_PTR const SPY_MARKER_SEEN = 3;      // a DWORD: the marker's wParam

int const SPIED_MAX_ITEMS = 32;
int const SPIED_TEXT_CHARS = 96;

struct SpiedItem {
    UINT id;
    UINT type;                            // MENUITEMINFO fType
    UINT state;                           // MENUITEMINFO fState
    WCHAR text[SPIED_TEXT_CHARS];
};

struct SpiedMenu {
    int count;                            // GetMenuItemCount of the popup
    SpiedItem items[SPIED_MAX_ITEMS];
};
