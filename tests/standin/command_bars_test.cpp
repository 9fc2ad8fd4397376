// The IDE's menus: controls added, found and deleted; the button face pasted
// from the clipboard; and the click events the IDE raises to an advised sink.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include "VB6EXT.h"
#include "fixture.h"

namespace standin::test {
namespace {

std::vector<std::wstring> Captions(const std::vector<Control>& controls) {
  std::vector<std::wstring> captions;
  for (const auto& control : controls) captions.push_back(control.caption);
  return captions;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  com_ptr<IUnknown> ua, ub;
  a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ua.GetAddressOf()));
  b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ub.GetAddressOf()));
  return ua.Get() == ub.Get();
}

using CommandBarControls = IdeTest;

TEST_F(CommandBarControls, AddBeforeSevenMakesTheSeventhControl) {
  auto controls = Controls(L"File");
  const Outcome added = Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"before", short{7})});
  ASSERT_TRUE(Succeeded(added));
  ASSERT_TRUE(Succeeded(Put(added.object().Get(), L"Caption", L"Quarnel...")));
  const auto after = ide.controls(L"File");
  ASSERT_EQ(after.size(), 14u);
  EXPECT_EQ(after[5].caption, L"Sav&e Project As...");
  EXPECT_EQ(after[6].caption, L"Quarnel...");
  EXPECT_EQ(after[7].caption, L"&Save Form1");
  EXPECT_EQ(after[6].type, 1);
  EXPECT_EQ(Get(controls.Get(), L"Count").number(), 14);
  // The control at 7 is the very object Add returned.
  EXPECT_TRUE(SameObject(Object(controls.Get(), L"Item", {short{7}}).Get(), added.object().Get()));
}

TEST_F(CommandBarControls, AddWithoutArgumentsAppends) {
  auto controls = Controls(L"Tools");
  ASSERT_TRUE(Succeeded(Call(controls.Get(), L"Add", DISPATCH_METHOD)));
  // Before = Count + 1 also appends.
  ASSERT_TRUE(Succeeded(Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", 6)})));
  EXPECT_EQ(Captions(ide.controls(L"Tools")),
            (std::vector<std::wstring>{L"Add &Procedure...", L"Procedure Attri&butes...", L"&Menu Editor...",
                                       L"&Options...", L"Custom", L"Custom"}));
}

TEST_F(CommandBarControls, BeforeOutOfRangeFailsAndAddsNothing) {
  auto controls = Controls(L"Tools");
  for (short before : {short{0}, short{6}, short{-1}}) {
    const Outcome outcome = Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", before)});
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << before;
    EXPECT_FALSE(outcome.description.empty());
  }
  EXPECT_EQ(ide.controls(L"Tools").size(), 4u);
}

TEST_F(CommandBarControls, UnknownBarFailsAndKnownOnesAreFoundInAnyCase) {
  EXPECT_TRUE(Succeeded(Get(Object(root.Get(), L"CommandBars").Get(), L"Item", {L"file"})));
  ide.remove_bar(L"File");
  const Outcome gone = Get(Object(root.Get(), L"CommandBars").Get(), L"Item", {L"File"});
  EXPECT_EQ(gone.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(gone.description, L"Invalid procedure call or argument");
}

TEST_F(CommandBarControls, DeletedControlLeavesItsBarAndFailsLaterCalls) {
  auto controls = Controls(L"File");
  const Outcome added = Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{7})});
  auto control = added.object();
  ASSERT_TRUE(Succeeded(Call(control.Get(), L"Delete", DISPATCH_METHOD)));
  EXPECT_EQ(ide.controls(L"File").size(), 13u);
  EXPECT_EQ(ide.controls(L"File")[6].caption, L"&Save Form1");

  auto expect_failure = [](const Outcome& late) {
    EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(late.scode, E_FAIL);
    EXPECT_EQ(late.description.substr(0, 8), L"Method '");
  };
  expect_failure(Get(control.Get(), L"Caption"));
  expect_failure(Put(control.Get(), L"Caption", L"x"));
  expect_failure(Call(control.Get(), L"Delete", DISPATCH_METHOD));
  EXPECT_EQ(ide.controls(L"File").size(), 13u);
}

