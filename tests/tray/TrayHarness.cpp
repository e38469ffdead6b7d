#include "TrayHarness.h"

namespace {
DWORD const ICON_CHANGE_TIMEOUT = 10000;
}

TrayHarness::TrayHarness()
{
    attachedImage = resources.icon(ATTACHED_ICON);
    notAttachedImage = resources.icon(NOT_ATTACHED_ICON);
}

bool TrayHarness::ready() const
{
    return shell.isTheShell() && sim.running() && !attachedImage.empty() && !notAttachedImage.empty() &&
           !(attachedImage == notAttachedImage);
}

int TrayHarness::addSwitch(USHORT productId, USHORT versionNumber)
{
    return sim.add(SwitchInterface(productId, versionNumber));
}

bool TrayHarness::startApplet(const std::wstring &arguments)
{
    applet.reset(new AppletProcess(arguments));
    // The icon is added at the very end of start-up: from then on the applet
    // handles the shell's messages.
    return applet->start() && applet->waitForWindow() != nullptr &&
           shell.waitForCount(applet->window(), 1);
}

// The simulator delivers its device notices synchronously, so by the time
// plug() or unplug() returns every icon change they caused has been recorded;
// the wait is for one that shows the icon wanted.
bool TrayHarness::waitForIconChange(size_t countBefore, WORD icon)
{
    return shell.waitForLatest(
        applet->window(),
        [&](const TrayNotification &latest) {
            return notifications().size() > countBefore && iconShown(latest) == icon;
        },
        ICON_CHANGE_TIMEOUT);
}

bool TrayHarness::unplugSwitch(int id)
{
    size_t before = notifications().size();
    sim.unplug(id);
    return waitForIconChange(before, NOT_ATTACHED_ICON);
}

bool TrayHarness::plugSwitch(int id)
{
    size_t before = notifications().size();
    sim.plug(id);
    return waitForIconChange(before, ATTACHED_ICON);
}

WORD TrayHarness::iconShown(const TrayNotification &notification) const
{
    if (notification.icon == attachedImage)
        return ATTACHED_ICON;
    if (notification.icon == notAttachedImage)
        return NOT_ATTACHED_ICON;
    return 0;
}
