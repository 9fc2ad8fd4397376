#include "projects.h"

#include <algorithm>

#include "project_files.h"
#include "variant_text.h"

namespace standin::detail {
namespace {

HostError NoPlace() { return HostError{E_POINTER, L"No place for the result"}; }

// The IDE's save operations are for design mode.
void RefuseInMode(const Core& core) {
  if (core.mode == Mode::kRun) throw HostError{E_FAIL, L"Can't save while the project is running"};
  if (core.mode == Mode::kBreak) throw HostError{E_FAIL, L"Can't save while the project is in break mode"};
}

// Enumerates the components a collection held when it was asked (For Each).
class ComponentEnumerator final : public IEnumVARIANT, public ObjectBase {
 public:
  ComponentEnumerator(std::weak_ptr<Core> core, std::vector<std::weak_ptr<ComponentNode>> components, ULONG at = 0)
      : core_(std::move(core)), components_(std::move(components)), at_(at) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumVARIANT)) return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    AddRefImpl();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    if (auto core = core_.lock(); core && core->shut_down) return RPC_E_DISCONNECTED;
    ULONG n = 0;
    try {
      while (n < count && at_ < components_.size()) {
        auto node = components_[at_++].lock();
        if (!node) continue;  // removed meanwhile
        com_ptr<ComponentObject> object = ObjectFor<ComponentObject>(core_, node);
        VariantInit(&items[n]);
        V_VT(&items[n]) = VT_DISPATCH;
        V_DISPATCH(&items[n]) = static_cast<_VBComponent*>(object.Detach());
        ++n;
      }
    } catch (...) {
      for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
      if (fetched) *fetched = 0;
      return E_OUTOFMEMORY;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = components_.size() - at_;
    at_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    at_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** copy) override {
    if (!copy) return E_POINTER;
    *copy = nullptr;
    try {
      *copy = new ComponentEnumerator(core_, components_, static_cast<ULONG>(at_));
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::weak_ptr<Core> core_;
  std::vector<std::weak_ptr<ComponentNode>> components_;
  size_t at_;
};

}  // namespace

bool IsValidName(const std::wstring& name) {
  if (name.empty() || name.size() > 40 || !IsCharAlphaW(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [](wchar_t c) { return IsCharAlphaNumericW(c) || c == L'_'; });
}

// --- _VBProject ------------------------------------------------------------------------

ProjectObject::ProjectObject(std::weak_ptr<Core> core, std::weak_ptr<ProjectNode> project)
    : Automation(std::move(core)), project_(std::move(project)) {}

ProjectObject::~ProjectObject() {
  if (auto project = project_.lock(); project && project->object == this) project->object = nullptr;
}

STDMETHODIMP ProjectObject::get_Name(BSTR* name) {
  return Run(L"Name", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!name) throw NoPlace();
    *name = nullptr;
    *name = AllocText(Alive(project_)->name);
  });
}

STDMETHODIMP ProjectObject::put_Name(BSTR name) {
  return Run(L"Name", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(name)); }, [&](Core& core) {
    auto project = Alive(project_);
    const std::wstring text = Text(name);
    if (!IsValidName(text)) throw InvalidPropertyValue();
    if (auto other = core.FindProject(text); other && other != project) throw InvalidPropertyValue();
    if (text != project->name) project->dirty = true;
    project->name = text;
  });
}

STDMETHODIMP ProjectObject::get_FileName(BSTR* file_name) {
  return Run(L"FileName", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!file_name) throw NoPlace();
    *file_name = nullptr;
    auto project = Alive(project_);
    if (core.answer_delay) Sleep(core.answer_delay);
    if (project->file_name.empty() && core.file_name_raises) throw VbError(76, L"Path not found");
    *file_name = AllocText(project->file_name);
  });
}

STDMETHODIMP ProjectObject::get_IsDirty(VARIANT_BOOL* dirty) {
  return Run(L"IsDirty", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!dirty) throw NoPlace();
    *dirty = Bool(Alive(project_)->dirty);
  });
}

STDMETHODIMP ProjectObject::put_IsDirty(VARIANT_BOOL dirty) {
  return Run(L"IsDirty", DISPATCH_PROPERTYPUT, [&] { return dirty ? L"True" : L"False"; },
             [&](Core&) { Alive(project_)->dirty = dirty != VARIANT_FALSE; });
}

STDMETHODIMP ProjectObject::SaveAs(BSTR file_name) {
  return Run(L"SaveAs", DISPATCH_METHOD, [&] { return Quote(Text(file_name)); }, [&](Core& core) {
    auto project = Alive(project_);
    RefuseInMode(core);
    const std::wstring path = FullPath(Text(file_name));
    if (core.save_delay) Sleep(core.save_delay);
    WriteWholeFile(path, ProjectFile(*project, path));
    project->file_name = path;
    project->dirty = false;
  });
}

