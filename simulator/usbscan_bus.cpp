// The device side of the usbscan names: handles, the descriptor request and
// the command protocol of the simulated scanners.
#include "simulator/usbscan_bus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "simulator/scanner_simulator.h"
#include "simulator/simulator_state.h"

namespace sim {
namespace {

using detail::HandleEntry;
using detail::Hex;
using detail::Log;
using detail::ProtocolError;
using detail::State;

uint32_t Le16(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8);
}
uint32_t Le32(const uint8_t* bytes) {
    return Le16(bytes) | (Le16(bytes + 2) << 16);
}
void PutLe16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// "\\.\Usbscan<N>\<K>", N 0 to 14 and K 0 to 3, letters in any case.
bool ParseName(const char* name, int* slot, int* pipe) {
    if (name == nullptr) {
        return false;
    }
    const char* prefix = "\\\\.\\usbscan";
    const size_t prefixLength = std::strlen(prefix);
    for (size_t i = 0; i < prefixLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) {
            return false;
        }
    }
    const char* p = name + prefixLength;
    int number = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 3) {
        number = number * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || (digits > 1 && name[prefixLength] == '0') || *p != '\\' || p[1] < '0' ||
        p[1] > '3' || p[2] != '\0') {
        return false;
    }
    *slot = number;
    *pipe = p[1] - '0';
    return true;
}

// The entry of an open handle, or null after recording the misuse.
HandleEntry* OpenEntry(uint32_t handle, const char* use) {
    auto& handles = State().handles;
    if (handle == 0 || handle > handles.size() || !handles[handle - 1].open) {
        ProtocolError(-1, std::string(use) + " on handle " + std::to_string(handle) +
                              ", which is not open");
        return nullptr;
    }
    return &handles[handle - 1];
}

// Counts one call on the device; false when the device is (or now becomes) unplugged.
bool Step(int slot) {
    Device& device = Slot(slot);
    ++device.steps;
    if (device.unplugAtStep > 0 && device.steps >= device.unplugAtStep) {
        Unplug(slot);
    }
    return !device.unplugged;
}

// The bytes of a block that a command names, after the fixed header.
uint32_t NamedParameterEnd(uint8_t opcode) {
    switch (opcode) {
    case kOpStartScan:
        return 11;
    case kOpSetScanParameters:
        return 19;
    case kOpReadData:
        return 10;
    default:
        return 6;
    }
}

int LengthByte(uint8_t opcode) {
    switch (opcode) {
    case kOpStartScan:
        return 4;
    case kOpGetStatus:
        return 1;
    case kOpAbortScan:
        return 0;
    case kOpGetImageInfo:
        return 8;
    case kOpSetScanParameters:
        return 13;
    case kOpGetAdfStatus:
        return 10;
    case kOpReadData:
        return 4;
    default:
        return -1;
    }
}

