// One page from the scanner into memory: chunked reads, alignment in place,
// inversion, the progress dialog, and every way the conversation can end.
#include <algorithm>
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "device/acquisition.h"
#include "device/channel.h"
#include "device/commands.h"
#include "device_fixture.h"
#include "resources/resource_ids.h"
#include "ui/settings.h"
#include "ui/settings_dialog.h"
#include "ui/small_dialogs.h"

namespace {

class AcquisitionTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ScanSettings = {2, 0, 1, 0, 0}; // A4 upright, B/W, 300 dpi, simplex, brightness 0
    }
    void TearDown() override {
        ReleasePageBuffer();
        DeviceTest::TearDown();
    }

    // A scanner that announces exactly this geometry.
    static sim::Device& ScannerAnnouncing(uint16_t pixelsPerScannerLine, uint16_t scannerLines,
                                          uint16_t pixelsPerLine, uint16_t lines) {
        sim::Device& scanner = sim::AddScanner(0);
        scanner.imageInfoOverride =
            sim::ImageInfo{pixelsPerScannerLine, scannerLines, pixelsPerLine, lines};
        return scanner;
    }

    // Every byte of every row handed over equals the simulator's page; returns
    // the number of differing bytes (and reports the first).
    static uint64_t PageDifferences() {
        uint64_t differences = 0;
        const uint32_t rows = std::min(PageImage.lines, PageImage.rowsHeld);
        const uint32_t page = sim::Slot(0).pageNumber;
        for (uint32_t row = 0; row < rows; ++row) {
            const uint8_t* bytes = PageImage.buffer + uint64_t{row} * PageImage.stride;
            for (uint32_t j = 0; j < PageImage.stride; ++j) {
                const uint8_t expected =
                    sim::ExpectedPageByte(page, row, j, PageImage.scannerBytesPerLine);
                if (bytes[j] != expected && differences++ == 0) {
                    ADD_FAILURE() << "first difference at row " << row << " byte " << j << ": "
                                  << int{bytes[j]} << " instead of " << int{expected};
                }
            }
        }
        return differences;
    }

    static uint64_t ExpectedBufferSize() {
        const uint64_t total = uint64_t{PageImage.scannerBytesPerLine} * PageImage.scannerLines;
        return std::max<uint64_t>(total, uint64_t{PageImage.stride} * PageImage.rowsHeld) + 2048;
    }

    // What the dialog "SCANNING" showed, from the window records.
    static std::string ProgressText() {
        WindowHandle dialog = nullptr;
        for (const host::WindowInfo& window : host::Windows()) {
            if (window.isDialog && window.templateName == IDD_SCANNING_NAME) {
                dialog = window.handle;
            }
        }
        for (const host::WindowInfo& window : host::Windows()) {
            if (!window.isDialog && window.parent == dialog && window.id == IDC_PROGRESS_TEXT) {
                return window.text;
            }
        }
        return "(no progress dialog)";
    }
};

