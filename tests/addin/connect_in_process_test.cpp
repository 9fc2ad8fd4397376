// Connect made in the test program itself, where the dialogs seam can be
// scripted: the connection failure box's exact flags.
#include <gtest/gtest.h>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "texts/modAddin.h"
#include "common/app.h"
#include "standin/ide.h"
#include "addin/addin_dll.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

namespace quarnel {
namespace {

TEST(ConnectInProcess, ConnectionFailureIsOneBoxWithOkOnlyNoIconAndTheForegroundFlag) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    standin::Ide ide;
    ide.remove_bar(L"File");
    test::ScriptedDialogs dialogs;
    const ScopedDialogs in_force(dialogs);
    com_ptr<_IDTExtensibility2> addin;
    ASSERT_EQ(Connect::Create(IID__IDTExtensibility2, &addin), S_OK);
    SAFEARRAY* custom = nullptr;
    EXPECT_EQ(addin->OnConnection(ide.application().Get(), ext_cm_Startup, nullptr, &custom), S_OK)
        << "no failure goes back to the host";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, L"Invalid procedure call or argument");
    EXPECT_EQ(dialogs.messages[0].title, L"Quarnel");
    EXPECT_EQ(dialogs.messages[0].flags, 0x10000u);
    EXPECT_EQ(dialogs.messages[0].owner, nullptr);
    EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
    EXPECT_EQ(dialogs.messages.size(), 1u) << "disconnection says nothing";
  }
  EXPECT_EQ(standin::LiveObjects(), 0);
  test::RemoveTree(AppPath() + L"\\Quarnel.ini");
  CoUninitialize();
}

// Each connection makes a new settings store, even on the same Connect.
TEST(ConnectInProcess, ConnectingAgainMakesANewSettingsStore) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    standin::Ide ide;
    test::ScriptedDialogs dialogs;
    const ScopedDialogs in_force(dialogs);
    com_ptr<_IDTExtensibility2> addin;
    ASSERT_EQ(Connect::Create(IID__IDTExtensibility2, &addin), S_OK);
    SAFEARRAY* custom = nullptr;
    ASSERT_EQ(addin->OnConnection(ide.application().Get(), ext_cm_Startup, nullptr, &custom), S_OK);
    const CIniManag* first = oIni.get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
    EXPECT_EQ(oIni.get(), first) << "disconnection keeps it";
    ASSERT_EQ(addin->OnConnection(ide.application().Get(), ext_cm_AfterStartup, nullptr, &custom), S_OK);
    EXPECT_NE(oIni.get(), first);
    EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
  }
  EXPECT_EQ(standin::LiveObjects(), 0);
  test::RemoveTree(AppPath() + L"\\Quarnel.ini");
  CoUninitialize();
}

}  // namespace
}  // namespace quarnel

namespace quarnel {
namespace {

// The connection makes sure the settings file can be made, but reads the
// Default folder only when the form's Browse needs it: what the file holds
// when the form is first shown is where Browse starts.
TEST(ConnectInProcess, DefaultFolderIsReadWhenTheFormIsShownNotAtConnection) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const std::wstring settings = AppPath() + L"\\Quarnel.ini";
  {
    standin::Ide ide;
    test::ScriptedDialogs dialogs;
    const ScopedDialogs in_force(dialogs);
    test::WriteBytes(settings, "[FOLDER]\r\nDefaultFolder=C:\\At\\Connection\r\n");
    sDefaultFolder = L"C:\\Before";
    com_ptr<_IDTExtensibility2> addin;
    ASSERT_EQ(Connect::Create(IID__IDTExtensibility2, &addin), S_OK);
    SAFEARRAY* custom = nullptr;
    ASSERT_EQ(addin->OnConnection(ide.application().Get(), ext_cm_Startup, nullptr, &custom), S_OK);
    EXPECT_EQ(sDefaultFolder, L"C:\\Before") << "the connection reads no folder";
    EXPECT_TRUE(dialogs.messages.empty());

    test::WriteBytes(settings, "[FOLDER]\r\nDefaultFolder=C:\\When\\Shown\r\n");
    com_ptr<_Connect> connect;
    ASSERT_EQ(addin.As(&connect), S_OK);
    ASSERT_EQ(connect->Show(), S_OK);
    EXPECT_EQ(sDefaultFolder, L"C:\\When\\Shown");
    // A folder picked with Browse stays the form's while it is hidden and shown again.
    dialogs.answers = {L"C:\\Picked"};
    HWND form = test::FormWindow();  // this process's: other programs have forms too
    ASSERT_NE(form, nullptr);
    SendMessageW(form, WM_COMMAND, MAKEWPARAM(frmAddIn::kBrowse, BN_CLICKED), 0);
    ASSERT_EQ(dialogs.pickers.size(), 1u);
    EXPECT_EQ(dialogs.pickers[0].initial_folder, L"C:\\When\\Shown");
    ASSERT_EQ(connect->Hide(), S_OK);
    ASSERT_EQ(connect->Show(), S_OK);
    EXPECT_EQ(sDefaultFolder, L"C:\\Picked");
    EXPECT_EQ(addin->OnDisconnection(ext_dm_UserClosed, &custom), S_OK);
  }
  EXPECT_EQ(standin::LiveObjects(), 0);
  test::RemoveTree(settings);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quarnel\\Settings",
                     L"DisplayOnConnect");
  sDefaultFolder.clear();
  CoUninitialize();
}

}  // namespace
}  // namespace quarnel
