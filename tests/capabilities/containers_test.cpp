// The container builders and the one-value reader, as the capability
// operation uses them.
#include "harness.h"

namespace capability_test {
namespace {

using Containers = CapabilityTest;

TEST_F(Containers, ItemSizesByType) {
    const std::pair<TW_UINT16, uint32_t> sizes[] = {
        {TWTY_INT8, 1},     {TWTY_UINT8, 1},  {TWTY_INT16, 2},  {TWTY_UINT16, 2},
        {TWTY_BOOL, 2},     {TWTY_INT32, 4},  {TWTY_UINT32, 4}, {TWTY_FIX32, 4},
        {TWTY_FRAME, 16},   {TWTY_STR32, 34}, {TWTY_STR64, 66}, {TWTY_STR128, 130},
        {TWTY_STR255, 256}, {0x00FF, 0}};
    for (const auto& [type, size] : sizes) {
        EXPECT_EQ(ContainerItemSize(type), size) << "type " << type;
    }
}

TEST_F(Containers, EnumerationAndArrayBlocksHoldHeaderItemsAndOneSpareByte) {
    struct Shape {
        TW_UINT16 itemType;
        uint32_t count;
        size_t enumerationBytes;
        size_t arrayBytes;
    };
    const Shape shapes[] = {{TWTY_UINT16, 3, 21, 13}, {TWTY_UINT16, 28, 71, 63},
                            {TWTY_UINT16, 0, 15, 7},  {TWTY_UINT8, 5, 20, 12},
                            {TWTY_INT32, 2, 23, 15},  {TWTY_FRAME, 2, 47, 39}};
    std::vector<uint8_t> items(64);
    for (size_t i = 0; i < items.size(); ++i) {
        items[i] = static_cast<uint8_t>(0xA0 + i);
    }
    for (const Shape& shape : shapes) {
        SCOPED_TRACE("type " + std::to_string(shape.itemType) + " x" + std::to_string(shape.count));
        const size_t itemBytes = shape.count * ContainerItemSize(shape.itemType);
        // Exactly the items the list holds, so a copy past it is caught.
        std::vector<uint8_t> list(items.begin(), items.begin() + static_cast<long>(itemBytes));

        const EnumerationRecord record{shape.itemType, shape.count, 1, 2};
        TW_CAPABILITY capability{ICAP_BITDEPTH, kUntouchedConType, nullptr};
        NewEnumerationContainer(&capability, &record, list.data());
        EXPECT_EQ(capability.Cap, ICAP_BITDEPTH);
        EXPECT_EQ(capability.ConType, TWON_ENUMERATION);
        ASSERT_NE(HandleOf(capability), nullptr);
        EXPECT_EQ(host::BlockSize(capability.hContainer), shape.enumerationBytes);
        std::vector<uint8_t> want;
        PutLe(want, shape.itemType, 2);
        PutLe(want, shape.count, 4);
        PutLe(want, 1, 4);
        PutLe(want, 2, 4);
        want.insert(want.end(), list.begin(), list.end());
        std::vector<uint8_t> got = host::BlockBytes(capability.hContainer);
        got.resize(want.size());
        EXPECT_EQ(Hex(got), Hex(want));
        host::FreeApplicationBlock(capability.hContainer);

        const ArrayRecord array{shape.itemType, shape.count};
        capability = TW_CAPABILITY{CAP_SUPPORTEDCAPS, kUntouchedConType, nullptr};
        NewArrayContainer(&capability, &array, list.data());
        EXPECT_EQ(capability.Cap, CAP_SUPPORTEDCAPS);
        EXPECT_EQ(capability.ConType, TWON_ARRAY);
        ASSERT_NE(HandleOf(capability), nullptr);
        EXPECT_EQ(host::BlockSize(capability.hContainer), shape.arrayBytes);
        want.clear();
        PutLe(want, shape.itemType, 2);
        PutLe(want, shape.count, 4);
        want.insert(want.end(), list.begin(), list.end());
        got = host::BlockBytes(capability.hContainer);
        got.resize(want.size());
        EXPECT_EQ(Hex(got), Hex(want));
        host::FreeApplicationBlock(capability.hContainer);
    }
}

TEST_F(Containers, OneValueCarriesAllFourBytes) {
    TW_CAPABILITY capability{CAP_XFERCOUNT, kUntouchedConType, nullptr};
    NewOneValueContainer(&capability, TWTY_INT16, 0xFFFFFFFFu);
    EXPECT_EQ(capability.Cap, CAP_XFERCOUNT);
    ExpectContainer(capability, One(TWTY_INT16, 0xFFFFFFFFu), "INT16 -1");
    NewOneValueContainer(&capability, TWTY_FIX32, Fix32(300, 0x8000));
    ExpectContainer(capability, One(TWTY_FIX32, Fix32(300, 0x8000)), "FIX32 300.5");
}

TEST_F(Containers, BuildersWithoutMemoryLeaveANullHandleAndTheConType) {
    const EnumerationRecord record{TWTY_UINT16, 1, 0, 0};
    const TW_UINT16 item = 7;
    const ArrayRecord array{TWTY_UINT16, 1};
    for (int builder = 0; builder < 3; ++builder) {
        TW_CAPABILITY capability{ICAP_UNITS, kUntouchedConType,
                                 reinterpret_cast<TW_HANDLE>(0x1234)};
        host::FailNextAllocation();
        if (builder == 0) {
            NewOneValueContainer(&capability, TWTY_UINT16, 1);
        } else if (builder == 1) {
            NewEnumerationContainer(&capability, &record, &item);
        } else {
            NewArrayContainer(&capability, &array, &item);
        }
        EXPECT_EQ(HandleOf(capability), nullptr) << "builder " << builder;
        EXPECT_EQ(capability.ConType, kUntouchedConType) << "builder " << builder;
    }
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

struct Read {
    const char* name;
    TW_UINT16 itemType;
    uint32_t item;
    uint32_t expected; // the destination starts as 0xEEEEEEEE
};

TEST_F(Containers, ReadOneValueCopiesTheWidthOfTheItemType) {
    const Read reads[] = {
        {"INT8", TWTY_INT8, 0x44332211u, 0xEEEEEE11u},
        {"UINT8", TWTY_UINT8, 0x44332211u, 0xEEEEEE11u},
        {"INT16", TWTY_INT16, 0x44332211u, 0xEEEE2211u},
        {"UINT16", TWTY_UINT16, 0x44332211u, 0xEEEE2211u},
        {"BOOL", TWTY_BOOL, 0x00000001u, 0xEEEE0001u},
        {"INT32", TWTY_INT32, 0x44332211u, 0x44332211u},
        {"UINT32", TWTY_UINT32, 0x44332211u, 0x44332211u},
        {"FIX32", TWTY_FIX32, 0x44332211u, 0x44332211u},
        {"FRAME", TWTY_FRAME, 0x44332211u, 0xEEEEEEEEu},
        {"STR32", TWTY_STR32, 0x44332211u, 0xEEEEEEEEu},
        {"STR255", TWTY_STR255, 0x44332211u, 0xEEEEEEEEu},
        {"unknown", 0x0100, 0x44332211u, 0xEEEEEEEEu},
    };
    for (const Read& read : reads) {
        MemoryBlock block = ApplicationBlock(OneValueBytes(read.itemType, read.item));
        // ConType is the caller's business: the reader does not look at it.
        TW_CAPABILITY capability{ICAP_UNITS, TWON_RANGE, block};
        uint32_t destination = 0xEEEEEEEEu;
        const int locks = host::LockCalls();
        EXPECT_TRUE(ReadOneValue(&capability, &destination)) << read.name;
        EXPECT_EQ(destination, read.expected) << read.name;
        EXPECT_EQ(host::LockCalls() - locks, 1) << read.name;
        EXPECT_EQ(host::Block(block)->locks, 0) << read.name;
        host::FreeApplicationBlock(block);
    }
}

TEST_F(Containers, ReadOneValueRefusesWhatItCannotReadWhole) {
    uint32_t destination = 0xEEEEEEEEu;
    TW_CAPABILITY capability{ICAP_UNITS, TWON_ONEVALUE, nullptr};
    EXPECT_FALSE(ReadOneValue(&capability, &destination));

    for (size_t bytes : {1u, 2u, 5u}) {
        std::vector<uint8_t> shortBlock = OneValueBytes(TWTY_UINT32, 0x44332211u);
        shortBlock.resize(bytes);
        capability.hContainer = ApplicationBlock(shortBlock);
        EXPECT_FALSE(ReadOneValue(&capability, &destination)) << bytes << " bytes";
        EXPECT_EQ(host::Block(capability.hContainer)->locks, 0);
        host::FreeApplicationBlock(capability.hContainer);
    }

    capability.hContainer = ApplicationBlock(OneValueBytes(TWTY_UINT32, 0x44332211u));
    host::FailLocksOf(capability.hContainer);
    EXPECT_FALSE(ReadOneValue(&capability, &destination));
    host::FreeApplicationBlock(capability.hContainer);
    EXPECT_EQ(destination, 0xEEEEEEEEu);
}

} // namespace
} // namespace capability_test
