// One applet on a desktop of its own making: the stand-in shell tray, a
// simulated switch (with or without interfaces), the applet started after
// both, and the applet's own icons to tell the tray's images apart.
//   TrayHarness::addSwitch      - a switch present when the applet starts
//   TrayHarness::startApplet    - starts it and waits for its icon in the tray
//   TrayHarness::unplugSwitch   - removes it; waits for the not-attached icon
//   TrayHarness::plugSwitch     - brings it back; waits for the attached icon
//   TrayHarness::iconShown      - 130, 134, or 0 for an image of neither
#pragma once

#include "AppletProcess.h"
#include "ExeResources.h"
#include "Registry.h"
#include "ShellTray.h"
#include "SimulatedSwitch.h"

#include <memory>

WORD const ATTACHED_ICON = 130;
WORD const NOT_ATTACHED_ICON = 134;

class TrayHarness {
public:
    TrayHarness();
    TrayHarness(const TrayHarness &) = delete;
    TrayHarness &operator=(const TrayHarness &) = delete;

    // The stand-in tray is the one the shell's calls reach, and the two icons
    // could be read from the applet and told apart.
    bool ready() const;

    int addSwitch(USHORT productId, USHORT versionNumber);
    bool startApplet(const std::wstring &arguments = L"");
    bool unplugSwitch(int id);
    bool plugSwitch(int id);

    WORD iconShown(const TrayNotification &notification) const;
    std::vector<TrayNotification> notifications() const { return shell.notificationsFor(applet->window()); }

private:
    bool waitForIconChange(size_t countBefore, WORD icon);

public:
    // Declared in the order they must come up; they go down in reverse.
    CleanRegistry registry;
    ShellTray shell;
    SimulatedSwitch sim;
    ExeResources resources;
    IconImage attachedImage;
    IconImage notAttachedImage;
    std::unique_ptr<AppletProcess> applet;
};
