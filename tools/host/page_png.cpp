// page_png: the PNG preview of a scanned page. Reads a 1-bit BMP (a page as
// the data source delivers it: a 40-byte BITMAPINFOHEADER, two palette
// entries, rows of whole 32-bit words) and writes the same pixels as a 1-bit
// greyscale PNG, top row first. The page's pixels do not compress, so the
// image data goes into stored deflate blocks: no library needed, and any
// page size works, the A3 page at 600 dpi (7015 x 9921) included, which
// ImageMagick's default resource limits refuse.
//
//   page_png IN.bmp OUT.png
//
// Exit status: 0 written, 1 the input is not such a BMP or a file failed,
// 2 a bad command line.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t Read16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void Append32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            table[n] = c;
        }
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void AppendChunk(std::vector<uint8_t>& png, const char type[4], const std::vector<uint8_t>& data) {
    Append32(png, static_cast<uint32_t>(data.size()));
    const size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Append32(png, Crc32(png.data() + typeAt, 4 + data.size(), 0));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each).
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        out.push_back(at + length == raw.size() ? 1 : 0);
        out.push_back(static_cast<uint8_t>(length));
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(~length));
        out.push_back(static_cast<uint8_t>(~length >> 8));
        out.insert(out.end(), raw.begin() + static_cast<long>(at),
                   raw.begin() + static_cast<long>(at + length));
        at += length;
    } while (at < raw.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Append32(out, b << 16 | a);
    return out;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "page_png: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: page_png IN.bmp OUT.png\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    if (bmp.size() < 62 || bmp[0] != 'B' || bmp[1] != 'M' || Read32(bmp, 14) != 40) {
        return Fail(std::string(argv[1]) + " is not a BMP with a 40-byte header");
    }
    const uint32_t offBits = Read32(bmp, 10);
    const int32_t width = static_cast<int32_t>(Read32(bmp, 18));
    const int32_t height = static_cast<int32_t>(Read32(bmp, 22));
    if (Read16(bmp, 28) != 1 || Read32(bmp, 30) != 0 || width <= 0 || height == 0) {
        return Fail("only uncompressed 1-bit pages are taken");
    }
    const uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
    const uint32_t stride = (static_cast<uint32_t>(width) + 31u) / 32u * 4u;
    const uint32_t rowBytes = (static_cast<uint32_t>(width) + 7u) / 8u;
    if (offBits < 62 || offBits > bmp.size() || (bmp.size() - offBits) / stride < rows) {
        return Fail("the pixel rows are cut short");
    }
    // Palette index 1 white, 0 black; a file with the reverse palette is inverted.
    const uint8_t flip = bmp[54] > bmp[58] ? 0xFF : 0x00;

    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(rows) * (rowBytes + 1));
    for (uint32_t y = 0; y < rows; ++y) {
        const uint32_t bmpRow = height > 0 ? rows - 1 - y : y; // positive height: bottom-up
        const uint8_t* row = bmp.data() + offBits + static_cast<size_t>(bmpRow) * stride;
        raw.push_back(0); // filter type none
        for (uint32_t i = 0; i < rowBytes; ++i) {
            raw.push_back(static_cast<uint8_t>(row[i] ^ flip));
        }
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Append32(header, static_cast<uint32_t>(width));
    Append32(header, rows);
    header.insert(header.end(),
                  {1, 0, 0, 0, 0}); // 1 bit, greyscale, deflate, no filter, no interlace
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", StoredZlib(raw));
    AppendChunk(png, "IEND", {});

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out) {
        return Fail(std::string("cannot write ") + argv[2]);
    }
    return 0;
}
