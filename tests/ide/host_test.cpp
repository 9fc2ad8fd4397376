// The typed host layer against the stand-in IDE: every operation the add-in uses,
// reached late-bound by name, and host failures arriving with their description.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ide/host.h"
#include "common/error.h"
#include "standin/ide.h"
#include "support/temp_folder.h"

namespace quarnel::host {
namespace {

using test::FileExists;
using test::TempFolder;

// A Click sink that counts the events and records what they carried.
class ClickSink final : public IDispatch {
 public:
  int clicks = 0;
  com_ptr<IDispatch> last_control;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_dispCommandBarControlEvents) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    if (id != DISPID_CommandBarClick || params->cArgs != 3) return DISP_E_MEMBERNOTFOUND;
    ++clicks;
    if (params->rgvarg[2].vt == VT_DISPATCH) last_control = params->rgvarg[2].pdispVal;
    return S_OK;
  }
  ULONG refs() const { return refs_; }

 private:
  ULONG refs_ = 0;
};

class HostLayer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override {
    vbe = VBE();
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0) << "a reference to the IDE's objects was kept";
    CoUninitialize();
  }
  VBE Root() { return VBE::FromApplication(ide->application().Get()); }
  // The message of the error a call raised, or "(no error)".
  static std::wstring ErrorOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& error) {
      return error.description();
    }
    return L"(no error)";
  }

  std::unique_ptr<standin::Ide> ide = std::make_unique<standin::Ide>();
  VBE vbe;
};

TEST_F(HostLayer, RootObjectAnswersItsIdentity) {
  ide->set_full_name(L"C:\\VB98\\VB6.EXE");
  vbe = Root();
  EXPECT_EQ(vbe.Name(), L"Microsoft Visual Basic");
  EXPECT_EQ(vbe.FullName(), L"C:\\VB98\\VB6.EXE");
  EXPECT_FALSE(vbe.Version().empty());
}

TEST_F(HostLayer, ConversionOfAnObjectThatIsNotTheIdeFails) {
  vbe = Root();
  const CommandBar file = vbe.CommandBars().Item(L"File");
  EXPECT_EQ(ErrorOf([&] { VBE::FromApplication(file.get()); }), L"Type mismatch");
}

TEST_F(HostLayer, AddBeforeSevenMakesTheSeventhControlOfFile) {
  vbe = Root();
  const auto before = ide->controls(L"File");
  const CommandBarControl control =
      CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
  control.put_Caption(L"Quarnel...");

  const auto after = ide->controls(L"File");
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[6].caption, L"Quarnel...");
  EXPECT_EQ(after[7].caption, before[6].caption);
  EXPECT_EQ(control.Caption(), L"Quarnel...");
  EXPECT_NE(ide->transcript().find(L"Before:=7%"), std::wstring::npos) << ide->transcript();
}

TEST_F(HostLayer, AddWithoutArgumentsAppendsToTools) {
  vbe = Root();
  const CommandBarControls controls = vbe.CommandBars().Item(L"Tools").Controls();
  const size_t count = ide->controls(L"Tools").size();
  CommandBarControl::From(controls.Add()).put_Caption(L"Quarnel options...");
  EXPECT_EQ(ide->controls(L"Tools").size(), count + 1);
  EXPECT_EQ(ide->controls(L"Tools").back().caption, L"Quarnel options...");
}

// Positional arguments reach the host in the order they are given: Type, then Id.
TEST_F(HostLayer, PositionalArgumentsKeepTheirOrder) {
  vbe = Root();
  const unique_variant type = Integer(1), id = Integer(2);
  const VARIANT args[] = {*type.get(), *id.get()};
  vbe.CommandBars().Item(L"Tools").Controls().CallObject(L"Add", args);
  // Reversed, Type would be 2, which this IDE refuses, and Id 1.
  EXPECT_EQ(ide->controls(L"Tools").back().type, 1);
  EXPECT_EQ(ide->controls(L"Tools").back().id, 2);
}

TEST_F(HostLayer, PasteFaceTakesTheClipboardPictureAndDeleteRemovesTheControl) {
  vbe = Root();
  const CommandBarControl control =
      CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));

  // A 16 x 16 picture of one colour on the clipboard.
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
  HDC canvas = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(canvas, bitmap);
  RECT all{0, 0, 16, 16};
  unique_hgdiobj brush(CreateSolidBrush(RGB(0x12, 0x34, 0x56)));
  FillRect(canvas, &all, static_cast<HBRUSH>(brush.get()));
  SelectObject(canvas, old);
  DeleteDC(canvas);
  ReleaseDC(nullptr, screen);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_BITMAP, bitmap);  // the clipboard owns it now
  CloseClipboard();

  control.PasteFace();
  const auto face = ide->controls(L"File")[6].face;
  ASSERT_TRUE(face.has_value());
  EXPECT_EQ(face->width, 16);
  EXPECT_EQ(face->height, 16);
  EXPECT_EQ(face->pixels.at(0), 0x123456u);
  EXPECT_EQ(face->pixels.at(255), 0x123456u);

  const size_t count = ide->controls(L"File").size();
  control.Delete();
  EXPECT_EQ(ide->controls(L"File").size(), count - 1);
}

