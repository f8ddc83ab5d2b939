#include "device/acquisition.h"

#include <algorithm>
#include <cstring>

#include "capabilities/capabilities.h"
#include "device/channel.h"
#include "device/commands.h"
#include "resources/resource_ids.h"
#include "twain/startup.h"
#include "twain/status.h"
#include "ui/settings.h"
#include "ui/settings_dialog.h"
#include "ui/small_dialogs.h"

PageImageRecord PageImage;

namespace {

// Room behind the page that the buffer has always had.
constexpr uint64_t kPageSlack = 2048;
constexpr int kProgressTextSize = 70;

uint32_t Le16(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8);
}

// The progress dialog and the wait cursor live for one ReadPage.
WindowHandle OpenProgress() {
    WindowHandle dialog = PlatformCreateDialog(ResourceModule, IDD_SCANNING_NAME,
                                               RememberedDialogWindow, ScanningDlg);
    PlatformSetCursor(PlatformLoadCursor(kCursorWait));
    return dialog;
}

void ShowProgressText(WindowHandle dialog) {
    if (dialog == nullptr) {
        return;
    }
    int textId = IDS_PROGRESS_FLATBED;
    if (ScanSettings.Duplex != 0) {
        textId = IDS_PROGRESS_DUPLEX;
    } else if (AdfFlag != 0) {
        textId = IDS_PROGRESS_ADF;
    }
    char text[kProgressTextSize] = {};
    // Without the text the template's own "Scanning..." stays.
    if (PlatformLoadString(ResourceModule, static_cast<uint32_t>(textId), text, sizeof text) > 0) {
        PlatformSetDlgItemText(dialog, IDC_PROGRESS_TEXT, text);
    }
}

void CloseProgress(WindowHandle dialog) {
    if (dialog != nullptr) {
        PlatformDestroyWindow(dialog);
    }
    PlatformSetCursor(PlatformLoadCursor(kCursorArrow));
}

void FreeBlock(MemoryBlock block, bool locked) {
    if (block == nullptr) {
        return;
    }
    if (locked) {
        PlatformGlobalUnlock(block);
    }
    PlatformGlobalFree(block);
}

// The scanner sends a set bit for black; the page keeps a set bit for white.
// Plain byte loops, which the compiler turns into vector code: the whole page
// goes through here.
void InvertInPlace(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(~bytes[i]);
    }
}

// Front to back, a word at a time (lines are short, so this beats the vector
// loop and its overlap checks): `to` may lie before `from` in the same buffer,
// as each word is read before the place it lands on is written.
void CopyInverted(uint8_t* to, const uint8_t* from, size_t count) {
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= count; i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, from + i, sizeof word);
        word = ~word;
        std::memcpy(to + i, &word, sizeof word);
    }
    for (; i < count; ++i) {
        to[i] = static_cast<uint8_t>(~from[i]);
    }
}

} // namespace

PagePlacementRecord StartPagePlacement(uint32_t scannerBytesPerLine, uint32_t rows,
                                       uint16_t stride) {
    const uint64_t total = uint64_t{scannerBytesPerLine} * rows;
    const uint64_t rowBytes = uint64_t{stride} * rows;
    // Rows wider than the lines: the lines are read to the end of the rows'
    // span, so that filling each row from the front never reaches a line not
    // yet moved, nor a place a later read still goes to.
    const uint64_t lineBase = rowBytes > total ? rowBytes - total : 0;
    return PagePlacementRecord{scannerBytesPerLine, stride, lineBase, 0};
}

void PlaceReadLines(uint8_t* buffer, uint64_t from, uint64_t bytes,
                    PagePlacementRecord* placement) {
    const uint32_t bytesPerLine = placement->bytesPerLine;
    const uint32_t stride = placement->stride;
    if (bytesPerLine == 0) {
        return;
    }
    if (stride == bytesPerLine && placement->rowPosition == from) {
        // The rows are where the lines were read to: only the inversion is left.
        InvertInPlace(buffer + from, static_cast<size_t>(bytes));
        placement->rowPosition += bytes;
        return;
    }
    const uint32_t kept = std::min(stride, bytesPerLine);
    for (uint64_t line = from; line < from + bytes; line += bytesPerLine) {
        uint8_t* row = buffer + placement->rowPosition;
        CopyInverted(row, buffer + line, kept);
        // Past the scanner's line a wider row is white.
        if (stride > kept) {
            std::memset(row + kept, 0xFF, stride - kept);
        }
        placement->rowPosition += stride;
    }
}
uint16_t RowStride(uint32_t pixelsPerLine) {
    return static_cast<uint16_t>(((pixelsPerLine + 7) / 8 + 3) / 4 * 4);
}

