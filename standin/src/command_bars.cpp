#include "command_bars.h"

#include <algorithm>

#include "variant_text.h"

namespace standin::detail {
namespace {

// The clipboard's bitmap (CF_BITMAP, which the system also makes from a DIB) as
// 32-bit pixels.
Face FaceFromClipboard() {
  // One attempt: nothing says the IDE waits for a clipboard that another
  // program holds, so the stand-in does not.
  if (!OpenClipboard(nullptr)) throw HostError{E_FAIL, L"The clipboard cannot be opened"};
  auto close = quarnel::scope_exit([] { CloseClipboard(); });
  auto* bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  if (!bitmap) throw HostError{E_FAIL, L"The clipboard holds no picture to paste"};
  BITMAP info{};
  if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) {
    throw HostError{E_FAIL, L"The clipboard's picture cannot be read"};
  }
  Face face;
  face.width = info.bmWidth;
  face.height = info.bmHeight;
  face.pixels.resize(static_cast<size_t>(face.width) * static_cast<size_t>(face.height));
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = face.width;
  format.bmiHeader.biHeight = -face.height;  // rows from the top
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(face.height), face.pixels.data(), &format,
                             DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != face.height) throw HostError{E_FAIL, L"The clipboard's picture cannot be read"};
  for (auto& pixel : face.pixels) pixel &= 0x00FFFFFFu;
  return face;
}

std::shared_ptr<ControlNode> FindControl(const BarNode& bar, const Index& index) {
  if (index.by_name) {
    for (const auto& control : bar.controls) {
      if (SameText(control->caption, index.name)) return control;
    }
    return nullptr;
  }
  if (index.position < 1 || static_cast<size_t>(index.position) > bar.controls.size()) return nullptr;
  return bar.controls[static_cast<size_t>(index.position) - 1];
}

}  // namespace

// --- CommandBars ------------------------------------------------------------------

STDMETHODIMP CommandBarsObject::get_Item(VARIANT index, CommandBar** bar) {
  return Run(L"Item", DISPATCH_PROPERTYGET, [&] { return VariantText(index); }, [&](Core& core) {
    if (!bar) throw HostError{E_POINTER, L"No place for the result"};
    *bar = nullptr;
    const Index which = ToIndex(index);
    std::shared_ptr<BarNode> found;
    if (which.by_name) {
      found = core.FindBar(which.name);
    } else if (which.position >= 1 && static_cast<size_t>(which.position) <= core.bars.size()) {
      found = core.bars[static_cast<size_t>(which.position) - 1];
    }
    if (!found) throw InvalidArgument();
    Hand(ObjectFor<CommandBarObject>(weak_core(), found), bar);
  });
}

// --- CommandBar ----------------------------------------------------------------------

CommandBarObject::CommandBarObject(std::weak_ptr<Core> core, std::weak_ptr<BarNode> bar)
    : Automation(std::move(core)), bar_(std::move(bar)) {}

CommandBarObject::~CommandBarObject() {
  if (auto bar = bar_.lock(); bar && bar->object == this) bar->object = nullptr;
}

STDMETHODIMP CommandBarObject::get_Controls(CommandBarControls** controls) {
  return Run(L"Controls", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!controls) throw HostError{E_POINTER, L"No place for the result"};
    *controls = nullptr;
    Alive(bar_);
    Hand(Adopt(new ControlsObject(weak_core(), bar_)), controls);
  });
}

// --- CommandBarControls -------------------------------------------------------------