// Every rule a block breaks, as protocol errors; true when it keeps them all.
bool CheckBlock(int slot, const uint8_t* block) {
    const uint8_t opcode = block[1];
    const std::string name = OpcodeName(opcode);
    bool good = true;
    auto fail = [&](const std::string& why) {
        ProtocolError(slot, name + " block: " + why + " [" + Hex(block, 20) + " ...]");
        good = false;
    };
    if (block[0] != 0x03) {
        fail("byte 0 is " + Hex(block, 1) + ", not 03");
    }
    const int length = LengthByte(opcode);
    if (length < 0) {
        fail("opcode " + Hex(block + 1, 1) + " is not a command");
        return false;
    }
    if (block[2] != length) {
        fail("length byte " + std::to_string(block[2]) + ", not " + std::to_string(length));
    }
    for (uint32_t i = 3; i < kBlockSize; ++i) {
        const bool named = i >= 6 && i < NamedParameterEnd(opcode);
        if (!named && block[i] != 0) {
            fail("byte " + std::to_string(i) + " is " + Hex(block + i, 1) + ", not 00");
        }
    }
    if (opcode == kOpStartScan && block[10] != 0x01) {
        fail("byte 10 is " + Hex(block + 10, 1) + ", not 01");
    }
    if (opcode == kOpReadData) {
        const uint32_t count = Le32(block + 6);
        if (count < 1 || count > kMaxReadCount) {
            fail("count " + std::to_string(count) + " outside 1 to 65535");
        }
    }
    if (opcode == kOpSetScanParameters) {
        const uint8_t* p = block + 6;
        if (p[0] > 2) {
            fail("resolution index " + std::to_string(p[0]));
        }
        if (p[1] > 1) {
            fail("scan type " + std::to_string(p[1]));
        }
        if (p[2] < 1 || p[2] > 9) {
            fail("brightness level " + std::to_string(p[2]) + " outside 1 to 9");
        }
        if (p[3] > 18) {
            fail("paper index " + std::to_string(p[3]));
        }
        if (p[4] != 0 || p[5] != 0 || p[6] != 0 || p[7] != 0) {
            fail("parameter bytes 4 to 7 are not zero");
        }
        if (p[12] > 1) {
            fail("duplex " + std::to_string(p[12]));
        }
    }
    return good;
}

const char* StatusMeaning(uint8_t status) {
    switch (status) {
    case 0:
        return "ready";
    case 1:
        return "paper jam";
    case 2:
        return "machine error";
    case 3:
        return "busy";
    default:
        return "other";
    }
}

std::string DescribeImageInfo(const ImageInfo& info) {
    return "scanner line " + std::to_string(info.pixelsPerScannerLine) + " px x " +
           std::to_string(info.scannerLines) + " lines, image " +
           std::to_string(info.pixelsPerLine) + " x " + std::to_string(info.lines);
}

