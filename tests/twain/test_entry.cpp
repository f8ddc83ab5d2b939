// DS_Entry: the origin screen, event routing and the two dispatch tables.
#include <cstring>
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "capabilities/image_layout.h"
#include "device/image_info.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "transfer/file.h"
#include "transfer/memory.h"
#include "transfer/native.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "twain/status.h"
#include "twain/transfer_control.h"
#include "twain/user_interface.h"

namespace {

constexpr TW_UINT16 kPattern = 0xA5A5;

class EntryTest : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        sim::Reset();
    }
    void TearDown() override {
        SourceTest::TearDown();
        sim::Reset();
    }

    // An application has the source open (Id 1), with a ready scanner.
    void Connect() {
        sim::AddScanner(0);
        ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
        ASSERT_EQ(TW_UINT32{AppIdentity.Id}, 1u);
    }

    TW_UINT16 EnableWithDialog() {
        TW_USERINTERFACE ui{};
        ui.ShowUI = 1;
        ui.hParent = host::kApplicationWindow;
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }

    TW_UINT16 Status(TW_IDENTITY* origin, TW_STATUS* status) {
        return DS_Entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, status);
    }
};

// ---- Origin screen

TEST_F(EntryTest, WithoutApplicationEveryOriginIsServed) {
    TW_IDENTITY stranger = MakeIdentity(7, "Another Application");
    TW_IDENTITY uninitialised;
    std::memset(&uninitialised, 0xCC, sizeof uninitialised);
    for (TW_IDENTITY* origin :
         {&app, &stranger, &uninitialised, static_cast<TW_IDENTITY*>(nullptr)}) {
        TW_STATUS status{kPattern, kPattern};
        EXPECT_EQ(Status(origin, &status), TWRC_SUCCESS);
        EXPECT_EQ(status.ConditionCode, TWCC_SUCCESS);
    }
}

