// The native transfer: the DIB block an application receives, byte for byte.
#include <algorithm>
#include <ostream>
#include <vector>

#include "transfer/native.h"
#include "transfer/transfer_support.h"
#include "twain/states.h"
#include "ui/settings.h"

namespace transfer_test {
namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

struct DibCase {
    const char* name;
    uint32_t pixelsPerLine;
    uint32_t lines;
    uint32_t rowsHeld;
    uint32_t resolution;
    uint32_t pelsPerMetre;
};

// Names the case in failure messages.
void PrintTo(const DibCase& c, std::ostream* out) {
    *out << c.name;
}

// Rows of a placed page are told apart by PlacedByte, pad bytes included.
void ExpectPlacedRowsBottomUp(const std::vector<uint8_t>& dib, uint32_t height, uint32_t stride) {
    for (uint32_t row = 0; row < height; ++row) {
        for (uint32_t byte = 0; byte < stride; ++byte) {
            ASSERT_EQ(dib[48 + size_t{height - 1 - row} * stride + byte], PlacedByte(row, byte))
                << "page row " << row << " byte " << byte;
        }
    }
}

void ExpectDibHeader(const std::vector<uint8_t>& dib, uint32_t width, uint32_t height,
                     uint32_t stride, uint32_t pelsPerMetre) {
    ASSERT_EQ(dib.size(), size_t{stride} * height + 144);
    EXPECT_EQ(Le32(dib, 0), 40u);
    EXPECT_EQ(Le32(dib, 4), width);
    EXPECT_EQ(Le32(dib, 8), height);
    EXPECT_EQ(Le16(dib, 12), 1u);
    EXPECT_EQ(Le16(dib, 14), 1u);
    EXPECT_EQ(Le32(dib, 16), 0u);
    EXPECT_EQ(Le32(dib, 20), stride * height);
    EXPECT_EQ(Le32(dib, 24), pelsPerMetre);
    EXPECT_EQ(Le32(dib, 28), pelsPerMetre);
    EXPECT_EQ(Le32(dib, 32), 2u);
    EXPECT_EQ(Le32(dib, 36), 0u);
    const std::vector<uint8_t> palette(dib.begin() + 40, dib.begin() + 48);
    EXPECT_EQ(palette, (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
    const std::vector<uint8_t> trailing(dib.end() - 96, dib.end());
    EXPECT_EQ(trailing, std::vector<uint8_t>(96, 0));
}

class BuildDibTest : public TransferTest, public ::testing::WithParamInterface<DibCase> {};

TEST_P(BuildDibTest, BlockHoldsHeaderPaletteRowsBottomUpAndTrailingZeros) {
    const DibCase& c = GetParam();
    PlacePage(c.pixelsPerLine, c.lines, c.rowsHeld, c.resolution);
    const uint32_t stride = StrideFor(c.pixelsPerLine);
    const uint32_t height = std::min(c.lines, c.rowsHeld);

    TW_UINT32 handle = kUntouched;
    ASSERT_EQ(BuildDib(&handle), TWRC_XFERDONE);
    MemoryBlock block = host::BlockFromHandleValue(handle);
    ASSERT_TRUE(host::Block(block).has_value());
    EXPECT_EQ(host::Block(block)->flags, GHND);
    EXPECT_EQ(host::Block(block)->locks, 0) << "handed over unlocked";
    const std::vector<uint8_t> dib = host::BlockBytes(block);

    ExpectDibHeader(dib, c.pixelsPerLine, height, stride, c.pelsPerMetre);
    ExpectPlacedRowsBottomUp(dib, height, stride);
    host::FreeApplicationBlock(block);
    ReleasePageBuffer();
}

INSTANTIATE_TEST_SUITE_P(Pages, BuildDibTest,
                         ::testing::Values(
                             // 100 pixels: 13 bytes of pixels, 3 pad bytes that travel unchanged.
                             DibCase{"Width100At150", 100, 6, 6, 150, 5905},
                             DibCase{"Width2496At300", 2496, 5, 5, 300, 11811},
                             DibCase{"Width33At600", 33, 4, 4, 600, 23622},
                             DibCase{"OneLine", 4960, 1, 1, 600, 23622},
                             // The page claims ten lines; the scanner filled six.
                             DibCase{"MoreLinesThanFilled", 100, 10, 6, 300, 11811},
                             DibCase{"NoLines", 100, 0, 0, 300, 11811}),
                         [](const ::testing::TestParamInfo<DibCase>& info) {
                             return std::string(info.param.name);
                         });

// Before any Scan or DAT_IMAGEINFO the page's resolution, bits per pixel and
// pixel mode are 0; the header carries the resolution the settings scanned at.
TEST_F(TransferTest, DibBeforeAnyScanTakesResolutionFromSettingsAndOneBitPerPixel) {
    const std::pair<int32_t, uint32_t> cases[] = {{0, 5905}, {1, 11811}, {2, 23622}};
    for (const auto& [index, pels] : cases) {
        ScanSettings.ResolutionIndex = index;
        PlacePage(40, 3, 3, 0);
        TW_UINT32 handle = 0;
        ASSERT_EQ(BuildDib(&handle), TWRC_XFERDONE);
        MemoryBlock block = host::BlockFromHandleValue(handle);
        const std::vector<uint8_t> dib = host::BlockBytes(block);
        ExpectDibHeader(dib, 40, 3, 8, pels);
        host::FreeApplicationBlock(block);
        ReleasePageBuffer();
    }
}

TEST_F(TransferTest, DibNotAllocatedOrNotLockedStoresZeroAndLeavesNoBlock) {
    PlacePage(100, 4, 4, 300);
    const size_t pageBlocks = host::LiveBlockCount();
    for (int fault = 0; fault < 2; ++fault) {
        if (fault == 0) {
            host::FailNextAllocation();
        } else {
            host::FailNextLock();
        }
        TW_UINT32 handle = kUntouched;
        EXPECT_EQ(BuildDib(&handle), TWRC_FAILURE);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(host::LiveBlockCount(), pageBlocks);
    }
    ReleasePageBuffer();
}

// ---- DG_IMAGE / DAT_IMAGENATIVEXFER through DS_Entry, with the simulated scanner

class NativeTransferTest : public TransferTest {
  protected:
    void SetUp() override {
        TransferTest::SetUp();
        OpenSource();
        SourceState = kStateTransferReady;
        // The settings as the INI file gave them; no Scan has set the page's resolution.
        ScanSettings.ResolutionIndex = 1;
    }
};

TEST_F(NativeTransferTest, ScannedPageArrivesUprightWithItsPadBytes) {
    // 100 pixels, lines sent 128 pixels wide: the pad bits are the scanner's own.
    const ScannedGeometry geometry = SetScannerImage(*scanner, 128, 50, 100, 50);
    PageImage.xResolution = PageImage.yResolution = 600; // as the Scan button sets them
    PageImage.bitsPerPixel = 1;
    PageImage.pixelMode = 600;
    TW_UINT32 handle = kUntouched;
    ASSERT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE) << LastBoxText();
    MemoryBlock block = host::BlockFromHandleValue(handle);
    const std::vector<uint8_t> dib = host::BlockBytes(block);
    ExpectDibHeader(dib, 100, 50, 16, 23622);
    ExpectBottomUpRowsOfPage(dib, 48, 1, 50, geometry);
    EXPECT_EQ(PageImage.buffer, nullptr) << "the page is released";
    EXPECT_EQ(SourceState, kStateTransferReady);
    EXPECT_EQ(BoxCount(), 0u);
    host::FreeApplicationBlock(block);
}

TEST_F(NativeTransferTest, PageWithMoreLinesThanSentDeliversTheRowsSent) {
    // Before any Scan: resolution from the settings' default, 300 dpi.
    const ScannedGeometry geometry = SetScannerImage(*scanner, 256, 30, 250, 40);
    TW_UINT32 handle = 0;
    ASSERT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE) << LastBoxText();
    MemoryBlock block = host::BlockFromHandleValue(handle);
    const std::vector<uint8_t> dib = host::BlockBytes(block);
    ExpectDibHeader(dib, 250, 30, 32, 11811);
    ExpectBottomUpRowsOfPage(dib, 48, 1, 30, geometry);
    host::FreeApplicationBlock(block);
}

TEST_F(NativeTransferTest, WrongStateFailsWithoutScanAndReleasesAHeldPage) {
    PlacePage(100, 4, 4, 300); // left over by an unfinished memory transfer
    SourceState = kStateEnabled;
    TW_UINT32 handle = kUntouched;
    EXPECT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(LastBoxText(), "General failure in response to DAT_IMAGENATIVEXFER.  "
                             "DG DAT MSG is out of expected sequence.");
    EXPECT_EQ(handle, kUntouched);
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
    EXPECT_EQ(PageImage.buffer, nullptr);
}

TEST_F(NativeTransferTest, OtherMessageFailsWithBadProtocolAndStoresNothing) {
    TW_UINT32 handle = kUntouched;
    EXPECT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_SET, &handle), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(LastBoxText(),
              "General failure in response to DAT_IMAGENATIVEXFER.  Bad protocol error.");
    EXPECT_EQ(handle, kUntouched);
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
}

