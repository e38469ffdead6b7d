// SimSwitch.exe: a simulated switch for scripts and hands-on runs. It presents
// the interfaces named on its command line and prints, one line each, every
// report written to them and every open and close, until it is told to stop.
//   ParseInterface  - one --interface argument
//   PrintEvent      - one line per thing the switch saw
//   RunCommand      - one command line from standard input
//   wmain
#include "SimSwitchTable.h"
#include "SimulatedSwitch.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cstdarg>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

static const char USAGE[] =
    "SimSwitch.exe [--table NAME] [--notify-class CLASS] --interface DEVICE [--interface DEVICE ...]\n"
    "SimSwitch.exe [--table NAME] --stop\n"
    "\n"
    "DEVICE is PID[:VERSION[:OUTLEN]][,OPTION...], numbers in hex but OUTLEN (decimal), e.g.\n"
    "  5a04:0400:8        the video switch, firmware 4.0, 8-byte output reports\n"
    "  5a01:0301:16,upper firmware 3.1, 16-byte reports, device path in upper case\n"
    "OPTIONs: col02 (second collection instead of the switch's own), upper,\n"
    "  nocaps (HidD_GetPreparsedData fails), nogetcaps (HidP_GetCaps fails),\n"
    "  noattributes, noopen (opening fails), absent (starts unplugged),\n"
    "  vid=HEX, hwid=TEXT (path part, e.g. vid_046d&pid_c52b&mi_00), in=LEN\n"
    "\n"
    "Commands on standard input, one a line (interfaces count from 0):\n"
    "  input ID BYTE...   send an input report (hex bytes) to every handle on ID\n"
    "  unplug ID | plug ID   with the WM_DEVICECHANGE notices to the applet\n"
    "  list | quit\n"
    "The applet sees the interfaces when started with WINEDLLOVERRIDES=\"setupapi,hid=n,b\"\n"
    "from the folder that holds the stand-in DLLs, and (for --table) SIMSWITCH_TABLE=NAME.\n";

static std::mutex printLock;

static void PrintLine(const SYSTEMTIME *time, const char *format, ...)
{
    std::lock_guard<std::mutex> lock(printLock);
    if (time != nullptr)
        printf("%02u:%02u:%02u.%03u ", time->wHour, time->wMinute, time->wSecond, time->wMilliseconds);
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
}

static std::string Narrow(const std::wstring &text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 128 ? (char)c : '?';
    return result;
}

static bool ParseHex(const std::wstring &text, USHORT *value)
{
    wchar_t *end = nullptr;
    unsigned long number = wcstoul(text.c_str(), &end, 16);
    if (text.empty() || *end != L'\0' || number > 0xFFFF)
        return false;
    *value = (USHORT)number;
    return true;
}

static bool ParseDecimal(const std::wstring &text, USHORT *value)
{
    wchar_t *end = nullptr;
    unsigned long number = wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || number > 0xFFFF)
        return false;
    *value = (USHORT)number;
    return true;
}

static std::vector<std::wstring> Split(const std::wstring &text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            return parts;
        start = end + 1;
    }
}

