#include "device/acquisition.h"

PageImageRecord PageImage;

int AcquirePage() { return 0; }
uint8_t* ReadPage(uint32_t, uint32_t, uint16_t) { return nullptr; }
void ReleasePageBuffer() {}
void ResetAcquisitionState() {}
