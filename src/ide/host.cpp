#include "ide/host.h"

#include <ocidl.h>

#include "common/error.h"

namespace quarnel::host {
namespace {

// One member cache per interface of the host.
MemberCache vbe_names, bars_names, bar_names, controls_names, control_names, events_names,
    project_names, components_names, component_names, code_names, windows_names, window_names;

}  // namespace

CommandBarControl CommandBarControl::From(const Object& object) {
  return Wrap<CommandBarControl>(object.As(IID_CommandBarControl, &control_names));
}

std::wstring CommandBarControl::Caption() const { return GetText(L"Caption"); }

void CommandBarControl::put_Caption(const std::wstring& caption) const {
  Put(L"Caption", *Text(caption).get());
}

void CommandBarControl::PasteFace() const { Call(L"PasteFace"); }

void CommandBarControl::Delete() const { Call(L"Delete"); }


Object CommandBarControls::Add() const { return CallObject(L"Add"); }

Object CommandBarControls::Add(short before) const {
  const unique_variant position = Integer(before);
  return CallObject(L"Add", {}, {{L"before", position.get()}});
}

CommandBarControls CommandBar::Controls() const {
  return Wrap<CommandBarControls>(GetObject(L"Controls", {}, &controls_names));
}

CommandBar CommandBars::Item(const std::wstring& name) const {
  const unique_variant index = Text(name);
  return Wrap<CommandBar>(GetObject(L"Item", {index.get(), 1}, &bar_names));
}

com_ptr<IUnknown> Events::CommandBarEvents(IDispatch* control) const {
  const unique_variant arg = ObjectArg(control);
  return GetUnknown(L"CommandBarEvents", {arg.get(), 1});
}

com_ptr<IUnknown> AsCommandBarEvents(IUnknown* object) {
  com_ptr<IUnknown> events;
  if (object && FAILED(object->QueryInterface(IID_CommandBarControlEvents,
                                              reinterpret_cast<void**>(events.GetAddressOf())))) {
    throw Error::Vb(13);
  }
  return events;
}

std::wstring VBComponent::Name() const { return GetText(L"Name"); }
long VBComponent::Type() const { return GetLong(L"Type"); }
bool VBComponent::IsDirty() const { return GetBool(L"IsDirty"); }
std::wstring VBComponent::FileName() const {
  const unique_variant first = Integer(1);
  return GetText(L"FileNames", {first.get(), 1});
}
void VBComponent::SaveAs(const std::wstring& path) const {
  const unique_variant file = Text(path);
  Call(L"SaveAs", {file.get(), 1});
}

std::wstring VBComponent::Code() const {
  const Object module = GetObject(L"CodeModule", {}, &code_names);
  const long count = module.GetLong(L"CountOfLines");
  if (count <= 0) return {};
  // Lines(1, count), both Long.
  VARIANT lines[2] = {};
  lines[0].vt = lines[1].vt = VT_I4;
  lines[0].lVal = 1;
  lines[1].lVal = count;
  return module.GetText(L"Lines", lines);
}

long VBComponents::Count() const { return GetLong(L"Count"); }

void VBComponents::ForEach(const std::function<void(const VBComponent&)>& visit) const {
  // For Each asks the collection for its enumerator, DISPID_NEWENUM.
  const unique_variant result = GetById(DISPID_NEWENUM);
  IUnknown* unknown = result->vt == VT_UNKNOWN    ? result->punkVal
                      : result->vt == VT_DISPATCH ? result->pdispVal
                                                  : nullptr;
  com_ptr<IEnumVARIANT> items;
  if (!unknown || FAILED(unknown->QueryInterface(IID_PPV_ARGS(&items)))) throw Error::Vb(438);
  for (;;) {
    unique_variant item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, item.put(), &fetched);
    if (FAILED(hr)) throw Error::FromHResult(hr);
    if (hr != S_OK || fetched == 0) break;
    visit(Wrap<VBComponent>(ToObject(*item.get(), &component_names)));
  }
}

std::wstring VBProject::Name() const { return GetText(L"Name"); }
std::wstring VBProject::FileName() const { return GetText(L"FileName"); }
bool VBProject::Saved() const { return GetBool(L"Saved"); }
VBComponents VBProject::Components() const {
  return Wrap<VBComponents>(GetObject(L"VBComponents", {}, &components_names));
}
void VBProject::SaveAs(const std::wstring& path) const {
  const unique_variant file = Text(path);
  Call(L"SaveAs", {file.get(), 1});
}

void Window::SetFocus() const { Call(L"SetFocus"); }

Window Windows::Item(short index) const {
  const unique_variant i = Integer(index);
  return Wrap<Window>(GetObject(L"Item", {i.get(), 1}, &window_names));
}

VBE VBE::FromApplication(IDispatch* application) {
  return Wrap<VBE>(Object(com_ptr<IDispatch>(application)).As(IID_VBE, &vbe_names));
}

std::wstring VBE::Name() const { return GetText(L"Name"); }
std::wstring VBE::FullName() const { return GetText(L"FullName"); }
std::wstring VBE::Version() const { return GetText(L"Version"); }

host::CommandBars VBE::CommandBars() const {
  return Wrap<host::CommandBars>(GetObject(L"CommandBars", {}, &bars_names));
}

host::Events VBE::Events() const {
  return Wrap<host::Events>(GetObject(L"Events", {}, &events_names));
}

VBProject VBE::ActiveVBProject() const {
  return Wrap<VBProject>(GetObject(L"ActiveVBProject", {}, &project_names));
}

host::Windows VBE::Windows() const {
  return Wrap<host::Windows>(GetObject(L"Windows", {}, &windows_names));
}

EventConnection::EventConnection(IUnknown* source, REFIID events, IUnknown* sink) {
  if (!source) throw Error::Vb(91);
  com_ptr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_PPV_ARGS(&container));
  if (FAILED(hr)) throw Error::FromHResult(hr);
  com_ptr<IConnectionPoint> point;
  hr = container->FindConnectionPoint(events, &point);
  if (FAILED(hr)) throw CallError(container.Get(), IID_IConnectionPointContainer, hr);
  DWORD cookie = 0;
  hr = point->Advise(sink, &cookie);
  if (FAILED(hr)) throw CallError(point.Get(), IID_IConnectionPoint, hr);
  point_ = std::move(point);
  cookie_ = cookie;
}

EventConnection::EventConnection(EventConnection&& other) noexcept
    : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0)) {}

EventConnection& EventConnection::operator=(EventConnection&& other) noexcept {
  if (this != &other) {
    Disconnect();
    // Swapped, not move-assigned: MinGW's ComPtr copies on move assignment, and
    // a moved-from connection still holding the point would unadvise it.
    point_.Swap(other.point_);
    cookie_ = std::exchange(other.cookie_, 0);
  }
  return *this;
}

void EventConnection::Disconnect() noexcept {
  if (point_) point_->Unadvise(cookie_);
  point_.Reset();
  cookie_ = 0;
}

}  // namespace quarnel::host
