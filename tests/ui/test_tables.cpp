// The paper and resolution tables and the largest page.
#include <string>

#include <gtest/gtest.h>

#include "resources/resource_tables.h"
#include "ui/tables.h"

namespace {

struct PaperCase {
    const char* name;
    uint16_t widthPixels, heightPixels;
    int32_t widthHundredths, heightHundredths;
};

// By paper index, as the settings file and the dialog list number them.
constexpr PaperCase kPapers[] = {
    {"A3L", 7015, 9921, 1170, 1654},     {"B4L", 6078, 8598, 1012, 1433},
    {"A4L", 4960, 7015, 827, 1170},      {"B5L", 4299, 6078, 717, 1012},
    {"A5L", 3496, 4960, 583, 827},       {"FLS L", 4795, 7795, 827, 1300},
    {"A4C", 7015, 4960, 1170, 827},      {"B5C", 6078, 4299, 1012, 717},
    {"A5C", 4960, 3496, 827, 583},       {"Ledger L", 6590, 10204, 1100, 1700},
    {"11x14 L", 6590, 8409, 1100, 1400}, {"Legal L", 5102, 8409, 850, 1400},
    {"Letter L", 5102, 6590, 850, 1100}, {"Half Letter L", 3307, 5102, 550, 850},
    {"Letter C", 6590, 5102, 1100, 850}, {"Half Letter C", 5102, 3307, 850, 550},
    {"8KL", 6378, 9212, 1063, 1536},     {"16KL", 4606, 6378, 768, 1063},
    {"16KC", 6378, 4606, 1063, 768},
};

TEST(PaperTableTest, EveryRowHasItsNameAndBothSizes) {
    ASSERT_EQ(PaperTable.size(), std::size(kPapers));
    for (size_t index = 0; index < PaperTable.size(); ++index) {
        const PaperRow& row = PaperTable[index];
        const PaperCase& expected = kPapers[index];
        SCOPED_TRACE("paper index " + std::to_string(index) + " " + expected.name);
        EXPECT_EQ(row.nameStringId, 80 + static_cast<int>(index));
        const char* name = FindResourceString(row.nameStringId);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, expected.name);
        EXPECT_EQ(row.widthPixels, expected.widthPixels);
        EXPECT_EQ(row.heightPixels, expected.heightPixels);
        EXPECT_EQ(row.widthHundredths, expected.widthHundredths);
        EXPECT_EQ(row.heightHundredths, expected.heightHundredths);
    }
}

TEST(PaperTableTest, A4UprightByIndexTwo) {
    EXPECT_STREQ(FindResourceString(PaperTable[2].nameStringId), "A4L");
    EXPECT_EQ(PaperTable[2].widthPixels, 4960);
    EXPECT_EQ(PaperTable[2].heightPixels, 7015);
    EXPECT_EQ(PaperTable[2].widthHundredths, 827);
    EXPECT_EQ(PaperTable[2].heightHundredths, 1170);
}

// 8K is 270 x 390 mm; its pixel height is 390 mm at 600 dpi with the fraction
// dropped, as for A4's 210 mm.
TEST(PaperTableTest, EightKHeightMatchesItsMillimetres) {
    EXPECT_EQ(PaperTable[16].heightPixels, static_cast<uint16_t>(390 * 600 / 25.4));
    EXPECT_EQ(PaperTable[2].widthPixels, static_cast<uint16_t>(210 * 600 / 25.4));
}

TEST(ResolutionTableTest, ThreeResolutionsByIndex) {
    EXPECT_EQ(ResolutionTable.size(), 3u);
    EXPECT_EQ(ResolutionTable[0], 150);
    EXPECT_EQ(ResolutionTable[1], 300);
    EXPECT_EQ(ResolutionTable[2], 600);
}

TEST(PhysicalSizeTest, A3Upright) {
    EXPECT_EQ(PhysicalSize.width, 1170);
    EXPECT_EQ(PhysicalSize.height, 1654);
}

} // namespace
