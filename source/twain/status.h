// Condition codes, DAT_STATUS and the two message boxes.
#pragma once

#include "platform/platform.h"
#include "twain/entry.h"

extern TW_UINT16 ConditionCode;      // the last failure's code, reported by DAT_STATUS
extern WindowHandle FailureBoxOwner; // hParent of the last accepted MSG_ENABLEDS

// The text that follows an operation text for a condition code (not for 0).
constexpr int ConditionTextId(TW_UINT16 code) {
    switch (code) {
    case TWCC_BUMMER:
    case TWCC_LOWMEMORY:
    case TWCC_MAXCONNECTIONS:
    case TWCC_OPERATIONERROR:
    case TWCC_BADCAP:
    case TWCC_DISKACCESS:
    case TWCC_BADPROTOCOL:
    case TWCC_BADVALUE:
    case TWCC_SEQERROR:
        return 143 + code;
    default:
        return 159;
    }
}

// The operation-failure box: operation text, then the condition text. The
// caller has stored the same code in ConditionCode and returns TWRC_FAILURE.
void ShowOperationFailure(int operationTextId, TW_UINT16 code);
// The device box: a scanner message by string id, with the stop icon.
void ShowDeviceMessage(WindowHandle owner, int stringId);

TW_UINT16 StatusOperation(TripletRequest* request);

void ResetStatusState();
