#pragma once
// Test support: Quarnel.dll loaded as COM loads it for the IDE (LoadLibrary,
// DllGetClassObject, the class factory), from a copy in a fresh folder of its
// own, so that each test has its own settings file beside the DLL and its own
// process-wide state. And the stand-in IDE that the add-in connects to.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/pixels.h"

#include "Quarnel_h.h"
#include "common/owners.h"
#include "standin/ide.h"
#include "support/dialog_driver.h"
#include "support/temp_folder.h"

namespace quarnel::test {

class AddinDll {
 public:
  enum class Loader {
    kLibrary,  // loaded here once, for the test's whole life
    // Loaded by COM at the first request, as for the IDE, and unloaded by
    // CoFreeUnusedLibraries: the class is found through an activation context
    // whose manifest names the copy (no registry).
    kCom,
  };
  // Copies the Quarnel.dll beside the test program into `folder` and loads it
  // (kCom: at the first request).
  explicit AddinDll(const std::wstring& folder, Loader loader = Loader::kLibrary);
  ~AddinDll();
  AddinDll(const AddinDll&) = delete;
  AddinDll& operator=(const AddinDll&) = delete;

  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** out) const;
  // The DLL's answer; S_OK when it is not loaded.
  HRESULT CanUnloadNow() const;
  // A new Connect from the class factory, as the IDE asks for it.
  com_ptr<_IDTExtensibility2> Create() const;
  // Whether this copy is loaded in the process now.
  bool Loaded() const;

 private:
  std::wstring path_;
  unique_hmodule module_;  // kLibrary: the reference that keeps it loaded
  unique_any<HANDLE, &ReleaseActCtx> context_;  // kCom
};

// Whether a 16 x 16 picture is the add-in's floppy disk on the button-face
// colour, by fixed pixels (not by the product's own drawing).
testing::AssertionResult IsFloppyPicture(const std::vector<std::uint32_t>& pixels);
// The clipboard's text; nothing when it holds none. And text put on it.
std::optional<std::wstring> ClipboardText();
void PutClipboardText(const std::wstring& text);
// The picture on the clipboard as a bitmap; nothing when it holds none.
std::optional<std::vector<std::uint32_t>> ClipboardPicture();
// The per-user value HKCU\Software\VB and VBA Program Settings\Quarnel\Settings
// DisplayOnConnect; nothing when absent.
std::optional<std::wstring> DisplayOnConnect();
void DeleteDisplayOnConnect();
// The add-in's form window, when one exists in this process.
HWND FormWindow();

// A test against the add-in loaded from a fresh folder and a fresh stand-in IDE.
// Any dialog that comes while no script expects it is cancelled and reported.
class AddinTest : public ::testing::Test {
 protected:
  explicit AddinTest(AddinDll::Loader loader = AddinDll::Loader::kLibrary) : loader_(loader) {}
  void SetUp() override;
  void TearDown() override;

  // Connects `addin` through the vtable, as the IDE does: its AddIn object as
  // AddInInst, an empty `custom` array.
  void Connect(_IDTExtensibility2* addin, long mode);
  // With HostShutdown, or as the Add-In Manager unloads it (UserClosed).
  void Disconnect(_IDTExtensibility2* addin, long mode = ext_dm_HostShutdown);
  // The IDE exits: OnBeginShutdown and OnDisconnection (HostShutdown) to `addin`,
  // then the IDE shuts down; the add-in must hold nothing of it, and when the
  // IDE lets go of the add-in, call nothing of it.
  void ExitTheIde();
  com_ptr<_Connect> AsConnect(IUnknown* object);
  // Replaces the dialog script (the previous one must have been met).
  void ExpectDialogs(std::vector<DialogStep> steps);
  std::wstring SettingsPath() const { return folder_ / L"Quarnel.ini"; }

  AddinDll::Loader loader_;
  TempFolder folder_;
  std::unique_ptr<AddinDll> dll;
  std::unique_ptr<standin::Ide> ide;
  std::unique_ptr<DialogDriver> driver;
  com_ptr<_IDTExtensibility2> addin;
};

}  // namespace quarnel::test
