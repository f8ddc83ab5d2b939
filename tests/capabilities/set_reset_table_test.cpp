// MSG_SET and MSG_RESET of every capability: what is accepted, what is refused
// with which condition code, and what changes in the source's records and the
// scan settings. Every case starts from the same state, chosen so that each
// record differs from the value a set or reset could give it.
#include "harness.h"

namespace capability_test {
namespace {

void ApplyPriorState() {
    ScanSettings = ScanSettingsRecord{5, 1, 0, 1, -2};
    CapabilityState.TransferCount = 1;
    CapabilityState.TransferMechanismValue = TWSX_FILE;
    CapabilityState.TransferMechanismEnumeration.CurrentIndex = 1;
    CapabilityState.PixelFlavorValue = TWPF_VANILLA;
    CapabilityState.PixelFlavorEnumeration.CurrentIndex = 1;
    CapabilityState.SupportedSizeValue = TWSS_USLEGAL;
    CapabilityState.SupportedSizesEnumeration.CurrentIndex = 6;
    CapabilityState.BrightnessValue = 3;
    CapabilityState.BrightnessEnumeration.CurrentIndex = 3;
    // The dialog moved the resolution after the enumeration was last stored.
    CapabilityState.ResolutionEnumeration.CurrentIndex = 2;
    CapabilityState.BitDepthEnumeration.CurrentIndex = 2;
}

using Change = std::function<void(Snapshot&)>;

struct Case {
    const char* name;
    TW_UINT16 message;
    TW_UINT16 cap;
    TW_UINT16 conType;
    std::vector<uint8_t> container; // the application's block; empty: a null handle
    TW_UINT16 rc;
    TW_UINT16 cc;
    int locks; // PlatformGlobalLock calls the request makes
    Change change;
    Change setup;
};

std::vector<uint8_t> Ov(TW_UINT16 itemType, uint32_t item) {
    return OneValueBytes(itemType, item);
}
std::vector<uint8_t> U16(uint32_t item) {
    return OneValueBytes(TWTY_UINT16, item);
}
std::vector<uint8_t> I16(int16_t item) {
    return OneValueBytes(TWTY_INT16, static_cast<uint32_t>(static_cast<int32_t>(item)));
}
std::vector<uint8_t> Fx(int16_t whole, uint16_t frac) {
    return OneValueBytes(TWTY_FIX32, Fix32(whole, frac));
}
const std::vector<uint8_t> kEnumeration = EnumerationBytes({TWPT_RGB, TWPT_GRAY});
const std::vector<uint8_t> kRange = RangeBytes(0, 2);

Case Set(const char* name, TW_UINT16 cap, std::vector<uint8_t> value, Change change = nullptr) {
    return Case{name,         MSG_SET,      cap, TWON_ONEVALUE,     std::move(value),
                TWRC_SUCCESS, TWCC_SUCCESS, 1,   std::move(change), nullptr};
}
Case SetRefused(const char* name, TW_UINT16 cap, std::vector<uint8_t> value,
                TW_UINT16 cc = TWCC_BADVALUE, Change change = nullptr) {
    return Case{name,         MSG_SET, cap, TWON_ONEVALUE,     std::move(value),
                TWRC_FAILURE, cc,      1,   std::move(change), nullptr};
}
// Refused before the container is read.
Case SetUnread(const char* name, TW_UINT16 cap, TW_UINT16 conType, std::vector<uint8_t> bytes,
               TW_UINT16 cc) {
    return Case{name,         MSG_SET, cap, conType, std::move(bytes),
                TWRC_FAILURE, cc,      0,   nullptr, nullptr};
}
Case Reset(const char* name, TW_UINT16 cap, Change change = nullptr) {
    return Case{name,         MSG_RESET,    cap, kUntouchedConType, {},
                TWRC_SUCCESS, TWCC_SUCCESS, 1,   std::move(change), nullptr};
}
Case ResetRefused(const char* name, TW_UINT16 cap, TW_UINT16 cc) {
    return Case{name, MSG_RESET, cap, kUntouchedConType, {}, TWRC_FAILURE, cc, 0, nullptr, nullptr};
}

Change TransferCount(int16_t count) {
    return [count](Snapshot& s) { s.caps.TransferCount = count; };
}
Change TransferMechanism(uint16_t value) {
    return [value](Snapshot& s) {
        s.caps.TransferMechanismValue = value;
        s.caps.TransferMechanismEnumeration.CurrentIndex = value;
    };
}
Change Brightness(int32_t value) {
    return [value](Snapshot& s) {
        s.caps.BrightnessValue = value;
        s.settings.Brightness = value;
        s.caps.BrightnessEnumeration.CurrentIndex = static_cast<uint32_t>(value);
    };
}
Change Resolution(int32_t index) {
    return [index](Snapshot& s) {
        s.settings.ResolutionIndex = index;
        s.caps.ResolutionEnumeration.CurrentIndex = static_cast<uint32_t>(index);
    };
}
Change PixelFlavor(uint16_t value) {
    return [value](Snapshot& s) {
        s.caps.PixelFlavorValue = value;
        s.caps.PixelFlavorEnumeration.CurrentIndex = value;
    };
}
Change Size(uint16_t code, uint32_t index, int32_t paper) {
    return [=](Snapshot& s) {
        s.caps.SupportedSizeValue = code;
        s.caps.SupportedSizesEnumeration.CurrentIndex = index;
        s.settings.PaperIndex = paper;
    };
}
void BlackAndWhite(Snapshot& s) {
    s.settings.ScanType = 0;
}
void SizeForgotten(Snapshot& s) {
    s.caps.SupportedSizeValue = TWSS_NONE;
}

std::vector<Case> Cases() {
    std::vector<Case> cases{
        // CAP_XFERCOUNT: 1 is kept, every other count from -1 up means all pages.
        Set("XFERCOUNT 5", CAP_XFERCOUNT, I16(5), TransferCount(-1)),
        Set("XFERCOUNT 0", CAP_XFERCOUNT, I16(0), TransferCount(-1)),
        Set("XFERCOUNT 2", CAP_XFERCOUNT, I16(2), TransferCount(-1)),
        Set("XFERCOUNT -1", CAP_XFERCOUNT, I16(-1), TransferCount(-1)),
        Set("XFERCOUNT 32767", CAP_XFERCOUNT, I16(32767), TransferCount(-1)),
        SetRefused("XFERCOUNT -2", CAP_XFERCOUNT, I16(-2)),
        SetRefused("XFERCOUNT -32768", CAP_XFERCOUNT, I16(-32768)),
        SetUnread("XFERCOUNT enumeration", CAP_XFERCOUNT, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),

        Set("COMPRESSION NONE", ICAP_COMPRESSION, U16(TWCP_NONE)),
        SetRefused("COMPRESSION 1", ICAP_COMPRESSION, U16(1)),
        SetUnread("COMPRESSION range", ICAP_COMPRESSION, TWON_RANGE, kRange, TWCC_BADPROTOCOL),

        // ICAP_PIXELTYPE takes any enumeration, without reading it.
        Case{"PIXELTYPE enumeration of RGB and GRAY", MSG_SET, ICAP_PIXELTYPE, TWON_ENUMERATION,
             kEnumeration, TWRC_SUCCESS, TWCC_SUCCESS, 1, BlackAndWhite, nullptr},
        Set("PIXELTYPE BW", ICAP_PIXELTYPE, U16(TWPT_BW), BlackAndWhite),
        SetRefused("PIXELTYPE GRAY", ICAP_PIXELTYPE, U16(TWPT_GRAY)),
        SetUnread("PIXELTYPE range", ICAP_PIXELTYPE, TWON_RANGE, kRange, TWCC_BADPROTOCOL),
        SetUnread("PIXELTYPE array", ICAP_PIXELTYPE, TWON_ARRAY, kRange, TWCC_BADPROTOCOL),

        Set("UNITS INCHES", ICAP_UNITS, U16(TWUN_INCHES)),
        SetRefused("UNITS 1", ICAP_UNITS, U16(1)),

        Case{"XFERMECH enumeration", MSG_SET, ICAP_XFERMECH, TWON_ENUMERATION, kEnumeration,
             TWRC_SUCCESS, TWCC_SUCCESS, 1, nullptr, nullptr},
        Set("XFERMECH MEMORY", ICAP_XFERMECH, U16(TWSX_MEMORY), TransferMechanism(TWSX_MEMORY)),
        Set("XFERMECH NATIVE", ICAP_XFERMECH, U16(TWSX_NATIVE), TransferMechanism(TWSX_NATIVE)),
        SetRefused("XFERMECH 3", ICAP_XFERMECH, U16(3)),
        SetUnread("XFERMECH range", ICAP_XFERMECH, TWON_RANGE, kRange, TWCC_BADPROTOCOL),

        // ICAP_BRIGHTNESS: 1 to 3 only, though the enumeration lists nine; the
        // fraction of a TW_FIX32 is not looked at.
        Set("BRIGHTNESS 1", ICAP_BRIGHTNESS, Fx(1, 0), Brightness(1)),
        Set("BRIGHTNESS 2.5", ICAP_BRIGHTNESS, Fx(2, 0x8000), Brightness(2)),
        SetRefused("BRIGHTNESS 5", ICAP_BRIGHTNESS, Fx(5, 0)),
        SetRefused("BRIGHTNESS 0", ICAP_BRIGHTNESS, Fx(0, 0)),
        SetRefused("BRIGHTNESS -1", ICAP_BRIGHTNESS, Fx(-1, 0)),
        SetUnread("BRIGHTNESS enumeration", ICAP_BRIGHTNESS, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),

        Set("XRESOLUTION 300 and a fraction", ICAP_XRESOLUTION, Fx(300, 0x8000), Resolution(1)),
        Set("XRESOLUTION 600", ICAP_XRESOLUTION, Fx(600, 0), Resolution(2)),
        Set("XRESOLUTION 150", ICAP_XRESOLUTION, Fx(150, 0), Resolution(0)),
        SetRefused("XRESOLUTION 200", ICAP_XRESOLUTION, Fx(200, 0)),
        SetRefused("XRESOLUTION 0", ICAP_XRESOLUTION, Fx(0, 0)),
        SetUnread("XRESOLUTION enumeration", ICAP_XRESOLUTION, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),
        Set("YRESOLUTION 300", ICAP_YRESOLUTION, Fx(300, 0), Resolution(1)),
        SetRefused("YRESOLUTION 1200", ICAP_YRESOLUTION, Fx(1200, 0)),

        Set("BITORDER MSBFIRST", ICAP_BITORDER, U16(TWBO_MSBFIRST)),
        SetRefused("BITORDER LSBFIRST", ICAP_BITORDER, U16(TWBO_LSBFIRST)),

        Set("PIXELFLAVOR CHOCOLATE", ICAP_PIXELFLAVOR, U16(TWPF_CHOCOLATE),
            PixelFlavor(TWPF_CHOCOLATE)),
        SetRefused("PIXELFLAVOR 2", ICAP_PIXELFLAVOR, U16(2)),

        Set("PLANARCHUNKY CHUNKY", ICAP_PLANARCHUNKY, U16(TWPC_CHUNKY)),
        SetRefused("PLANARCHUNKY 1", ICAP_PLANARCHUNKY, U16(1)),

        Set("SUPPORTEDSIZES USLETTER", ICAP_SUPPORTEDSIZES, U16(TWSS_USLETTER),
            Size(TWSS_USLETTER, 7, 12)),
        Set("SUPPORTEDSIZES A3", ICAP_SUPPORTEDSIZES, U16(TWSS_A3), Size(TWSS_A3, 0, 0)),
        Set("SUPPORTEDSIZES B4", ICAP_SUPPORTEDSIZES, U16(TWSS_B4), Size(TWSS_B4, 1, 1)),
        Set("SUPPORTEDSIZES A4LETTER", ICAP_SUPPORTEDSIZES, U16(TWSS_A4LETTER),
            Size(TWSS_A4LETTER, 2, 2)),
        Set("SUPPORTEDSIZES B5LETTER", ICAP_SUPPORTEDSIZES, U16(TWSS_B5LETTER),
            Size(TWSS_B5LETTER, 3, 3)),
        Set("SUPPORTEDSIZES A5", ICAP_SUPPORTEDSIZES, U16(TWSS_A5), Size(TWSS_A5, 4, 4)),
        Set("SUPPORTEDSIZES USLEDGER", ICAP_SUPPORTEDSIZES, U16(TWSS_USLEDGER),
            Size(TWSS_USLEDGER, 5, 9)),
        // The prior size is USLEGAL at index 6; set it from another size.
        Case{"SUPPORTEDSIZES USLEGAL", MSG_SET, ICAP_SUPPORTEDSIZES, TWON_ONEVALUE,
             U16(TWSS_USLEGAL), TWRC_SUCCESS, TWCC_SUCCESS, 1, Size(TWSS_USLEGAL, 6, 11),
             [](Snapshot& s) {
                 s.caps.SupportedSizeValue = TWSS_A3;
                 s.caps.SupportedSizesEnumeration.CurrentIndex = 0;
             }},
        // A refused size forgets the size set before, and nothing else.
        SetRefused("SUPPORTEDSIZES B6", ICAP_SUPPORTEDSIZES, U16(TWSS_B6), TWCC_BADVALUE,
                   SizeForgotten),
        SetRefused("SUPPORTEDSIZES NONE", ICAP_SUPPORTEDSIZES, U16(TWSS_NONE), TWCC_BADVALUE,
                   SizeForgotten),
        SetUnread("SUPPORTEDSIZES enumeration", ICAP_SUPPORTEDSIZES, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),

        // The scalings compare the whole TW_FIX32 word with 1.
        Set("XSCALING 1", ICAP_XSCALING, Fx(1, 0)),
        Set("XSCALING UINT16 1", ICAP_XSCALING, U16(1)),
        SetRefused("XSCALING 1 and a fraction", ICAP_XSCALING, Fx(1, 1)),
        SetRefused("XSCALING 2", ICAP_XSCALING, Fx(2, 0)),
        Set("YSCALING 1", ICAP_YSCALING, Fx(1, 0)),
        SetRefused("YSCALING 0.5", ICAP_YSCALING, Fx(0, 0x8000)),

        Set("IMAGEFILEFORMAT BMP", ICAP_IMAGEFILEFORMAT, U16(TWFF_BMP)),
        SetRefused("IMAGEFILEFORMAT TIFF", ICAP_IMAGEFILEFORMAT, U16(TWFF_TIFF)),

        SetRefused("LIGHTSOURCE WHITE", ICAP_LIGHTSOURCE, U16(TWLS_WHITE), TWCC_BADPROTOCOL),
        SetRefused("LIGHTSOURCE 0", ICAP_LIGHTSOURCE, U16(0)),
        SetUnread("LIGHTSOURCE enumeration", ICAP_LIGHTSOURCE, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),

        Set("LIGHTPATH REFLECTIVE", ICAP_LIGHTPATH, U16(TWLP_REFLECTIVE)),
        SetRefused("LIGHTPATH 1", ICAP_LIGHTPATH, U16(1)),

        Set("INDICATORS FALSE", CAP_INDICATORS, Ov(TWTY_BOOL, 0)),
        Set("INDICATORS TRUE", CAP_INDICATORS, Ov(TWTY_BOOL, 1)),
        SetRefused("INDICATORS 2", CAP_INDICATORS, Ov(TWTY_BOOL, 2)),

        Set("BITDEPTH 8", ICAP_BITDEPTH, U16(8)),
        Set("BITDEPTH 24", ICAP_BITDEPTH, U16(24)),
        Set("BITDEPTH 1", ICAP_BITDEPTH, U16(1)),
        SetRefused("BITDEPTH 2", ICAP_BITDEPTH, U16(2)),
        SetRefused("BITDEPTH 16", ICAP_BITDEPTH, U16(16)),

        SetUnread("DUPLEX", CAP_DUPLEX, TWON_ONEVALUE, Ov(TWTY_BOOL, 1), TWCC_BADCAP),
        SetUnread("unknown 0x8001", 0x8001, TWON_ONEVALUE, U16(0), TWCC_BADCAP),
        // A read-only capability refuses without looking at the container at all.
        SetUnread("DEVICEONLINE with a null handle", CAP_DEVICEONLINE, TWON_ONEVALUE, {},
                  TWCC_BADPROTOCOL),
        SetUnread("PHYSICALWIDTH enumeration", ICAP_PHYSICALWIDTH, TWON_ENUMERATION, kEnumeration,
                  TWCC_BADPROTOCOL),

        // MSG_RESET restores some records and leaves the scan settings alone.
        Reset("reset XFERCOUNT", CAP_XFERCOUNT, TransferCount(-1)),
        Reset("reset XFERMECH", ICAP_XFERMECH, TransferMechanism(TWSX_NATIVE)),
        Reset("reset BRIGHTNESS", ICAP_BRIGHTNESS,
              [](Snapshot& s) {
                  s.caps.BrightnessValue = 2;
                  s.caps.BrightnessEnumeration.CurrentIndex = 0;
              }),
        Reset("reset PIXELFLAVOR", ICAP_PIXELFLAVOR, PixelFlavor(TWPF_CHOCOLATE)),
        Reset("reset SUPPORTEDSIZES", ICAP_SUPPORTEDSIZES,
              [](Snapshot& s) {
                  s.caps.SupportedSizeValue = TWSS_NONE;
                  s.caps.SupportedSizesEnumeration.CurrentIndex = 0;
              }),
        Reset("reset BITDEPTH", ICAP_BITDEPTH,
              [](Snapshot& s) { s.caps.BitDepthEnumeration.CurrentIndex = 0; }),
        Reset("reset XRESOLUTION", ICAP_XRESOLUTION),
        Reset("reset YRESOLUTION", ICAP_YRESOLUTION),
        Reset("reset PIXELTYPE", ICAP_PIXELTYPE),
        Reset("reset INDICATORS", CAP_INDICATORS),
        Reset("reset COMPRESSION", ICAP_COMPRESSION),
        Reset("reset UNITS", ICAP_UNITS),
        Reset("reset BITORDER", ICAP_BITORDER),
        Reset("reset PLANARCHUNKY", ICAP_PLANARCHUNKY),
        Reset("reset XSCALING", ICAP_XSCALING),
        Reset("reset YSCALING", ICAP_YSCALING),
        Reset("reset IMAGEFILEFORMAT", ICAP_IMAGEFILEFORMAT),
        Reset("reset LIGHTSOURCE", ICAP_LIGHTSOURCE),
        Reset("reset LIGHTPATH", ICAP_LIGHTPATH),
        ResetRefused("reset DUPLEX", CAP_DUPLEX, TWCC_BADCAP),
    };
    // The read-only capabilities refuse both messages with TWCC_BADPROTOCOL.
    const std::pair<const char*, TW_UINT16> readOnly[] = {{"SUPPORTEDCAPS", CAP_SUPPORTEDCAPS},
                                                          {"DEVICEONLINE", CAP_DEVICEONLINE},
                                                          {"UICONTROLLABLE", CAP_UICONTROLLABLE},
                                                          {"PHYSICALWIDTH", ICAP_PHYSICALWIDTH},
                                                          {"PHYSICALHEIGHT", ICAP_PHYSICALHEIGHT},
                                                          {"FEEDERENABLED", CAP_FEEDERENABLED},
                                                          {"FEEDERLOADED", CAP_FEEDERLOADED},
                                                          {"AUTOFEED", CAP_AUTOFEED},
                                                          {"CLEARPAGE", CAP_CLEARPAGE}};
    for (const auto& [name, cap] : readOnly) {
        cases.push_back(SetUnread(name, cap, TWON_ONEVALUE, Ov(TWTY_BOOL, 0), TWCC_BADPROTOCOL));
        cases.push_back(ResetRefused(name, cap, TWCC_BADPROTOCOL));
    }
    return cases;
}

using CapabilitySetReset = CapabilityTest;

TEST_F(CapabilitySetReset, EachCaseAcceptsRefusesAndChangesAsListed) {
    for (const Case& c : Cases()) {
        Reload();
        const std::string label = std::string(MessageName(c.message)) + " " + c.name;
        SCOPED_TRACE(label);
        ApplyPriorState();
        if (c.setup) {
            Snapshot prior = TakeSnapshot();
            c.setup(prior);
            CapabilityState = prior.caps;
            ScanSettings = prior.settings;
        }
        Snapshot expected = TakeSnapshot();
        if (c.change) {
            c.change(expected);
        }
        MemoryBlock block = c.container.empty() ? nullptr : ApplicationBlock(c.container);
        TW_CAPABILITY capability{c.cap, c.conType, block};
        const int locksBefore = host::LockCalls();

        EXPECT_EQ(CapabilityRequest(c.message, &capability), c.rc);
        EXPECT_EQ(StatusCode(), c.cc);
        EXPECT_EQ(host::LockCalls() - locksBefore, c.locks);
        ExpectSnapshotEq(expected, TakeSnapshot());
        EXPECT_TRUE(host::MessageBoxes().empty());
        EXPECT_EQ(capability.Cap, c.cap);

        if (c.message == MSG_SET) {
            // The application's container is read, never changed or freed.
            EXPECT_EQ(capability.ConType, c.conType);
            EXPECT_EQ(HandleOf(capability), block);
            if (block != nullptr) {
                auto info = host::Block(block);
                ASSERT_TRUE(info.has_value());
                EXPECT_FALSE(info->freed);
                EXPECT_EQ(info->locks, 0);
                EXPECT_EQ(Hex(host::BlockBytes(block)), Hex(c.container));
                host::FreeApplicationBlock(block);
            }
        } else if (c.rc == TWRC_SUCCESS) {
            ASSERT_NE(HandleOf(capability), nullptr);
            host::FreeApplicationBlock(capability.hContainer);
        } else {
            EXPECT_EQ(capability.ConType, kUntouchedConType);
            EXPECT_EQ(HandleOf(capability), nullptr);
        }
    }
}

} // namespace
} // namespace capability_test
