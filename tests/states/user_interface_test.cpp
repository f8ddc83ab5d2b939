// DAT_USERINTERFACE: enable with and without the user interface, disable, and
// the owner of operation-failure boxes.
#include "states/session.h"

#include <map>

#include "twain/startup.h"
#include "twain/user_interface.h"
#include "ui/settings_dialog.h"

namespace {

class UserInterface : public SourceSession {
  protected:
    void SetUp() override {
        SourceSession::SetUp();
        sim::AddScanner(0);
        ASSERT_EQ(Open(), TWRC_SUCCESS);
    }
};

TEST_F(UserInterface, EnableShowsTheSplashForOneSecondThenTheSettingsDialog) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateEnabled);
    EXPECT_EQ(host::SleepCalls(), std::vector<uint32_t>{1000});

    std::vector<host::WindowInfo> dialogs;
    for (const host::WindowInfo& window : host::Windows()) {
        if (window.isDialog) {
            dialogs.push_back(window);
        }
    }
    ASSERT_EQ(dialogs.size(), 2u);
    const host::WindowInfo& splash = dialogs[0];
    EXPECT_EQ(splash.templateId, IDD_SPLASH);
    EXPECT_EQ(splash.parent, nullptr);
    EXPECT_TRUE(splash.destroyed);
    EXPECT_GE(splash.updates, 1);

    WindowHandle dialog = SettingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialogs[1].handle, dialog);
    EXPECT_EQ(dialogs[1].parent, nullptr);
    EXPECT_FALSE(dialogs[1].modal);
    EXPECT_TRUE(dialogs[1].visible);
    EXPECT_GE(dialogs[1].updates, 1) << "painted before the enable returns";
    EXPECT_EQ(SettingsDialogWindow, dialog);
    EXPECT_EQ(RememberedDialogWindow, dialog);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(UserInterface, SplashShowsTheVersionAndTheProductLine) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    // The splash is gone when the enable returns; its windows keep what they showed.
    WindowHandle splash = nullptr;
    std::map<int, std::string> texts;
    for (const host::WindowInfo& window : host::Windows()) {
        if (window.isDialog && window.templateId == IDD_SPLASH) {
            splash = window.handle;
            EXPECT_GE(window.updates, 1);
        } else if (splash != nullptr && window.parent == splash) {
            texts[window.id] = window.text;
        }
    }
    ASSERT_NE(splash, nullptr);
    EXPECT_EQ(texts[IDC_VERSION_TEXT], Text(IDS_VERSION_SHORT));
    EXPECT_EQ(texts[IDC_PRODUCT_TEXT], Text(IDS_PRODUCT_TEXT));
}

TEST_F(UserInterface, EnableWithoutTheUserInterfaceDeclaresATransferAtOnce) {
    int stateSeenByManager = 0;
    host::OnDsmCall([&](const host::DsmCall&) {
        stateSeenByManager = SourceState;
        return TWRC_SUCCESS;
    });
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateTransferReady);
    EXPECT_EQ(stateSeenByManager, kStateTransferReady);
    ASSERT_EQ(host::DsmCalls().size(), 1u);
    const host::DsmCall& call = host::DsmCalls()[0];
    EXPECT_EQ(call.message, MSG_XFERREADY);
    EXPECT_EQ(call.dataGroup, DG_CONTROL);
    EXPECT_EQ(call.dataArgumentType, DAT_NULL);
    EXPECT_EQ(call.data, nullptr);
    EXPECT_EQ(std::memcmp(&call.origin, &sourceIdentity, sizeof(TW_IDENTITY)), 0);
    ASSERT_TRUE(call.hasDestination);
    EXPECT_EQ(std::memcmp(&call.destination, &app, sizeof(TW_IDENTITY)), 0);
    // The Source Manager is let go again at once.
    EXPECT_EQ(host::LibraryReferences(host::SourceManagerModuleHandle()), 0);

    EXPECT_TRUE(host::SleepCalls().empty());
    EXPECT_EQ(SettingsDialogWindow, nullptr);
    for (const host::WindowInfo& window : host::Windows()) {
        EXPECT_FALSE(window.isDialog) << window.templateId;
    }
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(ProcessEvent(host::kApplicationWindow, WM_KEYDOWN, 0x09, &twMessage),
              TWRC_NOTDSEVENT);
    EXPECT_EQ(twMessage, 0x7777);
}

