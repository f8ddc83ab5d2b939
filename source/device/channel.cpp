#include "device/channel.h"

ScannerChannelRecord ScannerChannel{kInvalidFile, kInvalidFile, kInvalidFile, kInvalidFile};

int OpenScannerChannel() { return -1; }
int CloseScannerChannel() { return 1; }
bool WritePipe(FileHandle, uint32_t, const void*) { return false; }
bool ReadPipe(FileHandle, uint32_t, void*) { return false; }
void ResetChannelState() {}
