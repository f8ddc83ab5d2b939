// Condition codes, DAT_STATUS and the two message boxes.
#pragma once

#include "platform/platform.h"
#include "twain/entry.h"

extern TW_UINT16 ConditionCode;
extern WindowHandle FailureBoxOwner; // hParent of the last accepted MSG_ENABLEDS

// The operation-failure box: operation text, then the condition text.
void ShowOperationFailure(int operationTextId, TW_UINT16 code);
// The device box: a scanner message by string id, with the stop icon.
void ShowDeviceMessage(WindowHandle owner, int stringId);

TW_UINT16 StatusOperation(TripletRequest* request);

void ResetStatusState();
