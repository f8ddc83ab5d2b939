// The scanner's command protocol and the device conditions.
#pragma once

#include <cstdint>

constexpr uint8_t kCommandPrefix = 0x03;
constexpr uint8_t kOpcodeStartScan = 0x08;
constexpr uint8_t kOpcodeGetStatus = 0x09;
constexpr uint8_t kOpcodeAbortScan = 0x0A;
constexpr uint8_t kOpcodeGetImageInfo = 0x0B;
constexpr uint8_t kOpcodeSetScanParameters = 0x0C;
constexpr uint8_t kOpcodeGetAdfStatus = 0x0D;
constexpr uint8_t kOpcodeReadData = 0x0E;
constexpr uint32_t kCommandBlockSize = 64;
constexpr uint32_t kScanParameterBlockSize = 13;
constexpr uint32_t kMaxReadDataCount = 65535;
constexpr uint32_t kImageInfoSize = 8;
constexpr uint32_t kFeederStatusSize = 10;

constexpr uint8_t kStatusPaperJam = 1;
constexpr uint8_t kStatusMachineError = 2;
constexpr uint8_t kStatusBusy = 3;
constexpr uint8_t kFeederDuplexUnit = 0x80; // byte 0
constexpr uint8_t kFeederPaper = 0x01;      // byte 1
constexpr uint8_t kFeederJam = 0x02;        // byte 1

// Module-wide, touched from the application's thread only.
extern uint8_t CommandBuffer[kCommandBlockSize];
extern uint8_t ScanParameterBlock[kScanParameterBlockSize];
extern uint8_t AdfFlag; // 1 when the last feeder check found paper

enum class ReadOutcome { Failed, Condition, Done };

bool StartScan(uint32_t totalBytes);
bool GetStatus(uint8_t* answer);
bool AbortScan();
bool GetImageInfo(uint8_t* answer);
bool SetScanParameters(const uint8_t* block);
bool GetAdfStatus(uint8_t* answer);
ReadOutcome ReadData(void* destination, int64_t count);
void BuildScanParameters();
bool CheckScannerReady();
bool CheckFeeder();
// The message of a device status read as CheckScannerReady reads it: 122, 125
// or 126, and 0 for a ready scanner (0 and every value but 1, 2 and 3).
int DeviceStatusMessage(uint8_t status);
// Closes the channel, then shows the scanner message: the order every caller keeps.
void CloseChannelAndTell(int stringId);

void ResetCommandState();