TEST_F(NativeTransferTest, NullDataPointerFailsWithBadValueBeforeScanning) {
    EXPECT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(LastBoxText(), ""); // the application's mistake: no box
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
}

TEST_F(NativeTransferTest, FailedAcquisitionCancelsAndKeepsTheApplicationsValue) {
    scanner->status = 3; // busy
    TW_UINT32 handle = kUntouched;
    EXPECT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_CANCEL);
    EXPECT_EQ(handle, kUntouched);
    EXPECT_EQ(LastBoxText(), "Scanner Busy");
    EXPECT_EQ(PageImage.buffer, nullptr);
}

TEST_F(NativeTransferTest, DibOutOfMemoryFailsWithLowMemoryAndReleasesThePage) {
    SetScannerImage(*scanner, 64, 10, 64, 10);
    // The DIB of an 8 x 10-byte page: 80 bytes of rows and 144 around them.
    host::SetAllocationFailure(
        [](uint32_t flags, size_t bytes, int) { return flags == GHND && bytes == 80 + 144; });
    TW_UINT32 handle = kUntouched;
    EXPECT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_FAILURE);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(Condition(), TWCC_LOWMEMORY);
    EXPECT_EQ(LastBoxText(), "General failure in response to DAT_IMAGENATIVEXFER.  "
                             "Low Memory Condition encountered, free up some memory and try "
                             "again.");
    EXPECT_EQ(PageImage.buffer, nullptr);
    host::SetAllocationFailure(nullptr);
}

} // namespace
} // namespace transfer_test
