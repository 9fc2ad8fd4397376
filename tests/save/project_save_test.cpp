// The project save command against the stand-in IDE, with scripted dialogs: what
// the user is shown, in order, what the IDE is asked to write, and what the
// settings file holds afterwards.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "ide/host.h"
#include "common/ansi.h"
#include "common/app.h"
#include "common/error.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"
#include "save/project_save.h"
#include "save/file_identity.h"
#include "save/save_progress.h"
#include "standin/ide.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using test::FileExists;
using test::ReadBytes;
using test::TempFolder;

constexpr UINT kInfo = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND;
constexpr UINT kWarning = MB_OK | MB_ICONWARNING | MB_SETFOREGROUND;
constexpr UINT kErrorIcon = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
constexpr UINT kNoIcon = MB_OK | MB_SETFOREGROUND;
constexpr wchar_t kDocuments[] = L"C:\\users\\me\\Documents";

class SaveCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    test::RemoveTree(SettingsPath());
    oIni = std::make_unique<CIniManag>();
    bItalian = false;
    dialogs.documents = kDocuments;
  }
  void TearDown() override {
    frmAddIn::Default().Unload();
    oIni.reset();
    sDefaultFolder.clear();
    bItalian = false;
    vbe = host::VBE();
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0);
    test::RemoveTree(SettingsPath());
    CoUninitialize();
  }

  static std::wstring SettingsPath() { return AppPath() + L"\\Quarnel.ini"; }
  // A row of a table: a new folder `name` below the test's, a new IDE, and the
  // dialogs answering the picker with that folder.
  std::wstring Afresh(const std::wstring& name) {
    const std::wstring dest = folders / name;
    CreateDirectoryW(dest.c_str(), nullptr);
    vbe = host::VBE();
    ide = std::make_unique<standin::Ide>();
    dialogs = {};
    dialogs.answers = {dest};
    return dest;
  }
  void StoreDefaultFolder(const std::wstring& folder) {
    test::WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=" +
                                         std::string(folder.begin(), folder.end()) + "\r\n");
  }

  void Click() {
    if (!vbe) vbe = host::VBE::FromApplication(ide->application().Get());
    const ScopedDialogs in_force(dialogs);
    ProjectSaveCommand(vbe, init_folder);
  }

  // The paths the IDE was asked to save to, in order.
  std::vector<std::wstring> SaveAsPaths() const {
    std::vector<std::wstring> paths;
    for (const auto& call : ide->calls()) {
      if (call.kind == standin::Call::Kind::kInvoke && call.member == L"SaveAs") {
        paths.push_back(call.args.substr(1, call.args.size() - 2));  // unquoted
      }
    }
    return paths;
  }
  size_t FocusSteps() const { return ide->focus_history().size(); }
  std::vector<std::wstring> MessageTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& m : dialogs.messages) texts.push_back(m.text);
    return texts;
  }

  std::unique_ptr<standin::Ide> ide = std::make_unique<standin::Ide>();
  host::VBE vbe;
  test::ScriptedDialogs dialogs;
  std::wstring init_folder;
  TempFolder folders;
};

// --- First use --------------------------------------------------------------------

struct FirstUseTexts {
  bool italian;
  const wchar_t* no_default_folder;
  const wchar_t* caption_default_folder;
  const wchar_t* important;
  const wchar_t* ready;
  const wchar_t* caption_destination;
};

class FirstUse : public SaveCommand, public ::testing::WithParamInterface<FirstUseTexts> {};

TEST_P(FirstUse, StoresTheChosenFolderAndOpensTheDestinationThere) {
  const FirstUseTexts& texts = GetParam();
  bItalian = texts.italian;
  const std::wstring default_folder = folders / L"Projects";
  const std::wstring destination = folders / L"Dest";
  CreateDirectoryW(default_folder.c_str(), nullptr);
  CreateDirectoryW(destination.c_str(), nullptr);
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {default_folder, destination};

  Click();

  EXPECT_EQ(dialogs.sequence,
            (std::vector<std::wstring>{std::wstring(L"message: ") + texts.no_default_folder,
                                       std::wstring(L"picker: ") + texts.caption_default_folder,
                                       std::wstring(L"message: ") + texts.important,
                                       std::wstring(L"message: ") + texts.ready,
                                       std::wstring(L"picker: ") + texts.caption_destination}));
  for (const auto& m : dialogs.messages) {
    EXPECT_EQ(m.title, L"Quarnel");
    EXPECT_EQ(m.flags, kInfo);
  }
  ASSERT_EQ(dialogs.pickers.size(), 2u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, kDocuments);
  EXPECT_EQ(dialogs.pickers[0].flags, 0u);
  EXPECT_EQ(dialogs.pickers[1].initial_folder, default_folder);
  EXPECT_EQ(dialogs.pickers[1].flags, 0x4055u);
  // Both owned by the form's default instance, hidden, which is unloaded again.
  EXPECT_TRUE(dialogs.pickers[0].owned_by_default_form);
  EXPECT_TRUE(dialogs.pickers[1].owned_by_default_form);
  EXPECT_FALSE(frmAddIn::Default().Loaded());

  const std::string narrow(default_folder.begin(), default_folder.end());
  EXPECT_EQ(ReadBytes(SettingsPath()), "[FOLDER]\r\nDefaultFolder=" + narrow + "\r\n");
  EXPECT_EQ(sDefaultFolder, default_folder);
  EXPECT_EQ(SaveAsPaths(), (std::vector<std::wstring>{destination + L"\\Form1.frm",
                                                      destination + L"\\Project1.vbp"}));
  EXPECT_TRUE(FileExists(destination + L"\\Project1.vbp"));
  // After the Default-folder picker, after "ready", after the destination, at the end.
  EXPECT_EQ(FocusSteps(), 4u);
  for (const auto& caption : ide->focus_history()) EXPECT_EQ(caption, ide->windows().at(0));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, FirstUse,
    ::testing::Values(
        FirstUseTexts{false,
                      L"The Default folder value for the Quarnel add-in is empty.\r\nOn the next "
                      L"dialog, select the Default starting folder for yours projects.",
                      L"Select or create the starting Default folder. Next, all your projects "
                      L"will be saved starting from this folder...",
                      L"IMPORTANT: if you will change the Default folder, delete the "
                      L"[Quarnel.ini] file, from the same folder of this add-in.",
                      L"OK. Now you can save the project.\r\nSelect the folder for this project...",
                      L"Select or create the Destination folder for this project:"},
        FirstUseTexts{true,
                      L"Non avete ancora impostata la cartella Predefinita. Nella prossima "
                      L"\r\nfinestra selezionate la cartella che dovr\u00E0 contenere i vostri "
                      L"progetti.",
                      L"Selezionare, o creare, la cartella Predefinita di partenza. D'ora in "
                      L"avanti tutti i vostri progetti verranno salvati partendo da questa "
                      L"cartella...",
                      L"IMPORTANTE: Se in seguito desiderate modificare la cartella Predefinita, "
                      L"cancellate il file [Quarnel.ini] che si trova nella stessa cartella di "
                      L"questo add-in.",
                      L"OK. Ora potete salvare il progetto.\r\nSelezionate la cartella per questo "
                      L"progetto...",
                      L"Selezionare (o creare) la cartella di destinazione in cui salvare il "
                      L"progetto corrente."}),
    [](const auto& test_info) { return test_info.param.italian ? "Italian" : "English"; });

TEST_F(SaveCommand, FirstUseCancelledStoresNothingAndAsksAgainNextTime) {
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {L""};
  Click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, L"Selected folder none. Action aborted.");
  EXPECT_EQ(dialogs.messages[1].flags, kWarning);
  EXPECT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(ReadBytes(SettingsPath()), "") << "the file is made, the key is not";
  EXPECT_TRUE(SaveAsPaths().empty());
  EXPECT_EQ(FocusSteps(), 2u);

  Click();
  EXPECT_EQ(dialogs.messages.at(2).text.substr(0, 20), L"The Default folder v");
}

