#include "twain/user_interface.h"

#include "resources/resource_ids.h"
#include "twain/notifications.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "twain/status.h"
#include "ui/settings_dialog.h"
#include "ui/small_dialogs.h"

WindowHandle SettingsDialogWindow = nullptr;

namespace {

constexpr uint32_t kSplashMilliseconds = 1000;
constexpr int kVersionTextSize = 50;

// The splash stands while the source gets ready; without it the wait still happens.
WindowHandle ShowSplash() {
    WindowHandle splash =
        PlatformCreateDialog(ResourceModule, ResourceId(IDD_SPLASH), nullptr, WaitMess);
    if (splash != nullptr) {
        char version[kVersionTextSize] = {};
        PlatformLoadString(OwnModule, IDS_VERSION_SHORT, version, kVersionTextSize);
        PlatformSetDlgItemText(splash, IDC_VERSION_TEXT, version);
        if (ProductText[0] != '\0') {
            PlatformSetDlgItemText(splash, IDC_PRODUCT_TEXT, ProductText);
        }
        PlatformShowWindow(splash, SW_SHOW);
        PlatformUpdateWindow(splash);
    }
    PlatformSleep(kSplashMilliseconds);
    return splash;
}

// DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS
TW_UINT16 EnableSource(TripletRequest* request) {
    if (SourceState != kStateOpen) {
        ConditionCode = TWCC_SEQERROR;
        ShowOperationFailure(IDS_OP_ENABLEDS, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    auto* ui = static_cast<TW_USERINTERFACE*>(request->data);
    // Without its record the request is the application's mistake, not the
    // user's: refused without a box.
    if (ui == nullptr) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    FailureBoxOwner = ui->hParent;
    if (ui->ShowUI == 0) {
        NotifyTransferReady();
        return TWRC_SUCCESS;
    }

    WindowHandle splash = ShowSplash();
    TW_UINT16 result = TWRC_SUCCESS;
    SettingsDialogWindow =
        PlatformCreateDialog(ResourceModule, ResourceId(IDD_SETTINGS), nullptr, Setting);
    if (SettingsDialogWindow == nullptr) {
        ConditionCode = TWCC_LOWMEMORY;
        ShowOperationFailure(IDS_OP_ENABLEDS, TWCC_LOWMEMORY);
        result = TWRC_FAILURE;
    } else {
        PlatformShowWindow(SettingsDialogWindow, SW_SHOW);
        PlatformUpdateWindow(SettingsDialogWindow);
        SourceState = kStateEnabled;
    }
    if (splash != nullptr) {
        PlatformDestroyWindow(splash);
    }
    return result;
}

// DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS
TW_UINT16 DisableSource(TripletRequest* request) {
    if (!SourceIsOpen()) {
        ConditionCode = TWCC_SEQERROR;
        ShowOperationFailure(IDS_OP_DISABLEDS, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (SettingsDialogWindow != nullptr) {
        // An application that hands no record still gets its dialog taken down.
        auto* ui = static_cast<const TW_USERINTERFACE*>(request->data);
        if (ui != nullptr && ui->ShowUI == 0) {
            PlatformShowWindow(SettingsDialogWindow, SW_HIDE);
        }
        PlatformDestroyWindow(SettingsDialogWindow);
        SettingsDialogWindow = nullptr;
    }
    SourceState = kStateOpen;
    return TWRC_SUCCESS;
}

} // namespace

TW_UINT16 UserInterfaceOperation(TripletRequest* request) {
    switch (request->message) {
    case MSG_ENABLEDS:
        return EnableSource(request);
    case MSG_DISABLEDS:
        return DisableSource(request);
    default:
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_USERINTERFACE, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
}

void ResetUserInterfaceState() {
    SettingsDialogWindow = nullptr;
}