uint8_t* ReadPage(uint32_t scannerBytesPerLine, uint32_t scannerLines, uint16_t stride) {
    // A line width of 0 fills no row, whatever the number of lines.
    const uint32_t rowsFilled = scannerBytesPerLine > 0 ? scannerLines : 0;
    const uint64_t total = uint64_t{scannerBytesPerLine} * scannerLines;
    const uint64_t rowBytes = uint64_t{stride} * rowsFilled;
    const uint64_t bufferBytes = std::max(total, rowBytes) + kPageSlack;
    const uint64_t chunk =
        scannerBytesPerLine > 0 ? kMaxReadDataCount / scannerBytesPerLine * scannerBytesPerLine : 0;

    WindowHandle dialog = OpenProgress();
    MemoryBlock block = nullptr;
    if (static_cast<uint64_t>(static_cast<size_t>(bufferBytes)) == bufferBytes) {
        block =
            PlatformGlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<size_t>(bufferBytes));
    }
    uint8_t* buffer = block != nullptr ? static_cast<uint8_t*>(PlatformGlobalLock(block)) : nullptr;
    ShowProgressText(dialog);

    bool failed = buffer == nullptr;
    bool condition = false;
    // Each read is whole lines; they move to their rows and are inverted while
    // they are still fresh in the cache, so the page is passed over only once.
    PagePlacementRecord placement = StartPagePlacement(scannerBytesPerLine, rowsFilled, stride);
    uint64_t remaining = total;
    uint64_t readPosition = placement.lineBase;
    while (!failed && !condition && remaining > 0) {
        const uint64_t bytes = std::min(remaining, chunk);
        const ReadOutcome outcome = ReadData(buffer + readPosition, static_cast<int64_t>(bytes));
        failed = outcome == ReadOutcome::Failed;
        condition = outcome == ReadOutcome::Condition;
        if (outcome != ReadOutcome::Done) {
            break;
        }
        PlaceReadLines(buffer, readPosition, bytes, &placement);
        remaining -= bytes;
        readPosition += bytes;
    }

    if (failed || condition) {
        FreeBlock(block, buffer != nullptr);
        CloseProgress(dialog);
        if (failed) {
            CloseChannelAndTell(IDS_READ_DATA_ERROR);
        }
        return nullptr;
    }
    CloseProgress(dialog);
    PageImage.bufferHandle = block;
    PageImage.rowsHeld = rowsFilled;
    return buffer;
}

int AcquirePage() {
    if (CapabilityState.TransferCount == 1) {
        CapabilityState.TransferCount = 0;
    }
    if (!CheckScannerReady()) {
        return 0;
    }
    if (!CheckFeeder()) {
        return 0;
    }
    BuildScanParameters();
    if (!SetScanParameters(ScanParameterBlock)) {
        CloseChannelAndTell(IDS_MACHINE_ERROR);
        return 0;
    }
    if (!GetImageInfo(CommandBuffer)) {
        CloseChannelAndTell(IDS_MACHINE_ERROR);
        return 0;
    }
    PageImage.scannerBytesPerLine = (Le16(CommandBuffer) + 7) / 8;
    PageImage.scannerLines = Le16(CommandBuffer + 2);
    PageImage.pixelsPerLine = Le16(CommandBuffer + 4);
    PageImage.lines = Le16(CommandBuffer + 6);
    PageImage.stride = RowStride(PageImage.pixelsPerLine);
    if (!StartScan(PageImage.scannerBytesPerLine * PageImage.scannerLines)) {
        CloseChannelAndTell(IDS_MACHINE_ERROR);
        return 0;
    }
    // The transfers release their page before they ask for the next; one
    // left behind is released here rather than lost.
    ReleasePageBuffer();
    PageImage.buffer =
        ReadPage(PageImage.scannerBytesPerLine, PageImage.scannerLines, PageImage.stride);
    if (PageImage.buffer == nullptr) {
        AbortScan();
    }
    if (!GetStatus(CommandBuffer)) {
        CloseChannelAndTell(IDS_SCANNER_NOT_READY);
        return 0;
    }
    if (const int message = DeviceStatusMessage(CommandBuffer[0]); message != 0) {
        CloseChannelAndTell(message);
        return 0;
    }
    CloseScannerChannel();
    return PageImage.buffer != nullptr ? 1 : 0;
}

void ReleasePageBuffer() {
    if (PageImage.bufferHandle != nullptr) {
        PlatformGlobalUnlock(PageImage.bufferHandle);
        PlatformGlobalFree(PageImage.bufferHandle);
    }
    PageImage.bufferHandle = nullptr;
    PageImage.buffer = nullptr;
    PageImage.rowsHeld = 0;
}

void ResetAcquisitionState() {
    PageImage = PageImageRecord{};
}
