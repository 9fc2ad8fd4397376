#pragma once
// The stand-in for the Visual Basic 6.0 IDE that tests and demos hand to the add-in:
// the IDE's extensibility objects (library VBIDE) and the Office command bars it
// exposes (library Office), as real COM objects whose IDispatch is driven by type
// libraries with the IDE's names, DISPIDs and IIDs. The C++ API below builds the
// IDE's state, drives it as the user would (a menu click) and shows what a client
// did to it.
//
//   standin::Ide ide;
//   ide.project(L"Project1").form(L"Form1").module(L"Module1").build();
//   connect->OnConnection(ide.application().Get(), ...);
//   EXPECT_EQ(ide.controls(L"File")[6].caption, L"Quarnel...");
//   ide.click(L"File", 7);
//
// Use it on one thread, with COM initialised as a single-threaded apartment, as the
// IDE itself runs. The program must be linked with standin_link() in CMake, which
// puts the two type libraries beside it.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

namespace detail {
struct Core;
struct ProjectNode;
}  // namespace detail

// One call that reached the stand-in's objects, in the order they came.
struct Call {
  enum class Kind {
    kGetIDsOfNames,  // IDispatch::GetIDsOfNames
    kInvoke,         // IDispatch::Invoke
    kVtable,         // a direct call of an interface method (not through Invoke)
  };
  Kind kind = Kind::kInvoke;
  std::wstring object;   // the interface that declares the member: L"CommandBarControl"
  std::wstring member;   // L"Caption"; for GetIDsOfNames the first name as asked
  DISPID dispid = DISPID_UNKNOWN;  // DISPID_UNKNOWN: a name the object does not have
  WORD flags = 0;        // DISPATCH_METHOD, DISPATCH_PROPERTYGET, ...; 0 for GetIDsOfNames
  // The arguments as text, in the caller's order, comma-separated: strings quoted,
  // 16-bit integers with "%" and 32-bit ones with "&", named ones as Name:=value.
  // Example: L"\"File\"", L"Before:=7%". For GetIDsOfNames: the further names asked.
  std::wstring args;
  HRESULT result = S_OK;

  // object + "." + member: the name that failure injection uses. L"CommandBars.Item"
  std::wstring operation() const;
  // One line for test messages: L"Invoke CommandBarControls.Add(Before:=7%) -> 0x00000000"
  std::wstring text() const;
};

// A failure to inject: the chosen call fails with DISP_E_EXCEPTION (vtable callers:
// with `code` and IErrorInfo), and EXCEPINFO.bstrDescription = `description`.
//   ide.fail({.description = L"Disk full", .operation = L"_VBComponent.SaveAs", .call = 2});
//   ide.fail({.description = L"lost", .call = 5});   // the 5th call from now, whatever it is
struct Failure {
  std::wstring description{};
  // L"Interface.Member" as in Call::operation(), case-insensitive; empty: any call
  // (each Invoke or direct method call counts once; GetIDsOfNames does not count).
  std::wstring operation{};
  HRESULT code = E_FAIL;  // EXCEPINFO.scode
  int call = 1;           // the n-th matching call from now fails, once; 0: every one
};

// A button face: the picture PasteFace took from the clipboard.
struct Face {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows from the top
};

// A command-bar control as the user would see it.
struct Control {
  std::wstring caption;
  int type = 1;  // msoControlButton
  int id = 1;    // 1: a custom control
  bool temporary = false;
  int face_id = 0;
  std::optional<Face> face;  // set by PasteFace
};

// What the IDE's Click event on a control came to.
struct ClickResult {
  int sinks = 0;            // advised sinks called
  HRESULT result = S_OK;    // the first failing sink's Invoke result (DISP_E_EXCEPTION...)
  HRESULT code = S_OK;      // ... its EXCEPINFO.scode
  std::wstring description; // ... and EXCEPINFO.bstrDescription
  bool handled = false;         // the byref arguments as the sinks left them
  bool cancel_default = false;
};

// A component as the IDE holds it.
struct Component {
  std::wstring name;
  int type = 0;  // vbext_ComponentType: 1 module, 2 class, 5 form, ...
  bool dirty = true;
  std::wstring file_name;  // empty: never saved
};

// A project as the IDE holds it.
struct Project {
  std::wstring name;
  std::wstring file_name;  // empty: never saved
  bool dirty = true;       // the project file has unsaved changes
  bool saved = false;      // what _VBProject.Saved answers
  std::vector<Component> components;
};

// The IDE's modes, shown in its main window's caption ("[design]", "[run]",
// "[break]"). In run and break mode the IDE's save operations (SaveAs of a
// project or a component) fail with a description that names the mode.
enum class Mode { kDesign, kRun, kBreak };

