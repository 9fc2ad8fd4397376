// The project save command end to end: the real message boxes and the real shell
// folder browser, answered by the dialog driver as a user would, and the
// stand-in IDE writing the files. The program and the folders it browses live
// on the test drive, away from what other tests write (see tests/CMakeLists.txt):
//   D:\e2e\program (this program and its Quarnel.ini), D:\e2e\Default, D:\e2e\Dest
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "ide/host.h"
#include "common/app.h"
#include "common/error.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"
#include "save/file_identity.h"
#include "save/project_save.h"
#include "shell/dialogs.h"
#include "standin/ide.h"
#include "support/dialog_driver.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/test_drive.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using test::DialogDriver;
using test::ExpectFolderBrowser;
using test::ExpectMessageBox;
using test::FileExists;
using test::ReadBytes;
using test::TestDrivePath;

class SaveEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RemoveTree(SettingsPath());
    ClearDestination();
    oIni = std::make_unique<CIniManag>();
    bItalian = false;
  }
  void TearDown() override {
    frmAddIn::Default().Unload();
    oIni.reset();
    sDefaultFolder.clear();
    vbe = host::VBE();
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0);
    test::RemoveTree(SettingsPath());
    ClearDestination();
  }

  static std::wstring SettingsPath() { return AppPath() + L"\\Quarnel.ini"; }
  // Empties the destination folder, keeping the folder itself.
  void ClearDestination() {
    for (const std::wstring& name : test::FilesIn(dest)) test::RemoveTree(dest + L"\\" + name);
  }
  void StoreDefaultFolder() {
    test::WriteBytes(SettingsPath(), "[FOLDER]\r\nDefaultFolder=" +
                                         std::string(default_folder.begin(), default_folder.end()) +
                                         "\r\n");
  }
  void Click() {
    vbe = host::VBE::FromApplication(ide->application().Get());
    ProjectSaveCommand(vbe, init_folder);
  }

  const std::wstring default_folder = TestDrivePath(L"Default");
  const std::wstring dest = TestDrivePath(L"Dest");
  std::unique_ptr<standin::Ide> ide = std::make_unique<standin::Ide>();
  host::VBE vbe;
  std::wstring init_folder;
};

// The corners where the real IDE may behave one way or another, each a column of
// the save paths below: the add-in must save whole under each, or, where the IDE
// refuses to save (run and break mode), show the IDE's failure and write nothing.
struct Corner {
  const char* name;
  std::optional<standin::Variant> variant;
  standin::Mode mode = standin::Mode::kDesign;
};

class SaveInEachCorner : public SaveEndToEnd, public ::testing::WithParamInterface<Corner> {
 protected:
  void SetUp() override {
    SaveEndToEnd::SetUp();
    if (GetParam().variant) ide->set(*GetParam().variant);
    ide->set_mode(GetParam().mode);
  }
  // The host's refusal to save, in run or break mode; empty in design mode.
  std::wstring Refusal() const {
    const standin::Mode mode = GetParam().mode;
    return mode == standin::Mode::kRun     ? L"Can't save while the project is running"
           : mode == standin::Mode::kBreak ? L"Can't save while the project is in break mode"
                                           : L"";
  }
  // Clicks with these dialogs; then `files` (in the destination, in the order
  // they are written) are all written, or, where the IDE refuses, the failure is
  // shown at the first of them and none is written (those there before hold "x");
  // nothing else is left there.
  void ClickAndExpect(std::vector<test::DialogStep> steps, const std::vector<std::wstring>& files) {
    const std::wstring refusal = Refusal();
    std::set<std::wstring> left = test::FilesIn(dest);
    if (refusal.empty()) left.insert(files.begin(), files.end());
    if (!refusal.empty()) {
      steps.push_back(ExpectMessageBox().Title(L"Quarnel").Text(refusal + L"\n\n" + dest + L"\\" + files[0]).Icon(MB_ICONHAND));
    }
    DialogDriver driver(std::move(steps));
    try {
      Click();
      EXPECT_TRUE(refusal.empty()) << "the IDE's refusal did not reach the caller";
    } catch (const Error& error) {
      EXPECT_EQ(error.description(), refusal);
    }
    ASSERT_TRUE(driver.Finish());
    for (const auto& file : files) {
      const std::wstring path = dest + L"\\" + file;
      EXPECT_EQ(FileExists(path) && ReadBytes(path) != "x", refusal.empty()) << test::Utf8(file);
    }
    EXPECT_EQ(test::FilesIn(dest), left);
  }
};

