// Real projects through the add-in: a project the VB6 IDE wrote (and a small one
// in its formats with every kind of file) opened in the stand-in IDE, one
// component changed, saved by the save command into a new folder and opened
// again. The stand-in plays the IDE's file writing, so what it writes must be
// what the IDE would: every line and byte kept but what the IDE rewrites.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

#include "ide/host.h"
#include "common/ansi.h"
#include "common/app.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"
#include "save/project_save.h"
#include "standin/ide.h"
#include "support/dialog_driver.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

using test::ReadBytes;
using test::TempFolder;

// The test data in the source tree, seen from Wine.
const std::wstring kData = L"" QUARNEL_TEST_DATA;
const std::string kChange = "' changed by the test";
const wchar_t* const kCompanions[] = {L".frx", L".ctx", L".pgx", L".dox", L".dsx", L".dca"};

void CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  const std::set<std::wstring> names = test::FilesIn(from);
  ASSERT_FALSE(names.empty()) << test::Utf8(from);
  for (const std::wstring& name : names) {
    if (test::FolderExists(from + L"\\" + name)) {
      CopyTree(from + L"\\" + name, to + L"\\" + name);
    } else {
      ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE));
    }
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? text.size() : end + 2;
  }
  return lines;
}

// A path of a project file line as a full path, from the project file's folder.
std::wstring Resolve(const std::wstring& folder, std::string path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  const std::wstring wide = FromAnsi(path);
  const bool absolute = wide.size() > 1 && wide[1] == L':';
  wchar_t full[MAX_PATH] = {};
  GetFullPathNameW((absolute ? wide : folder + L"\\" + wide).c_str(), MAX_PATH, full, nullptr);
  std::wstring out = full;
  std::transform(out.begin(), out.end(), out.begin(), ::towlower);
  return out;
}

// The key of a project file line and the path in it, if it names a file.
struct FileLine {
  std::string key;
  std::string path;  // empty: the line names no file
};
FileLine Parse(const std::string& line) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return {};
  FileLine out{line.substr(0, equals), line.substr(equals + 1)};
  static const char* const kFileKeys[] = {"Form",     "UserControl", "PropertyPage", "UserDocument",
                                          "Designer", "RelatedDoc",  "ResFile32",    "Module",
                                          "Class",    "Path32",      "CompatibleEXE32", "HelpFile"};
  if (out.key == "Module" || out.key == "Class") out.path = out.path.substr(out.path.find(';') + 2);
  if (out.key == "Reference") {
    // *\G{...}#version#lcid#path#description
    size_t at = 0;
    for (int i = 0; i < 3; ++i) at = out.path.find('#', at) + 1;
    out.path = out.path.substr(at, out.path.find('#', at) - at);
    return out;
  }
  if (out.path == "\"\"" ||
      std::none_of(std::begin(kFileKeys), std::end(kFileKeys), [&](const char* k) { return out.key == k; })) {
    out.path.clear();  // no file, or none named
  }
  return out;
}

std::string Quoted(const std::wstring& name) {
  std::string out(1, '"');
  out += test::Utf8(name);
  out += '"';
  return out;
}

struct Case {
  const wchar_t* folder;   // below the test data
  const wchar_t* project;  // its project file
  const wchar_t* change;   // the component the user changes
};

class RealProject : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    oIni = std::make_unique<CIniManag>();
    CopyTree(kData + L"\\" + GetParam().folder, source);
    CreateDirectoryW(dest.c_str(), nullptr);
    test::WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=" + std::string(dest.begin(), dest.end()) + "\r\n");
  }
  void TearDown() override {
    frmAddIn::Default().Unload();
    oIni.reset();
    sDefaultFolder.clear();
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0);
    test::RemoveTree(SettingsPath());
    CoUninitialize();
  }
  static std::wstring SettingsPath() { return AppPath() + L"\\Quarnel.ini"; }

  // Saves the active project through the add-in into `dest`.
  void SaveThroughTheAddin() {
    test::ScriptedDialogs dialogs;
    dialogs.answers = {dest};
    const ScopedDialogs in_force(dialogs);
    const host::VBE vbe = host::VBE::FromApplication(ide->application().Get());
    std::wstring init_folder;
    ProjectSaveCommand(vbe, init_folder);
    EXPECT_TRUE(dialogs.messages.empty()) << test::Utf8(dialogs.messages.empty() ? L"" : dialogs.messages[0].text);
  }

  TempFolder work;
  const std::wstring source = work / L"source";
  const std::wstring dest = work / L"dest";
  std::unique_ptr<standin::Ide> ide = std::make_unique<standin::Ide>();
};

