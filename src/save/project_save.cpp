#include "save/project_save.h"

#include <shlobj.h>

#include "common/app.h"
#include "common/barrier.h"
#include "common/error.h"
#include "forms/frmAddIn.h"
#include "save/modAddin.h"
#include "shell/dialogs.h"
#include "shell/modSHBrowseForFolder.h"

namespace quarnel {
namespace {

constexpr wchar_t kSettingsFile[] = L"Quarnel.ini";
constexpr wchar_t kSection[] = L"FOLDER";
constexpr wchar_t kDefaultFolderKey[] = L"DefaultFolder";
// The destination picker lists files too (BIF_BROWSEINCLUDEFILES).
constexpr UINT kDestinationFlags = kDefaultBrowseFlags | BIF_BROWSEINCLUDEFILES;  // 0x4055

// Indexed by kind, 1 to 11.
constexpr const wchar_t* kExtensions[] = {
    nullptr, L".bas", L".cls", L".frm", L".res", L".frm", L".frm",
    L".pag", L".ctl", L".dob", L"",     L".dsr",
};

class Command {
 public:
  Command(const host::VBE& ide, std::wstring& init_folder)
      : ide_(ide), init_folder_(init_folder), dialogs_(CurrentDialogs()),
        form_(frmAddIn::Default()) {}

  // Does nothing while another run of the add-in's dialogs is going on. A
  // failure is shown to the user before it goes back to the caller.
  void Run() {
    const DialogRun run;
    if (!run) return;
    try {
      Steps();
    } catch (const Error& error) {
      ShowFailure(error.description());
      throw;
    } catch (const std::bad_alloc&) {
      ShowFailure(Error::Vb(7).description());
      throw;
    }
  }

 private:
  void Steps() {
    // The project the user clicked for, to the end: switching projects while a
    // dialog is open does not change which one is saved.
    project_ = ide_.ActiveVBProject();
    ReadDefaultFolder();
    FillMessageSlots();
    if (sDefaultFolder.empty() && !ChooseDefaultFolder()) return End();
    if (project_.Saved()) {
      Message(sMsgAlreadySaved, MB_ICONINFORMATION);
      return End();
    }
    const std::wstring destination = ChooseDestination();
    if (destination.empty()) return End();
    SaveComponents(destination);
    SaveProjectFile(destination);
    End();
  }

  void ReadDefaultFolder() {
    if (!oIni) throw Error::Vb(91);
    oIni->put_FileName(AppPath() + L"\\" + kSettingsFile);
    oIni->put_SectionName(kSection);
    sDefaultFolder = oIni->IniRead(kDefaultFolderKey, L"");
  }

  // First use: the user picks the Default folder, which is stored at once.
  // False when the user cancelled.
  bool ChooseDefaultFolder() {
    Message(sMsgNoDefaultFolder, MB_ICONINFORMATION);
    init_folder_ = dialogs_.GetSpecialFolderPath(form_.hWnd(), CSIDL_PERSONAL);
    const std::wstring chosen =
        dialogs_.BrowseForFolder(form_.hWnd(), sCaptionDefaultFolder, init_folder_, 0);
    Focus();
    if (chosen.empty()) {
      Message(sMsgAborted, MB_ICONWARNING);
      return false;
    }
    Message(sMsgImportant, MB_ICONINFORMATION);
    Message(sMsgReady, MB_ICONINFORMATION);
    Focus();
    sDefaultFolder = chosen;
    oIni->put_SectionName(kSection);
    oIni->IniWrite(kDefaultFolderKey, sDefaultFolder);
    return true;
  }

  // The destination picker, opening at the project file's folder or else at the
  // Default folder. Empty when the user cancelled.
  std::wstring ChooseDestination() {
    form_.Load();
    SetFormTopMost(form_, true);
    const std::wstring project_file = ProjectFile();
    // The folder part with its backslash; a path without one gives nothing.
    init_folder_ = project_file.empty()
                       ? sDefaultFolder
                       : project_file.substr(0, project_file.rfind(L'\\') + 1);
    const std::wstring destination =
        dialogs_.BrowseForFolder(form_.hWnd(), sCaptionDestination, init_folder_, kDestinationFlags);
    form_.Unload();
    Focus();
    return destination;
  }

  // The project's file; empty for a project never saved, also when the IDE
  // raises an error for such a project instead of answering "".
  std::wstring ProjectFile() const {
    try {
      return project_.FileName();
    } catch (const Error&) {
      return {};
    }
  }

  void SaveComponents(const std::wstring& destination) {
    // A kind outside the table keeps the previous component's extension.
    std::wstring extension;
    project_.Components().ForEach([&](const host::VBComponent& component) {
      if (const wchar_t* known = ExtensionOfKind(component.Type())) {
        extension = known;
      } else {
        Message(L" BOH!", 0);
      }
      if (!component.IsDirty()) return;
      if (extension.empty()) {
        Message(sMsgCantSave, MB_ICONERROR);
        return;
      }
      // The separator always goes in, also after a drive root.
      Write(component, destination + L"\\" + component.Name() + extension);
    });
  }

  void SaveProjectFile(const std::wstring& destination) {
    Write(project_, destination + L"\\" + project_.Name() + L".vbp");
  }

  // The host's save of one file, remembered while it runs: a failure names it.
  template <class Item>
  void Write(const Item& item, const std::wstring& path) {
    writing_ = path;
    item.SaveAs(path);
    writing_.clear();
  }

  // What the user sees of a failure: the host's description and the file being
  // written, if any.
  void ShowFailure(const std::wstring& description) noexcept {
    try {
      const std::wstring text = writing_.empty() ? description : description + L"\n\n" + writing_;
      dialogs_.Message(nullptr, text, kAppTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    } catch (...) {
      // The failure itself still reaches the IDE.
    }
  }

  void End() { Focus(); }

  // The IDE's first window gets the focus back: a courtesy, whose failure (the
  // first window may be a closed tool window, which takes no focus) is skipped.
  void Focus() {
    SkipFailure([&] { ide_.Windows().Item(1).SetFocus(); });
  }

  void Message(const std::wstring& text, UINT icon) {
    dialogs_.Message(nullptr, text, sMsgTitle, MB_OK | icon | MB_SETFOREGROUND);
  }

  // Held for the whole click: a disconnection while a dialog is open lets go of
  // the add-in's own reference.
  const host::VBE ide_;
  host::VBProject project_;
  std::wstring writing_;
  std::wstring& init_folder_;
  Dialogs& dialogs_;
  frmAddIn& form_;
};

}  // namespace

const wchar_t* ExtensionOfKind(long kind) {
  return kind >= 1 && kind <= 11 ? kExtensions[kind] : nullptr;
}

void ProjectSaveCommand(const host::VBE& VBInstance, std::wstring& sInitFolder) {
  Command(VBInstance, sInitFolder).Run();
}

}  // namespace quarnel