TEST_P(SaveInEachCorner, FirstUseStoresTheDefaultFolderAndSavesBelowTheChosenDestination) {
  wchar_t documents[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
  ide->project(L"Project1").form(L"Form1").module(L"Module1").build();

  ClickAndExpect(
      {
          ExpectMessageBox()
              .Title(L"Quarnel")
              .Text(L"The Default folder value for the Quarnel add-in is empty.\r\nOn the next dialog, "
                    L"select the Default starting folder for yours projects.")
              .Icon(MB_ICONINFORMATION)
              .Press(IDOK),
          ExpectFolderBrowser()
              .Prompt(L"Select or create the starting Default folder. Next, all your projects will be "
                      L"saved starting from this folder...")
              .Selected(documents)
              .Choose(default_folder)
              .Press(IDOK),
          ExpectMessageBox()
              .Text(L"IMPORTANT: if you will change the Default folder, delete the [Quarnel.ini] file, "
                    L"from the same folder of this add-in.")
              .Icon(MB_ICONINFORMATION)
              .Press(IDOK),
          ExpectMessageBox()
              .Text(L"OK. Now you can save the project.\r\nSelect the folder for this project...")
              .Icon(MB_ICONINFORMATION)
              .Press(IDOK),
          ExpectFolderBrowser()
              .Prompt(L"Select or create the Destination folder for this project:")
              .Selected(default_folder)
              .Choose(dest)
              .Press(IDOK),
      },
      {L"Form1.frm", L"Module1.bas", L"Project1.vbp"});

  const std::string stored(default_folder.begin(), default_folder.end());
  EXPECT_EQ(ReadBytes(SettingsPath()), "[FOLDER]\r\nDefaultFolder=" + stored + "\r\n");
  if (Refusal().empty()) {
    EXPECT_NE(ReadBytes(dest + L"\\Project1.vbp").find("Form1.frm"), std::string::npos);
    EXPECT_TRUE(ide->find_project(L"Project1")->saved);
  }
}

TEST_P(SaveInEachCorner, NewProjectOpensTheBrowserAtTheDefaultFolder) {
  StoreDefaultFolder();
  ide->project(L"Project1").form(L"Form1").build();
  ClickAndExpect({ExpectFolderBrowser().Selected(default_folder).Choose(dest).Press(IDOK)},
                 {L"Form1.frm", L"Project1.vbp"});
}

TEST_P(SaveInEachCorner, ProjectSavedBeforeSavesItsChangedComponentsWhereChosen) {
  StoreDefaultFolder();
  ide->project(L"Project1").saved_as(default_folder + L"\\Project1.vbp").form(L"Form1").clean().module(L"Module1").build();
  ClickAndExpect({ExpectFolderBrowser().Choose(dest).Press(IDOK)}, {L"Module1.bas", L"Project1.vbp"});
  EXPECT_FALSE(FileExists(dest + L"\\Form1.frm")) << "it had no changes";
}

// Saved again into its folder, with a new component whose file name another
// project's file there has: only that file is asked about (the IDE may raise an
// error for the new component's file: it has none yet), and Yes saves.
TEST_P(SaveInEachCorner, SavedAgainWithANewComponentAsksOnlyAboutAnotherProjectsFile) {
  StoreDefaultFolder();
  for (const wchar_t* name : {L"Project1.vbp", L"Form1.frm", L"Module1.bas"}) test::WriteBytes(dest + L"\\" + name, "x");
  ide->project(L"Project1").saved_as(dest + L"\\Project1.vbp").form(L"Form1").file(dest + L"\\Form1.frm")
      .module(L"Module1").build();
  ClickAndExpect({ExpectFolderBrowser().Choose(dest).Press(IDOK),
                  ExpectMessageBox().Text(L"The folder already holds files that saving would replace:\r\n\r\n"
                                          L"Module1.bas\r\n\r\nReplace them?").Press(IDYES)},
                 {L"Form1.frm", L"Module1.bas", L"Project1.vbp"});
}

TEST_P(SaveInEachCorner, SavedProjectOnlySaysSo) {
  StoreDefaultFolder();
  ide->project(L"Project1").saved_as(dest + L"\\Old.vbp").form(L"Form1").clean().build();
  DialogDriver driver({
      ExpectMessageBox().Title(L"Quarnel").Text(L"Project already saved.").Icon(MB_ICONINFORMATION),
  });
  Click();
  ASSERT_TRUE(driver.Finish());
}

INSTANTIATE_TEST_SUITE_P(Corners, SaveInEachCorner,
                         ::testing::Values(Corner{"AsKnown", {}},
                                           Corner{"FirstWindowHidden", standin::Variant::kFirstWindowHidden},
                                           Corner{"UnsavedFileNameRaises", standin::Variant::kUnsavedFileNameRaises},
                                           Corner{"RunMode", {}, standin::Mode::kRun},
                                           Corner{"BreakMode", {}, standin::Mode::kBreak}),
                         [](const auto& corner) { return std::string(corner.param.name); });

TEST_F(SaveEndToEnd, DestinationCancelledWritesNothing) {
  StoreDefaultFolder();
  const std::string settings = ReadBytes(SettingsPath());
  ide->project(L"Project1").form(L"Form1").build();
  DialogDriver driver({
      ExpectFolderBrowser().Selected(default_folder).Press(IDCANCEL),
  });
  Click();
  ASSERT_TRUE(driver.Finish());
  EXPECT_FALSE(FileExists(dest + L"\\Form1.frm"));
  EXPECT_FALSE(FileExists(dest + L"\\Project1.vbp"));
  EXPECT_EQ(ReadBytes(SettingsPath()), settings);
}

TEST_F(SaveEndToEnd, DefaultFolderThatNoLongerExistsStillLetsTheUserChooseAndIsKept) {
  const std::wstring gone = TestDrivePath(L"Gone");
  ASSERT_FALSE(test::FolderExists(gone));
  const std::string settings = "[FOLDER]\r\nDefaultFolder=" + std::string(gone.begin(), gone.end()) + "\r\n";
  test::WriteBytes(SettingsPath(), settings);
  ide->project(L"Project1").form(L"Form1").build();
  DialogDriver driver({
      ExpectFolderBrowser()
          .Prompt(L"Select or create the Destination folder for this project:")
          .Choose(dest)
          .Press(IDOK),
  });
  Click();
  ASSERT_TRUE(driver.Finish());
  EXPECT_TRUE(FileExists(dest + L"\\Form1.frm"));
  EXPECT_TRUE(FileExists(dest + L"\\Project1.vbp"));
  EXPECT_FALSE(test::FolderExists(gone)) << "the browser makes no folder of its own";
  EXPECT_EQ(ReadBytes(SettingsPath()), settings) << "a stored folder is never rewritten";
}

// Files in the destination, in a real message box, in English and in Italian:
// another project's file is named in a question, No its default button, and No
// keeps it; the file of another component of this project that the save does
// not write, and a file Windows would not let the IDE write, are named in a
// refusal, OK only. Nothing is written.
TEST_F(SaveEndToEnd, FilesInTheWayAreNamedInARealBoxAndKept) {
  StoreDefaultFolder();
  test::WriteBytes(dest + L"\\Form1.frm", "another project's form");
  test::WriteBytes(dest + L"\\Orders.vbp", "Form=Main.frm");
  test::WriteBytes(dest + L"\\Main.frm", "frmOrders");
  enum Files { kForeign, kClash, kDevice };
  const struct {
    bool italian;
    Files files;
    std::wstring text;
  } rows[] = {
      {false, kForeign, L"The folder already holds files that saving would replace:\r\n\r\nForm1.frm\r\n\r\nReplace them?"},
      {true, kForeign,
       L"La cartella contiene gi\u00E0 file che il salvataggio sostituirebbe:\r\n\r\nForm1.frm\r\n\r\nSostituirli?"},
      {false, kClash,
       L"Saving into this folder would replace files of other components of this project:\r\n\r\n"
       L"Main.frm (frmOrders)\r\n\r\nNothing was saved."},
      {true, kClash,
       L"Il salvataggio in questa cartella sostituirebbe file di altri componenti di questo progetto:\r\n\r\n"
       L"Main.frm (frmOrders)\r\n\r\nNon \u00E8 stato salvato nulla."},
      {false, kDevice,
       L"The save cannot write these files:\r\n\r\nForm1.frm (Form1): hidden\r\n"
       L"Nul.cls (Nul): Windows keeps this name for a device\r\n\r\nNothing was saved."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(test::Utf8(row.text));
    bItalian = row.italian;
    vbe = host::VBE();
    ide = std::make_unique<standin::Ide>();
    if (row.files == kDevice) {  // and another project's form, hidden
      SetFileAttributesW((dest + L"\\Form1.frm").c_str(), FILE_ATTRIBUTE_HIDDEN);
      ide->project(L"Project1").form(L"Form1").cls(L"Nul").build();
    } else if (row.files == kClash) {
      ide->project(L"Orders").saved_as(dest + L"\\Orders.vbp").form(L"frmOrders").file(dest + L"\\Main.frm").clean()
          .form(L"Main").build();
    } else {
      ide->project(L"Project1").form(L"Form1").build();
    }
    int focused = 0;  // the button Enter would press
    DialogDriver driver({
        ExpectFolderBrowser().Choose(dest).Press(IDOK),
        ExpectMessageBox()
            .Title(L"Quarnel")
            .Text(row.text)
            .Icon(MB_ICONEXCLAMATION)
            .WhileOpen([&](HWND box) {
              GUITHREADINFO gui{};
              gui.cbSize = sizeof gui;
              if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui)) focused = GetDlgCtrlID(gui.hwndFocus);
            })
            .Press(row.files != kForeign ? IDOK : IDNO),
    });
    Click();
    ASSERT_TRUE(driver.Finish());
    if (row.files != kForeign) {
      EXPECT_EQ(driver.seen().at(1).buttons, std::vector<std::wstring>{L"OK"});
    } else {
      EXPECT_EQ(focused, IDNO) << "No is the default button";
    }
    EXPECT_EQ(ide->count(L"_VBComponent.SaveAs") + ide->count(L"_VBProject.SaveAs"), 0u);
    EXPECT_EQ(ReadBytes(dest + L"\\Form1.frm"), "another project's form");
    EXPECT_EQ(ReadBytes(dest + L"\\Main.frm"), "frmOrders");
    EXPECT_EQ(ReadBytes(dest + L"\\Orders.vbp"), "Form=Main.frm");
    EXPECT_EQ(test::FilesIn(dest), (std::set<std::wstring>{L"Form1.frm", L"Main.frm", L"Orders.vbp"}));
  }
}

