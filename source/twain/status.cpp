#include "twain/status.h"

#include "twain/not_built.h"

TW_UINT16 ConditionCode;
WindowHandle FailureBoxOwner;

void ShowOperationFailure(int, TW_UINT16) {}
void ShowDeviceMessage(WindowHandle, int) {}
TW_UINT16 StatusOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetStatusState() {}