// Carries out a well-formed block and returns its answer; `line` gets the
// transcript text behind the command's name.
std::vector<uint8_t> Execute(int slot, Device& device, const uint8_t* block, std::string& line,
                             bool& answerShort) {
    std::vector<uint8_t> answer;
    switch (block[1]) {
    case kOpGetStatus: {
        uint8_t status = device.status;
        if (!device.statusScript.empty()) {
            status = device.statusScript.front();
            device.statusScript.pop_front();
        }
        answer.push_back(status);
        line = " -> " + Hex(&status, 1) + " " + StatusMeaning(status);
        break;
    }
    case kOpAbortScan:
        line = device.scanActive ? " (scan at " + std::to_string(device.scanRead) + " of " +
                                       std::to_string(device.scanTotal) + " bytes)"
                                 : " (no scan running)";
        device.scanActive = false;
        ++device.abortCount;
        break;
    case kOpGetImageInfo: {
        const ImageInfo info = CurrentImageInfo(device);
        device.announced = info;
        PutLe16(answer, info.pixelsPerScannerLine);
        PutLe16(answer, info.scannerLines);
        PutLe16(answer, info.pixelsPerLine);
        PutLe16(answer, info.lines);
        line = " -> " + DescribeImageInfo(info);
        break;
    }
    case kOpSetScanParameters: {
        std::copy(block + 6, block + 19, device.parameters.begin());
        device.parametersSet = true;
        device.announced.reset();
        const uint8_t* p = block + 6;
        static constexpr int kDpi[3] = {150, 300, 600};
        line = " " + std::to_string(kDpi[p[0]]) + " dpi, type " + std::to_string(p[1]) +
               ", brightness level " + std::to_string(p[2]) + ", paper " + std::to_string(p[3]) +
               ", window " + std::to_string(Le16(p + 8)) + " x " + std::to_string(Le16(p + 10)) +
               ", duplex " + std::to_string(p[12]);
        break;
    }
    case kOpGetAdfStatus: {
        std::array<uint8_t, 10> status{};
        if (!device.feederScript.empty()) {
            status = device.feederScript.front();
            device.feederScript.pop_front();
        } else {
            status[0] = device.duplexUnit ? 0x80 : 0x00;
            status[1] = static_cast<uint8_t>((device.feederSheets > 0 ? 0x01 : 0x00) |
                                             (device.feederJam ? 0x02 : 0x00));
        }
        answer.assign(status.begin(), status.end());
        line = " -> " + Hex(status.data(), status.size());
        line += (status[0] & 0x80) ? " duplex unit" : " no duplex unit";
        line += (status[1] & 0x01) ? ", paper" : ", no paper";
        line += (status[1] & 0x02) ? ", jam" : "";
        break;
    }
    case kOpStartScan: {
        const uint32_t total = Le32(block + 6);
        const ImageInfo info = device.announced ? *device.announced : CurrentImageInfo(device);
        const uint32_t bytesPerLine = (static_cast<uint32_t>(info.pixelsPerScannerLine) + 7) / 8;
        const uint32_t expected = bytesPerLine * info.scannerLines;
        line = " total " + std::to_string(total);
        if (total != expected) {
            ProtocolError(slot, "StartScan total " + std::to_string(total) +
                                    ", the image information announces " +
                                    std::to_string(expected) + " (" + DescribeImageInfo(info) +
                                    ")");
        }
        if (device.scanActive) {
            line += " (the previous scan stopped at " + std::to_string(device.scanRead) + " of " +
                    std::to_string(device.scanTotal) + " bytes)";
        }
        device.scanActive = true;
        device.scanTotal = total;
        device.scanRead = 0;
        device.scanBytesPerLine = bytesPerLine;
        ++device.pageNumber;
        if (device.feederSheets > 0) {
            --device.feederSheets;
            line += ", sheet from the feeder (" + std::to_string(device.feederSheets) + " left)";
        }
        line += ", page " + std::to_string(device.pageNumber);
        if (total == 0) {
            device.scanActive = false;
            ++device.pagesCompleted;
        }
        break;
    }
    case kOpReadData: {
        const uint32_t count = Le32(block + 6);
        line = " " + std::to_string(count);
        if (!device.scanActive) {
            ProtocolError(slot, "ReadData " + std::to_string(count) + " with no scan running");
            line += " -> nothing (no scan running)";
            break;
        }
        const uint32_t remaining = device.scanTotal - device.scanRead;
        uint32_t served = count;
        if (count > remaining) {
            ProtocolError(slot, "ReadData " + std::to_string(count) + " with only " +
                                    std::to_string(remaining) + " bytes of the scan left");
            served = remaining;
            answerShort = true; // the one error is enough; the short read follows from it
        }
        answer.resize(served);
        const uint32_t bytesPerLine = device.scanBytesPerLine == 0 ? 1 : device.scanBytesPerLine;
        // Line and place advance with the bytes; a division for each would
        // cost more than the bytes themselves.
        uint32_t scannerLine = device.scanRead / bytesPerLine;
        uint32_t byteInLine = device.scanRead % bytesPerLine;
        for (uint32_t i = 0; i < served; ++i) {
            answer[i] = ScannerLineByte(device.pageNumber, scannerLine, byteInLine);
            if (++byteInLine == bytesPerLine) {
                byteInLine = 0;
                ++scannerLine;
            }
        }
        line += " -> " + std::to_string(served) + " bytes at " + std::to_string(device.scanRead);
        device.scanRead += served;
        ++device.readDataCount;
        if (device.statusAfterReadData > 0 && device.readDataCount == device.statusAfterReadData) {
            device.status = device.statusAfterValue;
            line += ", status now " + Hex(&device.status, 1);
        }
        if (device.scanRead == device.scanTotal) {
            device.scanActive = false;
            ++device.pagesCompleted;
            line += ", page complete";
        }
        break;
    }
    default:
        break;
    }
    return answer;
}

} // namespace