// The keys and commands for the IDE's window that the thread's loops took from
// its queue: by a message box's loop during the click, or by the IDE's own
// after it.
struct InputTaken {
  HWND window;
  bool clicking = true;
  int during = 0, after = 0;
};
InputTaken* input_taken = nullptr;

LRESULT CALLBACK SeeInputTaken(int code, WPARAM removed, LPARAM lparam) {
  const MSG& m = *reinterpret_cast<MSG*>(lparam);
  if (code == HC_ACTION && removed == PM_REMOVE && input_taken && m.hwnd == input_taken->window &&
      (m.message == WM_KEYDOWN || m.message == WM_COMMAND)) {
    ++(input_taken->clicking ? input_taken->during : input_taken->after);
  }
  return CallNextHookEx(nullptr, code, removed, lparam);
}

// A component of a kind the add-in does not know and a related document (no
// file extension) among 300 changed modules, on a slow disk: " BOH!" and
// "Can't save this Component." come in real boxes before the first file, none
// after it. A key and a menu command given to the IDE once the writes have
// begun run only after the save, in the IDE's own loop.
TEST_F(SaveEndToEnd, SkippedComponentsAreToldBeforeTheFirstFileAndInputWaitsForTheSave) {
  StoreDefaultFolder();
  auto project = ide->project(L"Project1");
  for (int i = 1; i <= 300; ++i) {
    project.module(L"Module" + std::to_wstring(i));
    if (i == 100) project.component(L"Odd", 42);  // saved as Odd.bas all the same
    if (i == 200) project.component(L"Notes", 10);
  }
  project.build();
  ide->set_save_delay(5);
  const unique_hwnd window = test::TestWindow(L"Microsoft Visual Basic [design]", 100, 100, 700, 500);
  InputTaken input{window.get()};
  input_taken = &input;
  const HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, SeeInputTaken, nullptr, GetCurrentThreadId());
  std::atomic<bool> done = false, posted = false;
  std::thread user([&] {
    while (!done && !FileExists(dest + L"\\Module1.bas")) Sleep(1);
    posted = PostMessageW(window.get(), WM_KEYDOWN, 'A', 1) && PostMessageW(window.get(), WM_COMMAND, 1234, 0);
  });
  std::vector<bool> written_at_box;
  const auto first_file = [&](HWND) { written_at_box.push_back(FileExists(dest + L"\\Module1.bas")); };
  DialogDriver driver({
      ExpectFolderBrowser().Choose(dest).Press(IDOK),
      ExpectMessageBox().Title(L"Quarnel").Text(L" BOH!").WhileOpen(first_file).Press(IDOK),
      ExpectMessageBox().Title(L"Quarnel").Text(L"Can't save this Component.").Icon(MB_ICONHAND).WhileOpen(first_file).Press(IDOK),
  });
  Click();
  done = true;
  user.join();
  input.clicking = false;
  test::Pump();
  UnhookWindowsHookEx(hook);
  input_taken = nullptr;
  EXPECT_TRUE(driver.Finish());
  EXPECT_EQ(written_at_box, (std::vector<bool>{false, false}));
  EXPECT_TRUE(posted);
  EXPECT_EQ(input.during, 0);
  EXPECT_EQ(input.after, 2);
  EXPECT_EQ(ide->count(L"_VBComponent.SaveAs"), 301u);
  EXPECT_TRUE(FileExists(dest + L"\\Odd.bas") && FileExists(dest + L"\\Project1.vbp"));
}

