#include "capabilities/containers.h"

uint32_t ContainerItemSize(TW_UINT16) { return 0; }
void NewOneValueContainer(TW_CAPABILITY*, TW_UINT16, TW_UINT32) {}
void NewEnumerationContainer(TW_CAPABILITY*, const EnumerationRecord*, const void*) {}
void NewArrayContainer(TW_CAPABILITY*, const ArrayRecord*, const void*) {}
void ReadOneValue(TW_CAPABILITY*, void*) {}
