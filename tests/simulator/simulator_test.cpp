// The scanner simulator on its own, driven through the usbscan procedures as
// the host platform and the Wine relay drive it.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "simulator/scanner_simulator.h"
#include "simulator/usbscan_bus.h"

namespace {

using Block = std::array<uint8_t, sim::kBlockSize>;

Block Command(uint8_t opcode, uint8_t length, std::vector<uint8_t> parameters = {}) {
    Block block{};
    block[0] = 0x03;
    block[1] = opcode;
    block[2] = length;
    std::copy(parameters.begin(), parameters.end(), block.begin() + 6);
    return block;
}

std::vector<uint8_t> Le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// 300 dpi, B/W, brightness level 5, A4 upright, the given window, duplex off.
std::vector<uint8_t> Parameters(uint16_t width, uint16_t height) {
    return {1,
            0,
            5,
            2,
            0,
            0,
            0,
            0,
            static_cast<uint8_t>(width),
            static_cast<uint8_t>(width >> 8),
            static_cast<uint8_t>(height),
            static_cast<uint8_t>(height >> 8),
            0};
}

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        if (expectClean) {
            EXPECT_TRUE(sim::ProtocolErrors().empty())
                << sim::ProtocolErrorText() << sim::TranscriptText();
        }
        sim::Reset();
    }

    // Opens the scanner's device handle and pipes 2 and 3 in slot 0.
    void OpenPipes(int slot = 0) {
        const std::string base = "\\\\.\\Usbscan" + std::to_string(slot);
        device = sim::UsbscanOpen((base + "\\0").c_str());
        pipe2 = sim::UsbscanOpen((base + "\\2").c_str());
        pipe3 = sim::UsbscanOpen((base + "\\3").c_str());
        ASSERT_NE(device, 0u);
        ASSERT_NE(pipe2, 0u);
        ASSERT_NE(pipe3, 0u);
    }
    void ClosePipes() {
        sim::UsbscanClose(device);
        sim::UsbscanClose(pipe2);
        sim::UsbscanClose(pipe3);
    }
    uint32_t Write(const Block& block) { return sim::UsbscanWrite(pipe2, block.data(), 64); }
    std::vector<uint8_t> Read(uint32_t size) {
        std::vector<uint8_t> data(size, 0xEE);
        data.resize(sim::UsbscanRead(pipe3, data.data(), size));
        return data;
    }
    uint8_t Status() {
        EXPECT_EQ(Write(Command(sim::kOpGetStatus, 1)), 64u);
        std::vector<uint8_t> answer = Read(1);
        return answer.size() == 1 ? answer[0] : 0xEE;
    }
    // Parameters, image information and the start of a scan of the window.
    sim::ImageInfo Start(uint16_t width, uint16_t height) {
        Write(Command(sim::kOpSetScanParameters, 13, Parameters(width, height)));
        Write(Command(sim::kOpGetImageInfo, 8));
        std::vector<uint8_t> info = Read(8);
        sim::ImageInfo result{};
        if (info.size() == 8) {
            result = {static_cast<uint16_t>(info[0] | info[1] << 8),
                      static_cast<uint16_t>(info[2] | info[3] << 8),
                      static_cast<uint16_t>(info[4] | info[5] << 8),
                      static_cast<uint16_t>(info[6] | info[7] << 8)};
        }
        std::vector<uint8_t> start =
            Le32((result.pixelsPerScannerLine + 7u) / 8 * result.scannerLines);
        start.push_back(0x01);
        Write(Command(sim::kOpStartScan, 4, start));
        return result;
    }
    std::vector<uint8_t> ReadData(uint32_t count) {
        Write(Command(sim::kOpReadData, 4, Le32(count)));
        return Read(count);
    }

    uint32_t device = 0, pipe2 = 0, pipe3 = 0;
    bool expectClean = true;
};

