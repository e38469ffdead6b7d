// The white border round the monitor on the switch, and display optimisation.
#include "Display.h"

static HANDLE borderEventCopy = nullptr;

void SetBorderEvent(HANDLE event)
{
    borderEventCopy = event;
}

void StartBorder()
{
    // Not built yet.
}

void OptimizeDisplay()
{
}

void OnBorderTimer()
{
}

void OnTurnBorderOn()
{
}

void OnTurnBorderOff()
{
}

void OnDisplayChange()
{
}
