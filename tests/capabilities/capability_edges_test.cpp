// The capability behaviours an application depends on beyond the tables: how
// answers follow the settings, the failure box, the device probe, and what
// happens with containers an application gets wrong.
#include "harness.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "twain/user_interface.h"

namespace capability_test {
namespace {

const std::vector<uint32_t> kResolutions{150, 300, 600};
const std::vector<uint32_t> kBrightnessLevels{1, 2, 3, 4, 5, 6, 7, 8, 9};
const std::vector<uint32_t> kSizes{TWSS_A3, TWSS_B4,       TWSS_A4LETTER, TWSS_B5LETTER,
                                   TWSS_A5, TWSS_USLEDGER, TWSS_USLEGAL,  TWSS_USLETTER};

using Capabilities = CapabilityTest;

void ExpectAnswer(TW_UINT16 message, TW_UINT16 cap, const Container& expected,
                  const std::string& label) {
    TW_CAPABILITY capability = TW_CAPABILITY{cap, kUntouchedConType, nullptr};
    ASSERT_EQ(CapabilityRequest(message, &capability), TWRC_SUCCESS) << label;
    EXPECT_EQ(StatusCode(), TWCC_SUCCESS) << label;
    ExpectContainer(capability, expected, label);
}

TW_UINT16 SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, uint32_t item) {
    MemoryBlock block = ApplicationBlock(OneValueBytes(itemType, item));
    TW_CAPABILITY capability{cap, TWON_ONEVALUE, block};
    const TW_UINT16 rc = CapabilityRequest(MSG_SET, &capability);
    host::FreeApplicationBlock(block);
    return rc;
}

// What the open does once it has loaded the settings.
void OpenWithSettings(ScanSettingsRecord settings) {
    ScanSettings = settings;
    SeedCapabilitiesFromSettings();
}

TEST_F(Capabilities, ResolutionFollowsTheOpenThenOnlyTheCurrentValueFollowsTheDialog) {
    OpenWithSettings(ScanSettingsRecord{2, 0, 2, 0, 0});
    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
        ExpectAnswer(MSG_GET, cap, Enum(2, 1, kResolutions), "after open, GET");
        ExpectAnswer(MSG_GETCURRENT, cap, One(TWTY_FIX32, Fix32(600, 0)), "after open, CURRENT");
        ExpectAnswer(MSG_GETDEFAULT, cap, One(TWTY_FIX32, Fix32(150, 0)), "after open, DEFAULT");
    }
    ScanSettings.ResolutionIndex = 1; // the user picks 300 dpi in the dialog
    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_YRESOLUTION}) {
        ExpectAnswer(MSG_GETCURRENT, cap, One(TWTY_FIX32, Fix32(300, 0)), "dialog, CURRENT");
        ExpectAnswer(MSG_GET, cap, Enum(2, 1, kResolutions), "dialog, GET");
    }
    // A reset restores nothing and answers the enumeration as it stands.
    TW_CAPABILITY capability = Query(ICAP_XRESOLUTION);
    ASSERT_EQ(CapabilityRequest(MSG_RESET, &capability), TWRC_SUCCESS);
    ExpectContainer(capability, Enum(2, 1, kResolutions), "reset");
    EXPECT_EQ(ScanSettings.ResolutionIndex, 1);
}

// The same through a real open: the settings file, then the seeding.
TEST_F(Capabilities, OpenFromTheSettingsFileSeedsTheEnumerations) {
    host::WriteFileText("C:\\TEMP\\UAXXXX.ini", "[Velmora Oskaro Tq3480 PCL]\r\n"
                                                "Resolution=2\r\nBrightness=-2\r\n");
    sim::AddScanner(0);
    CapabilityState.BitDepthEnumeration.CurrentIndex = 1;
    ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, ICAP_XRESOLUTION, Enum(2, 1, kResolutions), "resolution");
    ExpectAnswer(MSG_GETCURRENT, ICAP_YRESOLUTION, One(TWTY_FIX32, Fix32(600, 0)), "current");
    ExpectAnswer(MSG_GET, ICAP_BRIGHTNESS, Enum(0, 4, kBrightnessLevels), "brightness -2");
    ExpectAnswer(MSG_GET, ICAP_BITDEPTH, Enum(0, 0, {1, 8, 24}), "bit depth");
    ASSERT_EQ(CloseSource(), TWRC_SUCCESS);
}

