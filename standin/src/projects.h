#pragma once
// Projects and their components.
#include "VB6EXT.h"
#include "automation.h"

namespace standin::detail {

class ProjectObject final : public Automation<_VBProject> {
 public:
  ProjectObject(std::weak_ptr<Core> core, std::weak_ptr<ProjectNode> project);
  ~ProjectObject() override;
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP put_Name(BSTR name) override;
  STDMETHODIMP get_FileName(BSTR* file_name) override;
  STDMETHODIMP get_IsDirty(VARIANT_BOOL* dirty) override;
  STDMETHODIMP put_IsDirty(VARIANT_BOOL dirty) override;
  STDMETHODIMP SaveAs(BSTR file_name) override;
  STDMETHODIMP get_Type(vbext_ProjectType* type) override;
  STDMETHODIMP put_Type(vbext_ProjectType type) override;
  STDMETHODIMP get_Saved(VARIANT_BOOL* saved) override;
  STDMETHODIMP get_VBComponents(_VBComponents** components) override;
  STDMETHODIMP get_BuildFileName(BSTR* file_name) override;
  STDMETHODIMP put_BuildFileName(BSTR file_name) override;

  const std::weak_ptr<ProjectNode>& node() const { return project_; }

 private:
  std::weak_ptr<ProjectNode> project_;
};

class ComponentsObject final : public Automation<_VBComponents> {
 public:
  ComponentsObject(std::weak_ptr<Core> core, std::weak_ptr<ProjectNode> project)
      : Automation(std::move(core)), project_(std::move(project)) {}
  STDMETHODIMP Item(VARIANT index, _VBComponent** component) override;
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP _NewEnum(IUnknown** enumerator) override;

 private:
  std::weak_ptr<ProjectNode> project_;
};

class ComponentObject final : public Automation<_VBComponent> {
 public:
  ComponentObject(std::weak_ptr<Core> core, std::weak_ptr<ComponentNode> component);
  ~ComponentObject() override;
  STDMETHODIMP get_IsDirty(VARIANT_BOOL* dirty) override;
  STDMETHODIMP put_IsDirty(VARIANT_BOOL dirty) override;
  STDMETHODIMP get_FileNames(SHORT index, BSTR* file_name) override;
  STDMETHODIMP SaveAs(BSTR file_name, VARIANT_BOOL* saved) override;
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP put_Name(BSTR name) override;
  STDMETHODIMP get_Type(vbext_ComponentType* type) override;
  STDMETHODIMP get_CodeModule(_CodeModule** code) override;

 protected:
  void Delay(Core& core) override;

 private:
  std::weak_ptr<ComponentNode> component_;
};

// A component's code, its lines as the code window shows them.
class CodeModuleObject final : public Automation<_CodeModule> {
 public:
  CodeModuleObject(std::weak_ptr<Core> core, std::weak_ptr<ComponentNode> component)
      : Automation(std::move(core)), component_(std::move(component)) {}
  STDMETHODIMP get_Lines(LONG start, LONG count, BSTR* lines) override;
  STDMETHODIMP get_CountOfLines(LONG* count) override;

 private:
  std::weak_ptr<ComponentNode> component_;
};

// A name the IDE accepts for a project or component: a letter, then letters,
// digits or underscores, at most 40 in all.
bool IsValidName(const std::wstring& name);

}  // namespace standin::detail