TEST_F(SimulatorTest, NamesOpenOnlyForPresentDevicesAndTheirFourPipes) {
    sim::AddScanner(3);
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan0\\0"), 0u);
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan3"), 0u);
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan3\\4"), 0u);
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan03\\0"), 0u);
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan15\\0"), 0u);
    EXPECT_EQ(sim::UsbscanOpen("C:\\Usbscan3\\0"), 0u);
    uint32_t handles[4];
    for (int pipe = 0; pipe < 4; ++pipe) {
        std::string name = "\\\\.\\USBSCAN3\\" + std::to_string(pipe);
        handles[pipe] = sim::UsbscanOpen(name.c_str());
        EXPECT_NE(handles[pipe], 0u) << name;
    }
    sim::AddScanner(14);
    EXPECT_NE(sim::UsbscanOpen("\\\\.\\usbscan14\\1"), 0u);
    EXPECT_EQ(sim::OpenHandleCount(), 5);
    for (uint32_t handle : handles) {
        sim::UsbscanClose(handle);
    }
    EXPECT_EQ(sim::OpenHandleCount(), 1);
    EXPECT_EQ(sim::Slot(3).opens, (std::array<int, 4>{1, 1, 1, 1}));
    sim::Reset();
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    EXPECT_FALSE(sim::Slot(3).present);
}

TEST_F(SimulatorTest, DescriptorCarriesTheProductIdAndCanComeBackShort) {
    sim::AddDevice(0, 0x1234).vendorId = 0x0A4D;
    uint32_t handle = sim::UsbscanOpen("\\\\.\\Usbscan0\\0");
    uint8_t descriptor[8] = {};
    uint32_t returned = 99;
    ASSERT_TRUE(
        sim::UsbscanIoctl(handle, sim::kIoctlGetDeviceDescriptor, descriptor, 8, &returned));
    EXPECT_EQ(returned, 8u);
    const uint8_t expected[8] = {0x4D, 0x0A, 0x34, 0x12, 0x00, 0x01, 0x09, 0x04};
    EXPECT_EQ(std::memcmp(descriptor, expected, 8), 0);

    sim::Slot(0).descriptorBytes = 3;
    uint8_t shortDescriptor[8] = {};
    ASSERT_TRUE(
        sim::UsbscanIoctl(handle, sim::kIoctlGetDeviceDescriptor, shortDescriptor, 8, &returned));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(shortDescriptor[2], 0x34);
    EXPECT_EQ(shortDescriptor[3], 0x00);

    sim::Slot(0).descriptorFails = true;
    EXPECT_FALSE(
        sim::UsbscanIoctl(handle, sim::kIoctlGetDeviceDescriptor, descriptor, 8, &returned));
    sim::UsbscanClose(handle);
}

TEST_F(SimulatorTest, EveryMalformedBlockIsAProtocolErrorAndGoesUnanswered) {
    expectClean = false;
    struct Case {
        const char* what;
        Block block;
    };
    Block badPrefix = Command(sim::kOpGetStatus, 1);
    badPrefix[0] = 0x02;
    Block strayHeader = Command(sim::kOpGetStatus, 1);
    strayHeader[4] = 1;
    Block strayTail = Command(sim::kOpGetImageInfo, 8);
    strayTail[63] = 1;
    Block startTail = Command(sim::kOpStartScan, 4, {0x2C, 0x01, 0, 0, 0x01});
    startTail[11] = 7;
    std::vector<uint8_t> badParameters = Parameters(100, 100);
    badParameters[2] = 10;
    const Case cases[] = {
        {"prefix 02", badPrefix},
        {"opcode 07", Command(0x07, 1)},
        {"opcode 0F", Command(0x0F, 1)},
        {"GetStatus length 2", Command(sim::kOpGetStatus, 2)},
        {"GetAdfStatus length 8", Command(sim::kOpGetAdfStatus, 8)},
        {"byte 4 set", strayHeader},
        {"byte 63 set", strayTail},
        {"GetStatus with a parameter", Command(sim::kOpGetStatus, 1, {1})},
        {"StartScan byte 10 zero", Command(sim::kOpStartScan, 4, {0x2C, 0x01, 0, 0, 0})},
        {"StartScan byte 11 set", startTail},
        {"ReadData count 0", Command(sim::kOpReadData, 4, Le32(0))},
        {"ReadData count 65536", Command(sim::kOpReadData, 4, Le32(65536))},
        {"brightness level 10", Command(sim::kOpSetScanParameters, 13, badParameters)},
    };
    for (const Case& c : cases) {
        sim::Reset();
        sim::AddScanner(0);
        OpenPipes();
        EXPECT_EQ(Write(c.block), 64u) << c.what;
        EXPECT_FALSE(sim::ProtocolErrors().empty()) << c.what;
        const size_t errors = sim::ProtocolErrors().size();
        uint8_t byte = 0;
        EXPECT_EQ(sim::UsbscanRead(pipe3, &byte, 1), 0u) << c.what;
        EXPECT_GT(sim::ProtocolErrors().size(), errors) << c.what;
        ClosePipes();
    }
    sim::Reset();
    sim::AddScanner(0);
    OpenPipes();
    EXPECT_EQ(sim::UsbscanWrite(pipe2, Command(sim::kOpGetStatus, 1).data(), 63), 63u);
    EXPECT_EQ(sim::ProtocolErrors().size(), 1u);
    ClosePipes();
}

