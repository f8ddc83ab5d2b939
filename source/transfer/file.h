// File transfer: the page as a BMP file.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "twain/entry.h"

constexpr uint32_t kBmpFileHeaderSize = 14;
constexpr uint32_t kBmpPixelOffset = kBmpFileHeaderSize + 48;
constexpr int kBufferStackDepth = 10;

// Locked scratch blocks handed out last in, first out; empty between calls.
struct BufferStackRecord {
    MemoryBlock handles[kBufferStackDepth];
    int count;
};
extern BufferStackRecord BufferStack;

void* PushBuffer(uint32_t size);
int PopBuffer();
TW_UINT16 WriteBmpFile(const char* name);

TW_UINT16 FileTransferOperation(TripletRequest* request);

void ResetFileTransferState();
