#include "UnixCommand.h"
#include "Wait.h"

#include <cstdio>

int RunUnixCommand(const std::string &command, DWORD timeoutMs)
{
    // Wine gives no usable handle for a Unix process: the shell leaves its
    // exit status in a file that appears only when the command is done.
    // Tests in other lanes have wineservers of their own, which hand out the
    // same process ids: the file system alone makes the name unique.
    char reserved[MAX_PATH];
    if (GetTempFileNameA("Z:\\tmp", "vt", 0, reserved) == 0)
        return -1;
    std::string windowsStatus = std::string(reserved) + ".status";
    std::string status = windowsStatus.substr(2);
    for (char &c : status)
        if (c == '\\')
            c = '/';

    std::string line = std::string("/bin/sh -c \"") + command + "; echo $? > " + status + ".part && mv " + status +
                       ".part " + status + "\"";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    int result = -1;
    if (CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        if (process.hProcess != nullptr)
            CloseHandle(process.hProcess);
        if (process.hThread != nullptr)
            CloseHandle(process.hThread);
        WaitUntil("the status of " + command, [&] {
            FILE *file = fopen(windowsStatus.c_str(), "r");
            if (file == nullptr)
                return false;
            if (fscanf(file, "%d", &result) != 1)
                result = -1;
            fclose(file);
            DeleteFileA(windowsStatus.c_str());
            return true;
        }, timeoutMs);
    }
    DeleteFileA(reserved);
    return result;
}

int GiveXFocusAt(const RECT &area)
{
    char command[160];
    snprintf(command, sizeof(command),
             "eval $(xdotool mousemove %ld %ld getmouselocation --shell) && xdotool windowfocus $WINDOW",
             (area.left + area.right) / 2, (area.top + area.bottom) / 2);
    return RunUnixCommand(command);
}
