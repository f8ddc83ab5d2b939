// Native transfer: the page as a DIB in one block of global memory.
#pragma once

#include <cstdint>

#include "twain/entry.h"

constexpr uint32_t kBitmapInfoSize = 48; // BITMAPINFOHEADER and two palette entries
constexpr uint32_t kDibTrailingBytes = 96;

// The 48 bytes of bitmap information shared by the DIB and the BMP file.
void FillBitmapInfo(uint8_t* out);
TW_UINT16 BuildDib(TW_UINT32* handleOut);

TW_UINT16 NativeTransferOperation(TripletRequest* request);
