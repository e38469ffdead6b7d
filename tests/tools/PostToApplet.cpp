// Posts one message to the running applet's hidden window, as the shell or
// another program would: PostToApplet <message> [wParam] [lParam]
// (numbers in decimal or 0x hex). Ends with 1 when no applet window exists.
#include "AppletProcess.h"
#include "Wait.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: PostToApplet <message> [wParam] [lParam]\n");
        return 2;
    }
    UINT message = (UINT)wcstoul(argv[1], nullptr, 0);
    WPARAM wParam = argc > 2 ? (WPARAM)wcstoul(argv[2], nullptr, 0) : 0;
    LPARAM lParam = argc > 3 ? (LPARAM)wcstoul(argv[3], nullptr, 0) : 0;
    HWND window = nullptr;
    if (!WaitUntil("the applet's window", [&] { return (window = FindAppletWindow()) != nullptr; })) {
        fprintf(stderr, "No running applet found\n");
        return 1;
    }
    return PostMessageW(window, message, wParam, lParam) ? 0 : 1;
}
