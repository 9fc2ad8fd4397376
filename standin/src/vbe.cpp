#include "vbe.h"

#include "command_bars.h"
#include "events.h"
#include "ide_windows.h"
#include "projects.h"
#include "variant_text.h"

namespace standin::detail {
namespace {

HostError NoPlace() { return HostError{E_POINTER, L"No place for the result"}; }

HostError NotOffered(const wchar_t* member) {
  return HostError{E_NOTIMPL, std::wstring(member) + L" is not offered by this IDE"};
}

template <class Object>
com_ptr<Object> Fresh(const std::weak_ptr<Core>& core) {
  return Adopt(new Object(core));
}

}  // namespace

VbeObject::~VbeObject() {
  if (auto model = core(); model && model->root == this) model->root = nullptr;
}

STDMETHODIMP VbeObject::get_Name(BSTR* name) {
  return Run(L"Name", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!name) throw NoPlace();
    *name = AllocText(core.name);
  });
}

STDMETHODIMP VbeObject::get_FullName(BSTR* name) {
  return Run(L"FullName", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!name) throw NoPlace();
    *name = AllocText(core.full_name);
  });
}

STDMETHODIMP VbeObject::get_LastUsedPath(BSTR* path) {
  return Run(L"LastUsedPath", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!path) throw NoPlace();
    *path = AllocText(core.last_used_path);
  });
}

STDMETHODIMP VbeObject::put_LastUsedPath(BSTR path) {
  return Run(L"LastUsedPath", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(path)); },
             [&](Core& core) { core.last_used_path = Text(path); });
}

STDMETHODIMP VbeObject::get_Version(BSTR* version) {
  return Run(L"Version", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!version) throw NoPlace();
    *version = AllocText(core.version);
  });
}

STDMETHODIMP VbeObject::get_ReadOnlyMode(SHORT* mode) {
  return Run(L"ReadOnlyMode", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!mode) throw NoPlace();
    *mode = core.read_only_mode;
  });
}

STDMETHODIMP VbeObject::put_ReadOnlyMode(SHORT mode) {
  return Run(L"ReadOnlyMode", DISPATCH_PROPERTYPUT, [&] { return std::to_wstring(mode) + L"%"; },
             [&](Core& core) { core.read_only_mode = mode; });
}

STDMETHODIMP VbeObject::get_VBProjects(IDispatch** projects) {
  if (projects) *projects = nullptr;
  return Run(L"VBProjects", DISPATCH_PROPERTYGET, [&](Core&) -> void { throw NotOffered(L"VBE.VBProjects"); });
}

STDMETHODIMP VbeObject::get_CommandBars(CommandBars** bars) {
  return Run(L"CommandBars", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!bars) throw NoPlace();
    *bars = nullptr;
    Hand(Fresh<CommandBarsObject>(weak_core()), bars);
  });
}

STDMETHODIMP VbeObject::get_CodePanes(IDispatch** panes) {
  if (panes) *panes = nullptr;
  return Run(L"CodePanes", DISPATCH_PROPERTYGET, [&](Core&) -> void { throw NotOffered(L"VBE.CodePanes"); });
}

STDMETHODIMP VbeObject::get_Windows(_Windows** windows) {
  return Run(L"Windows", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!windows) throw NoPlace();
    *windows = nullptr;
    Hand(Fresh<WindowsObject>(weak_core()), windows);
  });
}

STDMETHODIMP VbeObject::get_Events(Events** events) {
  return Run(L"Events", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!events) throw NoPlace();
    *events = nullptr;
    Hand(Fresh<EventsObject>(weak_core()), events);
  });
}

STDMETHODIMP VbeObject::get_Addins(IDispatch** addins) {
  if (addins) *addins = nullptr;
  return Run(L"Addins", DISPATCH_PROPERTYGET, [&](Core&) -> void { throw NotOffered(L"VBE.Addins"); });
}

// With no project open the IDE has no active project: Nothing.
STDMETHODIMP VbeObject::get_ActiveVBProject(_VBProject** project) {
  return Run(L"ActiveVBProject", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!project) throw NoPlace();
    *project = nullptr;
    if (auto active = core.active_project.lock()) Hand(ObjectFor<ProjectObject>(weak_core(), active), project);
  });
}

