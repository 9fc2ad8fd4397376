#pragma once
// The IDE's windows: the collection and one window.
#include "VB6EXT.h"
#include "automation.h"

namespace standin::detail {

class WindowsObject final : public Automation<_Windows> {
 public:
  explicit WindowsObject(std::weak_ptr<Core> core) : Automation(std::move(core)) {}
  STDMETHODIMP Item(VARIANT index, Window** window) override;
  STDMETHODIMP get_Count(LONG* count) override;
};

class WindowObject final : public Automation<Window> {
 public:
  WindowObject(std::weak_ptr<Core> core, std::weak_ptr<WindowNode> window);
  ~WindowObject() override;
  STDMETHODIMP get_Caption(BSTR* caption) override;
  STDMETHODIMP SetFocus() override;
  STDMETHODIMP get_HWnd(LONG* hwnd) override;

 private:
  std::weak_ptr<WindowNode> window_;
};

// A hidden top-level window for the IDE's window of this caption: its handle is a
// real one.
quarnel::unique_hwnd MakeIdeWindow(const std::wstring& caption);

}  // namespace standin::detail