TEST_F(SimulatorTest, MisusedHandlesAndPipesAreProtocolErrors) {
    expectClean = false;
    sim::AddScanner(0);
    OpenPipes();
    Block block = Command(sim::kOpGetStatus, 1);
    EXPECT_EQ(sim::UsbscanWrite(pipe3, block.data(), 64), 0u);
    uint8_t byte;
    EXPECT_EQ(sim::UsbscanRead(pipe2, &byte, 1), 0u);
    EXPECT_FALSE(sim::UsbscanIoctl(pipe2, sim::kIoctlGetDeviceDescriptor, &byte, 1, nullptr));
    EXPECT_EQ(sim::ProtocolErrors().size(), 3u);
    ClosePipes();
    EXPECT_EQ(Write(block), 0u);
    sim::UsbscanClose(pipe2);
    EXPECT_EQ(sim::ProtocolErrors().size(), 5u);
    // Reading more than the answer holds, and leaving an answer unread.
    sim::Reset();
    sim::AddScanner(0);
    OpenPipes();
    Write(Command(sim::kOpGetStatus, 1));
    EXPECT_EQ(Read(2).size(), 1u);
    Write(Command(sim::kOpGetImageInfo, 8));
    Write(Command(sim::kOpGetStatus, 1));
    EXPECT_EQ(sim::ProtocolErrors().size(), 2u);
    ClosePipes();
}

TEST_F(SimulatorTest, StatusIsSetScriptedAndChangesAfterTheNthDataRead) {
    sim::Device& scanner = sim::AddScanner(0);
    scanner.status = 7;
    scanner.statusScript = {3, 1};
    OpenPipes();
    EXPECT_EQ(Status(), 3);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Status(), 7);
    scanner.status = 0;
    scanner.statusAfterReadData = 2;
    scanner.statusAfterValue = 2;
    Start(64, 3);
    EXPECT_EQ(ReadData(8).size(), 8u);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(ReadData(8).size(), 8u);
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(ReadData(8).size(), 8u);
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(scanner.pagesCompleted, 1);
    ClosePipes();
    EXPECT_NE(sim::TranscriptText().find("GetStatus -> 03 busy"), std::string::npos);
}

