// Command-line verbs: a second start with a verb ("switch", "switch audio",
// "switch video", "optimize") asks the running copy to do what its tray menu
// does, for shortcuts, macro keys and scripts, and ends with an exit code that
// says what happened. Verbs are plain words, so they never meet the "/x",
// "/s" and "/o" switches, which keep their meaning.
//   VerbMessage        - the private message that carries a verb
//   IsVerbWord         - a word that can only be meant as a verb
//   VerbOfCommandLine  - the verb a command line asks for
//   RunCommandLineVerb - the second start's side: ask the running copy, give its answer
//   OnVerb             - the running copy's side: the menu's command, and its outcome
#include "Shell.h"
#include "../device/Device.h"
#include "../display/Display.h"

#include <shellapi.h>

namespace {

enum AppletVerb { VERB_NONE, VERB_SWITCH_ALL, VERB_SWITCH_AUDIO, VERB_SWITCH_VIDEO, VERB_OPTIMIZE, VERB_UNKNOWN };

struct VerbWords {
    const wchar_t *first;
    const wchar_t *second;  // null: a verb of one word
    AppletVerb verb;
};
VerbWords const VERBS[] = {
    {L"switch", nullptr, VERB_SWITCH_ALL},
    {L"switch", L"audio", VERB_SWITCH_AUDIO},
    {L"switch", L"video", VERB_SWITCH_VIDEO},
    {L"optimize", nullptr, VERB_OPTIMIZE},
};

// The running copy gives more than the code: a window that does not know the
// message (an older copy) answers 0, which must not read as "carried out".
LRESULT const ANSWER_MARK = 0x564B0000;
DWORD const ANSWER_TIMEOUT_MS = 2000;
wchar_t const USAGE_LINE[] = L"Usage: VarnelKVM.exe switch | switch audio | switch video | optimize\n";

// A word that begins with a letter and holds no slash: not a switch, nor
// anything a program would pass to the applet before verbs existed.
bool IsVerbWord(const wchar_t *word)
{
    wchar_t first = word[0];
    return ((first >= L'a' && first <= L'z') || (first >= L'A' && first <= L'Z')) && wcschr(word, L'/') == nullptr;
}

// VERB_NONE when no word of the command line is meant as a verb; a verb
// beside anything else (extra words, a switch) is VERB_UNKNOWN.
AppletVerb VerbOfCommandLine(const wchar_t *commandLine)
{
    int count = 0;
    wchar_t **words = CommandLineToArgvW(commandLine, &count);
    if (words == nullptr)
        return VERB_NONE;
    AppletVerb verb = VERB_NONE;
    for (int index = 1; index < count && verb == VERB_NONE; ++index) {
        if (IsVerbWord(words[index]))
            verb = VERB_UNKNOWN;
    }
    if (verb == VERB_UNKNOWN) {
        for (const VerbWords &row : VERBS) {
            int wanted = row.second != nullptr ? 3 : 2;
            if (count == wanted && lstrcmpiW(words[1], row.first) == 0 &&
                (row.second == nullptr || lstrcmpiW(words[2], row.second) == 0))
                verb = row.verb;
        }
    }
    LocalFree(words);
    return verb;
}

}  // namespace

UINT VerbMessage()
{
    static UINT message = 0;
    if (message == 0)
        message = RegisterWindowMessageW(VERB_MESSAGE_NAME);
    return message;
}

bool RunCommandLineVerb(const wchar_t *commandLine, int *exitCode)
{
    AppletVerb verb = VerbOfCommandLine(commandLine);
    if (verb == VERB_NONE)
        return false;
    if (verb == VERB_UNKNOWN) {
        DebugLine(USAGE_LINE);
        *exitCode = VERB_EXIT_USAGE;
        return true;
    }
    HWND runningCopy = FindWindowW(appState.className, appState.windowTitle);
    DWORD_PTR answer = 0;
    if (runningCopy == nullptr || !SendMessageTimeoutW(runningCopy, VerbMessage(), verb, 0, SMTO_ABORTIFHUNG,
                                                       ANSWER_TIMEOUT_MS, &answer)) {
        *exitCode = VERB_EXIT_NO_COPY;
        return true;
    }
    bool known = (answer & 0xFFFF0000) == (DWORD_PTR)ANSWER_MARK;
    *exitCode = known ? (int)(answer & 0xFFFF) : VERB_EXIT_CANNOT;
    return true;
}

// Exactly what the menu's command does now, and only what the menu would
// offer now: a switch found, audio and video apart only where the switch
// switches audio, Optimize Display only with the display firmware.
// A verb that comes once the exit has begun changes nothing.
LRESULT OnVerb(WPARAM verb)
{
    SwitchCommand const switchOf[] = {SWITCH_NONE, SWITCH_ALL, SWITCH_AUDIO, SWITCH_VIDEO};
    bool done = false;
    if (appState.exitSequenceStarted) {
        done = false;
    } else if (verb >= VERB_SWITCH_ALL && verb <= VERB_SWITCH_VIDEO) {
        done = TrayMenuOffersSwitch(switchOf[verb]) && SendSwitchCommand(switchOf[verb]);
    } else if (verb == VERB_OPTIMIZE && HasDisplayFirmware()) {
        DebugLine(L"User wants to Optimize Display\n");
        done = OptimizeDisplay();
    }
    return ANSWER_MARK | (done ? VERB_EXIT_DONE : VERB_EXIT_CANNOT);
}
