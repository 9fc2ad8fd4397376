; Quarnel's installer, in one of two modes chosen on its first page (or with
; /CURRENTUSER or /ALLUSERS beside /S). With a copy installed, its mode is the
; default: an upgrade keeps it. A first install's default is for me only,
; unless the Visual Basic IDE is set to start as administrator on this computer
; (its compatibility settings, or a shortcut to it marked "Run as
; administrator", with UAC on): Windows does not show a user's own classes to
; such an IDE, so the default is then for everyone. Either way the page says
; what it found, and a choice of for me only for such an IDE is warned of. A
; silent run with no mode takes the same default.
; - for me only (no administrator): Quarnel.dll and a read-me in the
;   user's own programs folder, the add-in registered for this user through the
;   DLL itself (regsvr32 /n /i:user), listed in this user's Add/Remove Programs;
;   The installer runs as the user who starts it, with no elevation prompt.
; - for everyone on this computer (an administrator): the 32-bit Program Files
;   folder, the class and type library registered for the machine (regsvr32
;   /n /i:machine), the IDE's add-in entry, which the IDE reads per user,
;   written for this user at once and for every other user at their next logon
;   through Windows' Active Setup (regsvr32 /n /i:addin), listed in Add/Remove
;   Programs for all users.
;   A copy installed for this user alone would hide it from the IDE: it is
;   removed once the machine's is in place (its Quarnel.ini with it: the Default
;   folder is personal, and a copy in the shared folder would be every other
;   user's; the user's DisplayOnConnect and LoadBehavior stay). Chosen by a user
;   who is not elevated, the installer starts itself again elevated (Windows
;   asks, on Windows XP with its "Run as" dialog) with /ALLUSERS /ELEVATED and
;   waits for it. That copy may run as another account, an administrator whose
;   HKCU is not the user's, and whose password may be the one that starts the
;   IDE: it does the machine's part and writes that account's add-in entry, so
;   an IDE started as that account lists and loads Quarnel at once; it leaves
;   everything else of that account's (its own copy, its Quarnel.ini) as it is.
;   What is the user's (their own copy, their add-in entry) is done by the copy
;   running as the user, after the elevated one succeeded. An administrator's
;   run (Windows XP, or an elevated prompt) does both at once.
; The add-in entry is written anew at each install and upgrade, except a
; LoadBehavior already there (the one chosen in the IDE's Add-In Manager), which
; stays (regsvr32 /n /i:addin).
; Uninstalling for everyone leaves an Active Setup entry whose command removes
; each other user's add-in entry at their next logon (unless they have a copy of
; their own), and removes the uninstalling user's Quarnel.ini from Windows' file
; virtualisation store; uninstalling for me only, beside an installation for everyone,
; writes the user's add-in entry again for that one. The uninstaller of the
; machine's copy, started by a user who is not elevated, works the same way; its
; elevated copy removes its own account's add-in entry as that command would.
; Nothing changes while the DLL to be replaced or removed is loaded (the IDE
; runs): the user is asked to close it (Retry or Cancel); a silent run fails.
; Installing over an installed version replaces it in place. A copy for
; everyone installed by the Windows Installer package (msi/Quarnel.wxs, found by
; its upgrade code) is the machine's one copy too: it is the default mode's, and
; for everyone over it (given, by default in a silent run, or chosen on the
; first page) says so and changes nothing (exit status 6); the package is
; upgraded and removed with msiexec. What both write alike is in
; for_everyone.nsh. Built by CMake with makensis, which defines VERSION
; (1.1.0.0), VERSION_TEXT (1.01), DLL, README and OUTFILE (and SIGN for a signed
; release).
Unicode true
SetCompressor /SOLID lzma
; Rights are asked for only when "for everyone" is chosen (see Elevate).
RequestExecutionLevel user

!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include nsDialogs.nsh
!include WinVer.nsh
!include x64.nsh