STDMETHODIMP VbeObject::putref_ActiveVBProject(_VBProject* project) {
  VARIANT shown;
  V_VT(&shown) = VT_DISPATCH;
  V_DISPATCH(&shown) = project;
  return Run(L"ActiveVBProject", DISPATCH_PROPERTYPUTREF, [&] { return VariantText(shown); }, [&](Core& core) {
    ProjectObject* object = Unwrap<ProjectObject>(project);
    auto node = object ? object->node().lock() : nullptr;
    if (!node || core.FindProject(node->name) != node) throw InvalidArgument();
    core.active_project = node;
  });
}

STDMETHODIMP VbeObject::get_SelectedVBComponent(_VBComponent** component) {
  return Run(L"SelectedVBComponent", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!component) throw NoPlace();
    *component = nullptr;  // nothing is selected in the project window
  });
}

STDMETHODIMP VbeObject::get_MainWindow(Window** window) {
  return Run(L"MainWindow", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!window) throw NoPlace();
    *window = nullptr;
    Hand(ObjectFor<WindowObject>(weak_core(), core.main_window), window);
  });
}

STDMETHODIMP VbeObject::get_ActiveWindow(Window** window) {
  return Run(L"ActiveWindow", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!window) throw NoPlace();
    *window = nullptr;
    if (auto active = core.active_window.lock()) Hand(ObjectFor<WindowObject>(weak_core(), active), window);
  });
}

com_ptr<VbeObject> RootOf(const std::shared_ptr<Core>& core) {
  com_ptr<VbeObject> root;
  if (core->root) {
    root = core->root;
  } else {
    root = Adopt(new VbeObject(core));
    core->root = root.Get();
  }
  return root;
}

// --- AddIn ------------------------------------------------------------------------------

AddinObject::~AddinObject() {
  if (auto node = node_.lock(); node && node->object == this) node->object = nullptr;
}

STDMETHODIMP AddinObject::get_Description(BSTR* text) {
  return Run(L"Description", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!text) throw NoPlace();
    *text = AllocText(Alive(node_)->description);
  });
}

STDMETHODIMP AddinObject::put_Description(BSTR text) {
  return Run(L"Description", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(text)); },
             [&](Core&) { Alive(node_)->description = Text(text); });
}

STDMETHODIMP AddinObject::get_VBE(::VBE** root) {
  return Run(L"VBE", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!root) throw NoPlace();
    *root = nullptr;
    auto core = weak_core().lock();
    if (!core) throw Disconnected();
    Hand(RootOf(core), root);
  });
}

STDMETHODIMP AddinObject::get_Collection(IDispatch** addins) {
  if (addins) *addins = nullptr;
  return Run(L"Collection", DISPATCH_PROPERTYGET, [&](Core&) -> void { throw NotOffered(L"AddIn.Collection"); });
}

STDMETHODIMP AddinObject::get_ProgId(BSTR* text) {
  return Run(L"ProgId", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!text) throw NoPlace();
    *text = AllocText(Alive(node_)->prog_id);
  });
}

STDMETHODIMP AddinObject::get_Guid(BSTR* text) {
  return Run(L"Guid", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!text) throw NoPlace();
    *text = AllocText(Alive(node_)->guid);
  });
}

STDMETHODIMP AddinObject::get_Connect(VARIANT_BOOL* connected) {
  return Run(L"Connect", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!connected) throw NoPlace();
    *connected = Bool(Alive(node_)->connected);
  });
}

// Connecting or disconnecting an add-in from a client is the add-in manager's
// business; this IDE does not offer it.
STDMETHODIMP AddinObject::put_Connect(VARIANT_BOOL connected) {
  return Run(L"Connect", DISPATCH_PROPERTYPUT, [&] { return connected ? L"True" : L"False"; },
             [&](Core&) -> void { throw NotOffered(L"AddIn.Connect (put)"); });
}

STDMETHODIMP AddinObject::get_Object(IDispatch** object) {
  return Run(L"Object", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!object) throw NoPlace();
    *object = nullptr;
    auto node = Alive(node_);
    if (node->client_object) node->client_object.CopyTo(object);
  });
}

STDMETHODIMP AddinObject::put_Object(IDispatch* object) {
  VARIANT shown;
  V_VT(&shown) = VT_DISPATCH;
  V_DISPATCH(&shown) = object;
  return Run(L"Object", DISPATCH_PROPERTYPUT, [&] { return VariantText(shown); },
             [&](Core&) { Alive(node_)->client_object = object; });
}

}  // namespace standin::detail
