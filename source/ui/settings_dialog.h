// The settings dialog (template 700) and its procedure Setting.
#pragma once

#include "platform/platform.h"

// The dialog's window as stored at its last initialisation; never cleared.
extern WindowHandle RememberedDialogWindow;

extern "C" DialogResult TQ_CALLBACK Setting(WindowHandle dialog, uint32_t message, WParam wParam,
                                            LParam lParam);

void FilterNumericField(WindowHandle dialog, const char* text, int control, int maxLength);
bool ValidateFieldRange(WindowHandle dialog, int control, int messageId, int low, int high);
bool ValidateFieldPresent(WindowHandle dialog, int control, int messageId, int low, int high);
void ShowBrightness(WindowHandle dialog);

void ResetSettingsDialogState();
