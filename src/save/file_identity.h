#pragma once
// Files known by what they are, not by how their paths are written: a short
// (8.3) name, a second drive letter for the same folder (subst), a mapped drive
// and its UNC path, a junction or a hard link all name one file.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quarnel {

// The files in one folder, listed once (not its folders: a folder where a file
// would go makes the IDE's own save fail, which reports it). Asking the file
// system for each name instead costs, where names are matched without case by
// reading the folder (Wine), a reading of the whole folder for every name that
// is not there.
class FolderFiles {
 public:
  explicit FolderFiles(const std::wstring& folder);
  // Whether `path`, a path in that folder, names a file there (case aside).
  bool Has(const std::wstring& path) const;

 private:
  // Sorted without case; nothing when the folder could not be listed (each
  // name is then asked of the file system).
  std::optional<std::vector<std::wstring>> names_;
};

// For the tests: what some drives do that the test machine's do not.
struct DrivePretence {
  bool no_file_index = false;  // every file's index is 0 (as on some network drives)
  bool unlistable = false;     // no folder may be listed (each name is then asked)
};
void PretendDrives(const DrivePretence& pretence) noexcept;

// One file's name, and what the file system says of it once asked.
class FileIdentity {
 public:
  explicit FileIdentity(const std::wstring& path);

  // True when both name one existing file: by the volume's serial number and
  // the file's index, with its size and last-write time (or, where the file
  // system gives no index, the final path of a handle, which XP cannot tell).
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
  // Also compared: one file has one size and time at a time, and a file system
  // that gives no volume serial number (0) may give one index to two files.
  mutable ULONGLONG size_ = 0;
  mutable FILETIME written_{};
  mutable std::wstring final_;
};

}  // namespace quarnel