TEST_F(SaveCommand, DeletedSettingsFileStartsFirstUseAgain) {
  sDefaultFolder = L"C:\\Held\\In\\Memory";  // from an earlier click; the file is gone
  ide->project(L"Project1").form(L"Form1").build();
  Click();
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(dialogs.messages[0].flags, kInfo);
  EXPECT_EQ(dialogs.pickers.at(0).initial_folder, kDocuments);
  EXPECT_TRUE(FileExists(SettingsPath()));
}

// --- With a Default folder stored -----------------------------------------------------

TEST_F(SaveCommand, SavedProjectOnlySaysSoAndLoadsNoForm) {
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").saved_as(L"C:\\Work\\Project1.vbp").form(L"Form1").clean().build();
  Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"Project already saved."});
  EXPECT_EQ(dialogs.messages[0].flags, kInfo);
  EXPECT_TRUE(dialogs.pickers.empty());
  EXPECT_FALSE(frmAddIn::Default().Loaded());
  EXPECT_EQ(FocusSteps(), 1u);
}

TEST_F(SaveCommand, ProjectSavedEarlierOpensAtItsFolderAndCancelWritesNothing) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::string before = ReadBytes(SettingsPath());
  ide->project(L"Project1").saved_as(L"E:\\Work\\Old\\Project1.vbp").form(L"Form1").build();
  Click();
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, L"E:\\Work\\Old\\");
  EXPECT_EQ(dialogs.pickers[0].prompt, L"Select or create the Destination folder for this project:");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(SaveAsPaths().empty());
  EXPECT_EQ(ReadBytes(SettingsPath()), before);
  EXPECT_EQ(FocusSteps(), 2u);
}

TEST_F(SaveCommand, ProjectFileWithoutBackslashOpensAtNothing) {
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").saved_as(L"Project1.vbp").form(L"Form1").build();
  Click();
  EXPECT_EQ(dialogs.pickers.at(0).initial_folder, L"");
}

TEST_F(SaveCommand, ComponentsInHostOrderThenTheProjectFile) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  ide->project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
  dialogs.answers = {dest};
  Click();
  EXPECT_EQ(dialogs.pickers.at(0).initial_folder, L"C:\\Projects");
  EXPECT_EQ(SaveAsPaths(),
            (std::vector<std::wstring>{dest + L"\\Form1.frm", dest + L"\\Module1.bas",
                                       dest + L"\\Class1.cls", dest + L"\\Project1.vbp"}));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(ide->find_project(L"Project1")->saved);
}

TEST_F(SaveCommand, EveryKindGetsItsExtensionAndARelatedDocumentCannotBeSaved) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  auto project = ide->project(L"Project1");
  for (int kind = 1; kind <= 11; ++kind) project.component(L"C" + std::to_wstring(kind), kind);
  project.build();
  dialogs.answers = {dest};
  Click();
  const wchar_t* expected[] = {L"C1.bas", L"C2.cls", L"C3.frm", L"C4.res", L"C5.frm",
                               L"C6.frm", L"C7.pag", L"C8.ctl", L"C9.dob", L"C11.dsr",
                               L"Project1.vbp"};
  std::vector<std::wstring> expected_paths;
  for (const wchar_t* name : expected) expected_paths.push_back(dest + L"\\" + name);
  EXPECT_EQ(SaveAsPaths(), expected_paths);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, L"Can't save this Component.");
  EXPECT_EQ(dialogs.messages[0].flags, kErrorIcon);
}

TEST_F(SaveCommand, UnknownKindSaysBohAndKeepsThePreviousExtension) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  ide->project(L"Project1")
      .component(L"First", 42)   // nothing before it: cannot be saved
      .module(L"Module1")
      .cls(L"Class1").clean()    // not saved, but its kind is read all the same
      .component(L"Odd", 12)     // takes ".cls" from Class1
      .build();
  dialogs.answers = {dest};
  std::vector<size_t> written;  // when each message came: after how many files
  dialogs.on_message = [&](const std::wstring&) { written.push_back(ide->count(L"_VBComponent.SaveAs")); };
  Click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::wstring>{L" BOH!", L"Can't save this Component.",
                                                       L" BOH!"}));
  EXPECT_EQ(written, std::vector<size_t>(3, 0)) << "all said before the first file";
  EXPECT_EQ(dialogs.messages[0].flags, kNoIcon);
  EXPECT_EQ(SaveAsPaths(), (std::vector<std::wstring>{dest + L"\\Module1.bas", dest + L"\\Odd.cls",
                                                      dest + L"\\Project1.vbp"}));
}

TEST_F(SaveCommand, CleanComponentIsSkippedSilently) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  ide->project(L"Project1").form(L"Form1").clean().module(L"Module1").build();
  dialogs.answers = {dest};
  Click();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(SaveAsPaths(), (std::vector<std::wstring>{dest + L"\\Module1.bas",
                                                      dest + L"\\Project1.vbp"}));
}

TEST_F(SaveCommand, SeparatorIsInsertedAfterATrailingBackslash) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path() + L"\\";  // as a drive root comes back: D:\ .
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {dest};
  Click();
  EXPECT_EQ(SaveAsPaths(), (std::vector<std::wstring>{dest + L"\\Form1.frm",
                                                      dest + L"\\Project1.vbp"}));
}

// What cannot be known before (the disk fills): the save ends at that file and
// the user is told which files it wrote before.
TEST_F(SaveCommand, HostFailureEndsTheCommandAndKeepsWhatWasWritten) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  ide->project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
  dialogs.answers = {dest};
  ide->fail({.description = L"Disk is full", .operation = L"_VBComponent.SaveAs", .call = 3});
  try {
    Click();
    FAIL() << "the failure did not reach the caller";
  } catch (const Error& error) {
    EXPECT_EQ(error.description(), L"Disk is full");
  }
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"Disk is full\n\n" + dest +
                                                      L"\\Class1.cls\n\nAlready written: Form1.frm, Module1.bas"});
  EXPECT_EQ(test::FilesIn(dest), (std::set<std::wstring>{L"Form1.frm", L"Module1.bas"}));
  EXPECT_EQ(FocusSteps(), 1u) << "only the one after the destination picker";
}

TEST_F(SaveCommand, ItalianUserSeesItalianMessages) {
  bItalian = true;
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").saved_as(L"C:\\Work\\Project1.vbp").form(L"Form1").clean().build();
  Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{L"Progetto gi\u00E0 salvato."});
  EXPECT_EQ(dialogs.messages[0].title, L"Quarnel");

  ide->project(L"Project2").component(L"Notes", 10).build();
  ide->set_active_project(L"Project2");
  dialogs.answers = {folders.path()};
  Click();
  EXPECT_EQ(dialogs.messages.at(1).text, L"Non \u00E8 possibile salvare questo Componente");
  EXPECT_EQ(dialogs.pickers.at(0).prompt,
            L"Selezionare (o creare) la cartella di destinazione in cui salvare il progetto "
            L"corrente.");
  EXPECT_EQ(SaveAsPaths(), std::vector<std::wstring>{folders.path() + L"\\Project2.vbp"});
}

}  // namespace
}  // namespace quarnel

namespace quarnel {
namespace {

// --- Hostile settings files and destinations: a clear outcome, nothing lost ----------

TEST_F(SaveCommand, SettingsFileOfBinaryJunkIsFirstUseAndStaysAsItWas) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) % 256);
  test::WriteBytes(SettingsPath(), junk);
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {L""};  // the user cancels the first-use picker
  Click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text, L"Selected folder none. Action aborted.");
  EXPECT_EQ(ReadBytes(SettingsPath()), junk) << "nothing is written when nothing was chosen";
}

