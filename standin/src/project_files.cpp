#include "project_files.h"

#include "automation.h"
#include "common/ansi.h"

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

// The system's own test of a name for a device (NUL, COM1...): nonzero for one.
extern "C" ULONG NTAPI RtlIsDosDeviceName_U(PCWSTR name);

namespace standin::detail {
namespace {

// Text in the system's ANSI code page, as the IDE's files hold it.
std::string Ansi(std::wstring_view text) { return quarnel::ToAnsi(text); }
std::wstring Wide(std::string_view text) { return quarnel::FromAnsi(text); }

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring BaseName(const std::wstring& path) {
  std::wstring name = NameOf(path);
  const size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::vector<std::wstring> PathParts(const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// What a full path's folders hang from: its drive (D:) or its share
// (\\server\share); empty for another path.
std::wstring RootOf(const std::wstring& path) {
  if (path.size() > 1 && path[1] == L':') return path.substr(0, 2);
  if (!path.starts_with(L"\\\\")) return {};
  const auto parts = PathParts(path);
  return parts.size() < 2 ? std::wstring() : L"\\\\" + parts[0] + L"\\" + parts[1];
}

// `target` as the IDE names it in a project file in `folder`: relative to the
// folder when both are on one drive or share (D:\P\Forms\A.frm from D:\P is
// Forms\A.frm, from D:\P\Sub ..\Forms\A.frm), else its full path.
std::wstring RelativePath(const std::wstring& folder, const std::wstring& target) {
  const std::wstring root = RootOf(folder);
  if (root.empty() || !SameText(root, RootOf(target))) return target;
  const auto from = PathParts(folder);
  const auto to = PathParts(target);
  size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && SameText(from[common], to[common])) ++common;
  std::wstring out;
  for (size_t i = common; i < from.size(); ++i) out += L"..\\";
  for (size_t i = common; i < to.size(); ++i) out += (i > common ? L"\\" : L"") + to[i];
  return out;
}

bool IsRelative(const std::wstring& path) {
  return !path.empty() && !(path.size() > 1 && path[1] == L':') && path[0] != L'\\' && path[0] != L'/';
}

// Replaces every `from` in `text` by `to`, ignoring ASCII case.
std::string ReplaceText(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  const std::string needle = lower(from);
  std::string haystack = lower(text);
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + to.size())) {
    text.replace(at, from.size(), to);
    haystack.replace(at, from.size(), lower(to));
  }
  return text;
}

HostError FileError(DWORD win32_error) {
  switch (win32_error) {
    case ERROR_FILE_NOT_FOUND:
      return VbError(53, L"File not found");
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
      return VbError(76, L"Path not found");
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
      return VbError(52, L"Bad file name or number");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return VbError(70, L"Permission denied");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return VbError(61, L"Disk full");
    default:
      return VbError(75, L"Path/File access error");
  }
}

// The header of a form-like component: its designer block.
std::string DesignerHeader(const char* kind, const std::string& name) {
  return "VERSION 5.00\r\n"
         "Begin " + std::string(kind) + " " + name + " \r\n"
         "   Caption         =   \"" + name + "\"\r\n"
         "   ClientHeight    =   3090\r\n"
         "   ClientLeft      =   60\r\n"
         "   ClientTop       =   450\r\n"
         "   ClientWidth     =   4680\r\n"
         "   ScaleHeight     =   3090\r\n"
         "   ScaleWidth      =   4680\r\n"
         "End\r\n";
}

std::string Attributes(const std::string& name, bool creatable, bool predeclared) {
  return "Attribute VB_Name = \"" + name + "\"\r\n"
         "Attribute VB_GlobalNameSpace = False\r\n"
         "Attribute VB_Creatable = " + (creatable ? "True" : "False") + "\r\n"
         "Attribute VB_PredeclaredId = " + (predeclared ? "True" : "False") + "\r\n"
         "Attribute VB_Exposed = False\r\n";
}

// The project file's keyword for a component kind; null for one it cannot name.
const char* KeywordOf(int type) {
  switch (type) {
    case 1: return "Module";
    case 2: return "Class";
    case 3: return "Designer";
    case 4: return "ResFile32";
    case 5:
    case 6: return "Form";
    case 7: return "PropertyPage";
    case 8: return "UserControl";
    case 9: return "UserDocument";
    case 10: return "RelatedDoc";
    case 11: return "Designer";
    default: return nullptr;
  }
}

}  // namespace

