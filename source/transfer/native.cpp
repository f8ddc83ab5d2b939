#include "transfer/native.h"

#include <algorithm>
#include <cstring>

#include "device/acquisition.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "twain/states.h"
#include "twain/status.h"
#include "ui/settings.h"
#include "ui/tables.h"

namespace {

constexpr uint32_t kPaletteSize = 8;
constexpr uint32_t kDibExtraBytes = kPaletteSize + 136; // the information, rows, trailing bytes
static_assert(kDibExtraBytes == kBitmapInfoSize + kDibTrailingBytes);

void PutLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, value);
    PutLe16(at + 2, value >> 16);
}

// Until the Scan button or DAT_IMAGEINFO has filled in the page's resolution, the
// page was still scanned at the resolution of the settings.
uint32_t PageResolution(uint32_t recorded) {
    if (recorded != 0) {
        return recorded;
    }
    const int32_t index = ScanSettings.ResolutionIndex;
    if (index < 0 || static_cast<size_t>(index) >= ResolutionTable.size()) {
        return 0;
    }
    return static_cast<uint32_t>(ResolutionTable[static_cast<size_t>(index)]);
}

} // namespace

DeliveredPageRecord DeliveredPage() {
    DeliveredPageRecord page{PageImage.buffer, PageImage.stride, 0, 0};
    if (page.rows != nullptr && page.stride != 0) {
        page.height = std::min(PageImage.lines, PageImage.rowsHeld);
        page.width = static_cast<uint32_t>(
            std::min<uint64_t>(PageImage.pixelsPerLine, uint64_t{page.stride} * 8));
    }
    return page;
}

uint32_t PelsPerMetre(uint32_t dotsPerInch) {
    return static_cast<uint32_t>(uint64_t{dotsPerInch} * 10000 / 254);
}

void FillBitmapInfo(uint8_t* out) {
    const DeliveredPageRecord page = DeliveredPage();
    std::memset(out, 0, kBitmapInfoSize);
    PutLe32(out + 0, kBitmapInfoHeaderSize);
    PutLe32(out + 4, page.width);
    PutLe32(out + 8, page.height); // positive: the rows are stored bottom-up
    PutLe16(out + 12, 1);
    // The page is one bit per pixel whatever the record says; before the first
    // Scan or DAT_IMAGEINFO the record still holds 0.
    PutLe16(out + 14, 1);
    PutLe32(out + 16, 0); // BI_RGB
    PutLe32(out + 20, page.stride * page.height);
    PutLe32(out + 24, PelsPerMetre(PageResolution(PageImage.xResolution)));
    PutLe32(out + 28, PelsPerMetre(PageResolution(PageImage.yResolution)));
    PutLe32(out + 32, 2);
    PutLe32(out + 36, 0);
    // Palette: index 0 black, index 1 white, as the page's set bits are white.
    const uint8_t white[4] = {255, 255, 255, 0};
    std::memcpy(out + 44, white, sizeof(white));
}

TW_UINT16 BuildDib(TW_UINT32* handleOut) {
    const DeliveredPageRecord page = DeliveredPage();
    const uint64_t imageSize = uint64_t{page.stride} * page.height;
    const uint64_t blockSize = imageSize + kDibExtraBytes;
    *handleOut = 0;
    if (blockSize > UINT32_MAX) {
        return TWRC_FAILURE;
    }
    MemoryBlock block = PlatformGlobalAlloc(GHND, static_cast<size_t>(blockSize));
    if (block == nullptr) {
        return TWRC_FAILURE;
    }
    auto* dib = static_cast<uint8_t*>(PlatformGlobalLock(block));
    if (dib == nullptr) {
        PlatformGlobalFree(block);
        return TWRC_FAILURE;
    }
    FillBitmapInfo(dib);
    // Bottom-up: the page's top row is the last row of the pixel array. The
    // trailing bytes stay as the zero-filled allocation left them.
    uint8_t* pixels = dib + kBitmapInfoSize;
    for (uint32_t k = 0; k < page.height; ++k) {
        std::memcpy(pixels + size_t{page.height - 1 - k} * page.stride,
                    page.rows + size_t{k} * page.stride, page.stride);
    }
    PlatformGlobalUnlock(block);
    *handleOut = static_cast<TW_UINT32>(reinterpret_cast<uintptr_t>(block));
    return TWRC_XFERDONE;
}

// DG_IMAGE / DAT_IMAGENATIVEXFER / MSG_GET.
TW_UINT16 NativeTransferOperation(TripletRequest* request) {
    TW_UINT16 result = TWRC_CANCEL;
    auto* handleOut = static_cast<TW_UINT32*>(request->data);
    if (SourceState != kStateTransferReady && SourceState != kStateTransferring) {
        result = TWRC_FAILURE;
        ConditionCode = TWCC_SEQERROR;
        ShowOperationFailure(IDS_OP_IMAGENATIVEXFER, TWCC_SEQERROR);
    } else if (request->message != MSG_GET) {
        result = TWRC_FAILURE;
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_IMAGENATIVEXFER, TWCC_BADPROTOCOL);
    } else if (handleOut == nullptr) {
        // Nowhere to put the bitmap: refused before a sheet is drawn in, without
        // a box, as the mistake is the application's.
        result = TWRC_FAILURE;
        ConditionCode = TWCC_BADVALUE;
    } else {
        // A page left over by an unfinished memory transfer gives way to the new one.
        ReleasePageBuffer();
        if (AcquirePage() != 0) {
            result = BuildDib(handleOut);
            if (result == TWRC_FAILURE) {
                ConditionCode = TWCC_LOWMEMORY;
                ShowOperationFailure(IDS_OP_IMAGENATIVEXFER, TWCC_LOWMEMORY);
            }
        }
    }
    ReleasePageBuffer();
    return result;
}
