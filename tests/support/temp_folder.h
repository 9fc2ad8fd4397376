#pragma once
// Test support: a fresh folder under the Windows temporary folder, removed with
// everything in it when the test ends; and whole-file reads and writes.
#include <string>

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

// Removes a file or a folder tree; missing is fine.
void RemoveTree(const std::wstring& path);

bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The file's bytes; throws std::runtime_error when it cannot be read.
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

}  // namespace quarnel::test
