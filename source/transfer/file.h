// File transfer: the page as a BMP file.
#pragma once

#include <cstdint>

#include "twain/entry.h"

void* PushBuffer(uint32_t size);
int PopBuffer();
TW_UINT16 WriteBmpFile(const char* name);

TW_UINT16 FileTransferOperation(TripletRequest* request);

void ResetFileTransferState();
