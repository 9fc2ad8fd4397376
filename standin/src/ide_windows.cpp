#include "ide_windows.h"

#include "variant_text.h"

namespace standin::detail {

quarnel::unique_hwnd MakeIdeWindow(const std::wstring& caption) {
  static const wchar_t kClass[] = L"StandinIdeWindow";
  static const bool registered = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClass;
    return RegisterClassW(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  if (!registered) return {};
  return quarnel::unique_hwnd(CreateWindowExW(0, kClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                              CW_USEDEFAULT, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr),
                                              nullptr));
}

STDMETHODIMP WindowsObject::Item(VARIANT index, Window** window) {
  return Run(L"Item", DISPATCH_METHOD, [&] { return VariantText(index); }, [&](Core& core) {
    if (!window) throw HostError{E_POINTER, L"No place for the result"};
    *window = nullptr;
    const Index which = ToIndex(index);
    std::shared_ptr<WindowNode> found;
    if (which.by_name) {
      for (const auto& w : core.windows) {
        if (SameText(w->caption, which.name)) found = w;
      }
    } else if (which.position >= 1 && static_cast<size_t>(which.position) <= core.windows.size()) {
      found = core.windows[static_cast<size_t>(which.position) - 1];
    }
    if (!found) throw SubscriptOutOfRange();
    Hand(ObjectFor<WindowObject>(weak_core(), found), window);
  });
}

STDMETHODIMP WindowsObject::get_Count(LONG* count) {
  return Run(L"Count", DISPATCH_PROPERTYGET, [&](Core& core) {
    if (!count) throw HostError{E_POINTER, L"No place for the result"};
    *count = static_cast<LONG>(core.windows.size());
  });
}

WindowObject::WindowObject(std::weak_ptr<Core> core, std::weak_ptr<WindowNode> window)
    : Automation(std::move(core)), window_(std::move(window)) {}

WindowObject::~WindowObject() {
  if (auto window = window_.lock(); window && window->object == this) window->object = nullptr;
}

STDMETHODIMP WindowObject::get_Caption(BSTR* caption) {
  return Run(L"Caption", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!caption) throw HostError{E_POINTER, L"No place for the result"};
    *caption = nullptr;
    *caption = AllocText(Alive(window_)->caption);
  });
}

STDMETHODIMP WindowObject::SetFocus() {
  return Run(L"SetFocus", DISPATCH_METHOD, [&](Core& core) {
    auto window = Alive(window_);
    // Only a window the user can see takes the focus.
    if (!window->visible) throw InvalidArgument();
    core.focus_history.push_back(window->caption);
    core.active_window = window;
  });
}

STDMETHODIMP WindowObject::get_HWnd(LONG* hwnd) {
  return Run(L"HWnd", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!hwnd) throw HostError{E_POINTER, L"No place for the result"};
    *hwnd = static_cast<LONG>(reinterpret_cast<INT_PTR>(Alive(window_)->hwnd.get()));
  });
}

}  // namespace standin::detail
