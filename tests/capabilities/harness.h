// What a TWAIN application sees of the capability operations: requests through
// the entry, the containers it receives, and the source's records behind them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "support/source_fixture.h"
#include "capabilities/image_layout.h"
#include "platform/host/host_platform.h"
#include "platform/platform.h"
#include "simulator/scanner_simulator.h"
#include "twain/entry.h"
#include "twain/status.h"
#include "ui/settings.h"

namespace capability_test {

// A ConType the source never writes: a request that must leave the
// application's TW_CAPABILITY alone is seen to do so.
constexpr TW_UINT16 kUntouchedConType = 0x7777;

// Requests come from the application the Source Manager knows as Id 1.
inline TW_UINT16 Request(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, void* data) {
    static TW_IDENTITY application = MakeIdentity(1, "Capability Test");
    return DS_Entry(&application, group, dat, message, data);
}

// The condition code as the application reads it, with DAT_STATUS.
inline TW_UINT16 StatusCode() {
    TW_STATUS status{0xEEEE, 0xEEEE};
    EXPECT_EQ(Request(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    return status.ConditionCode;
}

inline TW_UINT16 CapabilityRequest(TW_UINT16 message, TW_CAPABILITY* capability) {
    return Request(DG_CONTROL, DAT_CAPABILITY, message, capability);
}

inline TW_UINT16 LayoutRequest(TW_UINT16 message, TW_IMAGELAYOUT* layout) {
    return Request(DG_IMAGE, DAT_IMAGELAYOUT, message, layout);
}

inline const char* MessageName(TW_UINT16 message) {
    switch (message) {
    case MSG_GET:
        return "MSG_GET";
    case MSG_GETCURRENT:
        return "MSG_GETCURRENT";
    case MSG_GETDEFAULT:
        return "MSG_GETDEFAULT";
    case MSG_SET:
        return "MSG_SET";
    case MSG_RESET:
        return "MSG_RESET";
    default:
        return "other message";
    }
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
    std::ostringstream out;
    out << std::hex;
    for (uint8_t byte : bytes) {
        out << (byte < 16 ? "0" : "") << static_cast<int>(byte) << ' ';
    }
    return out.str();
}

inline void PutLe(std::vector<uint8_t>& bytes, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

inline uint32_t Fix32(int16_t whole, uint16_t frac) {
    return static_cast<uint16_t>(whole) | (static_cast<uint32_t>(frac) << 16);
}

// TW_CAPABILITY keeps the two-byte packing, so its handle is read by value
// rather than bound to a reference.
inline TW_HANDLE HandleOf(const TW_CAPABILITY& capability) {
    return capability.hContainer;
}

// A container as the application expects to find it. Enumerations and arrays
// of this source always hold 16-bit items.
struct Container {
    TW_UINT16 conType;
    TW_UINT16 itemType;
    std::vector<uint32_t> items; // a one value's Item, or the list
    uint32_t current;
    uint32_t fallback;
};

inline Container One(TW_UINT16 itemType, uint32_t item) {
    return Container{TWON_ONEVALUE, itemType, {item}, 0, 0};
}
inline Container Enum(uint32_t current, uint32_t fallback, std::vector<uint32_t> items) {
    return Container{TWON_ENUMERATION, TWTY_UINT16, std::move(items), current, fallback};
}
inline Container Array(std::vector<uint32_t> items) {
    return Container{TWON_ARRAY, TWTY_UINT16, std::move(items), 0, 0};
}

// The bytes the application reads, without the spare byte that is never written.
inline std::vector<uint8_t> Encode(const Container& c) {
    std::vector<uint8_t> bytes;
    PutLe(bytes, c.itemType, 2);
    if (c.conType == TWON_ONEVALUE) {
        PutLe(bytes, c.items.at(0), 4);
        return bytes;
    }
    PutLe(bytes, static_cast<uint32_t>(c.items.size()), 4);
    if (c.conType == TWON_ENUMERATION) {
        PutLe(bytes, c.current, 4);
        PutLe(bytes, c.fallback, 4);
    }
    for (uint32_t item : c.items) {
        PutLe(bytes, item, 2);
    }
    return bytes;
}

// The block's size: a one value is 6 bytes, the others one spare byte more.
inline size_t BlockSizeOf(const Container& c) {
    return Encode(c).size() + (c.conType == TWON_ONEVALUE ? 0 : 1);
}

// Checks what the source left in the application's TW_CAPABILITY and frees the
// container as the application does.
inline void ExpectContainer(TW_CAPABILITY& capability, const Container& expected,
                            const std::string& label) {
    SCOPED_TRACE(label);
    EXPECT_EQ(capability.ConType, expected.conType);
    ASSERT_NE(HandleOf(capability), nullptr);
    auto block = host::Block(capability.hContainer);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(block->flags, GMEM_MOVEABLE);
    EXPECT_EQ(block->locks, 0);
    EXPECT_EQ(block->size, BlockSizeOf(expected));
    std::vector<uint8_t> bytes = host::BlockBytes(capability.hContainer);
    const std::vector<uint8_t> want = Encode(expected);
    ASSERT_GE(bytes.size(), want.size());
    bytes.resize(want.size());
    EXPECT_EQ(Hex(bytes), Hex(want));
    host::FreeApplicationBlock(capability.hContainer);
    capability.hContainer = nullptr;
}

// An application's container for MSG_SET, built as an application builds one.
inline MemoryBlock ApplicationBlock(const std::vector<uint8_t>& bytes) {
    MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* memory = PlatformGlobalLock(block);
    std::memcpy(memory, bytes.data(), bytes.size());
    PlatformGlobalUnlock(block);
    return block;
}

inline std::vector<uint8_t> OneValueBytes(TW_UINT16 itemType, uint32_t item) {
    std::vector<uint8_t> bytes;
    PutLe(bytes, itemType, 2);
    PutLe(bytes, item, 4);
    return bytes;
}

inline std::vector<uint8_t> EnumerationBytes(std::initializer_list<uint16_t> items) {
    std::vector<uint8_t> bytes;
    PutLe(bytes, TWTY_UINT16, 2);
    PutLe(bytes, static_cast<uint32_t>(items.size()), 4);
    PutLe(bytes, 0, 4);
    PutLe(bytes, 0, 4);
    for (uint16_t item : items) {
        PutLe(bytes, item, 2);
    }
    return bytes;
}

// TW_RANGE: ItemType, then MinValue, MaxValue, StepSize, DefaultValue, CurrentValue.
inline std::vector<uint8_t> RangeBytes(uint32_t low, uint32_t high) {
    std::vector<uint8_t> bytes;
    PutLe(bytes, TWTY_UINT16, 2);
    for (uint32_t value : {low, high, 1u, low, low}) {
        PutLe(bytes, value, 4);
    }
    return bytes;
}

// The source's records that an application can change.
struct Snapshot {
    CapabilityStateRecord caps;
    ScanSettingsRecord settings;
};

inline Snapshot TakeSnapshot() {
    return Snapshot{CapabilityState, ScanSettings};
}

// The records keep the two-byte packing: fields are compared by value.
inline void ExpectEnumerationEq(const EnumerationRecord& want, const EnumerationRecord& got,
                                const char* name) {
    EXPECT_EQ(TW_UINT16{got.ItemType}, TW_UINT16{want.ItemType}) << name;
    EXPECT_EQ(TW_UINT32{got.NumItems}, TW_UINT32{want.NumItems}) << name;
    EXPECT_EQ(TW_UINT32{got.CurrentIndex}, TW_UINT32{want.CurrentIndex}) << name << ".CurrentIndex";
    EXPECT_EQ(TW_UINT32{got.DefaultIndex}, TW_UINT32{want.DefaultIndex}) << name << ".DefaultIndex";
}

inline void ExpectSnapshotEq(const Snapshot& want, const Snapshot& got) {
    ExpectEnumerationEq(want.caps.ResolutionEnumeration, got.caps.ResolutionEnumeration,
                        "ResolutionEnumeration");
    ExpectEnumerationEq(want.caps.BrightnessEnumeration, got.caps.BrightnessEnumeration,
                        "BrightnessEnumeration");
    ExpectEnumerationEq(want.caps.PixelFlavorEnumeration, got.caps.PixelFlavorEnumeration,
                        "PixelFlavorEnumeration");
    ExpectEnumerationEq(want.caps.TransferMechanismEnumeration,
                        got.caps.TransferMechanismEnumeration, "TransferMechanismEnumeration");
    ExpectEnumerationEq(want.caps.BitDepthEnumeration, got.caps.BitDepthEnumeration,
                        "BitDepthEnumeration");
    ExpectEnumerationEq(want.caps.SupportedSizesEnumeration, got.caps.SupportedSizesEnumeration,
                        "SupportedSizesEnumeration");
    EXPECT_EQ(TW_UINT16{got.caps.SupportedCapsArray.ItemType},
              TW_UINT16{want.caps.SupportedCapsArray.ItemType});
    EXPECT_EQ(TW_UINT32{got.caps.SupportedCapsArray.NumItems},
              TW_UINT32{want.caps.SupportedCapsArray.NumItems});
    EXPECT_EQ(got.caps.TransferCount, want.caps.TransferCount) << "TransferCount";
    EXPECT_EQ(got.caps.BrightnessValue, want.caps.BrightnessValue) << "BrightnessValue";
    EXPECT_EQ(got.caps.TransferMechanismValue, want.caps.TransferMechanismValue)
        << "TransferMechanismValue";
    EXPECT_EQ(got.caps.PixelFlavorValue, want.caps.PixelFlavorValue) << "PixelFlavorValue";
    EXPECT_EQ(got.caps.SupportedSizeValue, want.caps.SupportedSizeValue) << "SupportedSizeValue";
    EXPECT_EQ(got.settings.PaperIndex, want.settings.PaperIndex) << "PaperIndex";
    EXPECT_EQ(got.settings.ScanType, want.settings.ScanType) << "ScanType";
    EXPECT_EQ(got.settings.ResolutionIndex, want.settings.ResolutionIndex) << "ResolutionIndex";
    EXPECT_EQ(got.settings.Duplex, want.settings.Duplex) << "Duplex";
    EXPECT_EQ(got.settings.Brightness, want.settings.Brightness) << "Brightness";
}

// Every test starts from a freshly loaded library, no scanner and no settings
// dialog, and ends with nothing of the host simulation left behind: no block,
// lock or handle, and no misuse.
class CapabilityTest : public SourceTest {
  protected:
    void SetUp() override {
        sim::Reset();
        SourceTest::SetUp();
    }
    void TearDown() override {
        SourceTest::TearDown();
        sim::Reset();
    }

    static void ExpectNothingLeft() {
        for (const std::string& problem : host::TearDownProblems()) {
            ADD_FAILURE() << problem;
        }
    }
    // A new process for the next case: what this one left is checked first.
    static void Reload() {
        ExpectNothingLeft();
        sim::Reset();
        host::Reset();
        ASSERT_TRUE(host::LoadDataSource());
    }

    static TW_CAPABILITY Query(TW_UINT16 cap) {
        return TW_CAPABILITY{cap, kUntouchedConType, nullptr};
    }
};

} // namespace capability_test
