// What tests of the add-in rely on: the record of calls, failures injected into
// chosen calls, and the counts that show leaked references.
#include <gtest/gtest.h>

#include "VB6EXT.h"
#include "fixture.h"

namespace standin::test {
namespace {

using CallRecord = IdeTest;

TEST_F(CallRecord, NamesAndInvokesAreRecordedInOrderWithTheirArguments) {
  auto controls = Controls(L"File");
  ide.clear_calls();
  ASSERT_TRUE(Succeeded(Call(controls.Get(), L"Add", DISPATCH_METHOD, {Named(L"Before", short{7})})));
  const auto& calls = ide.calls();
  ASSERT_EQ(calls.size(), 2u) << Narrow(ide.transcript());
  EXPECT_EQ(calls[0].kind, Call::Kind::kGetIDsOfNames);
  EXPECT_EQ(calls[0].member, L"Add");
  EXPECT_EQ(calls[0].args, L"Before");
  EXPECT_EQ(calls[0].dispid, 0x60030000);
  EXPECT_EQ(calls[1].kind, Call::Kind::kInvoke);
  EXPECT_EQ(calls[1].operation(), L"CommandBarControls.Add");
  EXPECT_EQ(calls[1].flags, DISPATCH_METHOD);
  EXPECT_EQ(calls[1].args, L"Before:=7%");
  EXPECT_EQ(calls[1].result, S_OK);
  EXPECT_EQ(ide.count(L"CommandBarControls.Add"), 1u);
}

TEST_F(CallRecord, InheritedMembersCountUnderTheirDeclaringInterface) {
  auto control = Object(Controls(L"File").Get(), L"Item", {1});
  ide.clear_calls();
  Put(control.Get(), L"Caption", L"x");
  Call(control.Get(), L"PasteFace", DISPATCH_METHOD);
  Get(root.Get(), L"NoSuchThing");
  EXPECT_EQ(ide.count(L"CommandBarControl.Caption"), 1u);
  EXPECT_EQ(ide.count(L"CommandBarButton.PasteFace"), 1u);
  EXPECT_EQ(ide.calls()[1].args, L"\"x\"");
  EXPECT_EQ(ide.calls()[1].flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(ide.calls().back().kind, Call::Kind::kGetIDsOfNames);
  EXPECT_EQ(ide.calls().back().result, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ide.calls().back().operation(), L"VBE.NoSuchThing");
}

using InjectedFailure = IdeTest;

TEST_F(InjectedFailure, NamedOperationFailsWithTheGivenDescription) {
  ide.fail({.description = L"No menus today", .operation = L"CommandBars.Item", .code = E_ACCESSDENIED});
  auto bars = Object(root.Get(), L"CommandBars");
  const Outcome failed = Get(bars.Get(), L"Item", {L"File"});
  EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(failed.scode, E_ACCESSDENIED);
  EXPECT_EQ(failed.description, L"No menus today");
  EXPECT_EQ(ide.calls().back().result, DISP_E_EXCEPTION);
  // Once only, unless asked for every call.
  EXPECT_TRUE(Succeeded(Get(bars.Get(), L"Item", {L"File"})));
}

TEST_F(InjectedFailure, NthMatchingCallOrEveryCallFails) {
  ide.project(L"Project1").form(L"Form1").module(L"Module1").build();
  auto components = Object(ActiveProject().Get(), L"VBComponents");
  ide.fail({.description = L"second", .operation = L"_VBComponent.Name", .call = 2});
  EXPECT_TRUE(Succeeded(Get(Object(components.Get(), L"Item", {1}).Get(), L"Name")));
  EXPECT_EQ(Get(Object(components.Get(), L"Item", {2}).Get(), L"Name").description, L"second");
  EXPECT_TRUE(Succeeded(Get(Object(components.Get(), L"Item", {2}).Get(), L"Name")));

  ide.fail({.description = L"always", .operation = L"_vbcomponents.count", .call = 0});
  EXPECT_EQ(Get(components.Get(), L"Count").description, L"always");
  EXPECT_EQ(Get(components.Get(), L"Count").description, L"always");
  ide.clear_failures();
  EXPECT_TRUE(Succeeded(Get(components.Get(), L"Count")));
}

TEST_F(InjectedFailure, NthInvokeFailsWhateverItCalls) {
  ide.fail({.description = L"third call", .call = 3});
  EXPECT_TRUE(Succeeded(Get(root.Get(), L"Name")));
  EXPECT_TRUE(Succeeded(Get(root.Get(), L"Version")));
  const Outcome third = Get(root.Get(), L"FullName");
  EXPECT_EQ(third.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(third.description, L"third call");
  EXPECT_TRUE(Succeeded(Get(root.Get(), L"FullName")));
}

TEST_F(InjectedFailure, VtableCallerGetsTheCodeAndErrorInfo) {
  com_ptr<VBE> vbe;
  ASSERT_EQ(root.As(&vbe), S_OK);
  ide.fail({.description = L"no name", .operation = L"VBE.FullName", .code = E_ACCESSDENIED});
  BSTR name = nullptr;
  EXPECT_EQ(vbe->get_FullName(&name), E_ACCESSDENIED);
  EXPECT_EQ(name, nullptr);
  com_ptr<ISupportErrorInfo> supports;
  ASSERT_EQ(vbe.As(&supports), S_OK);
  EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_VBE), S_OK);
  com_ptr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.GetAddressOf()), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_STREQ(description, L"no name");
  SysFreeString(description);
  EXPECT_EQ(ide.calls().back().kind, Call::Kind::kVtable);
  EXPECT_EQ(ide.calls().back().operation(), L"VBE.FullName");
}

// Not the shared fixture: these outlive their Ide.
class Lifetime : public ::testing::Test {
 protected:
  Apartment apartment_;
  long live_before_ = LiveObjects();
  long references_before_ = OutstandingReferences();
};

TEST_F(Lifetime, EverythingGoesWhenTheClientLetsGo) {
  {
    Ide ide;
    ide.project(L"Project1").form(L"Form1").build();
    auto root = ide.application();
    auto control = Object(Object(Object(Object(root.Get(), L"CommandBars").Get(), L"Item", {L"File"}).Get(),
                                 L"Controls").Get(),
                          L"Add", {Named(L"Before", short{7})});
    auto events = Get(Object(root.Get(), L"Events").Get(), L"CommandBarEvents", {control.Get()}).unknown();
    EXPECT_NE(events, nullptr);
    auto project = Object(root.Get(), L"ActiveVBProject");
    EXPECT_GT(LiveObjects(), live_before_);
    EXPECT_GT(OutstandingReferences(), references_before_);
  }
  EXPECT_EQ(LiveObjects(), live_before_);
  EXPECT_EQ(OutstandingReferences(), references_before_);
}

TEST_F(Lifetime, LeakedReferenceShowsAndFailsCleanlyAfterTheIde) {
  com_ptr<IDispatch> kept_control, kept_project;
  {
    Ide ide;
    ide.project(L"Project1").form(L"Form1").build();
    auto root = ide.application();
    kept_control = Object(Object(Object(root.Get(), L"CommandBars").Get(), L"Item", {L"Tools"}).Get(), L"Controls");
    kept_project = Object(root.Get(), L"ActiveVBProject");
  }
  EXPECT_EQ(LiveObjects(), live_before_ + 2);
  const Outcome late = Get(kept_control.Get(), L"Count");
  EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(late.scode, RPC_E_DISCONNECTED);
  EXPECT_EQ(Call(kept_project.Get(), L"SaveAs", DISPATCH_METHOD, {L"C:\\x.vbp"}).hr, DISP_E_EXCEPTION);
  kept_control.Reset();
  kept_project.Reset();
  EXPECT_EQ(LiveObjects(), live_before_);
}

}  // namespace
}  // namespace standin::test
