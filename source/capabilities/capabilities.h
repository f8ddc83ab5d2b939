// DAT_CAPABILITY: the 28 capabilities, their queries, set and reset.
#pragma once

#include <cstdint>

#include "capabilities/containers.h"
#include "twain/entry.h"

// The records and values behind every capability answer; set up with the
// library, changed only by the capability operation, the open (seeding) and
// the acquisition (TransferCount 1 becomes 0).
struct CapabilityStateRecord {
    EnumerationRecord ResolutionEnumeration;
    EnumerationRecord BrightnessEnumeration;
    EnumerationRecord PixelFlavorEnumeration;
    EnumerationRecord TransferMechanismEnumeration;
    EnumerationRecord BitDepthEnumeration;
    EnumerationRecord SupportedSizesEnumeration;
    ArrayRecord SupportedCapsArray;
    int16_t TransferCount;
    int32_t BrightnessValue;
    uint16_t TransferMechanismValue;
    uint16_t PixelFlavorValue;
    uint16_t SupportedSizeValue;
};
extern CapabilityStateRecord CapabilityState;

// Open stores three indexes from the scan settings (resolution, brightness, bit depth).
void SeedCapabilitiesFromSettings();

TW_UINT16 CapabilityOperation(TripletRequest* request);

void ResetCapabilityState();