STDMETHODIMP ControlsObject::Add(VARIANT type, VARIANT id, VARIANT parameter, VARIANT before, VARIANT temporary,
                                 CommandBarControl** control) {
  auto args = [&] {
    std::wstring text;
    const wchar_t* names[] = {L"Type", L"Id", L"Parameter", L"Before", L"Temporary"};
    const VARIANT* values[] = {&type, &id, &parameter, &before, &temporary};
    for (int i = 0; i < 5; ++i) {
      if (IsMissing(*values[i])) continue;
      if (!text.empty()) text += L", ";
      text += std::wstring(names[i]) + L":=" + VariantText(*values[i]);
    }
    return text;
  };
  return Run(L"Add", DISPATCH_METHOD, args, [&](Core& core) {
    if (!control) throw HostError{E_POINTER, L"No place for the result"};
    *control = nullptr;
    auto bar = Alive(bar_);
    auto added = std::make_shared<ControlNode>();
    added->bar = bar;
    added->caption = L"Custom";
    if (!IsMissing(type)) added->type = static_cast<int>(ToLong(type));
    if (added->type != 1) {
      throw HostError{E_NOTIMPL, L"This IDE adds buttons only (Type 1, msoControlButton)"};
    }
    if (!IsMissing(id)) added->id = static_cast<int>(ToLong(id));
    if (!IsMissing(parameter)) added->parameter = ToText(parameter);
    if (!IsMissing(temporary)) added->temporary = ToBool(temporary);
    size_t at = bar->controls.size();
    if (!IsMissing(before)) {
      const long position = ToLong(before);
      const size_t last = bar->controls.size() + (core.before_only_a_control ? 0 : 1);
      if (position < 1 || static_cast<size_t>(position) > last) throw InvalidArgument();
      at = static_cast<size_t>(position) - 1;
    }
    bar->controls.insert(bar->controls.begin() + static_cast<std::ptrdiff_t>(at), added);
    auto remove = quarnel::scope_exit([&] {
      bar->controls.erase(std::find(bar->controls.begin(), bar->controls.end(), added));
    });
    Hand(ObjectFor<ControlObject>(weak_core(), added), control);
    remove.release();
  });
}

STDMETHODIMP ControlsObject::get_Count(int* count) {
  return Run(L"Count", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!count) throw HostError{E_POINTER, L"No place for the result"};
    *count = static_cast<int>(Alive(bar_)->controls.size());
  });
}

STDMETHODIMP ControlsObject::get_Item(VARIANT index, CommandBarControl** control) {
  return Run(L"Item", DISPATCH_PROPERTYGET, [&] { return VariantText(index); }, [&](Core&) {
    if (!control) throw HostError{E_POINTER, L"No place for the result"};
    *control = nullptr;
    auto found = FindControl(*Alive(bar_), ToIndex(index));
    if (!found) throw InvalidArgument();
    Hand(ObjectFor<ControlObject>(weak_core(), found), control);
  });
}

// --- CommandBarButton -----------------------------------------------------------------

ControlObject::ControlObject(std::weak_ptr<Core> core, std::weak_ptr<ControlNode> control)
    : Automation(std::move(core)), control_(std::move(control)) {}

ControlObject::~ControlObject() {
  if (auto control = control_.lock(); control && control->object == this) control->object = nullptr;
}

bool ControlObject::Answers(REFIID riid) const {
  return IsEqualIID(riid, __uuidof(CommandBarButton)) || IsEqualIID(riid, __uuidof(CommandBarControl));
}

STDMETHODIMP ControlObject::get_Caption(BSTR* caption) {
  return Run(L"Caption", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!caption) throw HostError{E_POINTER, L"No place for the result"};
    *caption = nullptr;
    *caption = AllocText(Alive(control_)->caption);
  });
}

STDMETHODIMP ControlObject::put_Caption(BSTR caption) {
  return Run(L"Caption", DISPATCH_PROPERTYPUT, [&] { return Quote(Text(caption)); },
             [&](Core&) { Alive(control_)->caption = Text(caption); });
}

STDMETHODIMP ControlObject::Delete(VARIANT temporary) {
  return Run(L"Delete", DISPATCH_METHOD, [&] { return IsMissing(temporary) ? L"" : VariantText(temporary); },
             [&](Core&) {
               auto control = Alive(control_);
               if (!IsMissing(temporary)) ToBool(temporary);
               if (auto bar = control->bar.lock()) {
                 auto& list = bar->controls;
                 list.erase(std::remove(list.begin(), list.end(), control), list.end());
               }
               control->bar.reset();
             });
}

STDMETHODIMP ControlObject::get_FaceId(int* id) {
  return Run(L"FaceId", DISPATCH_PROPERTYGET, [&](Core&) {
    if (!id) throw HostError{E_POINTER, L"No place for the result"};
    *id = Alive(control_)->face_id;
  });
}

STDMETHODIMP ControlObject::put_FaceId(int id) {
  return Run(L"FaceId", DISPATCH_PROPERTYPUT, [&] { return std::to_wstring(id) + L"&"; }, [&](Core&) {
    auto control = Alive(control_);
    control->face_id = id;
    control->face.reset();
  });
}

STDMETHODIMP ControlObject::PasteFace() {
  return Run(L"PasteFace", DISPATCH_METHOD, [&](Core&) {
    auto control = Alive(control_);
    control->face = FaceFromClipboard();
    control->face_id = 0;
  });
}

}  // namespace standin::detail
