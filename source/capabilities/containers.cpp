#include "capabilities/containers.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Every block has one byte behind its items that is never written.
constexpr size_t kSpareByte = 1;

uint8_t* LockNewContainer(TW_CAPABILITY* capability, size_t bytes, TW_UINT16 conType) {
    MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, bytes);
    // The application learns of a failed allocation only from the null handle.
    capability->hContainer = block;
    if (block == nullptr) {
        return nullptr;
    }
    capability->ConType = conType;
    return static_cast<uint8_t*>(PlatformGlobalLock(block));
}

// Items are copied one at a time at the container's own width, so a list held
// at another stride could never be read past its end.
void CopyItems(uint8_t* itemList, TW_UINT16 itemType, TW_UINT32 count, const void* items) {
    const uint32_t width = ContainerItemSize(itemType);
    const auto* source = static_cast<const uint8_t*>(items);
    for (TW_UINT32 i = 0; i < count; ++i) {
        std::memcpy(itemList + static_cast<size_t>(i) * width,
                    source + static_cast<size_t>(i) * width, width);
    }
}

} // namespace

uint32_t ContainerItemSize(TW_UINT16 itemType) {
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return sizeof(TW_FRAME);
    // No capability of this source carries strings; they get the widths of
    // their TWAIN records so a builder handed one still stays inside its block.
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    default:
        return 0;
    }
}

void NewOneValueContainer(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 value) {
    uint8_t* memory = LockNewContainer(capability, sizeof(TW_ONEVALUE), TWON_ONEVALUE);
    if (memory == nullptr) {
        return;
    }
    const TW_ONEVALUE one{itemType, value};
    std::memcpy(memory, &one, sizeof one);
    PlatformGlobalUnlock(capability->hContainer);
}

void NewEnumerationContainer(TW_CAPABILITY* capability, const EnumerationRecord* record,
                             const void* items) {
    const size_t bytes =
        sizeof(EnumerationRecord) + kSpareByte +
        static_cast<size_t>(record->NumItems) * ContainerItemSize(record->ItemType);
    uint8_t* memory = LockNewContainer(capability, bytes, TWON_ENUMERATION);
    if (memory == nullptr) {
        return;
    }
    std::memcpy(memory, record, sizeof(EnumerationRecord));
    CopyItems(memory + sizeof(EnumerationRecord), record->ItemType, record->NumItems, items);
    PlatformGlobalUnlock(capability->hContainer);
}

void NewArrayContainer(TW_CAPABILITY* capability, const ArrayRecord* record, const void* items) {
    const size_t bytes =
        sizeof(ArrayRecord) + kSpareByte +
        static_cast<size_t>(record->NumItems) * ContainerItemSize(record->ItemType);
    uint8_t* memory = LockNewContainer(capability, bytes, TWON_ARRAY);
    if (memory == nullptr) {
        return;
    }
    std::memcpy(memory, record, sizeof(ArrayRecord));
    CopyItems(memory + sizeof(ArrayRecord), record->ItemType, record->NumItems, items);
    PlatformGlobalUnlock(capability->hContainer);
}

bool ReadOneValue(TW_CAPABILITY* capability, void* destination) {
    MemoryBlock block = capability->hContainer;
    if (block == nullptr) {
        return false;
    }
    const auto* memory = static_cast<const uint8_t*>(PlatformGlobalLock(block));
    if (memory == nullptr) {
        return false;
    }
    // The application's block may be shorter than it claims to be; the size of
    // a TW_ONEVALUE is all that is ever read.
    if (PlatformGlobalSize(block) < sizeof(TW_ONEVALUE)) {
        PlatformGlobalUnlock(block);
        return false;
    }
    TW_UINT16 itemType;
    std::memcpy(&itemType, memory + offsetof(TW_ONEVALUE, ItemType), sizeof itemType);
    size_t width = 0;
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
        width = 1;
        break;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        width = 2;
        break;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        width = 4;
        break;
    default:
        break; // frames and strings do not fit a one-value word
    }
    std::memcpy(destination, memory + offsetof(TW_ONEVALUE, Item), width);
    PlatformGlobalUnlock(block);
    return true;
}

bool ContainerCanBeLocked(TW_CAPABILITY* capability) {
    MemoryBlock block = capability->hContainer;
    if (block == nullptr || PlatformGlobalLock(block) == nullptr) {
        return false;
    }
    PlatformGlobalUnlock(block);
    return true;
}
