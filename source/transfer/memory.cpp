#include "transfer/memory.h"

#include <algorithm>
#include <cstring>

#include "device/acquisition.h"
#include "resources/resource_ids.h"
#include "transfer/native.h"
#include "twain/status.h"

StripProgressRecord StripProgress = {0, 0, 0, nullptr, 0, 0};
SourceStripBufferRecord SourceStripBuffer = {nullptr, nullptr, 0, 0};
MemoryBlock LockedAppHandle = nullptr;

namespace {

// The source's own buffer is a little larger than the application asked for.
constexpr uint32_t kSourceBufferSlack = 10;
constexpr uint32_t kOwnerBits = TWMF_APPOWNS | TWMF_DSMOWNS | TWMF_DSOWNS;
// Lengths are divided as signed 32-bit values; from 2 GiB up they have no meaning.
constexpr uint32_t kLargestLength = INT32_MAX;

struct StripDestination {
    uint8_t* address;
    uint32_t capacity;       // bytes that may be written at the address
    bool unlockSourceBuffer; // this call locked a buffer that does not stay locked
};

TW_UINT16 Refuse(TW_UINT16 code) {
    ConditionCode = code;
    ShowOperationFailure(IDS_OP_IMAGEMEMXFER, code);
    return TWRC_FAILURE;
}

bool IsSourceOwned(TW_UINT32 flags) {
    return (flags & kOwnerBits) == TWMF_DSOWNS;
}

// The application's buffer, by address or by handle; a pointer wins when both are set.
bool ChooseApplicationBuffer(TW_IMAGEMEMXFER* transfer, StripDestination* destination) {
    const TW_UINT32 flags = transfer->Memory.Flags;
    const uint32_t length = transfer->Memory.Length;
    if ((flags & TWMF_POINTER) != 0) {
        destination->address = static_cast<uint8_t*>(transfer->Memory.TheMem);
        destination->capacity = length;
        return destination->address != nullptr;
    }
    MemoryBlock handle = transfer->Memory.TheMem;
    if (handle == nullptr) {
        return false;
    }
    auto* address = static_cast<uint8_t*>(PlatformGlobalLock(handle));
    if (address == nullptr) {
        return false;
    }
    LockedAppHandle = handle;
    destination->address = address;
    // A handle tells its own size: a Length beyond it is not written past.
    const size_t blockSize = PlatformGlobalSize(handle);
    destination->capacity = static_cast<uint32_t>(std::min<size_t>(length, blockSize));
    return true;
}

// The source's own buffer: made for the first strip of a page at that strip's
// Length, and handed to the application by address or by handle.
bool ChooseSourceBuffer(TW_IMAGEMEMXFER* transfer, StripDestination* destination) {
    const TW_UINT32 flags = transfer->Memory.Flags;
    const uint32_t length = transfer->Memory.Length;
    const bool firstStrip = StripProgress.RowsDelivered == 0;
    if (firstStrip) {
        ReleaseSourceStripBuffer();
        MemoryBlock handle = PlatformGlobalAlloc(GPTR, size_t{length} + kSourceBufferSlack);
        if (handle != nullptr) {
            SourceStripBuffer.handle = handle;
            SourceStripBuffer.size = length + kSourceBufferSlack;
            SourceStripBuffer.StaysLocked = (flags & TWMF_POINTER) != 0 ? 1 : 0;
        }
    }
    if (SourceStripBuffer.handle == nullptr) {
        return false;
    }
    bool lockedNow = false;
    if (firstStrip || SourceStripBuffer.StaysLocked == 0) {
        SourceStripBuffer.address = PlatformGlobalLock(SourceStripBuffer.handle);
        lockedNow = true;
    }
    if (SourceStripBuffer.address == nullptr) {
        PlatformGlobalFree(SourceStripBuffer.handle);
        SourceStripBuffer = {nullptr, nullptr, 0, 0};
        return false;
    }
    if ((flags & TWMF_POINTER) != 0) {
        transfer->Memory.TheMem = SourceStripBuffer.address;
    } else {
        transfer->Memory.TheMem = SourceStripBuffer.handle;
    }
    destination->address = static_cast<uint8_t*>(SourceStripBuffer.address);
    // A later strip asking for more than the first one never runs past the buffer.
    destination->capacity = std::min(length, SourceStripBuffer.size);
    destination->unlockSourceBuffer = lockedNow && SourceStripBuffer.StaysLocked == 0;
    return true;
}

void UnlockAfterStrip(const StripDestination& destination) {
    if (LockedAppHandle != nullptr) {
        PlatformGlobalUnlock(LockedAppHandle);
        LockedAppHandle = nullptr;
    }
    if (destination.unlockSourceBuffer) {
        PlatformGlobalUnlock(SourceStripBuffer.handle);
    }
}

void StartPageProgress() {
    const DeliveredPageRecord page = DeliveredPage();
    StripProgress.RowsRemaining = static_cast<int32_t>(std::min<uint32_t>(page.height, INT32_MAX));
    StripProgress.PageOffset = 0;
    StripProgress.page = page.rows;
    StripProgress.stride = page.stride;
    StripProgress.columns = page.width;
}

} // namespace

