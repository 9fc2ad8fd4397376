; Quarnel's installer, in one of two modes chosen on its first page (or with
; /CURRENTUSER or /ALLUSERS beside /S):
; - for me only (the default; no administrator): Quarnel.dll and a read-me in the
;   user's own programs folder, the add-in registered for this user through the
;   DLL itself (regsvr32 /n /i:user), listed in this user's Add/Remove Programs;
; - for everyone on this computer (an administrator): the 32-bit Program Files
;   folder, the class and type library registered for the machine (regsvr32),
;   the IDE's add-in entry, which the IDE reads per user, written for this user
;   at once and for every other user at their next logon through Windows' Active
;   Setup (regsvr32 /n /i:addin), listed in Add/Remove Programs for all users.
;   A copy installed for this user alone would hide it from the IDE: it is
;   removed first.
; Nothing changes while the DLL to be replaced or removed is loaded (the IDE
; runs): the user is asked to close it (Retry or Cancel); a silent run fails.
; Installing over an installed version replaces it in place. Built by CMake
; with makensis, which defines VERSION (1.1.0.0), VERSION_TEXT (1.01), DLL,
; README and OUTFILE (and SIGN for a signed release).
Unicode true
SetCompressor /SOLID lzma
; An administrator gets the rights that installing for all users needs; any
; other user installs for themselves, with no prompt.
RequestExecutionLevel highest

!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel"
!define ACTIVE_SETUP_KEY "Software\Microsoft\Active Setup\Installed Components\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}"
!define REGSVR32 '"$SYSDIR\regsvr32.exe" /s'
!searchreplace VERSION_COMMAS "${VERSION}" "." ","

; Exit codes of a run that changed nothing.
!define EXIT_IN_USE 4
!define EXIT_NOT_ADMIN 5

Var AllUsers  ; 1: for everyone on this computer
Var IsAdmin
Var ModeUser
Var ModeAll

; A release signs the uninstaller as it is made, and the installer last
; (scripts/package.sh defines SIGN, a command for the file "%1").
!ifdef SIGN
  !uninstfinalize `${SIGN}`
  !finalize `${SIGN}`
!endif

Name "Quarnel ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quarnel"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Quarnel"
VIAddVersionKey "CompanyName" "The Quarnel developers"
VIAddVersionKey "FileDescription" "Quarnel ${VERSION_TEXT} setup (VB6 add-in)"
VIAddVersionKey "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 The Quarnel developers"

Page custom ModePage ModePageLeave
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Whether this run may act for the machine.
!macro FIND_ADMIN
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${EndIf}
!macroend

