// Source states, open and close (DAT_IDENTITY).
#pragma once

#include <cstdint>

#include "twain/entry.h"

constexpr int32_t kStateLoaded = 300;
constexpr int32_t kStateOpen = 400;
constexpr int32_t kStateEnabled = 500;
constexpr int32_t kStateTransferReady = 600;
constexpr int32_t kStateTransferring = 700;

extern int32_t SourceState;       // TWAIN state times 100
extern int32_t InUseFlag;         // set by the first open, never cleared
extern TW_IDENTITY AppIdentity;   // the connected application; Id 0 when none
extern int32_t DuplexUnitPresent; // from the feeder status at open

// States 400 to 700: an application has the source open.
bool SourceIsOpen();

TW_UINT16 IdentityOperation(TripletRequest* request);

void ResetStatesState();
