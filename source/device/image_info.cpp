#include "device/image_info.h"

#include "twain/not_built.h"

double FreeSpaceThresholdKb;

bool PreScan() { return false; }
bool CheckTempDiskSpace() { return false; }
TW_UINT16 ImageInfoOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetImageInfoState() {}
