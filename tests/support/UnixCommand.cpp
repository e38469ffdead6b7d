#include "UnixCommand.h"

#include <cstdio>

int RunUnixCommand(const std::string &command, DWORD timeoutMs)
{
    // Wine gives no usable handle for a Unix process: the shell leaves its
    // exit status in a file that appears only when the command is done.
    static int runs = 0;
    char status[MAX_PATH];
    snprintf(status, sizeof(status), "/tmp/varnel-test-%lu-%d.status", GetCurrentProcessId(), ++runs);
    std::string windowsStatus = std::string("Z:") + status;
    for (char &c : windowsStatus)
        if (c == '/')
            c = '\\';
    DeleteFileA(windowsStatus.c_str());

    std::string line = std::string("/bin/sh -c \"") + command + "; echo $? > " + status + ".part && mv " + status +
                       ".part " + status + "\"";
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);

    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        FILE *file = fopen(windowsStatus.c_str(), "r");
        if (file != nullptr) {
            int result = -1;
            if (fscanf(file, "%d", &result) != 1)
                result = -1;
            fclose(file);
            DeleteFileA(windowsStatus.c_str());
            return result;
        }
        Sleep(10);
    }
    return -1;
}
