/* Runs a command line as Windows' Explorer runs an Active Setup command at a
   user's logon: from a 64-bit process, by CreateProcess of the whole line (no
   cmd), waiting for it. Its exit status is the command's (126: it did not
   start). Usage: explorer64.exe COMMAND LINE... */
#include <windows.h>

int main(void) {
  const wchar_t* line = GetCommandLineW();
  int quoted = 0;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  wchar_t* command = HeapAlloc(GetProcessHeap(), 0, (lstrlenW(line) + 1) * sizeof(wchar_t));
  if (!command) return 126;
  lstrcpyW(command, line);  /* CreateProcessW may write into its command line */
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 126;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (int)code;
}
