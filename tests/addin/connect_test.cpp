// Quarnel.dll as the IDE uses it: the class factory, the connection lifecycle
// through the IDE's connection interface, the menu commands and their pictures,
// the failure message box, the per-user setting, and what the DLL lets go.
#include <gtest/gtest.h>

#include <thread>

#include "addin/addin_dll.h"
#include "ide/host.h"

namespace quarnel::test {
namespace {

constexpr long kAfterStartup = 0, kStartup = 1, kExternal = 2, kCommandLine = 3;

class ConnectDll : public AddinTest {};

// --- The DLL and its class factory -------------------------------------------------

TEST_F(ConnectDll, FactoryMakesConnectsAndTheModuleCountsObjectsAndLocks) {
  com_ptr<IClassFactory> factory;
  const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(dll->GetClassObject(other, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
  ASSERT_EQ(dll->GetClassObject(CLSID_Connect, IID_IClassFactory, &factory), S_OK);

  com_ptr<IUnknown> aggregated;
  EXPECT_EQ(factory->CreateInstance(addin.Get(), IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
  // Each request makes a new instance; all its interfaces share one identity.
  com_ptr<IUnknown> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &second), S_OK);
  com_ptr<IUnknown> first_identity;
  addin.As(&first_identity);
  EXPECT_NE(first_identity.Get(), second.Get());
  com_ptr<_Connect> connect = AsConnect(second.Get());
  com_ptr<IDispatch> dispatch;
  com_ptr<_IDTExtensibility2> extensibility;
  ASSERT_EQ(second.As(&dispatch), S_OK);
  ASSERT_EQ(connect.As(&extensibility), S_OK);
  com_ptr<IUnknown> identity;
  extensibility.As(&identity);
  EXPECT_EQ(identity.Get(), second.Get());
  EXPECT_EQ(static_cast<IUnknown*>(dispatch.Get()), static_cast<IUnknown*>(connect.Get()));

  EXPECT_EQ(dll->CanUnloadNow(), S_FALSE) << "Connects and a factory alive";
  connect.Reset(); dispatch.Reset(); extensibility.Reset(); identity.Reset(); second.Reset();
  first_identity.Reset(); addin.Reset();
  EXPECT_EQ(dll->CanUnloadNow(), S_FALSE) << "the factory is held";
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_EQ(dll->CanUnloadNow(), S_FALSE) << "locked";
  ASSERT_EQ(dll->GetClassObject(CLSID_Connect, IID_IClassFactory, &factory), S_OK);
  factory->LockServer(FALSE);
  factory.Reset();
  EXPECT_EQ(dll->CanUnloadNow(), S_OK);
}

// --- Connection in menu modes --------------------------------------------------------

// At the IDE's start-up no project is open yet; a File menu the user made
// shorter than six controls gets the command at its end. Disconnected as the IDE
// exits, the add-in holds nothing of the IDE.
TEST_F(ConnectDll, EveryModeButExternalInstallsTheSeventhFileCommandWithTheFormsPicture) {
  const struct {
    long mode;
    size_t file_controls;  // before the command
    size_t position;       // of the command
    bool before_only_a_control = false;  // a Before past the last control refused
  } rows[] = {{kAfterStartup, 13, 7}, {kStartup, 13, 7}, {kCommandLine, 13, 7}, {7L, 13, 7},
              {kStartup, 6, 7},       {kStartup, 6, 7, true}, {kStartup, 4, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "mode " << row.mode << ", " << row.file_controls << " File controls"
                                    << (row.before_only_a_control ? ", Before names a control" : ""));
    ide = std::make_unique<standin::Ide>();
    if (row.file_controls == 4) ide->set(standin::Variant::kShortFileMenu);
    ide->set(standin::Variant::kBeforeOnlyAControl, row.before_only_a_control);
    if (row.file_controls == 6) ide->add_bar(L"File", {L"1", L"2", L"3", L"4", L"5", L"6"});
    addin = dll->Create();
    ASSERT_NE(addin, nullptr);
    Connect(addin.Get(), row.mode);

    const auto file = ide->controls(L"File");
    ASSERT_EQ(file.size(), row.file_controls + 1);
    const auto& command = file[row.position - 1];
    EXPECT_EQ(command.caption, L"Quarnel...");
    EXPECT_EQ(command.type, 1) << "a button";
    ASSERT_TRUE(command.face.has_value());
    EXPECT_EQ(command.face->width, 16);
    EXPECT_TRUE(IsFloppyPicture(command.face->pixels));
    const auto kept = ClipboardPicture();
    ASSERT_TRUE(kept.has_value()) << "the clipboard keeps the picture";
    EXPECT_EQ(*kept, command.face->pixels);
    // Before the seventh control as a 16-bit number first; a short menu refuses
    // it and gets the command at its end. The controls are never counted.
    EXPECT_NE(ide->transcript().find(L"CommandBarControls.Add [method|get](Before:=7%)"), std::wstring::npos);
    EXPECT_EQ(ide->count(L"CommandBarControls.Add"), row.position == 7 && !row.before_only_a_control ? 1u : 2u);
    EXPECT_EQ(ide->count(L"CommandBarControls.Count"), 0u);
    EXPECT_EQ(FormWindow(), nullptr) << "installing leaves no form window";

    com_ptr<_Connect> connect = AsConnect(addin.Get());
    com_ptr<_CommandBarControlEvents> handler;
    EXPECT_EQ(connect->get_MenuHandler(&handler), S_OK);
    EXPECT_NE(handler, nullptr);
    VARIANT_BOOL displayed = VARIANT_TRUE;
    connect->get_FormDisplayed(&displayed);
    EXPECT_EQ(displayed, VARIANT_FALSE);
    EXPECT_EQ(dll->CanUnloadNow(), S_FALSE) << "a Connect is alive";
    handler.Reset();
    connect.Reset();

    ExitTheIde();
    EXPECT_EQ(ide->controls(L"File").size(), row.file_controls) << "the command is deleted";
    EXPECT_EQ(DisplayOnConnect(), L"0");
    ide.reset();
    EXPECT_EQ(standin::LiveObjects(), 0);
    EXPECT_EQ(dll->CanUnloadNow(), S_OK);
  }
}

// The DLL keeps each thread's exception state itself: an exception thrown and
// caught inside it (the refused place on a short menu) works on threads that
// come and go after the DLL was loaded, and each frees its state as it ends.
TEST_F(ConnectDll, ExceptionsInsideTheDllWorkOnEveryThread) {
  addin.Reset();
  ide.reset();
  for (int thread = 0; thread < 3; ++thread) {
    std::thread([&] {
      ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
      ide = std::make_unique<standin::Ide>();
      ide->set(standin::Variant::kShortFileMenu);
      addin = dll->Create();
      Connect(addin.Get(), kStartup);
      EXPECT_EQ(ide->controls(L"File").back().caption, L"Quarnel...") << "thread " << thread;
      ExitTheIde();
      ide.reset();
      CoUninitialize();
    }).join();
  }
}

TEST_F(ConnectDll, ConnectionThroughIDispatchAnswersByName) {
  com_ptr<IDispatch> dispatch;
  // The IDE's late-bound path goes through the connection interface's own IDispatch.
  ASSERT_EQ(addin.As(&dispatch), S_OK);
  IDispatch* through = addin.Get();
  const wchar_t* names[] = {L"OnConnection", L"OnDisconnection", L"OnStartupComplete"};
  DISPID ids[3] = {};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(through->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(&names[i]), 1, 0, &ids[i]), S_OK);
  }
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 4);

  SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  VARIANT args[4];
  for (auto& a : args) VariantInit(&a);
  // Reverse order: custom, AddInInst, ConnectMode, Application.
  args[0].vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
  args[0].pparray = &custom;
  args[1].vt = VT_DISPATCH;
  args[1].pdispVal = nullptr;
  args[2].vt = VT_I4;
  args[2].lVal = kStartup;
  args[3].vt = VT_DISPATCH;
  com_ptr<IDispatch> application = ide->application();
  args[3].pdispVal = application.Get();
  DISPPARAMS params{args, nullptr, 4, 0};
  ASSERT_EQ(through->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(ide->controls(L"File").at(6).caption, L"Quarnel...");

  DISPPARAMS none{args, nullptr, 1, 0};
  EXPECT_EQ(through->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);

  // _Connect's own IDispatch is driven by the type library.
  com_ptr<_Connect> connect = AsConnect(addin.Get());
  LPOLESTR name = const_cast<LPOLESTR>(L"FormDisplayed");
  DISPID id = 0;
  ASSERT_EQ(connect->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  VARIANT value;
  VariantInit(&value);
  DISPPARAMS empty{};
  ASSERT_EQ(connect->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &empty, &value, nullptr, nullptr), S_OK);
  EXPECT_EQ(value.vt, VT_BOOL);
  EXPECT_EQ(value.boolVal, VARIANT_FALSE);

  // A property typed by the IDE's library: the reference travels as an object.
  name = const_cast<LPOLESTR>(L"VBInstance");
  ASSERT_EQ(connect->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
  ASSERT_EQ(connect->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &empty, &value, nullptr, nullptr), S_OK);
  EXPECT_EQ(value.vt, VT_DISPATCH);
  EXPECT_NE(value.pdispVal, nullptr);
  VariantClear(&value);

  args[1].vt = VT_I4;
  args[1].lVal = 1;  // UserClosed
  DISPPARAMS disconnect{args, nullptr, 2, 0};
  ASSERT_EQ(through->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &disconnect, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(ide->controls(L"File").size(), 13u);
  SafeArrayDestroy(custom);
  ASSERT_EQ(connect->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &empty, &value, nullptr, nullptr), S_OK);
  EXPECT_EQ(value.pdispVal, nullptr) << "the IDE is let go at disconnection";
  VariantClear(&value);
}

// --- External mode, Show, Hide and the per-user setting -------------------------------

TEST_F(ConnectDll, ExternalModeShowsTheFormWithoutCommandAndDisconnectionWritesOne) {
  Connect(addin.Get(), kExternal);
  EXPECT_EQ(ide->controls(L"File").size(), 13u);
  EXPECT_EQ(ide->count(L"Events.CommandBarEvents"), 0u);
  HWND form = FormWindow();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(IsWindowVisible(form));
  EXPECT_EQ(GetWindow(form, GW_OWNER), nullptr);
  com_ptr<_Connect> connect = AsConnect(addin.Get());
  VARIANT_BOOL displayed = VARIANT_FALSE;
  connect->get_FormDisplayed(&displayed);
  EXPECT_EQ(displayed, VARIANT_TRUE);
  com_ptr<_CommandBarControlEvents> handler;
  connect->get_MenuHandler(&handler);
  EXPECT_EQ(handler, nullptr);

  Disconnect(addin.Get());  // no command to delete: no message either
  EXPECT_EQ(DisplayOnConnect(), L"1");
  connect->get_FormDisplayed(&displayed);
  EXPECT_EQ(displayed, VARIANT_FALSE);
  EXPECT_EQ(FormWindow(), nullptr) << "the form is unloaded";
}

TEST_F(ConnectDll, HideThenDisconnectWritesZeroAndCancelHidesThroughConnect) {
  Connect(addin.Get(), kExternal);
  com_ptr<_Connect> connect = AsConnect(addin.Get());
  // The form's Cancel reaches Connect.Hide.
  HWND form = FormWindow();
  ASSERT_NE(form, nullptr);
  SendMessageW(GetDlgItem(form, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowVisible(form));
  VARIANT_BOOL displayed = VARIANT_TRUE;
  connect->get_FormDisplayed(&displayed);
  EXPECT_EQ(displayed, VARIANT_FALSE);

  EXPECT_EQ(connect->Show(), S_OK);
  EXPECT_TRUE(IsWindowVisible(FormWindow()));
  EXPECT_EQ(connect->Hide(), S_OK);
  Disconnect(addin.Get());
  EXPECT_EQ(DisplayOnConnect(), L"0");

  // A Connect released while its form is shown takes the form with it.
  EXPECT_EQ(connect->Show(), S_OK);
  EXPECT_NE(FormWindow(), nullptr);
  EXPECT_EQ(dll->CanUnloadNow(), S_FALSE);
  connect.Reset();
  addin.Reset();
  EXPECT_EQ(FormWindow(), nullptr);
  EXPECT_EQ(dll->CanUnloadNow(), S_OK);
}

// --- The failure path -------------------------------------------------------------

TEST_F(ConnectDll, NoFileBarGivesNoCommandAndTheEventRequestsFailureIsShown) {
  ide->remove_bar(L"File");
  PutClipboardText(L"the user's own text");
  ExpectDialogs({ExpectMessageBox()
                     .Text(L"Invalid procedure call or argument")
                     .Title(L"Quarnel")
                     .Icon(0)
                     .Press(IDOK)});
  Connect(addin.Get(), kStartup);
  EXPECT_TRUE(driver->Finish());
  ASSERT_EQ(driver->seen().size(), 1u);
  EXPECT_EQ(driver->seen()[0].buttons, std::vector<std::wstring>{L"OK"});
  EXPECT_EQ(ide->count(L"CommandBarControls.Add"), 0u);
  EXPECT_EQ(ide->count(L"Events.CommandBarEvents"), 1u) << "asked with Nothing";
  EXPECT_NE(ide->transcript().find(L"Events.CommandBarEvents [method|get](Nothing)"), std::wstring::npos)
      << ide->transcript().c_str();

  com_ptr<_Connect> connect = AsConnect(addin.Get());
  com_ptr<::CommandBarControl> control;
  BSTR caption = SysAllocString(L"Quarnel...");
  EXPECT_EQ(connect->AddToFileCommandBar(&caption, &control), S_OK);
  SysFreeString(caption);
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(ClipboardText(), L"the user's own text") << "the clipboard is not touched";
  Disconnect(addin.Get());
  driver = std::make_unique<DialogDriver>(std::vector<DialogStep>{});
}

TEST_F(ConnectDll, SettingsFileThatCannotBeCreatedShowsItsFailureAndInstallsNothing) {
  ASSERT_TRUE(CreateDirectoryW(SettingsPath().c_str(), nullptr));
  ExpectDialogs({ExpectMessageBox().Text(L"Path/File access error").Title(L"Quarnel").Icon(0).Press(IDOK)});
  Connect(addin.Get(), kStartup);
  EXPECT_TRUE(driver->Finish());
  EXPECT_EQ(ide->controls(L"File").size(), 13u);
  EXPECT_EQ(ide->calls().size(), 0u) << "the IDE is not even asked";
  com_ptr<_Connect> connect = AsConnect(addin.Get());
  com_ptr<::VBE> vbe;
  connect->get_VBInstance(&vbe);
  EXPECT_EQ(vbe, nullptr);
  Disconnect(addin.Get());
  EXPECT_EQ(DisplayOnConnect(), L"0");
  driver = std::make_unique<DialogDriver>(std::vector<DialogStep>{});
}

// --- Connecting again --------------------------------------------------------------

TEST_F(ConnectDll, ConnectingAgainMakesANewSettingsStoreAndANewCommand) {
  Connect(addin.Get(), kStartup);
  EXPECT_TRUE(FileExists(SettingsPath())) << "made empty when missing";
  Disconnect(addin.Get());
  ASSERT_TRUE(DeleteFileW(SettingsPath().c_str()));

  Connect(addin.Get(), kAfterStartup);
  EXPECT_TRUE(FileExists(SettingsPath())) << "the new store made it again";
  const auto file = ide->controls(L"File");
  ASSERT_EQ(file.size(), 14u);
  EXPECT_EQ(file[6].caption, L"Quarnel...");
  EXPECT_EQ(ide->count(L"CommandBarControls.Add"), 2u);
  // The first connection's sink was unadvised when the second took its place.
  EXPECT_EQ(ide->count(L"CommandBarEvents.Advise"), 2u);
  EXPECT_EQ(ide->count(L"CommandBarEvents.Unadvise"), 1u);
}

// --- The options command --------------------------------------------------------------

TEST_F(ConnectDll, OptionsCommandGoesAtTheEndOfToolsAndItsClickShowsTheForm) {
  Connect(addin.Get(), kStartup);
  com_ptr<_Connect> connect = AsConnect(addin.Get());
  const size_t tools = ide->controls(L"Tools").size();
  com_ptr<::CommandBarControl> control;
  BSTR caption = SysAllocString(L"Anything");
  ASSERT_EQ(connect->AddToAddInCommandBar(&caption, &control), S_OK);
  EXPECT_STREQ(caption, L"Anything") << "the argument is left as it came";
  SysFreeString(caption);
  ASSERT_NE(control, nullptr);
  const auto after = ide->controls(L"Tools");
  ASSERT_EQ(after.size(), tools + 1);
  EXPECT_EQ(after.back().caption, L"Quarnel options...");
  ASSERT_TRUE(after.back().face.has_value());
  EXPECT_TRUE(IsFloppyPicture(after.back().face->pixels));

  // A late-bound client wires its click to MenuHandlerAddin, with the event
  // object as the IDE hands it out (VT_UNKNOWN): a click shows the form.
  const host::VBE vbe = host::VBE::FromApplication(ide->application().Get());
  const unique_variant control_arg = host::ObjectArg(control.Get());
  unique_variant events = vbe.Events().Get(L"CommandBarEvents", {control_arg.get(), 1});
  ASSERT_EQ(events->vt, VT_UNKNOWN);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"MenuHandlerAddin");
  ASSERT_EQ(connect->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{events.get(), &put, 1, 1};
  ASSERT_EQ(connect->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUTREF, &params, nullptr,
                            nullptr, nullptr),
            S_OK);
  const auto click = ide->click(L"Tools", static_cast<int>(tools + 1));
  EXPECT_EQ(click.sinks, 1);
  EXPECT_EQ(click.result, S_OK);
  EXPECT_FALSE(click.handled);
  EXPECT_FALSE(click.cancel_default);
  const auto set = ide->click(L"Tools", static_cast<int>(tools + 1), true, true);
  EXPECT_TRUE(set.handled && set.cancel_default) << "the flags come back as they came";
  EXPECT_TRUE(FormWindow() && IsWindowVisible(FormWindow()));
  VARIANT_BOOL displayed = VARIANT_FALSE;
  connect->get_FormDisplayed(&displayed);
  EXPECT_EQ(displayed, VARIANT_TRUE);

  // Assigning Nothing unadvises the sink.
  ASSERT_EQ(connect->putref_MenuHandlerAddin(nullptr), S_OK);
  EXPECT_EQ(ide->click(L"Tools", static_cast<int>(tools + 1)).sinks, 0);
  Disconnect(addin.Get());
  EXPECT_EQ(DisplayOnConnect(), L"1");
}

// --- Lifetimes --------------------------------------------------------------------

TEST_F(ConnectDll, ReleasedWithoutDisconnectionItsSinkIsUnadvisedAndNothingIsKept) {
  Connect(addin.Get(), kStartup);
  EXPECT_EQ(dll->CanUnloadNow(), S_FALSE);
  addin.Reset();  // the advised sink does not keep the Connect alive
  EXPECT_EQ(dll->CanUnloadNow(), S_OK);
  const auto click = ide->click(L"File", 7);
  EXPECT_EQ(click.sinks, 0);
  EXPECT_EQ(ide->count(L"CommandBarEvents.Unadvise"), 1u) << Utf8(ide->transcript());
}

}  // namespace
}  // namespace quarnel::test
