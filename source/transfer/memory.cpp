#include "transfer/memory.h"

#include "twain/not_built.h"

StripProgressRecord StripProgress;
SourceStripBufferRecord SourceStripBuffer;

void ReleaseSourceStripBuffer() {}
TW_UINT16 MemoryTransferOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetMemoryTransferState() {}
