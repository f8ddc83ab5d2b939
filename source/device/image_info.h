// DAT_IMAGEINFO and the pre-scan.
#pragma once

#include "twain/entry.h"

extern double FreeSpaceThresholdKb;

bool PreScan();
bool CheckTempDiskSpace(); // true when the temporary drive is too full (message shown)

TW_UINT16 ImageInfoOperation(TripletRequest* request);

void ResetImageInfoState();
