#include "support/temp_folder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "save/write_access.h"

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

std::set<std::wstring> FilesIn(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.insert(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  for (const std::wstring& name : FilesIn(path)) RemoveTree(path + L"\\" + name);
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
  const HANDLE file = CreateFileW((folder ? path + L"\\~writable.tmp" : path).c_str(), GENERIC_WRITE,
                                  folder ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  folder ? CREATE_NEW : OPEN_EXISTING, folder ? FILE_FLAG_DELETE_ON_CLOSE : 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Waits up to five seconds for `path` to become writable or not: what another
// process does to it takes effect after a while.
bool WritableWithin(const std::wstring& path, bool writable) {
  for (int i = 0; i < 500; ++i, Sleep(10)) {
    if (Writable(path) == writable) return true;
  }
  return false;
}

bool Launch(const wchar_t* program, std::wstring command, PROCESS_INFORMATION& process) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
}

// The handle of a new process running `command`, or none.
HANDLE Start(const wchar_t* program, std::wstring command) {
  PROCESS_INFORMATION process{};
  if (!Launch(program, std::move(command), process)) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Runs a Unix program (/usr/bin/NAME or /bin/NAME) with `arguments` and the
// Unix name of `path` last: Wine starts a Unix program as it starts a Windows
// one, but does not wait for its end and gives no handles for it. What it
// leaves in the process information is never closed: it may be the value of
// a handle this process holds (a closed one took Windows' own folder of
// named objects with it, and every named event after failed).
void RunUnix(const char* name, const std::string& arguments, const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* file = unix_name ? unix_name(path.c_str()) : nullptr;
  if (!file) return;
  const std::string command = std::string(name) + " " + arguments + " \"" + file + "\"";
  HeapFree(GetProcessHeap(), 0, file);
  for (const char* folder : {"Z:\\usr\\bin\\", "Z:\\bin\\"}) {
    const std::string program = folder + std::string(name);
    PROCESS_INFORMATION not_handles{};
    if (Launch(std::wstring(program.begin(), program.end()).c_str(), std::wstring(command.begin(), command.end()),
               not_handles)) {
      return;
    }
  }
}

}  // namespace

Immutable::Immutable(std::wstring path) : path_(std::move(path)) {
  RunUnix("chattr", "+i", path_);
  made_ = WritableWithin(path_, false);
}

Immutable::~Immutable() {
  RunUnix("chattr", "-i", path_);
  WritableWithin(path_, true);
}

SmallDisk::SmallDisk(std::wstring folder, unsigned kilobytes) : folder_(std::move(folder)), kilobytes_(kilobytes) {
  RunUnix("mount", "-t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs", folder_);
  for (int i = 0; i < 500 && !made_; ++i, Sleep(10)) made_ = RoomIn(folder_).value_or(Room{}).free == 1024ull * kilobytes;
}

SmallDisk::~SmallDisk() {
  // Also when the mount was not seen in time, and lazily, even while Wine
  // still holds something there: one left mounted would make the folder
  // impossible to remove, and a later test program given the same process id
  // could not make its temporary folder.
  RunUnix("umount", "-l", folder_);
  for (int i = 0; i < 500 && RoomIn(folder_).value_or(Room{}).free == 1024ull * kilobytes_; ++i) Sleep(10);
}

HeldFile::HeldFile(const std::wstring& path, DWORD milliseconds) {
  // The holder says it holds the file by an event: a check by opening the
  // file here could itself keep the holder's exclusive open out.
  static LONG made = 0;
  const std::wstring event_name =
      L"QuarnelHeld-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(InterlockedIncrement(&made));
  const unique_handle event(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  process_.reset(Start(program, L"\"" + std::wstring(program) + L"\" --hold-file \"" + path + L"\" " +
                                    std::to_wstring(milliseconds) + L" " + event_name));
  if (!event || !process_) return;
  // A new process may take its time on a loaded machine.
  const HANDLE either[] = {event.get(), process_.get()};
  held_ = WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
}

HeldFile::~HeldFile() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 0);
  WaitForSingleObject(process_.get(), 10000);
}

bool HoldFileIfAsked(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "--hold-file") return false;
  const HANDLE file = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  if (const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4])) {
    SetEvent(held);
    CloseHandle(held);
  }
  Sleep(static_cast<DWORD>(std::stoul(argv[3])));
  CloseHandle(file);
  return true;
}

}  // namespace quarnel::test