TEST_F(SaveCommand, VeryLongLinesAndARepeatedKeyStillFindTheFolder) {
  const std::string long_line(200000, 'x');
  test::WriteBytes(SettingsPath(), "[OTHER]\r\nk=" + long_line + "\r\n[FOLDER]\r\nDefaultFolder=C:\\First\r\n"
                                   "DefaultFolder=C:\\Second\r\n");
  ide->project(L"Project1").form(L"Form1").build();
  Click();  // the destination picker is cancelled
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, L"C:\\First") << "the first of two keys counts";
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SaveCommand, RepeatedSectionReadsTheFirstAndLeavesTheFileAsItWas) {
  const std::string settings =
      "[FOLDER]\r\nDefaultFolder=C:\\First\r\n[OTHER]\r\nk=v\r\n[FOLDER]\r\nDefaultFolder=C:\\Second\r\n";
  test::WriteBytes(SettingsPath(), settings);
  ide->project(L"Project1").form(L"Form1").build();
  Click();
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, L"C:\\First");
  EXPECT_EQ(ReadBytes(SettingsPath()), settings);
}

TEST_F(SaveCommand, KeyOnlyInARepeatedSectionIsStoredWhereTheNextClickFindsIt) {
  // The profile functions look into the first section of a name only: the key
  // in the second is not found, and the first use begins.
  test::WriteBytes(SettingsPath(), "[FOLDER]\r\nOther=1\r\n[FOLDER]\r\nDefaultFolder=C:\\Second\r\n");
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {L"C:\\Chosen", L""};
  Click();
  ASSERT_EQ(dialogs.pickers.size(), 2u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, kDocuments) << "first use";
  // A folder chosen then must be found by the next click, or every click would
  // ask for it again.
  dialogs = {};
  Click();
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_TRUE(dialogs.messages.empty()) << "no first use again";
  EXPECT_EQ(dialogs.pickers[0].initial_folder, L"C:\\Chosen");
  const std::string settings = ReadBytes(SettingsPath());
  EXPECT_NE(settings.find("Other=1"), std::string::npos) << "nothing lost";
  EXPECT_NE(settings.find("DefaultFolder=C:\\Second"), std::string::npos) << "nothing lost";
}

TEST_F(SaveCommand, DefaultFolderOfTheLongestPathIsReadBackCutAndTheFileKeepsIt) {
  std::wstring longest = L"C:\\";
  while (longest.size() < 259) longest += L"d";
  ASSERT_EQ(longest.size(), 259u);  // the longest path a folder picker gives back
  StoreDefaultFolder(longest);
  const std::string settings = ReadBytes(SettingsPath());
  ide->project(L"Project1").form(L"Form1").build();
  Click();
  ASSERT_EQ(dialogs.pickers.size(), 1u);
  EXPECT_EQ(dialogs.pickers[0].initial_folder, longest.substr(0, 254)) << "reads hold 254 characters";
  EXPECT_TRUE(dialogs.messages.empty()) << "it is not taken for a missing folder";
  EXPECT_EQ(ReadBytes(SettingsPath()), settings) << "a stored folder is never rewritten";
}

TEST_F(SaveCommand, FolderTheCodePageCannotNameStoresAndWritesNothing) {
  // First use: the chosen Default folder cannot be named in the 8-bit code page.
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {test::ScriptedDialogs::kUnnameable};
  try {
    Click();
    ADD_FAILURE() << "the picker's failure did not reach the caller";
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  }
  ASSERT_EQ(dialogs.messages.size(), 2u) << "the first-use explanation, then the failure";
  EXPECT_EQ(dialogs.messages[1].flags, static_cast<UINT>(MB_OK | MB_ICONERROR | MB_SETFOREGROUND));
  EXPECT_EQ(ReadBytes(SettingsPath()), "") << "no Default folder stored";

  // With a Default folder: such a destination writes nothing.
  StoreDefaultFolder(L"C:\\Projects");
  const std::string settings = ReadBytes(SettingsPath());
  dialogs = {};
  dialogs.answers = {test::ScriptedDialogs::kUnnameable};
  EXPECT_THROW(Click(), Error);
  EXPECT_TRUE(SaveAsPaths().empty());
  EXPECT_FALSE(ide->find_project(L"Project1")->saved);
  EXPECT_EQ(ReadBytes(SettingsPath()), settings);
}

TEST_F(SaveCommand, LockedSettingsFileLosesOnlyTheStoringNotTheSave) {
  const std::wstring dest = folders / L"Dest";
  CreateDirectoryW(dest.c_str(), nullptr);
  test::WriteBytes(SettingsPath(), "");
  // Another program holds the settings file open without sharing it.
  const unique_handle held = file_handle(CreateFileW(SettingsPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                                     0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  ide->project(L"Project1").form(L"Form1").build();
  dialogs.answers = {folders.path(), dest};
  Click();
  EXPECT_EQ(SaveAsPaths(), (std::vector<std::wstring>{dest + L"\\Form1.frm", dest + L"\\Project1.vbp"}));
  EXPECT_EQ(dialogs.pickers.at(1).initial_folder, folders.path()) << "used for this click";
}

// --- Files of another project in the destination -----------------------------------

// A file the save would replace that is not the component's or the project's own
// (or one the IDE may write beside them: a form's .frx, the project's .vbw) is
// named in one question (No by default) before anything is written. (A folder
// where a file would go is no such file: see the test after this one.)
TEST_F(SaveCommand, OtherProjectsFilesAreReplacedOnlyWhenTheUserSaysYes) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  test::WriteBytes(dest + L"\\FORM1.FRX", "another project's form's pictures");  // in other case
  test::WriteBytes(dest + L"\\Project1.vbp", "another project");
  test::WriteBytes(dest + L"\\Project1.vbw", "another project's windows");
  test::WriteBytes(dest + L"\\Quarnel00000001.frm", "somebody's");  // no file the save writes
  ide->project(L"Project1").form(L"Form1").module(L"Module1").build();  // never saved

  dialogs.answers = {dest};
  dialogs.buttons = {IDNO};
  Click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, ForeignFilesQuestion({L"Form1.frx", L"Project1.vbp", L"Project1.vbw"}));
  EXPECT_EQ(dialogs.messages[0].title, L"Quarnel");
  EXPECT_EQ(dialogs.messages[0].flags,
            static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND));
  EXPECT_TRUE(SaveAsPaths().empty());
  EXPECT_EQ(ReadBytes(dest + L"\\Form1.frx"), "another project's form's pictures");
  EXPECT_EQ(ReadBytes(dest + L"\\Project1.vbp"), "another project");
  EXPECT_EQ(ReadBytes(dest + L"\\Project1.vbw"), "another project's windows");
  EXPECT_FALSE(FileExists(dest + L"\\Module1.bas"));
  EXPECT_EQ(FocusSteps(), 2u) << "after the destination, and at the end";

  dialogs = {};
  dialogs.answers = {dest};
  dialogs.buttons = {IDYES};
  Click();
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(SaveAsPaths().size(), 3u);
  EXPECT_NE(ReadBytes(dest + L"\\Project1.vbp").find("Form=Form1.frm"), std::string::npos);
  const std::set<std::wstring> saved = {L"FORM1.FRX",    L"Form1.frm",    L"Module1.bas",
                                        L"Project1.vbp", L"Project1.vbw", L"Quarnel00000001.frm"};
  EXPECT_EQ(test::FilesIn(dest), saved);

  // Saved again where it now lives: every file there, those beside its own
  // files included, is its own. Each open for writing answers neither "denied"
  // nor "held" (a dropped connection, a filter's own error): the IDE's writes
  // decide.
  ide->change(L"Project1", L"Form1");
  ide->change(L"Project1", L"Module1");
  dialogs = {};
  dialogs.answers = {dest};
  PretendDrives({.open_error = ERROR_UNEXP_NET_ERR});
  Click();
  PretendDrives({});
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(ide->find_project(L"Project1")->saved);

  // And again, while another program removes Form1.frm between the folder's
  // listing and its open (it is made anew), with the checks' first name for
  // their probe taken by somebody's file (another is tried; that one is kept).
  ide->change(L"Project1", L"Form1");
  dialogs = {};
  dialogs.answers = {dest};
  PretendDrives({.probe_number = 1, .listed = [](const wchar_t* folder) {
                   DeleteFileW((std::wstring(folder) + L"\\Form1.frm").c_str());
                 }});
  Click();
  PretendDrives({});
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{});
  EXPECT_EQ(ReadBytes(dest + L"\\Quarnel00000001.frm"), "somebody's");
  EXPECT_EQ(test::FilesIn(dest), saved) << "Form1.frm written again";
}

