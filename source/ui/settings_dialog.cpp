#include "ui/settings_dialog.h"

WindowHandle RememberedDialogWindow;

extern "C" DialogResult TQ_CALLBACK Setting(WindowHandle, uint32_t, WParam, LParam) { return 0; }
void FilterNumericField(WindowHandle, const char*, int, int) {}
bool ValidateFieldRange(WindowHandle, int, int, int, int) { return true; }
bool ValidateFieldPresent(WindowHandle, int, int, int, int) { return true; }
void ShowBrightness(WindowHandle) {}
void ResetSettingsDialogState() {}