TEST_F(Capabilities, SettingOneResolutionMovesBoth) {
    ASSERT_EQ(SetOneValue(ICAP_YRESOLUTION, TWTY_FIX32, Fix32(300, 0x4000)), TWRC_SUCCESS);
    ExpectAnswer(MSG_GETCURRENT, ICAP_XRESOLUTION, One(TWTY_FIX32, Fix32(300, 0)), "X");
    ExpectAnswer(MSG_GET, ICAP_XRESOLUTION, Enum(1, 1, kResolutions), "X enumeration");
    ASSERT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(600, 0)), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, ICAP_YRESOLUTION, Enum(2, 1, kResolutions), "Y enumeration");
    ASSERT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(200, 0)), TWRC_FAILURE);
    EXPECT_EQ(StatusCode(), TWCC_BADVALUE);
    ExpectAnswer(MSG_GETCURRENT, ICAP_YRESOLUTION, One(TWTY_FIX32, Fix32(600, 0)), "after 200");
}

// A brightness setting of -4 ... -1 is no index of the nine items; it is
// reported as the first item, 0 ... 4 as the items 1 ... 5.
TEST_F(Capabilities, OpenSeedsBrightnessAsOneOfTheNineItems) {
    for (int32_t brightness = -4; brightness <= 4; ++brightness) {
        OpenWithSettings(ScanSettingsRecord{2, 0, 1, 0, brightness});
        const uint32_t index = brightness < 0 ? 0u : static_cast<uint32_t>(brightness);
        ExpectAnswer(MSG_GET, ICAP_BRIGHTNESS, Enum(index, 4, kBrightnessLevels),
                     "brightness " + std::to_string(brightness));
        EXPECT_EQ(ScanSettings.Brightness, brightness) << "the setting itself is kept";
    }
    // The current value is the capability's own, not the setting.
    ExpectAnswer(MSG_GETCURRENT, ICAP_BRIGHTNESS, One(TWTY_FIX32, Fix32(2, 0)), "current");
}

TEST_F(Capabilities, OpenSeedsBitDepthIndexZero) {
    CapabilityState.BitDepthEnumeration.CurrentIndex = 2;
    OpenWithSettings(ScanSettingsRecord{2, 0, 1, 0, 0});
    ExpectAnswer(MSG_GET, ICAP_BITDEPTH, Enum(0, 0, {1, 8, 24}), "bit depth");
}

TEST_F(Capabilities, BrightnessSetResetAndCurrent) {
    ScanSettings.Brightness = -3;
    ASSERT_EQ(SetOneValue(ICAP_BRIGHTNESS, TWTY_FIX32, Fix32(3, 0)), TWRC_SUCCESS);
    EXPECT_EQ(ScanSettings.Brightness, 3);
    ExpectAnswer(MSG_GETCURRENT, ICAP_BRIGHTNESS, One(TWTY_FIX32, Fix32(3, 0)), "after set");
    ExpectAnswer(MSG_GET, ICAP_BRIGHTNESS, Enum(3, 4, kBrightnessLevels), "after set");
    TW_CAPABILITY capability = Query(ICAP_BRIGHTNESS);
    ASSERT_EQ(CapabilityRequest(MSG_RESET, &capability), TWRC_SUCCESS);
    ExpectContainer(capability, Enum(0, 4, kBrightnessLevels), "reset answer");
    ExpectAnswer(MSG_GETCURRENT, ICAP_BRIGHTNESS, One(TWTY_FIX32, Fix32(2, 0)), "after reset");
    ExpectAnswer(MSG_GETDEFAULT, ICAP_BRIGHTNESS, One(TWTY_FIX32, Fix32(0, 0)), "default");
    EXPECT_EQ(ScanSettings.Brightness, 3);
}

