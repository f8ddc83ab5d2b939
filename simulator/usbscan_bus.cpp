#include "simulator/usbscan_bus.h"

// No scanners until the simulator is built.
namespace sim {
uint32_t UsbscanOpen(const char*) { return 0; }
void UsbscanClose(uint32_t) {}
bool UsbscanIoctl(uint32_t, uint32_t, void*, uint32_t, uint32_t*) { return false; }
uint32_t UsbscanWrite(uint32_t, const void*, uint32_t) { return 0; }
uint32_t UsbscanRead(uint32_t, void*, uint32_t) { return 0; }
} // namespace sim
