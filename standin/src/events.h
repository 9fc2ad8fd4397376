#pragma once
// The IDE's Events object and the event source it makes for a command-bar
// control: a CommandBarEvents object whose one connection point, for
// _dispCommandBarControlEvents, takes the sinks that the IDE calls at each click.
#include <ocidl.h>

#include <vector>

#include "VB6EXT.h"
#include "automation.h"

namespace standin::detail {

class EventsObject final : public Automation<Events> {
 public:
  explicit EventsObject(std::weak_ptr<Core> core) : Automation(std::move(core)) {}
  STDMETHODIMP get_CommandBarEvents(IDispatch* control, ::CommandBarEvents** source) override;
};

// One CommandBarEvents object: its own connection point container and point.
// Its default interface, _CommandBarControlEvents, has no members; it answers
// IDispatch (with no members either) so that a late-bound caller can hold it.
class EventSourceObject final : public IDispatch,
                                public IConnectionPointContainer,
                                public IConnectionPoint,
                                public IProvideClassInfo,
                                public ISupportErrorInfo,
                                public ObjectBase {
 public:
  EventSourceObject(std::weak_ptr<Core> core, std::weak_ptr<ControlNode> control);
  ~EventSourceObject() override;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;
  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;
  // IProvideClassInfo
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  // ISupportErrorInfo: its failures carry a description, as the other objects' do.
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // The control whose clicks it reports.
  const std::weak_ptr<ControlNode>& control() const { return control_; }
  // Its sinks now, in the order they were advised.
  void AppendSinks(std::vector<com_ptr<IDispatch>>& sinks) const;

 private:
  // Records a call of this object's own methods; throws HostError for a failure
  // due (or for an Ide that is gone).
  void Enter(const wchar_t* member);
  HRESULT Leave(HRESULT code, const std::wstring& description) noexcept;
  template <class Body>
  HRESULT Guarded(const wchar_t* member, Body&& body) noexcept {
    try {
      Enter(member);
      body();
      return Leave(S_OK, {});
    } catch (const HostError& error) {
      return Leave(error.code, error.description);
    } catch (...) {
      return Leave(E_OUTOFMEMORY, L"Out of memory");
    }
  }

  struct Sink {
    DWORD cookie;
    com_ptr<IDispatch> dispatch;
  };
  std::weak_ptr<Core> core_;
  std::weak_ptr<ControlNode> control_;
  std::vector<Sink> sinks_;
  DWORD next_cookie_ = 1;
  std::optional<std::size_t> entry_;
};

}  // namespace standin::detail
