/* The custom actions of Quarnel's Windows Installer package (Quarnel.wxs),
   for what its tables cannot say: Active Setup's next version and the entry
   left at uninstall, and the installing account's own part, run as that
   account. Carried in the package (its Binary table), never installed.

   Prepare (immediate): QUARNEL_SYSTEM_DIR, the system folder as a 32-bit
     program names it (what the setup program writes as $SYSDIR), and
     QUARNEL_ACTIVE_SETUP_VERSION, the version after the one Active Setup's
     entry (the key in QUARNEL_ACTIVE_SETUP_KEY) has, so that each user's
     logon runs its command again.
   WriteRemovedEntry (deferred, as the installer's service): its data is
     "KEY|VERSION|NAME|COMMAND": Active Setup's entry, written after the
     package removed its own, whose command removes each user's add-in entry
     at their next logon.
   RunForUser (deferred, as the installing account): runs its data, a command
     line, as Active Setup runs one (no window, no shell) and fails when it
     fails.
   RemoveQuarnelIni (deferred, as the installer's service): its data is the
     installed folder; removes the Quarnel.ini an IDE run as administrator
     wrote there, so that Windows Installer removes the folder.
     RestoreQuarnelIni (its rollback) puts it back where a removal failed;
     ForgetQuarnelIni (its commit) forgets it.
   ForgetVirtualStoreCopy (deferred, as the installing account): its data is
     the installed folder; removes the account's Quarnel.ini from Windows'
     file virtualisation store, where the IDE, run normally, wrote it. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <stdlib.h>
#include <wchar.h>

#define TEXT_SIZE 2048

/* A property (or, in a deferred action, "CustomActionData") into `text`. */
static int Property(MSIHANDLE install, const wchar_t *name, wchar_t *text) {
  DWORD size = TEXT_SIZE;
  return MsiGetPropertyW(install, name, text, &size) == ERROR_SUCCESS;
}

static void Log(MSIHANDLE install, const wchar_t *text) {
  MSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

__declspec(dllexport) UINT WINAPI Prepare(MSIHANDLE install) {
  wchar_t key[TEXT_SIZE], text[MAX_PATH];
  /* GetSystemDirectoryW answers a folder longer than the buffer with the size
     it needs, leaving the buffer as it was: that is a failure too. */
  const UINT length = GetSystemDirectoryW(text, MAX_PATH);
  if (!Property(install, L"QUARNEL_ACTIVE_SETUP_KEY", key) || !key[0] || length == 0 || length >= MAX_PATH ||
      MsiSetPropertyW(install, L"QUARNEL_SYSTEM_DIR", text) != ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  /* Active Setup compares "a,b,c,d" field by field: the first one above the
     entry's (2 at least, above any version an older setup program wrote). */
  unsigned long first = 0;
  HKEY entry;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &entry) == ERROR_SUCCESS) {
    wchar_t version[64] = L"";
    DWORD size = sizeof version - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(entry, L"Version", NULL, &type, (BYTE *)version, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      first = wcstoul(version, NULL, 10);
    }
    RegCloseKey(entry);
  }
  first = first + 1 < 2 ? 2 : first + 1;
  wsprintfW(text, L"%lu,0,0,0", first);
  return MsiSetPropertyW(install, L"QUARNEL_ACTIVE_SETUP_VERSION", text) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                                          : ERROR_INSTALL_FAILURE;
}

/* The next field of "a|b|c" in place: `*rest` moves past it. */
static wchar_t *Field(wchar_t **rest) {
  wchar_t *field = *rest, *bar = wcschr(field, L'|');
  if (bar) {
    *bar = 0;
    *rest = bar + 1;
  } else {
    *rest = field + wcslen(field);
  }
  return field;
}

static LONG SetText(HKEY key, const wchar_t *name, const wchar_t *text) {
  return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
}

__declspec(dllexport) UINT WINAPI WriteRemovedEntry(MSIHANDLE install) {
  wchar_t data[TEXT_SIZE];
  if (!Property(install, L"CustomActionData", data)) return ERROR_INSTALL_FAILURE;
  wchar_t *rest = data;
  const wchar_t *path = Field(&rest), *version = Field(&rest), *name = Field(&rest), *command = rest;
  if (!path[0] || !version[0] || !command[0]) return ERROR_INSTALL_FAILURE;
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL) !=
      ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  const DWORD one = 1;
  const LONG status = SetText(key, NULL, name) | SetText(key, L"StubPath", command) |
                      SetText(key, L"Version", version) |
                      RegSetValueExW(key, L"IsInstalled", 0, REG_DWORD, (const BYTE *)&one, sizeof one);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

