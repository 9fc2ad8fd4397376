; Test data: the installer's script as released in 1.00 (for the current user
; only), kept as it was below this comment; the install test builds it and
; upgrades from it to today's installer.
; Quarnel's installer: for the current user only, with no administrator. It
; puts Quarnel.dll and a read-me into the user's own programs folder, registers
; the add-in for this user through the DLL itself (regsvr32 /n /i:user), and is
; listed in Add/Remove Programs. Installing over an installed version replaces
; it in place. Built by CMake with makensis, which defines VERSION (1.1.0.0),
; VERSION_TEXT (1.01), DLL, README and OUTFILE.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel"
!define REGSVR32 '"$SYSDIR\regsvr32.exe" /s'

Name "Quarnel ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quarnel"
; An installed version's folder, so that a newer one goes where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Quarnel"
VIAddVersionKey "CompanyName" "The Quarnel developers"
VIAddVersionKey "FileDescription" "Quarnel ${VERSION_TEXT} setup (VB6 add-in)"
VIAddVersionKey "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey "ProductVersion" "${VERSION_TEXT}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 The Quarnel developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quarnel"
  SetOutPath "$INSTDIR"
  ; The installed version lets go of its registration before its DLL is replaced.
  IfFileExists "$INSTDIR\Quarnel.dll" 0 +2
    ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
  File "/oname=Quarnel.dll" "${DLL}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ExecWait '${REGSVR32} /n /i:user "$INSTDIR\Quarnel.dll"' $0
  StrCmp $0 "0" registered
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONSTOP "Quarnel.dll could not be registered for this user (regsvr32 said $0)." /SD IDOK
    Abort
  registered:
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quarnel (Visual Basic 6.0 add-in)"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Quarnel developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quarnel.dll"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" 300
SectionEnd

Section "Uninstall"
  ExecWait '${REGSVR32} /u /n /i:user "$INSTDIR\Quarnel.dll"'
  Delete "$INSTDIR\Quarnel.dll"
  Delete "$INSTDIR\README.txt"
  ; The add-in's own settings go with it: the Default folder in Quarnel.ini
  ; beside the DLL and the DisplayOnConnect value.
  Delete "$INSTDIR\Quarnel.ini"
  DeleteRegKey HKCU "Software\VB and VBA Program Settings\Quarnel"
  DeleteRegKey /ifempty HKCU "Software\VB and VBA Program Settings"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
