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

uint32_t ContainerItemSize(TW_UINT16 itemType);
void NewOneValueContainer(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 value);
void NewEnumerationContainer(TW_CAPABILITY* capability, const EnumerationRecord* record,
                             const void* items);
void NewArrayContainer(TW_CAPABILITY* capability, const ArrayRecord* record, const void* items);
void ReadOneValue(TW_CAPABILITY* capability, void* destination);