TEST_F(Capabilities, TransferCountKeepsOnlyOnePage) {
    const Container all = One(TWTY_INT16, 0xFFFFFFFFu);
    const Container onePage = One(TWTY_INT16, 1);
    struct Step {
        int16_t count;
        TW_UINT16 rc;
        const Container& current;
    };
    const Step steps[] = {{1, TWRC_SUCCESS, onePage}, {5, TWRC_SUCCESS, all},
                          {1, TWRC_SUCCESS, onePage}, {0, TWRC_SUCCESS, all},
                          {1, TWRC_SUCCESS, onePage}, {-2, TWRC_FAILURE, onePage},
                          {-1, TWRC_SUCCESS, all}};
    for (const Step& step : steps) {
        const std::string label = "count " + std::to_string(step.count);
        ASSERT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16,
                              static_cast<uint32_t>(static_cast<int32_t>(step.count))),
                  step.rc)
            << label;
        EXPECT_EQ(StatusCode(), step.rc == TWRC_SUCCESS ? TWCC_SUCCESS : TWCC_BADVALUE) << label;
        ExpectAnswer(MSG_GETCURRENT, CAP_XFERCOUNT, step.current, label);
        ExpectAnswer(MSG_GETDEFAULT, CAP_XFERCOUNT, all, label);
    }
}

TEST_F(Capabilities, SupportedSizesSetRefusedAndReset) {
    ScanSettings.PaperIndex = 16; // chosen in the dialog: not told through the capability
    ExpectAnswer(MSG_GETCURRENT, ICAP_SUPPORTEDSIZES, One(TWTY_UINT16, TWSS_NONE), "before");

    ASSERT_EQ(SetOneValue(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_USLETTER), TWRC_SUCCESS);
    EXPECT_EQ(ScanSettings.PaperIndex, 12);
    ExpectAnswer(MSG_GETCURRENT, ICAP_SUPPORTEDSIZES, One(TWTY_UINT16, TWSS_USLETTER), "letter");
    ExpectAnswer(MSG_GET, ICAP_SUPPORTEDSIZES, Enum(7, 0, kSizes), "letter");

    ASSERT_EQ(SetOneValue(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_B6), TWRC_FAILURE);
    EXPECT_EQ(StatusCode(), TWCC_BADVALUE);
    EXPECT_EQ(ScanSettings.PaperIndex, 12);
    ExpectAnswer(MSG_GETCURRENT, ICAP_SUPPORTEDSIZES, One(TWTY_UINT16, TWSS_NONE), "B6");

    ASSERT_EQ(SetOneValue(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_USLEGAL), TWRC_SUCCESS);
    TW_CAPABILITY capability = Query(ICAP_SUPPORTEDSIZES);
    ASSERT_EQ(CapabilityRequest(MSG_RESET, &capability), TWRC_SUCCESS);
    ExpectContainer(capability, One(TWTY_UINT16, TWSS_A3), "reset answer");
    ExpectAnswer(MSG_GETCURRENT, ICAP_SUPPORTEDSIZES, One(TWTY_UINT16, TWSS_NONE), "reset");
    ExpectAnswer(MSG_GET, ICAP_SUPPORTEDSIZES, Enum(0, 0, kSizes), "reset");
    EXPECT_EQ(ScanSettings.PaperIndex, 11);
}

TEST_F(Capabilities, TransferMechanismAndBitDepthCurrentValues) {
    ASSERT_EQ(SetOneValue(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);
    ExpectAnswer(MSG_GETCURRENT, ICAP_XFERMECH, One(TWTY_UINT16, TWSX_MEMORY), "memory");
    ExpectAnswer(MSG_GET, ICAP_XFERMECH, Enum(2, 0, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}),
                 "memory");
    ASSERT_EQ(SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 8), TWRC_SUCCESS);
    ExpectAnswer(MSG_GETCURRENT, ICAP_BITDEPTH, One(TWTY_UINT16, 1), "bit depth 8");
    ExpectAnswer(MSG_GET, ICAP_BITDEPTH, Enum(0, 0, {1, 8, 24}), "bit depth 8");
}

