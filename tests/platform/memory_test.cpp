// The host's global memory catches what Windows would let slip: leaks, double
// frees, stale handles, unbalanced locks and use of memory after unlock or free.
#include <cstring>

#include "support/source_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define TQ_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TQ_TEST_ASAN 1
#endif
#endif

namespace {

class HostMemoryTest : public UnloadedSourceTest {
  protected:
    bool Reports(const std::string& fragment) {
        for (const std::string& problem : host::TearDownProblems()) {
            if (problem.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(HostMemoryTest, BalancedUseLeavesNothingToReport) {
    MemoryBlock block = PlatformGlobalAlloc(GHND, 48);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<unsigned char*>(PlatformGlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[47], 0);
    EXPECT_EQ(host::LiveLockCount(), 1);
    EXPECT_FALSE(PlatformGlobalUnlock(block)); // no lock left, as Win32 answers
    EXPECT_EQ(PlatformGlobalSize(block), 48u);
    EXPECT_EQ(PlatformGlobalFree(block), nullptr);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
    EXPECT_TRUE(host::TearDownProblems().empty());
}

TEST_F(HostMemoryTest, LeakedBlockFailsTheTest) {
    checkAtTearDown = false;
    MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, 12);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(Reports("leaked (12 bytes"));
    host::ExpectAliveAtTearDown(block);
    EXPECT_TRUE(host::TearDownProblems().empty());
}

TEST_F(HostMemoryTest, MisusesAreRecorded) {
    checkAtTearDown = false;
    struct Case {
        const char* name;
        void (*misuse)();
        const char* expected;
    };
    const Case cases[] = {
        {"double free",
         [] {
             MemoryBlock block = PlatformGlobalAlloc(GHND, 4);
             PlatformGlobalFree(block);
             EXPECT_EQ(PlatformGlobalFree(block), block); // failure gives the handle back
         },
         "double free"},
        {"lock after free",
         [] {
             MemoryBlock block = PlatformGlobalAlloc(GHND, 4);
             PlatformGlobalFree(block);
             EXPECT_EQ(PlatformGlobalLock(block), nullptr);
         },
         "GlobalLock of freed block"},
        {"size after free",
         [] {
             MemoryBlock block = PlatformGlobalAlloc(GHND, 4);
             PlatformGlobalFree(block);
             EXPECT_EQ(PlatformGlobalSize(block), 0u);
         },
         "GlobalSize of freed block"},
        {"unlock without lock",
         [] {
             MemoryBlock block = PlatformGlobalAlloc(GHND, 4);
             PlatformGlobalUnlock(block);
             PlatformGlobalFree(block);
         },
         "not locked"},
        {"free while locked",
         [] {
             MemoryBlock block = PlatformGlobalAlloc(GHND, 4);
             PlatformGlobalLock(block);
             PlatformGlobalFree(block);
         },
         "still locked 1 times"},
        {"unknown handle", [] { PlatformGlobalFree(host::BlockFromHandleValue(0x1234)); },
         "GlobalFree of unknown handle"},
        {"lock of a null handle", [] { PlatformGlobalLock(nullptr); }, "null handle"},
    };
    for (const Case& c : cases) {
        host::Reset();
        c.misuse();
        EXPECT_TRUE(Reports(c.expected)) << c.name;
        EXPECT_EQ(host::LiveBlockCount(), 0u) << c.name;
    }
}

TEST_F(HostMemoryTest, HandlesFitATwainUint32AndStayDistinct) {
    MemoryBlock first = PlatformGlobalAlloc(GHND, 1);
    MemoryBlock second = PlatformGlobalAlloc(GPTR, 1);
    uint32_t value = host::HandleValue(first);
    EXPECT_EQ(host::BlockFromHandleValue(value), first);
    EXPECT_NE(first, second);
    // A fixed block's handle is no address either: code must lock it.
    void* address = PlatformGlobalLock(second);
    EXPECT_NE(address, static_cast<void*>(second));
    PlatformGlobalUnlock(second);
    host::FreeApplicationBlock(first);
    host::FreeApplicationBlock(second);
    // A freed handle is never handed out again, so a stale copy stays detectable.
    MemoryBlock third = PlatformGlobalAlloc(GHND, 1);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    PlatformGlobalFree(third);
}

TEST_F(HostMemoryTest, BlocksNotZeroFilledHoldGarbage) {
    MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, 16);
    std::vector<uint8_t> bytes = host::BlockBytes(block);
    ASSERT_EQ(bytes.size(), 16u);
    for (uint8_t byte : bytes) {
        EXPECT_NE(byte, 0);
    }
    PlatformGlobalFree(block);
}

TEST_F(HostMemoryTest, LockCountsNestAndReadsNeedNoLock) {
    MemoryBlock block = PlatformGlobalAlloc(GHND, 8);
    auto* bytes = static_cast<unsigned char*>(PlatformGlobalLock(block));
    EXPECT_EQ(PlatformGlobalLock(block), bytes);
    std::memcpy(bytes, "ABCDEFGH", 8);
    EXPECT_TRUE(PlatformGlobalUnlock(block)); // still locked once
    EXPECT_FALSE(PlatformGlobalUnlock(block));
    EXPECT_EQ(host::BlockBytes(block),
              std::vector<uint8_t>({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    EXPECT_EQ(host::Block(block)->locks, 0);
    PlatformGlobalFree(block);
    EXPECT_TRUE(host::Block(block)->freed);
}

TEST_F(HostMemoryTest, FaultInjectionRefusesChosenAllocationsAndLocks) {
    host::FailAllocation(2);
    MemoryBlock first = PlatformGlobalAlloc(GHND, 4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(PlatformGlobalAlloc(GHND, 4), nullptr);
    MemoryBlock third = PlatformGlobalAlloc(GHND, 4);
    EXPECT_NE(third, nullptr);

    host::FailAllocationsFrom(host::AllocationCalls() + 2);
    MemoryBlock fourth = PlatformGlobalAlloc(GHND, 4);
    EXPECT_NE(fourth, nullptr);
    EXPECT_EQ(PlatformGlobalAlloc(GHND, 4), nullptr);
    EXPECT_EQ(PlatformGlobalAlloc(GHND, 4), nullptr);
    EXPECT_EQ(host::AllocationCalls(), 6);

    host::FailLocksOf(first);
    EXPECT_EQ(PlatformGlobalLock(first), nullptr);
    host::FailNextLock();
    EXPECT_EQ(PlatformGlobalLock(third), nullptr);
    void* locked = PlatformGlobalLock(third);
    EXPECT_NE(locked, nullptr);
    PlatformGlobalUnlock(third);
    EXPECT_TRUE(host::Errors().empty()); // refusals are faults of the platform, not misuse

    for (MemoryBlock block : {first, third, fourth}) {
        PlatformGlobalFree(block);
    }
}

#ifdef TQ_TEST_ASAN
using HostMemoryDeathTest = HostMemoryTest;

TEST_F(HostMemoryDeathTest, WriteThroughPointerAfterFreeIsCaught) {
    EXPECT_DEATH(
        {
            MemoryBlock block = PlatformGlobalAlloc(GHND, 32);
            auto* bytes = static_cast<volatile unsigned char*>(PlatformGlobalLock(block));
            PlatformGlobalUnlock(block);
            PlatformGlobalFree(block);
            bytes[3] = 1;
        },
        "heap-use-after-free");
}

TEST_F(HostMemoryDeathTest, WriteThroughPointerAfterUnlockIsCaught) {
    EXPECT_DEATH(
        {
            MemoryBlock block = PlatformGlobalAlloc(GHND, 32);
            auto* bytes = static_cast<volatile unsigned char*>(PlatformGlobalLock(block));
            PlatformGlobalUnlock(block);
            bytes[3] = 1;
        },
        "use-after-poison");
}
#endif

} // namespace