; The keys, Active Setup's entry and commands, and the Windows Installer
; package's upgrade code, as the package has them too.
!include "${__FILEDIR__}/for_everyone.nsh"
!define REGSVR32 '"$SYSDIR\regsvr32.exe" /s'
; Where VB6's setup says it put the IDE (ProductDir\VB6.EXE), where Windows
; keeps a program's compatibility settings (value: the program's path), and
; whether UAC is on (EnableLUA).
!define VB6_SETUP_KEY "Software\Microsoft\VisualStudio\6.0\Setup\Microsoft Visual Basic"
!define LAYERS_KEY "Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers"
!define UAC_KEY "Software\Microsoft\Windows\CurrentVersion\Policies\System"

; Exit codes of a run that changed nothing.
!define EXIT_IN_USE 4
!define EXIT_NOT_ADMIN 5
!define EXIT_PACKAGE_COPY 6

Var AllUsers  ; 1: for everyone on this computer
Var ModeGiven ; 1: /ALLUSERS or /CURRENTUSER on the command line
Var IsAdmin
Var Elevated  ; 1: started elevated by a user's copy (/ELEVATED): of this account's own, the add-in entry only
Var LoadChoice ; the user's LoadBehavior, kept across their entry's rewriting
Var ModeUser
Var ModeAll
Var IdePaths    ; "|" and each VB6.EXE found, followed by "|"
Var IdeElevated ; what sets the IDE to run as administrator, in the page's words; "" for nothing
Var AccountType ; the account's own type, elevated or not ("Admin" for an administrator)
Var Where       ; the folder searched for shortcuts, in the page's words

; A release signs the uninstaller as it is made, and the installer last
; (scripts/package.sh defines SIGN, a command for the file "%1"); a signing that
; fails fails the build.
!ifdef SIGN
  !uninstfinalize `${SIGN}` = 0
  !finalize `${SIGN}` = 0
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

; Runs this program again elevated ("runas": Windows asks for the rights, or
; for another account's password) with the arguments on the stack, and waits
; for it. $0: its exit code, or "" when it did not start (refused).
!macro RUN_ELEVATED_FUNCTION PREFIX
Function ${PREFIX}RunElevated
  Exch $R9
  Push $R8
  Push $R7
  StrCpy $0 ""
  ; SHELLEXECUTEINFO, with SEE_MASK_NOCLOSEPROCESS (0x40): the process's handle comes back.
  System::Call '*(&l4, i 0x40, p $HWNDPARENT, t "runas", t "$EXEPATH", t R9, p 0, i 1, p, p, p, p, i, p, p) p .R8'
  System::Call 'shell32::ShellExecuteExW(p R8) i .R7'
  ${If} $R7 != 0
    System::Call '*$R8(i, i, p, p, p, p, p, i, p, p, p, p, i, p, p .R7)'
    HideWindow
    System::Call 'kernel32::WaitForSingleObject(p R7, i -1)'
    System::Call 'kernel32::GetExitCodeProcess(p R7, *i .r0)'
    System::Call 'kernel32::CloseHandle(p R7)'
  ${EndIf}
  System::Free $R8
  Pop $R7
  Pop $R8
  Pop $R9
FunctionEnd
!macroend
!insertmacro RUN_ELEVATED_FUNCTION ""
!insertmacro RUN_ELEVATED_FUNCTION "un."

; The user's LoadBehavior (the Add-In Manager's choice) into $LoadChoice, and
; back onto their add-in entry where it is written again.
!macro SAVE_LOAD_CHOICE
  ReadRegDWORD $LoadChoice HKCU "${ADDIN_KEY}" "LoadBehavior"
!macroend
!macro RESTORE_LOAD_CHOICE
  ReadRegStr $R9 HKCU "${ADDIN_KEY}" "FriendlyName"
  ${If} $LoadChoice != ""
  ${AndIf} $R9 != ""
    WriteRegDWORD HKCU "${ADDIN_KEY}" "LoadBehavior" $LoadChoice
  ${EndIf}
!macroend

