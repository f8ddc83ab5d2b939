// The scanner's commands on the wire, the scan parameters, and the device
// conditions with the messages the user sees.
#include <functional>
#include <string>
#include <vector>

#include "device/channel.h"
#include "device/commands.h"
#include "device_fixture.h"
#include "twain/states.h"
#include "ui/settings.h"

namespace {

std::vector<uint8_t> Block(std::vector<uint8_t> head) {
    head.resize(64);
    return head;
}

class CommandTest : public DeviceTest {
  protected:
    // A scanner whose channel is open, past the probe.
    void OpenScanner() {
        sim::AddScanner(0);
        ASSERT_EQ(OpenScannerChannel(), 0);
    }
    // The blocks written after the probe.
    static std::vector<std::vector<uint8_t>> BlocksAfterProbe() {
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t i = 1; i < sim::WrittenBlocks().size(); ++i) {
            blocks.push_back(sim::WrittenBlocks()[i].bytes);
        }
        return blocks;
    }
};

TEST_F(CommandTest, EveryCommandGoesOutAsItsSixtyFourBytes) {
    OpenScanner();
    uint8_t answer[10];
    const uint8_t parameters[13] = {1, 0, 5, 2, 0, 0, 0, 0, 64, 0, 4, 0, 0};
    ASSERT_TRUE(GetStatus(answer));
    ASSERT_TRUE(GetAdfStatus(answer));
    ASSERT_TRUE(SetScanParameters(parameters));
    ASSERT_TRUE(GetImageInfo(answer));
    ASSERT_TRUE(StartScan(32));
    uint8_t data[16];
    ASSERT_EQ(ReadData(data, 16), ReadOutcome::Done);
    ASSERT_TRUE(AbortScan());
    EXPECT_EQ(BlocksAfterProbe(),
              (std::vector<std::vector<uint8_t>>{
                  Block({0x03, 0x09, 0x01}),
                  Block({0x03, 0x0D, 0x0A}),
                  Block({0x03, 0x0C, 0x0D, 0, 0, 0, 1, 0, 5, 2, 0, 0, 0, 0, 64, 0, 4, 0, 0}),
                  Block({0x03, 0x0B, 0x08}),
                  Block({0x03, 0x08, 0x04, 0, 0, 0, 32, 0, 0, 0, 0x01}),
                  Block({0x03, 0x0E, 0x04, 0, 0, 0, 16, 0, 0, 0}),
                  Block({0x03, 0x09, 0x01}), // the status behind the data
                  Block({0x03, 0x0A, 0x00}),
              }));
    CloseScannerChannel();
}

TEST_F(CommandTest, StartScanCarriesTheTotalLittleEndianAndItsFlag) {
    OpenScanner();
    sim::Slot(0).imageInfoOverride = sim::ImageInfo{24, 100, 24, 100}; // 3 bytes x 100 lines
    uint8_t info[8];
    ASSERT_TRUE(GetImageInfo(info));
    ASSERT_TRUE(StartScan(300));
    const std::vector<uint8_t> block = sim::BlocksWithOpcode(sim::kOpStartScan).at(0);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 6, block.begin() + 11),
              (std::vector<uint8_t>{0x2C, 0x01, 0x00, 0x00, 0x01}));
    AbortScan();
    CloseScannerChannel();
}

TEST_F(CommandTest, AnswersArriveInTheCallersBuffer) {
    OpenScanner();
    sim::Slot(0).status = 7;
    sim::Slot(0).feederSheets = 1;
    sim::Slot(0).imageInfoOverride = sim::ImageInfo{0x1234, 0x0102, 0x0A0B, 0x0C0D};
    uint8_t status = 0;
    ASSERT_TRUE(GetStatus(&status));
    EXPECT_EQ(status, 7);
    uint8_t feeder[10] = {};
    ASSERT_TRUE(GetAdfStatus(feeder));
    EXPECT_EQ(feeder[0], kFeederDuplexUnit);
    EXPECT_EQ(feeder[1], kFeederPaper);
    uint8_t info[8] = {};
    ASSERT_TRUE(GetImageInfo(info));
    EXPECT_EQ(std::vector<uint8_t>(info, info + 8),
              (std::vector<uint8_t>{0x34, 0x12, 0x02, 0x01, 0x0B, 0x0A, 0x0D, 0x0C}));
    CloseScannerChannel();
}