TEST_P(RealProject, SavedIntoANewFolderKeepsEveryLineAndByteTheIdeDoesNotRewrite) {
  const std::wstring vbp = source + L"\\" + GetParam().project;
  std::vector<std::wstring> problems;
  const std::wstring name = ide->open_project(vbp, &problems);
  EXPECT_TRUE(problems.empty()) << test::Utf8(problems.empty() ? L"" : problems[0]);
  const standin::Project opened = *ide->find_project(name);
  const auto changed = std::find_if(opened.components.begin(), opened.components.end(),
                                    [&](const standin::Component& c) { return c.name == GetParam().change; });
  ASSERT_NE(changed, opened.components.end());
  ide->change(name, GetParam().change, FromAnsi(kChange));
  SaveThroughTheAddin();

  // The changed component is in the new folder under its name; its binary files
  // went with it, byte for byte, and its header names them by the new name.
  const std::wstring old_file = changed->file_name;
  const std::wstring stem = old_file.substr(0, old_file.find_last_of(L'.'));
  const std::wstring old_base = stem.substr(stem.find_last_of(L'\\') + 1);
  const std::wstring new_file = dest + L"\\" + changed->name + ExtensionOfKind(changed->type);
  std::string expected = ReadBytes(old_file);
  for (const wchar_t* extension : kCompanions) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((stem + extension).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    FindClose(search);
    const std::wstring spelled = found.cFileName;
    const std::wstring ext = spelled.substr(spelled.find_last_of(L'.'));
    EXPECT_EQ(ReadBytes(dest + L"\\" + changed->name + ext), ReadBytes(stem + ext)) << test::Utf8(ext);
    const std::string from = Quoted(old_base + ext), to = Quoted(changed->name + ext);
    for (size_t at = expected.find(from); at != std::string::npos; at = expected.find(from, at + to.size())) {
      expected.replace(at, from.size(), to);
    }
  }
  EXPECT_EQ(ReadBytes(new_file), expected + kChange + "\r\n") << "the original plus the change";

  // The project file: every line as it was, in order, but the paths the IDE
  // writes relative to the new folder, which still lead to the same files.
  const std::wstring saved_vbp = dest + L"\\" + name + L".vbp";
  const auto before = Lines(ReadBytes(vbp));
  const auto after = Lines(ReadBytes(saved_vbp));
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    const FileLine was = Parse(before[i]), is = Parse(after[i]);
    if (was.path.empty()) {
      EXPECT_EQ(after[i], before[i]);
      continue;
    }
    EXPECT_EQ(is.key, was.key);
    const bool absolute = was.path.size() > 1 && was.path[1] == ':';
    const std::wstring target = Resolve(source, was.path);
    const bool is_changed = target == Resolve(source, ToAnsi(old_file));
    EXPECT_EQ(Resolve(dest, is.path), is_changed ? Resolve(dest, ToAnsi(new_file)) : target) << before[i];
    if (absolute) {
      EXPECT_EQ(after[i], before[i]) << "a full path stays as it was";
    }
  }

  // Opened again: every component is there.
  standin::Ide again;
  problems.clear();
  ASSERT_EQ(again.open_project(saved_vbp, &problems), name);
  EXPECT_TRUE(problems.empty());
  const standin::Project reopened = *again.find_project(name);
  ASSERT_EQ(reopened.components.size(), opened.components.size());
  for (size_t i = 0; i < opened.components.size(); ++i) {
    EXPECT_EQ(reopened.components[i].name, opened.components[i].name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Projects, RealProject,
    ::testing::Values(Case{L"vb6-projects\\delete-vbw-addin", L"Delete_vbw_files_Add-In.vbp", L"Connect"},
                      Case{L"kinds", L"Kinds.vbp", L"frmMain"}, Case{L"kinds", L"Kinds.vbp", L"Gauge"},
                      Case{L"kinds", L"Kinds.vbp", L"Page1"}, Case{L"kinds", L"Kinds.vbp", L"Tools"},
                      Case{L"kinds", L"Kinds.vbp", L"Item"},
                      Case{L"blocks", L"Blocks.vbp", L"frmReport"}, Case{L"blocks", L"Blocks.vbp", L"Report"},
                      Case{L"blocks", L"Blocks.vbp", L"Relat\u00F3rio_Produtos"}),
    [](const ::testing::TestParamInfo<Case>& param_info) {
      std::string name = test::Utf8(std::wstring(param_info.param.folder) + L"_" + param_info.param.change);
      for (char& ch : name) ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// An untidy project: a component file gone, and one whose header does not close,
// are reported and the rest opens; the project opened again replaces the one of
// that name, as File > Open Project does.
TEST(UntidyProject, MissingFileIsReportedAndOpeningAgainReplaces) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    TempFolder work;
    CopyTree(kData + L"\\kinds", work.path());
    ASSERT_TRUE(DeleteFileW((work / L"Modules\\Tools.bas").c_str()));
    test::WriteBytes(work / L"Pages\\Page1.pag", "VERSION 5.00\r\nBegin VB.PropertyPage Page1\r\n   BeginProperty Font\r\nEnd\r\n");
    standin::Ide ide;
    std::vector<std::wstring> problems;
    ASSERT_EQ(ide.open_project(work / L"Kinds.vbp", &problems), L"Kinds");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0], L"The file's header cannot be read (End before EndProperty, line 4): Pages\\Page1.pag");
    EXPECT_NE(problems[1].find(L"Modules\\Tools.bas"), std::wstring::npos) << test::Utf8(problems[1]);
    EXPECT_EQ(ide.find_project(L"Kinds")->components.size(), 4u);
    ide.change(L"Kinds", L"Item");
    EXPECT_EQ(ide.open_project(work / L"Kinds.vbp"), L"Kinds");
    EXPECT_EQ(ide.project_names(), std::vector<std::wstring>{L"Kinds"});
    EXPECT_FALSE(ide.find_project(L"Kinds")->components[2].dirty) << "the file as it is on disk";
  }
  EXPECT_EQ(standin::LiveObjects(), 0);
  CoUninitialize();
}

}  // namespace
}  // namespace quarnel
