// The paper and resolution tables and the largest page.
#pragma once

#include <array>
#include <cstdint>

struct PaperRow {
    int nameStringId;
    uint16_t widthPixels; // at 600 dpi
    uint16_t heightPixels;
    int32_t widthHundredths; // hundredths of an inch
    int32_t heightHundredths;
};

struct PhysicalSizeRecord {
    int32_t width; // hundredths of an inch
    int32_t height;
};

constexpr std::array<int32_t, 3> ResolutionTable{150, 300, 600};
constexpr PhysicalSizeRecord PhysicalSize{1170, 1654};

// The pixel sizes come from the papers' whole millimetres at 600 dpi. 8K is
// 270 x 390 mm; its height, 9212.6 pixels, drops the fraction as A4's 210 mm
// (4960.6 pixels) does.
constexpr std::array<PaperRow, 19> PaperTable{{
    {80, 7015, 9921, 1170, 1654},  // A3L
    {81, 6078, 8598, 1012, 1433},  // B4L
    {82, 4960, 7015, 827, 1170},   // A4L
    {83, 4299, 6078, 717, 1012},   // B5L
    {84, 3496, 4960, 583, 827},    // A5L
    {85, 4795, 7795, 827, 1300},   // FLS L
    {86, 7015, 4960, 1170, 827},   // A4C
    {87, 6078, 4299, 1012, 717},   // B5C
    {88, 4960, 3496, 827, 583},    // A5C
    {89, 6590, 10204, 1100, 1700}, // Ledger L
    {90, 6590, 8409, 1100, 1400},  // 11x14 L
    {91, 5102, 8409, 850, 1400},   // Legal L
    {92, 5102, 6590, 850, 1100},   // Letter L
    {93, 3307, 5102, 550, 850},    // Half Letter L
    {94, 6590, 5102, 1100, 850},   // Letter C
    {95, 5102, 3307, 850, 550},    // Half Letter C
    {96, 6378, 9212, 1063, 1536},  // 8KL
    {97, 4606, 6378, 768, 1063},   // 16KL
    {98, 6378, 4606, 1063, 768},   // 16KC
}};
