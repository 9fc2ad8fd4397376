#include "save/project_save.h"

#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "common/ansi.h"
#include "common/app.h"
#include "common/barrier.h"
#include "common/error.h"
#include "common/later_windows.h"
#include "forms/frmAddIn.h"
#include "save/file_identity.h"
#include "texts/modAddin.h"
#include "save/save_progress.h"
#include "save/write_access.h"
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

// The files the IDE may write beside a component's file, by kind, 1 to 11: a
// form's binary properties in a .frx, a user control's in a .ctx...
using Companions = const wchar_t* const[2];
constexpr Companions kCompanions[] = {
    {},          {},          {}, {L".dsx", L".dca"}, {},          {L".frx"},
    {L".frx"},   {L".pgx"},   {L".ctx"},          {L".dox"},   {},          {L".dsx", L".dca"},
};
// And beside the project file, the IDE's workspace file (its windows' places).
constexpr wchar_t kWorkspace[] = L".vbw";
constexpr Companions kProjectCompanions = {kWorkspace};

// How long, by the clock from the first "held" answer of a save, the files
// another program holds open are asked again, and the pause between two
// tries: a scanner's or a sync client's hold is over by then. A server may
// take its time over each answer; the two seconds are counted all the same.
constexpr DWORD kHeldWait = 2000, kHeldPause = 20;

// A disk with this much room takes any save: a 32-bit IDE holds every file it
// writes in its two gigabytes of memory. Below it, the room is weighed against
// the files' sizes, each in whole clusters.
constexpr ULONGLONG kRoomForAnySave = 2ull << 30;

