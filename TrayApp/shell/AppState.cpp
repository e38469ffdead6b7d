// The one process-wide record.
#include "AppState.h"

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "osVersion is the 284-byte record");
#if !defined(_WIN64)
static_assert(NOTIFYICONDATAW_V3_SIZE == 952, "trayIcon is the 952-byte record");
#endif

AppState appState;