// The user switched to another program during a long check (a destination of
// many files on a slow share): the question that ends the checks is owned by
// the IDE's window all the same, which it disables while it is up, so nothing
// can be changed in the IDE before it is answered.
TEST_F(SaveEndToEnd, BoxesAreOwnedByTheIdesWindowWhenAnotherProgramIsActive) {
  StoreDefaultFolder();
  for (int i = 0; i < 1000; ++i) test::WriteBytes(dest + L"\\Other" + std::to_wstring(i) + L".txt", "");
  test::WriteBytes(dest + L"\\Module1.bas", "another project's module");
  ide->project(L"Project1").module(L"Module1").build();
  const unique_hwnd window = test::TestWindow(L"Microsoft Visual Basic [design]", 100, 100, 700, 500);
  ASSERT_EQ(GetActiveWindow(), window.get());
  const DWORD ide_thread = GetCurrentThreadId();
  std::atomic<bool> done = false;
  HWND ide_active = window.get();  // the IDE thread's active window once the other program is
  std::thread other([&] {
    while (!done && !FindWindowW(L"QuarnelSaveProgress", nullptr)) Sleep(5);
    const unique_hwnd mine = test::TestWindow(L"Another program", 300, 300, 300, 200);
    SetForegroundWindow(mine.get());
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    for (; !done; Sleep(10)) {
      test::Pump();
      if (ide_active && GetGUIThreadInfo(ide_thread, &gui)) ide_active = gui.hwndActive;
    }
  });
  PretendDrives({.slow_listing_ms = 3});
  DialogDriver driver({
      ExpectFolderBrowser().Choose(dest).Press(IDOK),
      ExpectMessageBox().Title(L"Quarnel").Press(IDNO),
  });
  Click();
  PretendDrives({});
  done = true;
  other.join();
  ASSERT_TRUE(driver.Finish());
  EXPECT_EQ(ide_active, nullptr) << "the IDE was not made inactive";
  EXPECT_EQ(driver.seen().at(1).owner, window.get());
  EXPECT_FALSE(driver.seen().at(1).owner_enabled);
  EXPECT_EQ(ReadBytes(dest + L"\\Module1.bas"), "another project's module");
}

