; VarnelKVM's installer and uninstaller, built with makensis (the build passes
; the defines below; see installer/CMakeLists.txt).
;   VERSION    1.1.6.0, from the program's version block
;   PUBLISHER  the version block's company name
;   COPYRIGHT  its copyright line
;   BIN_DIR    the folder holding VarnelKVM.exe, Quillhook.dll and DesktopUser.exe
;              (the build's payload folder: see varnel_ship in CMakeLists.txt)
;   ICON       the installer's icon
;   OUT_FILE   the installer to write
;   AMD64      (optional) a 64-bit installer of the 64-bit build, into the
;              64-bit Program Files: the tests' stand-in on machines that run
;              no 32-bit programs. It never ships.
;   SIGN       (optional, a signed release) the command that signs the file it
;              is given in place; SIGNED_PLUGINS then holds NSIS's plug-ins
;              signed with it
;
; Functions: EndRunningCopies and StartInstalledCopy (installer and
; uninstaller), .onInit, AllWindowsPage, AllWindowsPageLeave,
; RegisterLogonStart, FinishPageShow, un.onInit, un.RestartEndedCopy,
; un.SettingsPage, un.SettingsPageLeave.
;
; Command line, besides NSIS's own /S and /D=:
;   installer /AllWindows        logon starts the applet with full rights, as
;                                the check box on the installer's page does
;   installer /AllWindows=0      logon starts it with ordinary rights again;
;                                without either, an update keeps the choice
;                                the installed copy was set up with
;   uninstaller /RemoveSettings  also removes the user's settings, as the
;                                uninstaller's check box does (silent or not).
; The installer refuses (exit code 2) where the Windows Installer package of
; VarnelKVM is installed: two installers would each own the same files.

!ifdef AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION | PUBLISHER | COPYRIGHT | BIN_DIR | ICON | OUT_FILE
  !error "makensis needs -DVERSION= -DPUBLISHER= -DCOPYRIGHT= -DBIN_DIR= -DICON= -DOUT_FILE= (the build passes them)"
!endif

; Signed as Windows checks them: the uninstaller before it is packed, then the
; installer once written; the plug-ins it unpacks are the signed copies.
!ifdef SIGN
  !addplugindir "${SIGNED_PLUGINS}"
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

!define PRODUCT "VarnelKVM"
!define PROGRAM "VarnelKVM.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The scheduled task that, with the choice, starts the applet at logon instead of the Run entry.
!define TASK_NAME "VarnelKVM"
!define SCHTASKS '"$SYSDIR\schtasks.exe"'
!define SETTINGS_KEY "Software\Varnel\Kestrel"
!define SETTINGS_PARENT "Software\Varnel"
; The applet's hidden main window.
!define APPLET_CLASS "Morvax"
; Its Exit command (WM_COMMAND 105, WM_COMMAND from WinMessages.nsh), with
; the mark that tells it an installer asks: it then ends without switching the
; computers, whatever its settings, so that the installer's windows stay on
; this computer's screen.
!define COMMAND_EXIT 105
!define EXIT_FOR_INSTALLER 0x564B494E
; The Windows Installer package's upgrade code (VarnelKVM.wxs).
!define MSI_UPGRADE_CODE "{72FFDE45-689E-40FF-B8C2-D008E610376F}"
; The exit code of a refused install.
!define REFUSED_EXIT_CODE 2
; How long a running copy gets to end after the Exit command before it is stopped.
!define EXIT_WAIT_MS 15000
; The exit code of a copy that had to be stopped (one that ends itself gives 0).
!define STOPPED_EXIT_CODE 1
!define SYNCHRONIZE 0x00100000
!define PROCESS_TERMINATE 0x0001
!define WAIT_OBJECT_0 0

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
!ifdef AMD64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES32\${PRODUCT}"
!endif
; An update goes where the last install went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"
!include "WinVer.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_UNABORT un.RestartEndedCopy

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom AllWindowsPage AllWindowsPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartInstalledCopy
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishPageShow
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.SettingsPage un.SettingsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var WasRunning          ; a copy was ended to replace the files
Var RemoveSettings      ; 1: the uninstaller also removes the settings key
Var RemoveSettingsBox
Var AllWindows          ; 1: logon starts the applet through the task, with full rights
Var AllWindowsBox

; Ends every running copy with the installers' Exit command, then waits for
; the process to go, so that neither the program nor its hook library is in
; use when the files are replaced or removed. A copy that does not end in
; time is stopped. Leaves $WasRunning 1 when one ran.
!macro END_RUNNING_COPIES prefix
Function ${prefix}EndRunningCopies
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $WasRunning 0
  StrCpy $4 0
  ${Do}
    FindWindow $0 "${APPLET_CLASS}"
    ${If} $0 = 0
    ${OrIf} $4 >= 5
      ${Break}
    ${EndIf}
    IntOp $4 $4 + 1
    StrCpy $WasRunning 1
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}|${PROCESS_TERMINATE}, i 0, i r1) p .r2'
    DetailPrint "Ending the running ${PRODUCT} (process $1)"
    System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${COMMAND_EXIT}, p ${EXIT_FOR_INSTALLER})'
    ${If} $2 <> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${EXIT_WAIT_MS}) i .r3'
      ${If} $3 <> ${WAIT_OBJECT_0}
        DetailPrint "${PRODUCT} did not end in time: stopping it"
        System::Call 'kernel32::TerminateProcess(p r2, i ${STOPPED_EXIT_CODE})'
        System::Call 'kernel32::WaitForSingleObject(p r2, i 5000)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r2)'
    ${Else}
      ; Not ours to open: wait for its window to go instead.
      ${For} $3 1 150
        System::Call 'user32::IsWindow(p r0) i .r2'
        ${IfThen} $2 = 0 ${|} ${Break} ${|}
        Sleep 100
      ${Next}
    ${EndIf}
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro END_RUNNING_COPIES ""
!insertmacro END_RUNNING_COPIES "un."

