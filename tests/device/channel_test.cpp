// Finding the scanner among the usbscan devices, opening and closing the
// channel, and the raw pipe transfers.
#include <string>
#include <vector>

#include "device/channel.h"
#include "device/commands.h"
#include "device_fixture.h"

namespace {

class ChannelTest : public DeviceTest {
  protected:
    static std::string Name(int index, int pipe) {
        return "\\\\.\\Usbscan" + std::to_string(index) + "\\" + std::to_string(pipe);
    }
    static std::vector<std::string> OpenedNames() {
        std::vector<std::string> names;
        for (const host::DeviceOpen& open : host::DeviceOpens()) {
            if (open.opened) {
                names.push_back(open.name);
            }
        }
        return names;
    }
    static bool AllOpen() {
        return ScannerChannel.device != kInvalidFile && ScannerChannel.pipe1 != kInvalidFile &&
               ScannerChannel.pipe2 != kInvalidFile && ScannerChannel.pipe3 != kInvalidFile;
    }
};

TEST_F(ChannelTest, NoDevicesMeansFifteenFailedOpensAndNothingElse) {
    EXPECT_EQ(OpenScannerChannel(), -1);
    ASSERT_EQ(host::DeviceOpens().size(), 15u);
    for (int index = 0; index < 15; ++index) {
        EXPECT_EQ(host::DeviceOpens()[index].name, Name(index, 0));
        EXPECT_FALSE(host::DeviceOpens()[index].opened);
    }
    EXPECT_TRUE(ChannelClosed());
    EXPECT_TRUE(sim::WrittenBlocks().empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ChannelTest, OtherProductsAreQueriedAndClosedBeforeTheScanner) {
    sim::AddDevice(0, 0x1111);
    sim::AddDevice(1, 0x302D);
    sim::AddScanner(2);
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_TRUE(AllOpen());
    EXPECT_EQ(OpenedNames(), (std::vector<std::string>{Name(0, 0), Name(1, 0), Name(2, 0),
                                                       Name(2, 1), Name(2, 2), Name(2, 3)}));
    EXPECT_EQ(sim::Slot(0).opens, (std::array<int, 4>{1, 0, 0, 0}));
    EXPECT_EQ(sim::Slot(1).opens, (std::array<int, 4>{1, 0, 0, 0}));
    EXPECT_EQ(host::OpenDeviceHandleCount(), 4); // devices 0 and 1 are closed again
    EXPECT_EQ(sim::CommandCount(sim::kOpGetStatus), 1);
    int usbscanCalls = 0;
    for (const host::CreateFileCall& call : host::CreateFileCalls()) {
        if (call.name.rfind("\\\\.\\Usbscan", 0) != 0) {
            continue;
        }
        ++usbscanCalls;
        EXPECT_EQ(call.access, GENERIC_READ | GENERIC_WRITE) << call.name;
        EXPECT_EQ(call.share, FILE_SHARE_READ | FILE_SHARE_WRITE) << call.name;
        EXPECT_EQ(call.disposition, OPEN_EXISTING) << call.name;
        EXPECT_EQ(call.attributes, FILE_ATTRIBUTE_SYSTEM) << call.name;
    }
    EXPECT_EQ(usbscanCalls, 6);
    EXPECT_EQ(CloseScannerChannel(), 1);
    EXPECT_TRUE(ChannelClosed());
    EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
}

TEST_F(ChannelTest, ScannerThatDoesNotAnswerIsPassedOver) {
    sim::AddScanner(0).answers = false;
    sim::AddScanner(4);
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_EQ(OpenedNames(),
              (std::vector<std::string>{Name(0, 0), Name(0, 1), Name(0, 2), Name(0, 3), Name(4, 0),
                                        Name(4, 1), Name(4, 2), Name(4, 3)}));
    EXPECT_EQ(host::OpenDeviceHandleCount(), 4);
    // The probe is the status command; its answer has no effect on the channel.
    const std::vector<uint8_t> probe = {0x03, 0x09, 0x01};
    for (const sim::WrittenBlock& block : sim::WrittenBlocks()) {
        std::vector<uint8_t> expected = probe;
        expected.resize(64);
        EXPECT_EQ(block.bytes, expected);
    }
    EXPECT_EQ(sim::WrittenBlocks().size(), 2u);
    CloseScannerChannel();
}

TEST_F(ChannelTest, ScannerWhoseProbeWriteFailsIsPassedOver) {
    sim::AddScanner(0).faults = {{sim::FaultKind::FailWrite, sim::kOpGetStatus, 1}};
    sim::AddScanner(1);
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_EQ(OpenedNames().back(), Name(1, 3));
    EXPECT_EQ(host::OpenDeviceHandleCount(), 4);
    CloseScannerChannel();
}

TEST_F(ChannelTest, DescriptorShorterThanFourBytesLeavesTheProductIdAtZero) {
    for (uint32_t bytes = 0; bytes <= 8; ++bytes) {
        sim::Reset();
        sim::AddScanner(0).descriptorBytes = bytes;
        EXPECT_EQ(OpenScannerChannel(), bytes >= 4 ? 0 : -1) << bytes << " descriptor bytes";
        CloseScannerChannel();
    }
    sim::Reset();
    sim::AddScanner(0).descriptorFails = true;
    EXPECT_EQ(OpenScannerChannel(), -1);
    EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
}

TEST_F(ChannelTest, OpenChannelIsReusedWithOneProbe) {
    sim::AddScanner(0);
    ASSERT_EQ(OpenScannerChannel(), 0);
    const ScannerChannelRecord first = ScannerChannel;
    const size_t opens = host::DeviceOpens().size();
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_EQ(host::DeviceOpens().size(), opens);
    EXPECT_EQ(sim::CommandCount(sim::kOpGetStatus), 2);
    EXPECT_EQ(ScannerChannel.pipe3, first.pipe3);

    // A scanner that stops answering is dropped and searched for afresh.
    sim::Slot(0).answers = false;
    EXPECT_EQ(OpenScannerChannel(), -1);
    EXPECT_TRUE(ChannelClosed());
    EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
    EXPECT_EQ(sim::Slot(0).opens[0], 2);
}

TEST_F(ChannelTest, CloseOfAClosedChannelClosesNothing) {
    EXPECT_EQ(CloseScannerChannel(), 1);
    EXPECT_EQ(CloseScannerChannel(), 1);
    EXPECT_TRUE(ChannelClosed());
    EXPECT_TRUE(host::Errors().empty()) << host::Errors().front();
    EXPECT_TRUE(sim::Transcript().empty());
}

// Pipe 1 alone failing to open goes unnoticed until the next open, which must
// not lose the three handles the channel still holds.
TEST_F(ChannelTest, ChannelWithoutPipeOneIsReplacedWithoutLosingHandles) {
    sim::AddScanner(0).refuseOpenMask = 0x02;
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_EQ(ScannerChannel.pipe1, kInvalidFile);
    EXPECT_EQ(host::OpenDeviceHandleCount(), 3);
    uint8_t status = 0xEE;
    EXPECT_TRUE(GetStatus(&status));
    EXPECT_EQ(status, 0);
    ASSERT_EQ(OpenScannerChannel(), 0);
    EXPECT_EQ(sim::Slot(0).opens[0], 2);
    EXPECT_EQ(host::OpenDeviceHandleCount(), 3);
    CloseScannerChannel();
    EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
}

TEST_F(ChannelTest, MissingCommandOrAnswerPipeFailsTheProbe) {
    for (uint8_t mask : {uint8_t{0x04}, uint8_t{0x08}}) {
        sim::Reset();
        sim::AddScanner(0).refuseOpenMask = mask;
        EXPECT_EQ(OpenScannerChannel(), -1) << int{mask};
        EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
    }
}

TEST_F(ChannelTest, OnlyTheByteCountsDecide) {
    sim::AddScanner(0).faults = {{sim::FaultKind::ShortWrite, sim::kOpGetAdfStatus, 1, 1},
                                 {sim::FaultKind::ShortRead, sim::kOpGetAdfStatus, 1, 9}};
    ASSERT_EQ(OpenScannerChannel(), 0);
    uint8_t block[64] = {0x03, 0x0D, 0x0A};
    uint8_t answer[10];
    EXPECT_TRUE(WritePipe(ScannerChannel.pipe2, 64, block));  // 1 of 64 bytes
    EXPECT_FALSE(ReadPipe(ScannerChannel.pipe3, 10, answer)); // 9 of 10 bytes
    EXPECT_TRUE(WritePipe(ScannerChannel.pipe2, 64, block));
    EXPECT_TRUE(ReadPipe(ScannerChannel.pipe3, 10, answer));
    CloseScannerChannel();
    // A closed channel moves no bytes and never reaches the driver.
    const size_t blocks = sim::WrittenBlocks().size();
    EXPECT_FALSE(WritePipe(ScannerChannel.pipe2, 64, block));
    EXPECT_FALSE(ReadPipe(ScannerChannel.pipe3, 10, answer));
    EXPECT_EQ(sim::WrittenBlocks().size(), blocks);
    EXPECT_TRUE(host::Errors().empty());
}

} // namespace