__declspec(dllexport) UINT WINAPI RunForUser(MSIHANDLE install) {
  wchar_t command[TEXT_SIZE];
  if (!Property(install, L"CustomActionData", command) || !command[0]) return ERROR_INSTALL_FAILURE;
  Log(install, command);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process)) {
    return ERROR_INSTALL_FAILURE;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

/* The path of Quarnel.ini in `folder`, which ends with a backslash. */
static void IniIn(const wchar_t *folder, wchar_t *path) {
  lstrcpynW(path, folder, TEXT_SIZE);
  lstrcatW(path, L"Quarnel.ini");
}

/* Quarnel.ini in `folder`, which ends with a backslash. */
static void RemoveIni(const wchar_t *folder) {
  wchar_t path[MAX_PATH + TEXT_SIZE];
  IniIn(folder, path);
  DeleteFileW(path);
}

/* Where RemoveQuarnelIni keeps the installed folder's Quarnel.ini until the
   removal is over: the temporary folder of the installer's service, out of
   the folder that Windows Installer removes. */
static int IniKept(wchar_t *path) {
  const DWORD length = GetTempPathW(MAX_PATH, path);
  if (length == 0 || length >= MAX_PATH) return 0;
  lstrcatW(path, L"Quarnel.ini.kept");
  return 1;
}

__declspec(dllexport) UINT WINAPI RemoveQuarnelIni(MSIHANDLE install) {
  wchar_t folder[TEXT_SIZE], path[MAX_PATH + TEXT_SIZE], kept[MAX_PATH + 32];
  if (!Property(install, L"CustomActionData", folder) || !folder[0]) return ERROR_SUCCESS;
  /* Kept while the removal can still be rolled back (RestoreQuarnelIni puts
     it back, ForgetQuarnelIni deletes it); a copy an earlier run left goes
     first, so that only this one's can be put back. */
  if (MsiGetMode(install, MSIRUNMODE_ROLLBACKENABLED) && IniKept(kept)) {
    DeleteFileW(kept);
    IniIn(folder, path);
    if (MoveFileExW(path, kept, MOVEFILE_COPY_ALLOWED) || GetLastError() == ERROR_FILE_NOT_FOUND) {
      return ERROR_SUCCESS;
    }
  }
  RemoveIni(folder);
  return ERROR_SUCCESS;
}

__declspec(dllexport) UINT WINAPI RestoreQuarnelIni(MSIHANDLE install) {
  wchar_t folder[TEXT_SIZE], path[MAX_PATH + TEXT_SIZE], kept[MAX_PATH + 32];
  if (Property(install, L"CustomActionData", folder) && folder[0] && IniKept(kept)) {
    /* The folder is back (its files' rollback ran first): the file goes
       where it was, over nothing. */
    IniIn(folder, path);
    MoveFileExW(kept, path, MOVEFILE_COPY_ALLOWED);
  }
  return ERROR_SUCCESS;
}

__declspec(dllexport) UINT WINAPI ForgetQuarnelIni(MSIHANDLE install) {
  wchar_t kept[MAX_PATH + 32];
  (void)install;
  if (IniKept(kept)) DeleteFileW(kept);
  return ERROR_SUCCESS;
}

__declspec(dllexport) UINT WINAPI ForgetVirtualStoreCopy(MSIHANDLE install) {
  wchar_t folder[TEXT_SIZE], store[MAX_PATH + TEXT_SIZE];
  if (!Property(install, L"CustomActionData", folder) || wcslen(folder) < 4 ||
      SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, store) != S_OK) {
    return ERROR_SUCCESS;
  }
  /* The folder without its drive ("C:\"), below VirtualStore. */
  lstrcatW(store, L"\\VirtualStore\\");
  lstrcatW(store, folder + 3);
  RemoveIni(store);
  store[wcslen(store) - 1] = 0;
  RemoveDirectoryW(store);
  return ERROR_SUCCESS;
}
