// DAT_STATUS and the two message boxes: the operation-failure box and the
// device message box.
#include <string>

#include "resources/resource_ids.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "twain/startup.h"
#include "twain/status.h"

namespace {

constexpr TW_UINT16 kPattern = 0xA5A5;
constexpr const char* kCaption = "Velmora Oskaro Tq3480 PCL";
constexpr const char* kStatusText = "General failure in response to DAT_STATUS.  ";
constexpr const char* kCloseText = "General failure in response to MSG_CLOSEDS.  ";

class StatusTest : public SourceTest {
  protected:
    TW_UINT16 GetStatus(TW_STATUS* status) { return Call(DG_CONTROL, DAT_STATUS, MSG_GET, status); }
};

// ---- DAT_STATUS

TEST_F(StatusTest, BeforeAnyRequestReportsSuccess) {
    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(GetStatus(&status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_SUCCESS);
    EXPECT_EQ(status.Reserved, 0);
}

TEST_F(StatusTest, ReportsTheLastFailureAgainAndAgain) {
    ASSERT_EQ(Call(DG_CONTROL, DAT_PARENT, MSG_GET, nullptr), TWRC_FAILURE);
    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(GetStatus(&status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADPROTOCOL);
    status = TW_STATUS{kPattern, kPattern};
    EXPECT_EQ(GetStatus(&status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADPROTOCOL);

    // A successful request other than a capability request keeps it.
    TW_IDENTITY identity{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
    EXPECT_EQ(GetStatus(&status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADPROTOCOL);
}

class StatusMessageTest : public StatusTest, public ::testing::WithParamInterface<TW_UINT16> {};

TEST_P(StatusMessageTest, OtherMessagesFailWithBadProtocolAndTheBox) {
    ChooseResourceModule();
    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, GetParam(), &status), TWRC_FAILURE);
    EXPECT_EQ(status.ConditionCode, kPattern);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    const host::MessageBoxCall& box = host::MessageBoxes().front();
    EXPECT_EQ(box.text, std::string(kStatusText) + "Bad protocol error.");
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_EQ(box.owner, nullptr) << "no enable yet";

    EXPECT_EQ(GetStatus(&status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADPROTOCOL);
    ReleaseResourceModule();
}

INSTANTIATE_TEST_SUITE_P(Messages, StatusMessageTest,
                         ::testing::Values(MSG_SET, MSG_NULL, MSG_GETCURRENT, MSG_RESET,
                                           MSG_PROCESSEVENT + 1));

TEST_F(StatusTest, WithoutAStatusRecordFailsWithBadValueAndNoBox) {
    ChooseResourceModule();
    EXPECT_EQ(GetStatus(nullptr), TWRC_FAILURE);
    EXPECT_EQ(ConditionCode, TWCC_BADVALUE);
    EXPECT_TRUE(host::MessageBoxes().empty());
    ReleaseResourceModule();
}

TEST_F(StatusTest, BeforeAnyOpenFailuresShowNoBox) {
    TW_STATUS status{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_SET, &status), TWRC_FAILURE);
    EXPECT_EQ(ConditionCode, TWCC_BADPROTOCOL);
    ShowOperationFailure(IDS_OP_CLOSEDS, TWCC_SEQERROR);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

// ---- The operation-failure box

struct ConditionCase {
    TW_UINT16 code;
    const char* conditionText; // "" for the operation text alone
};

class ConditionTextTest : public StatusTest, public ::testing::WithParamInterface<ConditionCase> {};

TEST_P(ConditionTextTest, FollowsTheOperationText) {
    const ConditionCase& c = GetParam();
    ChooseResourceModule();
    ShowOperationFailure(IDS_OP_CLOSEDS, c.code);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes().front().text, std::string(kCloseText) + c.conditionText)
        << "code " << c.code;
    EXPECT_EQ(host::MessageBoxes().front().caption, kCaption);
    EXPECT_EQ(host::MessageBoxes().front().type, MB_OK);
    ReleaseResourceModule();
}

constexpr const char* kUnknown = "Unknown Error value in condition code.";

INSTANTIATE_TEST_SUITE_P(
    Codes, ConditionTextTest,
    ::testing::Values(
        ConditionCase{TWCC_SUCCESS, ""}, ConditionCase{TWCC_BUMMER, "Unknow error."},
        ConditionCase{TWCC_LOWMEMORY,
                      "Low Memory Condition encountered, free up some memory and try again."},
        ConditionCase{TWCC_NODS, kUnknown},
        ConditionCase{TWCC_MAXCONNECTIONS, "Source is connected to max possible apps."},
        ConditionCase{TWCC_OPERATIONERROR, "An operation error just occurred."},
        ConditionCase{TWCC_BADCAP, "Bad capabilities error."},
        ConditionCase{TWCC_DISKACCESS, "Disk access (or write) error."}, ConditionCase{8, kUnknown},
        ConditionCase{TWCC_BADPROTOCOL, "Bad protocol error."},
        ConditionCase{TWCC_BADVALUE, "Bad value error."},
        ConditionCase{TWCC_SEQERROR, "DG DAT MSG is out of expected sequence."},
        ConditionCase{12, kUnknown}, ConditionCase{13, kUnknown}, ConditionCase{0xFFFF, kUnknown}));

TEST_F(StatusTest, OwnerIsTheParentOfTheLastAcceptedEnable) {
    sim::Reset();
    sim::AddScanner(0);
    ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
    TW_STATUS status{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_SET, &status), TWRC_FAILURE);

    WindowHandle parent = reinterpret_cast<WindowHandle>(0x0A000020u);
    TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    ui.hParent = parent;
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_SET, &status), TWRC_FAILURE);
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_SET, &status), TWRC_FAILURE);
    ASSERT_EQ(CloseSource(), TWRC_SUCCESS);

    std::vector<WindowHandle> owners;
    for (const host::MessageBoxCall& box : host::MessageBoxes()) {
        if (box.text.rfind(kStatusText, 0) == 0) {
            owners.push_back(box.owner);
        }
    }
    EXPECT_EQ(owners, (std::vector<WindowHandle>{nullptr, parent, parent}))
        << "none before the first enable, kept after disable";
    sim::Reset();
}

