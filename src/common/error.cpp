#include "common/error.h"

namespace quarnel {
namespace {

// Visual Basic's run-time errors live in FACILITY_CONTROL (0x800A....).
HRESULT VbError(WORD number) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number); }

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

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

Error Error::Vb(int number) {
  const wchar_t* text = L"Application-defined or object-defined error";
  switch (number) {
    case 5: text = L"Invalid procedure call or argument"; break;
    case 6: text = L"Overflow"; break;
    case 7: text = L"Out of memory"; break;
    case 9: text = L"Subscript out of range"; break;
    case 13: text = L"Type mismatch"; break;
    case 91: text = L"Object variable or With block variable not set"; break;
    case 424: text = L"Object required"; break;
    case 438: text = L"Object doesn't support this property or method"; break;
    case 448: text = L"Named argument not found"; break;
    case 449: text = L"Argument not optional"; break;
    case 450: text = L"Wrong number of arguments or invalid property assignment"; break;
    default: break;
  }
  return {VbError(static_cast<WORD>(number)), text};
}

Error Error::FromHResult(HRESULT code) {
  switch (code) {
    case E_OUTOFMEMORY: return Vb(7);
    case E_INVALIDARG: return Vb(5);
    case E_NOINTERFACE:
    case DISP_E_TYPEMISMATCH: return Vb(13);
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME: return Vb(438);
    case DISP_E_PARAMNOTFOUND: return Vb(448);
    case DISP_E_PARAMNOTOPTIONAL: return Vb(449);
    case DISP_E_BADPARAMCOUNT: return Vb(450);
    case DISP_E_BADINDEX: return Vb(9);
    default: break;
  }
  if (HRESULT_FACILITY(code) == FACILITY_CONTROL) return Vb(HRESULT_CODE(code));
  std::wstring text = L"Automation error";
  wchar_t* message = nullptr;
  if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&message), 0,
                     nullptr) && message) {
    std::wstring system(message);
    LocalFree(message);
    while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r')) system.pop_back();
    if (!system.empty()) text += L"\r\n" + system;
  }
  return {code, text};
}

}  // namespace quarnel
