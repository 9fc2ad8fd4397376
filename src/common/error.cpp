#include "common/error.h"

namespace quarnel {
namespace {

// Visual Basic's run-time errors live in FACILITY_CONTROL (0x800A....).
HRESULT VbError(WORD number) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number); }

std::string ToUtf8(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

Error::Error(HRESULT code, std::wstring description)
    : code_(code), description_(std::move(description)), what_(ToUtf8(description_)) {}

Error Error::FromWin32(DWORD win32_error) {
  switch (win32_error) {
    case ERROR_FILE_NOT_FOUND:
      return {VbError(53), L"File not found"};
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return {VbError(76), L"Path not found"};
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
      return {VbError(52), L"Bad file name or number"};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return {VbError(70), L"Permission denied"};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {VbError(61), L"Disk full"};
    default:
      return {VbError(75), L"Path/File access error"};
  }
}

}  // namespace quarnel