// --- The button face, through the clipboard (tests named *Clipboard* run one at a time)

// A 16×16 picture, left half red and right half blue, put on the clipboard.
void PutPictureOnClipboard() {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT left{0, 0, 8, 16}, right{8, 0, 16, 16};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(dc, &left, red);
  FillRect(dc, &right, blue);
  SelectObject(dc, old);
  DeleteObject(red);
  DeleteObject(blue);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  ASSERT_NE(SetClipboardData(CF_BITMAP, bitmap), nullptr);
  CloseClipboard();
}

// The same kind of picture as a device-independent bitmap (CF_DIB) only: green.
void PutDibOnClipboard() {
  const size_t pixels = 16 * 16;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + pixels * 4);
  ASSERT_NE(memory, nullptr);
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(memory));
  *header = BITMAPINFOHEADER{};
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = 16;
  header->biHeight = 16;
  header->biPlanes = 1;
  header->biBitCount = 32;
  header->biCompression = BI_RGB;
  auto* bits = reinterpret_cast<std::uint32_t*>(header + 1);
  for (size_t i = 0; i < pixels; ++i) bits[i] = 0x0000FF00u;
  GlobalUnlock(memory);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  ASSERT_NE(SetClipboardData(CF_DIB, memory), nullptr);
  CloseClipboard();
}

void EmptyTheClipboard() {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
}

TEST_F(CommandBarControls, PasteFaceKeepsTheClipboardPicture_Clipboard) {
  auto added = Call(Controls(L"File").Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{7})}).object();
  PutPictureOnClipboard();
  ASSERT_TRUE(Succeeded(Call(added.Get(), L"PasteFace", DISPATCH_METHOD)));
  const auto face = ide.controls(L"File")[6].face;
  ASSERT_TRUE(face.has_value());
  EXPECT_EQ(face->width, 16);
  EXPECT_EQ(face->height, 16);
  EXPECT_EQ(face->pixels[0], 0xFF0000u);        // top left: red
  EXPECT_EQ(face->pixels[15 * 16 + 15], 0x0000FFu);  // bottom right: blue
}

TEST_F(CommandBarControls, PasteFaceTakesADeviceIndependentBitmapToo_Clipboard) {
  auto added = Call(Controls(L"Tools").Get(), L"Add", DISPATCH_METHOD).object();
  PutDibOnClipboard();
  ASSERT_TRUE(Succeeded(Call(added.Get(), L"PasteFace", DISPATCH_METHOD)));
  const auto face = ide.controls(L"Tools")[4].face;
  ASSERT_TRUE(face.has_value());
  EXPECT_EQ(face->width, 16);
  EXPECT_EQ(face->pixels[100], 0x00FF00u);
}

TEST_F(CommandBarControls, PasteFaceWithoutPictureFails_Clipboard) {
  auto added = Call(Controls(L"Tools").Get(), L"Add", DISPATCH_METHOD).object();
  EmptyTheClipboard();
  const Outcome outcome = Call(added.Get(), L"PasteFace", DISPATCH_METHOD);
  EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(outcome.description, L"The clipboard holds no picture to paste");
  EXPECT_FALSE(ide.controls(L"Tools")[4].face.has_value());
}

// --- Click events --------------------------------------------------------------------

