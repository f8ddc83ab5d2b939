#include "twain/transfer_control.h"

#include <cstring>

#include "device/channel.h"
#include "device/commands.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "twain/states.h"
#include "twain/status.h"
#include "ui/settings_dialog.h"

FileTransferSetupRecord FileTransferSetup = {{}, 0};

namespace {

constexpr TW_UINT32 kMinBufSize = 3648;
constexpr TW_UINT32 kMaxBufSize = 0xFFFF;
constexpr TW_UINT32 kPreferredBufSize = 65000;
constexpr const char kDefaultFileName[] = "TWAIN.TMP";
constexpr size_t kMaxFileNameLength = sizeof(FileTransferSetup.name) - 1;

TW_UINT16 Fail(int operationTextId, TW_UINT16 code) {
    ConditionCode = code;
    ShowOperationFailure(operationTextId, code);
    return TWRC_FAILURE;
}

// A request without the record it needs is the application's mistake, not the
// user's: refused without a box.
TW_UINT16 RefuseMissingRecord() {
    ConditionCode = TWCC_BADVALUE;
    return TWRC_FAILURE;
}

// The requests that negotiate a transfer are served from state 4 to state 6 only.
bool InSetupState() {
    return SourceState == kStateOpen || SourceState == kStateEnabled ||
           SourceState == kStateTransferReady;
}

bool IsGetMessage(TW_UINT16 message) {
    return message == MSG_GET || message == MSG_GETCURRENT || message == MSG_GETDEFAULT;
}

// One more page is pending only when this job is fed from the feeder and the feeder
// still holds paper; the scanner is asked each time, so a sheet put in after a
// flatbed scan does not count. Device failures are the scanner's: a box, no code.
TW_UINT16 QueryPendingCount(TW_PENDINGXFERS* pending) {
    pending->Count = 0;
    if (OpenScannerChannel() != 0) {
        CloseScannerChannel();
        ShowDeviceMessage(PlatformGetActiveWindow(), IDS_SCANNER_NOT_READY);
        return TWRC_FAILURE;
    }
    if (!GetAdfStatus(CommandBuffer)) {
        CloseScannerChannel();
        ShowDeviceMessage(PlatformGetActiveWindow(), IDS_MACHINE_ERROR);
        return TWRC_FAILURE;
    }
    if ((CommandBuffer[1] & kFeederPaper) != 0 && AdfFlag != 0) {
        pending->Count = 1;
    }
    CloseScannerChannel();
    return TWRC_SUCCESS;
}

// The settings dialog may sit behind the application's window after a transfer;
// the user sees it again before the next page.
void RaiseSettingsDialog() {
    if (!PlatformIsWindow(RememberedDialogWindow)) {
        return;
    }
    PlatformBringWindowToTop(RememberedDialogWindow);
    PlatformUpdateWindow(RememberedDialogWindow);
}

// The stored name is always terminated, even when the application's field is not.
void StoreFileName(const char* name) {
    size_t length = strnlen(name, kMaxFileNameLength);
    std::memcpy(FileTransferSetup.name, name, length);
    FileTransferSetup.name[length] = '\0';
}

} // namespace

// DG_CONTROL / DAT_PENDINGXFERS: MSG_GET, MSG_ENDXFER, MSG_RESET.
TW_UINT16 PendingTransfersOperation(TripletRequest* request) {
    auto* pending = static_cast<TW_PENDINGXFERS*>(request->data);
    switch (request->message) {
    case MSG_GET:
        if (SourceState != kStateOpen && SourceState != kStateEnabled &&
            SourceState != kStateTransferReady && SourceState != kStateTransferring) {
            return Fail(IDS_OP_PENDINGXFERS, TWCC_SEQERROR);
        }
        if (pending == nullptr) {
            return RefuseMissingRecord();
        }
        return QueryPendingCount(pending);
    case MSG_ENDXFER:
    case MSG_RESET:
        // Ending or resetting never changes the state, the page or a memory
        // transfer's progress; both only report what the feeder still holds.
        if (pending == nullptr) {
            return RefuseMissingRecord();
        }
        RaiseSettingsDialog();
        return QueryPendingCount(pending);
    default:
        return Fail(IDS_OP_PENDINGXFERS, TWCC_BADPROTOCOL);
    }
}

// DG_CONTROL / DAT_SETUPMEMXFER: the strip sizes are fixed; a set changes nothing.
TW_UINT16 SetupMemoryTransferOperation(TripletRequest* request) {
    if (!InSetupState()) {
        return Fail(IDS_OP_SETUPMEMXFER, TWCC_SEQERROR);
    }
    if (IsGetMessage(request->message)) {
        auto* setup = static_cast<TW_SETUPMEMXFER*>(request->data);
        if (setup == nullptr) {
            return RefuseMissingRecord();
        }
        setup->MinBufSize = kMinBufSize;
        setup->MaxBufSize = kMaxBufSize;
        setup->Preferred = kPreferredBufSize;
        return TWRC_SUCCESS;
    }
    if (request->message == MSG_SET || request->message == MSG_RESET) {
        return TWRC_SUCCESS;
    }
    return Fail(IDS_OP_SETUPMEMXFER, TWCC_BADPROTOCOL);
}

// DG_CONTROL / DAT_SETUPFILEXFER: the file is always a BMP; only its name is chosen.
TW_UINT16 SetupFileTransferOperation(TripletRequest* request) {
    if (!InSetupState()) {
        return Fail(IDS_OP_SETUPFILEXFER, TWCC_SEQERROR);
    }
    auto* setup = static_cast<TW_SETUPFILEXFER*>(request->data);
    const bool isGet = IsGetMessage(request->message);
    const bool isSet = request->message == MSG_SET || request->message == MSG_RESET;
    if (setup == nullptr) {
        return isGet || isSet ? RefuseMissingRecord()
                              : Fail(IDS_OP_SETUPFILEXFER, TWCC_BADPROTOCOL);
    }
    // A format the source cannot write is refused outright, without a box, so that
    // an application asking for another format learns it will not get one.
    if (isSet && setup->Format != TWFF_BMP) {
        ConditionCode = TWCC_BUMMER;
        return TWRC_FAILURE;
    }
    setup->Format = TWFF_BMP;
    FileTransferSetup.format = TWFF_BMP;
    if (isGet) {
        std::memcpy(setup->FileName, kDefaultFileName, sizeof(kDefaultFileName));
        StoreFileName(kDefaultFileName);
        return TWRC_SUCCESS;
    }
    if (isSet) {
        // MSG_RESET stores the name it carries, like MSG_SET.
        StoreFileName(setup->FileName);
        return TWRC_SUCCESS;
    }
    return Fail(IDS_OP_SETUPFILEXFER, TWCC_BADPROTOCOL);
}

// DG_CONTROL / DAT_XFERGROUP: the source transfers DG_IMAGE data only.
TW_UINT16 TransferGroupOperation(TripletRequest* request) {
    if (!InSetupState()) {
        return Fail(IDS_OP_XFERGROUP, TWCC_SEQERROR);
    }
    if (IsGetMessage(request->message) || request->message == MSG_RESET) {
        auto* group = static_cast<TW_UINT32*>(request->data);
        if (group == nullptr) {
            return RefuseMissingRecord();
        }
        *group = DG_IMAGE;
        return TWRC_SUCCESS;
    }
    if (request->message == MSG_SET) {
        return TWRC_SUCCESS;
    }
    return Fail(IDS_OP_XFERGROUP, TWCC_BADPROTOCOL);
}

void ResetTransferControlState() {
    FileTransferSetup = {{}, 0};
}
