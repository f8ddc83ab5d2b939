// DG_IMAGE/DAT_IMAGELAYOUT: the frame of the selected paper in inches.
#include "harness.h"
#include "twain/startup.h"
#include "ui/tables.h"

namespace capability_test {
namespace {

using ImageLayout = CapabilityTest;

// A layout as an application might leave it before asking: every byte set.
TW_IMAGELAYOUT Scribbled() {
    TW_IMAGELAYOUT layout;
    std::memset(&layout, 0xAB, sizeof layout);
    return layout;
}

std::vector<uint8_t> BytesOf(const TW_IMAGELAYOUT& layout) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&layout);
    return std::vector<uint8_t>(bytes, bytes + sizeof layout);
}

// The edge in exact decimal arithmetic: (s + margin) / 100 inches, rounded to
// the nearest 1/65536.
TW_FIX32 ExactEdge(int32_t hundredths, int32_t marginHundredths) {
    const int64_t n = ((hundredths + marginHundredths) * int64_t{65536} + 50) / 100;
    return TW_FIX32{static_cast<TW_INT16>(n >> 16), static_cast<TW_UINT16>(n & 0xFFFF)};
}

void ExpectFrame(const TW_IMAGELAYOUT& layout, TW_FIX32 right, TW_FIX32 bottom,
                 const std::string& label) {
    SCOPED_TRACE(label);
    EXPECT_EQ(layout.Frame.Left.Whole, 0);
    EXPECT_EQ(layout.Frame.Left.Frac, 0);
    EXPECT_EQ(layout.Frame.Top.Whole, 0);
    EXPECT_EQ(layout.Frame.Top.Frac, 0);
    EXPECT_EQ(layout.Frame.Right.Whole, right.Whole);
    EXPECT_EQ(layout.Frame.Right.Frac, right.Frac);
    EXPECT_EQ(layout.Frame.Bottom.Whole, bottom.Whole);
    EXPECT_EQ(layout.Frame.Bottom.Frac, bottom.Frac);
    EXPECT_EQ(uint32_t{layout.DocumentNumber}, 0u);
    EXPECT_EQ(uint32_t{layout.PageNumber}, 0u);
    EXPECT_EQ(uint32_t{layout.FrameNumber}, 0u);
}

TEST_F(ImageLayout, A4UprightIsAnsweredWholeByGetAndGetCurrent) {
    ScanSettings.PaperIndex = 2;
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT}) {
        TW_IMAGELAYOUT layout = Scribbled();
        ASSERT_EQ(LayoutRequest(message, &layout), TWRC_SUCCESS);
        // 827 + 1 and 1170 + 3 hundredths.
        ExpectFrame(layout, TW_FIX32{8, 18350}, TW_FIX32{11, 47841}, MessageName(message));
    }
    EXPECT_TRUE(host::MessageBoxes().empty());
}

// The single-precision 0.01 gives exact decimal results for every paper but
// the A3 height, which comes out one unit of Frac short.
TEST_F(ImageLayout, EveryPaperFollowsTheSinglePrecisionRule) {
    for (size_t paper = 0; paper < PaperTable.size(); ++paper) {
        ScanSettings.PaperIndex = static_cast<int32_t>(paper);
        TW_IMAGELAYOUT layout = Scribbled();
        ASSERT_EQ(LayoutRequest(MSG_GET, &layout), TWRC_SUCCESS);
        const TW_FIX32 right = ExactEdge(PaperTable[paper].widthHundredths, 1);
        TW_FIX32 bottom = ExactEdge(PaperTable[paper].heightHundredths, 3);
        if (paper == 0) {
            EXPECT_EQ(bottom.Whole, 16);
            EXPECT_EQ(bottom.Frac, 37356);
            bottom.Frac = 37355;
        }
        ExpectFrame(layout, right, bottom, "paper " + std::to_string(paper));
    }
}

