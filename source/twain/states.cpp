#include "twain/states.h"

#include <array>
#include <cstring>

#include "capabilities/capabilities.h"
#include "device/channel.h"
#include "device/commands.h"
#include "resources/resource_ids.h"
#include "transfer/memory.h"
#include "twain/startup.h"
#include "twain/status.h"
#include "twain/user_interface.h"
#include "ui/settings.h"

int32_t SourceState = kStateLoaded;
int32_t InUseFlag = 0;
TW_IDENTITY AppIdentity{};
int32_t DuplexUnitPresent = 0;

namespace {

// The states in which an application holds the source open; close, disable
// and the pending-transfer count are accepted only here.
constexpr std::array<int32_t, 4> kOpenStates{kStateOpen, kStateEnabled, kStateTransferReady,
                                             kStateTransferring};

constexpr uint32_t kAdfStatusSize = 10;

// What the device status read at open tells the user; 0 for a ready scanner.
int OpenStatusMessage(uint8_t status) {
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

// The scanner answered but cannot serve: the channel goes before the box, the
// companion library after it. The source stays open in state 4.
TW_UINT16 FailOpenWithDeviceMessage(int stringId) {
    CloseScannerChannel();
    ShowDeviceMessage(PlatformGetActiveWindow(), stringId);
    ReleaseResourceModule();
    return TWRC_FAILURE;
}

// DG_CONTROL/DAT_IDENTITY/MSG_GET
TW_UINT16 GetIdentity(TripletRequest* request) {
    if (request->data == nullptr) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    std::memcpy(request->data, &SourceIdentity, sizeof(TW_IDENTITY));
    return TWRC_SUCCESS;
}

// DG_CONTROL/DAT_IDENTITY/MSG_OPENDS
TW_UINT16 OpenSource(TripletRequest* request) {
    // Without both identities there is nothing to connect; refused before the
    // one open of this loaded library is used up.
    if (request->origin == nullptr || request->data == nullptr) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    if (InUseFlag != 0) {
        return TWRC_FAILURE;
    }
    InUseFlag = 1;
    ChooseResourceModule();
    std::memcpy(&AppIdentity, request->origin, sizeof(TW_IDENTITY));
    std::memcpy(&SourceIdentity, request->data, sizeof(TW_IDENTITY));
    LoadScanSettings();
    SeedCapabilitiesFromSettings();

    if (OpenScannerChannel() != 0) {
        // No scanner at all: the open fails without a word.
        CloseScannerChannel();
        ReleaseResourceModule();
        return TWRC_FAILURE;
    }
    SourceState = kStateOpen;

    uint8_t status[1] = {};
    if (!GetStatus(status)) {
        return FailOpenWithDeviceMessage(IDS_SCANNER_NOT_READY);
    }
    if (int message = OpenStatusMessage(status[0]); message != 0) {
        return FailOpenWithDeviceMessage(message);
    }
    uint8_t feeder[kAdfStatusSize] = {};
    if (!GetAdfStatus(feeder)) {
        return FailOpenWithDeviceMessage(IDS_MACHINE_ERROR);
    }
    DuplexUnitPresent = (feeder[0] & kFeederDuplexUnit) != 0 ? 1 : 0;
    CloseScannerChannel();
    return TWRC_SUCCESS;
}

// DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS
TW_UINT16 CloseSource() {
    TW_UINT16 result = TWRC_SUCCESS;
    if (SourceIsOpen()) {
        AppIdentity.Id = 0;
        if (SettingsDialogWindow != nullptr) {
            PlatformShowWindow(SettingsDialogWindow, SW_HIDE);
            PlatformDestroyWindow(SettingsDialogWindow);
            SettingsDialogWindow = nullptr;
        }
        SourceState = kStateLoaded;
    } else {
        ConditionCode = TWCC_SEQERROR;
        ShowOperationFailure(IDS_OP_CLOSEDS, TWCC_SEQERROR);
        result = TWRC_FAILURE;
    }
    // The settings are the user's; they are kept even when the close was out of turn.
    SaveScanSettings();
    ReleaseSourceStripBuffer();
    ReleaseResourceModule();
    return result;
}

} // namespace

bool SourceIsOpen() {
    for (int32_t state : kOpenStates) {
        if (SourceState == state) {
            return true;
        }
    }
    return false;
}

TW_UINT16 IdentityOperation(TripletRequest* request) {
    switch (request->message) {
    case MSG_GET:
        return GetIdentity(request);
    case MSG_OPENDS:
        return OpenSource(request);
    case MSG_CLOSEDS:
        return CloseSource();
    default:
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_IDENTITY, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
}

void ResetStatesState() {
    SourceState = kStateLoaded;
    InUseFlag = 0;
    AppIdentity = TW_IDENTITY{};
    DuplexUnitPresent = 0;
}