// Ways the real IDE may behave where nothing says which way it does. Each is off
// when an Ide is made; a client must work with each of them on.
enum class Variant {
  // Windows(1) is a closed tool window ("Object Browser"): hidden, so its SetFocus
  // fails ("Invalid procedure call or argument"), as SetFocus on any hidden window does.
  kFirstWindowHidden,
  // FileName of a project never saved, and FileNames(1) of a component never
  // saved, raise "Path not found" instead of answering "".
  kUnsavedFileNameRaises,
  // The File menu, customised, holds only its first four controls (Controls.Add
  // refuses a Before past its end + 1, as always).
  kShortFileMenu,
  // Controls.Add refuses a Before that names no control (its end + 1 too).
  kBeforeOnlyAControl,
};

// What a client still held of the IDE when it shut down.
struct Leftovers {
  std::vector<std::wstring> objects;      // L"CommandBarButton (2 references)", by kind
  std::vector<std::wstring> connections;  // L"Click of File \"Quarnel...\" (1 sink)"
  bool empty() const { return objects.empty() && connections.empty(); }
  // One line each, for messages.
  std::wstring text() const;
};

class Ide;

// Describes a project to add to the IDE; components start with unsaved changes
// and no file, a project with no file and unsaved changes.
//   ide.project(L"Project1").saved_as(L"C:\\Work\\Project1.vbp")
//      .form(L"Form1").file(L"C:\\Work\\Form1.frm").clean().module(L"Module1").build();
class ProjectBuilder {
 public:
  ProjectBuilder& form(std::wstring name) { return component(std::move(name), 5); }
  ProjectBuilder& module(std::wstring name) { return component(std::move(name), 1); }
  ProjectBuilder& cls(std::wstring name) { return component(std::move(name), 2); }
  // Any kind (vbext_ComponentType 1..11; other values stand for a kind the IDE
  // does not list, for testing how a client copes).
  ProjectBuilder& component(std::wstring name, int type);
  // The last component's unsaved-changes flag.
  ProjectBuilder& dirty(bool dirty = true);
  ProjectBuilder& clean() { return dirty(false); }
  // The last component's file (it was saved there).
  ProjectBuilder& file(std::wstring path);
  // The last component's code, written after its header when it is saved.
  ProjectBuilder& code(std::wstring text);
  // The project's file; the project file then has no unsaved changes.
  ProjectBuilder& saved_as(std::wstring path);
  // The project file's unsaved-changes flag.
  ProjectBuilder& project_dirty(bool dirty);
  // vbext_ProjectType: 0 standard EXE (the default), 1 ActiveX EXE, 2 DLL, 3 control.
  ProjectBuilder& type(int type);
  // Adds the project to the IDE; the first project added becomes the active one.
  // Throws std::invalid_argument for a project name already there.
  void build();

 private:
  friend class Ide;
  ProjectBuilder(Ide& ide, std::wstring name);
  Ide& ide_;
  std::shared_ptr<detail::ProjectNode> project_;
};

class Ide {
 public:
  // The IDE as it starts: the "File" menu with the IDE's 13 commands and "Tools"
  // with 4, four windows, no project. Throws std::runtime_error when the type
  // libraries cannot be loaded from beside the program.
  Ide();
  ~Ide();
  Ide(const Ide&) = delete;
  Ide& operator=(const Ide&) = delete;

  // The root object (VBIDE.VBE) that the IDE passes to an add-in as Application.
  Microsoft::WRL::ComPtr<IDispatch> application();

  // --- Command bars -------------------------------------------------------------
  // The controls of a command bar, in order (position n is element n-1).
  // Throws std::out_of_range for a bar that does not exist.
  std::vector<Control> controls(std::wstring_view bar) const;
  // Adds a command bar with buttons of these captions (or replaces one of that name).
  void add_bar(std::wstring name, const std::vector<std::wstring>& captions);
  // Removes a command bar: CommandBars.Item then fails for its name.
  void remove_bar(std::wstring_view name);
  // The user clicks the control at this 1-based position: the IDE raises Click on
  // every event object the client took for that control, to each advised sink.
  //   auto click = ide.click(L"File", 7); EXPECT_EQ(click.sinks, 1);
  // `handled` and `cancel_default` are what the IDE passes in the byref arguments.
  ClickResult click(std::wstring_view bar, int position, bool handled = false, bool cancel_default = false);
  ClickResult click(std::wstring_view bar, std::wstring_view caption);