static bool ParseInterface(const std::wstring &text, SimInterface *description)
{
    std::vector<std::wstring> options = Split(text, L',');
    std::vector<std::wstring> numbers = Split(options[0], L':');
    USHORT productId = 0, version = 0x0400, outputLength = 8, vendorId = 0x7E51;
    if (!ParseHex(numbers[0], &productId) || (numbers.size() > 1 && !ParseHex(numbers[1], &version)) ||
        (numbers.size() > 2 && !ParseDecimal(numbers[2], &outputLength)) || numbers.size() > 3)
        return false;

    std::wstring hardwareId;
    bool upper = false, col02 = false;
    SimInterface extra;
    for (size_t index = 1; index < options.size(); ++index) {
        const std::wstring &option = options[index];
        if (option == L"col02")
            col02 = true;
        else if (option == L"upper")
            upper = true;
        else if (option == L"nocaps")
            extra.caps = SimCaps::PreparsedDataFails;
        else if (option == L"nogetcaps")
            extra.caps = SimCaps::GetCapsFails;
        else if (option == L"noattributes")
            extra.attributesFail = true;
        else if (option == L"noopen")
            extra.pipeName = L"-";
        else if (option == L"absent")
            extra.present = false;
        else if (option.compare(0, 4, L"vid=") == 0) {
            if (!ParseHex(option.substr(4), &vendorId))
                return false;
        } else if (option.compare(0, 5, L"hwid=") == 0)
            hardwareId = option.substr(5);
        else if (option.compare(0, 3, L"in=") == 0) {
            if (!ParseDecimal(option.substr(3), &extra.inputReportLength))
                return false;
        } else
            return false;
    }
    if (hardwareId.empty() && (col02 || vendorId != 0x7E51)) {
        wchar_t text[64];
        _snwprintf(text, 64, L"vid_%04x&pid_%04x&%ls", vendorId, productId, col02 ? L"col02" : L"col01");
        text[63] = L'\0';
        hardwareId = text;
    }
    *description = hardwareId.empty() ? SwitchInterface(productId, version, outputLength)
                                      : HidInterface(hardwareId, vendorId, productId);
    description->versionNumber = version;
    description->outputReportLength = outputLength;
    description->inputReportLength = extra.inputReportLength;
    description->caps = extra.caps;
    description->attributesFail = extra.attributesFail;
    description->present = extra.present;
    if (extra.pipeName == L"-")
        description->pipeName.clear();
    if (upper) {
        for (wchar_t &c : description->devicePath)
            c = towupper(c);
    }
    return true;
}

static void PrintEvent(const SimEvent &event)
{
    const SYSTEMTIME *time = &event.report.localTime;
    SYSTEMTIME now;
    if (event.kind != SimEvent::Write && event.kind != SimEvent::InputSent) {
        GetLocalTime(&now);
        time = &now;
    }
    std::string bytes = HexBytes(event.report.bytes);
    switch (event.kind) {
    case SimEvent::Write:
        if (event.report.accepted)
            PrintLine(time, "report %d len %u: %s\n", event.interfaceId, (unsigned)event.report.bytes.size(),
                      bytes.c_str());
        else
            PrintLine(time, "write %d len %u (not a whole output report): %s\n", event.interfaceId,
                      (unsigned)event.report.bytes.size(), bytes.c_str());
        break;
    case SimEvent::Open:
        PrintLine(time, "open %d (%d open)\n", event.interfaceId, event.openCount);
        break;
    case SimEvent::Close:
        PrintLine(time, "close %d (%d open)\n", event.interfaceId, event.openCount);
        break;
    case SimEvent::Plug:
        PrintLine(time, "plug %d\n", event.interfaceId);
        break;
    case SimEvent::Unplug:
        PrintLine(time, "unplug %d\n", event.interfaceId);
        break;
    case SimEvent::InputSent:
        PrintLine(time, "input %d to %d handles: %s\n", event.interfaceId, event.openCount, bytes.c_str());
        break;
    }
}

static void ListInterfaces(SimulatedSwitch &simulator)
{
    for (int id = 0; id < simulator.interfaceCount(); ++id) {
        const SimInterface &description = simulator.description(id);
        PrintLine(nullptr, "interface %d: %s vid %04x pid %04x version %04x output %u %s\n", id,
                  Narrow(description.devicePath).c_str(), description.vendorId, description.productId,
                  description.versionNumber, description.outputReportLength,
                  simulator.plugged(id) ? "plugged" : "unplugged");
    }
}