// A folder on a server (\\server\share\folder; here the test drive as Wine's
// \\localhost\share, which Wine's folder browser cannot select: the picker is
// scripted, the boxes real), whose server screens temporary files by their
// names: saved, saved again into its own folder without a question (its files
// known by what they are), a file another program holds refused, another
// project's files asked about and kept, all as in a local folder.
TEST_F(SaveEndToEnd, NetworkFolderSavesAsksAndRefusesAsALocalOne) {
  StoreDefaultFolder();
  test::ScriptedDialogs picker;
  picker.boxes = &CurrentDialogs();
  picker.answers.assign(4, L"\\\\localhost\\share" + dest.substr(2));
  const ScopedDialogs in_force(picker);
  PretendDrives({.screened = true});
  const auto click = [&](std::vector<test::DialogStep> steps) {
    DialogDriver driver(std::move(steps));
    Click();
    return driver.Finish();
  };
  ide->project(L"Project1").form(L"Form1").module(L"Module1").build();
  ASSERT_TRUE(click({}));
  ide->change(L"Project1", L"Form1");
  ASSERT_TRUE(click({})) << "saved again without a question";
  EXPECT_EQ(ide->count(L"_VBComponent.SaveAs"), 3u);
  EXPECT_NE(ReadBytes(dest + L"\\Project1.vbp").find("\r\nForm=Form1.frm\r\n"), std::string::npos);

  const std::string form = ReadBytes(dest + L"\\Form1.frm");
  vbe = host::VBE();
  ide = std::make_unique<standin::Ide>();
  ide->project(L"Project2").form(L"Form1").module(L"Module1").build();
  {
    const test::HeldFile held(dest + L"\\Module1.bas");
    ASSERT_TRUE(held.held());
    EXPECT_TRUE(click({ExpectMessageBox().Text(L"The save cannot write these files:\r\n\r\n"
                                               L"Module1.bas (Module1): in use by another program\r\n\r\nNothing was saved.")}));
  }
  EXPECT_TRUE(click({ExpectMessageBox().Text(L"The folder already holds files that saving would replace:\r\n\r\n"
                                             L"Form1.frm\r\nModule1.bas\r\n\r\nReplace them?").Press(IDNO)}));
  EXPECT_EQ(ide->count(L"_VBComponent.SaveAs") + ide->count(L"_VBProject.SaveAs"), 0u);
  EXPECT_EQ(ReadBytes(dest + L"\\Form1.frm"), form);
  PretendDrives({});
}

// The user is shown the failure, the file it came at and those written before
// it; the IDE gets it too.
TEST_F(SaveEndToEnd, HostFailureInTheLoopIsShownAndKeepsTheFilesBeforeItAndWritesNoProjectFile) {
  StoreDefaultFolder();
  ide->project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
  ide->fail({.description = L"Disk is full", .operation = L"_VBComponent.SaveAs", .call = 2});
  DialogDriver driver({
      ExpectFolderBrowser().Selected(default_folder).Choose(dest).Press(IDOK),
      ExpectMessageBox().Text(L"Disk is full\n\n" + dest + L"\\Module1.bas\n\nAlready written: Form1.frm").Title(L"Quarnel").Icon(MB_ICONHAND),
  });
  try {
    Click();
    ADD_FAILURE() << "the failure did not reach the caller";
  } catch (const Error& error) {
    EXPECT_EQ(error.description(), L"Disk is full");
  }
  ASSERT_TRUE(driver.Finish());
  EXPECT_TRUE(FileExists(dest + L"\\Form1.frm"));
  EXPECT_FALSE(FileExists(dest + L"\\Module1.bas"));
  EXPECT_FALSE(FileExists(dest + L"\\Project1.vbp"));
}

}  // namespace
}  // namespace quarnel