; Starts the installed applet as the user at this desktop, never with the
; installer's own rights: through the logon task when there is one, as logon
; would, else through DesktopUser.exe with the user's ordinary rights. Where
; neither can be had it is not started, and the user is told.
!macro START_INSTALLED_COPY prefix
Function ${prefix}StartInstalledCopy
  ClearErrors
  ${If} $AllWindows = 1
    nsExec::Exec '${SCHTASKS} /Run /TN "${TASK_NAME}"'
    Pop $0
  ${Else}
    ExecWait '"$PLUGINSDIR\DesktopUser.exe" start "$INSTDIR\${PROGRAM}"' $0
  ${EndIf}
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "${PRODUCT} was not started: it cannot be started from here with your own rights"
    MessageBox MB_ICONINFORMATION|MB_OK "${PRODUCT} cannot be started from here with your own rights. Start it from the Start menu; it also starts at your next logon." /SD IDOK
  ${EndIf}
FunctionEnd
!macroend
!insertmacro START_INSTALLED_COPY ""
!insertmacro START_INSTALLED_COPY "un."

Function .onInit
  ; Two installers owning one folder and one Run entry would each break the
  ; other's install when it is removed.
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} is installed by its Windows Installer package. Update it with a newer package, or remove it in Add/Remove Programs before you use this Setup program." /SD IDOK
    SetErrorLevel ${REFUSED_EXIT_CODE}
    Quit
  ${EndIf}

  ; The choice stays as the installed copy was set up (off on a first
  ; install) unless the command line makes it, silent or not.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AllWindows" $1
  ${If} ${Errors}
    ReadRegDWORD $AllWindows HKLM "${UNINSTALL_KEY}" "AllWindows"
    ${IfThen} $AllWindows != 1 ${|} StrCpy $AllWindows 0 ${|}
  ${ElseIf} $1 == "=0"
    StrCpy $AllWindows 0
  ${Else}
    StrCpy $AllWindows 1
  ${EndIf}
FunctionEnd

Function AllWindowsPage
  ; Before Vista no window runs as administrator apart from the others.
  ${IfNot} ${AtLeastWinVista}
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Hotkeys in every window" "Choose whether the hotkeys also work in windows running as administrator."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 72u "Windows keeps what you type into a window that runs as administrator (Task Manager, an administrator's console, an installer) from ${PRODUCT}: its hotkeys do nothing there.$\r$\n$\r$\nWith the box ticked, ${PRODUCT} starts when you log on through a scheduled task, for you alone and with your full rights, instead of for every user with ordinary rights. It then runs as a program with administrator rights, and its keyboard hook is loaded into programs running as administrator too."
  Pop $0
  ${NSD_CreateCheckbox} 0 78u 100% 20u "&Also switch from windows running as administrator (starts the applet with full rights at logon)"
  Pop $AllWindowsBox
  ${If} $AllWindows = 1
    ${NSD_Check} $AllWindowsBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function AllWindowsPageLeave
  ${NSD_GetState} $AllWindowsBox $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $AllWindows 1
  ${Else}
    StrCpy $AllWindows 0
  ${EndIf}
FunctionEnd

; Logon starts the applet in one of two ways, never both: the Run entry, for
; every user with ordinary rights, or with the choice a scheduled task that
; starts it for the user at this desktop with full rights. Either way with
; /s, so each user's "Run on System Startup" still decides. Where the task
; cannot be registered (Windows before Vista, nobody logged on) the Run
; entry stays.
Function RegisterLogonStart
  nsExec::Exec '${SCHTASKS} /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  ${If} $AllWindows = 1
    ; Registered from memory: a definition in a file under the user's own
    ; temporary folder could be rewritten by any of the user's programs before
    ; Task Scheduler read it, and its command would run with full rights.
    ClearErrors
    ExecWait '"$PLUGINSDIR\DesktopUser.exe" task "${TASK_NAME}" "$INSTDIR\${PROGRAM}"' $0
    ${IfNot} ${Errors}
    ${AndIf} $0 == 0
      DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
      Return
    ${EndIf}
    DetailPrint "The logon task could not be registered: ${PRODUCT} starts at logon with ordinary rights"
    MessageBox MB_ICONEXCLAMATION|MB_OK "${PRODUCT} could not be set up to start with full rights at logon. It starts at logon as before, and its hotkeys do nothing in windows running as administrator." /SD IDOK
  ${EndIf}
  StrCpy $AllWindows 0
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}" /s'
FunctionEnd

