#include "events.h"

#include <olectl.h>

#include <algorithm>

#include "command_bars.h"
#include "variant_text.h"

namespace standin::detail {
namespace {

// Enumerates the one connection point of an event source.
class PointEnumerator final : public IEnumConnectionPoints, public ObjectBase {
 public:
  explicit PointEnumerator(com_ptr<IConnectionPoint> point, ULONG at = 0) : point_(std::move(point)), at_(at) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumConnectionPoints)) return E_NOINTERFACE;
    *out = static_cast<IEnumConnectionPoints*>(this);
    AddRefImpl();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (!points || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && at_ == 0) {
      point_.Get()->AddRef();
      points[0] = point_.Get();
      n = 1;
      at_ = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG left = at_ == 0 ? 1 : 0;
    at_ = std::min<ULONG>(1, at_ + count);
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    at_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** copy) override {
    if (!copy) return E_POINTER;
    *copy = new (std::nothrow) PointEnumerator(point_, at_);
    return *copy ? S_OK : E_OUTOFMEMORY;
  }

 private:
  com_ptr<IConnectionPoint> point_;
  ULONG at_;
};

}  // namespace

// --- Events ---------------------------------------------------------------------------

STDMETHODIMP EventsObject::get_CommandBarEvents(IDispatch* control, ::CommandBarEvents** source) {
  VARIANT shown;
  V_VT(&shown) = VT_DISPATCH;
  V_DISPATCH(&shown) = control;
  return Run(L"CommandBarEvents", DISPATCH_PROPERTYGET, [&] { return VariantText(shown); }, [&](Core& core) {
    if (!source) throw HostError{E_POINTER, L"No place for the result"};
    *source = nullptr;
    // Only a control of this IDE's command bars has click events; a deleted one
    // has none.
    ControlObject* object = Unwrap<ControlObject>(control);
    std::shared_ptr<ControlNode> node = object ? object->node().lock() : nullptr;
    if (!node || !node->bar.lock()) throw InvalidArgument();
    com_ptr<EventSourceObject> events = Adopt(new EventSourceObject(weak_core(), node));
    core.event_sources.push_back(events.Get());
    // The property's declared type is the coclass; what travels is the object's
    // default interface, _CommandBarControlEvents (an IUnknown).
    *source = reinterpret_cast<::CommandBarEvents*>(static_cast<_CommandBarControlEvents*>(events.Detach()));
  });
}

// --- CommandBarEvents -------------------------------------------------------------------

EventSourceObject::EventSourceObject(std::weak_ptr<Core> core, std::weak_ptr<ControlNode> control)
    : core_(std::move(core)), control_(std::move(control)) {}

EventSourceObject::~EventSourceObject() {
  if (auto core = core_.lock()) {
    auto& list = core->event_sources;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

STDMETHODIMP EventSourceObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID__CommandBarControlEvents)) {
    *out = static_cast<_CommandBarControlEvents*>(this);
  } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
    *out = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRefImpl();
  return S_OK;
}

STDMETHODIMP EventSourceObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_IConnectionPointContainer) ? S_OK : S_FALSE;
}

void EventSourceObject::Enter(const wchar_t* member) {
  entry_.reset();
  auto core = core_.lock();
  if (!core) throw Disconnected();
  Call call;
  call.kind = Call::Kind::kVtable;
  call.object = L"CommandBarEvents";
  call.member = member;
  entry_ = core->Record(std::move(call));
  if (core->shut_down) throw Disconnected();
  const std::wstring operation = std::wstring(L"CommandBarEvents.") + member;
  for (auto stage : {Core::Stage::kEntry, Core::Stage::kExecution}) {
    if (auto failure = core->DueFailure(operation, stage)) throw HostError{failure->code, failure->description};
  }
}

HRESULT EventSourceObject::Leave(REFIID iid, HRESULT code, const std::wstring& description) noexcept {
  if (entry_) {
    if (auto core = core_.lock()) core->SetResult(*entry_, code);
  }
  entry_.reset();
  if (FAILED(code)) SetErrorInfoFor(L"VBIDE", iid, description);
  return code;
}

STDMETHODIMP EventSourceObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  *points = nullptr;
  return Guarded(IID_IConnectionPointContainer, L"EnumConnectionPoints", [&] {
    com_ptr<IConnectionPoint> point(&point_);
    *points = new PointEnumerator(point);
  });
}

STDMETHODIMP EventSourceObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(riid, DIID__dispCommandBarControlEvents)) return CONNECT_E_NOCONNECTION;
  return Guarded(IID_IConnectionPointContainer, L"FindConnectionPoint", [&] {
    point_.AddRef();
    *point = &point_;
  });
}

STDMETHODIMP EventSourceObject::Point::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP EventSourceObject::Point::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = DIID__dispCommandBarControlEvents;
  return S_OK;
}

STDMETHODIMP EventSourceObject::Point::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  owner_.AddRef();
  *container = static_cast<IConnectionPointContainer*>(&owner_);
  return S_OK;
}

STDMETHODIMP EventSourceObject::Point::EnumConnections(IEnumConnections** connections) {
  if (connections) *connections = nullptr;
  return E_NOTIMPL;
}

HRESULT EventSourceObject::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  return Guarded(IID_IConnectionPoint, L"Advise", [&] {
    // As a connection point does: the sink must be the event interface itself.
    com_ptr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID__dispCommandBarControlEvents, reinterpret_cast<void**>(dispatch.GetAddressOf())))) {
      throw HostError{CONNECT_E_CANNOTCONNECT, L"The sink does not implement _dispCommandBarControlEvents"};
    }
    sinks_.push_back({next_cookie_, std::move(dispatch)});
    *cookie = next_cookie_++;
  });
}

// Fails once the IDE has shut down, as every call does then; works after the Ide
// object is destroyed (the end of a test), so that a client can still let go of
// its sink.
HRESULT EventSourceObject::Unadvise(DWORD cookie) {
  auto found = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == cookie; });
  com_ptr<IDispatch> released;
  const auto core = core_.lock();
  const bool dead = core && core->shut_down;
  if (core) {
    try {
      Call call;
      call.kind = Call::Kind::kVtable;
      call.object = L"CommandBarEvents";
      call.member = L"Unadvise";
      call.args = std::to_wstring(cookie) + L"&";
      call.result = dead ? RPC_E_DISCONNECTED : found == sinks_.end() ? CONNECT_E_NOCONNECTION : S_OK;
      core->Record(std::move(call));
    } catch (...) {
      // The record is for tests; the sink is let go all the same.
    }
  }
  if (dead) return RPC_E_DISCONNECTED;
  if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
  released = std::move(found->dispatch);  // released after the list is consistent
  sinks_.erase(found);
  return S_OK;
}

std::wstring EventSourceObject::Describe() const {
  const auto node = control_.lock();
  const auto bar = node ? node->bar.lock() : nullptr;
  std::wstring text = L"Click of ";
  text += node ? (bar ? bar->name : L"(no bar)") + L" \"" + node->caption + L"\"" : L"a deleted control";
  return text + L" (" + std::to_wstring(sinks_.size()) + (sinks_.size() == 1 ? L" sink)" : L" sinks)");
}

void EventSourceObject::AppendSinks(std::vector<com_ptr<IDispatch>>& sinks) const {
  for (const Sink& sink : sinks_) sinks.push_back(sink.dispatch);
}

}  // namespace standin::detail
