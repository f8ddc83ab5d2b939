// DAT_IDENTITY: the identity query, the one open of the loaded library, close.
#include "states/session.h"

#include "device/commands.h"
#include "transfer/memory.h"
#include "twain/status.h"
#include "ui/settings.h"

namespace {

using OpenClose = SourceSession;

TEST_F(OpenClose, ReadyScannerOpensWithTheManagersRecord) {
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateOpen);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(std::memcmp(&AppIdentity, &app, sizeof(TW_IDENTITY)), 0);

    TW_IDENTITY answered{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &answered), TWRC_SUCCESS);
    EXPECT_EQ(std::memcmp(&answered, &sourceIdentity, sizeof(TW_IDENTITY)), 0);
    // The channel's probe, then the status and the feeder; the channel is closed again.
    EXPECT_EQ(sim::CommandCount(sim::kOpGetStatus), 2) << sim::TranscriptText();
    EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), 1);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(OpenClose, DuplexUnitComesFromTheFeederStatus) {
    for (bool fitted : {true, false}) {
        SCOPED_TRACE(fitted ? "duplex unit fitted" : "no duplex unit");
        Reload();
        sim::AddScanner(0).duplexUnit = fitted;
        ASSERT_EQ(Open(), TWRC_SUCCESS);
        EXPECT_EQ(DuplexUnitPresent, fitted ? 1 : 0);
        EXPECT_EQ(Close(), TWRC_SUCCESS);
    }
}

TEST_F(OpenClose, AbsentScannerFailsSilentlyAndUsesUpTheOpen) {
    Reload([] { host::SetCompanion(host::Companion::Loadable); });
    TW_UINT16 before = Condition();

    EXPECT_EQ(Open(), TWRC_FAILURE);
    EXPECT_EQ(SourceState, kStateLoaded);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(Condition(), before);
    EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 0);

    // The scanner is plugged in now, but this loaded library has had its open.
    sim::AddScanner(0);
    EXPECT_EQ(Open(), TWRC_FAILURE);
    EXPECT_EQ(SourceState, kStateLoaded);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(Condition(), before);
    EXPECT_EQ(sim::Slot(0).blocksTotal, 0) << sim::TranscriptText();
}

struct DeviceProblem {
    const char* name;
    void (*arrange)(sim::Device&);
    int message;
};

const DeviceProblem kDeviceProblems[] = {
    {"status cannot be read",
     // The first status command is the channel's probe; the second is the open's own.
     [](sim::Device& d) {
         d.faults.push_back({sim::FaultKind::ShortRead, sim::kOpGetStatus, 2, 0});
     },
     IDS_SCANNER_NOT_READY},
    {"paper jam", [](sim::Device& d) { d.status = 1; }, IDS_DOCUMENT_JAM},
    {"machine error", [](sim::Device& d) { d.status = 2; }, IDS_MACHINE_ERROR},
    {"busy", [](sim::Device& d) { d.status = 3; }, IDS_SCANNER_BUSY},
    {"feeder status cannot be read",
     [](sim::Device& d) {
         d.faults.push_back({sim::FaultKind::FailWrite, sim::kOpGetAdfStatus});
     },
     IDS_MACHINE_ERROR},
};

TEST_F(OpenClose, ScannerThatCannotServeShowsItsMessageAndStaysOpen) {
    for (const DeviceProblem& problem : kDeviceProblems) {
        SCOPED_TRACE(problem.name);
        Reload([] {
            host::SetCompanion(host::Companion::Loadable);
            host::SetCompanionStringPrefix("companion: ");
        });
        problem.arrange(sim::AddScanner(0));
        TW_UINT16 before = Condition();
        int openHandlesDuringBox = -1;
        int companionRefsDuringBox = -1;
        host::OnMessageBox([&](const host::MessageBoxCall&) {
            openHandlesDuringBox = sim::OpenHandleCount();
            companionRefsDuringBox = host::LibraryReferences(host::CompanionModuleHandle());
        });

        EXPECT_EQ(Open(), TWRC_FAILURE);
        ASSERT_EQ(host::MessageBoxes().size(), 1u);
        const host::MessageBoxCall& box = host::MessageBoxes()[0];
        EXPECT_EQ(box.text, "companion: " + Text(problem.message));
        EXPECT_EQ(box.caption, Text(IDS_SECTION_NAME));
        EXPECT_EQ(box.owner, host::kApplicationWindow);
        EXPECT_EQ(box.type, MB_OK | MB_ICONHAND);
        // The channel goes before the box, the companion library after it.
        EXPECT_EQ(openHandlesDuringBox, 0);
        EXPECT_EQ(companionRefsDuringBox, 1);
        EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 0);
        EXPECT_EQ(SourceState, kStateOpen);
        EXPECT_EQ(AppIdentity.Id, app.Id);
        EXPECT_EQ(Condition(), before);
        host::OnMessageBox(nullptr);
        EXPECT_EQ(Close(), TWRC_SUCCESS);
    }
}

