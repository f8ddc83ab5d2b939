// Win32 global memory on the host, with accounting: every block is recorded
// from its allocation to its free, so that leaks, double frees, stale handles
// and unbalanced locks are reported, and fault injection can refuse any
// allocation or lock.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/host/host_state.h"

#if defined(__SANITIZE_ADDRESS__)
#define TQ_HOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TQ_HOST_ASAN 1
#endif
#endif

#ifdef TQ_HOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace host::detail {

namespace {

// Windows fills nothing; a recognisable pattern makes reliance on the
// contents of a block that is not zero-filled show up in tests.
constexpr unsigned char kGarbage = 0xCD;
constexpr unsigned char kFreedGarbage = 0xDD;

size_t BackingSize(const MemoryRecord& block) {
    return block.size == 0 ? 1 : block.size;
}

bool Moveable(const MemoryRecord& block) {
    return (block.flags & GMEM_MOVEABLE) != 0;
}

// A moveable block may move while it is unlocked, so the system must not touch
// it through an old pointer; poisoning it then lets AddressSanitizer say so.
bool ShouldPoison(const MemoryRecord& block) {
    return S().memory.poison && Moveable(block) && block.locks == 0 && !block.freed;
}

void SetPoison(const MemoryRecord& block, bool poisoned) {
#ifdef TQ_HOST_ASAN
    if (poisoned) {
        ASAN_POISON_MEMORY_REGION(block.data, BackingSize(block));
    } else {
        ASAN_UNPOISON_MEMORY_REGION(block.data, BackingSize(block));
    }
#else
    (void)block;
    (void)poisoned;
#endif
}

// The live record of a handle, or null after recording why it is not usable.
MemoryRecord* Usable(MemoryBlock handle, const char* operation) {
    MemoryState& memory = S().memory;
    if (handle == nullptr) {
        RecordError(std::string(operation) + " of a null handle");
        return nullptr;
    }
    auto found = memory.blocks.find(Raw(handle));
    if (found == memory.blocks.end()) {
        RecordError(std::string(operation) + " of unknown handle " + Hex(Raw(handle)));
        return nullptr;
    }
    if (found->second.freed) {
        RecordError(std::string(operation) + " of freed block " + Hex(Raw(handle)));
        return nullptr;
    }
    return &found->second;
}

} // namespace

void ResetMemory() {}

void ReleaseMemory() {
    for (auto& [handle, block] : S().memory.blocks) {
        if (!block.freed) {
            SetPoison(block, false);
            std::free(block.data);
            block.data = nullptr;
            block.freed = true;
        }
    }
}

} // namespace host::detail

using namespace host::detail;

MemoryBlock PlatformGlobalAlloc(uint32_t flags, size_t bytes) {
    MemoryState& memory = S().memory;
    int number = ++memory.allocationCalls;
    if (number == memory.failAllocation ||
        (memory.failAllocationsFrom > 0 && number >= memory.failAllocationsFrom) ||
        (memory.failure && memory.failure(flags, bytes, number))) {
        return nullptr;
    }
    MemoryRecord block;
    block.flags = flags;
    block.size = bytes;
    if ((flags & GMEM_ZEROINIT) != 0) {
        block.data = static_cast<unsigned char*>(std::calloc(1, BackingSize(block)));
    } else {
        block.data = static_cast<unsigned char*>(std::malloc(BackingSize(block)));
        if (block.data != nullptr && memory.fill) {
            std::memset(block.data, kGarbage, BackingSize(block));
        }
    }
    if (block.data == nullptr) {
        return nullptr;
    }
    uintptr_t handle = memory.nextHandle;
    memory.nextHandle += kHandleStep;
    MemoryRecord& stored = memory.blocks[handle] = block;
    SetPoison(stored, ShouldPoison(stored));
    return reinterpret_cast<MemoryBlock>(handle);
}

void* PlatformGlobalLock(MemoryBlock handle) {
    MemoryState& memory = S().memory;
    ++memory.lockCalls;
    MemoryRecord* block = Usable(handle, "GlobalLock");
    if (block == nullptr) {
        return nullptr;
    }
    if (memory.failNextLock || std::find(memory.failLocksOf.begin(), memory.failLocksOf.end(),
                                         Raw(handle)) != memory.failLocksOf.end()) {
        memory.failNextLock = false;
        return nullptr;
    }
    // A moveable block of no bytes is discarded; Windows gives no address for it.
    if (Moveable(*block) && block->size == 0) {
        return nullptr;
    }
    ++block->locks;
    SetPoison(*block, false);
    return block->data;
}

bool PlatformGlobalUnlock(MemoryBlock handle) {
    MemoryRecord* block = Usable(handle, "GlobalUnlock");
    if (block == nullptr) {
        return false;
    }
    if (block->locks == 0) {
        RecordError("GlobalUnlock of block " + Hex(Raw(handle)) + " that is not locked");
        return false;
    }
    --block->locks;
    SetPoison(*block, ShouldPoison(*block));
    // As GlobalUnlock: nonzero while the block stays locked.
    return block->locks > 0;
}

