// The usbscan channel to the scanner: device handle and three pipes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint16_t kScannerProductId = 0x302C;
constexpr int kUsbscanDeviceCount = 15;

// The four handles; each open or kInvalidFile. Pipe 1 open marks the channel open.
struct ScannerChannelRecord {
    FileHandle device;
    FileHandle pipe1;
    FileHandle pipe2; // commands
    FileHandle pipe3; // answers and image data
};
extern ScannerChannelRecord ScannerChannel;

int OpenScannerChannel();  // 0 open, -1 no scanner
int CloseScannerChannel(); // always 1
bool WritePipe(FileHandle pipe, uint32_t size, const void* buffer);
bool ReadPipe(FileHandle pipe, uint32_t size, void* buffer);

void ResetChannelState();