TEST_F(AcquisitionTest, ConversationOfOnePage) {
    sim::AddScanner(0);
    ASSERT_EQ(AcquirePage(), 1);
    std::vector<std::string> commands;
    for (const sim::WrittenBlock& block : sim::WrittenBlocks()) {
        commands.push_back(sim::OpcodeName(block.bytes[1]));
    }
    // 2480 x 3507 at 300 dpi in lines of 2496 pixels: 312 bytes, 210 lines a read.
    std::vector<std::string> expected = {"GetStatus",         "GetStatus",    "GetAdfStatus",
                                         "SetScanParameters", "GetImageInfo", "StartScan"};
    for (int read = 0; read < 17; ++read) {
        expected.push_back("ReadData");
        expected.push_back("GetStatus");
    }
    expected.push_back("GetStatus");
    EXPECT_EQ(commands, expected);
    const std::vector<uint8_t> parameters(sim::Slot(0).parameters.begin(),
                                          sim::Slot(0).parameters.end());
    EXPECT_EQ(parameters,
              (std::vector<uint8_t>{1, 0, 5, 2, 0, 0, 0, 0, 0xB0, 0x09, 0xB3, 0x0D, 0}));
    EXPECT_EQ(sim::Slot(0).pagesCompleted, 1);
    EXPECT_EQ(sim::Slot(0).abortCount, 0);
    EXPECT_TRUE(ChannelClosed());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(PageImage.pixelsPerLine, 2480u);
    EXPECT_EQ(PageImage.lines, 3507u);
    EXPECT_EQ(PageImage.stride, 312);
    EXPECT_EQ(PageImage.scannerBytesPerLine, 312u);
    EXPECT_EQ(PageImage.scannerLines, 3507u);
    EXPECT_EQ(PageImage.rowsHeld, 3507u);
    EXPECT_EQ(PageDifferences(), 0u);
    // One movable zero-filled block, locked once, as the transfers expect it.
    ASSERT_NE(PageImage.bufferHandle, nullptr);
    EXPECT_EQ(host::LiveBlockCount(), 1u);
    const std::optional<host::BlockInfo> block = host::Block(PageImage.bufferHandle);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->flags, GMEM_MOVEABLE | GMEM_ZEROINIT);
    EXPECT_EQ(block->locks, 1);
    EXPECT_EQ(block->size, 312u * 3507 + 2048);
    ReleasePageBuffer();
    EXPECT_EQ(PageImage.buffer, nullptr);
    EXPECT_EQ(PageImage.bufferHandle, nullptr);
    EXPECT_EQ(PageImage.rowsHeld, 0u);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
    ReleasePageBuffer();
}

TEST_F(AcquisitionTest, ReadsAreWholeLinesAndAsFewAsTheCommandAllows) {
    struct Case {
        uint16_t pixels;
        uint16_t lines;
        std::vector<uint32_t> reads;
    };
    const Case cases[] = {
        {2496, 100, {31200}},               // at most one chunk
        {2496, 210, {65520}},               // exactly one chunk of 210 lines
        {2496, 420, {65520, 65520}},        // exactly two chunks
        {2496, 421, {65520, 65520, 312}},   // two chunks and one line
        {4960, 105, {65100}},               // 620 bytes a line: 105 lines a read
        {4960, 211, {65100, 65100, 620}},   //
        {65535, 17, {57344, 57344, 24576}}, // 8192 bytes a line: 7 lines a read
        {8, 65535, {65535}},                // 1 byte a line
    };
    for (const Case& c : cases) {
        sim::Reset();
        ReleasePageBuffer();
        ScannerAnnouncing(c.pixels, c.lines, c.pixels, c.lines);
        ASSERT_EQ(AcquirePage(), 1) << c.pixels << " x " << c.lines;
        EXPECT_EQ(sim::ReadDataCounts(), c.reads) << c.pixels << " x " << c.lines;
        EXPECT_EQ(PageDifferences(), 0u) << c.pixels << " x " << c.lines;
        EXPECT_EQ(sim::Slot(0).pagesCompleted, 1);
    }
}