void ReleaseSourceStripBuffer() {
    if (SourceStripBuffer.handle == nullptr) {
        return;
    }
    if (SourceStripBuffer.StaysLocked != 0) {
        PlatformGlobalUnlock(SourceStripBuffer.handle);
    }
    PlatformGlobalFree(SourceStripBuffer.handle);
    SourceStripBuffer = {nullptr, nullptr, 0, 0};
}

// DG_IMAGE / DAT_IMAGEMEMXFER / MSG_GET: one strip of whole rows per call.
TW_UINT16 MemoryTransferOperation(TripletRequest* request) {
    auto* transfer = static_cast<TW_IMAGEMEMXFER*>(request->data);
    // Requests that cannot be served are refused before a sheet is drawn in; a
    // missing record is the application's mistake and gets no box.
    if (transfer == nullptr) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    if (transfer->Memory.Length > kLargestLength) {
        return Refuse(TWCC_BADVALUE);
    }
    // A native or file transfer in between has delivered and released the page
    // these strips came from; its remaining rows no longer exist.
    if (StripProgress.RowsDelivered != 0 &&
        (PageImage.buffer == nullptr || PageImage.buffer != StripProgress.page)) {
        StripProgress.RowsDelivered = 0;
        return Refuse(TWCC_SEQERROR);
    }

    TW_UINT16 result = TWRC_SUCCESS;
    transfer->XOffset = 0;
    transfer->Compression = TWCP_NONE;
    transfer->YOffset = static_cast<TW_UINT32>(StripProgress.RowsDelivered);

    if (StripProgress.RowsDelivered == 0) {
        // A page still held from a failed request gives way to the new one.
        ReleasePageBuffer();
        if (AcquirePage() == 0) {
            ReleasePageBuffer();
            return TWRC_CANCEL;
        }
        StartPageProgress();
    }

    // Every call past the acquisition leaves this code, a good strip included.
    ConditionCode = TWCC_BUMMER;
    if (request->message != MSG_GET) {
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_IMAGEMEMXFER, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }

    StripDestination destination{nullptr, 0, false};
    const TW_UINT32 flags = transfer->Memory.Flags;
    bool chosen = false;
    if ((flags & (TWMF_POINTER | TWMF_HANDLE)) != 0) {
        chosen = IsSourceOwned(flags) ? ChooseSourceBuffer(transfer, &destination)
                                      : ChooseApplicationBuffer(transfer, &destination);
    }
    if (!chosen) {
        StripProgress.RowsDelivered = 0;
        return TWRC_FAILURE;
    }

    // Page and strip share the stride, so the strip's rows are one contiguous run.
    const uint32_t stride = StripProgress.stride;
    uint32_t rows = stride == 0 ? 0 : destination.capacity / stride;
    rows = std::min(rows, static_cast<uint32_t>(StripProgress.RowsRemaining));
    const uint32_t bytes = rows * stride;
    if (bytes != 0) {
        std::memcpy(destination.address, StripProgress.page + StripProgress.PageOffset, bytes);
    }

    StripProgress.RowsDelivered += static_cast<int32_t>(rows);
    StripProgress.RowsRemaining -= static_cast<int32_t>(rows);
    StripProgress.PageOffset += bytes;
    transfer->Compression = TWCP_NONE;
    transfer->BytesPerRow = stride;
    transfer->BytesWritten = bytes;
    transfer->Rows = rows;
    transfer->Columns = StripProgress.columns;
    UnlockAfterStrip(destination);

    if (StripProgress.RowsRemaining == 0) {
        result = TWRC_XFERDONE;
        ReleasePageBuffer();
        StripProgress.RowsDelivered = 0;
    }
    return result;
}

void ResetMemoryTransferState() {
    StripProgress = {0, 0, 0, nullptr, 0, 0};
    SourceStripBuffer = {nullptr, nullptr, 0, 0};
    LockedAppHandle = nullptr;
}
