#include "device/commands.h"

uint8_t CommandBuffer[kCommandBlockSize];
uint8_t ScanParameterBlock[kScanParameterBlockSize];
uint8_t AdfFlag;

bool StartScan(uint32_t) { return false; }
bool GetStatus(uint8_t*) { return false; }
bool AbortScan() { return false; }
bool GetImageInfo(uint8_t*) { return false; }
bool SetScanParameters(const uint8_t*) { return false; }
bool GetAdfStatus(uint8_t*) { return false; }
ReadOutcome ReadData(void*, int64_t) { return ReadOutcome::Failed; }
void BuildScanParameters() {}
bool CheckScannerReady() { return false; }
bool CheckFeeder() { return false; }
void ResetCommandState() {}