// The page for A4 upright at each resolution, with the scanner's lines padded
// to 32 pixels (rows as wide as the lines) and unpadded (at 150 and 300 dpi
// the rows are wider than the lines: 155 bytes a line and 156 a row at 150 dpi).
TEST_F(AcquisitionTest, PageEqualsTheScannersPageAtEveryResolution) {
    struct Case {
        int32_t resolutionIndex;
        uint16_t padding;
        uint32_t bytesPerLine;
        uint16_t stride;
        uint32_t lines;
    };
    const Case cases[] = {
        {0, 32, 156, 156, 1753}, {0, 1, 155, 156, 1753},  {1, 32, 312, 312, 3507},
        {1, 1, 310, 312, 3507},  {2, 32, 620, 620, 7015}, {2, 1, 620, 620, 7015},
        {0, 64, 160, 156, 1753}, // lines wider than the rows
    };
    for (const Case& c : cases) {
        sim::Reset();
        ReleasePageBuffer();
        sim::AddScanner(0).linePadding = c.padding;
        ScanSettings.ResolutionIndex = c.resolutionIndex;
        const std::string what = "resolution " + std::to_string(c.resolutionIndex) + ", padding " +
                                 std::to_string(c.padding);
        ASSERT_EQ(AcquirePage(), 1) << what;
        EXPECT_EQ(PageImage.scannerBytesPerLine, c.bytesPerLine) << what;
        EXPECT_EQ(PageImage.stride, c.stride) << what;
        EXPECT_EQ(PageImage.lines, c.lines) << what;
        EXPECT_EQ(PageImage.rowsHeld, c.lines) << what;
        EXPECT_EQ(host::BlockSize(PageImage.bufferHandle), ExpectedBufferSize()) << what;
        EXPECT_EQ(PageDifferences(), 0u) << what;
        // Pixel by pixel along the first, a middle and the last row.
        for (uint32_t row : {0u, c.lines / 2, c.lines - 1}) {
            for (uint32_t x = 0; x < PageImage.pixelsPerLine; ++x) {
                const bool white =
                    (PageImage.buffer[row * PageImage.stride + x / 8] >> (7 - x % 8)) & 1;
                ASSERT_EQ(white, sim::ExpectedPagePixelWhite(sim::Slot(0).pageNumber, row, x,
                                                             c.bytesPerLine))
                    << what << " row " << row << " x " << x;
            }
        }
    }
}

// Answers that no real paper gives, and what the page then holds.
TEST_F(AcquisitionTest, EveryAnnouncedGeometryStaysInsideTheBuffer) {
    struct Case {
        const char* what;
        sim::ImageInfo info;
        std::vector<uint32_t> reads;
        uint32_t rowsHeld;
        uint64_t bufferSize;
    };
    const Case cases[] = {
        {"more image lines than scanner lines", {64, 3, 64, 10}, {24}, 3, 24 + 2048},
        {"fewer image lines than scanner lines", {64, 10, 64, 3}, {80}, 10, 80 + 2048},
        {"no pixels per scanner line", {0, 5, 64, 5}, {}, 0, 2048},
        {"no scanner lines", {64, 0, 64, 0}, {}, 0, 2048},
        {"rows much wider than the lines", {8, 4, 200, 4}, {4}, 4, 28 * 4 + 2048},
        {"wider rows over three chunks",
         {1240, 1000, 1240, 1000},
         {65410, 65410, 24180},
         1000,
         156 * 1000 + 2048},
        {"an image far wider than the lines",
         {800, 1500, 4000, 1500},
         {65500, 65500, 19000},
         1500,
         500 * 1500 + 2048},
        {"no image width", {64, 5, 0, 5}, {40}, 5, 40 + 2048},
    };
    for (const Case& c : cases) {
        sim::Reset();
        ReleasePageBuffer();
        ScannerAnnouncing(c.info.pixelsPerScannerLine, c.info.scannerLines, c.info.pixelsPerLine,
                          c.info.lines);
        ASSERT_EQ(AcquirePage(), 1) << c.what;
        EXPECT_EQ(sim::ReadDataCounts(), c.reads) << c.what;
        EXPECT_EQ(PageImage.rowsHeld, c.rowsHeld) << c.what;
        EXPECT_EQ(host::BlockSize(PageImage.bufferHandle), c.bufferSize) << c.what;
        EXPECT_EQ(PageDifferences(), 0u) << c.what;
        EXPECT_TRUE(boxes.empty()) << c.what;
    }
    // With no scanner lines the buffer is 2048 zero bytes and the scan is
    // started for 0 bytes.
    sim::Reset();
    ReleasePageBuffer();
    ScannerAnnouncing(64, 0, 64, 0);
    ASSERT_EQ(AcquirePage(), 1);
    EXPECT_EQ(host::BlockBytes(PageImage.bufferHandle), std::vector<uint8_t>(2048, 0));
    EXPECT_EQ(sim::BlocksWithOpcode(sim::kOpStartScan).at(0)[6], 0);
}