TEST_F(Capabilities, DuplexIsNotACapabilityOfThisSource) {
    ResourceModule = OwnModule;
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
        TW_CAPABILITY capability = Query(CAP_DUPLEX);
        EXPECT_EQ(CapabilityRequest(message, &capability), TWRC_FAILURE);
        EXPECT_EQ(StatusCode(), TWCC_BADCAP);
        EXPECT_EQ(capability.ConType, kUntouchedConType);
        EXPECT_EQ(HandleOf(capability), nullptr);
    }
    EXPECT_EQ(SetOneValue(CAP_DUPLEX, TWTY_BOOL, 1), TWRC_FAILURE);
    EXPECT_EQ(StatusCode(), TWCC_BADCAP);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(Capabilities, OtherMessagesShowTheGeneralFailureBox) {
    ResourceModule = OwnModule;
    const TW_UINT16 messages[] = {MSG_GETFIRST, MSG_GETNEXT, MSG_QUERYSUPPORT, MSG_NULL, 0x7777};
    for (TW_UINT16 message : messages) {
        for (TW_UINT16 cap : {ICAP_XRESOLUTION, CAP_DUPLEX}) {
            const size_t boxes = host::MessageBoxes().size();
            TW_CAPABILITY capability = Query(cap);
            EXPECT_EQ(CapabilityRequest(message, &capability), TWRC_FAILURE);
            EXPECT_EQ(StatusCode(), TWCC_BADPROTOCOL);
            EXPECT_EQ(capability.ConType, kUntouchedConType);
            EXPECT_EQ(HandleOf(capability), nullptr);
            ASSERT_EQ(host::MessageBoxes().size(), boxes + 1) << "message " << message;
            const host::MessageBoxCall& box = host::MessageBoxes().back();
            EXPECT_EQ(box.text, "General failure in response to DAT_CAPS.  Bad protocol error.");
            EXPECT_EQ(box.caption, "Velmora Oskaro Tq3480 PCL");
            EXPECT_EQ(box.type, MB_OK);
            EXPECT_EQ(box.owner, nullptr);
        }
    }
}

TEST_F(Capabilities, OtherMessagesBeforeAnyOpenFailWithoutABox) {
    TW_CAPABILITY capability = Query(ICAP_XRESOLUTION);
    EXPECT_EQ(CapabilityRequest(MSG_GETFIRST, &capability), TWRC_FAILURE);
    EXPECT_EQ(StatusCode(), TWCC_BADPROTOCOL);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

// A request without its TW_CAPABILITY cannot be answered, and is not a
// protocol error the user needs to be told about.
TEST_F(Capabilities, NullCapabilityFailsWithBadValue) {
    ResourceModule = OwnModule;
    for (TW_UINT16 message :
         {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET, MSG_RESET, MSG_GETFIRST}) {
        EXPECT_EQ(CapabilityRequest(message, nullptr), TWRC_FAILURE);
        EXPECT_EQ(StatusCode(), TWCC_BADVALUE);
    }
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_EQ(host::AllocationCalls(), 0);
}

TEST_F(Capabilities, DeviceOnlineWithoutAScannerIsFalseAndLeavesNothingOpen) {
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        ExpectAnswer(message, CAP_DEVICEONLINE, One(TWTY_BOOL, 0), MessageName(message));
        EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
    }
    EXPECT_FALSE(host::DeviceOpens().empty()) << "the scanner was looked for";
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(Capabilities, DeviceOnlineProbesTheScannerEachTimeAndClosesTheChannel) {
    sim::AddScanner(3);
    for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        ExpectAnswer(message, CAP_DEVICEONLINE, One(TWTY_BOOL, 1), MessageName(message));
        EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::TranscriptText();
    }
    EXPECT_EQ(sim::CommandCount(sim::kOpGetStatus), 3) << sim::TranscriptText();
    sim::Slot(3).answers = false; // it takes commands but never answers
    ExpectAnswer(MSG_GET, CAP_DEVICEONLINE, One(TWTY_BOOL, 0), "not answering");
    sim::Unplug(3);
    ExpectAnswer(MSG_GET, CAP_DEVICEONLINE, One(TWTY_BOOL, 0), "unplugged");
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    EXPECT_TRUE(sim::ProtocolErrors().empty()) << sim::ProtocolErrorText();
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(Capabilities, IndicatorsFollowTheSettingsDialog) {
    const auto dialog = reinterpret_cast<WindowHandle>(0x0B000020u);
    const std::pair<WindowHandle, uint32_t> states[] = {{nullptr, 0}, {dialog, 1}, {nullptr, 0}};
    for (const auto& [window, shown] : states) {
        SettingsDialogWindow = window;
        const std::string label = shown ? "dialog shown" : "no dialog";
        for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
            ExpectAnswer(message, CAP_INDICATORS, One(TWTY_BOOL, shown),
                         label + " " + MessageName(message));
        }
    }
}