// True when the command asks to stop.
static bool RunCommand(SimulatedSwitch &simulator, const std::string &line)
{
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command.empty())
        return false;
    if (command == "quit")
        return true;
    if (command == "list") {
        ListInterfaces(simulator);
        return false;
    }
    int id = -1;
    if (!(words >> id) || id < 0 || id >= simulator.interfaceCount()) {
        PrintLine(nullptr, "error: no interface in \"%s\"\n", line.c_str());
        return false;
    }
    if (command == "unplug") {
        simulator.unplug(id);
    } else if (command == "plug") {
        simulator.plug(id);
    } else if (command == "input") {
        std::vector<BYTE> report;
        std::string byte;
        while (words >> byte)
            report.push_back((BYTE)strtoul(byte.c_str(), nullptr, 16));
        simulator.sendInputReport(id, report);
    } else {
        PrintLine(nullptr, "error: unknown command \"%s\"\n", command.c_str());
    }
    return false;
}

struct CommandReader {
    SimulatedSwitch *simulator;
    HANDLE stop;
};

static DWORD WINAPI ReadCommands(void *context)
{
    CommandReader *reader = static_cast<CommandReader *>(context);
    char line[1024];
    // End of input only ends the reading: a script may start us with no input at all.
    while (fgets(line, sizeof(line), stdin) != nullptr) {
        if (RunCommand(*reader->simulator, line)) {
            SetEvent(reader->stop);
            break;
        }
    }
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    std::wstring tableName = SIM_DEFAULT_TABLE;
    std::wstring notifyClass = L"Morvax";
    std::vector<SimInterface> interfaces;
    bool stopOther = false;
    for (int index = 1; index < argc; ++index) {
        std::wstring argument = argv[index];
        bool hasValue = index + 1 < argc;
        if (argument == L"--table" && hasValue) {
            tableName = argv[++index];
        } else if (argument == L"--notify-class" && hasValue) {
            notifyClass = argv[++index];
        } else if (argument == L"--interface" && hasValue) {
            SimInterface description;
            if (!ParseInterface(argv[++index], &description)) {
                fprintf(stderr, "SimSwitch: cannot read the interface \"%s\"\n\n%s", Narrow(argv[index]).c_str(),
                        USAGE);
                return 2;
            }
            interfaces.push_back(description);
        } else if (argument == L"--stop") {
            stopOther = true;
        } else {
            fprintf(stderr, "%s", USAGE);
            return argument == L"--help" ? 0 : 2;
        }
    }

    std::wstring stopName = L"SimSwitchStop." + tableName;
    if (stopOther) {
        HANDLE running = OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName.c_str());
        if (running == nullptr) {
            fprintf(stderr, "SimSwitch: none is running for table %s\n", Narrow(tableName).c_str());
            return 1;
        }
        SetEvent(running);
        CloseHandle(running);
        return 0;
    }

    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
    if (stop == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "SimSwitch: another one already serves table %s\n", Narrow(tableName).c_str());
        return 1;
    }
    SimulatedSwitch simulator(tableName);
    if (!simulator.running()) {
        fprintf(stderr, "SimSwitch: cannot set up table %s\n", Narrow(tableName).c_str());
        return 1;
    }
    simulator.setNotifyClass(notifyClass);
    PrintLine(nullptr, "table %s\n", Narrow(tableName).c_str());
    for (const SimInterface &description : interfaces) {
        if (simulator.add(description) < 0) {
            fprintf(stderr, "SimSwitch: too many interfaces\n");
            return 1;
        }
    }
    ListInterfaces(simulator);
    simulator.setListener(PrintEvent);
    PrintLine(nullptr, "ready\n");

    CommandReader reader = {&simulator, stop};
    HANDLE readerThread = CreateThread(nullptr, 0, ReadCommands, &reader, 0, nullptr);
    WaitForSingleObject(stop, INFINITE);
    simulator.setListener(nullptr);
    PrintLine(nullptr, "stopped\n");
    // The reader may sit in a read of standard input: it ends with the process.
    if (readerThread != nullptr)
        CloseHandle(readerThread);
    CloseHandle(stop);
    return 0;
}