; The long form of the path on the stack, as Windows names a program it runs
; (each short 8.3 name in it replaced by its long one); the path as it is where
; it does not exist. Two paths name one file when their long forms are the
; same, case aside (as StrCmp and WordFind compare).
Function LongPath
  Exch $R9
  Push $R8
  Push $R7
  System::Call 'kernel32::GetLongPathNameW(w R9, w .R8, i ${NSIS_MAX_STRLEN}) i .R7'
  ${If} $R7 > 0
  ${AndIf} $R7 < ${NSIS_MAX_STRLEN}
    StrCpy $R9 $R8
  ${EndIf}
  Pop $R7
  Pop $R8
  Exch $R9
FunctionEnd

; How the Visual Basic IDE starts on this computer: $IdeElevated names what
; sets it to run as administrator, or is "". Without UAC (Windows XP, or UAC
; turned off) nothing runs elevated in that sense: an administrator's IDE then
; sees the user's own classes, and a copy for me only loads.
Function FindHowTheIdeStarts
  StrCpy $IdeElevated ""
  StrCpy $IdePaths "|"
  ${IfNot} ${AtLeastWinVista}
    Return
  ${EndIf}
  ; 64-bit Windows reads its policies, and the machine's compatibility
  ; settings, in its own (64-bit) view; VB6's setup, a 32-bit program, writes
  ; the 32-bit one, but either may hold it.
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ReadRegDWORD $0 HKLM "${UAC_KEY}" "EnableLUA"
  ReadRegStr $R0 HKLM "${VB6_SETUP_KEY}" "ProductDir"
  SetRegView 32
  ReadRegStr $R1 HKLM "${VB6_SETUP_KEY}" "ProductDir"
  SetRegView default
  ${If} $0 == "0"
    Return
  ${EndIf}
  UserInfo::GetOriginalAccountType
  Pop $AccountType
  Push $R0
  Call CheckIde
  Push $R1
  Call CheckIde
  ${If} $IdePaths == "|"
  ${OrIf} $IdeElevated != ""
    Return
  ${EndIf}
  ; A shortcut to it marked "Run as administrator": in the user's Start menu,
  ; the taskbar's and Start's pins (below Quick Launch, which is $TEMP where
  ; there is none), on the desktop (its own shortcuts only: a desktop may hold
  ; whole project folders), and all users' Start menu and desktop.
  StrCpy $Where "in your Start menu"
  ${Locate} "$STARTMENU" "/L=F /M=*.lnk" CheckShortcut
  ${If} $QUICKLAUNCH != $TEMP
    StrCpy $Where "on your taskbar"
    ${Locate} "$QUICKLAUNCH" "/L=F /M=*.lnk" CheckShortcut
  ${EndIf}
  StrCpy $Where "on your desktop"
  ${Locate} "$DESKTOP" "/L=F /M=*.lnk /G=0" CheckShortcut
  SetShellVarContext all
  StrCpy $Where "in the Start menu for all users"
  ${Locate} "$STARTMENU" "/L=F /M=*.lnk" CheckShortcut
  StrCpy $Where "on the desktop for all users"
  ${Locate} "$DESKTOP" "/L=F /M=*.lnk /G=0" CheckShortcut
  SetShellVarContext current
FunctionEnd