; Says so on the page, before anyone ticks it, when the applet cannot be
; started from here with the user's own rights. (The page that asks for a
; restart offers no start.)
Function FinishPageShow
  ${If} $AllWindows = 1
  ${OrIf} ${RebootFlag}
    Return
  ${EndIf}
  ClearErrors
  ExecWait '"$PLUGINSDIR\DesktopUser.exe" check' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    ${NSD_Uncheck} $mui.FinishPage.Run
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
    ${NSD_SetText} $mui.FinishPage.Text "${PRODUCT} has been installed on your computer. It cannot be started from here with your own rights: start it from the Start menu, or it starts at your next logon.$\r$\n$\r$\nClick Finish to close Setup."
  ${EndIf}
FunctionEnd

; A file still mapped by another program (the hook library lingers in programs
; that took keyboard input until they next wake) cannot be overwritten, but it
; can be renamed out of the way and removed at the next restart.
!macro MOVE_ASIDE_IF_LOCKED file
  Delete "${file}"
  ${If} ${FileExists} "${file}"
    Delete "${file}.old"
    Rename "${file}" "${file}.old"
    Delete /REBOOTOK "${file}.old"
  ${EndIf}
!macroend

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  InitPluginsDir
  Call EndRunningCopies
  SetOutPath "$PLUGINSDIR"
  File "${BIN_DIR}\DesktopUser.exe"

  SetOutPath "$INSTDIR"
  !insertmacro MOVE_ASIDE_IF_LOCKED "$INSTDIR\${PROGRAM}"
  !insertmacro MOVE_ASIDE_IF_LOCKED "$INSTDIR\Quillhook.dll"
  File "${BIN_DIR}\${PROGRAM}"
  File "${BIN_DIR}\Quillhook.dll"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  Call RegisterLogonStart

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The choice, for the uninstaller and for the next update's page.
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AllWindows" $AllWindows
  ; The size of what this installs, in KB: not of whatever else shares the folder.
  StrCpy $3 0
  ${ForEach} $4 1 3 + 1
    ${Select} $4
      ${Case} 1
        StrCpy $5 "${PROGRAM}"
      ${Case} 2
        StrCpy $5 "Quillhook.dll"
      ${Default}
        StrCpy $5 "${UNINSTALLER}"
    ${EndSelect}
    ${GetSize} "$INSTDIR" "/M=$5 /S=0B /G=0" $0 $1 $2
    IntOp $3 $3 + $0
  ${Next}
  IntOp $3 $3 + 1023
  IntOp $3 $3 / 1024
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $3

  ; A silent update puts back the copy it ended; an interactive install offers
  ; to start it on its last page.
  ${If} ${Silent}
  ${AndIf} $WasRunning = 1
    Call StartInstalledCopy
  ${EndIf}
SectionEnd

Function un.onInit
  ; Ended before any page shows: keys typed into the uninstaller while the hook
  ; is still in place would map the hook library into it, and that copy could
  ; then not be removed until Windows restarts.
  Call un.EndRunningCopies
  ReadRegDWORD $AllWindows HKLM "${UNINSTALL_KEY}" "AllWindows"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\DesktopUser.exe" "${BIN_DIR}\DesktopUser.exe"
  StrCpy $RemoveSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

Function un.SettingsPage
  !insertmacro MUI_HEADER_TEXT "Your settings" "Keep or remove your ${PRODUCT} settings."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Your hotkeys and options stay in the registry, ready for a later install, unless you tick the box."
  Pop $0
  ${NSD_CreateCheckbox} 0 30u 100% 12u "&Also remove my settings"
  Pop $RemoveSettingsBox
  ${If} $RemoveSettings = 1
    ${NSD_Check} $RemoveSettingsBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.SettingsPageLeave
  ${NSD_GetState} $RemoveSettingsBox $0
  ${If} $0 = ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
  ${EndIf}
FunctionEnd

; The user changed his mind: the copy that was ended runs again.
Function un.RestartEndedCopy
  ${If} $WasRunning = 1
    Call un.StartInstalledCopy
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; A copy started since the uninstaller opened.
  Call un.EndRunningCopies

  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  nsExec::Exec '${SCHTASKS} /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  Delete /REBOOTOK "$INSTDIR\${PROGRAM}"
  ; Programs that took keyboard input while the hook was in place let go of
  ; the library when they next handle a message: give them a moment before
  ; leaving it to the next restart.
  ${For} $0 1 30
    Delete "$INSTDIR\Quillhook.dll"
    ${IfNot} ${FileExists} "$INSTDIR\Quillhook.dll"
      ${Break}
    ${EndIf}
    Sleep 100
  ${Next}
  Delete /REBOOTOK "$INSTDIR\Quillhook.dll"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only an empty folder goes: anything the user put there stays.
  RMDir /REBOOTOK "$INSTDIR"

  ${If} $RemoveSettings = 1
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
