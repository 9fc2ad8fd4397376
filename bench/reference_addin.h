#pragma once
// The reference the add-in is measured against: the least an add-in must ask of
// the IDE to put a command with a picture into the File menu and hear its clicks
// (connection), and the least a save must do (one SaveAs per component and one
// for the project). Late-bound like the add-in, each name resolved once per process.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "common/owners.h"

namespace quarnel::bench {

class ReferenceAddin {
 public:
  ReferenceAddin();
  ~ReferenceAddin();
  ReferenceAddin(const ReferenceAddin&) = delete;
  ReferenceAddin& operator=(const ReferenceAddin&) = delete;

  // Looks up "File", adds the control before position 7, sets its caption,
  // pastes the face from the clipboard and connects to the control's Click.
  // Throws std::runtime_error on a failed host call.
  void Connect(IDispatch* application);
  // Disconnects the sink and deletes the control.
  void Disconnect();

 private:
  class Sink;
  com_ptr<IDispatch> control_;
  com_ptr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  com_ptr<IDispatch> sink_;
  HBITMAP face_ = nullptr;  // the 16 x 16 picture, drawn once
  HWND owner_ = nullptr;    // the clipboard's owner, a message-only window
};

// One component to save: its object and the file it goes to.
struct SaveItem {
  com_ptr<IDispatch> component;
  std::wstring path;
};

// The reference save: SaveAs for each component, then for the project.
void ReferenceSave(const std::vector<SaveItem>& items, IDispatch* project, const std::wstring& project_path);

// Late-bound helpers shared by the benchmarks.
DISPID IdOf(IDispatch* object, const wchar_t* name);
com_ptr<IDispatch> GetObjectProperty(IDispatch* object, const wchar_t* name);

}  // namespace quarnel::bench
