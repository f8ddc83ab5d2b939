#include "simulator/scanner_simulator.h"

#include <cstdio>

#include "simulator/simulator_state.h"

namespace sim {
namespace detail {

SimulatorRecord& State() {
    static SimulatorRecord record;
    return record;
}

void Log(int slot, const std::string& line) {
    State().transcript.push_back("[" + std::to_string(slot) + "] " + line);
}

void ProtocolError(int slot, const std::string& line) {
    std::string entry = "[" + std::to_string(slot) + "] " + line;
    State().protocolErrors.push_back(entry);
    State().transcript.push_back(entry.substr(0, entry.find(']') + 2) + "PROTOCOL ERROR: " + line);
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        if (i > 0) {
            text += ' ';
        }
        text += two;
    }
    return text;
}

} // namespace detail

using detail::State;

const char* OpcodeName(uint8_t opcode) {
    switch (opcode) {
    case kOpStartScan:
        return "StartScan";
    case kOpGetStatus:
        return "GetStatus";
    case kOpAbortScan:
        return "AbortScan";
    case kOpGetImageInfo:
        return "GetImageInfo";
    case kOpSetScanParameters:
        return "SetScanParameters";
    case kOpGetAdfStatus:
        return "GetAdfStatus";
    case kOpReadData:
        return "ReadData";
    default:
        return "unknown";
    }
}

void Reset() {
    State() = detail::SimulatorRecord{};
}

Device& Slot(int index) {
    if (index < 0 || index >= kSlotCount) {
        std::fprintf(stderr, "sim::Slot: no slot %d\n", index);
        index = 0;
    }
    return State().slots[static_cast<size_t>(index)];
}

Device& AddScanner(int index) {
    return AddDevice(index, kScannerProductId);
}

Device& AddDevice(int index, uint16_t productId) {
    Device& device = Slot(index);
    device = Device{};
    device.present = true;
    device.productId = productId;
    return device;
}

void Unplug(int index) {
    Device& device = Slot(index);
    if (!device.unplugged) {
        device.unplugged = true;
        detail::Log(index, "unplugged");
    }
}

void PlugIn(int index) {
    Device& device = Slot(index);
    if (device.unplugged) {
        device.unplugged = false;
        device.unplugAtStep = 0;
        detail::Log(index, "plugged in again");
    }
}

const std::vector<std::string>& Transcript() {
    return State().transcript;
}

std::string TranscriptText() {
    std::string text;
    for (const std::string& line : State().transcript) {
        text += line;
        text += '\n';
    }
    return text;
}

const std::vector<std::string>& ProtocolErrors() {
    return State().protocolErrors;
}

std::string ProtocolErrorText() {
    std::string text;
    for (const std::string& line : State().protocolErrors) {
        text += line;
        text += '\n';
    }
    return text;
}

const std::vector<WrittenBlock>& WrittenBlocks() {
    return State().blocks;
}

std::vector<std::vector<uint8_t>> BlocksWithOpcode(uint8_t opcode) {
    std::vector<std::vector<uint8_t>> found;
    for (const WrittenBlock& block : State().blocks) {
        if (block.accepted && block.bytes.size() > 1 && block.bytes[1] == opcode) {
            found.push_back(block.bytes);
        }
    }
    return found;
}

int CommandCount(uint8_t opcode) {
    return static_cast<int>(BlocksWithOpcode(opcode).size());
}

std::vector<uint32_t> ReadDataCounts() {
    std::vector<uint32_t> counts;
    for (const std::vector<uint8_t>& block : BlocksWithOpcode(kOpReadData)) {
        if (block.size() >= 10) {
            counts.push_back(
                static_cast<uint32_t>(block[6]) | (static_cast<uint32_t>(block[7]) << 8) |
                (static_cast<uint32_t>(block[8]) << 16) | (static_cast<uint32_t>(block[9]) << 24));
        }
    }
    return counts;
}

int OpenHandleCount() {
    int count = 0;
    for (const detail::HandleEntry& entry : State().handles) {
        count += entry.open ? 1 : 0;
    }
    return count;
}

ImageInfo CurrentImageInfo(const Device& device) {
    if (device.imageInfoOverride) {
        return *device.imageInfoOverride;
    }
    const uint32_t width = static_cast<uint32_t>(device.parameters[8]) |
                           (static_cast<uint32_t>(device.parameters[9]) << 8);
    const uint32_t height = static_cast<uint32_t>(device.parameters[10]) |
                            (static_cast<uint32_t>(device.parameters[11]) << 8);
    const uint32_t padding = device.linePadding == 0 ? 1 : device.linePadding;
    uint32_t scannerWidth = (width + padding - 1) / padding * padding;
    if (scannerWidth > 0xFFFF) {
        scannerWidth = 0xFFFF;
    }
    return ImageInfo{static_cast<uint16_t>(scannerWidth), static_cast<uint16_t>(height),
                     static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
}

uint8_t ScannerLineByte(uint32_t page, uint32_t line, uint32_t byteIndex) {
    uint32_t h = page * 0x27D4EB2Du ^ (line + 1) * 0x9E3779B1u ^ (byteIndex + 1) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<uint8_t>(h);
}

uint8_t ExpectedPageByte(uint32_t page, uint32_t row, uint32_t byteInRow,
                         uint32_t scannerBytesPerLine) {
    if (byteInRow >= scannerBytesPerLine) {
        return 0xFF;
    }
    return static_cast<uint8_t>(~ScannerLineByte(page, row, byteInRow));
}

bool ExpectedPagePixelWhite(uint32_t page, uint32_t row, uint32_t x, uint32_t scannerBytesPerLine) {
    const uint8_t byte = ExpectedPageByte(page, row, x / 8, scannerBytesPerLine);
    return (byte >> (7 - x % 8)) & 1;
}

} // namespace sim
