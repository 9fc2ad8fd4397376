#pragma once
// The state of one stand-in IDE: command bars, projects, windows, the record of
// calls and the failures to inject. The Ide owns it; the COM objects reach it and
// their own part of it through weak pointers, so nothing in the model keeps
// anything else alive, and an object that outlives its Ide fails its calls
// instead of touching freed memory.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/owners.h"
#include "standin/ide.h"

namespace standin::detail {

class CommandBarObject;
class ControlObject;
class ProjectObject;
class ComponentObject;
class WindowObject;
class VbeObject;
class EventSourceObject;
class AddinObject;
class ObjectBase;

struct BarNode;
struct ProjectNode;

// Each node remembers the one COM object that stands for it while that lives, so
// a client asking twice gets the same object; the object clears it as it goes.
struct ControlNode {
  std::weak_ptr<BarNode> bar;
  std::wstring caption;
  int type = 1;  // msoControlButton
  int id = 1;
  std::wstring parameter;
  bool temporary = false;
  int face_id = 0;
  std::optional<Face> face;
  ControlObject* object = nullptr;
};

struct BarNode {
  std::wstring name;
  std::vector<std::shared_ptr<ControlNode>> controls;
  CommandBarObject* object = nullptr;
};

struct ComponentNode {
  std::weak_ptr<ProjectNode> project;
  std::wstring name;
  int type = 0;
  bool dirty = true;
  std::wstring file_name;
  std::wstring code;
  ComponentObject* object = nullptr;
  // Read from a file: everything before the code (VERSION line, designer block,
  // Object and Attribute lines), or a resource file's bytes, written back as they
  // were. Empty for a component the IDE made.
  std::string header;
  // The binary files beside it (".frx" and the like): their extension as found
  // and their bytes, written beside each file it is saved as.
  std::vector<std::pair<std::wstring, std::string>> companions;
  // The line of the project file that names it; -1 for none.
  int line = -1;
};

struct ProjectNode {
  std::wstring name;
  std::wstring file_name;
  bool dirty = true;
  int type = 0;  // vbext_pt_StandardExe
  std::wstring build_file_name;  // empty: the name the IDE derives
  std::vector<std::shared_ptr<ComponentNode>> components;
  ProjectObject* object = nullptr;
  // Read from a file: its lines (8-bit, without their ends), written back with
  // only what the IDE rewrites changed, and the folder its relative paths start
  // from. Empty for a project the IDE made.
  std::vector<std::string> lines;
  std::wstring lines_folder;

  // Saved: the project file is written and up to date, and no component has
  // unsaved changes.
  bool Saved() const;
};

struct WindowNode {
  std::wstring caption;
  bool visible = true;  // a closed tool window stays in Windows, hidden
  quarnel::unique_hwnd hwnd;
  WindowObject* object = nullptr;
};

// An add-in as the IDE's add-in list holds it.
struct AddinNode {
  std::wstring prog_id;
  std::wstring description;
  std::wstring guid;
  bool connected = false;
  quarnel::com_ptr<IDispatch> client_object;  // what a client put into AddIn.Object
  AddinObject* object = nullptr;
};

struct Core {
  Core();
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // --- The model
  std::wstring name = L"Microsoft Visual Basic";
  std::wstring full_name = L"C:\\Program Files\\Microsoft Visual Studio\\VB98\\VB6.EXE";
  std::wstring version = L"6.00";
  std::wstring last_used_path = L"C:\\Program Files\\Microsoft Visual Studio\\VB98";
  short read_only_mode = 0;
  std::vector<std::shared_ptr<BarNode>> bars;
  std::vector<std::shared_ptr<ProjectNode>> projects;
  std::weak_ptr<ProjectNode> active_project;
  std::vector<std::shared_ptr<WindowNode>> windows;
  std::shared_ptr<WindowNode> main_window;
  std::weak_ptr<WindowNode> active_window;
  std::vector<std::wstring> focus_history;
  std::vector<std::shared_ptr<AddinNode>> addins;
  Mode mode = Mode::kDesign;
  bool file_name_raises = false;  // Variant::kUnsavedFileNameRaises
  DWORD save_delay = 0;            // set_save_delay: how long each SaveAs takes
  DWORD answer_delay = 0;          // set_answer_delay: how long each FileName takes
  DWORD component_delay = 0;       // set_component_delay: how long each member of a component takes
  bool before_only_a_control = false;  // Variant::kBeforeOnlyAControl
  // The IDE has shut down: every object fails every call as a disconnected server.
  bool shut_down = false;

  // --- Live objects that the model reaches (not owned)
  VbeObject* root = nullptr;
  std::vector<EventSourceObject*> event_sources;
  // References the IDE itself holds while it raises an event (the clicked
  // control): an add-in's leftovers are what is referenced beyond them.
  std::vector<const ObjectBase*> own_references;

  // --- Calls and failures
  std::vector<Call> calls;
  struct Rule {
    Failure failure;
    int left = 0;  // matching calls until it fires; 0: fires at every one
  };
  std::vector<Rule> rules;

  // Appends a call to the record; returns its index.
  std::size_t Record(Call call);
  void SetResult(std::size_t entry, HRESULT result);

  // Where a call stands when failures are looked for: kEntry as it arrives from a
  // client (Invoke, or a method called directly), kExecution as the operation runs.
  enum class Stage { kEntry, kExecution };
  // The failure due for this call, if any: rules without an operation count
  // entries, the others executions of their operation.
  std::optional<Failure> DueFailure(std::wstring_view operation, Stage stage);

  // Lookups; null when there is none.
  std::shared_ptr<BarNode> FindBar(std::wstring_view bar_name) const;
  std::shared_ptr<ProjectNode> FindProject(std::wstring_view project_name) const;
};

// Case-insensitive comparison, as the IDE compares names.
bool SameText(std::wstring_view a, std::wstring_view b);

}  // namespace standin::detail
