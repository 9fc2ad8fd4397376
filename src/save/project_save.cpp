#include "save/project_save.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "common/app.h"
#include "common/barrier.h"
#include "common/error.h"
#include "forms/frmAddIn.h"
#include "save/modAddin.h"
#include "shell/dialogs.h"
#include "shell/modSHBrowseForFolder.h"

namespace quarnel {
namespace {

// An existing file (not a folder: a folder of that name makes the IDE's own
// save fail, which reports it).
bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The full path, with "." and ".." resolved; the path itself when it has none.
std::wstring FullPath(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

// Two names of one file: full paths compared without regard to case.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  const std::wstring full_a = FullPath(a), full_b = FullPath(b);
  return CompareStringOrdinal(full_a.c_str(), static_cast<int>(full_a.size()), full_b.c_str(),
                              static_cast<int>(full_b.size()), TRUE) == CSTR_EQUAL;
}

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

class Command final : IdeHolder {
 public:
  Command(const host::VBE& ide, std::wstring& init_folder)
      : ide_(ide), init_folder_(init_folder), form_(frmAddIn::Default()) {}

  // Does nothing while another run of the add-in's dialogs is going on. A
  // failure is shown to the user before it goes back to the caller. When the
  // IDE begins to exit while one of its dialogs is open, the command lets go of
  // the IDE at once and, once that dialog has closed, ends without another step.
  void Run() {
    if (!run_) return;
    try {
      Steps();
    } catch (const RunAbandoned&) {
      return;
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
    plan_ = PlanWrites(destination);
    if (!MayReplace(plan_)) return End();
    SaveComponents(plan_);
    Write(project_, plan_.project_file);
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
    init_folder_ = CurrentDialogs().GetSpecialFolderPath(form_.hWnd(), CSIDL_PERSONAL);
    const std::wstring chosen = run_.BrowseForFolder(form_.hWnd(), sCaptionDefaultFolder, init_folder_, 0);
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
    std::wstring destination;
    {
      const auto unload = scope_exit([&] { form_.Unload(); });
      destination = run_.BrowseForFolder(form_.hWnd(), sCaptionDestination, init_folder_, kDestinationFlags);
    }
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

  // What the save will do, worked out before anything is written.
  struct Plan {
    struct Component {
      host::VBComponent component;
      bool unknown_kind = false;  // " BOH!" is said for it
      bool dirty = false;
      std::wstring path;          // empty: it cannot be saved
      std::wstring own_file;      // the file it is saved as now; empty: none
    };
    std::vector<Component> components;
    std::wstring project_file;
    std::wstring project_own_file;
  };

  Plan PlanWrites(const std::wstring& destination) const {
    Plan plan;
    // A kind outside the table keeps the previous component's extension.
    std::wstring extension;
    project_.Components().ForEach([&](const host::VBComponent& component) {
      Plan::Component step{component};
      if (const wchar_t* known = ExtensionOfKind(component.Type())) {
        extension = known;
      } else {
        step.unknown_kind = true;
      }
      step.dirty = component.IsDirty();
      if (step.dirty && !extension.empty()) {
        // The separator always goes in, also after a drive root.
        step.path = destination + L"\\" + component.Name() + extension;
        step.own_file = component.FileName();
      }
      plan.components.push_back(std::move(step));
    });
    plan.project_file = destination + L"\\" + project_.Name() + L".vbp";
    // Asked again after the browser: the IDE stays usable while it is open, and
    // the project may have been saved somewhere meanwhile.
    plan.project_own_file = ProjectFile();
    return plan;
  }

  // Files that the save would replace and that are not the components' or the
  // project's own (another project's Form1.frm) are named in a question first;
  // false when the user answers No.
  bool MayReplace(const Plan& plan) {
    std::vector<std::wstring> foreign;
    auto judge = [&](const std::wstring& path, const std::wstring& own_file) {
      if (!path.empty() && IsFile(path) && !SamePath(path, own_file)) {
        foreign.push_back(path.substr(path.rfind(L'\\') + 1));
      }
    };
    for (const auto& step : plan.components) judge(step.path, step.own_file);
    judge(plan.project_file, plan.project_own_file);
    if (foreign.empty()) return true;
    return run_.Message(nullptr, ForeignFilesQuestion(foreign), sMsgTitle,
                        MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND) == IDYES;
  }

  void SaveComponents(const Plan& plan) {
    for (const auto& step : plan.components) {
      if (step.unknown_kind) Message(L" BOH!", 0);
      if (!step.dirty) continue;
      if (step.path.empty()) {
        Message(sMsgCantSave, MB_ICONERROR);
        continue;
      }
      Write(step.component, step.path);
    }
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
      run_.Message(nullptr, text, kAppTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
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
    run_.Message(nullptr, text, sMsgTitle, MB_OK | icon | MB_SETFOREGROUND);
  }

  // Every object of the IDE the command holds: let go of when the IDE exits
  // while a dialog is open.
  void LetGoOfTheIde() noexcept override {
    // In place: the plan may be walked while a dialog of that walk is open.
    for (auto& step : plan_.components) step.component = host::VBComponent();
    project_ = host::VBProject();
    ide_ = host::VBE();
  }

  // Held for the whole click: an unloading of the add-in while a dialog is open
  // lets go of the add-in's own reference, not of this one.
  host::VBE ide_;
  host::VBProject project_;
  Plan plan_;
  std::wstring writing_;
  std::wstring& init_folder_;
  frmAddIn& form_;
  const DialogRun run_{this};
};

}  // namespace

const wchar_t* ExtensionOfKind(long kind) {
  return kind >= 1 && kind <= 11 ? kExtensions[kind] : nullptr;
}

void ProjectSaveCommand(const host::VBE& VBInstance, std::wstring& sInitFolder) {
  Command(VBInstance, sInitFolder).Run();
}

}  // namespace quarnel
