// The fault sweep: for each path through the add-in, the n-th host call fails,
// for every n up to the number of calls the path makes. Each run must end the
// way the add-in promises for a failure at that step (the connection's failure
// message, a skipped step, or the end of the save command with the host's
// description), with no exception out, no reference to the IDE kept, no window,
// GDI object or handle left and nothing that would stop the DLL from unloading.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "addin/module.h"
#include "common/app.h"
#include "forms/frmAddIn.h"
#include "texts/modAddin.h"
#include "standin/ide.h"
#include "support/dialog_driver.h"
#include "support/process_usage.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/test_window.h"

namespace quarnel {
namespace {

using test::ScriptedDialogs;

// Steps of the menu installer whose failure is skipped and not reported: after
// them the command exists, and a refused place before the seventh File control
// puts the command at the menu's end. (When the command cannot be had at all, the
// installer goes on without one, and the request for the event source of Nothing
// then fails the connection.)
const std::set<std::wstring> kSilentInstallerSteps = {L"CommandBarControl.Caption", L"CommandBarButton.PasteFace",
                                                      L"CommandBarControls.Add"};
// Steps of the save command whose failure is skipped: giving the focus back to
// the IDE's first window (a courtesy), and the project's or a component's file
// (one never saved may raise there: it has none).
const std::set<std::wstring> kSkippedSaveSteps = {L"VBE.Windows", L"_Windows.Item", L"Window.SetFocus",
                                                  L"_VBProject.FileName", L"_VBComponent.FileNames"};

// One run of a path: a fresh IDE and a fresh Connect, the failure armed after the
// path's preparation, then the checks common to every run. Windows, handles and
// GDI objects are compared only when `count_usage`: the first run of a failure
// fills the process's own caches (fonts, registry keys, error texts) for good.
class SweepRun {
 public:
  SweepRun(const std::wstring& settings, bool count_usage) : count_usage_(count_usage) {
    test::RemoveTree(SettingsPath());
    if (!settings.empty()) test::WriteBytes(SettingsPath(), std::string(settings.begin(), settings.end()));
    usage_before_ = test::MeasureProcess();
    ide = std::make_unique<standin::Ide>();
    ide->project(L"Project1").form(L"Form1").module(L"Module1").cls(L"Class1").build();
    EXPECT_EQ(Connect::Create(IID__IDTExtensibility2, &addin), S_OK);
  }
  ~SweepRun() {
    addin.Reset();
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0) << "a reference to the IDE was kept";
    EXPECT_EQ(ModuleCount(), 0) << "an object of the module is left";
    EXPECT_EQ(frmAddIn::LoadedWindows(), 0) << "a form window is left";
    const test::ProcessUsage usage = test::MeasureProcess();
    if (count_usage_) {
      EXPECT_EQ(usage.windows, usage_before_.windows) << "a window was left";
      EXPECT_LE(usage.kernel_handles, usage_before_.kernel_handles) << "a handle was left open";
      EXPECT_EQ(usage.gdi_objects, usage_before_.gdi_objects) << "a GDI object was left";
    }
    oIni.reset();
    sDefaultFolder.clear();
    test::RemoveTree(SettingsPath());
  }
  static std::wstring SettingsPath() { return AppPath() + L"\\Quarnel.ini"; }

  void ConnectNow(long mode = ext_cm_Startup) {
    SAFEARRAY* custom = nullptr;
    EXPECT_EQ(addin->OnConnection(ide->application().Get(), static_cast<ext_ConnectMode>(mode),
                                  nullptr, &custom), S_OK);
  }
  // Disconnects the add-in, and the IDE then shuts down: nothing of it may be
  // held any more, whatever failed before.
  void DisconnectNow() {
    SAFEARRAY* custom = nullptr;
    EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
    const standin::Leftovers left = ide->shut_down();
    EXPECT_TRUE(left.empty()) << test::Utf8(left.text());
  }
  // Arms the failure of the n-th host call from now; 0 arms none.
  void FailCall(int n) {
    if (n > 0) ide->fail({.description = Description(n), .code = Code(n), .call = n});
    ide->clear_calls();
  }
  // The operation whose call failed because of the armed failure.
  std::wstring FailedOperation() const {
    for (const auto& call : ide->calls()) {
      if (call.kind != standin::Call::Kind::kGetIDsOfNames && FAILED(call.result)) return call.operation();
    }
    return L"";
  }
  size_t HostCalls() const {
    if (marked_) return *marked_;
    size_t n = 0;
    for (const auto& call : ide->calls()) n += call.kind != standin::Call::Kind::kGetIDsOfNames;
    return n;
  }
  // Ends the part of the path that the sweep counts (what follows is clean-up).
  void Mark() {
    marked_.reset();
    marked_ = HostCalls();
  }
  static std::wstring Description(int n) { return L"Injected failure " + std::to_wstring(n); }
  static HRESULT Code(int n) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 0x7000 + n); }

  std::unique_ptr<standin::Ide> ide;
  com_ptr<_IDTExtensibility2> addin;
  ScriptedDialogs dialogs;
  const ScopedDialogs in_force{dialogs};

 private:
  bool count_usage_;
  test::ProcessUsage usage_before_;
  std::optional<size_t> marked_;
};