TEST_F(AcquisitionTest, ReadFailureShowsReadDataErrorThenScannerNotReady) {
    ScannerAnnouncing(2496, 700, 2480, 700).faults = {
        {sim::FaultKind::ShortRead, sim::kOpReadData, 2, 100}};
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Read Data Error", "Scanner not ready"}));
    ExpectDeviceBoxesKeptTheRules();
    EXPECT_EQ(PageImage.buffer, nullptr);
    EXPECT_EQ(PageImage.rowsHeld, 0u);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
    // The channel closed with the failed read: AbortScan and the status never went out.
    EXPECT_EQ(sim::ReadDataCounts().size(), 2u);
    EXPECT_EQ(sim::WrittenBlocks().back().bytes[1], sim::kOpReadData);
    EXPECT_EQ(host::CurrentCursor(), kCursorArrow);
}

TEST_F(AcquisitionTest, ConditionDuringTheThirdChunkEndsWithTheFinalStatusMessage) {
    sim::Device& scanner = ScannerAnnouncing(2496, 1000, 2480, 1000); // 5 chunks
    scanner.statusAfterReadData = 3;
    scanner.statusAfterValue = kStatusBusy;
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Scanner Busy"}));
    ExpectDeviceBoxesKeptTheRules();
    EXPECT_EQ(sim::ReadDataCounts().size(), 3u);
    EXPECT_EQ(scanner.abortCount, 1);
    EXPECT_EQ(PageImage.buffer, nullptr);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

TEST_F(AcquisitionTest, ConditionWithAReadyFinalStatusEndsWithoutAWord) {
    sim::Device& scanner = ScannerAnnouncing(2496, 1000, 2480, 1000);
    scanner.statusScript = {0, 0, 0, 5}; // probe, ready check, first chunk, second chunk
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(scanner.abortCount, 1);
    EXPECT_EQ(sim::ReadDataCounts().size(), 2u);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

TEST_F(AcquisitionTest, BadFinalStatusAfterACompletePageKeepsThePageForItsTransfer) {
    struct Case {
        std::vector<sim::Fault> faults;
        uint8_t finalStatus;
        std::string message;
    };
    // probe, ready check, the one chunk's status, then the final status.
    const Case cases[] = {
        {{}, 1, "Document JAM on machine"},
        {{}, 2, "Machine error"},
        {{}, 3, "Scanner Busy"},
        {{{sim::FaultKind::FailWrite, sim::kOpGetStatus, 4}}, 0, "Scanner not ready"},
    };
    for (const Case& c : cases) {
        sim::Reset();
        ReleasePageBuffer();
        boxes.clear();
        sim::Device& scanner = ScannerAnnouncing(64, 8, 64, 8);
        scanner.statusScript = {0, 0, 0, c.finalStatus};
        scanner.faults = c.faults;
        EXPECT_EQ(AcquirePage(), 0) << c.message;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.message});
        ExpectDeviceBoxesKeptTheRules();
        EXPECT_EQ(scanner.abortCount, 0) << c.message;
        ASSERT_NE(PageImage.buffer, nullptr) << c.message;
        EXPECT_EQ(PageDifferences(), 0u) << c.message;
    }
    ReleasePageBuffer();
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

TEST_F(AcquisitionTest, FailedSetUpCommandsShowMachineError) {
    for (uint8_t opcode : {sim::kOpSetScanParameters, sim::kOpGetImageInfo, sim::kOpStartScan}) {
        sim::Reset();
        boxes.clear();
        sim::AddScanner(0).faults = {{sim::FaultKind::FailWrite, opcode, 1}};
        EXPECT_EQ(AcquirePage(), 0) << sim::OpcodeName(opcode);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Machine error"}) << sim::OpcodeName(opcode);
        ExpectDeviceBoxesKeptTheRules();
        EXPECT_EQ(sim::CommandCount(sim::kOpReadData), 0);
        EXPECT_EQ(host::LiveBlockCount(), 0u);
    }
}

TEST_F(AcquisitionTest, DeviceChecksComeFirst) {
    struct Case {
        const char* what;
        bool scanner;
        uint8_t status;
        bool jam;
        int32_t duplex;
        std::string message;
    };
    const Case cases[] = {
        {"no scanner", false, 0, false, 0, "Scanner not ready"},
        {"busy", true, 3, false, 0, "Scanner Busy"},
        {"feeder jam", true, 0, true, 0, "Document JAM on machine"},
        {"duplex without paper", true, 0, false, 1, "ADF (duplex) No Paper"},
    };
    for (const Case& c : cases) {
        sim::Reset();
        boxes.clear();
        if (c.scanner) {
            sim::Device& scanner = sim::AddScanner(0);
            scanner.status = c.status;
            scanner.feederJam = c.jam;
        }
        ScanSettings.Duplex = c.duplex;
        EXPECT_EQ(AcquirePage(), 0) << c.what;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.message}) << c.what;
        ExpectDeviceBoxesKeptTheRules();
        EXPECT_EQ(sim::CommandCount(sim::kOpSetScanParameters), 0) << c.what;
    }
}