STDMETHODIMP ProjectObject::get_Type(vbext_ProjectType* type) {
  return Run(L"Type", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!type) throw NoPlace();
    *type = static_cast<vbext_ProjectType>(Alive(project_)->type);
  });
}

STDMETHODIMP ProjectObject::put_Type(vbext_ProjectType type) {
  return Run(L"Type", DISPATCH_PROPERTYPUT, [&] { return std::to_wstring(type) + L"&"; }, [&](Core&) {
    if (type < vbext_pt_StandardExe || type > vbext_pt_ActiveXControl) throw InvalidPropertyValue();
    Alive(project_)->type = type;
  });
}

STDMETHODIMP ProjectObject::get_Saved(VARIANT_BOOL* saved) {
  return Run(L"Saved", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!saved) throw NoPlace();
    *saved = Bool(Alive(project_)->Saved());
  });
}

STDMETHODIMP ProjectObject::get_VBComponents(_VBComponents** components) {
  return Run(L"VBComponents", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!components) throw NoPlace();
    *components = nullptr;
    Alive(project_);
    Hand(Adopt(new ComponentsObject(weak_core(), project_)), components);
  });
}

STDMETHODIMP ProjectObject::get_BuildFileName(BSTR* file_name) {
  return Run(L"BuildFileName", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!file_name) throw NoPlace();
    *file_name = nullptr;
    auto project = Alive(project_);
    std::wstring name = project->build_file_name;
    if (name.empty()) {
      const size_t slash = project->file_name.find_last_of(L'\\');
      const std::wstring folder = slash == std::wstring::npos ? L"" : project->file_name.substr(0, slash + 1);
      name = folder + project->name + (project->type == 2 ? L".dll" : project->type == 3 ? L".ocx" : L".exe");
    }
    *file_name = AllocText(name);
  });
}

STDMETHODIMP ProjectObject::put_BuildFileName(BSTR file_name) {
  return Run(L"BuildFileName", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(file_name)); }, [&](Core&) {
    auto project = Alive(project_);
    project->build_file_name = Text(file_name);
    project->dirty = true;
  });
}

// --- _VBComponents -------------------------------------------------------------------------

STDMETHODIMP ComponentsObject::Item(VARIANT index, _VBComponent** component) {
  return Run(L"Item", DISPATCH_METHOD, [&] { return VariantText(index); }, [&](Core&) {
    if (!component) throw NoPlace();
    *component = nullptr;
    auto project = Alive(project_);
    const Index which = ToIndex(index);
    std::shared_ptr<ComponentNode> found;
    if (which.by_name) {
      for (const auto& c : project->components) {
        if (SameText(c->name, which.name)) found = c;
      }
    } else if (which.position >= 1 && static_cast<size_t>(which.position) <= project->components.size()) {
      found = project->components[static_cast<size_t>(which.position) - 1];
    }
    if (!found) throw SubscriptOutOfRange();
    Hand(ObjectFor<ComponentObject>(weak_core(), found), component);
  });
}

STDMETHODIMP ComponentsObject::get_Count(LONG* count) {
  return Run(L"Count", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!count) throw NoPlace();
    *count = static_cast<LONG>(Alive(project_)->components.size());
  });
}

STDMETHODIMP ComponentsObject::_NewEnum(IUnknown** enumerator) {
  return Run(L"_NewEnum", DISPATCH_METHOD, [&](Core&) {
    if (!enumerator) throw NoPlace();
    *enumerator = nullptr;
    auto project = Alive(project_);
    std::vector<std::weak_ptr<ComponentNode>> list(project->components.begin(), project->components.end());
    *enumerator = new ComponentEnumerator(weak_core(), std::move(list));
  });
}

// --- _VBComponent ---------------------------------------------------------------------------

ComponentObject::ComponentObject(std::weak_ptr<Core> core, std::weak_ptr<ComponentNode> component)
    : Automation(std::move(core)), component_(std::move(component)) {}

ComponentObject::~ComponentObject() {
  if (auto component = component_.lock(); component && component->object == this) component->object = nullptr;
}

STDMETHODIMP ComponentObject::get_IsDirty(VARIANT_BOOL* dirty) {
  return Run(L"IsDirty", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!dirty) throw NoPlace();
    *dirty = Bool(Alive(component_)->dirty);
  });
}

void ComponentObject::Delay(Core& core) {
  if (core.component_delay) Sleep(core.component_delay);
}

STDMETHODIMP ComponentObject::put_IsDirty(VARIANT_BOOL dirty) {
  return Run(L"IsDirty", DISPATCH_PROPERTYPUT, [&] { return dirty ? L"True" : L"False"; },
             [&](Core&) { Alive(component_)->dirty = dirty != VARIANT_FALSE; });
}

