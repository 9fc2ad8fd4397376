#include "save/write_access.h"

#include <windows.h>

#include "common/owners.h"

namespace quarnel {

bool MayCreateFileIn(const std::wstring& folder) {
  // Named in the form that has no length limit: the folder may take all the
  // IDE's room, and the probe's name is longer than the shortest file's.
  // (wsprintfW writes 1024 characters at most.)
  const bool unc = folder.starts_with(L"\\\\");
  wchar_t path[1025];
  for (DWORD n = GetTickCount(), tries = 0; tries < 16; ++n, ++tries) {
    wsprintfW(path, unc ? L"\\\\?\\UNC%s\\~Quarnel%08lX.tmp" : L"\\\\?\\%s\\~Quarnel%08lX.tmp",
              folder.c_str() + unc, n);
    const unique_handle probe = file_handle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY |
                                                            FILE_FLAG_DELETE_ON_CLOSE,
                                                        nullptr));
    if (probe) return true;
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  // Sixteen names in use: someone else's, not a refusal.
  return true;
}

WriteAccess AccessForWriting(const std::wstring& path) {
  if (file_handle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_NO_RECALL,
                              nullptr))) {
    return WriteAccess::kGranted;
  }
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return WriteAccess::kGranted;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return WriteAccess::kHeld;
    default:
      return WriteAccess::kDenied;
  }
}

}  // namespace quarnel
