#pragma once
// The root object of the IDE's extensibility model, VBIDE.VBE.
#include "VB6EXT.h"
#include "automation.h"

namespace standin::detail {

class VbeObject final : public Automation<VBE> {
 public:
  explicit VbeObject(std::weak_ptr<Core> core) : Automation(std::move(core)) {}
  ~VbeObject() override;
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_FullName(BSTR* name) override;
  STDMETHODIMP get_LastUsedPath(BSTR* path) override;
  STDMETHODIMP put_LastUsedPath(BSTR path) override;
  STDMETHODIMP get_Version(BSTR* version) override;
  STDMETHODIMP get_ReadOnlyMode(SHORT* mode) override;
  STDMETHODIMP put_ReadOnlyMode(SHORT mode) override;
  STDMETHODIMP get_VBProjects(IDispatch** projects) override;
  STDMETHODIMP get_CommandBars(CommandBars** bars) override;
  STDMETHODIMP get_CodePanes(IDispatch** panes) override;
  STDMETHODIMP get_Windows(_Windows** windows) override;
  STDMETHODIMP get_Events(Events** events) override;
  STDMETHODIMP get_Addins(IDispatch** addins) override;
  STDMETHODIMP get_ActiveVBProject(_VBProject** project) override;
  STDMETHODIMP putref_ActiveVBProject(_VBProject* project) override;
  STDMETHODIMP get_SelectedVBComponent(_VBComponent** component) override;
  STDMETHODIMP get_MainWindow(Window** window) override;
  STDMETHODIMP get_ActiveWindow(Window** window) override;

 protected:
  // The IDE's Application object is its VBE: a client converts it by this IID.
  bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_VBE); }
};

}  // namespace standin::detail
