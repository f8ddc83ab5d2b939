#include "transfer/transfer_support.h"

#include "twain/entry.h"
#include "twain/states.h"
#include "twain/status.h"

namespace transfer_test {

void PlacePage(uint32_t pixelsPerLine, uint32_t lines, uint32_t rowsHeld, uint32_t resolution) {
    const uint32_t stride = StrideFor(pixelsPerLine);
    MemoryBlock block =
        PlatformGlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size_t{stride} * rowsHeld + 2048);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<uint8_t*>(PlatformGlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    for (uint32_t row = 0; row < rowsHeld; ++row) {
        for (uint32_t byte = 0; byte < stride; ++byte) {
            bytes[size_t{row} * stride + byte] = PlacedByte(row, byte);
        }
    }
    PageImage.bufferHandle = block;
    PageImage.buffer = bytes;
    PageImage.rowsHeld = rowsHeld;
    PageImage.pixelsPerLine = pixelsPerLine;
    PageImage.lines = lines;
    PageImage.stride = static_cast<uint16_t>(stride);
    PageImage.scannerBytesPerLine = stride;
    PageImage.scannerLines = rowsHeld;
    PageImage.bitsPerPixel = resolution == 0 ? 0 : 1;
    PageImage.pixelMode = resolution == 0 ? 0 : 600;
    PageImage.xResolution = resolution;
    PageImage.yResolution = resolution;
}

ScannedGeometry SetScannerImage(sim::Device& device, uint16_t pixelsPerScannerLine,
                                uint16_t scannerLines, uint16_t pixelsPerLine, uint16_t lines) {
    device.imageInfoOverride =
        sim::ImageInfo{pixelsPerScannerLine, scannerLines, pixelsPerLine, lines};
    return {pixelsPerLine, lines, StrideFor(pixelsPerLine),
            static_cast<uint32_t>((pixelsPerScannerLine + 7) / 8)};
}

void ExpectBottomUpRowsOfPage(const std::vector<uint8_t>& bytes, size_t pixelsAt, uint32_t page,
                              uint32_t height, const ScannedGeometry& geometry) {
    ASSERT_GE(bytes.size(), pixelsAt + size_t{height} * geometry.stride);
    for (uint32_t row = 0; row < height; ++row) {
        const size_t rowAt = pixelsAt + size_t{height - 1 - row} * geometry.stride;
        for (uint32_t x = 0; x < geometry.pixelsPerLine; ++x) {
            const bool white = (bytes[rowAt + x / 8] >> (7 - x % 8) & 1) != 0;
            if (white != sim::ExpectedPagePixelWhite(page, row, x, geometry.scannerBytesPerLine)) {
                ADD_FAILURE() << "page row " << row << " pixel " << x;
                return;
            }
        }
        // The bits past the last pixel travel as the page buffer holds them.
        for (uint32_t byte = geometry.pixelsPerLine / 8; byte < geometry.stride; ++byte) {
            ASSERT_EQ(bytes[rowAt + byte],
                      sim::ExpectedPageByte(page, row, byte, geometry.scannerBytesPerLine))
                << "page row " << row << " byte " << byte;
        }
    }
}

void TransferTest::SetUp() {
    SourceTest::SetUp();
    sim::Reset();
    scanner = &sim::AddScanner(0);
}

void TransferTest::TearDown() {
    if (open) {
        CloseSource();
    }
    EXPECT_EQ(sim::ProtocolErrorText(), "");
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    SourceTest::TearDown();
    sim::Reset();
}

void TransferTest::OpenSource() {
    ASSERT_EQ(SourceTest::OpenSource(), TWRC_SUCCESS) << LastBoxText();
    open = true;
}

void TransferTest::CloseSource() {
    SourceState = kStateOpen;
    EXPECT_EQ(SourceTest::CloseSource(), TWRC_SUCCESS) << LastBoxText();
    open = false;
}

TW_UINT16 TransferTest::Condition() {
    TW_STATUS status{0xFFFF, 0xFFFF};
    EXPECT_EQ(Control(DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    return status.ConditionCode;
}

std::string TransferTest::LastBoxText() const {
    return host::MessageBoxes().empty() ? std::string() : host::MessageBoxes().back().text;
}

} // namespace transfer_test
