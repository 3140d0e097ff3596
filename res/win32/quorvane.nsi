; The Windows installer: per user, no administrator rights, a Start-menu shortcut and, ticked
; by default, one in the user's Startup folder. Every shortcut starts the program in
; %APPDATA%\Quorvane, which is the user's to write, so OK always saves the server list there.
; Built by the win32 preset: makensis -DTARGET=x86-unicode -DVERSION=... -DEXE=... -DICON=...
; -DLICENSE=... -DOUTFILE=...

Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define APP "Quorvane"
!define PUBLISHER "Harrowbecks Software, Inc."
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define DIALOG_CAPTION "Quorvane by Harrowbecks Software, Inc."

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvane"
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
!macro CLOSE_RUNNING un
Function ${un}CloseRunning
    FindWindow $0 "#32770" "${DIALOG_CAPTION}"
    ${If} $0 == 0
        Return
    ${EndIf}
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

Section "${APP} (required)" SecProgram
    SectionIn RO
    Call CloseRunning
    SetOutPath "$INSTDIR"
    File "/oname=quorvane.exe" "${EXE}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; Shortcuts take the output path as their working directory.
    CreateDirectory "$APPDATA\Quorvane"
    SetOutPath "$APPDATA\Quorvane"
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

Section "Uninstall"
    Call un.CloseRunning
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$SMSTARTUP\${APP}.lnk"
    Delete "$INSTDIR\quorvane.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The user's server list is theirs: asked for, and kept when nobody can be asked.
    ${If} ${FileExists} "$APPDATA\Quorvane\Quorvane.Lst"
        MessageBox MB_YESNO|MB_ICONQUESTION "Remove your server list too?$\r$\n$\r$\n$APPDATA\Quorvane\Quorvane.Lst" /SD IDNO IDNO keep
        Delete "$APPDATA\Quorvane\Quorvane.Lst"
        keep:
    ${EndIf}
    RMDir "$APPDATA\Quorvane"
SectionEnd