// A sink as a Visual Basic object with WithEvents is: it answers the event
// interface and takes Click by DISPID.
class Sink final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (answers_events && IsEqualIID(riid, DIID__dispCommandBarControlEvents))) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO* excep,
                      UINT*) override {
    ++clicks;
    last_dispid = dispid;
    last_flags = flags;
    arg_count = params->cArgs;
    if (params->cArgs == 3) {
      for (int i = 0; i < 3; ++i) types[i] = V_VT(&params->rgvarg[i]);
      control = V_DISPATCH(&params->rgvarg[2]);
      if (cancel && V_VT(&params->rgvarg[0]) == (VT_BYREF | VT_BOOL)) *V_BOOLREF(&params->rgvarg[0]) = VARIANT_TRUE;
    }
    if (fail) {
      excep->scode = E_ACCESSDENIED;
      excep->bstrDescription = SysAllocString(L"the sink gave up");
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

  bool answers_events = true;
  bool cancel = false;
  bool fail = false;
  ULONG refs = 1;
  int clicks = 0;
  DISPID last_dispid = 0;
  WORD last_flags = 0;
  UINT arg_count = 0;
  VARTYPE types[3] = {};
  com_ptr<IDispatch> control;
};

// A new sink, its one reference held by the test.
com_ptr<Sink> NewSink() {
  com_ptr<Sink> sink;
  *sink.GetAddressOf() = new Sink;
  return sink;
}

class ClickEvents : public IdeTest {
 protected:
  // The File menu's new seventh control and the event object the IDE gives for it.
  void SetUp() override {
    control = Call(Controls(L"File").Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{7})}).object();
    ASSERT_NE(control, nullptr);
    events = Get(Object(root.Get(), L"Events").Get(), L"CommandBarEvents", {control.Get()}).unknown();
    ASSERT_NE(events, nullptr);
  }
  com_ptr<IConnectionPoint> Point() {
    com_ptr<IConnectionPointContainer> container;
    EXPECT_EQ(events.As(&container), S_OK);
    com_ptr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(DIID__dispCommandBarControlEvents, point.GetAddressOf()), S_OK);
    return point;
  }

  com_ptr<IDispatch> control;
  com_ptr<IUnknown> events;
};

// As the IDE's: the property is declared as the coclass CommandBarEvents, whose
// default interface is IUnknown-based, so a late-bound caller gets VT_UNKNOWN and
// an object that answers no IDispatch.
TEST_F(ClickEvents, EventObjectComesAsIUnknownAndAnswersNoIDispatch) {
  const Outcome got = Get(Object(root.Get(), L"Events").Get(), L"CommandBarEvents", {control.Get()});
  EXPECT_EQ(V_VT(got.value.get()), VT_UNKNOWN);
  com_ptr<IDispatch> dispatch;
  EXPECT_EQ(events.As(&dispatch), E_NOINTERFACE);
  com_ptr<IUnknown> own;
  EXPECT_EQ(events->QueryInterface(IID__CommandBarControlEvents, reinterpret_cast<void**>(own.GetAddressOf())), S_OK);
  com_ptr<IConnectionPoint> point;
  EXPECT_EQ(events.As(&point), E_NOINTERFACE) << "the point is an object of its own";
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(Point()->GetConnectionPointContainer(container.GetAddressOf()), S_OK);
  EXPECT_TRUE(SameObject(container.Get(), events.Get()));
}

TEST_F(ClickEvents, ClickReachesTheAdvisedSinkAsTheIdeRaisesIt) {
  auto sink = NewSink();
  sink->cancel = true;
  auto point = Point();
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);

  const ClickResult click = ide.click(L"File", 7);
  EXPECT_EQ(click.sinks, 1);
  EXPECT_EQ(sink->clicks, 1);
  EXPECT_EQ(sink->last_dispid, 1);
  EXPECT_EQ(sink->last_flags, DISPATCH_METHOD);
  ASSERT_EQ(sink->arg_count, 3u);
  EXPECT_EQ(sink->types[2], VT_DISPATCH);
  EXPECT_EQ(sink->types[1], VT_BYREF | VT_BOOL);
  EXPECT_EQ(sink->types[0], VT_BYREF | VT_BOOL);
  EXPECT_TRUE(SameObject(sink->control.Get(), control.Get()));
  EXPECT_FALSE(click.handled);
  EXPECT_TRUE(click.cancel_default);

  ASSERT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(sink->refs, 1u);  // the test's own
  EXPECT_EQ(ide.click(L"File", 7).sinks, 0);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
}