TEST_F(Capabilities, IndicatorsThroughOpenEnableAndDisable) {
    sim::AddScanner(0);
    ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, CAP_INDICATORS, One(TWTY_BOOL, 0), "open");
    TW_USERINTERFACE ui{1, 0, host::kApplicationWindow};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, CAP_INDICATORS, One(TWTY_BOOL, 1), "enabled with the dialog");
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, CAP_INDICATORS, One(TWTY_BOOL, 0), "disabled");
    ui.ShowUI = 0;
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ExpectAnswer(MSG_GET, CAP_INDICATORS, One(TWTY_BOOL, 0), "enabled without the dialog");
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_EQ(CloseSource(), TWRC_SUCCESS);
}

TEST_F(Capabilities, AnsweredAlikeInEveryState) {
    OpenWithSettings(ScanSettingsRecord{2, 0, 2, 0, 1});
    for (int32_t state :
         {kStateLoaded, kStateOpen, kStateEnabled, kStateTransferReady, kStateTransferring}) {
        SourceState = state;
        const std::string label = "state " + std::to_string(state);
        ExpectAnswer(MSG_GET, ICAP_XRESOLUTION, Enum(2, 1, kResolutions), label);
        ExpectAnswer(MSG_GETCURRENT, ICAP_XRESOLUTION, One(TWTY_FIX32, Fix32(600, 0)), label);
        EXPECT_EQ(SetOneValue(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA), TWRC_SUCCESS) << label;
    }
}

TEST_F(Capabilities, LoadingTheLibraryAgainRestoresEveryRecord) {
    const Snapshot atLoad = TakeSnapshot();
    OpenWithSettings(ScanSettingsRecord{3, 1, 2, 1, -4});
    ASSERT_EQ(SetOneValue(CAP_XFERCOUNT, TWTY_INT16, 1), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_BRIGHTNESS, TWTY_FIX32, Fix32(1, 0)), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_B4), TWRC_SUCCESS);
    ResetCapabilityState();
    Snapshot now = TakeSnapshot();
    now.settings = atLoad.settings; // the scan settings have their own reset
    ExpectSnapshotEq(atLoad, now);
}

// ---- Containers an application gets wrong

struct BadContainer {
    const char* name;
    TW_UINT16 cap;
    TW_UINT16 conType;
    int blockBytes; // 0: a null handle
    bool lockFails;
};