TEST_F(EntryTest, OnceOpenAnotherApplicationIsTurnedAwayWithoutEffect) {
    Connect();
    ConditionCode = TWCC_SEQERROR;
    TW_IDENTITY stranger = MakeIdentity(7, "Another Application");

    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(Status(&stranger, &status), TWRC_NOTDSEVENT);
    EXPECT_EQ(status.ConditionCode, kPattern);
    // A request that would fail sets nothing either.
    EXPECT_EQ(DS_Entry(&stranger, DG_CONTROL, DAT_PARENT, MSG_GET, nullptr), TWRC_NOTDSEVENT);
    EXPECT_EQ(DS_Entry(&stranger, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_NOTDSEVENT);
    EXPECT_EQ(ConditionCode, TWCC_SEQERROR);
    EXPECT_EQ(SourceState, kStateOpen);

    // The connected application itself is still served.
    EXPECT_EQ(Status(&app, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

TEST_F(EntryTest, OnceOpenANullOriginMayOnlyAskForTheIdentity) {
    Connect();
    TW_IDENTITY identity;
    std::memset(&identity, 0, sizeof identity);
    EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
    EXPECT_EQ(TW_UINT32{identity.Id}, 2u) << "the record the Source Manager passed at open";
    EXPECT_STREQ(identity.ProductName, "Velmora Oskaro Tq3480 PCL");

    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(Status(nullptr, &status), TWRC_NOTDSEVENT);
    EXPECT_EQ(status.ConditionCode, kPattern);
    EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity),
              TWRC_NOTDSEVENT);
    EXPECT_EQ(SourceState, kStateOpen);
    TW_EVENT event{nullptr, kPattern};
    EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

TEST_F(EntryTest, AfterCloseEveryOriginPassesAgain) {
    Connect();
    ASSERT_EQ(CloseSource(), TWRC_SUCCESS);
    TW_IDENTITY stranger = MakeIdentity(7, "Another Application");
    TW_STATUS status{};
    EXPECT_EQ(Status(&stranger, &status), TWRC_SUCCESS);
    EXPECT_EQ(Status(nullptr, &status), TWRC_SUCCESS);
}

// ---- Event routing

struct EventCase {
    const char* name;
    TW_UINT32 dataGroup;
    TW_UINT16 dataArgumentType;
};

const EventCase kEventCases[] = {
    {"ControlEvent", DG_CONTROL, DAT_EVENT},
    {"ControlCapability", DG_CONTROL, DAT_CAPABILITY},
    {"ImageInfo", DG_IMAGE, DAT_IMAGEINFO},
    {"GroupFour", 4, DAT_EVENT},
};

class EventWithoutDialogTest : public EntryTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventWithoutDialogTest, IsNotASourceEvent) {
    const EventCase& c = GetParam();
    PlatformMsg message{host::kApplicationWindow, WM_KEYDOWN, 0x41, 0, 0, 0, 0};
    TW_EVENT event{&message, kPattern};
    ConditionCode = TWCC_BADVALUE;

    // Before any open, then open but not enabled, then enabled without a dialog.
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    Connect();
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    TW_USERINTERFACE ui{};
    ui.ShowUI = 0;
    ui.hParent = host::kApplicationWindow;
    Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    ASSERT_EQ(SettingsDialogWindow, nullptr);
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);

    EXPECT_EQ(event.TWMessage, kPattern);
    EXPECT_EQ(ConditionCode, TWCC_BADVALUE);
    Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(AnyTriplet, EventWithoutDialogTest, ::testing::ValuesIn(kEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

class EventWithDialogTest : public EntryTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventWithDialogTest, DialogMessagesAreConsumedOthersPassedOn) {
    const EventCase& c = GetParam();
    Connect();
    ASSERT_EQ(EnableWithDialog(), TWRC_SUCCESS);
    ASSERT_NE(SettingsDialogWindow, nullptr);

    // A key press for the dialog (Tab moves the focus inside it).
    PlatformMsg key{SettingsDialogWindow, WM_KEYDOWN, 0x09, 0, 0, 0, 0};
    TW_EVENT event{&key, kPattern};
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_NULL);

    // A message for the application's own window.
    PlatformMsg other{host::kApplicationWindow, WM_KEYDOWN, 0x09, 0, 0, 0, 0};
    event = TW_EVENT{&other, kPattern};
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, kPattern);

    // No event record, or one without a message: nothing to offer.
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, nullptr), TWRC_NOTDSEVENT);
    event = TW_EVENT{nullptr, kPattern};
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, kPattern);

    // After disable the dialog is gone.
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    event = TW_EVENT{&key, kPattern};
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(event.TWMessage, kPattern);
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(AnyTriplet, EventWithDialogTest, ::testing::ValuesIn(kEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Dispatch tables

std::vector<DispatchEntry> Entries(const DispatchEntry* table) {
    std::vector<DispatchEntry> entries;
    for (; table->operation != nullptr; ++table) {
        entries.push_back(*table);
    }
    return entries;
}

struct Expected {
    TW_UINT16 dataArgumentType;
    Operation operation;
};

TEST(DispatchTableTest, ControlTableHoldsItsEightTypesInOrder) {
    const Expected expected[] = {
        {DAT_IDENTITY, IdentityOperation},
        {DAT_USERINTERFACE, UserInterfaceOperation},
        {DAT_CAPABILITY, CapabilityOperation},
        {DAT_STATUS, StatusOperation},
        {DAT_PENDINGXFERS, PendingTransfersOperation},
        {DAT_SETUPMEMXFER, SetupMemoryTransferOperation},
        {DAT_SETUPFILEXFER, SetupFileTransferOperation},
        {DAT_XFERGROUP, TransferGroupOperation},
    };
    std::vector<DispatchEntry> entries = Entries(ControlTable);
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].dataArgumentType, expected[i].dataArgumentType) << "entry " << i;
        EXPECT_EQ(entries[i].operation, expected[i].operation) << "entry " << i;
    }
}

