// The device side of the usbscan names, served by the scanner simulator.
// The host platform's file calls on "\\.\UsbscanN\K" names and the Wine relay
// both reach the simulated scanners through these five procedures only.
#pragma once

#include <cstdint>

namespace sim {

// Opens "\\.\Usbscan<N>\<K>" (case-insensitive). Returns a nonzero handle, or
// 0 when the name does not exist (no device in the slot, unplugged, bare name).
uint32_t UsbscanOpen(const char* name);
void UsbscanClose(uint32_t handle);
// Device control on the device handle ("\0"); IOCTL_GET_DEVICE_DESCRIPTOR gives
// the 8-byte descriptor (or fewer bytes when a test says so). False on failure.
bool UsbscanIoctl(uint32_t handle, uint32_t code, void* out, uint32_t outSize, uint32_t* returned);
// One write or read on a pipe; the result is the byte count, 0 on failure.
uint32_t UsbscanWrite(uint32_t handle, const void* data, uint32_t size);
uint32_t UsbscanRead(uint32_t handle, void* data, uint32_t size);

} // namespace sim