TEST_F(Capabilities, SetWithAnUnusableContainerFailsWithBadValueAndTouchesNothing) {
    const BadContainer cases[] = {
        {"null handle", ICAP_COMPRESSION, TWON_ONEVALUE, 0, false},
        {"null handle, sizes", ICAP_SUPPORTEDSIZES, TWON_ONEVALUE, 0, false},
        {"null handle, light source", ICAP_LIGHTSOURCE, TWON_ONEVALUE, 0, false},
        {"null enumeration, pixel type", ICAP_PIXELTYPE, TWON_ENUMERATION, 0, false},
        {"null enumeration, transfer mechanism", ICAP_XFERMECH, TWON_ENUMERATION, 0, false},
        {"lock fails", ICAP_XRESOLUTION, TWON_ONEVALUE, 6, true},
        {"lock fails, sizes", ICAP_SUPPORTEDSIZES, TWON_ONEVALUE, 6, true},
        {"lock fails, enumeration", ICAP_PIXELTYPE, TWON_ENUMERATION, 20, true},
        {"5-byte block", ICAP_SUPPORTEDSIZES, TWON_ONEVALUE, 5, false},
        {"2-byte block", CAP_XFERCOUNT, TWON_ONEVALUE, 2, false},
        {"empty block", ICAP_BRIGHTNESS, TWON_ONEVALUE, 1, false},
    };
    for (const BadContainer& c : cases) {
        Reload();
        SCOPED_TRACE(c.name);
        CapabilityState.SupportedSizeValue = TWSS_A5;
        CapabilityState.TransferCount = 1;
        ScanSettings.ScanType = 1;
        MemoryBlock block = nullptr;
        if (c.blockBytes > 0) {
            // Everything a one value could hold: a short block still names a
            // type and a value the source would take.
            std::vector<uint8_t> bytes = OneValueBytes(TWTY_UINT16, TWSS_A3);
            bytes.resize(static_cast<size_t>(c.blockBytes), 0);
            block = ApplicationBlock(bytes);
            if (c.lockFails) {
                host::FailLocksOf(block);
            }
        }
        const Snapshot before = TakeSnapshot();
        const int locksBefore = host::LockCalls();
        TW_CAPABILITY capability{c.cap, c.conType, block};
        EXPECT_EQ(CapabilityRequest(MSG_SET, &capability), TWRC_FAILURE);
        EXPECT_EQ(StatusCode(), TWCC_BADVALUE);
        ExpectSnapshotEq(before, TakeSnapshot());
        EXPECT_EQ(capability.ConType, c.conType);
        EXPECT_EQ(HandleOf(capability), block);
        EXPECT_LE(host::LockCalls() - locksBefore, 1);
        EXPECT_TRUE(host::MessageBoxes().empty());
        if (block != nullptr) {
            EXPECT_EQ(host::Block(block)->locks, 0);
            host::FreeApplicationBlock(block);
        }
    }
}

// An 8-bit item fills the low byte of the compared word; a frame or string
// item fills nothing. The rest of the word is 0.
TEST_F(Capabilities, NarrowAndUnreadableItemTypesCompareFromZero) {
    struct Narrow {
        const char* name;
        TW_UINT16 cap;
        TW_UINT16 itemType;
        uint32_t item;
        TW_UINT16 rc;
    };
    const Narrow cases[] = {
        {"UINT8 1 behind garbage", ICAP_PIXELFLAVOR, TWTY_UINT8, 0xFFFFFF01u, TWRC_SUCCESS},
        {"INT8 2", ICAP_IMAGEFILEFORMAT, TWTY_INT8, 0xABCDEF02u, TWRC_SUCCESS},
        {"INT8 -1 is 255, a count", CAP_XFERCOUNT, TWTY_INT8, 0x000000FFu, TWRC_SUCCESS},
        {"UINT8 4 is no brightness", ICAP_BRIGHTNESS, TWTY_UINT8, 0x00000104u, TWRC_FAILURE},
        {"frame reads as 0", ICAP_COMPRESSION, TWTY_FRAME, 0x00000005u, TWRC_SUCCESS},
        {"string reads as 0", ICAP_XSCALING, TWTY_STR32, Fix32(1, 0), TWRC_FAILURE},
        {"string reads as 0, sizes", ICAP_SUPPORTEDSIZES, TWTY_STR255, TWSS_A3, TWRC_FAILURE},
    };
    CapabilityState.TransferCount = 1;
    for (const Narrow& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SetOneValue(c.cap, c.itemType, c.item), c.rc);
        EXPECT_EQ(StatusCode(), c.rc == TWRC_SUCCESS ? TWCC_SUCCESS : TWCC_BADVALUE);
    }
    EXPECT_EQ(CapabilityState.PixelFlavorValue, TWPF_VANILLA);
    EXPECT_EQ(CapabilityState.TransferCount, -1);
    EXPECT_EQ(CapabilityState.SupportedSizeValue, TWSS_NONE);
}

// ---- Containers the application receives