// The component's file: index 1, its one file; empty text for a component never
// saved (or, as the project's FileName in that variant, "Path not found"). No
// other index is offered.
STDMETHODIMP ComponentObject::get_FileNames(SHORT index, BSTR* file_name) {
  return Run(L"FileNames", DISPATCH_PROPERTYGET, [&] { return std::to_wstring(index) + L"%"; }, [&](Core& core) {
    if (!file_name) throw NoPlace();
    *file_name = nullptr;
    auto component = Alive(component_);
    if (index != 1) throw SubscriptOutOfRange();
    if (core.answer_delay) Sleep(core.answer_delay);
    if (component->file_name.empty() && core.file_name_raises) throw VbError(76, L"Path not found");
    *file_name = AllocText(component->file_name);
  });
}

STDMETHODIMP ComponentObject::SaveAs(BSTR file_name, VARIANT_BOOL* saved) {
  return Run(L"SaveAs", DISPATCH_METHOD, [&] { return Quote(Text(file_name)); }, [&](Core& core) {
    if (saved) *saved = VARIANT_FALSE;
    auto component = Alive(component_);
    RefuseInMode(core);
    const std::wstring path = FullPath(Text(file_name));
    if (core.save_delay) Sleep(core.save_delay);
    WriteComponent(*component, path);
    // The project file names the component's file: a new name is a change to it.
    if (!SameText(component->file_name, path)) {
      if (auto project = component->project.lock()) project->dirty = true;
    }
    component->file_name = path;
    component->dirty = false;
    if (saved) *saved = VARIANT_TRUE;
  });
}

STDMETHODIMP ComponentObject::get_Name(BSTR* name) {
  return Run(L"Name", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!name) throw NoPlace();
    *name = nullptr;
    *name = AllocText(Alive(component_)->name);
  });
}

STDMETHODIMP ComponentObject::put_Name(BSTR name) {
  return Run(L"Name", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(name)); }, [&](Core&) {
    auto component = Alive(component_);
    const std::wstring text = Text(name);
    if (!IsValidName(text)) throw InvalidPropertyValue();
    if (auto project = component->project.lock()) {
      for (const auto& other : project->components) {
        if (other != component && SameText(other->name, text)) throw InvalidPropertyValue();
      }
    }
    if (text != component->name) component->dirty = true;
    component->name = text;
  });
}

STDMETHODIMP ComponentObject::get_Type(vbext_ComponentType* type) {
  return Run(L"Type", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!type) throw NoPlace();
    *type = static_cast<vbext_ComponentType>(Alive(component_)->type);
  });
}

// A resource file and a related document have no code: their CodeModule is
// Nothing.
STDMETHODIMP ComponentObject::get_CodeModule(_CodeModule** code) {
  return Run(L"CodeModule", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!code) throw NoPlace();
    *code = nullptr;
    auto component = Alive(component_);
    if (component->type == 4 || component->type == 10) return;
    Hand(Adopt(new CodeModuleObject(weak_core(), component)), code);
  });
}

// --- _CodeModule ----------------------------------------------------------------------------

namespace {

// The component's code, a line each (the last line's end is no line of its own).
std::vector<std::wstring> CodeLines(const ComponentNode& component) {
  std::vector<std::wstring> lines;
  const std::wstring& code = component.code;
  for (size_t start = 0; start < code.size();) {
    size_t end = code.find(L'\n', start);
    if (end == std::wstring::npos) end = code.size();
    lines.push_back(code.substr(start, end - start - (end > start && code[end - 1] == L'\r')));
    start = end + 1;
  }
  return lines;
}

}  // namespace

STDMETHODIMP CodeModuleObject::get_CountOfLines(LONG* count) {
  return Run(L"CountOfLines", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!count) throw NoPlace();
    *count = static_cast<LONG>(CodeLines(*Alive(component_)).size());
  });
}

// Lines `start` to `start` + `count` - 1, joined by line ends: the strictest
// the IDE could be, every line asked for must be there.
STDMETHODIMP CodeModuleObject::get_Lines(LONG start, LONG count, BSTR* lines) {
  return Run(L"Lines", DISPATCH_PROPERTYGET, [&] { return std::to_wstring(start) + L"&, " + std::to_wstring(count) + L"&"; },
             [&](Core&) {
               if (!lines) throw NoPlace();
               *lines = nullptr;
               const std::vector<std::wstring> all = CodeLines(*Alive(component_));
               if (start < 1 || count < 0 || static_cast<size_t>(start - 1) + static_cast<size_t>(count) > all.size()) {
                 throw InvalidArgument();
               }
               std::wstring text;
               for (LONG i = 0; i < count; ++i) text += (i ? L"\r\n" : L"") + all[static_cast<size_t>(start - 1 + i)];
               *lines = AllocText(text);
             });
}

}  // namespace standin::detail
