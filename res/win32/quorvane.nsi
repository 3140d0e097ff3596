; The Windows installer: per user, no administrator rights, a Start-menu shortcut and, ticked
; by default, one in the user's Startup folder. Every shortcut starts the program in
; %APPDATA%\Quorvane, which is the user's to write, so OK always saves the server list there.
; Installed again over an existing installation (an upgrade), it goes into the same folder and
; keeps the Startup choice that installation has.
; Built by the win32 preset: makensis -DTARGET=x86-unicode -DVERSION=... -DEXE=... -DICON=...
; -DLICENSE=... -DOUTFILE=...

Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel user
; Drawn at the monitor's scale: at 150 % the system would otherwise stretch a 96 dpi picture.
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"
!include "Sections.nsh"
!include "FileFunc.nsh"

!define APP "Quorvane"
!define PUBLISHER "Harrowbecks Software, Inc."
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define DIALOG_CAPTION "Quorvane by Harrowbecks Software, Inc."

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvane"
; An upgrade goes where the existing installation is (/D= still wins).
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${APP} Setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_TITLE "${APP} is installed"
; Six lines in the dialog font: the large text box holds seven, the normal one only five.
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_TEXT "${APP} runs in the notification area: click its icon to set the delay and the server list.$\r$\n$\r$\nYour settings are kept in $APPDATA\Quorvane\Quorvane.Lst; the shortcuts start ${APP} there, so they are always saved."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${APP} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartNow

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running Quorvane is asked to close as a close request from outside does (it ends cleanly,
; its list already saved); one that does not go within 5 s is left alone and the user told.
; The installer says so first (it replaces a program the user is running): Cancel leaves
; everything as it was; a silent install goes on.
!macro CLOSE_RUNNING un
Function ${un}CloseRunning
    FindWindow $0 "#32770" "${DIALOG_CAPTION}"
    ${If} $0 == 0
        Return
    ${EndIf}
    !if "${un}" == ""
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${APP} is running and will be closed now so that it can be updated. Your server list is kept.$\r$\n$\r$\nChoose OK to go on." /SD IDOK IDOK +2
        Abort
    !endif
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    StrCpy $1 0
    ${DoWhile} $1 < 50
        Sleep 100
        FindWindow $0 "#32770" "${DIALOG_CAPTION}"
        ${If} $0 == 0
            Sleep 500 ; the process itself ends just after its window
            Return
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    MessageBox MB_OK|MB_ICONEXCLAMATION "${APP} is still running and did not close. Please choose Exit in its dialog (click its icon in the notification area), then try again." /SD IDOK
    Abort
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

Function StartNow
    SetOutPath "$APPDATA\Quorvane"
    Exec '"$INSTDIR\quorvane.exe"'
FunctionEnd

; The topmost folder of $INSTDIR's that does not exist yet ("" when it does): what the
; installer creates, so that the uninstaller removes it again (when empty), say
; %LOCALAPPDATA%\Programs on a machine where nothing was installed there before.
Function TopNewFolder
    StrCpy $1 ""
    StrCpy $0 "$INSTDIR"
    ${DoUntil} ${FileExists} "$0\*.*"
        StrCpy $1 $0
        ${GetParent} $0 $0
        ${If} $0 == ""
            ${Break}
        ${EndIf}
    ${Loop}
FunctionEnd

Section "${APP} (required)" SecProgram
    SectionIn RO
    Call CloseRunning
    Call TopNewFolder
    SetOutPath "$INSTDIR"
    ; An upgrade keeps what was recorded when the folders were made.
    ${If} $1 != ""
        WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedFolder" "$1"
    ${EndIf}
    File "/oname=quorvane.exe" "${EXE}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; Shortcuts take the output path as their working directory.
    CreateDirectory "$APPDATA\Quorvane"
    SetOutPath "$APPDATA\Quorvane"
    ; The Startup section makes it again when it is ticked.
    Delete "$SMSTARTUP\${APP}.lnk"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\quorvane.exe" "" "$INSTDIR\quorvane.exe" 0 \
        SW_SHOWNORMAL "" "Keep network connections up"

    ; What Windows needs to list the program under installed apps: nothing else is written.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvane.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" 400
SectionEnd

Section "Start ${APP} when I log on" SecStartup
    SetOutPath "$APPDATA\Quorvane"
    CreateShortcut "$SMSTARTUP\${APP}.lnk" "$INSTDIR\quorvane.exe" "" "$INSTDIR\quorvane.exe" 0 \
        SW_SHOWNORMAL "" "Keep network connections up"
SectionEnd

; An upgrade keeps the Startup choice of the installation it replaces: a user who removed
; the Startup shortcut (or unticked it) does not get it back.
Function .onInit
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\quorvane.exe"
        ${IfNot} ${FileExists} "$SMSTARTUP\${APP}.lnk"
            !insertmacro UnselectSection ${SecStartup}
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Call un.CloseRunning
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$SMSTARTUP\${APP}.lnk"
    Delete "$INSTDIR\quorvane.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; Then the folders above it that the installer made, each only if empty (RMDir without
    ; /r), up to the topmost one it recorded, and only when that one does hold $INSTDIR.
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "CreatedFolder"
    StrLen $2 "$0\"
    StrCpy $3 "$INSTDIR" $2
    ${If} $0 != ""
    ${AndIf} $3 == "$0\"
        StrCpy $1 "$INSTDIR"
        ${DoUntil} $1 == $0
            ${GetParent} $1 $1
            ${If} $1 == ""
                ${Break}
            ${EndIf}
            RMDir $1
        ${Loop}
    ${EndIf}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The user's server list is theirs: asked for, No by default, and kept when nobody can
    ; be asked.
    ${If} ${FileExists} "$APPDATA\Quorvane\Quorvane.Lst"
        MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Remove your server list too?$\r$\n$\r$\n$APPDATA\Quorvane\Quorvane.Lst" /SD IDNO IDNO keep
        Delete "$APPDATA\Quorvane\Quorvane.Lst"
        keep:
    ${EndIf}
    RMDir "$APPDATA\Quorvane"
SectionEnd
