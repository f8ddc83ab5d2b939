// Memory transfer: the page in strips of whole rows.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "twain/entry.h"

// Owned by the memory transfer; only the last strip of a page and a failed
// destination put RowsDelivered back to 0. Lives while the library is loaded.
struct StripProgressRecord {
    int32_t RowsDelivered; // 0: the next call starts a new page
    int32_t RowsRemaining;
    uint32_t PageOffset;
    // The page these strips come from, as it was when its first strip began: a
    // pre-scan in between rewrites the page's geometry, not its buffer.
    const uint8_t* page;
    uint32_t stride;
    uint32_t columns;
};
extern StripProgressRecord StripProgress;

// The buffer the source provides for TWMF_DSOWNS; lives until replaced or closed.
struct SourceStripBufferRecord {
    MemoryBlock handle;
    void* address;
    int32_t StaysLocked;
    uint32_t size; // bytes allocated
};
extern SourceStripBufferRecord SourceStripBuffer;

// The application's handle the current call locked, if any; unlocked before it returns.
extern MemoryBlock LockedAppHandle;

// Unlock (when it stays locked) and free the source's strip buffer; used by the close.
void ReleaseSourceStripBuffer();

TW_UINT16 MemoryTransferOperation(TripletRequest* request);

void ResetMemoryTransferState();
