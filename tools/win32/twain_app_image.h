// Pages as the application keeps them: BMP files built from a native DIB or
// from memory strips, with checksums that let the scripts compare the three
// transfer mechanisms byte for byte.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace twain_app {

inline uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

inline void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    memcpy(out.data() + at, &value, 2);
}
inline void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    memcpy(out.data() + at, &value, 4);
}
inline uint32_t Get32(const uint8_t* at) {
    uint32_t value;
    memcpy(&value, at, 4);
    return value;
}
inline uint16_t Get16(const uint8_t* at) {
    uint16_t value;
    memcpy(&value, at, 2);
    return value;
}

// What the scripts compare: the BMP bytes, the pixel rows alone, and the
// number of set bits inside the image width (white pixels of a 1-bit page).
struct PageSummary {
    bool valid = false;
    int32_t width = 0;
    int32_t height = 0;
    int bitsPerPixel = 0;
    uint32_t stride = 0;
    uint32_t bmpBytes = 0;
    uint32_t bmpCrc = 0;
    uint32_t pixelCrc = 0;
    uint64_t setBits = 0;
    std::string error;
};

inline uint64_t CountSetBits(const uint8_t* rows, uint32_t stride, int32_t width, int32_t height,
                             int bitsPerPixel) {
    if (bitsPerPixel != 1) {
        return 0;
    }
    uint64_t count = 0;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = rows + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x) {
            count += (row[x >> 3] >> (7 - (x & 7))) & 1;
        }
    }
    return count;
}

// Reads a whole BMP (file or memory) and fills the summary.
inline PageSummary SummariseBmp(const std::vector<uint8_t>& bmp) {
    PageSummary summary;
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') {
        summary.error = "not-a-bmp";
        return summary;
    }
    uint32_t offBits = Get32(&bmp[10]);
    int32_t width = static_cast<int32_t>(Get32(&bmp[18]));
    int32_t height = static_cast<int32_t>(Get32(&bmp[22]));
    int bpp = Get16(&bmp[28]);
    uint32_t stride = ((static_cast<uint32_t>(width < 0 ? -width : width) * bpp + 31) / 32) * 4;
    uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
    summary.width = width;
    summary.height = height;
    summary.bitsPerPixel = bpp;
    summary.stride = stride;
    summary.bmpBytes = static_cast<uint32_t>(bmp.size());
    summary.bmpCrc = Crc32(bmp.data(), bmp.size());
    uint64_t pixelBytes = static_cast<uint64_t>(stride) * rows;
    if (offBits > bmp.size() || pixelBytes > bmp.size() - offBits) {
        summary.error = "short-pixels";
        return summary;
    }
    summary.pixelCrc = Crc32(bmp.data() + offBits, static_cast<size_t>(pixelBytes));
    summary.setBits =
        CountSetBits(bmp.data() + offBits, stride, width, static_cast<int32_t>(rows), bpp);
    summary.valid = true;
    return summary;
}

inline uint32_t PixelsPerMeter(int dotsPerInch) {
    return dotsPerInch <= 0 ? 0 : static_cast<uint32_t>(dotsPerInch) * 10000u / 254u;
}

// A BMP from top-first rows of `stride` bytes, in the layout the source's own
// file transfer writes (a 40-byte header and, for 1 bit, a black and white
// palette), so that equal pages give equal files.
inline std::vector<uint8_t> BuildBmpFromRows(const uint8_t* rows, uint32_t stride, int32_t width,
                                             int32_t height, int bitsPerPixel, int xDpi, int yDpi) {
    uint32_t paletteEntries = bitsPerPixel == 1 ? 2 : bitsPerPixel == 8 ? 256 : 0;
    uint32_t bmpStride = ((static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32) * 4;
    uint32_t imageSize = bmpStride * static_cast<uint32_t>(height);
    uint32_t offBits = 14 + 40 + paletteEntries * 4;
    std::vector<uint8_t> out(offBits + imageSize, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, offBits + imageSize);
    Put32(out, 10, offBits);
    Put32(out, 14, 40);
    Put32(out, 18, static_cast<uint32_t>(width));
    Put32(out, 22, static_cast<uint32_t>(height));
    Put16(out, 26, 1);
    Put16(out, 28, static_cast<uint16_t>(bitsPerPixel));
    Put32(out, 34, imageSize);
    Put32(out, 38, PixelsPerMeter(xDpi));
    Put32(out, 42, PixelsPerMeter(yDpi));
    Put32(out, 46, paletteEntries);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        uint8_t level = static_cast<uint8_t>(paletteEntries == 2 ? (i ? 255 : 0) : i);
        out[54 + 4 * i] = level;
        out[55 + 4 * i] = level;
        out[56 + 4 * i] = level;
    }
    uint32_t copy = stride < bmpStride ? stride : bmpStride;
    for (int32_t k = 0; k < height; ++k) {
        uint8_t* target = out.data() + offBits + static_cast<size_t>(height - 1 - k) * bmpStride;
        const uint8_t* source = rows + static_cast<size_t>(k) * stride;
        if (bitsPerPixel == 24) {
            // Memory strips carry red, green, blue; a BMP holds blue, green, red.
            for (int32_t x = 0; x < width && static_cast<uint32_t>(3 * x + 2) < copy; ++x) {
                target[3 * x] = source[3 * x + 2];
                target[3 * x + 1] = source[3 * x + 1];
                target[3 * x + 2] = source[3 * x];
            }
        } else {
            memcpy(target, source, copy);
        }
    }
    return out;
}

inline bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

inline bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes->clear();
    if (fseek(file, 0, SEEK_END) == 0) {
        long size = ftell(file);
        if (size > 0) {
            bytes->reserve(static_cast<size_t>(size));
        }
        fseek(file, 0, SEEK_SET);
    }
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    fclose(file);
    return true;
}

inline std::string ExpandPattern(const std::string& pattern, int page) {
    std::string out = pattern;
    size_t at;
    while ((at = out.find("{n}")) != std::string::npos) {
        out.replace(at, 3, std::to_string(page));
    }
    return out;
}

} // namespace twain_app
