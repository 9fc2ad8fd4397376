#pragma once
// Test support: a fresh folder under the Windows temporary folder, removed with
// everything in it when the test ends; whole-file reads and writes; and files
// and folders that Windows refuses to write, for real.
#include <windows.h>

#include <set>
#include <string>

#include "common/owners.h"

namespace quarnel::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // path() + "\" + name
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// The names of what stands in `folder`, hidden and system files too; none for
// a folder that is not there.
std::set<std::wstring> FilesIn(const std::wstring& folder);

// Removes a file or a folder tree; missing is fine.
void RemoveTree(const std::wstring& path);

bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The file's bytes; throws std::runtime_error when it cannot be read.
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

// A file or folder that Windows refuses to write while this object lives: a
// file cannot be opened for writing, no file can be made in a folder (as a
// folder's permissions or Controlled folder access refuse it). Played by
// Linux's immutable attribute (chattr +i), which stops even root, and which
// Wine answers with ERROR_ACCESS_DENIED; the file system must support it, as
// ext4 does. made() says whether it took.
class Immutable {
 public:
  explicit Immutable(std::wstring path);
  ~Immutable();
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  bool made() const { return made_; }

 private:
  std::wstring path_;
  bool made_;
};

// A disk of `kilobytes`, empty, mounted on `folder` while this object lives:
// Windows answers for it as for a volume mounted in a folder, and a write
// past its room fails. Played by a Linux tmpfs, which only root may mount.
// made() says whether it took.
class SmallDisk {
 public:
  SmallDisk(std::wstring folder, unsigned kilobytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool made() const { return made_; }

 private:
  std::wstring folder_;
  unsigned kilobytes_;
  bool made_ = false;
};

// Another process holds `path` open, sharing it with nobody, from when this
// object is made (it waits until the file is held) for `milliseconds`, or
// until it goes (INFINITE). The test program plays that process itself
// (HoldFileIfAsked, from its main).
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD milliseconds = INFINITE);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return held_; }

 private:
  unique_handle process_;
  bool held_ = false;
};

// In a test program's main: when started by HeldFile ("--hold-file PATH MS EVENT"),
// holds the file, says so by the named event, and returns true once done;
// false for an ordinary run.
bool HoldFileIfAsked(int argc, char** argv);

}  // namespace quarnel::test
