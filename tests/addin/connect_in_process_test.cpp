// Connect made in the test program itself, where the dialogs seam can be
// scripted: the connection failure box's exact flags.
#include <gtest/gtest.h>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "common/app.h"
#include "standin/ide.h"
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

}  // namespace
}  // namespace quarnel
