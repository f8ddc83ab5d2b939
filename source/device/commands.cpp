#include "device/commands.h"

#include <cstring>

#include "device/channel.h"
#include "resources/resource_ids.h"
#include "twain/status.h"
#include "ui/settings.h"
#include "ui/tables.h"

namespace {

constexpr uint8_t kLengthStartScan = 4;
constexpr uint8_t kLengthGetStatus = 1;
constexpr uint8_t kLengthAbortScan = 0;
constexpr uint8_t kLengthGetImageInfo = 8;
constexpr uint8_t kLengthSetScanParameters = 13;
constexpr uint8_t kLengthGetAdfStatus = 10;
constexpr uint8_t kLengthReadData = 4;
constexpr uint32_t kParameterOffset = 6;
constexpr uint8_t kStartScanFlag = 0x01;

// 300 dpi, B/W, brightness 0, A4 upright, a 0 x 0 window, duplex off: what a
// pre-scan sends before anything has built the block.
constexpr uint8_t kInitialScanParameters[kScanParameterBlockSize] = {0x01, 0x00, 0x05, 0x02};

constexpr int kDefaultPaperIndex = 2;
constexpr int kDefaultResolutionIndex = 1;

// ReadData builds its block and receives the status that follows the data
// here, so that the data's destination and the command buffer stay apart.
uint8_t ReadDataBuffer[kCommandBlockSize];

void PutLe32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

void PutLe16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

// Builds a block with its parameters in `block` and writes it whole.
bool SendBlock(uint8_t* block, uint8_t opcode, uint8_t length, const uint8_t* parameters,
               uint32_t parameterBytes) {
    std::memset(block, 0, kCommandBlockSize);
    block[0] = kCommandPrefix;
    block[1] = opcode;
    block[2] = length;
    if (parameterBytes > 0) {
        std::memcpy(block + kParameterOffset, parameters, parameterBytes);
    }
    return WritePipe(ScannerChannel.pipe2, kCommandBlockSize, block);
}

// A command with an answer: nothing is read when the block did not go out.
bool Ask(uint8_t opcode, uint8_t length, uint8_t* answer) {
    if (answer == nullptr) {
        return false;
    }
    return SendBlock(CommandBuffer, opcode, length, nullptr, 0) &&
           ReadPipe(ScannerChannel.pipe3, length, answer);
}

bool FailWithDeviceMessage(int stringId) {
    CloseScannerChannel();
    ShowDeviceMessage(PlatformGetActiveWindow(), stringId);
    return false;
}

} // namespace

uint8_t CommandBuffer[kCommandBlockSize];
uint8_t ScanParameterBlock[kScanParameterBlockSize] = {0x01, 0x00, 0x05, 0x02};
uint8_t AdfFlag;

bool StartScan(uint32_t totalBytes) {
    uint8_t parameters[5];
    PutLe32(parameters, totalBytes);
    parameters[4] = kStartScanFlag;
    return SendBlock(CommandBuffer, kOpcodeStartScan, kLengthStartScan, parameters,
                     sizeof parameters);
}

bool GetStatus(uint8_t* answer) {
    return Ask(kOpcodeGetStatus, kLengthGetStatus, answer);
}

bool AbortScan() {
    return SendBlock(CommandBuffer, kOpcodeAbortScan, kLengthAbortScan, nullptr, 0);
}

bool GetImageInfo(uint8_t* answer) {
    return Ask(kOpcodeGetImageInfo, kLengthGetImageInfo, answer);
}

bool SetScanParameters(const uint8_t* block) {
    if (block == nullptr) {
        return false;
    }
    return SendBlock(CommandBuffer, kOpcodeSetScanParameters, kLengthSetScanParameters, block,
                     kScanParameterBlockSize);
}

bool GetAdfStatus(uint8_t* answer) {
    return Ask(kOpcodeGetAdfStatus, kLengthGetAdfStatus, answer);
}

