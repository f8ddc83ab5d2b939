// Native transfer: the page as a DIB in one block of global memory.
#pragma once

#include <cstdint>

#include "twain/entry.h"

constexpr uint32_t kBitmapInfoSize = 48; // BITMAPINFOHEADER and two palette entries
constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kDibTrailingBytes = 96;

// The part of the held page that a transfer may hand over: the page's lines, but
// never more rows than the scanner filled; no rows without a page or a stride.
struct DeliveredPageRecord {
    const uint8_t* rows; // top row first, stride bytes apart
    uint32_t stride;
    uint32_t height;
    uint32_t width; // pixels; never more than a row of stride bytes holds
};
DeliveredPageRecord DeliveredPage();

// Dots per inch as the bitmap header carries them; 0 stays 0.
uint32_t PelsPerMetre(uint32_t dotsPerInch);

// The 48 bytes of bitmap information shared by the DIB and the BMP file.
void FillBitmapInfo(uint8_t* out);
TW_UINT16 BuildDib(TW_UINT32* handleOut);

TW_UINT16 NativeTransferOperation(TripletRequest* request);
