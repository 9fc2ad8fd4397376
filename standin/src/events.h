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

// One CommandBarEvents object. Its default interface, _CommandBarControlEvents,
// derives from IUnknown and has no members; like the IDE's object it answers no
// IDispatch, so a late-bound caller can only hold it (as VT_UNKNOWN). Its one
// connection point, for _dispCommandBarControlEvents, is an object of its own
// that lives as long as the container.
class EventSourceObject final : public _CommandBarControlEvents,
                                public IConnectionPointContainer,
                                public ISupportErrorInfo,
                                public ObjectBase {
 public:
  EventSourceObject(std::weak_ptr<Core> core, std::weak_ptr<ControlNode> control);
  ~EventSourceObject() override;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;
  // ISupportErrorInfo: its failures carry a description, as the other objects' do.
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // The control whose clicks it reports.
  const std::weak_ptr<ControlNode>& control() const { return control_; }
  // Its sinks now, in the order they were advised.
  void AppendSinks(std::vector<com_ptr<IDispatch>>& sinks) const;
  bool Advised() const { return !sinks_.empty(); }
  // For the report at shut-down: L"Click of File \"Quarnel...\" (1 sink)".
  std::wstring Describe() const;
  std::wstring kind() const override { return L"CommandBarEvents"; }

 private:
  // Records a call of this object's own methods; throws HostError for a failure
  // due (or for an Ide that is gone). Leave reports a failure as an error of the
  // interface `iid` called.
  void Enter(const wchar_t* member);
  HRESULT Leave(REFIID iid, HRESULT code, const std::wstring& description) noexcept;
  template <class Body>
  HRESULT Guarded(REFIID iid, const wchar_t* member, Body&& body) noexcept {
    try {
      Enter(member);
      body();
      return Leave(iid, S_OK, {});
    } catch (const HostError& error) {
      return Leave(iid, error.code, error.description);
    } catch (...) {
      return Leave(iid, E_OUTOFMEMORY, L"Out of memory");
    }
  }

  // The connection point: an identity of its own (IConnectionPoint, and
  // ISupportErrorInfo for its failures' descriptions), its references counted on
  // the container.
  class Point final : public IConnectionPoint, public ISupportErrorInfo {
   public:
    explicit Point(EventSourceObject& owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
      return IsEqualIID(riid, IID_IConnectionPoint) ? S_OK : S_FALSE;
    }
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override { return owner_.Advise(sink, cookie); }
    STDMETHODIMP Unadvise(DWORD cookie) override { return owner_.Unadvise(cookie); }
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

   private:
    EventSourceObject& owner_;
  };

  HRESULT Advise(IUnknown* sink, DWORD* cookie);
  HRESULT Unadvise(DWORD cookie);

  struct Sink {
    DWORD cookie;
    com_ptr<IDispatch> dispatch;
  };
  Point point_{*this};
  std::weak_ptr<Core> core_;
  std::weak_ptr<ControlNode> control_;
  std::vector<Sink> sinks_;
  DWORD next_cookie_ = 1;
  std::optional<std::size_t> entry_;
};

}  // namespace standin::detail
