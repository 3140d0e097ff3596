; The Windows installer: per user, no administrator rights, a Start-menu shortcut and, ticked
; by default, one in the user's Startup folder. Every shortcut starts the program in
; %APPDATA%\Quorvane, which is the user's to write, so OK always saves the server list there.
; Installed again over an existing installation (an upgrade), it goes into the same folder and
; keeps the Startup choice that installation has.
; Built by the win32 preset: makensis -DTARGET=x86-unicode -DVERSION=... -DEXE=... -DICON=...
; -DLICENSE=... -DOUTFILE=... -DPLUGINS=...

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
; The plug-in that finds, closes and starts again the installed program's copies.
!addplugindir "/${TARGET}" "${PLUGINS}"

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

; How many copies of the installed program were closed and started again, and what the finish
; page says of it; "installed" or "updated", as the install is.
Var Closed
Var Verb
Var RestartNote
Var FinishNote

!define MUI_WELCOMEPAGE_TITLE "Welcome to ${APP} ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "${APP} keeps your network connections up. It sits in the notification area and, every few seconds, pings the next server of a short list you keep.$\r$\n$\r$\nSetup installs it for you alone, in your own folders: it needs no administrator rights and changes nothing for the other users of this computer.$\r$\n$\r$\nClick Next to continue."
; A permissive licence asks for nothing: it is shown, and Next goes on.
!define MUI_LICENSEPAGE_TEXT_TOP "${APP} is free software, under this licence:"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "You may use, copy and change ${APP} freely; there is nothing to accept. Click Next to continue."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "${APP} itself is always installed. Choose whether it also starts when you log on."
!define MUI_FINISHPAGE_TITLE "${APP} is $Verb"
; The dialog font's lines: the large text box holds seven, the normal one only five.
!define MUI_FINISHPAGE_TEXT_LARGE
; Its second paragraph says where the settings are, or, when Setup closed copies of the
; program, that they run again (their settings are where they were).
!define MUI_FINISHPAGE_TEXT "${APP} runs in the notification area: click its icon to set the delay and the server list.$\r$\n$\r$\n$FinishNote"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${APP} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartNow

!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_HEADER_TEXT "Licence"
!define MUI_PAGE_HEADER_SUBTEXT "The terms under which ${APP} is shared."
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE AskToClose
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The copies of the program that the install replaces are the processes whose image is
; $INSTDIR\quorvane.exe: one per folder it was started in. A portable copy elsewhere, or
; another installation's, is left alone. Each is asked to close as a close request from
; outside does (it ends cleanly, its list already saved), and the folder it ran in is recorded,
; so that it is started there again once the files are in place (or when the install fails).
; One that does not end within 5 s makes the install stop with the files as they were, the
; copies it closed running again, and the user told.
!define RECORD "$PLUGINSDIR\closed.txt"

; "installed" or "updated": an update goes over the installation that is recorded.
Function DecideVerb
    StrCpy $Verb "installed"
    ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
    ${AndIf} ${FileExists} "$INSTDIR\quorvane.exe"
        StrCpy $Verb "updated"
    ${EndIf}
FunctionEnd

; When the folder is chosen, before anything is done: the user is told how many copies will
; be closed, and Cancel stays on the folder page with everything as it was.
Function AskToClose
    qvcopies::Count "$INSTDIR\quorvane.exe"
    Pop $0
    ${If} $0 == 0
        Return
    ${EndIf}
    Call DecideVerb
    ${If} $0 == 1
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION "1 copy of ${APP} is running from $INSTDIR. It will be closed now so that ${APP} can be $Verb, and started again in its folder when Setup is done. Your server list is kept.$\r$\n$\r$\nChoose OK to go on." IDOK +2
        Abort
    ${Else}
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION "$0 copies of ${APP} are running from $INSTDIR. They will be closed now so that ${APP} can be $Verb, and started again, each in its own folder, when Setup is done. Your server lists are kept.$\r$\n$\r$\nChoose OK to go on." IDOK +2
        Abort
    ${EndIf}
FunctionEnd

!macro CLOSE_COPIES un
Function ${un}CloseCopies
    InitPluginsDir
    qvcopies::Close "$INSTDIR\quorvane.exe" "${DIALOG_CAPTION}" "${RECORD}" "$APPDATA\Quorvane"
    Pop $0
    Pop $1
    IntOp $Closed $Closed + $0
    ${If} $1 != 0
        Call ${un}StartClosed
        MessageBox MB_OK|MB_ICONEXCLAMATION "${APP} is still running from $INSTDIR and did not close. Please choose Exit in its dialog (click its icon in the notification area), then try again." /SD IDOK
        Abort
    ${EndIf}
FunctionEnd

; Starts the closed copies again, each in its folder; $0 and $1 are how many were started and
; how many could not be.
Function ${un}StartClosed
    StrCpy $0 0
    StrCpy $1 0
    ${If} $Closed > 0
        qvcopies::Restart "$INSTDIR\quorvane.exe" "${RECORD}"
        Pop $0
        Pop $1
        StrCpy $Closed 0
    ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_COPIES ""
!insertmacro CLOSE_COPIES "un."

; A failed install (a file that could not be written) leaves the old files: the copies it
; closed run again.
Function .onInstFailed
    Call StartClosed
FunctionEnd

Function FinishShow
    ; The copies started again are the user's program running: a new one is not what they want.
    ${If} $RestartNote != ""
        SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ${EndIf}
FunctionEnd

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
    Call DecideVerb
    Call CloseCopies
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

; Last: the copies closed run again, from the new files, and the finish page says so.
Section "-Restart"
    StrCpy $2 $Closed
    Call StartClosed
    StrCpy $RestartNote ""
    ${If} $2 == 1
    ${AndIf} $0 == 1
        StrCpy $RestartNote "The copy of ${APP} that Setup closed is running again, in its folder."
    ${ElseIf} $2 > 0
    ${AndIf} $0 == $2
        StrCpy $RestartNote "The $2 copies of ${APP} that Setup closed are running again, each in its folder."
    ${ElseIf} $2 > 0
        StrCpy $RestartNote "Setup closed $2 copies of ${APP} and could start only $0 of them again."
    ${EndIf}
    StrCpy $FinishNote $RestartNote
    ${If} $FinishNote == ""
        StrCpy $FinishNote "Your settings are kept in $APPDATA\Quorvane\Quorvane.Lst, where the shortcuts start ${APP}."
    ${EndIf}
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
    Call un.CloseCopies
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
