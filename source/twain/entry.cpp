#include "twain/entry.h"

#include "capabilities/capabilities.h"
#include "capabilities/image_layout.h"
#include "device/image_info.h"
#include "transfer/file.h"
#include "transfer/memory.h"
#include "transfer/native.h"
#include "twain/states.h"
#include "twain/status.h"
#include "twain/transfer_control.h"
#include "twain/user_interface.h"

// DG_CONTROL: one operation per data argument type, walked in this order.
const DispatchEntry ControlTable[] = {
    {DAT_IDENTITY, IdentityOperation},
    {DAT_USERINTERFACE, UserInterfaceOperation},
    {DAT_CAPABILITY, CapabilityOperation},
    {DAT_STATUS, StatusOperation},
    {DAT_PENDINGXFERS, PendingTransfersOperation},
    {DAT_SETUPMEMXFER, SetupMemoryTransferOperation},
    {DAT_SETUPFILEXFER, SetupFileTransferOperation},
    {DAT_XFERGROUP, TransferGroupOperation},
    {DAT_NULL, nullptr},
};

// DG_IMAGE.
const DispatchEntry ImageTable[] = {
    {DAT_IMAGEINFO, ImageInfoOperation},         {DAT_IMAGELAYOUT, ImageLayoutOperation},
    {DAT_IMAGEMEMXFER, MemoryTransferOperation}, {DAT_IMAGENATIVEXFER, NativeTransferOperation},
    {DAT_IMAGEFILEXFER, FileTransferOperation},  {DAT_NULL, nullptr},
};

namespace {

// Source Managers ask for the identity with a null origin (Wine's, and the
// Working Group's by default), so the origin is read only while an
// application is connected. Then a null origin counts as another
// application's, except for the identity query, which every caller may make.
bool FromAnotherApplication(const TW_IDENTITY* origin, TW_UINT16 dataArgumentType,
                            TW_UINT16 message) {
    if (AppIdentity.Id == 0) {
        return false;
    }
    if (origin == nullptr) {
        return !(dataArgumentType == DAT_IDENTITY && message == MSG_GET);
    }
    return origin->Id != AppIdentity.Id;
}

// DG_*/DAT_*/MSG_PROCESSEVENT: the application's window message, offered to
// the modeless settings dialog.
TW_UINT16 RouteEvent(TW_MEMREF data) {
    auto* event = static_cast<TW_EVENT*>(data);
    if (SettingsDialogWindow == nullptr || event == nullptr || event->pEvent == nullptr) {
        return TWRC_NOTDSEVENT;
    }
    if (!PlatformIsDialogMessage(SettingsDialogWindow, static_cast<PlatformMsg*>(event->pEvent))) {
        return TWRC_NOTDSEVENT;
    }
    event->TWMessage = MSG_NULL;
    return TWRC_DSEVENT;
}

} // namespace

extern "C" TW_UINT16 TW_CALLINGCONV DS_Entry(pTW_IDENTITY origin, TW_UINT32 dataGroup,
                                             TW_UINT16 dataArgumentType, TW_UINT16 message,
                                             TW_MEMREF data) {
    if (FromAnotherApplication(origin, dataArgumentType, message)) {
        return TWRC_NOTDSEVENT;
    }
    if (message == MSG_PROCESSEVENT) {
        return RouteEvent(data);
    }

    const DispatchEntry* entry = nullptr;
    if (dataGroup == DG_CONTROL) {
        entry = ControlTable;
    } else if (dataGroup == DG_IMAGE) {
        entry = ImageTable;
    } else {
        // An application that asks for the status after this failure learns why.
        ConditionCode = TWCC_BADPROTOCOL;
        return TWRC_FAILURE;
    }

    TripletRequest request{origin, dataGroup, dataArgumentType, message, data};
    for (; entry->operation != nullptr; ++entry) {
        if (entry->dataArgumentType == request.dataArgumentType) {
            return entry->operation(&request);
        }
    }
    ConditionCode = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
}
