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

// The IDE's AddIn object for one add-in of its list.
class AddinObject final : public Automation<AddIn> {
 public:
  AddinObject(std::weak_ptr<Core> core, std::weak_ptr<AddinNode> node)
      : Automation(std::move(core)), node_(std::move(node)) {}
  ~AddinObject() override;
  STDMETHODIMP get_Description(BSTR* text) override;
  STDMETHODIMP put_Description(BSTR text) override;
  STDMETHODIMP get_VBE(::VBE** root) override;
  STDMETHODIMP get_Collection(IDispatch** addins) override;
  STDMETHODIMP get_ProgId(BSTR* text) override;
  STDMETHODIMP get_Guid(BSTR* text) override;
  STDMETHODIMP get_Connect(VARIANT_BOOL* connected) override;
  STDMETHODIMP put_Connect(VARIANT_BOOL connected) override;
  STDMETHODIMP get_Object(IDispatch** object) override;
  STDMETHODIMP put_Object(IDispatch* object) override;

  // The node behind it, for Ide.
  const std::weak_ptr<AddinNode>& node() const { return node_; }

 private:
  std::weak_ptr<AddinNode> node_;
};

// The IDE's root object, made on first request.
com_ptr<VbeObject> RootOf(const std::shared_ptr<Core>& core);

}  // namespace standin::detail
