// DAT_PENDINGXFERS, DAT_SETUPMEMXFER, DAT_SETUPFILEXFER and DAT_XFERGROUP as an
// application sees them.
#include <cstring>
#include <string>

#include "device/commands.h"
#include "resources/resource_ids.h"
#include "transfer/transfer_support.h"
#include "twain/states.h"
#include "twain/transfer_control.h"
#include "ui/settings_dialog.h"

namespace transfer_test {
namespace {

constexpr TW_UINT16 kGetMessages[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT};

class TransferControlTest : public TransferTest {
  protected:
    void SetUp() override {
        TransferTest::SetUp();
        OpenSource();
        SourceState = kStateTransferReady;
        SetScannerImage(*scanner, 64, 8, 64, 8);
    }
    // One page through the native transfer, as an application in state 6 asks.
    void TransferOnePage() {
        TW_UINT32 handle = 0;
        ASSERT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE) << LastBoxText();
        host::FreeApplicationBlock(host::BlockFromHandleValue(handle));
    }
    TW_UINT16 PendingCount(TW_UINT16 message, TW_UINT16* result = nullptr) {
        TW_PENDINGXFERS pending{};
        pending.Count = 0xBEEF;
        pending.Reserved = 0x12345678;
        const TW_UINT16 rc = Control(DAT_PENDINGXFERS, message, &pending);
        if (result != nullptr) {
            *result = rc;
        }
        EXPECT_EQ(Copy(pending.Reserved), 0x12345678u) << "the source never touches it";
        return pending.Count;
    }
};

// ---- DAT_PENDINGXFERS

TEST_F(TransferControlTest, PageFromTheFlatbedLeavesNothingPendingEvenWithPaperAddedSince) {
    scanner->feederSheets = 0;
    TransferOnePage();
    scanner->feederSheets = 2;
    for (TW_UINT16 message : {MSG_ENDXFER, MSG_RESET, MSG_GET}) {
        TW_UINT16 rc = 0;
        EXPECT_EQ(PendingCount(message, &rc), 0u) << message;
        EXPECT_EQ(rc, TWRC_SUCCESS);
    }
}

TEST_F(TransferControlTest, FeederJobReportsOneMorePageUntilTheLastSheet) {
    scanner->feederSheets = 2;
    TransferOnePage();
    EXPECT_EQ(PendingCount(MSG_ENDXFER), 1u) << "one sheet left";
    EXPECT_EQ(PendingCount(MSG_RESET), 1u);
    EXPECT_EQ(PendingCount(MSG_GET), 1u);
    TransferOnePage();
    EXPECT_EQ(PendingCount(MSG_ENDXFER), 0u) << "after the last sheet";
    EXPECT_EQ(SourceState, kStateTransferReady) << "ending a transfer keeps state 6";
    EXPECT_EQ(BoxCount(), 0u);
}

// The Scan button's feeder check decides until a transfer checks again.
TEST_F(TransferControlTest, FeederStateAtScanDecidesThePendingCount) {
    SourceState = kStateOpen;
    TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    ui.hParent = host::kApplicationWindow;
    ASSERT_EQ(Control(DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS) << LastBoxText();
    WindowHandle dialog = host::FindDialog(IDD_SETTINGS);
    ASSERT_NE(dialog, nullptr);
    for (int sheetsAtScan : {0, 2}) {
        SCOPED_TRACE(sheetsAtScan);
        scanner->feederSheets = sheetsAtScan;
        SourceState = kStateEnabled;
        host::PressButton(dialog, IDC_SCAN_BUTTON);
        ASSERT_EQ(SourceState, kStateTransferReady) << LastBoxText();
        scanner->feederSheets = 2; // paper put in after Scan does not count
        EXPECT_EQ(PendingCount(MSG_GET), sheetsAtScan == 0 ? 0u : 1u);
        EXPECT_EQ(PendingCount(MSG_ENDXFER), sheetsAtScan == 0 ? 0u : 1u);
    }
    SourceState = kStateEnabled;
    ASSERT_EQ(Control(DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
}

TEST_F(TransferControlTest, UnpluggedScannerShowsNotReadyAndCountsNothing) {
    scanner->feederSheets = 2;
    TransferOnePage();
    const TW_UINT16 before = Condition();
    sim::Unplug(0);
    for (TW_UINT16 message : {MSG_ENDXFER, MSG_GET}) {
        TW_UINT16 rc = 0;
        EXPECT_EQ(PendingCount(message, &rc), 0u);
        EXPECT_EQ(rc, TWRC_FAILURE);
        EXPECT_EQ(LastBoxText(), "Scanner not ready");
        EXPECT_EQ(host::MessageBoxes().back().type, MB_OK | MB_ICONHAND);
        EXPECT_EQ(Condition(), before) << "a scanner problem sets no condition";
    }
}

TEST_F(TransferControlTest, UnreadableFeederStatusShowsMachineError) {
    scanner->feederSheets = 2;
    TransferOnePage();
    scanner->faults.push_back(sim::Fault{sim::FaultKind::ShortRead, sim::kOpGetAdfStatus,
                                         sim::CommandCount(sim::kOpGetAdfStatus) + 1, 3});
    TW_UINT16 rc = 0;
    EXPECT_EQ(PendingCount(MSG_ENDXFER, &rc), 0u);
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(LastBoxText(), "Machine error");
}

TEST_F(TransferControlTest, EndOfTransferRaisesTheSettingsDialog) {
    WindowHandle dialog = PlatformCreateDialog(
        host::OwnModuleHandle(), ResourceId(IDD_SPLASH), nullptr,
        [](WindowHandle, uint32_t, WParam, LParam) -> DialogResult { return 0; });
    ASSERT_NE(dialog, nullptr);
    RememberedDialogWindow = dialog;
    EXPECT_EQ(PendingCount(MSG_ENDXFER), 0u);
    EXPECT_EQ(host::TopWindow(), dialog);
    EXPECT_EQ(host::Window(dialog)->updates, 1);
    EXPECT_EQ(PendingCount(MSG_GET), 0u);
    EXPECT_EQ(host::Window(dialog)->updates, 1) << "the query does not";
    PlatformDestroyWindow(dialog);
    // A window that no longer exists is left alone.
    EXPECT_EQ(PendingCount(MSG_RESET), 0u);
    EXPECT_TRUE(host::Errors().empty());
}

TEST_F(TransferControlTest, PendingTransfersRefusesOtherMessages) {
    const int asked = sim::CommandCount(sim::kOpGetAdfStatus);
    for (TW_UINT16 message : {MSG_GETCURRENT, MSG_GETDEFAULT, MSG_GETFIRST, MSG_GETNEXT, MSG_SET}) {
        TW_UINT16 rc = 0;
        PendingCount(message, &rc);
        EXPECT_EQ(rc, TWRC_FAILURE) << message;
        EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
        EXPECT_EQ(LastBoxText(),
                  "General failure in response to DAT_PENDINGXFER.  Bad protocol error.");
    }
    EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), asked) << "the scanner is not asked";
}

// Before any open: ending and resetting still ask the scanner; the query does not.
TEST_F(TransferTest, InStateThreeEndAndResetAskTheScannerWhileGetIsOutOfSequence) {
    ASSERT_EQ(SourceState, kStateLoaded);
    AdfFlag = 1;
    scanner->feederSheets = 1;
    for (TW_UINT16 message : {MSG_ENDXFER, MSG_RESET}) {
        const int asked = sim::CommandCount(sim::kOpGetAdfStatus);
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(Control(DAT_PENDINGXFERS, message, &pending), TWRC_SUCCESS);
        EXPECT_EQ(Copy(pending.Count), 1u);
        EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), asked + 1);
    }
    const int asked = sim::CommandCount(sim::kOpGetAdfStatus);
    TW_PENDINGXFERS pending{};
    pending.Count = 9;
    EXPECT_EQ(Control(DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Copy(pending.Count), 9u);
    EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), asked);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

