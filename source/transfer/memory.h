// Memory transfer: the page in strips of whole rows.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "twain/entry.h"

struct StripProgressRecord {
    int32_t RowsDelivered; // 0: the next call starts a new page
    int32_t RowsRemaining;
    uint32_t PageOffset;
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

// Unlock (when it stays locked) and free the source's strip buffer; used by the close.
void ReleaseSourceStripBuffer();

TW_UINT16 MemoryTransferOperation(TripletRequest* request);

void ResetMemoryTransferState();