// A component's own file is its own however its path is written: outside the
// project's folder, with "." and ".." and in other case, by its short (8.3)
// name, or through a second name of the file (a hard link, as a second drive
// letter for the folder, a mapped drive or a junction name it twice). A
// component never saved has none.
TEST_F(SaveCommand, OwnFilesAreKnownByWhatTheyAre) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders / L"Dest of the project";
  const std::wstring elsewhere = folders / L"Shared";
  CreateDirectoryW(dest.c_str(), nullptr);
  CreateDirectoryW(elsewhere.c_str(), nullptr);
  for (const wchar_t* name : {L"Project1.vbp", L"Form1.frm", L"Module1.bas", L"Class1.cls", L"Form2.frm"}) {
    test::WriteBytes(dest + L"\\" + name, "there before");
  }
  test::WriteBytes(elsewhere + L"\\Class1.cls", "the class's own file");
  wchar_t short_dest[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(dest.c_str(), short_dest, MAX_PATH), 0u);
  ASSERT_NE(dest, short_dest);
  ASSERT_TRUE(CreateHardLinkW((elsewhere + L"\\Linked.frm").c_str(), (dest + L"\\Form2.frm").c_str(), nullptr));
  ide->project(L"Project1").saved_as(std::wstring(short_dest) + L"\\Project1.vbp")
      .form(L"Form1").file(dest + L"\\sub\\..\\.\\FORM1.FRM")
      .module(L"Module1")
      .cls(L"Class1").file(elsewhere + L"\\Class1.cls")
      .form(L"Form2").file(elsewhere + L"\\Linked.frm")
      .build();
  dialogs.answers = {dest};
  Click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, ForeignFilesQuestion({L"Module1.bas", L"Class1.cls"}));
  EXPECT_TRUE(SaveAsPaths().empty()) << "No, the default";
}

// A file the save would write that is the own file of another component, one
// this save does not write (unchanged, or one that cannot be saved), or a file
// beside it: nothing is written and the user is told which files, of which
// components, before any question. A component that the save writes too gets
// its new file: no clash.
TEST_F(SaveCommand, OtherComponentsFilesOfTheProjectAreNeverReplaced) {
  StoreDefaultFolder(L"C:\\Projects");
  const std::wstring dest = folders.path();
  for (const wchar_t* name : {L"Orders.vbp", L"Main.frm", L"Main.frx", L"Form1.frm"}) {
    test::WriteBytes(dest + L"\\" + name, "as it was");
  }
  ide->project(L"Orders").saved_as(dest + L"\\Orders.vbp")
      .form(L"frmOrders").file(dest + L"\\Main.frm").clean()
      .form(L"Main")
      .form(L"Form1")  // another project's Form1.frm: no question comes first
      .build();
  dialogs.answers = {dest};
  Click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::wstring>{
                                ProjectClashMessage({L"Main.frm (frmOrders)", L"Main.frx (frmOrders)"})}));
  EXPECT_EQ(dialogs.messages.at(0).flags, kWarning);
  EXPECT_TRUE(SaveAsPaths().empty());
  for (const wchar_t* name : {L"Orders.vbp", L"Main.frm", L"Main.frx", L"Form1.frm"}) {
    EXPECT_EQ(ReadBytes(dest + L"\\" + name), "as it was") << name;
  }

  // frmOrders changed too: it gets a new file of its own, Main gets Main.frm.
  ide->change(L"Orders", L"frmOrders");
  dialogs = {};
  dialogs.answers = {dest};
  dialogs.buttons = {IDYES};
  Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{ForeignFilesQuestion({L"Form1.frm"})});
  const auto orders = ide->find_project(L"Orders");
  EXPECT_EQ(orders->components[0].file_name, dest + L"\\frmOrders.frm");
  EXPECT_EQ(orders->components[1].file_name, dest + L"\\Main.frm");
}

void MakeReadOnly(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_READONLY) {
  test::WriteBytes(path, bytes);
  SetFileAttributesW(path.c_str(), attributes);
}

constexpr wchar_t kDevice[] = L": Windows keeps this name for a device";
constexpr wchar_t kReadOnly[] = L": read-only";
constexpr wchar_t kFolder[] = L": a folder has this name";
constexpr const wchar_t* kDevices[] = {L"Con", L"Prn", L"Aux", L"Nul", L"Com1", L"Com9", L"Lpt1", L"Lpt9"};

