#include "standin/ide.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "command_bars.h"
#include "core.h"
#include "events.h"
#include "ide_windows.h"
#include "project_files.h"
#include "projects.h"
#include "typelibs.h"
#include "vbe.h"

namespace standin {

using detail::com_ptr;

namespace {

std::string Narrow(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

const wchar_t* KindName(Call::Kind kind) {
  switch (kind) {
    case Call::Kind::kGetIDsOfNames: return L"GetIDsOfNames";
    case Call::Kind::kInvoke: return L"Invoke";
    case Call::Kind::kVtable: return L"Vtable";
  }
  return L"";
}

std::wstring FlagsText(WORD flags) {
  std::wstring text;
  auto add = [&](WORD flag, const wchar_t* name) {
    if (!(flags & flag)) return;
    if (!text.empty()) text += L"|";
    text += name;
  };
  add(DISPATCH_METHOD, L"method");
  add(DISPATCH_PROPERTYGET, L"get");
  add(DISPATCH_PROPERTYPUT, L"put");
  add(DISPATCH_PROPERTYPUTREF, L"putref");
  return text;
}

// The IDE's File menu with one project holding Form1, and its Tools menu.
const std::vector<std::wstring>& FileMenu() {
  static const std::vector<std::wstring> captions = {
      L"&New Project",   L"&Open Project...",     L"A&dd Project...",       L"&Remove Project",
      L"Sa&ve Project",  L"Sav&e Project As...",  L"&Save Form1",           L"Save Form1 &As...",
      L"&Print...",      L"P&rint Setup...",      L"Ma&ke Project1.exe...", L"Make Project &Group...",
      L"E&xit"};
  return captions;
}

const std::vector<std::wstring>& ToolsMenu() {
  static const std::vector<std::wstring> captions = {L"Add &Procedure...", L"Procedure Attri&butes...",
                                                     L"&Menu Editor...", L"&Options..."};
  return captions;
}

std::shared_ptr<detail::BarNode> MakeBar(std::wstring name, const std::vector<std::wstring>& captions) {
  auto bar = std::make_shared<detail::BarNode>();
  bar->name = std::move(name);
  int id = 100;
  for (const auto& caption : captions) {
    auto control = std::make_shared<detail::ControlNode>();
    control->bar = bar;
    control->caption = caption;
    control->id = id++;  // the IDE's own commands have built-in ids
    bar->controls.push_back(std::move(control));
  }
  return bar;
}

std::shared_ptr<detail::WindowNode> MakeWindow(std::wstring caption) {
  auto window = std::make_shared<detail::WindowNode>();
  window->hwnd = detail::MakeIdeWindow(caption);
  window->caption = std::move(caption);
  return window;
}

detail::BarNode& BarOf(const detail::Core& core, std::wstring_view name) {
  auto bar = core.FindBar(name);
  if (!bar) throw std::out_of_range("standin: no command bar " + Narrow(name));
  return *bar;
}

ClickResult Fire(const std::shared_ptr<detail::Core>& core, const std::shared_ptr<detail::ControlNode>& node,
                 bool handled_in = false, bool cancel_default_in = false) {
  if (core->shut_down) return {};  // the IDE is gone: no click reaches anyone
  com_ptr<detail::ControlObject> control = detail::ObjectFor<detail::ControlObject>(core, node);
  core->own_references.push_back(control.Get());
  // One entry each: a click may come while another one's sinks run.
  const auto own = quarnel::scope_exit([&] {
    auto& own_references = core->own_references;
    own_references.erase(std::find(own_references.begin(), own_references.end(), control.Get()));
  });
  // The sinks as they are now: one may unadvise, or advise another, while called.
  std::vector<com_ptr<IDispatch>> sinks;
  for (detail::EventSourceObject* source : core->event_sources) {
    if (source->control().lock() == node) source->AppendSinks(sinks);
  }
  ClickResult result;
  VARIANT_BOOL handled = handled_in ? VARIANT_TRUE : VARIANT_FALSE;
  VARIANT_BOOL cancel_default = cancel_default_in ? VARIANT_TRUE : VARIANT_FALSE;
  for (const auto& sink : sinks) {
    // Click(CommandBarControl, handled, CancelDefault), arguments last to first.
    VARIANTARG args[3];
    V_VT(&args[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[0]) = &cancel_default;
    V_VT(&args[1]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[1]) = &handled;
    V_VT(&args[2]) = VT_DISPATCH;
    V_DISPATCH(&args[2]) = static_cast<CommandBarButton*>(control.Get());
    DISPPARAMS params{args, nullptr, 3, 0};
    EXCEPINFO excep{};
    UINT arg_error = 0;
    const HRESULT hr = sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &excep,
                                    &arg_error);
    ++result.sinks;
    if (hr == DISP_E_EXCEPTION && excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    if (FAILED(hr) && SUCCEEDED(result.result)) {
      result.result = hr;
      result.code = hr == DISP_E_EXCEPTION ? excep.scode : hr;
      if (excep.bstrDescription) result.description = excep.bstrDescription;
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
  result.handled = handled != VARIANT_FALSE;
  result.cancel_default = cancel_default != VARIANT_FALSE;
  return result;
}

Component Snapshot(const detail::ComponentNode& node) {
  return {node.name, node.type, node.dirty, node.file_name};
}

}  // namespace

// --- Call -------------------------------------------------------------------------------

std::wstring Call::operation() const { return object + L"." + member; }

std::wstring Call::text() const {
  wchar_t code[16];
  swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
  std::wstring line = std::wstring(KindName(kind)) + L" " + operation();
  if (flags) line += L" [" + FlagsText(flags) + L"]";
  return line + L"(" + args + L") -> " + code;
}

// --- ProjectBuilder ----------------------------------------------------------------------

ProjectBuilder::ProjectBuilder(Ide& ide, std::wstring name) : ide_(ide), project_(std::make_shared<detail::ProjectNode>()) {
  project_->name = std::move(name);
}

ProjectBuilder& ProjectBuilder::component(std::wstring name, int type) {
  auto component = std::make_shared<detail::ComponentNode>();
  component->project = project_;
  component->name = std::move(name);
  component->type = type;
  project_->components.push_back(std::move(component));
  return *this;
}

ProjectBuilder& ProjectBuilder::dirty(bool dirty) {
  if (project_->components.empty()) throw std::logic_error("standin: dirty() needs a component before it");
  project_->components.back()->dirty = dirty;
  return *this;
}

ProjectBuilder& ProjectBuilder::file(std::wstring path) {
  if (project_->components.empty()) throw std::logic_error("standin: file() needs a component before it");
  project_->components.back()->file_name = std::move(path);
  return *this;
}

ProjectBuilder& ProjectBuilder::code(std::wstring text) {
  if (project_->components.empty()) throw std::logic_error("standin: code() needs a component before it");
  project_->components.back()->code = std::move(text);
  return *this;
}

ProjectBuilder& ProjectBuilder::saved_as(std::wstring path) {
  project_->file_name = std::move(path);
  project_->dirty = false;
  return *this;
}

ProjectBuilder& ProjectBuilder::project_dirty(bool dirty) {
  project_->dirty = dirty;
  return *this;
}

ProjectBuilder& ProjectBuilder::type(int type) {
  project_->type = type;
  return *this;
}

void ProjectBuilder::build() {
  auto& core = *ide_.core_;
  if (core.FindProject(project_->name)) {
    throw std::invalid_argument("standin: the IDE already holds a project " + Narrow(project_->name));
  }
  core.projects.push_back(project_);
  if (!core.active_project.lock()) core.active_project = project_;
}

// --- Ide ------------------------------------------------------------------------------------

Ide::Ide() : core_(std::make_shared<detail::Core>()) {
  detail::LoadTypeLibraries();
  core_->bars.push_back(MakeBar(L"File", FileMenu()));
  core_->bars.push_back(MakeBar(L"Tools", ToolsMenu()));
  for (const wchar_t* caption : {L"Project Explorer", L"Properties", L"Form Layout", L"Immediate"}) {
    core_->windows.push_back(MakeWindow(caption));
  }
  core_->main_window = MakeWindow(L"Microsoft Visual Basic [design]");
}

Ide::~Ide() = default;

Microsoft::WRL::ComPtr<IDispatch> Ide::application() {
  return com_ptr<IDispatch>(static_cast<VBE*>(detail::RootOf(core_).Get()));
}

std::vector<Control> Ide::controls(std::wstring_view bar) const {
  std::vector<Control> out;
  for (const auto& node : BarOf(*core_, bar).controls) {
    out.push_back({node->caption, node->type, node->id, node->temporary, node->face_id, node->face});
  }
  return out;
}

void Ide::add_bar(std::wstring name, const std::vector<std::wstring>& captions) {
  remove_bar(name);
  core_->bars.push_back(MakeBar(std::move(name), captions));
}

void Ide::remove_bar(std::wstring_view name) {
  auto& bars = core_->bars;
  std::erase_if(bars, [&](const auto& bar) { return detail::SameText(bar->name, name); });
}

ClickResult Ide::click(std::wstring_view bar, int position, bool handled, bool cancel_default) {
  auto& controls = BarOf(*core_, bar).controls;
  if (position < 1 || static_cast<size_t>(position) > controls.size()) {
    throw std::out_of_range("standin: no control at that position of " + Narrow(bar));
  }
  return Fire(core_, controls[static_cast<size_t>(position) - 1], handled, cancel_default);
}

ClickResult Ide::click(std::wstring_view bar, std::wstring_view caption) {
  for (const auto& control : BarOf(*core_, bar).controls) {
    if (control->caption == caption) return Fire(core_, control);
  }
  throw std::out_of_range("standin: no control " + Narrow(caption) + " in " + Narrow(bar));
}

ProjectBuilder Ide::project(std::wstring name) { return ProjectBuilder(*this, std::move(name)); }

std::optional<Project> Ide::find_project(std::wstring_view name) const {
  auto node = core_->FindProject(name);
  if (!node) return std::nullopt;
  Project project{node->name, node->file_name, node->dirty, node->Saved(), {}};
  for (const auto& component : node->components) project.components.push_back(Snapshot(*component));
  return project;
}

std::wstring Ide::open_project(const std::wstring& path, std::vector<std::wstring>* problems) {
  std::shared_ptr<detail::ProjectNode> node;
  try {
    node = detail::ReadProject(path, problems);
  } catch (const detail::HostError& error) {
    throw std::runtime_error("standin: cannot open " + Narrow(path) + ": " + Narrow(error.description));
  }
  if (auto open = core_->FindProject(node->name)) std::erase(core_->projects, open);
  core_->projects.push_back(node);
  core_->active_project = node;
  return node->name;
}

void Ide::change(std::wstring_view project, std::wstring_view component, std::wstring_view text) {
  auto node = core_->FindProject(project);
  if (!node) throw std::out_of_range("standin: no project " + Narrow(project));
  for (const auto& part : node->components) {
    if (!detail::SameText(part->name, component)) continue;
    part->dirty = true;
    if (!text.empty()) {
      if (!part->code.empty() && part->code.back() != L'\n') part->code += L"\r\n";
      part->code += text;
    }
    return;
  }
  throw std::out_of_range("standin: no component " + Narrow(component) + " in " + Narrow(project));
}

void Ide::add(std::wstring_view project, std::wstring name, int type) {
  auto node = core_->FindProject(project);
  if (!node) throw std::out_of_range("standin: no project " + Narrow(project));
  for (const auto& part : node->components) {
    if (detail::SameText(part->name, name)) throw std::invalid_argument("standin: a component " + Narrow(name) + " is there");
  }
  auto component = std::make_shared<detail::ComponentNode>();
  component->project = node;
  component->name = std::move(name);
  component->type = type;
  node->components.push_back(std::move(component));
  node->dirty = true;
}

std::vector<std::wstring> Ide::project_names() const {
  std::vector<std::wstring> names;
  for (const auto& node : core_->projects) names.push_back(node->name);
  return names;
}

std::wstring Ide::active_project() const {
  auto node = core_->active_project.lock();
  return node ? node->name : std::wstring();
}

void Ide::set_active_project(std::wstring_view name) {
  if (name.empty()) {
    core_->active_project.reset();
    return;
  }
  auto node = core_->FindProject(name);
  if (!node) throw std::out_of_range("standin: no project " + Narrow(name));
  core_->active_project = node;
}

void Ide::remove_project(std::wstring_view name) {
  auto node = core_->FindProject(name);
  if (!node) throw std::out_of_range("standin: no project " + Narrow(name));
  std::erase(core_->projects, node);
  if (core_->active_project.lock() == node) {
    core_->active_project.reset();
    if (!core_->projects.empty()) core_->active_project = core_->projects.front();
  }
}

std::vector<std::wstring> Ide::windows() const {
  std::vector<std::wstring> captions;
  for (const auto& window : core_->windows) captions.push_back(window->caption);
  return captions;
}

std::vector<std::wstring> Ide::focus_history() const { return core_->focus_history; }

void Ide::set_full_name(std::wstring full_name) { core_->full_name = std::move(full_name); }

void Ide::set_mode(Mode mode) {
  core_->mode = mode;
  core_->main_window->caption = caption();
}

Mode Ide::mode() const { return core_->mode; }

std::wstring Ide::caption() const {
  const wchar_t* shown = core_->mode == Mode::kRun ? L"[run]" : core_->mode == Mode::kBreak ? L"[break]" : L"[design]";
  return std::wstring(L"Microsoft Visual Basic ") + shown;
}

void Ide::set_save_delay(DWORD milliseconds) { core_->save_delay = milliseconds; }
void Ide::set_answer_delay(DWORD milliseconds) { core_->answer_delay = milliseconds; }
void Ide::set_component_delay(DWORD milliseconds) { core_->component_delay = milliseconds; }

void Ide::set(Variant variant, bool on) {
  auto& windows = core_->windows;
  switch (variant) {
    case Variant::kFirstWindowHidden: {
      const bool hidden_first = !windows.empty() && !windows.front()->visible;
      if (on && !hidden_first) {
        windows.insert(windows.begin(), MakeWindow(L"Object Browser"));
        windows.front()->visible = false;
      } else if (!on && hidden_first) {
        windows.erase(windows.begin());
      }
      break;
    }
    case Variant::kUnsavedFileNameRaises:
      core_->file_name_raises = on;
      break;
    case Variant::kBeforeOnlyAControl:
      core_->before_only_a_control = on;
      break;
    case Variant::kShortFileMenu: {
      auto captions = FileMenu();
      if (on) captions.resize(4);
      std::erase_if(core_->bars, [](const auto& bar) { return detail::SameText(bar->name, L"File"); });
      core_->bars.insert(core_->bars.begin(), MakeBar(L"File", captions));
      break;
    }
  }
}

Microsoft::WRL::ComPtr<IDispatch> Ide::addin(const std::wstring& prog_id, const std::wstring& description,
                                             const std::wstring& guid) {
  std::shared_ptr<detail::AddinNode> node;
  for (const auto& known : core_->addins) {
    if (detail::SameText(known->prog_id, prog_id)) node = known;
  }
  if (!node) {
    node = std::make_shared<detail::AddinNode>();
    node->prog_id = prog_id;
    node->description = description;
    node->guid = guid;
    core_->addins.push_back(node);
  }
  return com_ptr<IDispatch>(static_cast<AddIn*>(detail::ObjectFor<detail::AddinObject>(core_, node).Get()));
}

void Ide::set_addin_connected(std::wstring_view prog_id, bool connected) {
  for (const auto& node : core_->addins) {
    if (detail::SameText(node->prog_id, prog_id)) node->connected = connected;
  }
}

Leftovers Ide::shut_down() {
  core_->shut_down = true;
  // What the IDE itself held of its add-ins goes with it.
  for (const auto& node : core_->addins) node->client_object.Reset();
  Leftovers left;
  for (auto [object, references] : detail::ObjectBase::Living()) {
    // An exit inside a click: the IDE's own reference to the clicked control is no leftover.
    references -= static_cast<ULONG>(std::count(core_->own_references.begin(), core_->own_references.end(), object));
    if (references == 0) continue;
    left.objects.push_back(object->kind() + L" (" + std::to_wstring(references) +
                           (references == 1 ? L" reference)" : L" references)"));
  }
  std::sort(left.objects.begin(), left.objects.end());
  for (const detail::EventSourceObject* source : core_->event_sources) {
    if (source->Advised()) left.connections.push_back(source->Describe());
  }
  return left;
}

std::wstring Leftovers::text() const {
  std::wstring text;
  for (const auto& object : objects) text += L"still referenced: " + object + L"\n";
  for (const auto& connection : connections) text += L"still advised: " + connection + L"\n";
  return text;
}

const std::vector<Call>& Ide::calls() const { return core_->calls; }

std::size_t Ide::count(std::wstring_view operation) const {
  std::size_t n = 0;
  for (const auto& call : core_->calls) {
    if (call.kind != Call::Kind::kGetIDsOfNames && detail::SameText(call.operation(), operation)) ++n;
  }
  return n;
}

void Ide::clear_calls() {
  core_->calls.clear();
  core_->focus_history.clear();
}

std::wstring Ide::transcript() const {
  std::wstring text;
  for (const auto& call : core_->calls) text += call.text() + L"\n";
  return text;
}

void Ide::fail(Failure failure) {
  if (failure.call < 0) throw std::invalid_argument("standin: Failure::call is 0 or more");
  const int left = failure.call;
  core_->rules.push_back({std::move(failure), left});
}

void Ide::clear_failures() { core_->rules.clear(); }

}  // namespace standin
