#include "transfer/file.h"

#include "twain/not_built.h"

void* PushBuffer(uint32_t) { return nullptr; }
int PopBuffer() { return 0; }
TW_UINT16 WriteBmpFile(const char*) { return TWRC_FAILURE; }
TW_UINT16 FileTransferOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetFileTransferState() {}