TEST_F(CommandTest, RefusedArgumentsFailWithoutAnyIo) {
    OpenScanner();
    const size_t blocks = sim::WrittenBlocks().size();
    uint8_t data[16];
    EXPECT_FALSE(GetStatus(nullptr));
    EXPECT_FALSE(GetImageInfo(nullptr));
    EXPECT_FALSE(GetAdfStatus(nullptr));
    EXPECT_FALSE(SetScanParameters(nullptr));
    EXPECT_EQ(ReadData(data, 0), ReadOutcome::Failed);
    EXPECT_EQ(ReadData(data, 65536), ReadOutcome::Failed);
    EXPECT_EQ(ReadData(data, -1), ReadOutcome::Failed);
    EXPECT_EQ(ReadData(nullptr, 16), ReadOutcome::Failed);
    EXPECT_EQ(sim::WrittenBlocks().size(), blocks);
    CloseScannerChannel();
}

TEST_F(CommandTest, CommandsOnAClosedChannelFail) {
    uint8_t answer[10];
    const uint8_t parameters[13] = {1, 0, 5, 2};
    EXPECT_FALSE(GetStatus(answer));
    EXPECT_FALSE(GetAdfStatus(answer));
    EXPECT_FALSE(GetImageInfo(answer));
    EXPECT_FALSE(SetScanParameters(parameters));
    EXPECT_FALSE(StartScan(1));
    EXPECT_FALSE(AbortScan());
    EXPECT_EQ(ReadData(answer, 1), ReadOutcome::Failed);
    EXPECT_TRUE(sim::WrittenBlocks().empty());
    EXPECT_TRUE(host::Errors().empty());
}

TEST_F(CommandTest, FailedWriteReadsNothingAndShortAnswerFails) {
    OpenScanner();
    sim::Slot(0).faults = {{sim::FaultKind::FailWrite, sim::kOpGetImageInfo, 1},
                           {sim::FaultKind::ShortRead, sim::kOpGetImageInfo, 2, 7}};
    uint8_t info[8];
    EXPECT_FALSE(GetImageInfo(info)); // a read here would find nothing: a protocol error
    EXPECT_FALSE(GetImageInfo(info));
    EXPECT_TRUE(GetImageInfo(info));
    CloseScannerChannel();
}

TEST_F(CommandTest, ReadDataOutcomes) {
    OpenScanner();
    sim::Device& scanner = sim::Slot(0);
    scanner.imageInfoOverride = sim::ImageInfo{65535, 9, 65535, 9}; // 8192 bytes a line
    uint8_t info[8];
    ASSERT_TRUE(GetImageInfo(info));
    ASSERT_TRUE(StartScan(8192 * 9));
    std::vector<uint8_t> data(65535);
    scanner.statusAfterReadData = 1;
    scanner.statusAfterValue = 2;
    ASSERT_EQ(ReadData(data.data(), 65535), ReadOutcome::Condition);
    for (uint32_t i = 0; i < 65535; i += 4099) {
        EXPECT_EQ(data[i], sim::ScannerLineByte(1, i / 8192, i % 8192)) << i;
    }
    scanner.status = 0;
    EXPECT_EQ(ReadData(data.data(), 1), ReadOutcome::Done);
    EXPECT_EQ(data[0], sim::ScannerLineByte(1, 65535 / 8192, 65535 % 8192));
    scanner.status = 7; // after data, anything but 0 stops the page
    EXPECT_EQ(ReadData(data.data(), 8), ReadOutcome::Condition);
    scanner.faults = {{sim::FaultKind::ShortRead, sim::kOpReadData, 4, 7},
                      {sim::FaultKind::FailWrite, sim::kOpGetStatus, 5}};
    EXPECT_EQ(ReadData(data.data(), 8), ReadOutcome::Failed);
    EXPECT_EQ(ReadData(data.data(), 8), ReadOutcome::Failed); // its status does not arrive
    AbortScan();
    CloseScannerChannel();
}

