#include "twain/states.h"

#include "twain/not_built.h"

int32_t SourceState = kStateLoaded;
int32_t InUseFlag;
TW_IDENTITY AppIdentity;
int32_t DuplexUnitPresent;

TW_UINT16 IdentityOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetStatesState() {}