TEST_F(HostLayer, ClickReachesAnAdvisedSinkUntilItIsDisconnected) {
  vbe = Root();
  const CommandBarControl control =
      CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
  ClickSink sink;
  {
    const com_ptr<IUnknown> source = vbe.Events().CommandBarEvents(control.get());
    EventConnection connection(source.Get(), DIID_dispCommandBarControlEvents, &sink);
    const auto click = ide->click(L"File", 7);
    EXPECT_EQ(click.sinks, 1);
    EXPECT_EQ(sink.clicks, 1);
    EXPECT_TRUE(sink.last_control);
    sink.last_control.Reset();
  }
  EXPECT_EQ(ide->click(L"File", 7).sinks, 0);
  EXPECT_EQ(sink.refs(), 0u) << "the source kept the sink";
}

TEST_F(HostLayer, MovedConnectionUnadvisesOnceByItsNewOwner) {
  vbe = Root();
  const CommandBarControl control =
      CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
  ClickSink sink;
  {
    const com_ptr<IUnknown> source = vbe.Events().CommandBarEvents(control.get());
    EventConnection kept;
    kept = EventConnection(source.Get(), DIID_dispCommandBarControlEvents, &sink);
    EXPECT_EQ(ide->count(L"CommandBarEvents.Unadvise"), 0u) << "the moved-from one let go";
    EXPECT_EQ(ide->click(L"File", 7).sinks, 1);
  }
  EXPECT_EQ(ide->count(L"CommandBarEvents.Unadvise"), 1u);
  EXPECT_EQ(ide->click(L"File", 7).sinks, 0);
}

TEST_F(HostLayer, ActiveProjectAndItsComponents) {
  TempFolder folder;
  ide->project(L"Project1")
      .saved_as(L"C:\\Work\\Old\\Project1.vbp")
      .form(L"Form1")
      .module(L"Module1")
      .clean()
      .cls(L"Class1")
      .build();
  vbe = Root();
  const VBProject project = vbe.ActiveVBProject();
  EXPECT_EQ(project.Name(), L"Project1");
  EXPECT_EQ(project.FileName(), L"C:\\Work\\Old\\Project1.vbp");
  EXPECT_FALSE(project.Saved());

  struct Seen {
    std::wstring name;
    long type;
    bool dirty;
  };
  std::vector<Seen> seen;
  project.Components().ForEach([&](const VBComponent& c) {
    seen.push_back({c.Name(), c.Type(), c.IsDirty()});
    if (c.IsDirty()) c.SaveAs(folder / (c.Name() + L".txt"));
  });
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(project.Components().Count(), 3);
  EXPECT_EQ(seen[0].name, L"Form1");
  EXPECT_EQ(seen[0].type, 5);
  EXPECT_TRUE(seen[0].dirty);
  EXPECT_EQ(seen[1].name, L"Module1");
  EXPECT_EQ(seen[1].type, 1);
  EXPECT_FALSE(seen[1].dirty);
  EXPECT_EQ(seen[2].type, 2);
  EXPECT_TRUE(FileExists(folder / L"Form1.txt"));
  EXPECT_FALSE(FileExists(folder / L"Module1.txt"));

  project.SaveAs(folder / L"Project1.vbp");
  EXPECT_TRUE(FileExists(folder / L"Project1.vbp"));
  // The project is asked afresh: what the host did shows at once.
  EXPECT_EQ(vbe.ActiveVBProject().FileName(), folder / L"Project1.vbp");
}

TEST_F(HostLayer, NoActiveProjectIsNothing) {
  vbe = Root();
  const VBProject project = vbe.ActiveVBProject();
  EXPECT_FALSE(project);
  EXPECT_EQ(ErrorOf([&] { project.Saved(); }), L"Object variable or With block variable not set");
}

TEST_F(HostLayer, FirstWindowGetsTheFocusByA16BitIndex) {
  vbe = Root();
  vbe.Windows().Item(1).SetFocus();
  ASSERT_EQ(ide->focus_history().size(), 1u);
  EXPECT_EQ(ide->focus_history()[0], ide->windows().at(0));
  EXPECT_NE(ide->transcript().find(L"(1%)"), std::wstring::npos) << ide->transcript();
}

