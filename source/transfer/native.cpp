#include "transfer/native.h"

#include "twain/not_built.h"

void FillBitmapInfo(uint8_t*) {}
TW_UINT16 BuildDib(TW_UINT32*) { return TWRC_FAILURE; }
TW_UINT16 NativeTransferOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