std::wstring ExtensionOf(int type) {
  switch (type) {
    case 1: return L".bas";
    case 2: return L".cls";
    case 3: return L".dsr";
    case 4: return L".res";
    case 5:
    case 6: return L".frm";
    case 7: return L".pag";
    case 8: return L".ctl";
    case 9: return L".dob";
    case 11: return L".dsr";
    default: return L"";
  }
}

std::vector<std::wstring> CompanionExtensions(int type) {
  switch (type) {
    case 5:
    case 6: return {L".frx"};
    case 7: return {L".pgx"};
    case 8: return {L".ctx"};
    case 9: return {L".dox"};
    case 3:
    case 11: return {L".dsx", L".dca"};
    default: return {};
  }
}

std::string ComponentFile(const ComponentNode& component, const std::wstring& path) {
  const std::string name = Ansi(component.name);
  std::string code = Ansi(component.code);
  if (!code.empty() && code.back() != '\n') code += "\r\n";
  if (component.type == 4 && !component.header.empty()) return component.header;
  if (!component.header.empty()) {
    // The header as read; its references to the binary files beside it follow
    // the file's new name ("Form1.frx":0000 becomes "frmMain.frx":0000).
    std::string header = component.header;
    const std::wstring from = BaseName(component.file_name), to = BaseName(path);
    if (!component.file_name.empty() && from != to) {
      // Appended piece by piece: GCC 12 warns (wrongly) on "\"" + a temporary.
      const auto quoted = [](const std::wstring& file) {
        std::string text(1, '"');
        text += Ansi(file);
        text += '"';
        return text;
      };
      for (const auto& companion : component.companions) {
        header = ReplaceText(header, quoted(from + companion.first), quoted(to + companion.first));
      }
    }
    return header + code;
  }
  switch (component.type) {
    case 1:
      return "Attribute VB_Name = \"" + name + "\"\r\n" + code;
    case 2:
      return "VERSION 1.0 CLASS\r\n"
             "BEGIN\r\n"
             "  MultiUse = -1  'True\r\n"
             "  Persistable = 0  'NotPersistable\r\n"
             "  DataBindingBehavior = 0  'vbNone\r\n"
             "  DataSourceBehavior  = 0  'vbNone\r\n"
             "  MTSTransactionMode  = 0  'NotAnMTSObject\r\n"
             "END\r\n" +
             Attributes(name, true, false) + code;
    case 3:
      return DesignerHeader("{C62A69F0-16DC-11CE-9E98-00AA00574A4F}", name) + Attributes(name, false, true) + code;
    case 4:
      // An empty resource file: its one null entry.
      return std::string("\0\0\0\0\x20\0\0\0\xff\xff\0\0\xff\xff\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32);
    case 5:
      return DesignerHeader("VB.Form", name) + Attributes(name, false, true) + code;
    case 6:
      return DesignerHeader("VB.MDIForm", name) + Attributes(name, false, true) + code;
    case 7:
      return DesignerHeader("VB.PropertyPage", name) + Attributes(name, true, false) + code;
    case 8:
      return DesignerHeader("VB.UserControl", name) + Attributes(name, true, false) + code;
    case 9:
      return DesignerHeader("VB.UserDocument", name) + Attributes(name, true, false) + code;
    case 10:
      return code;
    case 11:
      return DesignerHeader("{B4741C00-45A6-11D1-ABEC-00A0C9274B91}", name) + Attributes(name, true, false) + code;
    default:
      return "Attribute VB_Name = \"" + name + "\"\r\n" + code;
  }
}

void WriteComponent(const ComponentNode& component, const std::wstring& path) {
  const std::wstring stem = FolderOf(path) + L"\\" + BaseName(path);
  for (const auto& companion : component.companions) WriteWholeFile(stem + companion.first, companion.second);
  WriteWholeFile(path, ComponentFile(component, path));
}

namespace {

// The keys of a project file (besides components, references and the resource
// file) whose value is a path, quoted, relative to the project file's folder
// unless it is a full one: the folder of the built file, the compatibility
// file of an ActiveX project, and the help file.
constexpr const char* kPathKeys[] = {"Path32", "CompatibleEXE32", "HelpFile"};

// `target` (relative to `from`) as a path relative to `to`; nothing when it is
// not relative or does not make a path.
std::optional<std::wstring> Moved(const std::wstring& from, const std::wstring& to, std::wstring target) {
  while (target.size() > 1 && (target.back() == L'\\' || target.back() == L'/')) target.pop_back();
  if (!IsRelative(target)) return std::nullopt;
  try {
    return RelativePath(to, FullPath(from + L"\\" + target));
  } catch (const HostError&) {
    return std::nullopt;
  }
}

// A project file as read, with what the IDE rewrites when it saves it at `path`:
// the lines naming components (their files, relative to the new folder), the
// relative paths of references and of the path keys above, and the name. Every
// other line stays as it was.
std::string RewrittenProjectFile(const ProjectNode& project, const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  std::vector<std::string> lines = project.lines;
  for (const auto& component : project.components) {
    if (component->line < 0 || static_cast<size_t>(component->line) >= lines.size()) continue;
    std::string& line = lines[static_cast<size_t>(component->line)];
    const std::string key = line.substr(0, line.find('='));
    const std::string file = Ansi(RelativePath(folder, component->file_name));
    if (component->type == 1 || component->type == 2) {
      line = key + "=" + Ansi(component->name) + "; " + file;
    } else if (component->type == 4) {
      line = key + "=\"" + file + "\"";
    } else {
      line = key + "=" + file;
    }
  }
  for (std::string& line : lines) {
    if (_strnicmp(line.c_str(), "Name=", 5) == 0) line = "Name=\"" + Ansi(project.name) + "\"";
    for (const char* key : kPathKeys) {
      const size_t n = strlen(key);
      if (_strnicmp(line.c_str(), key, n) != 0 || line.size() <= n || line[n] != '=') continue;
      std::string value = line.substr(n + 1);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      if (value.empty()) continue;
      if (const auto moved = Moved(project.lines_folder, folder, Wide(value))) {
        line = std::string(key) + "=\"" + Ansi(*moved) + "\"";
      }
    }
    if (_strnicmp(line.c_str(), "Reference=", 10) != 0) continue;
    // Reference=*\G{...}#version#lcid#path#description: a relative path follows the file.
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      const size_t hash = line.find('#', start);
      fields.push_back(line.substr(start, hash == std::string::npos ? std::string::npos : hash - start));
      if (hash == std::string::npos) break;
      start = hash + 1;
    }
    if (fields.size() < 5) continue;
    const auto moved = Moved(project.lines_folder, folder, Wide(fields[3]));
    if (!moved) continue;
    fields[3] = Ansi(*moved);
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) joined += (i ? "#" : "") + fields[i];
    line = joined;
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

std::string ProjectFile(const ProjectNode& project, const std::wstring& path) {
  if (!project.lines.empty()) return RewrittenProjectFile(project, path);
  static const char* const kTypes[] = {"Exe", "OleExe", "OleDll", "Control"};
  const std::string type = project.type >= 0 && project.type <= 3 ? kTypes[project.type] : "Exe";
  const std::wstring folder = FolderOf(path);
  auto reference = [&](const ComponentNode& component) {
    // A component never saved is named by the file it would get beside the project.
    if (component.file_name.empty()) return Ansi(component.name + ExtensionOf(component.type));
    return Ansi(RelativePath(folder, component.file_name));
  };

  std::string text = "Type=" + type + "\r\n";
  text += "Reference=*\\G{00020430-0000-0000-C000-000000000046}#2.0#0#..\\..\\WINDOWS\\system32\\stdole2.tlb#OLE Automation\r\n";
  std::string startup;  // the first form, else Sub Main
  for (const auto& component : project.components) {
    const char* keyword = KeywordOf(component->type);
    if (!keyword) continue;
    const std::string file = reference(*component);
    switch (component->type) {
      case 1:
      case 2:
        text += std::string(keyword) + "=" + Ansi(component->name) + "; " + file + "\r\n";
        break;
      case 4:
        text += std::string(keyword) + "=\"" + file + "\"\r\n";
        break;
      default:
        text += std::string(keyword) + "=" + file + "\r\n";
        break;
    }
    if (startup.empty() && component->type == 5) startup = Ansi(component->name);
  }
  std::wstring build = project.build_file_name.empty() ? project.name + (project.type == 2   ? L".dll"
                                                                          : project.type == 3 ? L".ocx"
                                                                                              : L".exe")
                                                       : NameOf(project.build_file_name);
  text += "Startup=\"" + (startup.empty() ? std::string("Sub Main") : startup) + "\"\r\n";
  text += "Command32=\"\"\r\n";
  text += "Name=\"" + Ansi(project.name) + "\"\r\n";
  text += "ExeName32=\"" + Ansi(build) + "\"\r\n";
  text += "HelpContextID=\"0\"\r\n"
          "CompatibleMode=\"0\"\r\n"
          "MajorVer=1\r\n"
          "MinorVer=0\r\n"
          "RevisionVer=0\r\n"
          "AutoIncrementVer=0\r\n"
          "ServerSupportFiles=0\r\n"
          "CompilationType=0\r\n"
          "OptimizationType=0\r\n"
          "NoAliasing=0\r\n"
          "BoundsCheck=0\r\n"
          "OverflowCheck=0\r\n"
          "FlPointCheck=0\r\n"
          "StartMode=0\r\n"
          "Unattended=0\r\n"
          "Retained=0\r\n"
          "ThreadPerObject=0\r\n"
          "MaxNumberOfThreads=1\r\n";
  return text;
}

std::wstring FullPath(const std::wstring& file_name) {
  if (file_name.empty() || file_name.find(L'\0') != std::wstring::npos) throw VbError(52, L"Bad file name or number");
  const DWORD n = GetFullPathNameW(file_name.c_str(), 0, nullptr, nullptr);
  if (n == 0) throw FileError(GetLastError());
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(file_name.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) throw FileError(GetLastError());
  full.resize(written);
  if (full.back() == L'\\' || full.back() == L'/') throw VbError(52, L"Bad file name or number");
  // A device's name (Nul.cls) gives the device's own path (\\.\NUL): the IDE
  // keeps the name in its folder, where the files beside it are named too.
  if (full.starts_with(L"\\\\.\\") && !file_name.starts_with(L"\\\\.\\")) {
    return FullPath(FolderOf(file_name)) + L"\\" + NameOf(file_name);
  }
  // The IDE's file names are 8-bit paths of fewer than MAX_PATH bytes in the
  // system's code page: a longer one it does not find.
  if (quarnel::AnsiLength(full) >= MAX_PATH) throw VbError(76, L"Path not found");
  return full;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  // A device's name (Nul.cls) is the device in any folder: the bytes go to it,
  // nothing reaches the disk, and the write succeeds.
  if (RtlIsDosDeviceName_U(path.c_str()) != 0) {
    const auto device = quarnel::file_handle(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    if (!device || !WriteFile(device.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      throw FileError(GetLastError());
    }
    return;
  }
  // Written beside the target first, then moved over it in one step. The file
  // beside it has a longer name than the target, which may take all of
  // MAX_PATH: both are named in the form that has no such limit.
  const std::wstring whole = path.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + path.substr(2) : L"\\\\?\\" + path;
  const std::wstring temp = whole + L".~vbs";
  // A folder or a read-only file in the way: the IDE opens the file for
  // writing, which Windows refuses; a hidden or system file too, which it
  // opens anew with normal attributes (Wine, run by root, would not refuse
  // any: asked here).
  const DWORD there = GetFileAttributesW(whole.c_str());
  if (there != INVALID_FILE_ATTRIBUTES && (there & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
    throw VbError(75, L"Path/File access error");
  }
  // The IDE opens a file that is there for writing, sharing it with nobody: one
  // another program holds open, or one Windows does not let this process
  // change, fails there (and a folder in which it may not create files, at the
  // file beside it below).
  if (there != INVALID_FILE_ATTRIBUTES &&
      !quarnel::file_handle(CreateFileW(whole.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr))) {
    throw FileError(GetLastError());
  }
  auto remove_temp = quarnel::scope_exit([&] { DeleteFileW(temp.c_str()); });
  {
    auto file = quarnel::file_handle(
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw FileError(GetLastError());
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      throw FileError(GetLastError());
    }
  }
  if (!MoveFileExW(temp.c_str(), whole.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw FileError(GetLastError());
  }
  remove_temp.release();
}

}  // namespace standin::detail

namespace standin::detail {
namespace {

std::string ReadWholeFile(const std::wstring& path) {
  auto file = quarnel::file_handle(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw FileError(GetLastError());
  std::string bytes;
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}


std::string Trim(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string Unquote(std::string text) {
  text = Trim(std::move(text));
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  return text;
}

bool StartsWithText(const std::string& line, const char* prefix) {
  const size_t n = strlen(prefix);
  return line.size() >= n && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, line.data(), static_cast<int>(n),
                                            prefix, static_cast<int>(n)) == CSTR_EQUAL;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

struct SourceFile {
  std::string name;    // from Attribute VB_Name; empty when it has none
  std::string header;  // the bytes before the code, as they are
  std::string code;    // the rest, without its last line end
};

// Whether `line` is the keyword `word` alone or followed by a space.
bool IsKeyword(const std::string& line, const char* word) {
  const size_t n = strlen(word);
  return StartsWithText(line, word) && (line.size() == n || line[n] == ' ' || line[n] == '\t');
}

// Splits a component file into its header and its code, by the IDE's header
// grammar: an optional VERSION line; Begin ... End blocks of the object and its
// controls, with BeginProperty ... EndProperty blocks nested in them (and in
// each other); Object = lines; then the Attribute lines. The code starts after
// the last of them. Throws HostError for a header whose blocks do not close.
SourceFile ReadSource(const std::string& text) {
  SourceFile source;
  size_t code_start = text.size();
  std::vector<bool> blocks;  // open blocks, innermost last: true for a property block
  bool first = true;
  int number = 0;
  auto malformed = [&](const char* what) {
    return VbError(75, std::wstring(L"The file's header cannot be read (") + Wide(what) + L", line " +
                           std::to_wstring(number) + L")");
  };
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    const std::string line = Trim(text.substr(start, next - start));
    ++number;
    const bool version = first && StartsWithText(line, "VERSION ");
    first = false;
    if (version) {
      // The format's version: part of the header.
    } else if (IsKeyword(line, "BeginProperty")) {
      if (blocks.empty()) throw malformed("BeginProperty outside an object");
      blocks.push_back(true);
    } else if (IsKeyword(line, "EndProperty")) {
      if (blocks.empty() || !blocks.back()) throw malformed("EndProperty without BeginProperty");
      blocks.pop_back();
    } else if (IsKeyword(line, "Begin")) {
      if (!blocks.empty() && blocks.back()) throw malformed("Begin inside a property block");
      blocks.push_back(false);
    } else if (IsKeyword(line, "End")) {
      if (blocks.empty()) throw malformed("End without Begin");
      if (blocks.back()) throw malformed("End before EndProperty");
      blocks.pop_back();
    } else if (!blocks.empty() || StartsWithText(line, "Object =") || StartsWithText(line, "Object=")) {
      // A property of the open block, or a control library the form uses.
    } else if (StartsWithText(line, "Attribute ")) {
      if (StartsWithText(line, "Attribute VB_Name")) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) source.name = Unquote(line.substr(equals + 1));
      }
    } else {
      code_start = start;
      break;
    }
    start = next;
  }
  if (!blocks.empty()) throw malformed(blocks.back() ? "no EndProperty" : "no End");
  source.header = text.substr(0, code_start);
  source.code = text.substr(code_start);
  if (source.code.size() >= 2 && source.code.compare(source.code.size() - 2, 2, "\r\n") == 0) {
    source.code.resize(source.code.size() - 2);
  } else if (!source.code.empty() && source.code.back() == '\n') {
    source.code.pop_back();
  }
  return source;
}

// The binary files beside a component's file, by the extensions of its kind,
// each with its extension as the folder spells it.
std::vector<std::pair<std::wstring, std::string>> ReadCompanions(const std::wstring& file, int type) {
  std::vector<std::pair<std::wstring, std::string>> companions;
  const std::wstring stem = FolderOf(file) + L"\\" + BaseName(file);
  for (const std::wstring& extension : CompanionExtensions(type)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((stem + extension).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    FindClose(search);
    const std::wstring name = found.cFileName;
    const size_t dot = name.find_last_of(L'.');
    const std::wstring spelled = dot == std::wstring::npos ? extension : name.substr(dot);
    companions.emplace_back(spelled, ReadWholeFile(stem + spelled));
  }
  return companions;
}

}  // namespace

std::shared_ptr<ProjectNode> ReadProject(const std::wstring& path, std::vector<std::wstring>* problems) {
  const std::wstring full = FullPath(path);
  const std::wstring folder = FolderOf(full);
  auto project = std::make_shared<ProjectNode>();
  project->file_name = full;
  project->dirty = false;
  project->lines_folder = folder;
  bool named = false;

  auto resolve = [&](const std::string& reference) {
    const std::wstring file = Wide(Unquote(reference));
    return FullPath(IsRelative(file) ? folder + L"\\" + file : file);
  };
  // Adds the component the line names; false when its file cannot be read: the
  // IDE reports it and opens the rest of the project without it.
  auto add = [&](int type, const std::string& declared_name, const std::string& reference) {
    auto component = std::make_shared<ComponentNode>();
    component->project = project;
    component->type = type;
    component->dirty = false;
    try {
      component->file_name = resolve(reference);
      const std::string text = ReadWholeFile(component->file_name);
      if (type == 4) {
        component->header = text;
        component->name = BaseName(component->file_name);
      } else if (type == 10) {
        component->name = NameOf(component->file_name);
        component->code = Wide(text);
      } else {
        // The designer block tells an MDI form from a form, and a UserForm from other designers.
        const std::string head = text.substr(0, 256);
        if (type == 5 && head.find("Begin VB.MDIForm") != std::string::npos) component->type = 6;
        if (type == 11 && head.find("{C62A69F0-16DC-11CE-9E98-00AA00574A4F}") != std::string::npos) component->type = 3;
        const SourceFile source = ReadSource(text);
        // The component's name is its VB_Name; the project file's, for a file without one.
        const std::string name = !source.name.empty() ? source.name : declared_name;
        component->name = name.empty() ? BaseName(component->file_name) : Wide(name);
        component->header = source.header;
        component->code = Wide(source.code);
        component->companions = ReadCompanions(component->file_name, component->type);
      }
    } catch (const HostError& error) {
      if (problems) problems->push_back(error.description + L": " + Wide(Unquote(reference)));
      return false;
    }
    component->line = static_cast<int>(project->lines.size());
    project->components.push_back(std::move(component));
    return true;
  };

  for (const std::string& raw : Lines(ReadWholeFile(full))) {
    const size_t equals = raw.find('=');
    const std::string key = equals == std::string::npos ? std::string() : Trim(raw.substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : Trim(raw.substr(equals + 1));
    auto is = [&](const char* name) { return _stricmp(key.c_str(), name) == 0; };
    bool keep = true;
    if (is("Type")) {
      static const char* const kTypes[] = {"Exe", "OleExe", "OleDll", "Control"};
      for (int t = 0; t < 4; ++t) {
        if (_stricmp(value.c_str(), kTypes[t]) == 0) project->type = t;
      }
    } else if (is("Name")) {
      project->name = Wide(Unquote(value));
      named = !project->name.empty();
    } else if (is("ExeName32")) {
      project->build_file_name = Wide(Unquote(value));
    } else if (is("Module") || is("Class")) {
      // Name; file
      const size_t semicolon = value.find(';');
      const int type = is("Module") ? 1 : 2;
      keep = semicolon == std::string::npos
                 ? add(type, "", value)
                 : add(type, Trim(value.substr(0, semicolon)), value.substr(semicolon + 1));
    } else if (is("Form")) {
      keep = add(5, "", value);
    } else if (is("PropertyPage")) {
      keep = add(7, "", value);
    } else if (is("UserControl")) {
      keep = add(8, "", value);
    } else if (is("UserDocument")) {
      keep = add(9, "", value);
    } else if (is("Designer")) {
      keep = add(11, "", value);
    } else if (is("RelatedDoc")) {
      keep = add(10, "", value);
    } else if (is("ResFile32")) {
      keep = add(4, "", value);
    }
    // A component that did not open is not part of the project the IDE saves.
    if (keep) project->lines.push_back(raw);
  }
  if (!named) throw VbError(7, L"The project file names no project");
  return project;
}

}  // namespace standin::detail
