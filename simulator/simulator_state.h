// The simulator's own records, shared by its two files and by nothing else.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "simulator/scanner_simulator.h"

namespace sim::detail {

struct HandleEntry {
    int slot;
    int pipe; // 0 device, 1 to 3 pipes
    bool open;
};

struct SimulatorRecord {
    std::array<Device, kSlotCount> slots;
    std::vector<HandleEntry> handles; // handle value = index + 1
    std::vector<std::string> transcript;
    std::vector<std::string> protocolErrors;
    std::vector<WrittenBlock> blocks;
};

SimulatorRecord& State();
void Log(int slot, const std::string& line);
void ProtocolError(int slot, const std::string& line);
std::string Hex(const uint8_t* bytes, size_t count);

} // namespace sim::detail
