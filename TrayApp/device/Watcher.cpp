// The watcher thread that reads the switch's input reports.
#include "Device.h"

void OnWatcherStartTimer()
{
    // Not built yet.
}