// The name of a file in `path`'s folder.
std::wstring NameOf(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

// Whether Windows takes a file of this name, in any folder, for a device: the
// name before its first dot (spaces at its end aside) is one of the devices'
// names, case aside. Nul.cls is the NUL device, Com1.bas a serial port.
bool IsDeviceName(std::wstring_view name) {
  std::wstring_view stem = name.substr(0, name.find(L'.'));
  while (stem.ends_with(L' ')) stem.remove_suffix(1);
  const auto is = [&](std::wstring_view device) {
    return CompareNoCase(stem.data(), static_cast<int>(stem.size()), device.data(), static_cast<int>(device.size())) ==
           CSTR_EQUAL;
  };
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (is(device)) return true;
  }
  if (stem.size() != 4) return false;
  const wchar_t digit = stem[3];
  stem.remove_suffix(1);
  // COM1 to COM9, LPT1 to LPT9, and with the superscript digits 1 to 3.
  return (is(L"COM") || is(L"LPT")) &&
         ((digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3');
}

// The file of the same name as `path` with another extension: Form1.frm gives
// Form1.frx. Empty for an empty path.
std::wstring Beside(const std::wstring& path, const wchar_t* extension) {
  if (path.empty()) return path;
  const size_t dot = path.rfind(L'.');
  const size_t slash = path.rfind(L'\\');
  return (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash) ? path : path.substr(0, dot)) +
         extension;
}

class Command final : IdeHolder {
 public:
  // `owner_` (the window active at the click, the IDE's main window) owns the
  // progress window and every message box, which disables it while it is up:
  // the user may have switched to another program meanwhile, and then no
  // window of the IDE is active.
  Command(const host::VBE& ide, std::wstring& init_folder)
      : ide_(ide), init_folder_(init_folder), form_(frmAddIn::Default()), owner_(GetActiveWindow()) {}

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
    // From the destination's answer to the last file, Windows hears from the
    // IDE's thread, and a long click shows how far it is.
    progress_.emplace(owner_);
    PlanWrites(destination);
    SayWhatCannotBeSaved();
    if (!MayWrite()) return End();
    SaveAll();
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
      std::wstring name;  // asked only of one that is written
      std::wstring path;  // empty: it is not written (unchanged, or it cannot be saved)
      const Companions* companions = &kCompanions[0];  // of its kind: the files beside its file
      std::optional<std::wstring> own_file;    // the file it is saved as now, once asked
    };
    std::vector<Component> components;
    size_t writes = 1;    // the files the save writes: the project's and each component's with a path
    std::wstring folder;  // the destination, into which every file goes
    std::wstring project_name;
    std::wstring project_file;
    std::optional<std::wstring> project_own_file;  // the project's file now, once asked
  };

  // The IDE is asked about each component between two words to Windows; the
  // components are listed first, so that no IDE object is held but the plan's
  // when the IDE begins to exit there.
  void PlanWrites(const std::wstring& destination) {
    Plan& plan = plan_;
    plan.folder = destination;
    project_.Components().ForEach([&](const host::VBComponent& component) {
      plan.components.emplace_back().component = component;
    });
    // A kind outside the table keeps the previous component's extension.
    std::wstring extension;
    const Companions* companions = &kCompanions[0];
    for (auto& step : plan.components) {
      Breathe();
      const host::VBComponent& component = step.component;
      const long kind = component.Type();
      if (const wchar_t* known = ExtensionOfKind(kind)) {
        extension = known;
        companions = &kCompanions[kind];
      } else {
        step.unknown_kind = true;
      }
      step.companions = companions;
      step.dirty = component.IsDirty();
      if (step.dirty && !extension.empty()) {
        // The separator always goes in, also after a drive root.
        step.name = component.Name();
        step.path = destination + L"\\" + step.name + extension;
        ++plan.writes;
      }
    }
    plan.project_name = project_.Name();
    plan.project_file = destination + L"\\" + plan.project_name + L".vbp";
  }

  // Before anything is written, each file the save would write is judged.
  // Files that Windows would not let the IDE write (a device's name, a path too
  // long for it, a read-only, hidden or system file or a folder in the way, a
  // file this process may not change or another program holds open), a folder
  // in which it may not create files, and a disk without room for the files
  // would make the save fail in the middle, or, for a device, lose the
  // component's code unnoticed: they end the save, all named in one message,
  // before anything else is said.
  // Then, of the files that are there already, the own file of a component
  // that this save does not write (frmOrders's Main.frm, where a new form Main
  // would go) ends the save with a message: replaced, it would lose that
  // component's file, and the project file would name one file twice. Files
  // that are none of this project's (another project's Form1.frm, or its
  // Form1.frx alone) are named in a question. False when the save is not to
  // go on.
  bool MayWrite() {
    // The IDE writes 8-bit paths of fewer than MAX_PATH bytes.
    std::wstring folder = FullPath(plan_.folder);
    while (folder.ends_with(L'\\')) folder.pop_back();
    Judgement judgement{{}, AnsiLength(folder) + 1};
    // The files beside a component's file or the project file share its name
    // and its length: they are judged only by what stands in their places.
    size_t number = 0;
    const auto judge = [&](const std::wstring& path, Plan::Component* writer, const Companions& companions) {
      Before(true, ++number, NameOf(path));
      // The folder, under the first file's progress: whether new files may be
      // made in it (tried with a file named as this first one), its room, and
      // what stands in it.
      if (number == 1) {
        if (const auto why = CannotCreateFileIn(folder, path.c_str() + path.rfind(L'.'))) {
          judgement.unwritable.push_back(plan_.folder + L": " + CannotWriteReason(*why));
        } else if (const auto room = RoomIn(folder); room && room->free < kRoomForAnySave) {
          judgement.room = room;
        }
        judgement.there.emplace(plan_.folder, [](void* self) { static_cast<Command*>(self)->Breathe(); }, this);
      }
      if (!Nameable(path, writer, judgement)) return;
      Judge(path, writer, nullptr, judgement);
      for (const wchar_t* extension : companions) {
        if (extension) Judge(Beside(path, extension), writer, extension, judgement);
      }
    };
    for (auto& step : plan_.components) {
      if (!step.path.empty()) judge(step.path, &step, *step.companions);
    }
    judge(plan_.project_file, nullptr, kProjectCompanions);
    const auto refuse = [&](const std::wstring& text) {
      Message(text, MB_ICONWARNING);
      return false;
    };
    const auto agreed = [&](const std::wstring& text) {
      return Ask(text, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
    };
    if (!judgement.unwritable.empty()) return refuse(CannotWriteMessage(judgement.unwritable));
    if (!judgement.clashes.empty()) return refuse(ProjectClashMessage(judgement.clashes));
    // The sizes are estimates (a compressed folder, a server's own figures):
    // a save they say will not fit is the user's to try.
    if (judgement.room && judgement.need > static_cast<long long>(judgement.room->free) &&
        !agreed(NoRoomQuestion(plan_.folder, judgement.room->free, static_cast<ULONGLONG>(judgement.need)))) {
      return false;
    }
    return judgement.foreign.empty() || agreed(ForeignFilesQuestion(judgement.foreign));
  }

  struct Judgement {
    std::optional<FolderFiles> there;
    size_t folder_bytes;  // of the destination's full path in the ANSI code page, with a "\\" after it
    std::vector<std::wstring> unwritable = {};  // "Nul.cls (Nul): Windows keeps this name for a device"
    std::vector<std::wstring> clashes = {};     // "Main.frm (frmOrders)"
    std::vector<std::wstring> foreign = {};     // "Form1.frm"
    // The bytes this user may still write on the destination's disk and its
    // clusters, when so few that the save may not fit; and what the save adds
    // there, in whole clusters: each file at its size now, or what the IDE
    // holds of its code when more (one cluster at least, for a file never
    // saved), less the file it replaces.
    std::optional<Room> room = {};
    long long need = 0;
    long long Clusters(ULONGLONG bytes) const {
      return static_cast<long long>((bytes + room->cluster - 1) & ~(room->cluster - 1));
    }
  };

  // Whether the IDE can name `path`, the file of `writer` (null: the project):
  // not when its name is a device's or its path too long for the IDE.
  bool Nameable(const std::wstring& path, const Plan::Component* writer, Judgement& judgement) {
    const std::wstring name = NameOf(path);
    const bool device = IsDeviceName(name);
    if (!device && judgement.folder_bytes + AnsiLength(name) < MAX_PATH) return true;
    Unwritable(path, writer, device ? CannotWrite::kDevice : CannotWrite::kPathTooLong, judgement);
    return false;
  }

  void Unwritable(const std::wstring& path, const Plan::Component* writer, CannotWrite why, Judgement& judgement) {
    judgement.unwritable.push_back(NameOf(path) + (writer ? L" (" + writer->name + L")" : L"") + L": " +
                                   CannotWriteReason(why));
  }

  // Judges `path`, which the save would write for `writer` (null: the project):
  // its main file, or with `extension` the file beside it.
  void Judge(const std::wstring& path, Plan::Component* writer, const wchar_t* extension, Judgement& judgement) {
    ULONGLONG replaced;
    const DWORD attributes = judgement.there->Attributes(path, &replaced);
    if (judgement.room) {
      const std::wstring& own_file = OwnFile(writer);
      ULONGLONG size = FileSize(extension ? Beside(own_file, extension) : own_file);
      if (writer && !extension) size = std::max(size, CodeBytes(*writer));
      judgement.need += judgement.Clusters(std::max<ULONGLONG>(size, 1)) -
                        (attributes == INVALID_FILE_ATTRIBUTES ? 0 : judgement.Clusters(replaced));
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // One reason a file, the first that holds: a folder, a read-only file, a
    // hidden one, a system one.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
      return Unwritable(path, writer,
                        attributes & FILE_ATTRIBUTE_DIRECTORY  ? CannotWrite::kFolder
                        : attributes & FILE_ATTRIBUTE_READONLY ? CannotWrite::kReadOnly
                        : attributes & FILE_ATTRIBUTE_HIDDEN   ? CannotWrite::kHidden
                                                               : CannotWrite::kSystem,
                        judgement);
    }
    // Whether Windows lets this process open it for writing, as the IDE will;
    // one another program holds is asked again, until two seconds have passed
    // since the save's first "held" answer.
    std::optional<CannotWrite> why;
    while ((why = CannotOpenForWriting(path)) == CannotWrite::kInUse) {
      const DWORD now = GetTickCount();
      if (!held_since_) held_since_ = now;
      if (now - *held_since_ >= kHeldWait) break;
      Sleep(kHeldPause);
      Breathe();
    }
    if (why) return Unwritable(path, writer, *why, judgement);
    const FileIdentity target(path);
    const std::wstring& own_file = OwnFile(writer);
    if (target.Is(FileIdentity(extension ? Beside(own_file, extension) : own_file))) return;
    const std::wstring name = NameOf(path);
    const OwnedFile* owned = FindOwner(target);
    if (!owned) {
      judgement.foreign.push_back(name);
    } else if (plan_.components[owned->step].path.empty()) {
      judgement.clashes.push_back(name + L" (" + plan_.components[owned->step].component.Name() + L")");
    }
    // The file of another component that this save writes too: that component
    // keeps its content in the IDE and gets its new file.
  }

  // The file of `writer` as it is now, or with none the project's, asked of
  // the IDE at the first need (the project may have been saved somewhere while
  // the browser was open).
  const std::wstring& OwnFile(Plan::Component* writer) {
    if (writer) return OwnFile(*writer);
    if (!plan_.project_own_file) plan_.project_own_file = ProjectFile();
    return *plan_.project_own_file;
  }

  // A component's own file, asked of the IDE at the first need: empty for one
  // never saved, also when the IDE raises an error for such a component.
  const std::wstring& OwnFile(Plan::Component& step) const {
    if (!step.own_file) {
      try {
        step.own_file = step.component.FileName();
      } catch (const Error&) {
        step.own_file.emplace();
      }
    }
    return *step.own_file;
  }

  // The bytes of a component's code as the IDE will write it, in the system's
  // code page with a line end after each line; 0 for none, also when the IDE
  // answers an error. (A form's controls and the file's Attribute lines are
  // not known before the IDE writes them.)
  static ULONGLONG CodeBytes(const Plan::Component& step) {
    try {
      const std::wstring code = step.component.Code();
      return code.empty() ? 0 : AnsiLength(code) + 2;
    } catch (const Error&) {
      return 0;
    }
  }

  // A file of a component of the project as it is now: its own file, or one
  // beside it.
  struct OwnedFile {
    FileIdentity file;
    size_t step;  // in plan_.components
  };

  // The component whose file (or a file beside it) `target` is; null when none
  // is. The components' files are asked for only when a file would be replaced
  // that is not its writer's own.
  const OwnedFile* FindOwner(const FileIdentity& target) {
    if (!project_files_) {
      project_files_.emplace();
      for (size_t i = 0; i < plan_.components.size(); ++i) {
        Breathe();
        const std::wstring& own = OwnFile(plan_.components[i]);
        if (own.empty()) continue;
        project_files_->push_back({FileIdentity(own), i});
        for (const wchar_t* extension : *plan_.components[i].companions) {
          if (extension) project_files_->push_back({FileIdentity(Beside(own, extension)), i});
        }
      }
    }
    for (const auto& file : *project_files_) {
      if (target.Is(file.file)) return &file;
    }
    return nullptr;
  }

  // What the save will skip, said in the order of the components before the
  // first file: a message box runs the input waiting in the IDE's queue, which
  // must not run with half the project written. A component of a kind outside
  // the table is told " BOH!"; a changed one with no extension is not saved.
  void SayWhatCannotBeSaved() {
    for (const auto& step : plan_.components) {
      if (step.unknown_kind) Message(L" BOH!", 0);
      if (step.dirty && step.path.empty()) Message(sMsgCantSave, MB_ICONERROR);
    }
  }

  // The components' files, then the project file.
  void SaveAll() {
    size_t number = 0;
    for (const auto& step : plan_.components) {
      if (step.path.empty()) continue;
      Before(false, ++number, step.name);
      Write(step.component, step.path);
    }
    Before(false, ++number, plan_.project_name);
    Write(project_, plan_.project_file);
  }

  // Between two steps of the checks and the writes, Windows sees that the IDE
  // is alive, and a long click shows its progress (SaveProgress); when the IDE
  // began to exit meanwhile, the command ends there, saying nothing.
  void Before(bool checking, size_t number, const std::wstring& name) {
    progress_->Before(checking, number, plan_.writes, name);
    run_.ThrowIfAbandoned();
  }
  void Breathe() {
    progress_->Breathe();
    run_.ThrowIfAbandoned();
  }

  // The host's save of one file, remembered while it runs: a failure names it,
  // and the files written before it.
  template <class Item>
  void Write(const Item& item, const std::wstring& path) {
    writing_ = path;
    item.SaveAs(path);
    writing_.clear();
    written_.push_back(NameOf(path));
  }

  // What the user sees of a failure: the host's description, the file being
  // written, if any, and those written before it in this click.
  // The progress window is gone before it.
  void ShowFailure(const std::wstring& description) noexcept {
    progress_.reset();
    try {
      std::wstring text = writing_.empty() ? description : description + L"\n\n" + writing_;
      if (!written_.empty()) text += L"\n\n" + AlreadyWrittenLine(written_);
      run_.Message(owner_, text, kAppTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    } catch (...) {
      // The failure itself still reaches the IDE.
    }
  }

  void End() {
    progress_.reset();
    Focus();
  }

  // The IDE's first window gets the focus back: a courtesy, whose failure (the
  // first window may be a closed tool window, which takes no focus) is skipped.
  void Focus() {
    SkipFailure([&] { ide_.Windows().Item(1).SetFocus(); });
  }

  void Message(const std::wstring& text, UINT icon) { Ask(text, MB_OK | icon); }
  int Ask(const std::wstring& text, UINT flags) {
    if (progress_) progress_->Hide();
    return run_.Message(owner_, text, sMsgTitle, flags | MB_SETFOREGROUND);
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
  std::optional<std::vector<OwnedFile>> project_files_;
  std::optional<DWORD> held_since_;  // the tick of the checks' first "held" answer
  std::wstring writing_;
  std::vector<std::wstring> written_;
  std::wstring& init_folder_;
  frmAddIn& form_;
  const HWND owner_;
  std::optional<SaveProgress> progress_;
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
