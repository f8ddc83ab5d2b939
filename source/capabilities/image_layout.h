// DAT_IMAGELAYOUT: the frame of the selected paper in inches.
#pragma once

#include "twain/entry.h"

// One frame edge from a size in hundredths of an inch and its margin.
TW_FIX32 FrameEdge(int32_t hundredths, double margin);

TW_UINT16 ImageLayoutOperation(TripletRequest* request);
