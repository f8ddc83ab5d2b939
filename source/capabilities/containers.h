// Capability containers: the only code that touches container memory.
#pragma once

#include <cstdint>

#include "twain/twain.h"

#pragma pack(push, 2)
// Static description of an enumeration: exactly the TW_ENUMERATION header.
struct EnumerationRecord {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
};
// Static description of an array: exactly the TW_ARRAY header.
struct ArrayRecord {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
};
#pragma pack(pop)
static_assert(sizeof(EnumerationRecord) == 14);
static_assert(sizeof(ArrayRecord) == 6);

// Bytes one item of the type occupies in a container; 0 for a type the source
// does not know.
uint32_t ContainerItemSize(TW_UINT16 itemType);

// The builders leave their outcome in the TW_CAPABILITY: hContainer null when
// the block could not be allocated (ConType then untouched).
void NewOneValueContainer(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 value);
void NewEnumerationContainer(TW_CAPABILITY* capability, const EnumerationRecord* record,
                             const void* items);
void NewArrayContainer(TW_CAPABILITY* capability, const ArrayRecord* record, const void* items);

// Copies the Item of the application's one-value container into destination
// (room for four bytes) by the container's own ItemType; bytes the item does
// not cover keep their value. False, with destination untouched, when the
// handle cannot be locked or its block is smaller than a TW_ONEVALUE.
bool ReadOneValue(TW_CAPABILITY* capability, void* destination);

// True when the application's container handle can be locked; reads nothing.
bool ContainerCanBeLocked(TW_CAPABILITY* capability);