TEST_F(CommandTest, InitialParameterBlockBeforeAnyBuild) {
    EXPECT_EQ(std::vector<uint8_t>(ScanParameterBlock, ScanParameterBlock + 13),
              (std::vector<uint8_t>{0x01, 0x00, 0x05, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CommandTest, BuildScanParametersTakesTheWindowFromThePaperTable) {
    struct Case {
        const char* what;
        ScanSettingsRecord settings;
        std::vector<uint8_t> block;
    };
    const Case cases[] = {
        // Letter upright, 5102 x 6590 at 600 dpi: 2551 x 3295 at 300 dpi.
        {"Letter upright 300 dpi",
         {12, 0, 1, 0, 0},
         {1, 0, 5, 12, 0, 0, 0, 0, 0xF7, 0x09, 0xDF, 0x0C, 0}},
        // A4 upright, 4960 x 7015 at 600 dpi: 1240 x 1753 at 150 dpi.
        {"A4 upright 150 dpi",
         {2, 0, 0, 0, 0},
         {0, 0, 5, 2, 0, 0, 0, 0, 0xD8, 0x04, 0xD9, 0x06, 0}},
        {"A3 upright 600 dpi, photo, brightness -4, duplex",
         {0, 1, 2, 1, -4},
         {2, 1, 1, 0, 0, 0, 0, 0, 0x67, 0x1B, 0xC1, 0x26, 1}},
        {"16K sideways 300 dpi, brightness 4",
         {18, 0, 1, 0, 4},
         {1, 0, 9, 18, 0, 0, 0, 0, 0x75, 0x0C, 0xFF, 0x08, 0}},
    };
    for (const Case& c : cases) {
        ScanSettings = c.settings;
        std::fill(ScanParameterBlock, ScanParameterBlock + 13, uint8_t{0xAA});
        BuildScanParameters();
        EXPECT_EQ(std::vector<uint8_t>(ScanParameterBlock, ScanParameterBlock + 13), c.block)
            << c.what;
    }
}

// One row of the device-condition table: how the scanner is set up, what
// the check returns, and the message the user sees (none: empty).
struct ConditionCase {
    const char* what;
    std::function<void()> scenario;
    int32_t duplex;
    bool ready;
    bool feederChecked; // CheckFeeder runs after a ready scanner
    bool result;
    std::string message;
    uint8_t adfFlag;
};

TEST_F(CommandTest, DeviceConditionTable) {
    const std::vector<ConditionCase> cases = {
        {"no scanner", [] {}, 0, false, false, false, "Scanner not ready", 0},
        {"status write fails",
         [&] {
             sim::AddScanner(0).faults = {{sim::FaultKind::FailWrite, sim::kOpGetStatus, 2}};
         },
         0, false, false, false, "Scanner not ready", 0},
        {"status does not arrive",
         [&] {
             sim::AddScanner(0).faults = {{sim::FaultKind::ShortRead, sim::kOpGetStatus, 2, 0}};
         },
         0, false, false, false, "Scanner not ready", 0},
        {"status 1", [&] { sim::AddScanner(0).status = 1; }, 0, false, false, false,
         "Document JAM on machine", 0},
        {"status 2", [&] { sim::AddScanner(0).status = 2; }, 0, false, false, false,
         "Machine error", 0},
        {"status 3", [&] { sim::AddScanner(0).status = 3; }, 0, false, false, false, "Scanner Busy",
         0},
        {"status 7 is ready", [&] { sim::AddScanner(0).status = 7; }, 0, true, true, true, "", 0},
        {"feeder status fails",
         [&] {
             sim::AddScanner(0).faults = {{sim::FaultKind::FailWrite, sim::kOpGetAdfStatus, 1}};
         },
         0, true, true, false, "Machine error", 0},
        {"feeder status short",
         [&] {
             sim::AddScanner(0).faults = {{sim::FaultKind::ShortRead, sim::kOpGetAdfStatus, 1, 9}};
         },
         0, true, true, false, "Machine error", 0},
        {"feeder jam", [&] { sim::AddScanner(0).feederJam = true; }, 0, true, true, false,
         "Document JAM on machine", 0},
        {"jam and no paper with duplex: the jam wins", [&] { sim::AddScanner(0).feederJam = true; },
         1, true, true, false, "Document JAM on machine", 0},
        {"duplex without paper", [&] { sim::AddScanner(0); }, 1, true, true, false,
         "ADF (duplex) No Paper", 0},
        {"flatbed, feeder empty", [&] { sim::AddScanner(0); }, 0, true, true, true, "", 0},
        {"paper in the feeder", [&] { sim::AddScanner(0).feederSheets = 1; }, 0, true, true, true,
         "", 1},
        {"duplex with paper", [&] { sim::AddScanner(0).feederSheets = 3; }, 1, true, true, true, "",
         1},
    };
    for (const ConditionCase& c : cases) {
        sim::Reset();
        boxes.clear();
        AdfFlag = 0xEE;
        ScanSettings.Duplex = c.duplex;
        c.scenario();
        bool result = CheckScannerReady();
        EXPECT_EQ(result, c.ready) << c.what;
        EXPECT_EQ(ChannelClosed(), !c.ready) << c.what;
        if (result && c.feederChecked) {
            result = CheckFeeder();
            EXPECT_EQ(ChannelClosed(), !result) << c.what;
            if (result) {
                EXPECT_EQ(AdfFlag, c.adfFlag) << c.what;
            }
        }
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(BoxTexts(), c.message.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{c.message})
            << c.what;
        ExpectDeviceBoxesKeptTheRules();
        CloseScannerChannel();
        EXPECT_TRUE(sim::ProtocolErrors().empty()) << c.what << "\n" << sim::ProtocolErrorText();
    }
}

TEST_F(CommandTest, CheckFeederClearsAnAdfFlagLeftFromBefore) {
    sim::AddScanner(0);
    AdfFlag = 1;
    ASSERT_TRUE(CheckScannerReady());
    ASSERT_TRUE(CheckFeeder());
    EXPECT_EQ(AdfFlag, 0);
    CloseScannerChannel();
}

// Beside the checks they share, the open reads the device status and takes
// only the duplex unit from the feeder status, and the pending-transfer count
// reads the feeder status alone: neither looks at the feeder's jam bit, the
// open not at its paper bit, the count not at the device status.
TEST_F(CommandTest, OpenAndPendingCountMakeOnlyTheirOwnChecks) {
    host::WriteFileText(host::TempPath() + "UAXXXX.ini",
                        std::string("[") + SectionName() + "]\r\nDuplex Scanning=1\r\n");
    sim::Device& scanner = sim::AddScanner(0);
    scanner.feederJam = true; // and no paper, with duplex on
    const auto opcodesFrom = [](size_t first) {
        std::vector<std::string> names;
        for (size_t i = first; i < sim::WrittenBlocks().size(); ++i) {
            names.push_back(sim::OpcodeName(sim::WrittenBlocks()[i].bytes[1]));
        }
        return names;
    };
    ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
    EXPECT_EQ(opcodesFrom(0), (std::vector<std::string>{"GetStatus", "GetStatus", "GetAdfStatus"}));
    EXPECT_EQ(DuplexUnitPresent, 1);
    EXPECT_EQ(ScanSettings.Duplex, 1);
    EXPECT_TRUE(boxes.empty());

    scanner.status = kStatusBusy;
    scanner.feederSheets = 1;
    AdfFlag = 1; // as a Scan with paper in the feeder leaves it
    size_t first = sim::WrittenBlocks().size();
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 1);
    EXPECT_EQ(opcodesFrom(first), (std::vector<std::string>{"GetStatus", "GetAdfStatus"}));
    EXPECT_TRUE(boxes.empty());

    // Its own failures close the channel before their box.
    scanner.faults = {{sim::FaultKind::FailWrite, sim::kOpGetAdfStatus, 3}};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_FAILURE);
    EXPECT_EQ(pending.Count, 0);
    sim::Unplug(0);
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_FAILURE);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Machine error", "Scanner not ready"}));
    ExpectDeviceBoxesKeptTheRules();
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

} // namespace