TEST_F(AcquisitionTest, UnallocatablePageIsAReadDataError) {
    sim::AddScanner(0);
    host::SetAllocationFailure([](uint32_t, size_t bytes, int) { return bytes > 4096; });
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Read Data Error", "Scanner not ready"}));
    ExpectDeviceBoxesKeptTheRules();
    EXPECT_EQ(sim::CommandCount(sim::kOpReadData), 0);
    EXPECT_EQ(host::LiveBlockCount(), 0u);

    // A block that cannot be locked is freed again.
    sim::Reset();
    boxes.clear();
    host::SetAllocationFailure([](uint32_t, size_t, int) { return false; });
    sim::AddScanner(0);
    host::FailNextLock();
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Read Data Error", "Scanner not ready"}));
    EXPECT_EQ(host::LiveBlockCount(), 0u);

    // Even a scan of no bytes needs its buffer.
    sim::Reset();
    boxes.clear();
    host::FailNextAllocation();
    ScannerAnnouncing(64, 0, 64, 0);
    EXPECT_EQ(AcquirePage(), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Read Data Error", "Scanner not ready"}));
}

TEST_F(AcquisitionTest, ScannerUnpluggedAtAnyStepLeavesNothingBehind) {
    // The calls of a two-chunk page on the device: open "\0", the descriptor,
    // open "\1" to "\3" (5); probe and ready check, a write and a read each
    // (9); the feeder (11); parameters, image information, start (15); two
    // chunks with their status (23); the final status (25).
    const std::vector<std::string> notReady = {"Scanner not ready"};
    const std::vector<std::string> machineError = {"Machine error"};
    const std::vector<std::string> readError = {"Read Data Error", "Scanner not ready"};
    for (int step = 1; step <= 26; ++step) {
        sim::Reset();
        ReleasePageBuffer();
        boxes.clear();
        ScannerAnnouncing(2496, 300, 2480, 300).unplugAtStep = step;
        const int result = AcquirePage();
        const std::vector<std::string> expected = step <= 9    ? notReady
                                                  : step <= 15 ? machineError
                                                  : step <= 23 ? readError
                                                  : step <= 25 ? notReady
                                                               : std::vector<std::string>{};
        EXPECT_EQ(result, step == 26 ? 1 : 0) << "unplugged at step " << step;
        EXPECT_EQ(BoxTexts(), expected) << "unplugged at step " << step;
        ExpectDeviceBoxesKeptTheRules();
        EXPECT_TRUE(ChannelClosed()) << step;
        // After a whole page the buffer stays for the transfer, whatever the final status.
        EXPECT_EQ(host::LiveBlockCount(), step >= 24 ? 1u : 0u) << "unplugged at step " << step;
        EXPECT_EQ(PageImage.buffer != nullptr, step >= 24) << step;
        EXPECT_TRUE(sim::ProtocolErrors().empty()) << step << "\n" << sim::ProtocolErrorText();
    }
}

TEST_F(AcquisitionTest, TransferCountOneBecomesZeroWhateverFollows) {
    CapabilityState.TransferCount = 1;
    EXPECT_EQ(AcquirePage(), 0); // no scanner
    EXPECT_EQ(CapabilityState.TransferCount, 0);
    boxes.clear();
    sim::AddScanner(0);
    CapabilityState.TransferCount = -1;
    EXPECT_EQ(AcquirePage(), 1);
    EXPECT_EQ(CapabilityState.TransferCount, -1);
    ReleasePageBuffer();
    CapabilityState.TransferCount = 2;
    EXPECT_EQ(AcquirePage(), 1);
    EXPECT_EQ(CapabilityState.TransferCount, 2);
}

TEST_F(AcquisitionTest, ProgressDialogTellsWhereThePageComesFrom) {
    struct Case {
        int32_t duplex;
        int sheets;
        std::string text;
        uint8_t adfFlag;
    };
    const Case cases[] = {
        {0, 0, "Flatbed Scanning, please wait", 0},
        {0, 2, "ADF Scanning, please wait", 1},
        {1, 2, "Duplex Scanning, please wait", 1},
    };
    for (const Case& c : cases) {
        sim::Reset();
        ReleasePageBuffer();
        sim::AddScanner(0).feederSheets = c.sheets;
        sim::Slot(0).imageInfoOverride = sim::ImageInfo{64, 4, 64, 4};
        ScanSettings.Duplex = c.duplex;
        ASSERT_EQ(AcquirePage(), 1) << c.text;
        EXPECT_EQ(ProgressText(), c.text);
        EXPECT_EQ(AdfFlag, c.adfFlag) << c.text;
        EXPECT_EQ(sim::Slot(0).feederSheets, c.sheets > 0 ? c.sheets - 1 : 0);
    }
}

TEST_F(AcquisitionTest, ProgressDialogLivesForTheReadsUnderAWaitCursor) {
    // The settings dialog as it remembered itself is the progress dialog's parent.
    RememberedDialogWindow =
        PlatformCreateDialog(ResourceModule, ResourceId(IDD_SPLASH), nullptr, WaitMess);
    ASSERT_NE(RememberedDialogWindow, nullptr);
    ScannerAnnouncing(64, 4, 64, 4);
    ASSERT_EQ(AcquirePage(), 1);
    int progressDialogs = 0;
    for (const host::WindowInfo& window : host::Windows()) {
        if (window.isDialog && window.templateName == IDD_SCANNING_NAME) {
            ++progressDialogs;
            EXPECT_EQ(window.parent, RememberedDialogWindow);
            EXPECT_EQ(window.module, ResourceModule);
            EXPECT_FALSE(window.modal);
            EXPECT_TRUE(window.destroyed);
        }
    }
    EXPECT_EQ(progressDialogs, 1);
    ASSERT_GE(host::CursorsSet().size(), 2u);
    EXPECT_EQ(host::CursorsSet()[host::CursorsSet().size() - 2], kCursorWait);
    EXPECT_EQ(host::CurrentCursor(), kCursorArrow);
    PlatformDestroyWindow(RememberedDialogWindow);
}

TEST_F(AcquisitionTest, PageLeftBehindIsReleasedByTheNextAcquisition) {
    ScannerAnnouncing(64, 4, 64, 4);
    ASSERT_EQ(AcquirePage(), 1);
    ASSERT_EQ(AcquirePage(), 1);
    EXPECT_EQ(host::LiveBlockCount(), 1u);
    EXPECT_EQ(PageImage.buffer[0], sim::ExpectedPageByte(2, 0, 0, 8));
}

} // namespace
