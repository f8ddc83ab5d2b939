#include "ui/settings.h"

ScanSettingsRecord ScanSettings;

void LoadScanSettings() {}
void SaveScanSettings() {}
void ResetSettingsState() {}
