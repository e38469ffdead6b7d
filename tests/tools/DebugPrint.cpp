// Prints the system debug output as DebugView would show it, one line per
// string, until it is ended (scripts/run.sh runs it beside the applet).
#include "DebugListener.h"

#include <cstdio>

int wmain()
{
    DebugListener listener;
    if (!listener.listening()) {
        fprintf(stderr, "Cannot listen to the debug output (is another listener running?)\n");
        return 1;
    }
    size_t printed = 0;
    for (;;) {
        auto lines = listener.allLines();
        for (; printed < lines.size(); ++printed) {
            const auto &line = lines[printed];
            std::string text = line.second;
            bool lineFeed = !text.empty() && text.back() == '\n';
            if (lineFeed)
                text.pop_back();
            printf("debug [%lu] %s%s\n", line.first, text.c_str(), lineFeed ? "" : "   (no line feed)");
        }
        fflush(stdout);
        Sleep(50);
    }
}
