// Shared by the transfer tests: a loaded source on the host simulation with one
// simulated scanner, pages placed by hand or scanned by the simulator, and
// readers for the bytes an application receives.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/acquisition.h"
#include "platform/host/host_platform.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "twain/twain.h"

namespace transfer_test {

// A field of a packed TWAIN record, read by value so that no reference to a
// misaligned member is formed.
template <typename T> constexpr T Copy(T value) {
    return value;
}

inline uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}
inline uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return Le16(bytes, at) | static_cast<uint32_t>(Le16(bytes, at + 2)) << 16;
}

// The stride the scanner's pages have: whole bytes, rounded up to four.
constexpr uint32_t StrideFor(uint32_t pixels) {
    return ((pixels + 7) / 8 + 3) / 4 * 4;
}

// A byte of a hand-placed page: differs by row and by place, pad bytes included.
constexpr uint8_t PlacedByte(uint32_t row, uint32_t byte) {
    return static_cast<uint8_t>(row * 7 + byte * 13 + 0x5A);
}

// Puts a page into PageImage as acquisition leaves it: a locked movable block
// of rowsHeld rows (plus the acquisition's 2048 spare bytes), the rest of the
// geometry as given. Resolution 0 leaves bits per pixel and pixel mode at 0 too.
void PlacePage(uint32_t pixelsPerLine, uint32_t lines, uint32_t rowsHeld, uint32_t resolution);

// What an application sees of the geometry of a scanned page.
struct ScannedGeometry {
    uint32_t pixelsPerLine;
    uint32_t lines;
    uint32_t stride;
    uint32_t scannerBytesPerLine;
};

// Makes the simulated scanner answer this image information for every scan.
ScannedGeometry SetScannerImage(sim::Device& device, uint16_t pixelsPerScannerLine,
                                uint16_t scannerLines, uint16_t pixelsPerLine, uint16_t lines);

// Checks a bottom-up pixel array of `height` rows of `stride` bytes against
// page `page` of the simulator, pixel by pixel and pad byte by pad byte.
void ExpectBottomUpRowsOfPage(const std::vector<uint8_t>& bytes, size_t pixelsAt, uint32_t page,
                              uint32_t height, const ScannedGeometry& geometry);

// A loaded source with a ready scanner in slot 0; OpenSource opens it.
class TransferTest : public SourceTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    TW_UINT16 Control(TW_UINT16 dat, TW_UINT16 message, void* data) {
        return Call(DG_CONTROL, dat, message, data);
    }
    TW_UINT16 Image(TW_UINT16 dat, TW_UINT16 message, void* data) {
        return Call(DG_IMAGE, dat, message, data);
    }
    // MSG_OPENDS through DS_Entry; the scanner in slot 0 must be ready. The
    // fixture closes the source again at the end.
    void OpenSource();
    void CloseSource();
    TW_UINT16 Condition();
    // The text of the last message box, or "" when none was shown.
    std::string LastBoxText() const;
    size_t BoxCount() const { return host::MessageBoxes().size(); }

    sim::Device* scanner = nullptr;
    bool open = false;
};

} // namespace transfer_test
