#include "device/channel.h"

#include <cstdio>
#include <initializer_list>

ScannerChannelRecord ScannerChannel{kInvalidFile, kInvalidFile, kInvalidFile, kInvalidFile};

namespace {

constexpr uint32_t kChannelAccess = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t kChannelSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr uint32_t kDescriptorSize = 8;
constexpr uint32_t kProbeBlockSize = 64;
constexpr uint8_t kProbeStatusOpcode = 0x09;

// The probe's answer has a place of its own: the command buffer may hold an
// answer its caller still needs.
uint8_t ProbeAnswer[1];

FileHandle OpenUsbscanName(const char* deviceName, int suffix) {
    char name[40];
    std::snprintf(name, sizeof name, "%s\\%d", deviceName, suffix);
    return PlatformCreateFile(name, kChannelAccess, kChannelSharing, OPEN_EXISTING,
                              FILE_ATTRIBUTE_SYSTEM);
}

// The status command on the raw pipes: the scanner answers, or it is not there.
bool SendStatusProbe() {
    uint8_t block[kProbeBlockSize] = {0x03, kProbeStatusOpcode, 0x01};
    return WritePipe(ScannerChannel.pipe2, kProbeBlockSize, block) &&
           ReadPipe(ScannerChannel.pipe3, 1, ProbeAnswer);
}

uint16_t ProductIdOf(const uint8_t* descriptor) {
    return static_cast<uint16_t>(descriptor[2] | (descriptor[3] << 8));
}

} // namespace

int OpenScannerChannel() {
    while (ScannerChannel.pipe1 != kInvalidFile) {
        if (SendStatusProbe()) {
            return 0;
        }
        CloseScannerChannel();
    }
    // A channel whose pipe 1 failed to open still holds its other handles;
    // they go before the search replaces them.
    CloseScannerChannel();
    for (int index = 0; index < kUsbscanDeviceCount; ++index) {
        char deviceName[32];
        std::snprintf(deviceName, sizeof deviceName, "\\\\.\\Usbscan%d", index);
        ScannerChannel.device = OpenUsbscanName(deviceName, 0);
        if (ScannerChannel.device == kInvalidFile) {
            continue;
        }
        // A short answer leaves the product ID at 0, which is no scanner.
        uint8_t descriptor[kDescriptorSize] = {};
        uint32_t returned = 0;
        if (!PlatformDeviceIoControl(ScannerChannel.device, IOCTL_GET_DEVICE_DESCRIPTOR, nullptr, 0,
                                     descriptor, kDescriptorSize, &returned) ||
            ProductIdOf(descriptor) != kScannerProductId) {
            CloseScannerChannel();
            continue;
        }
        ScannerChannel.pipe1 = OpenUsbscanName(deviceName, 1);
        ScannerChannel.pipe2 = OpenUsbscanName(deviceName, 2);
        ScannerChannel.pipe3 = OpenUsbscanName(deviceName, 3);
        if (SendStatusProbe()) {
            return 0;
        }
        CloseScannerChannel();
    }
    return -1;
}

int CloseScannerChannel() {
    for (FileHandle* handle : {&ScannerChannel.device, &ScannerChannel.pipe1, &ScannerChannel.pipe2,
                               &ScannerChannel.pipe3}) {
        if (*handle != kInvalidFile) {
            PlatformCloseHandle(*handle);
        }
        *handle = kInvalidFile;
    }
    return 1;
}

// Only the byte counts decide: a pipe that is not open moves no bytes, so
// every command on a closed channel fails here without reaching the driver.
bool WritePipe(FileHandle pipe, uint32_t size, const void* buffer) {
    if (pipe == kInvalidFile) {
        return false;
    }
    uint32_t written = 0;
    PlatformWriteFile(pipe, buffer, size, &written);
    return written >= 1;
}

bool ReadPipe(FileHandle pipe, uint32_t size, void* buffer) {
    if (pipe == kInvalidFile) {
        return false;
    }
    uint32_t read = 0;
    PlatformReadFile(pipe, buffer, size, &read);
    return read >= size;
}

void ResetChannelState() {
    ScannerChannel = {kInvalidFile, kInvalidFile, kInvalidFile, kInvalidFile};
    ProbeAnswer[0] = 0;
}