ReadOutcome ReadData(void* destination, int64_t count) {
    if (destination == nullptr || count < 1 || count > kMaxReadDataCount) {
        return ReadOutcome::Failed;
    }
    uint8_t parameters[4];
    PutLe32(parameters, static_cast<uint32_t>(count));
    if (!SendBlock(ReadDataBuffer, kOpcodeReadData, kLengthReadData, parameters,
                   sizeof parameters)) {
        return ReadOutcome::Failed;
    }
    if (!ReadPipe(ScannerChannel.pipe3, static_cast<uint32_t>(count), destination)) {
        return ReadOutcome::Failed;
    }
    if (!GetStatus(ReadDataBuffer)) {
        return ReadOutcome::Failed;
    }
    return ReadDataBuffer[0] == 0 ? ReadOutcome::Done : ReadOutcome::Condition;
}

void BuildScanParameters() {
    // The callers keep both indexes in range; a stray one must still not read
    // outside the tables.
    int paper = ScanSettings.PaperIndex;
    if (paper < 0 || paper >= static_cast<int>(PaperTable.size())) {
        paper = kDefaultPaperIndex;
    }
    int resolution = ScanSettings.ResolutionIndex;
    if (resolution < 0 || resolution >= static_cast<int>(ResolutionTable.size())) {
        resolution = kDefaultResolutionIndex;
    }
    ScanParameterBlock[0] = static_cast<uint8_t>(resolution);
    ScanParameterBlock[1] = static_cast<uint8_t>(ScanSettings.ScanType);
    ScanParameterBlock[2] = static_cast<uint8_t>(ScanSettings.Brightness + 5);
    ScanParameterBlock[3] = static_cast<uint8_t>(paper);
    std::memset(ScanParameterBlock + 4, 0, 4);
    // The table holds 600-dpi pixels; 300 dpi is half of them, 150 dpi a quarter.
    const int shift = 2 - resolution;
    const PaperRow& row = PaperTable[static_cast<size_t>(paper)];
    PutLe16(ScanParameterBlock + 8, static_cast<uint32_t>(row.widthPixels) >> shift);
    PutLe16(ScanParameterBlock + 10, static_cast<uint32_t>(row.heightPixels) >> shift);
    ScanParameterBlock[12] = static_cast<uint8_t>(ScanSettings.Duplex);
}

int DeviceStatusMessage(uint8_t status) {
    switch (status) {
    case kStatusPaperJam:
        return IDS_DOCUMENT_JAM;
    case kStatusMachineError:
        return IDS_MACHINE_ERROR;
    case kStatusBusy:
        return IDS_SCANNER_BUSY;
    default:
        return 0;
    }
}

bool CheckScannerReady() {
    if (OpenScannerChannel() != 0) {
        return FailWithDeviceMessage(IDS_SCANNER_NOT_READY);
    }
    if (!GetStatus(CommandBuffer)) {
        return FailWithDeviceMessage(IDS_SCANNER_NOT_READY);
    }
    if (const int message = DeviceStatusMessage(CommandBuffer[0]); message != 0) {
        return FailWithDeviceMessage(message);
    }
    return true;
}

bool CheckFeeder() {
    if (!GetAdfStatus(CommandBuffer)) {
        return FailWithDeviceMessage(IDS_MACHINE_ERROR);
    }
    const bool paper = (CommandBuffer[1] & kFeederPaper) != 0;
    if ((CommandBuffer[1] & kFeederJam) != 0) {
        return FailWithDeviceMessage(IDS_DOCUMENT_JAM);
    }
    if (ScanSettings.Duplex != 0 && !paper) {
        return FailWithDeviceMessage(IDS_DUPLEX_NO_PAPER);
    }
    AdfFlag = paper ? 1 : 0;
    return true;
}

void CloseChannelAndTell(int stringId) {
    FailWithDeviceMessage(stringId);
}

void ResetCommandState() {
    std::memset(CommandBuffer, 0, sizeof CommandBuffer);
    std::memcpy(ScanParameterBlock, kInitialScanParameters, sizeof ScanParameterBlock);
    std::memset(ReadDataBuffer, 0, sizeof ReadDataBuffer);
    AdfFlag = 0;
}