  // --- Projects -------------------------------------------------------------------
  // Starts describing a project; build() adds it.
  ProjectBuilder project(std::wstring name);
  // The state of a project now, or nothing for a name the IDE does not hold.
  std::optional<Project> find_project(std::wstring_view name) const;
  // Opens a project file (.vbp) from disk as the IDE does, with each component
  // file it names and their binary files (.frx...), and makes it the active
  // project; returns its name. The project and its components have no unsaved
  // changes; saved, they keep every line and byte the IDE does not rewrite. A
  // component file that cannot be read is left out and reported in `problems`
  // ("File not found: Form2.frm"); a project of the same name already open is
  // replaced, as File > Open Project does. Throws std::runtime_error when the
  // project file cannot be read or names no project.
  std::wstring open_project(const std::wstring& path, std::vector<std::wstring>* problems = nullptr);
  // The user edits a component: it then has unsaved changes. `text`, when not
  // empty, is appended to its code as a line. Throws std::out_of_range for a
  // project or component the IDE does not hold.
  void change(std::wstring_view project, std::wstring_view component, std::wstring_view text = {});
  // The user adds a new component (Project > Add Form...): never saved, with
  // unsaved changes, as is then the project file. Throws std::out_of_range for a
  // project the IDE does not hold, std::invalid_argument for a name it has.
  void add(std::wstring_view project, std::wstring name, int type);
  // The names of the projects, in the order they were added.
  std::vector<std::wstring> project_names() const;
  // The active project's name; empty when there is none.
  std::wstring active_project() const;
  // Makes the named project the active one; empty: no active project (then
  // ActiveVBProject answers Nothing).
  void set_active_project(std::wstring_view name);
  // The user removes a project (File > Remove Project): the objects a client
  // holds for it and its components then fail their calls. When it was the
  // active one, the first project left becomes active, or none. Throws
  // std::out_of_range for a project the IDE does not hold.
  void remove_project(std::wstring_view name);

  // --- Windows --------------------------------------------------------------------
  // The captions of the windows in VBE.Windows, in order.
  std::vector<std::wstring> windows() const;
  // The captions of the windows that were given the focus (Window.SetFocus), in order.
  std::vector<std::wstring> focus_history() const;

  // --- The root object --------------------------------------------------------------
  // What VBE.FullName answers; starts as the IDE's usual path.
  void set_full_name(std::wstring full_name);

  // --- Modes, variants, add-ins and shut-down -----------------------------------------
  void set_mode(Mode mode);
  Mode mode() const;
  // The main window's caption: L"Microsoft Visual Basic [design]".
  std::wstring caption() const;
  void set(Variant variant, bool on = true);
  // A slow disk (a network share, a busy drive): each SaveAs, of a project or a
  // component, takes this long more, holding the IDE's thread as a write does.
  void set_save_delay(DWORD milliseconds);
  // A slow IDE (a large project, files on a network share): each FileName, of
  // a project or a component, takes this long, holding the IDE's thread.
  void set_answer_delay(DWORD milliseconds);
  // A slower IDE still (a project of many components on a slow machine): each
  // member a component answers (Type, IsDirty, Name, FileNames, SaveAs...)
  // takes this long more, holding the IDE's thread.
  void set_component_delay(DWORD milliseconds);
  // The IDE's AddIn object for an add-in of its list (made on first request):
  // what the IDE passes to OnConnection as AddInInst. Its Connect answers what
  // set_addin_connected last said.
  Microsoft::WRL::ComPtr<IDispatch> addin(const std::wstring& prog_id, const std::wstring& description = {},
                                          const std::wstring& guid = {});
  void set_addin_connected(std::wstring_view prog_id, bool connected);
  // The IDE closes, after its add-ins' OnDisconnection: from now on every object
  // it handed out answers every call with RPC_E_DISCONNECTED (recorded in
  // calls()), an Unadvise included, and clicks reach no sink. Returns what was
  // still referenced (every stand-in object alive in this process) and each
  // event connection still advised at this moment.
  Leftovers shut_down();

  // --- Calls and failures -------------------------------------------------------------
  const std::vector<Call>& calls() const;
  // The calls of an operation (L"CommandBars.Item"), GetIDsOfNames not counted.
  std::size_t count(std::wstring_view operation) const;
  // Forgets the calls and the focus steps recorded so far.
  void clear_calls();
  // Every call so far, one line each, for test messages.
  std::wstring transcript() const;
  void fail(Failure failure);
  void clear_failures();

 private:
  friend class ProjectBuilder;
  std::shared_ptr<detail::Core> core_;
};

// Stand-in objects alive now, in this process (of every Ide, and of those gone).
// After a test has released all it got and its Ide is destroyed, this is 0.
long LiveObjects();
// References held on those objects, by anyone.
long OutstandingReferences();

}  // namespace standin