// Files that Windows would not let the IDE write (a device's name, a read-only
// file, a folder in the way, a file Windows refuses to open for writing or
// another program holds, a folder it lets no new file into) end the save
// before the first is written, all named in one message, before any other
// question: otherwise the save would stop in the middle (the stand-in IDE's
// writes meet the same refusals), or a component's code would go to the NUL
// device. A line starting with "@" names the destination there.
TEST_F(SaveCommand, FilesWindowsWouldNotLetTheIdeWriteEndTheSaveBeforeAnyIsWritten) {
  StoreDefaultFolder(L"C:\\Projects");
  std::vector<std::unique_ptr<test::Immutable>> refused;
  std::vector<std::unique_ptr<test::HeldFile>> held;
  const auto refuse = [&](const std::wstring& path) {
    refused.push_back(std::make_unique<test::Immutable>(path));
    EXPECT_TRUE(refused.back()->made()) << "chattr +i did not take: the file system must support it";
  };
  const struct Row {
    const char* what;
    std::function<void(standin::Ide&, const std::wstring& dest)> make;
    std::vector<std::wstring> lines;
    DrivePretence drives = {};
    // The files another program holds for the whole save, in the checks'
    // order: the first is asked again until two seconds have passed since its
    // first answer (the least the click takes), every later one once.
    std::vector<std::wstring> held_throughout = {};
    DWORD waits = 0;
  } rows[] = {
      {"devices' names, a component's and the project's",
       [](standin::Ide& made, const std::wstring&) {
         made.project(L"Aux").form(L"Form1").cls(L"Nul").module(L"lpt1").module(L"Com10").module(L"Console").build();
       },
       {L"Nul.cls (Nul)" + std::wstring(kDevice), L"lpt1.bas (lpt1)" + std::wstring(kDevice),
        L"Aux.vbp" + std::wstring(kDevice)}},
      {"another project's read-only file: no question about its other file",
       [](standin::Ide& made, const std::wstring& dest) {
         MakeReadOnly(dest + L"\\Form1.frm", "another project's form");
         test::WriteBytes(dest + L"\\Class1.cls", "another project's class");
         made.project(L"Project1").form(L"Form1").cls(L"Class1").build();
       },
       {L"Form1.frm (Form1)" + std::wstring(kReadOnly)}},
      {"its own read-only files, saved again into their folder (kept so by source control)",
       [](standin::Ide& made, const std::wstring& dest) {
         MakeReadOnly(dest + L"\\Form1.frm", "VERSION 5.00");
         MakeReadOnly(dest + L"\\Project1.vbp", "Form=Form1.frm");
         made.project(L"Project1").saved_as(dest + L"\\Project1.vbp").form(L"Form1").file(dest + L"\\Form1.frm").build();
       },
       {L"Form1.frm (Form1)" + std::wstring(kReadOnly), L"Project1.vbp" + std::wstring(kReadOnly)}},
      {"hidden and system files (a tool's, source control's), one also read-only: one line, read-only first",
       [](standin::Ide& made, const std::wstring& dest) {
         MakeReadOnly(dest + L"\\Form1.frx", "pictures", FILE_ATTRIBUTE_HIDDEN);
         MakeReadOnly(dest + L"\\Class1.cls", "a class", FILE_ATTRIBUTE_SYSTEM);
         MakeReadOnly(dest + L"\\Project1.vbw", "windows", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
         made.project(L"Project1").form(L"Form1").cls(L"Class1").build();
       },
       {L"Form1.frx (Form1): hidden", L"Class1.cls (Class1): a system file", L"Project1.vbw" + std::wstring(kReadOnly)}},
      {"more than ten of every kind",
       [](standin::Ide& made, const std::wstring& dest) {
         CreateDirectoryW((dest + L"\\Module1.bas").c_str(), nullptr);
         MakeReadOnly(dest + L"\\Project1.vbw", "windows");
         MakeReadOnly(dest + L"\\Form1.frx", "pictures");
         auto project = made.project(L"Project1").form(L"Form1");
         for (const wchar_t* name : kDevices) project.module(name);
         project.module(L"Module1").build();
       },
       [] {
         std::vector<std::wstring> lines = {L"Form1.frx (Form1)" + std::wstring(kReadOnly)};
         for (const std::wstring name : kDevices) lines.push_back(name + L".bas (" + name + L")" + kDevice);
         lines.push_back(L"Module1.bas (Module1)" + std::wstring(kFolder));
         lines.push_back(L"Project1.vbw" + std::wstring(kReadOnly));
         return lines;
       }()},
      {"a folder Windows lets no new file into (its permissions, Controlled folder access)",
       [&](standin::Ide& made, const std::wstring& dest) {
         refuse(dest);
         made.project(L"Project1").module(L"Module1").build();
       },
       {L"@: Windows does not let the IDE create files in this folder"}},
      {"another project's file Windows does not let this process change, and one held by another program, "
       "on a server slow to answer each open",
       [&](standin::Ide& made, const std::wstring& dest) {
         test::WriteBytes(dest + L"\\Form1.frm", "another project's form");
         refuse(dest + L"\\Form1.frm");
         test::WriteBytes(dest + L"\\Module1.bas", "another project's module");
         held.push_back(std::make_unique<test::HeldFile>(dest + L"\\Module1.bas"));
         EXPECT_TRUE(held.back()->held());
         made.project(L"Project1").form(L"Form1").module(L"Module1").module(L"Module2").build();
       },
       {L"Form1.frm (Form1): Windows does not let you change this file",
        L"Module1.bas (Module1): in use by another program"},
       {.slow_open_ms = 700},
       {L"Module1.bas"},
       2 * 700 + 2000},  // the held file's first answer comes after two slow opens
      {"a form's .frx Windows does not let this process change, and another's held by another program",
       [&](standin::Ide& made, const std::wstring& dest) {
         test::WriteBytes(dest + L"\\Form1.frx", "pictures");
         refuse(dest + L"\\Form1.frx");
         test::WriteBytes(dest + L"\\Form2.frx", "pictures");
         held.push_back(std::make_unique<test::HeldFile>(dest + L"\\Form2.frx"));
         EXPECT_TRUE(held.back()->held());
         made.project(L"Project1").form(L"Form1").form(L"Form2").build();
       },
       {L"Form1.frx (Form1): Windows does not let you change this file",
        L"Form2.frx (Form2): in use by another program"},
       {},
       {L"Form2.frx"},
       2000},
      {"two files held by other programs for the whole save: the two seconds are the save's, not each file's",
       [&](standin::Ide& made, const std::wstring& dest) {
         for (const wchar_t* name : {L"\\Module1.bas", L"\\Module2.bas"}) {
           test::WriteBytes(dest + name, "another project's module");
           held.push_back(std::make_unique<test::HeldFile>(dest + name));
           EXPECT_TRUE(held.back()->held());
         }
         made.project(L"Project1").module(L"Module1").module(L"Module2").build();
       },
       {L"Module1.bas (Module1): in use by another program", L"Module2.bas (Module2): in use by another program"},
       {},
       {L"Module1.bas", L"Module2.bas"},
       2000},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::wstring dest = Afresh(std::to_wstring(++n));
    row.make(*ide, dest);
    const std::set<std::wstring> there = test::FilesIn(dest);
    DrivePretence drives = row.drives;
    static std::vector<std::wstring> opened;
    opened.clear();
    drives.opened = [](const wchar_t* path) { opened.push_back(path); };
    PretendDrives(drives);
    const DWORD start = GetTickCount();
    Click();
    const DWORD took = GetTickCount() - start;
    PretendDrives({});
    EXPECT_GE(took, row.waits);
    for (size_t i = 0; i < row.held_throughout.size(); ++i) {
      const auto asks = std::ranges::count(opened, dest + L"\\" + row.held_throughout[i]);
      if (i) EXPECT_EQ(asks, 1) << "the two seconds are the save's, not each file's";
      else EXPECT_GT(asks, 1) << "the first held file is asked again";
    }
    std::vector<std::wstring> lines = row.lines;
    for (auto& line : lines) {
      if (line.starts_with(L"@")) line = dest + line.substr(1);
    }
    EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{CannotWriteMessage(lines)});
    EXPECT_EQ(dialogs.messages.at(0).flags, kWarning);
    EXPECT_TRUE(SaveAsPaths().empty()) << "the IDE wrote nothing";
    EXPECT_EQ(test::FilesIn(dest), there) << "nothing of the checks is left";
    EXPECT_EQ(FocusSteps(), 2u) << "after the destination, and at the end";
  }
}

// Every answer of Windows that stops the IDE's write, to the folder's probe
// and to the open of a file there, ends the save before the first file, named
// by its cause; any other answer (the codes around the cloud files' own, a
// dropped connection) leaves the judgement to the IDE's writes, as here the
// question about another project's file.
TEST_F(SaveCommand, EveryAnswerThatStopsTheIdesWriteEndsTheSaveBeforeAnyIsWritten) {
  StoreDefaultFolder(L"C:\\Projects");
  using enum CannotWrite;
  const struct {
    std::vector<DWORD> errors;
    CannotWrite folder, file;  // kCount: no line
  } answers[] = {
      {{ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT, ERROR_NETWORK_ACCESS_DENIED, ERROR_FILE_READ_ONLY}, kNoNewFiles, kDenied},
      {{ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}, kCount, kInUse},
      {{ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, 1295 /* quota exceeded */}, kNoRoom, kNoRoom},
      {{225, 226 /* virus infected, deleted */}, kVirus, kVirus},
      {{358, 362, 400 /* cloud files': the first, provider not running, the last */}, kOnline, kOnline},
      {{ERROR_CANT_ACCESS_FILE}, kUnopenable, kUnopenable},
      {{ERROR_FILE_CORRUPT, ERROR_DISK_CORRUPT}, kDamaged, kDamaged},
      {{357, 401, ERROR_UNEXP_NET_ERR}, kCount, kCount},
  };
  for (const auto& answer : answers) {
    for (const DWORD error : answer.errors) {
      SCOPED_TRACE(error);
      const std::wstring dest = Afresh(std::to_wstring(error));
      test::WriteBytes(dest + L"\\Module1.bas", "another project's module");
      ide->project(L"Project1").module(L"Module1").build();
      PretendDrives({.open_error = error});
      Click();
      PretendDrives({});
      std::vector<std::wstring> lines;
      if (answer.folder != kCount) lines.push_back(dest + L": " + CannotWriteReason(answer.folder));
      if (answer.file != kCount) lines.push_back(L"Module1.bas (Module1): " + CannotWriteReason(answer.file));
      EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{lines.empty() ? ForeignFilesQuestion({L"Module1.bas"})
                                                                        : CannotWriteMessage(lines)});
      EXPECT_TRUE(SaveAsPaths().empty()) << "refused, or No to the question";
      EXPECT_EQ(test::FilesIn(dest), std::set<std::wstring>{L"Module1.bas"}) << "nothing of the checks is left";
    }
  }
}