; The compatibility settings of the IDE below the folder on the stack (VB6's
; ProductDir): a value named by VB6.EXE's path (its long form, as Windows names
; it) whose words include RUNASADMIN ("~ RUNASADMIN", "RUNASADMIN WINXPSP3"),
; the user's or the machine's. RUNASHIGHEST ("the highest rights the account
; has") elevates an administrator's IDE; a standard user's it runs as they
; are, where a copy for me only loads.
!macro RUNS_AS_ADMIN DATA WHAT
  StrCpy $3 0
  ClearErrors
  ${WordFind} " ${DATA} " " RUNASADMIN " "E*" $2
  ${IfNot} ${Errors}
    StrCpy $3 1
  ${EndIf}
  ${If} $AccountType == "Admin"
    ClearErrors
    ${WordFind} " ${DATA} " " RUNASHIGHEST " "E*" $2
    ${IfNot} ${Errors}
      StrCpy $3 1
    ${EndIf}
  ${EndIf}
  ${If} $3 == 1
  ${AndIf} $IdeElevated == ""
    StrCpy $IdeElevated "${WHAT}"
  ${EndIf}
!macroend
Function CheckIde
  Exch $R9
  StrCpy $0 $R9 1 -1
  ${If} $0 == "\"
    StrCpy $R9 $R9 -1
  ${EndIf}
  ${If} $R9 != ""
  ${AndIf} ${FileExists} "$R9\VB6.EXE"
    Push "$R9\VB6.EXE"
    Call LongPath
    Pop $R9
    ClearErrors
    ${WordFind} $IdePaths "|$R9|" "E*" $0
    ${If} ${Errors}  ; not found yet, by the other view
      StrCpy $IdePaths "$IdePaths$R9|"
      ReadRegStr $1 HKCU "${LAYERS_KEY}" $R9
      !insertmacro RUNS_AS_ADMIN $1 "in its compatibility settings"
      ${If} ${RunningX64}
        SetRegView 64
      ${EndIf}
      ReadRegStr $1 HKLM "${LAYERS_KEY}" $R9
      SetRegView default
      !insertmacro RUNS_AS_ADMIN $1 "in its compatibility settings for all users"
    ${EndIf}
  ${EndIf}
  Pop $R9
FunctionEnd

; A shortcut found by Locate ($R9, its name $R7): marked "Run as administrator"
; (the link's flag SLDF_RUNAS_USER, 0x2000, in its header: the byte at 0x15 of
; a file that begins with the header's size, 0x4C) and pointing at the IDE.
Function CheckShortcut
  ${If} $IdeElevated != ""
    Push StopLocate
    Return
  ${EndIf}
  ClearErrors
  FileOpen $R0 $R9 r
  ${IfNot} ${Errors}
    FileReadByte $R0 $R1
    FileSeek $R0 21
    FileReadByte $R0 $R2
    FileClose $R0
    IntOp $R2 $R2 & 0x20
    ${If} $R1 == 76
    ${AndIf} $R2 != 0
      ; Its target, from the shell's own reading (IShellLinkW, IPersistFile).
      StrCpy $R3 ""
      System::Call "ole32::CoCreateInstance(g '{00021401-0000-0000-C000-000000000046}', p 0, i 1, \
        g '{000214F9-0000-0000-C000-000000000046}', *p .R4) i .R0"
      ${If} $R0 == 0
        System::Call "$R4->0(g '{0000010B-0000-0000-C000-000000000046}', *p .R5) i .R0"
        ${If} $R0 == 0
          System::Call "$R5->5(w R9, i 0) i .R0"
          ${If} $R0 == 0
            System::Call "$R4->3(w .R3, i ${NSIS_MAX_STRLEN}, p 0, i 0)"
          ${EndIf}
          System::Call "$R5->2()"
        ${EndIf}
        System::Call "$R4->2()"
      ${EndIf}
      ; Stored as it was given: perhaps by its short 8.3 name.
      Push $R3
      Call LongPath
      Pop $R3
      ClearErrors
      ${WordFind} $IdePaths "|$R3|" "E*" $R0
      ${If} $R3 != ""
      ${AndIfNot} ${Errors}
        StrCpy $IdeElevated $R7 -4
        StrCpy $IdeElevated 'by its shortcut "$IdeElevated" $Where'
        Push StopLocate
        Return
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Push ""
FunctionEnd

Function .onInit
  !insertmacro FIND_ADMIN
  StrCpy $AllUsers 0
  StrCpy $ModeGiven 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
    StrCpy $ModeGiven 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CURRENTUSER" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
    StrCpy $ModeGiven 1
  ${EndIf}
  StrCpy $Elevated 0
  ClearErrors
  ${GetOptions} $R0 "/ELEVATED" $R1
  ${IfNot} ${Errors}
    StrCpy $Elevated 1
  ${EndIf}
  ; With no mode given, an installed copy's mode is the default (the first
  ; page's, and a silent run's): an upgrade changes nothing the user did not
  ; ask for. Only a first install follows the way the IDE starts, which the
  ; page tells either way. Where both copies are installed, the user's own is
  ; the default: it is the one their IDE loads when run normally, upgrading it
  ; needs no rights and removes nothing, and the copy for everyone is an
  ; administrator's to upgrade (/ALLUSERS, or the page's other choice).
  ${If} $ModeGiven == 0
    Call FindHowTheIdeStarts
    Call FindPackageCopy
    StrCpy $1 $0
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == ""
      ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $1 != ""
    ${OrIf} $IdeElevated != ""
      StrCpy $AllUsers 1
    ${EndIf}
    ${If} $0 != ""
      StrCpy $AllUsers 0
    ${EndIf}
  ${EndIf}
  ; For everyone over the package's copy: a mode given, or a silent run's
  ; default, ends here; the page's default, when the page is left.
  ${If} $AllUsers == 1
    ${If} $ModeGiven == 1
    ${OrIf} ${Silent}
      Call RefusePackageCopy
    ${EndIf}
  ${EndIf}
  ; For everyone without the rights: a mode given, or a silent run's default,
  ; is asked for now; the page's default, when the page is left.
  ${If} $AllUsers == 1
  ${AndIf} $IsAdmin != 1
    ${If} $ModeGiven == 1
    ${OrIf} ${Silent}
      Call Elevate
      MessageBox MB_OK|MB_ICONSTOP "Installing Quarnel for all users needs an administrator." /SD IDOK
      SetErrorLevel ${EXIT_NOT_ADMIN}
      Quit
    ${EndIf}
  ${EndIf}
  Call ApplyMode