// Runs `path` without failure to count its host calls, then once for every n
// with the n-th call failing; all of it twice over (the second time counting handles and
// GDI objects too); `check` judges each failing run. Prints the count.
void Sweep(const char* name, const std::wstring& settings, const std::function<void(SweepRun&, int)>& path,
           const std::function<void(SweepRun&, int)>& check) {
  size_t calls = 0;
  for (const bool count_usage : {false, true}) {
    SweepRun clean(settings, count_usage);
    path(clean, 0);
    calls = clean.HostCalls();
  }
  for (const bool count_usage : {false, true}) {
    for (int n = 1; n <= static_cast<int>(calls); ++n) {
      SCOPED_TRACE(std::string(name) + ": host call " + std::to_string(n) + " of " + std::to_string(calls) +
                   " fails" + (count_usage ? " (second time)" : ""));
      SweepRun run(settings, count_usage);
      path(run, n);
      SCOPED_TRACE(L"the failing call: " + run.FailedOperation());
      check(run, n);
    }
  }
  std::printf("[ sweep    ] %s: %zu host calls, %zu failure points, each tried twice\n", name, calls, calls);
}

bool FormDisplayed(_Connect* connect) {
  VARIANT_BOOL displayed = VARIANT_FALSE;
  connect->get_FormDisplayed(&displayed);
  return displayed != VARIANT_FALSE;
}

// A form of the add-in shows in this process.
bool FormVisible() {
  const HWND form = test::FindOwnWindow(L"QuarnelDefaultFolderForm");
  return form && IsWindowVisible(form);
}

std::wstring DisplayOnConnect() {
  wchar_t value[16] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quarnel\\Settings",
                   L"DisplayOnConnect", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return L"(none)";
  }
  return value;
}

const std::wstring kStoredFolder = L"[FOLDER]\r\nDefaultFolder=C:\\Projects\r\n";

TEST(FaultSweep, Connection) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  Sweep("connection", L"",
        [](SweepRun& run, int n) {
          run.FailCall(n);
          run.ConnectNow();
        },
        [](SweepRun& run, int n) {
          const std::wstring failed = run.FailedOperation();
          if (kSilentInstallerSteps.count(failed)) {
            EXPECT_TRUE(run.dialogs.messages.empty()) << "a skipped step says nothing";
            com_ptr<_Connect> connect;
            run.addin.As(&connect);
            com_ptr<_CommandBarControlEvents> handler;
            connect->get_MenuHandler(&handler);
            EXPECT_NE(handler, nullptr) << "connection went on after the skipped step";
            if (failed == L"CommandBarControls.Add") {
              EXPECT_EQ(run.ide->controls(L"File").back().caption, L"Quarnel...") << "at the menu's end";
            }
          } else {
            ASSERT_EQ(run.dialogs.messages.size(), 1u) << "failed: " << testing::PrintToString(failed);
            EXPECT_EQ(run.dialogs.messages[0].flags, static_cast<UINT>(MB_OK | MB_SETFOREGROUND));
            // A failed look-up of the menu leaves no command; the failure shown
            // is then the event request's for Nothing.
            if (failed != L"VBE.CommandBars" && failed != L"CommandBars.Item" && failed != L"CommandBar.Controls") {
              EXPECT_EQ(run.dialogs.messages[0].text, SweepRun::Description(n));
            }
          }
          run.DisconnectNow();
        });
  CoUninitialize();
}

TEST(FaultSweep, DisconnectionShowAndHide) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  Sweep("disconnection", L"",
        [](SweepRun& run, int n) {
          run.ConnectNow();
          run.FailCall(n);
          run.DisconnectNow();
        },
        [](SweepRun& run, int) {
          EXPECT_TRUE(run.dialogs.messages.empty()) << "disconnection skips its failures silently";
          EXPECT_EQ(run.ide->controls(L"File").size(), 13u + (run.FailedOperation().empty() ? 0u : 1u));
        });
  // After a menu connection: Show and Hide make no host call but must do their
  // part whatever fails; disconnection deletes the command, writes "1" for the
  // form shown then, and unloads it.
  Sweep("show, hide and disconnection", L"",
        [](SweepRun& run, int n) {
          run.ConnectNow();
          run.FailCall(n);
          com_ptr<_Connect> connect;
          run.addin.As(&connect);
          EXPECT_EQ(connect->Show(), S_OK);
          EXPECT_TRUE(FormDisplayed(connect.Get()) && FormVisible());
          EXPECT_EQ(connect->Hide(), S_OK);
          EXPECT_FALSE(FormDisplayed(connect.Get()) || FormVisible());
          EXPECT_EQ(connect->Show(), S_OK);
          run.DisconnectNow();
          EXPECT_FALSE(FormDisplayed(connect.Get()));
        },
        [](SweepRun& run, int) {
          EXPECT_TRUE(run.dialogs.messages.empty());
          EXPECT_EQ(DisplayOnConnect(), L"1");
          EXPECT_EQ(frmAddIn::LoadedWindows(), 0) << "the form is unloaded";
          EXPECT_EQ(run.ide->controls(L"File").size(), 13u + (run.FailedOperation().empty() ? 0u : 1u));
        });
  CoUninitialize();
}

