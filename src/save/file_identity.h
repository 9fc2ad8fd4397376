#pragma once
// Files known by what they are, not by how their paths are written: a short
// (8.3) name, a second drive letter for the same folder (subst), a mapped drive
// and its UNC path, a junction or a hard link all name one file.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quarnel {

// The full path of `path`, with "." and ".." resolved; the path itself when
// the system cannot tell it.
std::wstring FullPath(const std::wstring& path);

// What stands in one folder, listed once: each file and folder by its name,
// with its attributes. Asking the file system for each name instead costs, where
// names are matched without case by reading the folder (Wine), a reading of the
// whole folder for every name that is not there.
class FolderFiles {
 public:
  // `between(context)`, when given, is called after each name listed: a
  // folder of many files on a slow share takes a while.
  explicit FolderFiles(const std::wstring& folder, void (*between)(void*) = nullptr, void* context = nullptr);
  // The attributes of what `path`, a path in that folder, names there (case
  // aside): a file's, or a folder's (FILE_ATTRIBUTE_DIRECTORY);
  // INVALID_FILE_ATTRIBUTES when nothing has that name. `size`, when given,
  // gets its size in bytes (0 for nothing).
  DWORD Attributes(const std::wstring& path, ULONGLONG* size = nullptr) const;

 private:
  struct Entry {
    std::wstring name;
    DWORD attributes;
    ULONGLONG size;
  };
  // Sorted without case; nothing when the folder could not be listed (each
  // name is then asked of the file system).
  std::optional<std::vector<Entry>> entries_;
};

// For the tests: what some drives do that the test machine's do not.
struct DrivePretence {
  bool no_file_index = false;  // every file's index is 0 (as on some network drives)
  // Every file's volume serial number is 0 and its index 1: as Wine gives two
  // files on two Unix file systems that have no drive letter of their own.
  bool no_volume_serial = false;
  bool unlistable = false;     // no folder may be listed (each name is then asked)
  DWORD slow_listing_ms = 0;   // each name listed takes this long (a slow share)
  DWORD slow_open_ms = 0;      // each open for writing answers this late (a server)
  DWORD open_error = 0;        // each open for writing, and the folder's probe, fails so (a filter's answer...)
  ULONGLONG cluster_bytes = 0;  // the disk's clusters are this large (a FAT32 or exFAT stick's)
  bool screened = false;       // no file named "~*" or "*.tmp" may be made (a server's file screen)
  DWORD probe_number = 0;      // the folder's probe is first named with it, not the clock's
  void (*listed)(const wchar_t* folder) = nullptr;  // called once a folder is listed (another program's turn)
  void (*opened)(const wchar_t* path) = nullptr;     // called at each open for writing, once answered
};
void PretendDrives(const DrivePretence& pretence) noexcept;
const DrivePretence& Pretended() noexcept;

// The size in bytes of the file at `path`; 0 when there is none.
ULONGLONG FileSize(const std::wstring& path);

// One file's name, and what the file system says of it once asked.
class FileIdentity {
 public:
  explicit FileIdentity(const std::wstring& path);

  // True when both name one existing file: by the volume's serial number and
  // the file's index, with its size and last-write time (or, where the file
  // system gives no index or no serial number, the final path of a handle,
  // which XP cannot tell).
  // Otherwise, or when either cannot be opened, by the long full paths. Paths
  // whose full texts are the same, case aside, are one file without asking the
  // file system; an empty path is no file.
  bool Is(const FileIdentity& other) const;

 private:
  void Look() const;
  std::wstring LongPath() const;

  std::wstring full_;
  // Filled by Look(), at the first comparison that needs them.
  mutable bool looked_ = false;
  mutable bool opened_ = false;
  mutable DWORD volume_ = 0;
  mutable ULONGLONG index_ = 0;
  // Also compared: one file has one size and time at a time.
  mutable ULONGLONG size_ = 0;
  mutable FILETIME written_{};
  mutable std::wstring final_;
};

}  // namespace quarnel
