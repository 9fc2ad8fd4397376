; What a copy of Quarnel for everyone on this computer writes alike, whether the
; setup program (Quarnel.nsi) or the Windows Installer package (msi/Quarnel.wxs)
; installs it: Active Setup's entry and its two commands, and the package's
; upgrade code, by which the setup program finds the package's copy. The
; package's build reads this file (msi/make_msi.py): one !define a line, its
; value in quotes, naming only $SYSDIR (the 32-bit system folder), $INSTDIR
; (the installed folder) and the defines above it.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarnel"
!define ADDIN_KEY "Software\Microsoft\Visual Basic\6.0\Addins\Quarnel.Connect"
; A user's own class (a copy registered for them alone), in 32- and 64-bit words.
!define USER_CLASS_KEY "Software\Classes\CLSID\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}\InprocServer32"
!define USER_CLASS_KEY_WOW "Software\Classes\Wow6432Node\CLSID\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}\InprocServer32"

!define ACTIVE_SETUP_KEY "Software\Microsoft\Active Setup\Installed Components\{B49DBFBD-ABE8-493A-A11E-D4D2D38DD7A6}"
!define ACTIVE_SETUP_NAME "Quarnel (Visual Basic 6.0 add-in)"
; Each user's add-in entry, at their next logon (its LoadBehavior kept).
!define ACTIVE_SETUP_COMMAND '"$SYSDIR\regsvr32.exe" /s /n /i:addin "$INSTDIR\Quarnel.dll"'
; After an uninstall, each user's add-in entry goes at their next logon, where
; they have no copy of their own: the same entry, a higher version, this
; command. A copy of their own is told by their own Add/Remove Programs entry
; (installed), or by their own class (registered by hand), named in both places
; a user's class can be: 64-bit Windows 7 and later keep a 32-bit program's below
; Wow6432Node, and Explorer, which runs the command, may start the 64-bit cmd
; and reg; a 32-bit reg finds it under the first name. Each "if errorlevel 1"
; holds the rest of the line: the next question is asked only when the last
; found nothing (Wine's cmd runs "||" after a redirection whatever the answer).
!define ACTIVE_SETUP_REMOVED_NAME "Quarnel (Visual Basic 6.0 add-in), removed"
!define ACTIVE_SETUP_REMOVAL '"$SYSDIR\cmd.exe" /c reg query "HKCU\${UNINSTALL_KEY}" /v InstallLocation >nul 2>&1 & if errorlevel 1 reg query "HKCU\${USER_CLASS_KEY}" >nul 2>&1 & if errorlevel 1 reg query "HKCU\${USER_CLASS_KEY_WOW}" >nul 2>&1 & if errorlevel 1 reg delete "HKCU\${ADDIN_KEY}" /f >nul 2>&1'

; The Windows Installer package's: one for every version, each of which has a
; product code of its own.
!define MSI_UPGRADE_CODE "{C60343AD-523C-46CB-8957-D556A5A34A5B}"
