// DAT_USERINTERFACE: enable and disable.
#pragma once

#include "platform/platform.h"
#include "twain/entry.h"

extern WindowHandle SettingsDialogWindow; // the modeless settings dialog, or null

TW_UINT16 UserInterfaceOperation(TripletRequest* request);

void ResetUserInterfaceState();
