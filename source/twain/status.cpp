#include "twain/status.h"

#include <cstdio>

#include "resources/resource_ids.h"
#include "twain/startup.h"

TW_UINT16 ConditionCode = TWCC_SUCCESS;
WindowHandle FailureBoxOwner = nullptr;

namespace {

constexpr int kFailureTextSize = 180;
constexpr int kDeviceTextSize = 128;
// Shown when the resource module lacks a scanner message.
constexpr const char* kDeviceMessageFallback = "Error Code = %d";

static_assert(ConditionTextId(TWCC_BUMMER) == 144 && ConditionTextId(TWCC_SEQERROR) == 154 &&
              ConditionTextId(TWCC_NODS) == IDS_CONDITION_UNKNOWN &&
              ConditionTextId(8) == IDS_CONDITION_UNKNOWN &&
              ConditionTextId(12) == IDS_CONDITION_UNKNOWN);

} // namespace

void ShowOperationFailure(int operationTextId, TW_UINT16 code) {
    char text[kFailureTextSize];
    int length = LoadResourceString(operationTextId, text, sizeof text);
    if (length == 0) {
        return;
    }
    // The condition text goes right behind the operation text, whose two
    // trailing spaces separate the sentences. An operation text that fills the
    // buffer is shown alone, cut.
    int room = kFailureTextSize - length;
    if (code != TWCC_SUCCESS && room > 1 &&
        LoadResourceString(ConditionTextId(code), text + length, room) == 0) {
        return;
    }
    PlatformMessageBox(FailureBoxOwner, text, SectionName(), MB_OK);
}

void ShowDeviceMessage(WindowHandle owner, int stringId) {
    char text[kDeviceTextSize];
    if (LoadResourceString(stringId, text, sizeof text) == 0) {
        std::snprintf(text, sizeof text, kDeviceMessageFallback, stringId);
    }
    PlatformMessageBox(owner, text, SectionName(), MB_OK | MB_ICONHAND);
}

// DG_CONTROL/DAT_STATUS/MSG_GET: the last condition code, kept for the next ask.
TW_UINT16 StatusOperation(TripletRequest* request) {
    if (request->message != MSG_GET) {
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_STATUS, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    auto* status = static_cast<TW_STATUS*>(request->data);
    if (status == nullptr) {
        // Nowhere to answer: the application gets the failure, without a box.
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    status->ConditionCode = ConditionCode;
    status->Reserved = 0;
    return TWRC_SUCCESS;
}

void ResetStatusState() {
    ConditionCode = TWCC_SUCCESS;
    FailureBoxOwner = nullptr;
}
