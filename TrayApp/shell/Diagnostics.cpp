// Diagnostic lines on the system debug output (DebugView and the like).
#include "Shell.h"

#include <cstdarg>
#include <cstdio>

void DebugLine(const wchar_t *text)
{
    OutputDebugStringW(text);
}

void DebugLineF(const wchar_t *format, ...)
{
    wchar_t line[256];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(line, sizeof(line) / sizeof(line[0]) - 1, format, arguments);
    va_end(arguments);
    line[sizeof(line) / sizeof(line[0]) - 1] = L'\0';
    OutputDebugStringW(line);
}