TEST(DispatchTableTest, ImageTableHoldsItsFiveTypesInOrder) {
    const Expected expected[] = {
        {DAT_IMAGEINFO, ImageInfoOperation},         {DAT_IMAGELAYOUT, ImageLayoutOperation},
        {DAT_IMAGEMEMXFER, MemoryTransferOperation}, {DAT_IMAGENATIVEXFER, NativeTransferOperation},
        {DAT_IMAGEFILEXFER, FileTransferOperation},
    };
    std::vector<DispatchEntry> entries = Entries(ImageTable);
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].dataArgumentType, expected[i].dataArgumentType) << "entry " << i;
        EXPECT_EQ(entries[i].operation, expected[i].operation) << "entry " << i;
    }
}

TEST_F(EntryTest, TheWalkReachesTheOperationOfTheType) {
    ConditionCode = TWCC_BADCAP;
    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADCAP);
    EXPECT_EQ(status.Reserved, 0);
    TW_IDENTITY identity{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.Version.Info, "Version 1.00 Sep. 4, 2007");
}

// Types outside a group's table fail with TWCC_BADPROTOCOL and no box, even
// when a resource module would serve the box's texts.
struct AbsentCase {
    const char* name;
    TW_UINT32 dataGroup;
    TW_UINT16 dataArgumentType;
    TW_UINT16 message;
};

class AbsentTypeTest : public EntryTest, public ::testing::WithParamInterface<AbsentCase> {};

TEST_P(AbsentTypeTest, FailsWithBadProtocolAndNoBox) {
    const AbsentCase& c = GetParam();
    ChooseResourceModule();
    TW_UINT8 data[64] = {};
    EXPECT_EQ(Call(c.dataGroup, c.dataArgumentType, c.message, data), TWRC_FAILURE);
    EXPECT_EQ(ConditionCode, TWCC_BADPROTOCOL);
    EXPECT_TRUE(host::MessageBoxes().empty());
    TW_STATUS status{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_BADPROTOCOL);
    ReleaseResourceModule();
}

INSTANTIATE_TEST_SUITE_P(
    Types, AbsentTypeTest,
    ::testing::Values(AbsentCase{"Parent", DG_CONTROL, DAT_PARENT, MSG_OPENDSM},
                      AbsentCase{"Palette8", DG_IMAGE, DAT_PALETTE8, MSG_GET},
                      AbsentCase{"Null", DG_CONTROL, DAT_NULL, MSG_XFERREADY},
                      AbsentCase{"EventWithoutProcessEvent", DG_CONTROL, DAT_EVENT, MSG_GET},
                      AbsentCase{"ImageTypeInControlGroup", DG_CONTROL, DAT_IMAGEINFO, MSG_GET},
                      AbsentCase{"ControlTypeInImageGroup", DG_IMAGE, DAT_STATUS, MSG_GET},
                      AbsentCase{"Custom", DG_CONTROL, 0x8001, MSG_GET}),
    [](const auto& info) { return std::string(info.param.name); });

class UnsupportedGroupTest : public EntryTest, public ::testing::WithParamInterface<TW_UINT32> {};

TEST_P(UnsupportedGroupTest, FailsAndRecordsBadProtocol) {
    ChooseResourceModule();
    ConditionCode = TWCC_SEQERROR;
    TW_STATUS status{kPattern, kPattern};
    EXPECT_EQ(Call(GetParam(), DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(status.ConditionCode, kPattern) << "no operation ran";
    EXPECT_EQ(ConditionCode, TWCC_BADPROTOCOL);
    EXPECT_TRUE(host::MessageBoxes().empty());
    ReleaseResourceModule();
}

INSTANTIATE_TEST_SUITE_P(Groups, UnsupportedGroupTest,
                         ::testing::Values(TW_UINT32{0}, TW_UINT32{3}, TW_UINT32{4},
                                           TW_UINT32{0x10001}, TW_UINT32{0xFFFFFFFF}));

} // namespace
