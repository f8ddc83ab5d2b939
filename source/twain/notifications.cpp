#include "twain/notifications.h"

#include "platform/platform.h"
#include "twain/startup.h"
#include "twain/states.h"

namespace {

constexpr const char* kSourceManagerLibrary = "TWAIN_32.DLL";
constexpr const char* kSourceManagerEntry = "DSM_Entry";

// The Source Manager is reached afresh for each notification, so the source
// never holds it loaded between requests. Its answer tells the source nothing.
void SendToSourceManager(TW_UINT16 message) {
    ModuleHandle manager = PlatformLoadLibrary(kSourceManagerLibrary);
    if (manager == nullptr) {
        return;
    }
    auto entry =
        reinterpret_cast<DSMENTRYPROC>(PlatformGetProcAddress(manager, kSourceManagerEntry));
    if (entry != nullptr) {
        entry(&SourceIdentity, &AppIdentity, DG_CONTROL, DAT_NULL, message, nullptr);
    }
    PlatformFreeLibrary(manager);
}

} // namespace

void NotifyTransferReady() {
    SourceState = kStateTransferReady;
    SendToSourceManager(MSG_XFERREADY);
}

void NotifyCloseRequest() {
    SendToSourceManager(MSG_CLOSEDSREQ);
}
