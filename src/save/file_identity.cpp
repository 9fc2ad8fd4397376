#include "save/file_identity.h"

#include <algorithm>
#include <string_view>

#include "common/later_windows.h"
#include "common/owners.h"

namespace quarnel {
namespace {

// Names compared as the file system compares them: ordinal, case aside.
int Compare(const std::wstring& a, const std::wstring& b) {
  return CompareNoCase(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()));
}
bool SameText(const std::wstring& a, const std::wstring& b) { return Compare(a, b) == CSTR_EQUAL; }
bool Less(const std::wstring& a, const std::wstring& b) { return Compare(a, b) == CSTR_LESS_THAN; }

// What `get(buffer, size)` writes, asked for its size first; empty on failure.
template <class Get>
std::wstring SizedText(Get get) {
  const DWORD size = get(nullptr, 0);
  if (size == 0) return {};
  std::wstring text(size, L'\0');
  const DWORD length = get(text.data(), size);
  if (length == 0 || length >= size) return {};
  text.resize(length);
  return text;
}

void CloseFind(HANDLE find) noexcept { FindClose(find); }

DrivePretence pretence;

}  // namespace

FolderFiles::FolderFiles(const std::wstring& folder, void (*between)(void*), void* context) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = folder + (folder.ends_with(L'\\') ? L"*" : L"\\*");
  const HANDLE first = pretence.unlistable ? (SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE)
                                            : FindFirstFileFast(pattern.c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) {
    // An empty drive's root lists nothing, not even "." and "..".
    if (GetLastError() == ERROR_FILE_NOT_FOUND) entries_.emplace();
    return;
  }
  const unique_any<HANDLE, CloseFind> find(first);
  std::vector<Entry> entries;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") {
      entries.push_back({found.cFileName, found.dwFileAttributes,
                         (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
    }
    if (pretence.slow_listing_ms) Sleep(pretence.slow_listing_ms);
    if (between) between(context);
  } while (FindNextFileW(find.get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) return;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return Less(a.name, b.name); });
  entries_ = std::move(entries);
  if (pretence.listed) pretence.listed(folder.c_str());
}

DWORD FolderFiles::Attributes(const std::wstring& path, ULONGLONG* size) const {
  if (size) *size = 0;
  if (!entries_) {
    if (size) *size = FileSize(path);
    return GetFileAttributesW(path.c_str());
  }
  const std::wstring name = path.substr(path.rfind(L'\\') + 1);
  const auto at = std::lower_bound(entries_->begin(), entries_->end(), name,
                                   [](const Entry& entry, const std::wstring& n) { return Less(entry.name, n); });
  if (at == entries_->end() || Less(name, at->name)) return INVALID_FILE_ATTRIBUTES;
  if (size) *size = at->size;
  return at->attributes;
}

ULONGLONG FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return 0;
  }
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full =
      SizedText([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
  return full.empty() ? path : full;
}

void PretendDrives(const DrivePretence& drives) noexcept { pretence = drives; }
const DrivePretence& Pretended() noexcept { return pretence; }

FileIdentity::FileIdentity(const std::wstring& path) : full_(path.empty() ? path : FullPath(path)) {}

bool FileIdentity::Is(const FileIdentity& other) const {
  if (full_.empty() || other.full_.empty()) return false;
  if (SameText(full_, other.full_)) return true;
  Look();
  other.Look();
  if (opened_ && other.opened_) {
    if (index_ != 0 && other.index_ != 0) {
      return volume_ == other.volume_ && index_ == other.index_ && size_ == other.size_ &&
             CompareFileTime(&written_, &other.written_) == 0;
    }
    if (!final_.empty() && !other.final_.empty()) return SameText(final_, other.final_);
  }
  return SameText(LongPath(), other.LongPath());
}

void FileIdentity::Look() const {
  if (looked_) return;
  looked_ = true;
  // Opened for its attributes only, sharing everything: a file another program
  // holds open, even for writing, is looked at all the same.
  const unique_handle file = file_handle(CreateFileW(full_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file || !GetFileInformationByHandle(file.get(), &information)) return;
  opened_ = true;
  volume_ = pretence.no_volume_serial ? 0 : information.dwVolumeSerialNumber;
  index_ = pretence.no_file_index      ? 0
           : pretence.no_volume_serial ? 1
                                       : (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  // A serial number of 0 is none: the index is then unique only within one of
  // the file systems that share it (Wine gives it to every Unix file system
  // without a drive letter of its own, the index being the inode).
  if (volume_ == 0) index_ = 0;
  size_ = (static_cast<ULONGLONG>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  written_ = information.ftLastWriteTime;
  if (index_ == 0) {
    final_ = SizedText([&](wchar_t* buffer, DWORD size) { return FinalPathName(file.get(), buffer, size); });
  }
}

std::wstring FileIdentity::LongPath() const {
  std::wstring long_path =
      SizedText([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(full_.c_str(), buffer, size); });
  return long_path.empty() ? full_ : long_path;
}

}  // namespace quarnel