// ---- DAT_SETUPMEMXFER

TEST_F(TransferControlTest, MemorySetupAnswersFixedSizesAndIgnoresSet) {
    for (TW_UINT16 message : kGetMessages) {
        TW_SETUPMEMXFER setup{1, 2, 3};
        EXPECT_EQ(Control(DAT_SETUPMEMXFER, message, &setup), TWRC_SUCCESS);
        EXPECT_EQ(Copy(setup.MinBufSize), 3648u);
        EXPECT_EQ(Copy(setup.MaxBufSize), 65535u);
        EXPECT_EQ(Copy(setup.Preferred), 65000u);
    }
    for (TW_UINT16 message : {MSG_SET, MSG_RESET}) {
        TW_SETUPMEMXFER setup{1, 2, 3};
        EXPECT_EQ(Control(DAT_SETUPMEMXFER, message, &setup), TWRC_SUCCESS);
        EXPECT_EQ(Copy(setup.MinBufSize), 1u) << "nothing written";
        EXPECT_EQ(Copy(setup.Preferred), 3u);
    }
    TW_SETUPMEMXFER setup{};
    EXPECT_EQ(Control(DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    EXPECT_EQ(Copy(setup.Preferred), 65000u) << "a set changed nothing";
}

// The state is checked before the message: in state 3 an unsupported message is
// out of sequence, in state 4 it is a bad protocol.
TEST_F(TransferControlTest, SetupRequestsCheckTheStateBeforeTheMessage) {
    const struct {
        TW_UINT16 dat;
        const char* text;
    } operations[] = {
        {DAT_SETUPMEMXFER, "General failure in response to DAT_SETUPMEMXFER, not supported.  "},
        {DAT_SETUPFILEXFER, "General failure in response to DAT_SETUPFILEXFER, not supported.  "},
        {DAT_XFERGROUP, "General failure in response to DAT_XFERGROUP, not supported.  "},
    };
    for (const auto& op : operations) {
        SCOPED_TRACE(op.dat);
        for (int32_t state : {kStateLoaded, kStateTransferring}) {
            SourceState = state;
            TW_SETUPFILEXFER data{}; // large enough for any of the three
            EXPECT_EQ(Control(op.dat, MSG_GET, &data), TWRC_FAILURE);
            EXPECT_EQ(Condition(), TWCC_SEQERROR);
            EXPECT_EQ(Control(op.dat, MSG_GETFIRST, &data), TWRC_FAILURE);
            EXPECT_EQ(Condition(), TWCC_SEQERROR);
            EXPECT_EQ(LastBoxText(),
                      std::string(op.text) + "DG DAT MSG is out of expected sequence.");
        }
        for (int32_t state : {kStateOpen, kStateEnabled, kStateTransferReady}) {
            SourceState = state;
            for (TW_UINT16 message : {MSG_GETFIRST, MSG_GETNEXT, MSG_ENDXFER}) {
                TW_SETUPFILEXFER data{};
                EXPECT_EQ(Control(op.dat, message, &data), TWRC_FAILURE);
                EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
                EXPECT_EQ(LastBoxText(), std::string(op.text) + "Bad protocol error.");
            }
            TW_SETUPFILEXFER data{};
            EXPECT_EQ(Control(op.dat, MSG_GET, &data), TWRC_SUCCESS);
        }
    }
}

// ---- DAT_SETUPFILEXFER

TEST_F(TransferControlTest, FileSetupGetAnswersTheDefaultNameAndStoresIt) {
    for (TW_UINT16 message : kGetMessages) {
        TW_SETUPFILEXFER setup;
        std::memset(&setup, 'q', sizeof(setup));
        EXPECT_EQ(Control(DAT_SETUPFILEXFER, message, &setup), TWRC_SUCCESS);
        EXPECT_STREQ(setup.FileName, "TWAIN.TMP");
        EXPECT_EQ(Copy(setup.Format), TWFF_BMP);
        EXPECT_EQ(Copy(setup.VRefNum), static_cast<TW_INT16>(0x7171)) << "never touched";
        EXPECT_STREQ(FileTransferSetup.name, "TWAIN.TMP");
        EXPECT_EQ(FileTransferSetup.format, TWFF_BMP);
    }
}

TEST_F(TransferControlTest, FileSetupSetAndResetStoreTheNameTheyCarry) {
    for (TW_UINT16 message : {MSG_SET, MSG_RESET}) {
        TW_SETUPFILEXFER setup{};
        std::strcpy(setup.FileName, message == MSG_SET ? "D:\\Scans\\a.bmp" : "b.bmp");
        setup.Format = TWFF_BMP;
        EXPECT_EQ(Control(DAT_SETUPFILEXFER, message, &setup), TWRC_SUCCESS);
        EXPECT_STREQ(FileTransferSetup.name, setup.FileName);
        EXPECT_EQ(Copy(setup.Format), TWFF_BMP);
    }
}

TEST_F(TransferControlTest, FileSetupStoresAtMost255CharactersAndAlwaysTerminates) {
    TW_SETUPFILEXFER setup;
    std::memset(&setup, 'n', sizeof(setup)); // FileName without a terminating NUL
    setup.Format = TWFF_BMP;
    EXPECT_EQ(Control(DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
    EXPECT_EQ(std::string(FileTransferSetup.name), std::string(255, 'n'));
}

// The choice for other formats: refused, nothing stored, no box.
TEST_F(TransferControlTest, FileSetupWithAnotherFormatIsRefusedAndStoresNothing) {
    TW_SETUPFILEXFER setup{};
    ASSERT_EQ(Control(DAT_SETUPFILEXFER, MSG_GET, &setup), TWRC_SUCCESS);
    const size_t boxes = BoxCount();
    for (TW_UINT16 message : {MSG_SET, MSG_RESET}) {
        std::strcpy(setup.FileName, "C:\\cwd\\page.tif");
        setup.Format = TWFF_TIFF;
        EXPECT_EQ(Control(DAT_SETUPFILEXFER, message, &setup), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_BUMMER);
        EXPECT_EQ(Copy(setup.Format), TWFF_TIFF);
        EXPECT_STREQ(FileTransferSetup.name, "TWAIN.TMP");
        EXPECT_EQ(FileTransferSetup.format, TWFF_BMP);
    }
    EXPECT_EQ(BoxCount(), boxes);
}

TEST_F(TransferControlTest, FileSetupOutOfStateChangesNeitherTheRequestNorTheStore) {
    SourceState = kStateLoaded;
    TW_SETUPFILEXFER setup{};
    std::strcpy(setup.FileName, "C:\\cwd\\x.bmp");
    setup.Format = 77;
    for (TW_UINT16 message : {MSG_GET, MSG_SET}) {
        EXPECT_EQ(Control(DAT_SETUPFILEXFER, message, &setup), TWRC_FAILURE);
        EXPECT_STREQ(setup.FileName, "C:\\cwd\\x.bmp");
        EXPECT_EQ(Copy(setup.Format), 77);
        EXPECT_STREQ(FileTransferSetup.name, "");
        EXPECT_EQ(FileTransferSetup.format, 0);
    }
}

TEST_F(TransferControlTest, FileSetupUnsupportedMessageStillAnswersBmp) {
    TW_SETUPFILEXFER setup{};
    setup.Format = TWFF_TIFF;
    EXPECT_EQ(Control(DAT_SETUPFILEXFER, MSG_GETFIRST, &setup), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Copy(setup.Format), TWFF_BMP);
    EXPECT_EQ(FileTransferSetup.format, TWFF_BMP);
}

// ---- DAT_XFERGROUP

TEST_F(TransferControlTest, TransferGroupIsAlwaysImage) {
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
        TW_UINT32 group = 0xFFFFFFFF;
        EXPECT_EQ(Control(DAT_XFERGROUP, message, &group), TWRC_SUCCESS);
        EXPECT_EQ(group, 2u);
    }
    TW_UINT32 group = DG_CONTROL;
    EXPECT_EQ(Control(DAT_XFERGROUP, MSG_SET, &group), TWRC_SUCCESS);
    EXPECT_EQ(group, DG_CONTROL) << "nothing written";
    group = 0;
    EXPECT_EQ(Control(DAT_XFERGROUP, MSG_GET, &group), TWRC_SUCCESS);
    EXPECT_EQ(group, DG_IMAGE);
}

TEST_F(TransferControlTest, NullDataIsRefusedWithBadValue) {
    for (TW_UINT16 dat : {DAT_PENDINGXFERS, DAT_SETUPMEMXFER, DAT_SETUPFILEXFER, DAT_XFERGROUP}) {
        EXPECT_EQ(Control(dat, MSG_GET, nullptr), TWRC_FAILURE) << dat;
        EXPECT_EQ(Condition(), TWCC_BADVALUE);
    }
    EXPECT_EQ(Control(DAT_PENDINGXFERS, MSG_ENDXFER, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
}

} // namespace
} // namespace transfer_test