TEST_F(StatusTest, OwnerIsTheStoredParentWindow) {
    ChooseResourceModule();
    FailureBoxOwner = host::kApplicationWindow;
    ShowOperationFailure(IDS_OP_STATUS, TWCC_BADPROTOCOL);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes().front().owner, host::kApplicationWindow);
    ReleaseResourceModule();
}

TEST_F(StatusTest, TextsComeFromTheCompanionCaptionFromTheOwnModule) {
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionStringPrefix("[Z] ");
    host::SetCompanionString(IDS_SECTION_NAME, "Companion caption");
    ChooseResourceModule();
    ShowOperationFailure(IDS_OP_CLOSEDS, TWCC_SEQERROR);
    ShowDeviceMessage(host::kApplicationWindow, IDS_SCANNER_BUSY);
    ReleaseResourceModule();

    ASSERT_EQ(host::MessageBoxes().size(), 2u);
    EXPECT_EQ(host::MessageBoxes()[0].text,
              std::string("[Z] ") + kCloseText + "[Z] DG DAT MSG is out of expected sequence.");
    EXPECT_EQ(host::MessageBoxes()[0].caption, kCaption);
    EXPECT_EQ(host::MessageBoxes()[1].text, "[Z] Scanner Busy");
    EXPECT_EQ(host::MessageBoxes()[1].caption, kCaption);
}

TEST_F(StatusTest, AMissingTextShowsNoBox) {
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionString(IDS_OP_CAPABILITY, nullptr);
    host::SetCompanionString(IDS_CONDITION_BASE + TWCC_BADVALUE, nullptr);
    ChooseResourceModule();
    ShowOperationFailure(IDS_OP_CAPABILITY, TWCC_BADCAP); // operation text missing
    ShowOperationFailure(IDS_OP_STATUS, TWCC_BADVALUE);   // condition text missing
    ShowOperationFailure(IDS_OP_STATUS, TWCC_SUCCESS);    // no condition text needed
    ReleaseResourceModule();
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes().front().text, kStatusText);
}

// The assembled text stays inside the 180-byte buffer: 179 characters and the NUL.
class FailureBufferTest : public StatusTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(FailureBufferTest, ConditionTextIsCutToTheRoomLeft) {
    size_t length = GetParam();
    std::string operation(length - 2, 'o');
    operation += "  ";
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionString(IDS_OP_STATUS, operation.c_str());
    ChooseResourceModule();
    ShowOperationFailure(IDS_OP_STATUS, TWCC_BADPROTOCOL);
    ReleaseResourceModule();

    std::string condition = "Bad protocol error.";
    std::string expected = (operation + condition).substr(0, 179);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes().front().text, expected);
}

// 160 + 19 fits exactly; then the condition text is cut; at 179 and beyond
// the operation text fills the buffer and is shown alone.
INSTANTIATE_TEST_SUITE_P(OperationLengths, FailureBufferTest,
                         ::testing::Values(size_t{160}, size_t{161}, size_t{170}, size_t{178},
                                           size_t{179}, size_t{250}));

// ---- The device message box

TEST_F(StatusTest, DeviceMessageHasTheStopIconAndTheGivenOwner) {
    ChooseResourceModule();
    WindowHandle owner = reinterpret_cast<WindowHandle>(0x0A000030u);
    ShowDeviceMessage(owner, IDS_DOCUMENT_JAM);
    ReleaseResourceModule();
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    const host::MessageBoxCall& box = host::MessageBoxes().front();
    EXPECT_EQ(box.text, "Document JAM on machine");
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.type, MB_OK | MB_ICONHAND);
    EXPECT_EQ(box.owner, owner);
}

TEST_F(StatusTest, DeviceMessageFallsBackToTheErrorCode) {
    // No resource module before any open: the text is not found.
    ShowDeviceMessage(host::kApplicationWindow, IDS_SCANNER_NOT_READY);
    // A companion library that lacks the string.
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionString(IDS_DUPLEX_NO_PAPER, nullptr);
    ChooseResourceModule();
    ShowDeviceMessage(host::kApplicationWindow, IDS_DUPLEX_NO_PAPER);
    ReleaseResourceModule();

    ASSERT_EQ(host::MessageBoxes().size(), 2u);
    EXPECT_EQ(host::MessageBoxes()[0].text, "Error Code = 121");
    EXPECT_EQ(host::MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
    EXPECT_EQ(host::MessageBoxes()[0].caption, kCaption);
    EXPECT_EQ(host::MessageBoxes()[1].text, "Error Code = 218");
}

TEST_F(StatusTest, DeviceMessageTakes127Characters) {
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionString(IDS_MACHINE_ERROR, std::string(200, 'm').c_str());
    ChooseResourceModule();
    ShowDeviceMessage(host::kApplicationWindow, IDS_MACHINE_ERROR);
    ReleaseResourceModule();
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes().front().text, std::string(127, 'm'));
}

} // namespace