TEST_F(SimulatorTest, FeederReportsItsUnitPaperAndJamAndEmptiesAsPagesStart) {
    sim::Device& scanner = sim::AddScanner(0);
    scanner.feederSheets = 2;
    OpenPipes();
    auto feeder = [&] {
        Write(Command(sim::kOpGetAdfStatus, 10));
        return Read(10);
    };
    std::vector<uint8_t> answer = feeder();
    ASSERT_EQ(answer.size(), 10u);
    EXPECT_EQ(answer[0], 0x80);
    EXPECT_EQ(answer[1], 0x01);
    Start(8, 1);
    ReadData(1);
    EXPECT_EQ(feeder()[1], 0x01);
    Start(8, 1);
    ReadData(1);
    EXPECT_EQ(feeder()[1], 0x00);
    scanner.duplexUnit = false;
    scanner.feederJam = true;
    answer = feeder();
    EXPECT_EQ(answer[0], 0x00);
    EXPECT_EQ(answer[1], 0x02);
    scanner.feederScript.push_back({0x7F, 0xFC, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(feeder(), (std::vector<uint8_t>{0x7F, 0xFC, 1, 2, 3, 4, 5, 6, 7, 8}));
    ClosePipes();
}

TEST_F(SimulatorTest, ImageInformationFollowsTheWindowWithPaddedOrExactLines) {
    sim::Device& scanner = sim::AddScanner(0);
    OpenPipes();
    Write(Command(sim::kOpGetImageInfo, 8));
    EXPECT_EQ(Read(8), std::vector<uint8_t>(8, 0)); // no parameters yet: a 0 x 0 window
    Write(Command(sim::kOpSetScanParameters, 13, Parameters(1240, 1753)));
    Write(Command(sim::kOpGetImageInfo, 8));
    EXPECT_EQ(Read(8), (std::vector<uint8_t>{0xE0, 0x04, 0xD9, 0x06, 0xD8, 0x04, 0xD9, 0x06}));
    scanner.linePadding = 1;
    Write(Command(sim::kOpGetImageInfo, 8));
    EXPECT_EQ(Read(8), (std::vector<uint8_t>{0xD8, 0x04, 0xD9, 0x06, 0xD8, 0x04, 0xD9, 0x06}));
    scanner.imageInfoOverride = sim::ImageInfo{4960, 3, 33, 9};
    Write(Command(sim::kOpGetImageInfo, 8));
    EXPECT_EQ(Read(8), (std::vector<uint8_t>{0x60, 0x13, 3, 0, 33, 0, 9, 0}));
    ClosePipes();
}

TEST_F(SimulatorTest, ReadDataServesTheTestPageLineByLine) {
    sim::Device& scanner = sim::AddScanner(0);
    OpenPipes();
    sim::ImageInfo info = Start(20, 5); // 32-pixel lines: 4 bytes each, 20 bytes in all
    EXPECT_EQ(info.pixelsPerScannerLine, 32);
    std::vector<uint8_t> first = ReadData(12);
    std::vector<uint8_t> second = ReadData(8);
    ASSERT_EQ(first.size(), 12u);
    ASSERT_EQ(second.size(), 8u);
    first.insert(first.end(), second.begin(), second.end());
    for (uint32_t i = 0; i < 20; ++i) {
        EXPECT_EQ(first[i], sim::ScannerLineByte(1, i / 4, i % 4)) << i;
        EXPECT_EQ(sim::ExpectedPageByte(1, i / 4, i % 4, 4),
                  static_cast<uint8_t>(~sim::ScannerLineByte(1, i / 4, i % 4)));
    }
    EXPECT_EQ(sim::ExpectedPageByte(1, 0, 4, 4), 0xFF);
    EXPECT_EQ(scanner.pagesCompleted, 1);
    EXPECT_EQ(sim::ReadDataCounts(), (std::vector<uint32_t>{12, 8}));
    // The next page differs from the first.
    Start(20, 5);
    std::vector<uint8_t> page2 = ReadData(20);
    EXPECT_EQ(page2[0], sim::ScannerLineByte(2, 0, 0));
    EXPECT_NE(std::vector<uint8_t>(page2.begin(), page2.end()), first);
    ClosePipes();
}

TEST_F(SimulatorTest, ScanTotalsAreCheckedAgainstTheAnnouncementAndTheReads) {
    expectClean = false;
    sim::AddScanner(0);
    OpenPipes();
    Write(Command(sim::kOpSetScanParameters, 13, Parameters(32, 2)));
    Write(Command(sim::kOpGetImageInfo, 8));
    Read(8);
    Write(Command(sim::kOpStartScan, 4, {9, 0, 0, 0, 1}));
    EXPECT_EQ(sim::ProtocolErrors().size(), 1u); // 8 announced
    EXPECT_EQ(ReadData(10).size(), 9u);
    EXPECT_EQ(sim::ProtocolErrors().size(), 2u); // 1 more than announced
    EXPECT_TRUE(ReadData(1).empty());
    EXPECT_EQ(sim::ProtocolErrors().size(), 4u); // no scan running, and the read finds nothing
    Start(32, 2);
    Write(Command(sim::kOpAbortScan, 0));
    EXPECT_EQ(sim::Slot(0).abortCount, 1);
    EXPECT_FALSE(sim::Slot(0).scanActive);
    ClosePipes();
    EXPECT_NE(sim::TranscriptText().find("AbortScan (scan at 0 of 8 bytes)"), std::string::npos);
}

TEST_F(SimulatorTest, InjectedFaultsStrikeTheChosenCommand) {
    sim::Device& scanner = sim::AddScanner(0);
    scanner.faults = {{sim::FaultKind::FailWrite, sim::kOpGetStatus, 2},
                      {sim::FaultKind::ShortRead, sim::kOpGetImageInfo, 1, 5},
                      {sim::FaultKind::ShortRead, sim::kOpReadData, 2, 0}};
    OpenPipes();
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(sim::UsbscanWrite(pipe2, Command(sim::kOpGetStatus, 1).data(), 64), 0u);
    EXPECT_EQ(Status(), 0);
    Write(Command(sim::kOpSetScanParameters, 13, Parameters(32, 2)));
    Write(Command(sim::kOpGetImageInfo, 8));
    EXPECT_EQ(Read(8).size(), 5u);
    EXPECT_EQ(Status(), 0); // what was cut off is gone
    Start(32, 4);
    EXPECT_EQ(ReadData(4).size(), 4u);
    EXPECT_EQ(ReadData(4).size(), 0u);
    EXPECT_EQ(ReadData(8).size(), 8u);
    ClosePipes();
    EXPECT_EQ(sim::WrittenBlocks().size(), 12u);
    EXPECT_FALSE(sim::WrittenBlocks()[1].accepted);
}

TEST_F(SimulatorTest, UnpluggedDeviceFailsEveryCallFromThatStepOn) {
    sim::AddScanner(0).unplugAtStep = 4; // open, open, open, then the first write
    OpenPipes();
    EXPECT_EQ(Write(Command(sim::kOpGetStatus, 1)), 0u);
    EXPECT_TRUE(Read(1).empty());
    EXPECT_EQ(sim::UsbscanOpen("\\\\.\\Usbscan0\\1"), 0u);
    uint8_t descriptor[8];
    EXPECT_FALSE(sim::UsbscanIoctl(device, sim::kIoctlGetDeviceDescriptor, descriptor, 8, nullptr));
    ClosePipes();
    EXPECT_EQ(sim::OpenHandleCount(), 0);

    sim::Reset();
    sim::AddScanner(1).faults = {{sim::FaultKind::Unplug, sim::kOpReadData, 1}};
    OpenPipes(1);
    Start(32, 1);
    EXPECT_EQ(Write(Command(sim::kOpReadData, 4, Le32(4))), 0u);
    EXPECT_TRUE(sim::Slot(1).unplugged);
    EXPECT_TRUE(Read(4).empty());
    ClosePipes();
}

TEST_F(SimulatorTest, SilentDeviceTakesBlocksButNeverAnswers) {
    sim::AddScanner(0).answers = false;
    OpenPipes();
    EXPECT_EQ(Write(Command(sim::kOpGetStatus, 1)), 64u);
    EXPECT_TRUE(Read(1).empty());
    ClosePipes();
}

TEST_F(SimulatorTest, TranscriptHasOneLinePerCommandWithItsAnswer) {
    sim::AddScanner(0).feederSheets = 1;
    OpenPipes();
    Status();
    Start(32, 2);
    ReadData(8);
    ClosePipes();
    std::vector<std::string> commands;
    for (const std::string& line : sim::Transcript()) {
        if (line.find(" open ") == std::string::npos && line.find(" close ") == std::string::npos) {
            commands.push_back(line);
        }
    }
    EXPECT_EQ(commands, (std::vector<std::string>{
                            "[0] GetStatus -> 00 ready",
                            "[0] SetScanParameters 300 dpi, type 0, brightness level 5, paper 2, "
                            "window 32 x 2, duplex 0",
                            "[0] GetImageInfo -> scanner line 32 px x 2 lines, image 32 x 2",
                            "[0] StartScan total 8, sheet from the feeder (0 left), page 1",
                            "[0] ReadData 8 -> 8 bytes at 0, page complete",
                        }))
        << sim::TranscriptText();
}

} // namespace