TEST_F(UserInterface, EnableDisplaysNothingOfTheCompanionMarker) {
    Reload([] {
        host::SetCompanion(host::Companion::Loadable);
        host::SetCompanionMarker("marker");
        host::SetCompanionStringPrefix("companion: ");
    });
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WindowHandle dialog = SettingsDialog();
    // The settings dialog's template and lists come from the companion library.
    EXPECT_EQ(host::Window(dialog)->module, host::CompanionModuleHandle());
    EXPECT_EQ(host::ComboItems(dialog, IDC_SCANTYPE_LIST)[0], "companion: " + Text(105));
    for (const host::WindowInfo& window : host::Windows()) {
        EXPECT_EQ(window.text.find("marker"), std::string::npos) << window.id;
    }
}

TEST_F(UserInterface, SettingsDialogThatCannotBeMadeIsLowMemory) {
    Reload([] {
        host::SetCompanion(host::Companion::Loadable);
        host::SetCompanionTemplates(false);
    });
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    WindowHandle parent = reinterpret_cast<WindowHandle>(0x0A000040u);
    EXPECT_EQ(Enable(true, parent), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_LOWMEMORY);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(IDS_OP_ENABLEDS, TWCC_LOWMEMORY)});
    EXPECT_EQ(host::MessageBoxes()[0].owner, parent) << "the enable's window";
    EXPECT_EQ(SourceState, kStateOpen);
    EXPECT_EQ(SettingsDialogWindow, nullptr);
    // Without a splash the source still waits its second.
    EXPECT_EQ(host::SleepCalls(), std::vector<uint32_t>{1000});
}

TEST_F(UserInterface, EnableOnlyFromState4) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_EQ(Enable(true, reinterpret_cast<WindowHandle>(0x0A000020u)), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(IDS_OP_ENABLEDS, TWCC_SEQERROR)});
    // A refused enable does not take the application's new window as the owner.
    EXPECT_EQ(host::MessageBoxes()[0].owner, host::kApplicationWindow);
    EXPECT_EQ(SourceState, kStateEnabled);
}

TEST_F(UserInterface, FailureBoxesBelongToTheLastEnablesWindow) {
    TW_IDENTITY record{};
    WindowHandle parent = reinterpret_cast<WindowHandle>(0x0A000030u);
    ASSERT_EQ(Enable(false, parent), TWRC_SUCCESS);
    ASSERT_EQ(Disable(), TWRC_SUCCESS);
    // Disable keeps the owner.
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &record), TWRC_FAILURE);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes()[0].owner, parent);
}

TEST_F(UserInterface, EnableOnlyTheUserInterfaceIsNotSupported) {
    TW_USERINTERFACE ui{1, 0, host::kApplicationWindow};
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &ui), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{FailureText(IDS_OP_USERINTERFACE, TWCC_BADPROTOCOL)});
    EXPECT_EQ(SourceState, kStateOpen);
}

TEST_F(UserInterface, EnableWithoutARecordIsABadValue) {
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_TRUE(BoxTexts().empty()); // the application's mistake, not the user's
    EXPECT_EQ(SourceState, kStateOpen);
}

TEST_F(UserInterface, DisableDestroysTheDialog) {
    for (bool showUI : {true, false}) {
        SCOPED_TRACE(showUI ? "ShowUI TRUE" : "ShowUI FALSE");
        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        WindowHandle dialog = SettingsDialog();
        ASSERT_EQ(Disable(showUI), TWRC_SUCCESS);
        EXPECT_EQ(SourceState, kStateOpen);
        EXPECT_TRUE(host::Window(dialog)->destroyed);
        EXPECT_EQ(SettingsDialogWindow, nullptr);
        // The remembered window outlives the dialog.
        EXPECT_EQ(RememberedDialogWindow, dialog);
    }
}

TEST_F(UserInterface, DisableWithoutARecordStillTakesTheDialogDown) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WindowHandle dialog = SettingsDialog();
    EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr), TWRC_SUCCESS);
    EXPECT_TRUE(host::Window(dialog)->destroyed);
    EXPECT_EQ(SourceState, kStateOpen);
}

TEST_F(UserInterface, WindowMessagesGoToTheSettingsDialog) {
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WindowHandle dialog = SettingsDialog();
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(
        ProcessEvent(host::Control(dialog, IDC_BRIGHTNESS_EDIT), WM_KEYDOWN, 0x09, &twMessage),
        TWRC_DSEVENT);
    EXPECT_EQ(twMessage, MSG_NULL);
    EXPECT_EQ(ProcessEvent(host::kApplicationWindow, WM_KEYDOWN, 0x09, &twMessage),
              TWRC_NOTDSEVENT);
    EXPECT_EQ(twMessage, 0x7777);
    ASSERT_EQ(Disable(), TWRC_SUCCESS);
    EXPECT_EQ(ProcessEvent(dialog, WM_KEYDOWN, 0x09, &twMessage), TWRC_NOTDSEVENT);
    EXPECT_EQ(twMessage, 0x7777);
}

} // namespace
