// The instance control pipe: another process can end the applet through it.
#include "Shell.h"

void StartInstancePipe()
{
    // Not built yet: no pipe is created.
}

void OnPipeTimer()
{
}
