#pragma once
// The IDE as the add-in reaches it: a thin typed layer over the Visual Basic
// IDE's extensibility objects and the Office command bars, each call late-bound
// by member name (see dispatch.h). The rest of the add-in talks to these types,
// never to raw IDispatch. Every call may fail with quarnel::Error carrying the
// host's own description.
//
//   VBE ide = VBE::FromApplication(application);
//   CommandBar file = ide.CommandBars().Item(L"File");
//   CommandBarControl control = file.Controls().Add(7);
//   control.put_Caption(L"Quarnel...");
#include <ocidl.h>

#include <functional>
#include <string>

#include "ide/dispatch.h"

namespace quarnel::host {

// Interfaces of the IDE that the add-in asks for by IID.
inline constexpr IID IID_VBE = {0x0002E100, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarControl = {0x000C0308, 0x0000, 0x0000,
                                              {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The default interface of a command-bar event object (IUnknown-based).
inline constexpr IID IID_CommandBarControlEvents = {0x0002E197, 0x0000, 0x0000,
                                                    {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The source interface of a command-bar event object: Click, DISPID 1.
inline constexpr IID DIID_dispCommandBarControlEvents = {0x0002E198, 0x0000, 0x0000,
                                                         {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID DISPID_CommandBarClick = 1;

class CommandBarControl : public Object {
 public:
  CommandBarControl() = default;
  // The object as an Office command-bar control; "Type mismatch" if it is none.
  static CommandBarControl From(const Object& object);

  std::wstring Caption() const;
  void put_Caption(const std::wstring& caption) const;
  // Copies the clipboard's picture onto the button face.
  void PasteFace() const;
  // Removes the control from its command bar.
  void Delete() const;
};

class CommandBarControls : public Object {
 public:
  // Adds a button at the end.
  Object Add() const;
  // Adds a button before position `before` (1-based), by the named argument
  // "before".
  Object Add(short before) const;
};

class CommandBar : public Object {
 public:
  CommandBarControls Controls() const;
};

class CommandBars : public Object {
 public:
  CommandBar Item(const std::wstring& name) const;
};

class Events : public Object {
 public:
  // The event source of one command-bar control, as it comes (VT_DISPATCH or
  // VT_UNKNOWN); null for Nothing. `control` may be Nothing. The IDE's event
  // object is IUnknown-based: ask it only for its default interface
  // (AsCommandBarEvents) and its IConnectionPointContainer, not IDispatch.
  com_ptr<IUnknown> CommandBarEvents(IDispatch* control) const;
};

// `object` through _CommandBarControlEvents, as Set x = object does for x declared
// CommandBarEvents: null for Nothing, "Type mismatch" when it lacks that interface.
com_ptr<IUnknown> AsCommandBarEvents(IUnknown* object);

class VBComponent : public Object {
 public:
  std::wstring Name() const;
  // The kind, vbext_ComponentType: 1 standard module ... 11 ActiveX designer.
  long Type() const;
  bool IsDirty() const;
  // The component's file (index 1, passed as a 16-bit integer); empty for one
  // never saved.
  std::wstring FileName() const;
  void SaveAs(const std::wstring& path) const;
  // The component's code as its code window holds it, its lines joined by
  // line ends; "Object variable not set" for a component without code.
  std::wstring Code() const;
};

class VBComponents : public Object {
 public:
  long Count() const;
  // Calls `visit` for each component, in the order the host enumerates them.
  void ForEach(const std::function<void(const VBComponent&)>& visit) const;
};

class VBProject : public Object {
 public:
  std::wstring Name() const;
  // The project file's full path; empty for a project never saved.
  std::wstring FileName() const;
  // True when the project has no unsaved changes.
  bool Saved() const;
  VBComponents Components() const;
  void SaveAs(const std::wstring& path) const;
};

class Window : public Object {
 public:
  void SetFocus() const;
};

class Windows : public Object {
 public:
  // The window at `index` (1-based), passed as a 16-bit integer.
  Window Item(short index) const;
};

class VBE : public Object {
 public:
  VBE() = default;
  // The IDE's root object from the Application of a connection; "Type mismatch"
  // when the object is not the IDE.
  static VBE FromApplication(IDispatch* application);

  std::wstring Name() const;
  std::wstring FullName() const;
  std::wstring Version() const;
  CommandBars CommandBars() const;
  Events Events() const;
  // Asked afresh at every use: the user may switch projects at any time.
  VBProject ActiveVBProject() const;
  Windows Windows() const;
};

// An advised event sink: unadvised when this owner goes.
class EventConnection {
 public:
  EventConnection() = default;
  // Connects `sink` to the `events` source interface of `source`, through the
  // source's IConnectionPointContainer.
  EventConnection(IUnknown* source, REFIID events, IUnknown* sink);
  EventConnection(EventConnection&& other) noexcept;
  EventConnection& operator=(EventConnection&& other) noexcept;
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;
  ~EventConnection() { Disconnect(); }

  explicit operator bool() const noexcept { return point_ != nullptr; }
  // Unadvises now; failures are ignored (the source may be gone).
  void Disconnect() noexcept;

 private:
  com_ptr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace quarnel::host
