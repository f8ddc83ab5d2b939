#include "capabilities/capabilities.h"

#include "twain/not_built.h"

CapabilityStateRecord CapabilityState;

void SeedCapabilitiesFromSettings() {}
TW_UINT16 CapabilityOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetCapabilityState() {}
