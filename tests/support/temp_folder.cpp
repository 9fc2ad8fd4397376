#include "support/temp_folder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <cstring>
#include <string_view>

namespace quarnel::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary folder");
  path_ = std::wstring(temp, n) + L"quarnel-test-" + std::to_wstring(GetCurrentProcessId()) +
          L"-" + std::to_wstring(counter++);
  RemoveTree(path_);
  if (!CreateDirectoryW(path_.c_str(), nullptr)) throw std::runtime_error("cannot make temp folder");
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read file");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write file");
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

// Whether Windows lets this process write `path`: open a file for writing, or
// make a new file in a folder.
bool Writable(const std::wstring& path) {
  const bool folder = FolderExists(path);
  const HANDLE file = folder ? CreateFileW((path + L"\\~writable.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                             : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Runs Linux's chattr on the Unix file that `path` is (Wine starts a Unix
// program as it starts a Windows one).
void Chattr(const std::wstring& path, const char* flag) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return;
  char* name = unix_name(path.c_str());
  if (!name) return;
  std::wstring command = L"chattr " + std::wstring(flag, flag + strlen(flag)) + L" \"";
  for (const char* c = name; *c; ++c) command += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  command += L"\"";
  HeapFree(GetProcessHeap(), 0, name);
  for (const wchar_t* program : {L"Z:\\usr\\bin\\chattr", L"Z:\\bin\\chattr"}) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      continue;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return;
  }
}

}  // namespace

// Wine does not wait for a Unix program's end: the attribute is waited for.
bool WritableWithin(const std::wstring& path, bool writable) {
  for (int i = 0; i < 500; ++i, Sleep(10)) {
    if (Writable(path) == writable) return true;
  }
  return false;
}

Immutable::Immutable(std::wstring path) : path_(std::move(path)) {
  Chattr(path_, "+i");
  made_ = WritableWithin(path_, false);
}

Immutable::~Immutable() {
  Chattr(path_, "-i");
  WritableWithin(path_, true);
}

HeldFile::HeldFile(const std::wstring& path, DWORD milliseconds) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --hold-file \"" + path + L"\" " +
                         std::to_wstring(milliseconds);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return;
  }
  CloseHandle(process.hThread);
  process_.reset(process.hProcess);
  // Held once an open for writing meets the other process's hold.
  for (int i = 0; i < 1000 && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; ++i) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
    } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
      held_ = true;
      return;
    }
    Sleep(5);
  }
}

HeldFile::~HeldFile() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 0);
  WaitForSingleObject(process_.get(), 10000);
}

bool HoldFileIfAsked(int argc, char** argv) {
  if (argc != 4 || std::string_view(argv[1]) != "--hold-file") return false;
  const HANDLE file = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Sleep(static_cast<DWORD>(std::stoul(argv[3])));
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return true;
}

}  // namespace quarnel::test
