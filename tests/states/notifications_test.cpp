// What reaches the Source Manager: MSG_XFERREADY and MSG_CLOSEDSREQ, each
// through a fresh load of TWAIN_32.DLL.
#include "states/session.h"

namespace {

class Notifications : public SourceSession {
  protected:
    void SetUp() override {
        SourceSession::SetUp();
        sim::AddScanner(0);
        ASSERT_EQ(Open(), TWRC_SUCCESS);
        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        dialog = SettingsDialog();
        ASSERT_NE(dialog, nullptr);
    }
    // The library calls one notification made, in order.
    static std::vector<std::string> LibraryTrail() {
        std::vector<std::string> trail;
        for (const host::LibraryCall& call : host::LibraryCalls()) {
            if (call.name == "TWAIN_32.DLL" || call.name == "DSM_Entry" ||
                call.module == host::SourceManagerModuleHandle()) {
                trail.push_back(call.operation + " " + call.name);
            }
        }
        return trail;
    }
    WindowHandle dialog = nullptr;
};

TEST_F(Notifications, EachNotificationLoadsAndReleasesTheSourceManager) {
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    host::PressButton(dialog, IDC_CLOSE_BUTTON);
    EXPECT_EQ(DsmMessages(), (std::vector<TW_UINT16>{MSG_XFERREADY, MSG_CLOSEDSREQ}));
    std::vector<std::string> trail = LibraryTrail();
    ASSERT_EQ(trail.size(), 6u) << ::testing::PrintToString(trail);
    for (size_t i = 0; i < trail.size(); i += 3) {
        EXPECT_EQ(trail[i], "LoadLibrary TWAIN_32.DLL");
        EXPECT_EQ(trail[i + 1], "GetProcAddress DSM_Entry");
        EXPECT_EQ(trail[i + 2].rfind("FreeLibrary", 0), 0u) << trail[i + 2];
    }
    EXPECT_EQ(host::LibraryReferences(host::SourceManagerModuleHandle()), 0);
    for (const host::DsmCall& call : host::DsmCalls()) {
        EXPECT_EQ(std::memcmp(&call.origin, &sourceIdentity, sizeof(TW_IDENTITY)), 0);
        EXPECT_EQ(std::memcmp(&call.destination, &app, sizeof(TW_IDENTITY)), 0);
        EXPECT_EQ(call.dataGroup, DG_CONTROL);
        EXPECT_EQ(call.dataArgumentType, DAT_NULL);
        EXPECT_EQ(call.data, nullptr);
    }
}

TEST_F(Notifications, ClosingTheDialogAsksTheApplicationAndChangesNothing) {
    EXPECT_EQ(host::CloseDialog(dialog), 1);
    EXPECT_EQ(host::PressButton(dialog, IDC_CLOSE_BUTTON), 1);
    EXPECT_EQ(DsmMessages(), (std::vector<TW_UINT16>{MSG_CLOSEDSREQ, MSG_CLOSEDSREQ}));
    EXPECT_EQ(SourceState, kStateEnabled);
    EXPECT_FALSE(host::Window(dialog)->destroyed);
    EXPECT_TRUE(host::Window(dialog)->visible);
}

TEST_F(Notifications, WithoutASourceManagerScanStillMakesTheTransferReady) {
    for (host::SourceManager scenario :
         {host::SourceManager::Absent, host::SourceManager::EntryMissing}) {
        SCOPED_TRACE(scenario == host::SourceManager::Absent ? "no TWAIN_32.DLL" : "no DSM_Entry");
        Reload([scenario] {
            sim::AddScanner(0);
            host::SetSourceManager(scenario);
        });
        ASSERT_EQ(Open(), TWRC_SUCCESS);
        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        dialog = SettingsDialog();
        host::PressButton(dialog, IDC_SCAN_BUTTON);
        EXPECT_EQ(SourceState, kStateTransferReady);
        host::PressButton(dialog, IDC_CLOSE_BUTTON);
        EXPECT_TRUE(host::DsmCalls().empty());
        EXPECT_EQ(host::LibraryReferences(host::SourceManagerModuleHandle()), 0);
        EXPECT_TRUE(host::MessageBoxes().empty());
    }
}

} // namespace
