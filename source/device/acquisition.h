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
// How ReadPage turns the lines it reads into the page's rows: the lines of
// each read go to buffer + lineBase + the bytes read before, and are moved to
// their rows and inverted as soon as they are in.
struct PagePlacementRecord {
    uint32_t bytesPerLine; // the scanner's
    uint32_t stride;
    uint64_t lineBase;    // where the first line is read to
    uint64_t rowPosition; // where the next row begins
};
PagePlacementRecord StartPagePlacement(uint32_t scannerBytesPerLine, uint32_t rows,
                                       uint16_t stride);
// The whole lines of one read, at buffer + from, to their rows.
void PlaceReadLines(uint8_t* buffer, uint64_t from, uint64_t bytes, PagePlacementRecord* placement);
// Unlock and free the page buffer, if one is held, and forget it.
void ReleasePageBuffer();

void ResetAcquisitionState();