FunctionEnd

; The Windows Installer package's copy for everyone: $0 is its product code,
; or "" when it is not installed.
Function FindPackageCopy
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r0) i .r1'
  ${If} $1 != 0
    StrCpy $0 ""
  ${EndIf}
FunctionEnd

; For everyone, over the package's copy: one copy for the machine, upgraded
; and removed the package's way, not registered twice. Says so and ends the
; run (EXIT_PACKAGE_COPY); returns where there is none.
Function RefusePackageCopy
  Call FindPackageCopy
  ${If} $0 != ""
    MessageBox MB_OK|MB_ICONSTOP "Quarnel is already installed for everyone on this computer by its Windows Installer package (product code $0): nothing was changed.$\r$\n$\r$\nUpgrade it with the newer package (msiexec /i Quarnel-<version>.msi), or remove it in Add/Remove Programs first (msiexec /x $0)." /SD IDOK
    SetErrorLevel ${EXIT_PACKAGE_COPY}
    Quit
  ${EndIf}
FunctionEnd

; For everyone, chosen by a user whose rights are not elevated: the installer
; starts again elevated with /ALLUSERS /ELEVATED (Windows asks for the rights,
; or for an administrator's password), which does the machine's part; when that
; is in place, this copy does the user's, and ends with the elevated copy's exit
; status (or its own failure's). The machine's part is in place when the
; elevated copy succeeded, or when it failed only at its own account's add-in
; entry (status 2, the machine's class registered for the installed DLL): the
; user's entry does not depend on that account's. It
; returns when that was refused, and at once in a silent run, which asks
; nobody, or in the elevated copy itself (run as a user who is no
; administrator): nothing has changed.
Function Elevate
  ${If} ${Silent}
  ${OrIf} $Elevated == 1
    Return
  ${EndIf}
  ; The user's own copy goes afterwards: the IDE must not hold it.
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
    Push "$1\Quarnel.dll"
    Call WaitUntilFree
  ${EndIf}
  Push "/ALLUSERS /ELEVATED"
  Call RunElevated
  ${If} $0 == ""
    Return
  ${EndIf}
  ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ; The machine's class, as regsvr32 /n /i:machine wrote it (the key a user's
  ; class has, below HKLM).
  ReadRegStr $1 HKLM "${USER_CLASS_KEY}" ""
  StrCpy $2 0
  ${If} $0 == 0
    StrCpy $2 1
  ${ElseIf} $0 == 2
  ${AndIf} $1 == "$INSTDIR\Quarnel.dll"
    StrCpy $2 1
  ${EndIf}
  ${If} $INSTDIR != ""
  ${AndIf} $2 == 1
    Push $0
    Call UserPart
    Pop $0
  ${EndIf}
  ${If} $0 != 0
    SetErrorLevel $0
  ${EndIf}
  Quit
FunctionEnd

; The account's part of an installation for everyone, once the machine's copy
; is in $INSTDIR: its add-in entry is written (keeping its LoadBehavior), so
; that its IDE lists and loads Quarnel at once. As the user who started the
; installer, their own copy goes too: it would hide the machine's from their
; IDE (their Default folder's file is kept out of the shared folder, their
; DisplayOnConnect and their LoadBehavior stay). The elevated copy does the
; entry alone, for its own account: that may be another's, an administrator
; whose password starts the IDE, whose own copy and files are theirs.
Function UserPart
  !insertmacro SAVE_LOAD_CHOICE
  ReadRegStr $R1 HKCU "Software\VB and VBA Program Settings\Quarnel\Settings" "DisplayOnConnect"
  StrCpy $1 ""
  ${If} $Elevated != 1
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $1 != ""
    Push "$1\Quarnel.dll"
    Call WaitUntilFree
    DetailPrint "Removing Quarnel installed for you only ($1): it would hide the installation for all users."
    DetailPrint "Your Default folder is not carried over: the first use asks for it again."
    ExecWait '"$1\Uninstall.exe" /S _?=$1'
    Delete "$1\Uninstall.exe"
    RMDir "$1"
  ${EndIf}
  ExecWait '${REGSVR32} /n /i:addin "$INSTDIR\Quarnel.dll"' $0
  ${If} $0 != "0"
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "The Visual Basic IDE's entry for Quarnel could not be written (regsvr32 said $0)." /SD IDOK
    Return
  ${EndIf}
  !insertmacro RESTORE_LOAD_CHOICE
  ${If} $R1 != ""
    WriteRegStr HKCU "Software\VB and VBA Program Settings\Quarnel\Settings" "DisplayOnConnect" $R1
  ${EndIf}
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
  ; A mode given on the command line (as when started again elevated) is not asked for.
  ${If} $ModeGiven == 1
    Abort
  ${EndIf}
  nsDialogs::Create 1018
  Pop $0
  ${If} $IdeElevated == ""
    StrCpy $0 "If you run the Visual Basic 6.0 IDE as administrator, choose everyone on this computer."
  ${Else}
    StrCpy $0 "Your Visual Basic 6.0 IDE is set to run as administrator ($IdeElevated), so it can load Quarnel only if Quarnel is installed for everyone on this computer."
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 40u "Install Quarnel for whom?$\r$\n$0"
  Pop $0
  ${NSD_CreateRadioButton} 10u 46u 100% 12u "For &me only (no administrator needed)"
  Pop $ModeUser
  ${NSD_CreateRadioButton} 10u 62u 100% 12u "For &everyone on this computer (needs an administrator)"
  Pop $ModeAll
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
  ${If} $0 != ${BST_CHECKED}
  ${AndIf} $IdeElevated != ""
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
      "Your Visual Basic 6.0 IDE is set to run as administrator ($IdeElevated). Started that way, it will not load a copy of Quarnel installed for you only: it will say that Quarnel could not be loaded.$\r$\n$\r$\nInstall for you only anyway?" \
      IDYES +2
    Abort
  ${EndIf}
  ${If} $0 == ${BST_CHECKED}
    Call FindPackageCopy
    ${If} $0 != ""
      MessageBox MB_OK|MB_ICONEXCLAMATION "Quarnel is already installed for everyone on this computer by its Windows Installer package (product code $0). Upgrade or remove it with that package (msiexec), or install Quarnel for you only."
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
    ${If} $IsAdmin != 1
      Call Elevate
      ; Refused: the page stays, for the other choice.
      MessageBox MB_OK|MB_ICONEXCLAMATION "Installing Quarnel for all users needs an administrator's rights."
      StrCpy $AllUsers 0
      Abort
    ${EndIf}
  ${EndIf}
  Call ApplyMode
FunctionEnd

; The next version of the Active Setup entry, in $0: higher than the one there
; (or than any an earlier installer wrote), so that each user's logon runs its
; command again. Active Setup compares "a,b,c,d" field by field.
!macro NEXT_ACTIVE_SETUP_VERSION_FUNCTION PREFIX
Function ${PREFIX}NextActiveSetupVersion
  ReadRegStr $0 HKLM "${ACTIVE_SETUP_KEY}" "Version"
  ${WordFind} "$0" "," "+1" $0
  IntOp $0 $0 + 1
  ${If} $0 < 2
    StrCpy $0 2
  ${EndIf}
  StrCpy $0 "$0,0,0,0"
FunctionEnd
!macroend
!insertmacro NEXT_ACTIVE_SETUP_VERSION_FUNCTION ""
!insertmacro NEXT_ACTIVE_SETUP_VERSION_FUNCTION "un."

Section "Quarnel"
  Push "$INSTDIR\Quarnel.dll"
  Call WaitUntilFree
  ${If} $AllUsers == 1
  ${AndIf} $Elevated != 1
    ; This user's own copy goes after the machine's is in place (UserPart):
    ; nothing changes while the IDE holds either.
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 != ""
      Push "$1\Quarnel.dll"
      Call WaitUntilFree
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR"
  ; The installed version lets go of its registration before its DLL is replaced
  ; (the machine's part only: the user's add-in entry stays, with their choices).
  !insertmacro SAVE_LOAD_CHOICE
  ${If} ${FileExists} "$INSTDIR\Quarnel.dll"
    ${If} $AllUsers == 1
      ExecWait '${REGSVR32} /u /n /i:machine "$INSTDIR\Quarnel.dll"'
    ${Else}
      ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
    ${EndIf}
  ${EndIf}
  File "/oname=Quarnel.dll" "${DLL}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} $AllUsers == 1
    ExecWait '${REGSVR32} /n /i:machine "$INSTDIR\Quarnel.dll"' $0
  ${Else}
    ExecWait '${REGSVR32} /n /i:user "$INSTDIR\Quarnel.dll"' $0
    !insertmacro RESTORE_LOAD_CHOICE
  ${EndIf}
  ${If} $0 != "0"
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "Quarnel.dll could not be registered (regsvr32 said $0)." /SD IDOK
    Abort
  ${EndIf}
  ${If} $AllUsers == 1
    ; Every other user gets the IDE's add-in entry at their next logon.
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "${ACTIVE_SETUP_NAME}"
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '${ACTIVE_SETUP_COMMAND}'
    Call NextActiveSetupVersion
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" "$0"
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
  ${If} $AllUsers == 1
    Call UserPart
  ${EndIf}
SectionEnd

; The uninstaller's mode is where it stands: the folder of the machine's entry,
; or the user's.
Function un.onInit
  !insertmacro FIND_ADMIN
  StrCpy $AllUsers 0
  StrCpy $Elevated 0
  StrCpy $LoadChoice ""
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ELEVATED" $R1
  ${IfNot} ${Errors}
    StrCpy $Elevated 1
  ${EndIf}
  SetShellVarContext current
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 == $INSTDIR
    StrCpy $AllUsers 1
    SetShellVarContext all
    ${If} $IsAdmin != 1
      ; Started again elevated, in place (as the uninstaller runs itself), for
      ; the machine's part; this copy, the user's, then does the user's part.
      ${IfNot} ${Silent}
      ${AndIf} $Elevated != 1
        Push "/ELEVATED _?=$INSTDIR"
        Call un.RunElevated
        ${If} $0 != ""
          ${If} $0 == 0
            Call un.UserPart
          ${EndIf}
          SetErrorLevel $0
          Quit
        ${EndIf}
      ${EndIf}
      MessageBox MB_OK|MB_ICONSTOP "Quarnel is installed for all users: removing it needs an administrator." /SD IDOK
      SetErrorLevel ${EXIT_NOT_ADMIN}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; This account's own class, after the machine's is gone: $2 is its DLL (a copy
; installed for the account alone, or registered by hand), or "". Read as the
; command that removes other users' entries at their logon reads it: in either
; place a user's class can be (64-bit Windows 7 and later keep a 32-bit
; program's below Wow6432Node), named as a 64-bit program names them.
Function un.OwnClass
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ReadRegStr $2 HKCU "${USER_CLASS_KEY}" ""
  ${If} $2 == ""
    ReadRegStr $2 HKCU "${USER_CLASS_KEY_WOW}" ""
  ${EndIf}
  SetRegView default
FunctionEnd

; The account's add-in entry, and the keys above it that held only it.
Function un.RemoveEntry
  DeleteRegKey HKCU "${ADDIN_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Visual Basic\6.0\Addins"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Visual Basic\6.0"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Visual Basic"
FunctionEnd

; The user's part of an uninstallation, as the user who started it, after the
; machine's or their own copy is gone: the copy that stays, if any (their own,
; installed or registered by hand, or the machine's), keeps their add-in entry
; (and their settings); else the entry and the add-in's setting (the
; DisplayOnConnect value) go.
Function un.UserPart
  StrCpy $2 ""
  ${If} $AllUsers == 1
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    Call un.OwnClass
  ${Else}
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $1 != ""
  ${AndIf} ${FileExists} "$1\Quarnel.dll"
    ExecWait '${REGSVR32} /n /i:addin "$1\Quarnel.dll"'
    !insertmacro RESTORE_LOAD_CHOICE
    DetailPrint "Quarnel stays in your Visual Basic IDE: it is still installed in $1."
  ${ElseIf} $2 != ""
    DetailPrint "Quarnel stays in your Visual Basic IDE: you registered it yourself ($2)."
  ${Else}
    Call un.RemoveEntry
    DeleteRegKey HKCU "Software\VB and VBA Program Settings\Quarnel"
    DeleteRegKey /ifempty HKCU "Software\VB and VBA Program Settings"
  ${EndIf}
  ${If} $AllUsers == 1
    ; The IDE of a user who is not elevated wrote their Quarnel.ini into
    ; Windows' file virtualisation store, not beside the machine's DLL.
    SetShellVarContext current
    StrCpy $2 $INSTDIR "" 3  ; the folder without its drive ("C:\")
    Delete "$LOCALAPPDATA\VirtualStore\$2\Quarnel.ini"
    RMDir "$LOCALAPPDATA\VirtualStore\$2"
    SetShellVarContext all
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Push "$INSTDIR\Quarnel.dll"
  Call un.WaitUntilFree
  ${If} $AllUsers == 1
    ; The machine's part only: the user's add-in entry is the user's part.
    ExecWait '${REGSVR32} /u /n /i:machine "$INSTDIR\Quarnel.dll"'
    ; Every other user's add-in entry goes at their next logon, where they have
    ; no copy of their own (for_everyone.nsh says how it tells). The entry stays,
    ; to do so for users who have not logged on yet, until Quarnel is installed
    ; for everyone again.
    Call un.NextActiveSetupVersion
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "" "${ACTIVE_SETUP_REMOVED_NAME}"
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "StubPath" '${ACTIVE_SETUP_REMOVAL}'
    WriteRegStr HKLM "${ACTIVE_SETUP_KEY}" "Version" "$0"
    WriteRegDWORD HKLM "${ACTIVE_SETUP_KEY}" "IsInstalled" 1
  ${Else}
    !insertmacro SAVE_LOAD_CHOICE
    ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
  ${EndIf}
  Delete "$INSTDIR\Quarnel.dll"
  Delete "$INSTDIR\README.txt"
  ; This copy's Default folder, in Quarnel.ini beside the DLL, goes with it.
  Delete "$INSTDIR\Quarnel.ini"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $AllUsers != 1
    RMDir "$LOCALAPPDATA\Programs"
  ${EndIf}
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${If} $AllUsers == 1
  ${AndIf} $Elevated == 1
    ; Started elevated by the user's copy, which does the user's part itself.
    ; This account may be another, whose password starts the IDE: its entry
    ; goes as at another user's logon, unless it has a copy of its own
    ; (installed, or registered by hand); nothing else of its own changes.
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    Call un.OwnClass
    ${If} $1 == ""
    ${AndIf} $2 == ""
      Call un.RemoveEntry
    ${EndIf}
  ${Else}
    Call un.UserPart
  ${EndIf}
SectionEnd
