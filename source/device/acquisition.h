// Page acquisition: one page from the scanner into memory.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The acquired page and its geometry; at most one page exists at a time.
struct PageImageRecord {
    MemoryBlock bufferHandle; // the locked movable block, or null
    uint8_t* buffer;          // its locked address, or null
    uint32_t rowsHeld;        // rows of stride bytes the buffer holds and the scanner filled
    uint32_t pixelsPerLine;
    uint32_t lines;
    uint16_t stride;
    uint32_t scannerBytesPerLine;
    uint32_t scannerLines;
    uint32_t bitsPerPixel;
    uint32_t pixelMode;
    uint32_t xResolution;
    uint32_t yResolution;
};
extern PageImageRecord PageImage;

// Bytes per row of the page: the row's pixels in whole bytes, rounded up to 4.
uint16_t RowStride(uint32_t pixelsPerLine);

int AcquirePage(); // 1 page acquired, 0 not (the user has been told why)
// Reads the announced lines into a new page buffer and returns its locked
// address, recording its handle and rowsHeld in PageImage (the page held
// before must have been released); null after a failed read (channel closed,
// 120 shown) or a device condition (channel left open), PageImage untouched.
uint8_t* ReadPage(uint32_t scannerBytesPerLine, uint32_t scannerLines, uint16_t stride);
// Unlock and free the page buffer, if one is held, and forget it.
void ReleasePageBuffer();

void ResetAcquisitionState();
