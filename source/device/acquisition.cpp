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

// Lines that arrived packed at `from` move down to their rows. Used while the
// rows are no wider than the lines, so each row lands at or before the place
// its line was read to and nothing not yet moved is overwritten.
void MoveChunkRows(uint8_t* buffer, uint64_t from, uint64_t bytes, uint32_t bytesPerLine,
                   uint32_t stride, uint64_t* rowPosition) {
    for (uint64_t line = from; line < from + bytes; line += bytesPerLine) {
        if (*rowPosition != line) {
            std::memmove(buffer + *rowPosition, buffer + line, stride);
        }
        *rowPosition += stride;
    }
}

// Rows wider than the scanner's lines: once every line is in, they spread out
// from the last to the first (each row lies at or after its line, so the lines
// still to move lie below it), and each row's bytes past the scanner's line
// are cleared, which the inversion makes white.
void SpreadRows(uint8_t* buffer, uint32_t lines, uint32_t bytesPerLine, uint32_t stride) {
    for (uint32_t k = lines; k-- > 0;) {
        uint8_t* row = buffer + uint64_t{k} * stride;
        std::memmove(row, buffer + uint64_t{k} * bytesPerLine, bytesPerLine);
        std::memset(row + bytesPerLine, 0, stride - bytesPerLine);
    }
}

// The scanner sends a set bit for black; the page keeps a set bit for white.
void InvertBytes(uint8_t* bytes, uint64_t count) {
    uint64_t i = 0;
    for (; i + sizeof(uint64_t) <= count; i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        word = ~word;
        std::memcpy(bytes + i, &word, sizeof word);
    }
    for (; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(~bytes[i]);
    }
}

} // namespace

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
    const bool rowsFitLines = stride <= scannerBytesPerLine;
    uint64_t remaining = total;
    uint64_t readPosition = 0;
    uint64_t rowPosition = 0;
    while (!failed && !condition && remaining > 0) {
        const uint64_t bytes = std::min(remaining, chunk);
        const ReadOutcome outcome = ReadData(buffer + readPosition, static_cast<int64_t>(bytes));
        failed = outcome == ReadOutcome::Failed;
        condition = outcome == ReadOutcome::Condition;
        if (outcome != ReadOutcome::Done) {
            break;
        }
        if (rowsFitLines) {
            MoveChunkRows(buffer, readPosition, bytes, scannerBytesPerLine, stride, &rowPosition);
        }
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
    if (!rowsFitLines) {
        SpreadRows(buffer, rowsFilled, scannerBytesPerLine, stride);
    }
    InvertBytes(buffer, rowBytes);
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
