#include "twain/module_state.h"

#include "capabilities/capabilities.h"
#include "device/acquisition.h"
#include "device/channel.h"
#include "device/commands.h"
#include "device/image_info.h"
#include "transfer/file.h"
#include "transfer/memory.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "twain/status.h"
#include "twain/transfer_control.h"
#include "twain/user_interface.h"
#include "ui/settings.h"
#include "ui/settings_dialog.h"

void ResetAllModuleState() {
    ResetStartupState();
    ResetStatesState();
    ResetUserInterfaceState();
    ResetStatusState();
    ResetTransferControlState();
    ResetCapabilityState();
    ResetChannelState();
    ResetCommandState();
    ResetAcquisitionState();
    ResetImageInfoState();
    ResetMemoryTransferState();
    ResetFileTransferState();
    ResetSettingsState();
    ResetSettingsDialogState();
}
