// The five scan settings and the settings file.
#pragma once

#include <cstdint>

struct ScanSettingsRecord {
    int32_t PaperIndex;      // 0 to 18, a row of PaperTable
    int32_t ScanType;        // 0 B/W, 1 Photo
    int32_t ResolutionIndex; // 0 to 2, an entry of ResolutionTable
    int32_t Duplex;          // 0 off, 1 on
    int32_t Brightness;      // -4 to 4
};
extern ScanSettingsRecord ScanSettings;

constexpr const char* kSettingsFileName = "UAXXXX.ini";

void LoadScanSettings();
void SaveScanSettings();

void ResetSettingsState();