// `lines` lines of code, 128 bytes each in the file with its line end.
std::wstring CodeOf(size_t lines) {
  std::wstring code;
  for (size_t i = 0; i < lines; ++i) code += (i ? L"\r\n' " : L"' ") + std::wstring(124, L'x');
  return code;
}

// On a USB stick of 64 KB, its clusters of 4 KB (or 32 KB, as a larger FAT32
// stick's): a save that the estimate says may not fit asks first, naming the
// folder and both figures; No, the default, writes nothing, Yes goes on. Each
// file counts whole clusters, one at least, at its size now or, when more,
// at its code's as the IDE holds it; the files a save replaces free theirs.
TEST_F(SaveCommand, ASaveThatMayNotFitOnItsDiskAsksFirst) {
  StoreDefaultFolder(L"C:\\Projects");
  const struct Row {
    const char* what;
    std::function<void(standin::Ide&, const std::wstring& dest)> make;
    ULONGLONG need = 0;  // the question's figure, the room being 64 KB; none: no question
    int button = IDNO;
    DrivePretence drives = {};
  } rows[] = {
      {"a project saved before, saved again into its folder on a disk as good as full: no question, saved whole",
       [](standin::Ide& made, const std::wstring& dest) {
         auto project = made.project(L"Project1");
         test::WriteBytes(dest + L"\\Project1.vbp", "Type=Exe");
         test::WriteBytes(dest + L"\\Project1.vbw", "Module1 = 0, 0, 0, 0, C");
         project.saved_as(dest + L"\\Project1.vbp");
         for (int i = 1; i <= 10; ++i) {
           const std::wstring file = dest + L"\\Module" + std::to_wstring(i) + L".bas";
           test::WriteBytes(file, std::string(3000, 'm'));
           project.module(L"Module" + std::to_wstring(i)).file(file).code(CodeOf(20));
         }
         project.build();
       }},
      {"a module never saved, its code more than the room: asked, No",
       [](standin::Ide& made, const std::wstring&) { made.project(L"Project1").module(L"Module1").code(CodeOf(640)).build(); },
       (640 * 128) + 2 * 4096},
      {"ten new modules, their clusters of 32 KB: asked, Yes saves",
       [](standin::Ide& made, const std::wstring&) {
         auto project = made.project(L"Project1");
         for (int i = 1; i <= 10; ++i) project.module(L"Module" + std::to_wstring(i)).code(CodeOf(1));
         project.build();
       },
       12 * 32768,
       IDYES,
       {.cluster_bytes = 32768}},
      {"new components that fit, one without code (a resource file), one whose code the IDE fails to give: "
       "no question, saved whole",
       [](standin::Ide& made, const std::wstring&) {
         made.project(L"Project1").module(L"Module1").code(CodeOf(20)).cls(L"Class1").code(CodeOf(20))
             .form(L"Form1").component(L"Resources", 4).build();
         made.fail({.description = L"Out of memory", .operation = L"_CodeModule.Lines", .code = E_OUTOFMEMORY});
       }},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::wstring dest = Afresh(std::to_wstring(++n));
    const test::SmallDisk disk(dest, 64);
    ASSERT_TRUE(disk.made()) << "mount did not take: the tests run as root";
    row.make(*ide, dest);
    const std::set<std::wstring> there = test::FilesIn(dest);
    dialogs.buttons = {row.button};
    PretendDrives(row.drives);
    Click();
    PretendDrives({});
    EXPECT_EQ(MessageTexts(), row.need ? std::vector<std::wstring>{NoRoomQuestion(dest, 64 << 10, row.need)}
                                       : std::vector<std::wstring>{});
    if (row.need) {
      EXPECT_EQ(dialogs.messages.at(0).flags,
                static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND));
    }
    if (row.button == IDNO && row.need) {
      EXPECT_TRUE(SaveAsPaths().empty());
      EXPECT_EQ(test::FilesIn(dest), there);
    } else {
      EXPECT_TRUE(ide->find_project(L"Project1")->saved) << ide->transcript();
    }
  }
}