TEST_F(ImageLayout, DefaultIsTheLargestPageAndChangesNoSetting) {
    ScanSettings.PaperIndex = 2;
    TW_IMAGELAYOUT layout = Scribbled();
    ASSERT_EQ(LayoutRequest(MSG_GETDEFAULT, &layout), TWRC_SUCCESS);
    ExpectFrame(layout, TW_FIX32{11, 46531}, TW_FIX32{16, 37355}, "default");
    EXPECT_EQ(ScanSettings.PaperIndex, 2);
    layout = Scribbled();
    ASSERT_EQ(LayoutRequest(MSG_GETCURRENT, &layout), TWRC_SUCCESS);
    ExpectFrame(layout, TW_FIX32{8, 18350}, TW_FIX32{11, 47841}, "current after default");
}

TEST_F(ImageLayout, FollowsASizeSetThroughTheCapability) {
    ScanSettings.PaperIndex = 2;
    MemoryBlock block = ApplicationBlock(OneValueBytes(TWTY_UINT16, TWSS_USLEGAL));
    TW_CAPABILITY capability{ICAP_SUPPORTEDSIZES, TWON_ONEVALUE, block};
    ASSERT_EQ(CapabilityRequest(MSG_SET, &capability), TWRC_SUCCESS);
    host::FreeApplicationBlock(block);
    TW_IMAGELAYOUT layout = Scribbled();
    ASSERT_EQ(LayoutRequest(MSG_GET, &layout), TWRC_SUCCESS);
    // "Legal L": 850 by 1400 hundredths.
    ExpectFrame(layout, TW_FIX32{8, 33423}, TW_FIX32{14, 1966}, "Legal L");
}

TEST_F(ImageLayout, SetAndResetTouchNothing) {
    ScanSettings.PaperIndex = 12;
    TW_IMAGELAYOUT before = Scribbled();
    ASSERT_EQ(LayoutRequest(MSG_GET, &before), TWRC_SUCCESS);
    for (TW_UINT16 message : {MSG_SET, MSG_RESET}) {
        TW_IMAGELAYOUT layout = Scribbled();
        layout.Frame.Right = TW_FIX32{2, 0};
        const std::vector<uint8_t> sent = BytesOf(layout);
        EXPECT_EQ(LayoutRequest(message, &layout), TWRC_SUCCESS) << MessageName(message);
        EXPECT_EQ(Hex(BytesOf(layout)), Hex(sent)) << MessageName(message);
        EXPECT_EQ(ScanSettings.PaperIndex, 12);
        TW_IMAGELAYOUT after = Scribbled();
        ASSERT_EQ(LayoutRequest(MSG_GET, &after), TWRC_SUCCESS);
        EXPECT_EQ(Hex(BytesOf(after)), Hex(BytesOf(before))) << MessageName(message);
    }
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(ImageLayout, OtherMessagesShowTheFailureBoxAndWriteNothing) {
    ResourceModule = OwnModule;
    for (TW_UINT16 message : {MSG_GETFIRST, MSG_GETNEXT, MSG_QUERYSUPPORT}) {
        TW_IMAGELAYOUT layout = Scribbled();
        const size_t boxes = host::MessageBoxes().size();
        EXPECT_EQ(LayoutRequest(message, &layout), TWRC_FAILURE);
        EXPECT_EQ(StatusCode(), TWCC_BADPROTOCOL);
        EXPECT_EQ(Hex(BytesOf(layout)), Hex(BytesOf(Scribbled())));
        ASSERT_EQ(host::MessageBoxes().size(), boxes + 1);
        EXPECT_EQ(host::MessageBoxes().back().text,
                  "General failure in response to DAT_IMAGEINFO.  Bad protocol error.");
        EXPECT_EQ(host::MessageBoxes().back().caption, "Velmora Oskaro Tq3480 PCL");
    }
}

// Only a capability request clears the condition code; a null layout for a
// query is refused rather than written through.
TEST_F(ImageLayout, KeepsTheConditionCodeAndRefusesANullLayout) {
    ConditionCode = TWCC_SEQERROR;
    TW_IMAGELAYOUT layout = Scribbled();
    ASSERT_EQ(LayoutRequest(MSG_GET, &layout), TWRC_SUCCESS);
    EXPECT_EQ(StatusCode(), TWCC_SEQERROR);
    ResourceModule = OwnModule;
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        EXPECT_EQ(LayoutRequest(message, nullptr), TWRC_FAILURE);
        EXPECT_EQ(StatusCode(), TWCC_BADVALUE);
    }
    EXPECT_TRUE(host::MessageBoxes().empty());
}

} // namespace
} // namespace capability_test