TEST_F(OpenClose, StatusOtherThanTheThreeProblemsIsReady) {
    sim::AddScanner(0).status = 7;
    EXPECT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(OpenClose, OpenLoadsTheSettingsFile) {
    WriteSettings("Paper Size=5\r\nScan Type=1\r\nResolution=0\r\nDuplex Scanning=1\r\n"
                  "Brightness=-3\r\n");
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(ScanSettings.PaperIndex, 5);
    EXPECT_EQ(ScanSettings.ScanType, 1);
    EXPECT_EQ(ScanSettings.ResolutionIndex, 0);
    EXPECT_EQ(ScanSettings.Duplex, 1);
    EXPECT_EQ(ScanSettings.Brightness, -3);
}

TEST_F(OpenClose, NullRecordsAreRefusedWithoutUsingUpTheOpen) {
    sim::AddScanner(0);
    EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity),
              TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(SourceState, kStateLoaded);
    EXPECT_EQ(sim::Slot(0).blocksTotal, 0);

    EXPECT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateOpen);
}

TEST_F(OpenClose, CloseTwiceSavesTwiceAndReleasesOnce) {
    Reload([] { host::SetCompanion(host::Companion::Loadable); });
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    // A strip buffer the source provided to a memory transfer.
    SourceStripBuffer.handle = PlatformGlobalAlloc(GMEM_FIXED, 64);
    SourceStripBuffer.address = PlatformGlobalLock(SourceStripBuffer.handle);
    SourceStripBuffer.StaysLocked = 1;
    SourceStripBuffer.size = 64;
    ScanSettings.Brightness = 3;

    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateLoaded);
    EXPECT_EQ(AppIdentity.Id, 0u);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(SavedSetting(IDS_KEY_BRIGHTNESS), "3");
    EXPECT_EQ(host::LiveBlockCount(), 0u);
    EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 0);

    host::RemovePath(SettingsFile());
    ScanSettings.Brightness = -2;
    EXPECT_EQ(Close(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(IDS_OP_CLOSEDS, TWCC_SEQERROR)});
    EXPECT_EQ(host::MessageBoxes()[0].caption, Text(IDS_SECTION_NAME));
    EXPECT_EQ(host::MessageBoxes()[0].type, MB_OK);
    EXPECT_EQ(SavedSetting(IDS_KEY_BRIGHTNESS), "-2");
    EXPECT_TRUE(host::Errors().empty()) << host::Errors().front();
}

TEST_F(OpenClose, CloseBeforeAnyOpenStillSavesTheSettings) {
    EXPECT_EQ(Close(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    // No resource module is chosen before the first open, so no box can be shown.
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_TRUE(host::FileExists(SettingsFile()));
}

TEST_F(OpenClose, CloseFromTransferReadyDestroysTheSettingsDialog) {
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    WindowHandle dialog = SettingsDialog();
    ASSERT_NE(dialog, nullptr);
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    ASSERT_EQ(SourceState, kStateTransferReady);

    EXPECT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(SourceState, kStateLoaded);
    EXPECT_TRUE(host::Window(dialog)->destroyed);
    EXPECT_EQ(SettingsDialog(), nullptr);
    TW_UINT16 twMessage = 0;
    EXPECT_EQ(ProcessEvent(dialog, WM_KEYDOWN, 0x09, &twMessage), TWRC_NOTDSEVENT);
}

TEST_F(OpenClose, UnsupportedIdentityMessage) {
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    TW_IDENTITY record{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &record), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(IDS_OP_IDENTITY, TWCC_BADPROTOCOL)});
    // No enable came yet, so the box has no owner.
    EXPECT_EQ(host::MessageBoxes()[0].owner, nullptr);
}

} // namespace