// The project file's path takes `bytes` bytes in the ANSI code page below `base`,
// made of folders named in the code page's own letters: in a double-byte code
// page (Japanese), two bytes a letter.
std::wstring DestinationFor(const std::wstring& base, size_t bytes) {
  const std::wstring letter = GetACP() == 932 ? L"\u65E5" : L"p";
  const size_t folder_bytes = bytes - AnsiLength(L"\\Project1.vbp");
  std::wstring folder = base;
  CreateDirectoryW(folder.c_str(), nullptr);
  for (bool last = false; !last;) {
    const size_t room = folder_bytes - AnsiLength(folder) - 1;  // after the next "\"
    std::wstring part;
    last = room <= 100;
    for (size_t i = 0; i < (last ? room / AnsiLength(letter) : 40); ++i) part += letter;
    if (last && AnsiLength(part) < room) part += L"p";
    folder += L"\\" + part;
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  return folder;
}

// The IDE writes paths of fewer than 260 bytes in the system's code page. (This
// test runs in a Japanese code page too.)
TEST_F(SaveCommand, DestinationAtTheLongestPathSavesAndOneByteMoreWritesNothing) {
  if (const char* code_page = std::getenv("QUARNEL_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), std::stoul(code_page));
  }
  StoreDefaultFolder(L"C:\\Projects");
  ide->project(L"Project1").form(L"Form1").build();
  const std::wstring fits = DestinationFor(folders.path(), 259);
  ASSERT_EQ(AnsiLength(fits + L"\\Project1.vbp"), 259u);
  ASSERT_TRUE(test::FolderExists(fits));
  dialogs.answers = {fits};
  Click();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(FileExists(fits + L"\\Form1.frm"));
  EXPECT_TRUE(FileExists(fits + L"\\Project1.vbp"));
  EXPECT_TRUE(ide->find_project(L"Project1")->saved);

  ide->change(L"Project1", L"Form1");
  const std::wstring beyond = DestinationFor(folders / L"b", 260);
  ASSERT_EQ(AnsiLength(beyond + L"\\Project1.vbp"), 260u);
  ASSERT_TRUE(test::FolderExists(beyond));
  dialogs = {};
  dialogs.answers = {beyond};
  Click();
  EXPECT_EQ(MessageTexts(), std::vector<std::wstring>{CannotWriteMessage({L"Project1.vbp: the path is too long for the IDE"})});
  EXPECT_FALSE(FileExists(beyond + L"\\Form1.frm")) << "its path fits, but the project's does not";
  EXPECT_FALSE(ide->find_project(L"Project1")->saved);
}

// --- A long save: its progress, and an IDE that never looks hung -----------------

constexpr wchar_t kProgressClass[] = L"QuarnelSaveProgress";

// What the save's progress window went through, as a hook on the thread saw it:
// made, each text it showed, gone.
struct ProgressSeen {
  int made = 0, gone = 0;
  HWND window = nullptr;
  DWORD style = 0, ex_style = 0;
  HWND owner = nullptr;
  std::wstring title;
  RECT place{};
  bool bar = false;
  LPARAM bar_range = 0;  // the bar's top (from 0)
  WPARAM bar_position = 0;  // the last position it was given
  std::vector<std::wstring> texts;
  bool Alive() const { return made > gone; }
};
ProgressSeen* seen = nullptr;

LRESULT CALLBACK SeeProgress(int code, WPARAM wparam, LPARAM lparam) {
  const CWPSTRUCT& m = *reinterpret_cast<CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && seen) {
    if (m.message == WM_CREATE && test::IsOfClass(m.hwnd, kProgressClass)) {
      ++seen->made;
      seen->window = m.hwnd;
      seen->style = static_cast<DWORD>(GetWindowLongPtrW(m.hwnd, GWL_STYLE));
      seen->ex_style = static_cast<DWORD>(GetWindowLongPtrW(m.hwnd, GWL_EXSTYLE));
      seen->owner = GetWindow(m.hwnd, GW_OWNER);
      seen->title = reinterpret_cast<const CREATESTRUCTW*>(m.lParam)->lpszName;
    } else if (m.message == WM_SHOWWINDOW && m.hwnd == seen->window && m.wParam) {
      GetWindowRect(m.hwnd, &seen->place);
    } else if (m.message == WM_CREATE && GetParent(m.hwnd) == seen->window) {
      seen->bar = seen->bar || test::IsOfClass(m.hwnd, PROGRESS_CLASSW);
    } else if (m.message == WM_SETTEXT && seen->window && GetParent(m.hwnd) == seen->window) {
      seen->texts.push_back(reinterpret_cast<const wchar_t*>(m.lParam));
    } else if (m.message == PBM_SETRANGE32 && seen->window && GetParent(m.hwnd) == seen->window) {
      EXPECT_EQ(m.wParam, 0u);
      seen->bar_range = m.lParam;
    } else if (m.message == PBM_SETPOS && seen->window && GetParent(m.hwnd) == seen->window) {
      seen->bar_position = m.wParam;
    } else if (m.message == WM_DESTROY && m.hwnd == seen->window) {
      ++seen->gone;
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

class LongSave : public SaveCommand {
 protected:
  void SetUp() override {
    SaveCommand::SetUp();
    seen = &progress;
    hook = SetWindowsHookExW(WH_CALLWNDPROC, SeeProgress, nullptr, GetCurrentThreadId());
    StoreDefaultFolder(L"C:\\Projects");
    ASSERT_EQ(GetActiveWindow(), owner.get()) << "the IDE's window is the active one";
  }
  void TearDown() override {
    UnhookWindowsHookEx(hook);
    seen = nullptr;
    SetProgressDelay(500);
    SaveCommand::TearDown();
  }
  // Project1 with `count` changed modules, each written in `delay_ms`.
  void Build(int count, DWORD delay_ms) {
    auto project = ide->project(L"Project1");
    for (int i = 1; i <= count; ++i) project.module(L"Module" + std::to_wstring(i));
    project.build();
    ide->set_save_delay(delay_ms);
    dialogs.answers = {folders.path()};
  }
  // Clicks while another thread asks Windows every 100 ms whether the IDE's
  // window looks hung: how often it did.
  int ClickLookingForHung() {
    std::atomic<int> hung = 0, looked = 0;
    std::atomic<bool> done = false;
    std::thread watch([&] {
      for (; !done; Sleep(100), ++looked) hung += IsHungAppWindow(owner.get()) ? 1 : 0;
    });
    Click();
    done = true;
    watch.join();
    EXPECT_GT(looked, 10);
    return hung;
  }
  // The first "Saving" text: those before it are the checks'.
  std::vector<std::wstring>::const_iterator FirstSaving() const {
    return std::find_if(progress.texts.begin(), progress.texts.end(),
                        [](const std::wstring& text) { return text.starts_with(L"Saving"); });
  }
  // Each text's N, after `prefix` characters, counts up, in [first, last).
  static void ExpectCountingUp(std::vector<std::wstring>::const_iterator first,
                               std::vector<std::wstring>::const_iterator last, size_t prefix) {
    for (auto text = first; text != last && text + 1 != last; ++text) {
      EXPECT_LT(std::stoi(text->substr(prefix)), std::stoi(text[1].substr(prefix))) << testing::PrintToString(text[1]);
    }
  }
  const unique_hwnd owner = test::TestWindow(L"Microsoft Visual Basic [design]", 100, 100, 700, 500);
  ProgressSeen progress;
  HHOOK hook = nullptr;
};

// A save of 260 files at 20 ms each (over five seconds): the window shows,
// owned by the IDE's and centred on it, counting up to the project file; the
// IDE never looks hung (the input given meanwhile: the IDE program's slow-save
// script); the window is gone at the end. In Italian too (shown at once); and
// a short save shows nothing.
TEST_F(LongSave, ShowsItsProgressAndTheIdeNeverLooksHung) {
  Build(259, 20);
  EXPECT_EQ(ClickLookingForHung(), 0);
  ASSERT_EQ(progress.made, 1);
  EXPECT_EQ(progress.gone, 1);
  EXPECT_FALSE(test::FindOwnWindow(kProgressClass));
  EXPECT_EQ(progress.title, L"Quarnel");
  EXPECT_EQ(progress.owner, owner.get());
  EXPECT_FALSE(progress.style & WS_SYSMENU) << "no close button";
  EXPECT_FALSE(progress.ex_style & (WS_EX_TOPMOST | WS_EX_APPWINDOW));
  EXPECT_TRUE(progress.bar);
  RECT around{};
  GetWindowRect(owner.get(), &around);
  EXPECT_NEAR(progress.place.left + progress.place.right, around.left + around.right, 1);
  EXPECT_NEAR(progress.place.top + progress.place.bottom, around.top + around.bottom, 1);
  // Shown within about a second (50 files), counting up, the project file last.
  ASSERT_GT(progress.texts.size(), 2u);
  ASSERT_EQ(FirstSaving(), progress.texts.begin()) << "the checks were quick";
  EXPECT_LT(std::stoi(progress.texts.front().substr(7)), 100) << testing::PrintToString(progress.texts.front());
  ExpectCountingUp(progress.texts.begin(), progress.texts.end(), 7);
  EXPECT_EQ(progress.texts.back(), L"Saving 260 of 260: Project1");
  EXPECT_EQ(progress.bar_range, 260) << "the bar counts the save's files";
  EXPECT_EQ(progress.bar_position, 260u);
  EXPECT_EQ(SaveAsPaths().size(), 260u);

  // Each step shows once, however long it takes (here the listing of the
  // folder of 260 files).
  progress = {};
  bItalian = true;
  SetProgressDelay(0);
  ide->change(L"Project1", L"Module1");
  dialogs = {};
  dialogs.answers = {folders.path()};
  PretendDrives({.slow_listing_ms = 1});
  Click();
  PretendDrives({});
  ASSERT_EQ(progress.made, 1);
  EXPECT_EQ(progress.texts, (std::vector<std::wstring>{L"Controllo 1 di 2: Module1.bas", L"Controllo 2 di 2: Project1.vbp",
                                                       L"Salvataggio 1 di 2: Module1", L"Salvataggio 2 di 2: Project1"}));

  progress = {};
  SetProgressDelay(500);
  ide->set_save_delay(0);
  for (int i = 1; i <= 10; ++i) ide->change(L"Project1", L"Module" + std::to_wstring(i));
  dialogs = {};
  dialogs.answers = {folders.path()};
  Click();
  EXPECT_EQ(progress.made, 0) << "a short save shows nothing";
  EXPECT_EQ(SaveAsPaths().size(), 260u + 2 + 11);

  // Nor one after a question held open longer than the delay: the delay counts
  // anew from its answer. (Here a second and a half, held for two: the save
  // after the answer has that long even on a loaded machine.)
  SetProgressDelay(1500);
  test::WriteBytes(folders / L"Extra.bas", "another project's module");
  ide->add(L"Project1", L"Extra", 1);
  dialogs = {};
  dialogs.answers = {folders.path()};
  dialogs.buttons = {IDYES};
  dialogs.on_message = [](const std::wstring&) { Sleep(2000); };
  Click();
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(progress.made, 0) << "a short save after a question shows nothing";
  EXPECT_EQ(SaveAsPaths().size(), 260u + 2 + 11 + 2);
}

// A slow IDE (each FileName 20 ms, as on a network share) and 300 changed
// modules saved again into their own folder: the checks ask the IDE for each
// file (six seconds). The IDE never looks hung; the window shows from early on
// with "Checking" texts, then "Saving" ones. The first file, held by another
// program for half a second (a scanner), is waited for, and nothing is said.
TEST_F(LongSave, ChecksOfASlowIdeShowTheirProgressToo) {
  Build(299, 0);
  Click();
  ASSERT_EQ(SaveAsPaths().size(), 300u);
  for (int i = 1; i <= 299; ++i) ide->change(L"Project1", L"Module" + std::to_wstring(i));
  ide->set_answer_delay(20);
  progress = {};
  dialogs = {};
  dialogs.answers = {folders.path()};
  const test::HeldFile held(folders / L"Module1.bas", 500);
  ASSERT_TRUE(held.held());
  EXPECT_EQ(ClickLookingForHung(), 0);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_GE(ide->count(L"_VBComponent.FileNames"), 299u);
  EXPECT_EQ(progress.made, 1);
  const auto saving = FirstSaving();
  ASSERT_NE(saving, progress.texts.begin());
  ASSERT_NE(saving, progress.texts.end());
  EXPECT_TRUE(progress.texts.front().starts_with(L"Checking ")) << testing::PrintToString(progress.texts.front());
  EXPECT_LT(std::stoi(progress.texts.front().substr(9)), 60) << "shown within about a second";
  ExpectCountingUp(progress.texts.begin(), saving, 9);
  EXPECT_EQ(saving[-1], L"Checking 300 of 300: Project1.vbp");
  ExpectCountingUp(saving, progress.texts.end(), 7);
  EXPECT_EQ(progress.texts.back(), L"Saving 300 of 300: Project1");
  EXPECT_EQ(SaveAsPaths().size(), 600u);
}

// The IDE begins to exit (Windows' logoff, sent to its window) when the test
// sends kExit to the IDE's window: the add-in's OnBeginShutdown then abandons
// the click's run.
constexpr UINT kExit = WM_APP + 7;
WNDPROC ide_proc = nullptr;
LRESULT CALLBACK ExitingIdeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kExit) return DialogRun::Abandon();
  return CallWindowProcW(ide_proc, window, message, wparam, lparam);
}

// A slow IDE, 20 ms for every member a component answers, and 300 changed
// modules over a folder that holds another project's files of the same names
// (the question answered Yes): the plan asks each component its kind, state
// and name (18 s), the checks ask every component for its file to tell the
// project's own files from the strangers (6 s). The IDE never looks hung. Its
// exit during the plan ends the click there, saying and writing nothing.
TEST_F(LongSave, PlanAndChecksOfAVerySlowIdeNeverLookHungAndItsExitEndsThem) {
  Build(299, 0);
  for (int i = 1; i <= 299; ++i) test::WriteBytes(folders / (L"Module" + std::to_wstring(i) + L".bas"), "another's");
  ide->set_component_delay(20);
  dialogs.buttons = {IDYES};
  EXPECT_EQ(ClickLookingForHung(), 0);
  EXPECT_EQ(dialogs.messages.size(), 1u) << "the question";
  EXPECT_EQ(SaveAsPaths().size(), 300u);

  for (int i = 1; i <= 299; ++i) ide->change(L"Project1", L"Module" + std::to_wstring(i));
  dialogs = {};
  dialogs.answers = {folders.path()};
  ide_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(owner.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ExitingIdeProc)));
  std::thread logoff([&] {
    Sleep(1000);
    SendMessageW(owner.get(), kExit, 0, 0);
  });
  EXPECT_NO_THROW(Click());
  logoff.join();
  SetWindowLongPtrW(owner.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ide_proc));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_LT(ide->count(L"_VBComponent.Type"), 2 * 299u) << "the plan went on";
  EXPECT_EQ(SaveAsPaths().size(), 300u) << "nothing more was written";
}

