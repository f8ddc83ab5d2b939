#include "capabilities/image_layout.h"

#include "twain/not_built.h"

TW_FIX32 FrameEdge(int32_t, double) { return TW_FIX32{0, 0}; }
TW_UINT16 ImageLayoutOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