TEST_F(ClickEvents, ConnectionPointIsFoundByEnumerationToo) {
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(events.As(&container), S_OK);
  com_ptr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.GetAddressOf()), S_OK);
  com_ptr<IConnectionPoint> point;
  ULONG fetched = 0;
  ASSERT_EQ(points->Next(1, point.GetAddressOf(), &fetched), S_OK);
  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID__dispCommandBarControlEvents));
  com_ptr<IConnectionPoint> more;
  EXPECT_EQ(points->Next(1, more.GetAddressOf(), &fetched), S_FALSE);
  com_ptr<IConnectionPoint> other;
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, other.GetAddressOf()), CONNECT_E_NOCONNECTION);
}

TEST_F(ClickEvents, SinkWithoutTheEventInterfaceIsRefused) {
  auto sink = NewSink();
  sink->answers_events = false;
  DWORD cookie = 0;
  EXPECT_EQ(Point()->Advise(sink.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(ide.click(L"File", 7).sinks, 0);
  EXPECT_EQ(sink->refs, 1u);
}

TEST_F(ClickEvents, FailingSinkIsReportedAndTheOthersStillHearTheClick) {
  auto failing = NewSink(), listening = NewSink();
  failing->fail = true;
  DWORD one = 0, two = 0;
  ASSERT_EQ(Point()->Advise(failing.Get(), &one), S_OK);
  ASSERT_EQ(Point()->Advise(listening.Get(), &two), S_OK);
  const ClickResult click = ide.click(L"File", L"Custom");
  EXPECT_EQ(click.sinks, 2);
  EXPECT_EQ(listening->clicks, 1);
  EXPECT_EQ(click.result, DISP_E_EXCEPTION);
  EXPECT_EQ(click.code, E_ACCESSDENIED);
  EXPECT_EQ(click.description, L"the sink gave up");
}

TEST_F(ClickEvents, EventsForNothingOrADeletedControlAreRefused) {
  auto ide_events = Object(root.Get(), L"Events");
  EXPECT_EQ(Get(ide_events.Get(), L"CommandBarEvents", {static_cast<IDispatch*>(nullptr)}).hr, DISP_E_EXCEPTION);
  ASSERT_TRUE(Succeeded(Call(control.Get(), L"Delete", DISPATCH_METHOD)));
  const Outcome deleted = Get(ide_events.Get(), L"CommandBarEvents", {control.Get()});
  EXPECT_EQ(deleted.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(deleted.description, L"Invalid procedure call or argument");
}

// At the IDE's exit, after its add-ins' OnDisconnection, its objects are dead:
// every call fails as on a disconnected server (an Unadvise too), a click reaches
// no sink, and what a client still held is reported.
TEST_F(ClickEvents, AfterShutDownEveryCallFailsAndWhatIsStillHeldIsReported) {
  auto sink = NewSink();
  auto point = Point();
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
  const Leftovers left = ide.shut_down();
  EXPECT_EQ(left.text(), L"still referenced: CommandBarButton (1 reference)\n"
                         L"still referenced: CommandBarEvents (2 references)\n"
                         L"still referenced: VBE (1 reference)\n"
                         L"still advised: Click of File \"Custom\" (1 sink)\n");

  EXPECT_EQ(Get(control.Get(), L"Caption").hr, RPC_E_DISCONNECTED) << "GetIDsOfNames";
  DISPPARAMS none{};
  EXPECT_EQ(root->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr), RPC_E_DISCONNECTED);
  BSTR caption = nullptr;
  EXPECT_EQ(static_cast<::CommandBarControl*>(control.Get())->get_Caption(&caption), RPC_E_DISCONNECTED);
  EXPECT_EQ(ide.click(L"File", 7).sinks, 0);
  EXPECT_EQ(point->Unadvise(cookie), RPC_E_DISCONNECTED);
  EXPECT_EQ(sink->clicks, 0);
}

}  // namespace
}  // namespace standin::test