TEST_F(Capabilities, AContainerOnceReturnedIsNeverTouchedAgain) {
    OpenWithSettings(ScanSettingsRecord{2, 0, 2, 0, 1});
    TW_CAPABILITY resolution = Query(ICAP_XRESOLUTION);
    ASSERT_EQ(CapabilityRequest(MSG_GET, &resolution), TWRC_SUCCESS);
    TW_CAPABILITY brightness = Query(ICAP_BRIGHTNESS);
    ASSERT_EQ(CapabilityRequest(MSG_GETCURRENT, &brightness), TWRC_SUCCESS);
    const std::vector<uint8_t> resolutionBytes = host::BlockBytes(resolution.hContainer);
    const std::vector<uint8_t> brightnessBytes = host::BlockBytes(brightness.hContainer);

    ASSERT_EQ(SetOneValue(ICAP_XRESOLUTION, TWTY_FIX32, Fix32(150, 0)), TWRC_SUCCESS);
    ASSERT_EQ(SetOneValue(ICAP_BRIGHTNESS, TWTY_FIX32, Fix32(3, 0)), TWRC_SUCCESS);
    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_BRIGHTNESS}) {
        TW_CAPABILITY again = Query(cap);
        ASSERT_EQ(CapabilityRequest(MSG_RESET, &again), TWRC_SUCCESS);
        host::FreeApplicationBlock(again.hContainer);
    }
    // Handing a received container back with MSG_SET is read, not freed.
    TW_CAPABILITY echo{ICAP_BRIGHTNESS, TWON_ONEVALUE, brightness.hContainer};
    ASSERT_EQ(CapabilityRequest(MSG_SET, &echo), TWRC_SUCCESS);

    EXPECT_EQ(Hex(host::BlockBytes(resolution.hContainer)), Hex(resolutionBytes));
    EXPECT_EQ(Hex(host::BlockBytes(brightness.hContainer)), Hex(brightnessBytes));
    EXPECT_EQ(host::LiveBlockCount(), 2u);
    host::FreeApplicationBlock(resolution.hContainer);
    host::FreeApplicationBlock(brightness.hContainer);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

TEST_F(Capabilities, AllocationFailureAnswersSuccessWithANullContainer) {
    const std::pair<TW_UINT16, TW_UINT16> requests[] = {
        {MSG_GET, ICAP_BRIGHTNESS},       {MSG_GETCURRENT, ICAP_BRIGHTNESS},
        {MSG_GET, CAP_SUPPORTEDCAPS},     {MSG_GETDEFAULT, CAP_XFERCOUNT},
        {MSG_RESET, ICAP_SUPPORTEDSIZES}, {MSG_RESET, ICAP_PIXELFLAVOR},
        {MSG_GET, CAP_DEVICEONLINE}};
    CapabilityState.SupportedSizeValue = TWSS_B4;
    CapabilityState.PixelFlavorValue = TWPF_VANILLA;
    for (const auto& [message, cap] : requests) {
        SCOPED_TRACE(std::string(MessageName(message)) + " cap " + std::to_string(cap));
        host::FailNextAllocation();
        TW_CAPABILITY capability = Query(cap);
        EXPECT_EQ(CapabilityRequest(message, &capability), TWRC_SUCCESS);
        EXPECT_EQ(StatusCode(), TWCC_SUCCESS);
        EXPECT_EQ(HandleOf(capability), nullptr);
        EXPECT_EQ(capability.ConType, kUntouchedConType);
        EXPECT_EQ(host::LiveBlockCount(), 0u);
    }
    // The reset restored its values all the same.
    EXPECT_EQ(CapabilityState.SupportedSizeValue, TWSS_NONE);
    EXPECT_EQ(CapabilityState.PixelFlavorValue, TWPF_CHOCOLATE);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(Capabilities, ANewContainerThatCannotBeLockedIsStillTheApplications) {
    host::FailNextLock();
    TW_CAPABILITY capability = Query(ICAP_XRESOLUTION);
    EXPECT_EQ(CapabilityRequest(MSG_GET, &capability), TWRC_SUCCESS);
    EXPECT_EQ(capability.ConType, TWON_ENUMERATION);
    ASSERT_NE(HandleOf(capability), nullptr);
    EXPECT_EQ(host::Block(capability.hContainer)->locks, 0);
    host::FreeApplicationBlock(capability.hContainer);
}

} // namespace
} // namespace capability_test
