#include "save/write_access.h"

#include <cwchar>

#include "common/owners.h"
#include "save/file_identity.h"

namespace quarnel {
namespace {

// Windows' answers that say this process may not write there, whatever else
// happens: permissions, a write-protected disk or share, a read-only volume.
bool IsDenial(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_FILE_READ_ONLY:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool MayCreateFileIn(const std::wstring& folder, const wchar_t* extension) {
  // Named in the form that has no length limit: the folder may take all the
  // IDE's room, and the probe's name is longer than the shortest file's.
  // (wsprintfW writes 1024 characters at most.)
  const bool unc = folder.starts_with(L"\\\\");
  wchar_t path[1025];
  for (DWORD n = Pretended().probe_number ? Pretended().probe_number : GetTickCount(), tries = 0; tries < 16;
       ++n, ++tries) {
    wsprintfW(path, unc ? L"\\\\?\\UNC%s\\Quarnel%08lX%s" : L"\\\\?\\%s\\Quarnel%08lX%s", folder.c_str() + unc, n,
              extension);
    const wchar_t* name = wcsrchr(path, L'\\') + 1;
    const unique_handle probe = file_handle(
        Pretended().screened && (*name == L'~' || wcsstr(name, L".tmp"))
            ? (SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE)
            : CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (probe) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return !IsDenial(error);
  }
  // Sixteen names in use: someone else's, not a refusal.
  return true;
}

WriteAccess AccessForWriting(const std::wstring& path) {
  unique_handle opened = file_handle(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_NO_RECALL, nullptr));
  DWORD error = GetLastError();
  if (const DWORD slow = Pretended().slow_open_ms) Sleep(slow);
  if (Pretended().open_error) {
    opened.reset();
    error = Pretended().open_error;
  }
  if (opened) return WriteAccess::kGranted;
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? WriteAccess::kHeld
         : IsDenial(error)                                                  ? WriteAccess::kDenied
                                                                            : WriteAccess::kGranted;
}

std::optional<ULONGLONG> RoomIn(const std::wstring& folder) {
  // A share's root is named with a backslash at its end.
  wchar_t directory[1025];
  wsprintfW(directory, L"%s\\", folder.c_str());
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(directory, &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}

}  // namespace quarnel
