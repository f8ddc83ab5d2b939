// expected_page: the page a TWAIN application should receive from the
// simulated scanner, as a BMP file, computed on the host from the simulator's
// own page model and the papers' sizes, without any of the data source's code.
// The end-to-end checks compare what the application under Wine received
// (native, memory or file transfer) with it byte for byte.
//
//   expected_page --paper INDEX --dpi 150|300|600 --page N [--line-padding P]
//                 --out FILE
//
//   --paper         the paper index of the settings dialog's list (0 "A3L" to
//                   18 "16KC")
//   --dpi           the resolution
//   --page          which scan of the simulated scanner this is: 1 for the
//                   first page it scanned since the server started, and so on
//   --line-padding  the scanner's line width rounding (the server's
//                   SLOT.line-padding, default the simulator's)
//
// The file: a 14-byte file header (bfOffBits 62), the 40-byte
// BITMAPINFOHEADER of a 1-bit bottom-up bitmap (biSizeImage = stride x lines,
// pels per metre = dpi x 10000 / 254, two colours), the palette black, white,
// then the rows, the page's top row last. Prints the geometry on stdout:
// "width=W height=H stride=S scanner_bytes_per_line=B bytes=N".
// Exit status: 0 written, 1 the file could not be written, 2 a bad command line.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "simulator/scanner_simulator.h"

namespace {

// The 19 papers in 600-dpi pixels, width and height, in the order of the
// settings dialog's paper list.
struct Paper {
    const char* name;
    uint16_t width;
    uint16_t height;
};
constexpr Paper kPapers[] = {
    {"A3L", 7015, 9921},           {"B4L", 6078, 8598},           {"A4L", 4960, 7015},
    {"B5L", 4299, 6078},           {"A5L", 3496, 4960},           {"FLS L", 4795, 7795},
    {"A4C", 7015, 4960},           {"B5C", 6078, 4299},           {"A5C", 4960, 3496},
    {"Ledger L", 6590, 10204},     {"11x14 L", 6590, 8409},       {"Legal L", 5102, 8409},
    {"Letter L", 5102, 6590},      {"Half Letter L", 3307, 5102}, {"Letter C", 6590, 5102},
    {"Half Letter C", 5102, 3307}, {"8KL", 6378, 9212},           {"16KL", 4606, 6378},
    {"16KC", 6378, 4606},
};
constexpr int kPaperCount = sizeof kPapers / sizeof kPapers[0];

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kPaletteBytes = 8;
constexpr uint32_t kPixelsOffset = kFileHeaderBytes + kInfoHeaderBytes + kPaletteBytes;

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool ParseNumber(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return *text != '\0' && end != nullptr && *end == '\0';
}

int Usage(const char* why) {
    std::fprintf(stderr, "expected_page: %s\n", why);
    std::fprintf(stderr, "usage: expected_page --paper INDEX --dpi 150|300|600 --page N "
                         "[--line-padding P] --out FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    long paper = -1;
    long dpi = 0;
    long page = 0;
    long padding = sim::Device{}.linePadding;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return Usage((option + " needs a value").c_str());
        }
        const char* value = argv[++i];
        long* number = option == "--paper"          ? &paper
                       : option == "--dpi"          ? &dpi
                       : option == "--page"         ? &page
                       : option == "--line-padding" ? &padding
                                                    : nullptr;
        if (option == "--out") {
            out = value;
        } else if (number == nullptr || !ParseNumber(value, number)) {
            return Usage(("cannot read " + option + " " + value).c_str());
        }
    }
    if (paper < 0 || paper >= kPaperCount || (dpi != 150 && dpi != 300 && dpi != 600) || page < 1 ||
        padding < 1 || padding > 0xFFFF || out.empty()) {
        return Usage("--paper 0 to 18, --dpi 150, 300 or 600, --page from 1 and --out are needed");
    }

    // The scan window the scanner is asked for: the 600-dpi size divided by
    // 4, 2 or 1, each side rounded down; the simulator answers its geometry.
    const int shift = dpi == 150 ? 2 : dpi == 300 ? 1 : 0;
    sim::Device device;
    device.linePadding = static_cast<uint16_t>(padding);
    const uint16_t windowWidth = static_cast<uint16_t>(kPapers[paper].width >> shift);
    const uint16_t windowHeight = static_cast<uint16_t>(kPapers[paper].height >> shift);
    device.parameters[8] = static_cast<uint8_t>(windowWidth);
    device.parameters[9] = static_cast<uint8_t>(windowWidth >> 8);
    device.parameters[10] = static_cast<uint8_t>(windowHeight);
    device.parameters[11] = static_cast<uint8_t>(windowHeight >> 8);
    const sim::ImageInfo info = sim::CurrentImageInfo(device);

    const uint32_t width = info.pixelsPerLine;
    const uint32_t lines = info.lines;
    const uint32_t scannerBytesPerLine = (info.pixelsPerScannerLine + 7u) / 8u;
    const uint32_t stride = ((width + 7u) / 8u + 3u) / 4u * 4u;
    const uint32_t imageBytes = stride * lines;
    const uint32_t pelsPerMetre = static_cast<uint32_t>(dpi) * 10000u / 254u;

    std::vector<uint8_t> bmp(kPixelsOffset + imageBytes, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put32(bmp, 2, kPixelsOffset + imageBytes);
    Put32(bmp, 10, kPixelsOffset);
    Put32(bmp, 14, kInfoHeaderBytes);
    Put32(bmp, 18, width);
    Put32(bmp, 22, lines);
    Put16(bmp, 26, 1);
    Put16(bmp, 28, 1);
    Put32(bmp, 34, imageBytes);
    Put32(bmp, 38, pelsPerMetre);
    Put32(bmp, 42, pelsPerMetre);
    Put32(bmp, 46, 2);
    // Palette entry 0 stays black; entry 1 is white.
    bmp[58] = bmp[59] = bmp[60] = 0xFF;
    for (uint32_t row = 0; row < lines; ++row) {
        uint8_t* target =
            bmp.data() + kPixelsOffset + static_cast<size_t>(lines - 1 - row) * stride;
        for (uint32_t byte = 0; byte < stride; ++byte) {
            target[byte] =
                sim::ExpectedPageByte(static_cast<uint32_t>(page), row, byte, scannerBytesPerLine);
        }
    }

    FILE* file = std::fopen(out.c_str(), "wb");
    if (file == nullptr) {
        std::perror(out.c_str());
        return 1;
    }
    const bool written = std::fwrite(bmp.data(), 1, bmp.size(), file) == bmp.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(out.c_str());
        return 1;
    }
    std::printf("width=%u height=%u stride=%u scanner_bytes_per_line=%u bytes=%zu\n", width, lines,
                stride, scannerBytesPerLine, bmp.size());
    return 0;
}