uint32_t UsbscanOpen(const char* name) {
    int slot = 0;
    int pipe = 0;
    if (!ParseName(name, &slot, &pipe) || slot >= kSlotCount) {
        Log(-1, std::string("open ") + (name ? name : "(null)") + " -> no such name");
        return 0;
    }
    Device& device = Slot(slot);
    if (!device.present) {
        Log(slot, std::string("open ") + name + " -> no device");
        return 0;
    }
    if (!Step(slot)) {
        Log(slot, std::string("open ") + name + " -> fails, unplugged");
        return 0;
    }
    if ((device.refuseOpenMask >> pipe) & 1) {
        Log(slot, std::string("open ") + name + " -> refused");
        return 0;
    }
    auto& handles = State().handles;
    handles.push_back(HandleEntry{slot, pipe, true});
    ++device.opens[static_cast<size_t>(pipe)];
    const uint32_t handle = static_cast<uint32_t>(handles.size());
    Log(slot, std::string("open ") + name + " -> h" + std::to_string(handle));
    return handle;
}

void UsbscanClose(uint32_t handle) {
    HandleEntry* entry = OpenEntry(handle, "close");
    if (entry == nullptr) {
        return;
    }
    entry->open = false;
    Log(entry->slot, "close \\" + std::to_string(entry->pipe) + " h" + std::to_string(handle));
}

bool UsbscanIoctl(uint32_t handle, uint32_t code, void* out, uint32_t outSize, uint32_t* returned) {
    if (returned != nullptr) {
        *returned = 0;
    }
    HandleEntry* entry = OpenEntry(handle, "device control");
    if (entry == nullptr) {
        return false;
    }
    const int slot = entry->slot;
    Device& device = Slot(slot);
    if (entry->pipe != 0) {
        ProtocolError(slot, "device control on pipe " + std::to_string(entry->pipe));
        return false;
    }
    if (!Step(slot)) {
        Log(slot, "descriptor request -> fails, unplugged");
        return false;
    }
    if (code != kIoctlGetDeviceDescriptor) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", code);
        ProtocolError(slot, std::string("unknown device control code ") + text);
        return false;
    }
    if (device.descriptorFails) {
        Log(slot, "descriptor request -> fails");
        return false;
    }
    std::vector<uint8_t> descriptor;
    PutLe16(descriptor, device.vendorId);
    PutLe16(descriptor, device.productId);
    PutLe16(descriptor, device.bcdDevice);
    PutLe16(descriptor, device.languageId);
    uint32_t count = std::min<uint32_t>(device.descriptorBytes, 8);
    count = std::min(count, outSize);
    if (out == nullptr) {
        count = 0;
    }
    if (count > 0) {
        std::memcpy(out, descriptor.data(), count);
    }
    if (returned != nullptr) {
        *returned = count;
    }
    char text[64];
    std::snprintf(text, sizeof text, "descriptor request -> %u bytes, product %04X", count,
                  device.productId);
    Log(slot, text);
    return true;
}

