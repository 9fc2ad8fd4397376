#include "save/write_access.h"

#include <cwchar>
#include <iterator>

#include "common/owners.h"
#include "save/file_identity.h"

namespace quarnel {
namespace {

// Codes that older headers lack.
constexpr WORD kVirusInfected = 225, kVirusDeleted = 226, kQuotaExceeded = 1295;
// The cloud files' answers: a provider not running, unreachable, failing.
constexpr WORD kFirstCloudFile = 358, kLastCloudFile = 400;

// Windows' answers that stop a write, by range of error codes, and why.
constexpr struct Refusal {
  WORD first, last;
  CannotWrite why;  // kInUse: another program holds the file, for a while
} kRefusals[] = {
    // Permissions, a write-protected disk or share, a read-only volume.
    {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, CannotWrite::kDenied},
    {ERROR_WRITE_PROTECT, ERROR_WRITE_PROTECT, CannotWrite::kDenied},
    {ERROR_NETWORK_ACCESS_DENIED, ERROR_NETWORK_ACCESS_DENIED, CannotWrite::kDenied},
    {ERROR_FILE_READ_ONLY, ERROR_FILE_READ_ONLY, CannotWrite::kDenied},
    {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, CannotWrite::kInUse},
    {ERROR_HANDLE_DISK_FULL, ERROR_HANDLE_DISK_FULL, CannotWrite::kNoRoom},
    {ERROR_DISK_FULL, ERROR_DISK_FULL, CannotWrite::kNoRoom},
    {kQuotaExceeded, kQuotaExceeded, CannotWrite::kNoRoom},
    {kVirusInfected, kVirusDeleted, CannotWrite::kVirus},
    {kFirstCloudFile, kLastCloudFile, CannotWrite::kOnline},
    {ERROR_CANT_ACCESS_FILE, ERROR_CANT_ACCESS_FILE, CannotWrite::kUnopenable},
    {ERROR_FILE_CORRUPT, ERROR_DISK_CORRUPT, CannotWrite::kDamaged},
};

std::optional<CannotWrite> RefusalOf(DWORD error) {
  for (const Refusal& refusal : kRefusals) {
    if (error >= refusal.first && error <= refusal.last) return refusal.why;
  }
  return std::nullopt;
}

}  // namespace

std::optional<CannotWrite> CannotCreateFileIn(const std::wstring& folder, const wchar_t* extension) {
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
    const DWORD error = Pretended().open_error ? Pretended().open_error : GetLastError();
    if (probe && !Pretended().open_error) return std::nullopt;
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // Another program's hold on a file not yet made is none of the save's.
    const auto why = RefusalOf(error);
    return !why || *why == CannotWrite::kInUse ? std::nullopt
           : *why == CannotWrite::kDenied      ? std::optional(CannotWrite::kNoNewFiles)
                                               : why;
  }
  // Sixteen names in use: someone else's, not a refusal.
  return std::nullopt;
}

std::optional<CannotWrite> CannotOpenForWriting(const std::wstring& path) {
  const unique_handle opened = file_handle(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_NO_RECALL, nullptr));
  const DWORD error = GetLastError();
  if (const DWORD slow = Pretended().slow_open_ms) Sleep(slow);
  if (Pretended().opened) Pretended().opened(path.c_str());
  if (const DWORD pretended = Pretended().open_error) return RefusalOf(pretended);
  return opened ? std::nullopt : RefusalOf(error);
}

std::optional<Room> RoomIn(const std::wstring& folder) {
  // A share's root is named with a backslash at its end.
  wchar_t directory[1025];
  wsprintfW(directory, L"%s\\", folder.c_str());
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(directory, &available, nullptr, nullptr)) return std::nullopt;
  // A file system that does not tell its clusters (some servers), or tells
  // a size no disk has (not a power of two), is counted in NTFS's usual ones.
  DWORD sectors, bytes, free_clusters, clusters;
  ULONGLONG cluster = Pretended().cluster_bytes ? Pretended().cluster_bytes
                      : GetDiskFreeSpaceW(directory, &sectors, &bytes, &free_clusters, &clusters)
                          ? ULONGLONG{sectors} * bytes
                          : 0;
  if (!cluster || (cluster & (cluster - 1))) cluster = 4096;
  return Room{available.QuadPart, cluster};
}

}  // namespace quarnel