; Waits until the DLL on the stack is not loaded by any program: nothing may be
; changed while the IDE holds it. Cancel (a silent run's answer) ends the run
; with EXIT_IN_USE.
!macro WAIT_UNTIL_FREE_FUNCTION PREFIX
Function ${PREFIX}WaitUntilFree
  Exch $R9
  ${If} ${FileExists} "$R9"
  retry:
    ClearErrors
    FileOpen $R8 "$R9" a
    ${If} ${Errors}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Quarnel.dll is in use:$\r$\n$R9$\r$\n$\r$\nClose the Visual Basic IDE, then choose Retry." \
        /SD IDCANCEL IDRETRY retry
      SetErrorLevel ${EXIT_IN_USE}
      Quit
    ${EndIf}
    FileClose $R8
  ${EndIf}
  Pop $R9
FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_FREE_FUNCTION ""
!insertmacro WAIT_UNTIL_FREE_FUNCTION "un."

Function .onInit
  !insertmacro FIND_ADMIN
  StrCpy $AllUsers 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CURRENTUSER" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ${If} $AllUsers == 1
  ${AndIf} $IsAdmin != 1
    MessageBox MB_OK|MB_ICONSTOP "Installing Quarnel for all users needs an administrator." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
  Call ApplyMode
FunctionEnd

; The folder and the registry view of the mode chosen: where an installed
; version of that mode is, or its default folder.
Function ApplyMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    StrCpy $INSTDIR "$PROGRAMFILES\Quarnel"
  ${Else}
    SetShellVarContext current
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Quarnel"
  ${EndIf}
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function ModePage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "Install Quarnel for whom?$\r$\nIf you run the Visual Basic 6.0 IDE as administrator, choose everyone on this computer."
  Pop $0
  ${NSD_CreateRadioButton} 10u 36u 100% 12u "For &me only (no administrator needed)"
  Pop $ModeUser
  ${NSD_CreateRadioButton} 10u 52u 100% 12u "For &everyone on this computer (needs an administrator)"
  Pop $ModeAll
  ${If} $IsAdmin != 1
    EnableWindow $ModeAll 0
  ${EndIf}
  ${If} $AllUsers == 1
    ${NSD_Check} $ModeAll
  ${Else}
    ${NSD_Check} $ModeUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModeAll $0
  StrCpy $AllUsers 0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $AllUsers 1
  ${EndIf}
  Call ApplyMode
FunctionEnd

Section "Quarnel"
  Push "$INSTDIR\Quarnel.dll"
  Call WaitUntilFree
  ${If} $AllUsers == 1
    ; This user's own copy would hide the machine's from the IDE: it goes first
    ; (its Default folder is kept).
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 != ""
      Push "$1\Quarnel.dll"
      Call WaitUntilFree
      DetailPrint "Removing Quarnel installed for you only ($1): it would hide the installation for all users."
      CreateDirectory "$INSTDIR"
      ${If} ${FileExists} "$1\Quarnel.ini"
      ${AndIfNot} ${FileExists} "$INSTDIR\Quarnel.ini"
        CopyFiles /SILENT "$1\Quarnel.ini" "$INSTDIR"
      ${EndIf}
      ExecWait '"$1\Uninstall.exe" /S _?=$1'
      Delete "$1\Uninstall.exe"
      RMDir "$1"
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR"
  ; The installed version lets go of its registration before its DLL is replaced.
  ${If} ${FileExists} "$INSTDIR\Quarnel.dll"
    ${If} $AllUsers == 1
      ExecWait '${REGSVR32} /u "$INSTDIR\Quarnel.dll"'
    ${Else}
      ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
    ${EndIf}
  ${EndIf}
  File "/oname=Quarnel.dll" "${DLL}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} $AllUsers == 1
    ExecWait '${REGSVR32} "$INSTDIR\Quarnel.dll"' $0
  ${Else}
    ExecWait '${REGSVR32} /n /i:user "$INSTDIR\Quarnel.dll"' $0
  ${EndIf}
  ${If} $0 != "0"
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "Quarnel.dll could not be registered (regsvr32 said $0)." /SD IDOK
    Abort
  ${EndIf}
  ${If} $AllUsers == 1
    ; Every other user gets the IDE's add-in entry at their next logon.
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "Quarnel (Visual Basic 6.0 add-in)"
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '"$SYSDIR\regsvr32.exe" /s /n /i:addin "$INSTDIR\Quarnel.dll"'
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" "${VERSION_COMMAS}"
    WriteRegDWORD HKLM "${ACTIVE_SETUP_KEY}" "IsInstalled" 1
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quarnel (Visual Basic 6.0 add-in)"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Quarnel developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quarnel.dll"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" 300
SectionEnd

; The uninstaller's mode is where it stands: the folder of the machine's entry,
; or the user's.
Function un.onInit
  !insertmacro FIND_ADMIN
  StrCpy $AllUsers 0
  SetShellVarContext current
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 == $INSTDIR
    StrCpy $AllUsers 1
    SetShellVarContext all
    ${If} $IsAdmin != 1
      MessageBox MB_OK|MB_ICONSTOP "Quarnel is installed for all users: removing it needs an administrator." /SD IDOK
      SetErrorLevel ${EXIT_NOT_ADMIN}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Push "$INSTDIR\Quarnel.dll"
  Call un.WaitUntilFree
  ${If} $AllUsers == 1
    ExecWait '${REGSVR32} /u "$INSTDIR\Quarnel.dll"'
    DeleteRegKey HKLM "${ACTIVE_SETUP_KEY}"
  ${Else}
    ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
  ${EndIf}
  Delete "$INSTDIR\Quarnel.dll"
  Delete "$INSTDIR\README.txt"
  ; The add-in's own settings go with it: the Default folder in Quarnel.ini
  ; beside the DLL and the DisplayOnConnect value.
  Delete "$INSTDIR\Quarnel.ini"
  DeleteRegKey HKCU "Software\VB and VBA Program Settings\Quarnel"
  DeleteRegKey /ifempty HKCU "Software\VB and VBA Program Settings"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $AllUsers != 1
    RMDir "$LOCALAPPDATA\Programs"
  ${EndIf}
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
