// HookProbe.exe: a second process for the hook tests. It maps Quillhook.dll
// as the system maps it into a process that takes keyboard input, and calls
// the keyboard procedure with the events on its command line, as that
// process's input thread would. What the library posts goes to the window
// that the test process gave StartHook.
//   HookProbe.exe code virtualKey flags [code virtualKey flags ...]
// Numbers in C notation (0x... for hex). Exit code: 0 done, 1 bad
// arguments, 2 the library or its procedure is missing.
//   wmain - parses the events and feeds them to KbHook
#include <windows.h>

#include <cwchar>
#include <string>

typedef LRESULT(CALLBACK *HookProcedure)(int code, WPARAM wParam, LPARAM lParam);

int const EXIT_DONE = 0;
int const EXIT_BAD_ARGUMENTS = 1;
int const EXIT_NO_LIBRARY = 2;

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4 || (argc - 1) % 3 != 0)
        return EXIT_BAD_ARGUMENTS;

    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder = folder.substr(0, folder.find_last_of(L"\\/"));
    HMODULE library = LoadLibraryW((folder + L"\\Quillhook.dll").c_str());
    if (library == nullptr)
        return EXIT_NO_LIBRARY;
    HookProcedure kbHook = (HookProcedure)GetProcAddress(library, "_KbHook@12");
    if (kbHook == nullptr)
        return EXIT_NO_LIBRARY;

    for (int at = 1; at + 2 < argc; at += 3) {
        int code = (int)wcstol(argv[at], nullptr, 0);
        WPARAM virtualKey = (WPARAM)wcstoul(argv[at + 1], nullptr, 0);
        LPARAM flags = (LPARAM)wcstoul(argv[at + 2], nullptr, 0);
        kbHook(code, virtualKey, flags);
    }
    return EXIT_DONE;
}