// A destination of many files on a slow share: its listing, before the first
// file is judged, shows the progress, and the IDE never looks hung.
TEST_F(LongSave, ListingASlowFolderOfManyFilesShowsItsProgressToo) {
  for (int i = 0; i < 2000; ++i) test::WriteBytes(folders / (L"Other" + std::to_wstring(i) + L".txt"), "");
  Build(1, 0);
  PretendDrives({.slow_listing_ms = 3});
  const int hung = ClickLookingForHung();
  PretendDrives({});
  EXPECT_EQ(hung, 0);
  EXPECT_EQ(progress.made, 1);
  ASSERT_FALSE(progress.texts.empty());
  EXPECT_EQ(progress.texts.front(), L"Checking 1 of 2: Module1.bas");
  EXPECT_EQ(SaveAsPaths().size(), 2u);
}

// No dialog shows over the window: it is gone before a failure, and before the
// checks' refusal or question; after the question is answered Yes, it shows
// again for the writes.
TEST_F(LongSave, NoDialogShowsOverTheWindow) {
  SetProgressDelay(0);
  enum What { kFailure, kRefusal, kQuestion };
  const struct {
    What what;
    int made;
  } rows[] = {{kFailure, 1}, {kRefusal, 1}, {kQuestion, 2}};
  const std::wstring in_the_way = folders / L"Project1.vbp";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    progress = {};
    vbe = host::VBE();
    ide = std::make_unique<standin::Ide>();
    Build(5, 0);
    SetFileAttributesW(in_the_way.c_str(), FILE_ATTRIBUTE_NORMAL);
    test::RemoveTree(in_the_way);
    if (row.what == kFailure) ide->fail({.description = L"Disk is full", .operation = L"_VBComponent.SaveAs", .call = 3});
    if (row.what != kFailure) test::WriteBytes(in_the_way, "another project's");
    if (row.what == kRefusal) SetFileAttributesW(in_the_way.c_str(), FILE_ATTRIBUTE_READONLY);
    dialogs = {};
    dialogs.answers = {folders.path()};
    dialogs.buttons = {IDYES};
    std::vector<bool> alive;
    dialogs.on_message = [&](const std::wstring&) { alive.push_back(progress.Alive()); };
    try {
      Click();
    } catch (const Error&) {
      EXPECT_EQ(row.what, kFailure);
    }
    EXPECT_EQ(alive, std::vector<bool>{false});
    EXPECT_EQ(progress.made, row.made);
    EXPECT_FALSE(test::FindOwnWindow(kProgressClass));
    EXPECT_EQ(SaveAsPaths().size(), row.what == kRefusal ? 0u : row.what == kFailure ? 3u : 6u) << "calls of SaveAs";
  }
  SetFileAttributesW(in_the_way.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace quarnel