// An installer as a client of the class calls it (the connection calls the
// File-menu one too, above): a failing step is skipped or leaves no command, it
// says nothing, and the call succeeds. Only the installer's own calls are swept;
// disconnection has its sweep above.
using Installer = HRESULT (STDMETHODCALLTYPE _Connect::*)(BSTR*, ::CommandBarControl**);

void SweepInstaller(const char* name, Installer install, const wchar_t* caption, const wchar_t* shown_caption) {
  Sweep(name, L"",
        [&](SweepRun& run, int n) {
          run.ConnectNow(ext_cm_External);
          run.FailCall(n);
          com_ptr<_Connect> connect;
          run.addin.As(&connect);
          BSTR passed = SysAllocString(caption);
          com_ptr<::CommandBarControl> control;
          EXPECT_EQ((connect.Get()->*install)(&passed, &control), S_OK);
          SysFreeString(passed);
          run.Mark();
          if (control) {
            BSTR shown = nullptr;
            EXPECT_EQ(control->get_Caption(&shown), S_OK);
            if (n == 0) {
              EXPECT_STREQ(shown, shown_caption);
            }
            SysFreeString(shown);
          }
          control.Reset();
          run.DisconnectNow();
        },
        [](SweepRun& run, int) { EXPECT_TRUE(run.dialogs.messages.empty()); });
}

TEST(FaultSweep, Installers) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  // The options command has its own caption, whatever is passed.
  SweepInstaller("options installer", &_Connect::AddToAddInCommandBar, L"x", L"Quarnel options...");
  // The File-menu command's picture travels through the clipboard.
  SweepInstaller("file-menu installer", &_Connect::AddToFileCommandBar, L"Another...", L"Another...");
  CoUninitialize();
}

// The save command: every failing host call ends it and comes back to the IDE
// as the click's failure, with the host's description.
void SweepClick(const char* name, const std::wstring& settings,
                const std::function<void(ScriptedDialogs&)>& answers) {
  Sweep(name, settings,
        [&](SweepRun& run, int n) {
          run.ConnectNow();
          answers(run.dialogs);
          run.FailCall(n);
          const auto click = run.ide->click(L"File", 7);
          run.Mark();
          if (n == 0 || kSkippedSaveSteps.count(run.FailedOperation())) {
            EXPECT_EQ(click.result, S_OK) << testing::PrintToString(click.description);
            for (const auto& shown : run.dialogs.messages) EXPECT_NE(shown.flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
          } else {
            EXPECT_EQ(click.result, DISP_E_EXCEPTION);
            EXPECT_EQ(click.description, SweepRun::Description(n));
            EXPECT_EQ(click.code, SweepRun::Code(n));
            // The user saw it last: the host's description (and the file, if one was being written).
            ASSERT_FALSE(run.dialogs.messages.empty());
            const auto& shown = run.dialogs.messages.back();
            EXPECT_EQ(shown.text.substr(0, shown.text.find(L'\n')), SweepRun::Description(n));
            EXPECT_EQ(shown.title, L"Quarnel");
            EXPECT_EQ(shown.flags, static_cast<UINT>(MB_OK | MB_ICONERROR | MB_SETFOREGROUND));
          }
          run.DisconnectNow();
        },
        [](SweepRun&, int) {});
}

TEST(FaultSweep, SaveCommandPaths) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  test::TempFolder folder;
  const std::wstring dest = folder.path();
  SweepClick("save, first use", L"", [&](ScriptedDialogs& d) {
    d.documents = L"C:\\users\\me\\Documents";
    d.answers = {L"C:\\Projects", dest};
  });
  SweepClick("save, destination", kStoredFolder, [&](ScriptedDialogs& d) { d.answers = {dest}; });
  SweepClick("save, destination cancelled", kStoredFolder, [](ScriptedDialogs& d) { d.answers = {L""}; });
  CoUninitialize();
}

TEST(FaultSweep, SaveCommandAlreadySaved) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  Sweep("save, already saved", kStoredFolder,
        [](SweepRun& run, int n) {
          run.ide->project(L"Saved").saved_as(L"C:\\Work\\Saved.vbp").form(L"Form1").clean().build();
          run.ide->set_active_project(L"Saved");
          run.ConnectNow();
          run.FailCall(n);
          const auto click = run.ide->click(L"File", 7);
          run.Mark();
          if (n > 0 && !kSkippedSaveSteps.count(run.FailedOperation())) {
            EXPECT_EQ(click.description, SweepRun::Description(n));
          }
          run.DisconnectNow();
        },
        [](SweepRun&, int) {});
  CoUninitialize();
}

}  // namespace
}  // namespace quarnel