MemoryBlock PlatformGlobalFree(MemoryBlock handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    MemoryState& memory = S().memory;
    auto found = memory.blocks.find(Raw(handle));
    if (found == memory.blocks.end()) {
        RecordError("GlobalFree of unknown handle " + Hex(Raw(handle)));
        return handle;
    }
    MemoryRecord& block = found->second;
    if (block.freed) {
        RecordError("GlobalFree of block " + Hex(Raw(handle)) + " freed before (double free)");
        return handle;
    }
    if (block.locks > 0) {
        RecordError("GlobalFree of block " + Hex(Raw(handle)) + " still locked " +
                    std::to_string(block.locks) + " times");
    }
    SetPoison(block, false);
    if (memory.fill) {
        std::memset(block.data, kFreedGarbage, BackingSize(block));
    }
    std::free(block.data);
    block.data = nullptr;
    block.freed = true;
    block.locks = 0;
    return nullptr;
}

size_t PlatformGlobalSize(MemoryBlock handle) {
    MemoryRecord* block = Usable(handle, "GlobalSize");
    return block == nullptr ? 0 : block->size;
}

namespace host {

size_t LiveBlockCount() {
    size_t count = 0;
    for (const auto& entry : S().memory.blocks) {
        count += entry.second.freed ? 0 : 1;
    }
    return count;
}

int LiveLockCount() {
    int count = 0;
    for (const auto& entry : S().memory.blocks) {
        count += entry.second.freed ? 0 : entry.second.locks;
    }
    return count;
}

std::vector<MemoryBlock> LiveBlocks() {
    std::vector<MemoryBlock> live;
    for (const auto& [handle, block] : S().memory.blocks) {
        if (!block.freed) {
            live.push_back(reinterpret_cast<MemoryBlock>(handle));
        }
    }
    return live;
}

int AllocationCalls() {
    return S().memory.allocationCalls;
}
int LockCalls() {
    return S().memory.lockCalls;
}

std::optional<BlockInfo> Block(MemoryBlock handle) {
    auto found = S().memory.blocks.find(Raw(handle));
    if (found == S().memory.blocks.end()) {
        return std::nullopt;
    }
    const MemoryRecord& block = found->second;
    return BlockInfo{block.flags, block.size, block.locks, block.freed};
}

std::vector<uint8_t> BlockBytes(MemoryBlock handle) {
    MemoryRecord* block = Usable(handle, "host::BlockBytes");
    if (block == nullptr) {
        return {};
    }
    SetPoison(*block, false);
    std::vector<uint8_t> bytes(block->data, block->data + block->size);
    SetPoison(*block, ShouldPoison(*block));
    return bytes;
}

size_t BlockSize(MemoryBlock handle) {
    MemoryRecord* block = Usable(handle, "host::BlockSize");
    return block == nullptr ? 0 : block->size;
}

uint32_t HandleValue(MemoryBlock handle) {
    return static_cast<uint32_t>(Raw(handle));
}
MemoryBlock BlockFromHandleValue(uint32_t value) {
    return reinterpret_cast<MemoryBlock>(static_cast<uintptr_t>(value));
}

void FreeApplicationBlock(MemoryBlock handle) {
    if (PlatformGlobalFree(handle) != nullptr) {
        RecordError("the application could not free block " + Hex(Raw(handle)));
    }
}

void ExpectAliveAtTearDown(MemoryBlock handle) {
    auto found = S().memory.blocks.find(Raw(handle));
    if (found == S().memory.blocks.end()) {
        RecordError("host::ExpectAliveAtTearDown of unknown handle " + Hex(Raw(handle)));
        return;
    }
    found->second.expectedAlive = true;
}

void FailAllocation(int number) {
    S().memory.failAllocation = number;
}
void FailAllocationsFrom(int number) {
    S().memory.failAllocationsFrom = number;
}
void FailNextAllocation() {
    S().memory.failAllocation = S().memory.allocationCalls + 1;
}
void SetAllocationFailure(std::function<bool(uint32_t, size_t, int)> fails) {
    S().memory.failure = std::move(fails);
}
void FailLocksOf(MemoryBlock handle) {
    S().memory.failLocksOf.push_back(Raw(handle));
}
void FailNextLock() {
    S().memory.failNextLock = true;
}

void SetGarbageFill(bool fill) {
    S().memory.fill = fill;
}

void SetPoisonUnlockedBlocks(bool poison) {
    MemoryState& memory = S().memory;
    memory.poison = poison;
    for (auto& entry : memory.blocks) {
        if (!entry.second.freed) {
            SetPoison(entry.second, ShouldPoison(entry.second));
        }
    }
}

} // namespace host