uint32_t UsbscanWrite(uint32_t handle, const void* data, uint32_t size) {
    HandleEntry* entry = OpenEntry(handle, "write");
    if (entry == nullptr) {
        return 0;
    }
    const int slot = entry->slot;
    Device& device = Slot(slot);
    if (entry->pipe != 2) {
        ProtocolError(slot, "write of " + std::to_string(size) + " bytes to pipe " +
                                std::to_string(entry->pipe));
        return 0;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    WrittenBlock record{slot, {}, false};
    if (bytes != nullptr) {
        record.bytes.assign(bytes, bytes + std::min<uint32_t>(size, 256));
    }
    auto& blocks = State().blocks;
    const uint8_t opcode = record.bytes.size() > 1 ? record.bytes[1] : 0;
    const std::string name = OpcodeName(opcode);
    if (!Step(slot)) {
        blocks.push_back(record);
        Log(slot, name + " -> write fails, unplugged");
        return 0;
    }

    ++device.blocksWritten[opcode & 0x0F];
    ++device.blocksTotal;
    // Every fault aimed at this block strikes it.
    bool refuse = false;
    bool unplug = false;
    std::optional<uint32_t> shortRead;
    std::optional<uint32_t> shortWrite;
    for (const Fault& fault : device.faults) {
        const int seen =
            fault.opcode == 0 ? device.blocksTotal : device.blocksWritten[opcode & 0x0F];
        if ((fault.opcode != 0 && fault.opcode != opcode) || fault.occurrence != seen) {
            continue;
        }
        switch (fault.kind) {
        case FaultKind::FailWrite:
            refuse = true;
            break;
        case FaultKind::Unplug:
            unplug = true;
            break;
        case FaultKind::ShortRead:
            shortRead = fault.bytes;
            break;
        case FaultKind::ShortWrite:
            shortWrite = fault.bytes;
            break;
        }
    }
    if (unplug) {
        blocks.push_back(record);
        Unplug(slot);
        Log(slot, name + " -> write fails, unplugged");
        return 0;
    }
    if (refuse) {
        blocks.push_back(record);
        Log(slot, name + " -> write refused (injected)");
        return 0;
    }

    record.accepted = true;
    blocks.push_back(record);
    if (size != kBlockSize || bytes == nullptr) {
        ProtocolError(slot, "a block of " + std::to_string(size) + " bytes, not 64");
        return size;
    }
    if (!CheckBlock(slot, bytes)) {
        Log(slot, name + " -> not answered (malformed)");
        return size;
    }
    if (!device.pending.empty()) {
        ProtocolError(slot, name + " written while " + std::to_string(device.pending.size()) +
                                " answer bytes are unread");
        device.pending.clear();
    }
    device.pendingShortened = false;
    if (!device.answers) {
        Log(slot, name + " -> no answer (device silent)");
        return size;
    }
    std::string line;
    bool answerShort = false;
    std::vector<uint8_t> answer = Execute(slot, device, bytes, line, answerShort);
    if (shortRead && *shortRead < answer.size()) {
        line += " (only " + std::to_string(*shortRead) + " of " + std::to_string(answer.size()) +
                " bytes arrive, injected)";
        answer.resize(*shortRead);
        device.pendingShortened = true;
    }
    device.pending = std::move(answer);
    device.pendingShortened = device.pendingShortened || answerShort;
    if (shortWrite) {
        line += " (the write reports " + std::to_string(*shortWrite) + " bytes, injected)";
        Log(slot, name + line);
        return std::min(*shortWrite, size);
    }
    Log(slot, name + line);
    return size;
}

uint32_t UsbscanRead(uint32_t handle, void* data, uint32_t size) {
    HandleEntry* entry = OpenEntry(handle, "read");
    if (entry == nullptr) {
        return 0;
    }
    const int slot = entry->slot;
    Device& device = Slot(slot);
    if (entry->pipe != 3) {
        ProtocolError(slot, "read of " + std::to_string(size) + " bytes from pipe " +
                                std::to_string(entry->pipe));
        return 0;
    }
    if (!Step(slot)) {
        Log(slot, "read " + std::to_string(size) + " -> fails, unplugged");
        return 0;
    }
    if (!device.answers) {
        return 0;
    }
    const uint32_t available = static_cast<uint32_t>(device.pending.size());
    if (size > available && !device.pendingShortened) {
        ProtocolError(slot, "read of " + std::to_string(size) + " bytes with " +
                                std::to_string(available) + " to read");
    }
    const uint32_t count = data == nullptr ? 0 : std::min(size, available);
    if (count > 0) {
        std::memcpy(data, device.pending.data(), count);
        device.pending.erase(device.pending.begin(), device.pending.begin() + count);
    }
    if (count < size) {
        Log(slot, "read " + std::to_string(size) + " -> " + std::to_string(count) + " bytes");
        // What was cut off never arrives.
        device.pending.clear();
        device.pendingShortened = false;
    }
    return count;
}

} // namespace sim