TEST_F(HostLayer, NamesAreLookedUpOncePerInterfaceNotPerObject) {
  auto builder = ide->project(L"Big");
  for (int i = 0; i < 20; ++i) builder.module(L"Module" + std::to_wstring(i));
  builder.build();
  vbe = Root();
  const VBComponents components = vbe.ActiveVBProject().Components();
  ide->clear_calls();
  components.ForEach([](const VBComponent& c) {
    c.Name();
    c.Type();
    c.IsDirty();
  });
  size_t lookups = 0;
  for (const auto& call : ide->calls()) lookups += call.kind == standin::Call::Kind::kGetIDsOfNames;
  EXPECT_LE(lookups, 3u) << ide->transcript();
}

// --- Failures of the host arrive with its own description ------------------------

struct FailingCall {
  const wchar_t* operation;
  std::function<void(const VBE&)> call;
};

class HostFailure : public HostLayer, public ::testing::WithParamInterface<FailingCall> {};

TEST_P(HostFailure, ArrivesWithTheHostsDescription) {
  ide->project(L"Project1").form(L"Form1").build();
  vbe = Root();
  // Everything the call needs first, so that the failure hits the call itself.
  ide->fail({.description = L"The host says no", .operation = GetParam().operation,
             .code = static_cast<HRESULT>(0x800A1234)});
  try {
    GetParam().call(vbe);
    FAIL() << "no error from " << testing::PrintToString(std::wstring(GetParam().operation));
  } catch (const Error& error) {
    EXPECT_EQ(error.description(), L"The host says no");
    EXPECT_EQ(error.code(), static_cast<HRESULT>(0x800A1234));
  }
}

CommandBarControl NewFileControl(const VBE& vbe) {
  return CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOfCall, HostFailure,
    ::testing::Values(
        FailingCall{L"VBE.CommandBars", [](const VBE& v) { v.CommandBars(); }},
        FailingCall{L"CommandBars.Item", [](const VBE& v) { v.CommandBars().Item(L"File"); }},
        FailingCall{L"CommandBar.Controls",
                    [](const VBE& v) { v.CommandBars().Item(L"File").Controls(); }},
        FailingCall{L"CommandBarControls.Add", [](const VBE& v) { NewFileControl(v); }},
        FailingCall{L"CommandBarControl.Caption",
                    [](const VBE& v) { NewFileControl(v).put_Caption(L"x"); }},
        FailingCall{L"CommandBarButton.PasteFace",
                    [](const VBE& v) { NewFileControl(v).PasteFace(); }},
        FailingCall{L"CommandBarControl.Delete", [](const VBE& v) { NewFileControl(v).Delete(); }},
        FailingCall{L"VBE.Events", [](const VBE& v) { v.Events(); }},
        FailingCall{L"Events.CommandBarEvents",
                    [](const VBE& v) { v.Events().CommandBarEvents(NewFileControl(v).get()); }},
        FailingCall{L"VBE.ActiveVBProject", [](const VBE& v) { v.ActiveVBProject(); }},
        FailingCall{L"_VBProject.Saved", [](const VBE& v) { v.ActiveVBProject().Saved(); }},
        FailingCall{L"_VBProject.FileName", [](const VBE& v) { v.ActiveVBProject().FileName(); }},
        FailingCall{L"_VBProject.Name", [](const VBE& v) { v.ActiveVBProject().Name(); }},
        FailingCall{L"_VBProject.SaveAs",
                    [](const VBE& v) { v.ActiveVBProject().SaveAs(L"C:\\p.vbp"); }},
        FailingCall{L"_VBComponents._NewEnum",
                    [](const VBE& v) { v.ActiveVBProject().Components().ForEach([](auto&) {}); }},
        FailingCall{L"_VBComponent.Type",
                    [](const VBE& v) {
                      v.ActiveVBProject().Components().ForEach([](const VBComponent& c) { c.Type(); });
                    }},
        FailingCall{L"_VBComponent.IsDirty",
                    [](const VBE& v) {
                      v.ActiveVBProject().Components().ForEach(
                          [](const VBComponent& c) { c.IsDirty(); });
                    }},
        FailingCall{L"_VBComponent.SaveAs",
                    [](const VBE& v) {
                      v.ActiveVBProject().Components().ForEach(
                          [](const VBComponent& c) { c.SaveAs(L"C:\\f.frm"); });
                    }},
        FailingCall{L"_Windows.Item", [](const VBE& v) { v.Windows().Item(1); }},
        FailingCall{L"Window.SetFocus", [](const VBE& v) { v.Windows().Item(1).SetFocus(); }},
        FailingCall{L"VBE.FullName", [](const VBE& v) { v.FullName(); }}),
    [](const auto& test_info) {
      std::string name;
      for (const wchar_t* p = test_info.param.operation; *p; ++p) {
        if (iswalnum(*p)) name += static_cast<char>(*p);
      }
      return name;
    });

}  // namespace
}  // namespace quarnel::host
