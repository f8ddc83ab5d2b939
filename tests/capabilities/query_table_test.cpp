// Every capability's answer to the three queries and to MSG_RESET, in a freshly
// loaded library with no scanner attached and no settings dialog.
#include <optional>

#include "harness.h"

namespace capability_test {
namespace {

struct Outcome {
    TW_UINT16 rc;
    TW_UINT16 cc;
    std::optional<Container> container; // none: the TW_CAPABILITY is left as it was
};
Outcome Ok(Container c) {
    return Outcome{TWRC_SUCCESS, TWCC_SUCCESS, std::move(c)};
}
Outcome Refused(TW_UINT16 cc) {
    return Outcome{TWRC_FAILURE, cc, std::nullopt};
}

struct QueryRow {
    const char* name;
    TW_UINT16 cap;
    Container get;
    Container current;
    Container fallback;
    Outcome reset;
};

const std::vector<uint32_t> kSupportedCaps{
    CAP_XFERCOUNT,        CAP_SUPPORTEDCAPS,   CAP_INDICATORS,     CAP_DEVICEONLINE,
    CAP_UICONTROLLABLE,   ICAP_COMPRESSION,    ICAP_PIXELTYPE,     ICAP_UNITS,
    ICAP_XFERMECH,        ICAP_BRIGHTNESS,     ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
    ICAP_XRESOLUTION,     ICAP_YRESOLUTION,    ICAP_BITORDER,      ICAP_PIXELFLAVOR,
    ICAP_PLANARCHUNKY,    ICAP_SUPPORTEDSIZES, ICAP_XSCALING,      ICAP_YSCALING,
    ICAP_IMAGEFILEFORMAT, ICAP_LIGHTSOURCE,    ICAP_LIGHTPATH,     CAP_FEEDERENABLED,
    CAP_FEEDERLOADED,     CAP_AUTOFEED,        CAP_CLEARPAGE,      ICAP_BITDEPTH,
};

const std::vector<uint32_t> kResolutions{150, 300, 600};
const std::vector<uint32_t> kBrightnessLevels{1, 2, 3, 4, 5, 6, 7, 8, 9};
const std::vector<uint32_t> kSizes{TWSS_A3, TWSS_B4,       TWSS_A4LETTER, TWSS_B5LETTER,
                                   TWSS_A5, TWSS_USLEDGER, TWSS_USLEGAL,  TWSS_USLETTER};

// 1170 hundredths: 11 + 70/100; 1654: 16 + 54/100, the fraction truncated.
const uint32_t kPhysicalWidth = Fix32(11, 45875);
const uint32_t kPhysicalHeight = Fix32(16, 35389);

// A capability whose three queries answer alike.
QueryRow Same(const char* name, TW_UINT16 cap, Container c, Outcome reset) {
    return QueryRow{name, cap, c, c, c, std::move(reset)};
}

const std::vector<QueryRow> kQueryRows{
    {"CAP_XFERCOUNT", CAP_XFERCOUNT, One(TWTY_INT16, 0xFFFFFFFFu), One(TWTY_INT16, 0xFFFFFFFFu),
     One(TWTY_INT16, 0xFFFFFFFFu), Ok(One(TWTY_INT16, 0xFFFFFFFFu))},
    Same("CAP_SUPPORTEDCAPS", CAP_SUPPORTEDCAPS, Array(kSupportedCaps), Refused(TWCC_BADPROTOCOL)),
    Same("CAP_INDICATORS", CAP_INDICATORS, One(TWTY_BOOL, 0), Ok(One(TWTY_BOOL, 0))),
    Same("CAP_DEVICEONLINE", CAP_DEVICEONLINE, One(TWTY_BOOL, 0), Refused(TWCC_BADPROTOCOL)),
    Same("CAP_UICONTROLLABLE", CAP_UICONTROLLABLE, One(TWTY_BOOL, 1), Refused(TWCC_BADPROTOCOL)),
    Same("ICAP_COMPRESSION", ICAP_COMPRESSION, One(TWTY_UINT16, TWCP_NONE),
         Ok(One(TWTY_UINT16, TWCP_NONE))),
    Same("ICAP_PIXELTYPE", ICAP_PIXELTYPE, One(TWTY_UINT16, TWPT_BW),
         Ok(One(TWTY_UINT16, TWPT_BW))),
    Same("ICAP_UNITS", ICAP_UNITS, One(TWTY_UINT16, TWUN_INCHES),
         Ok(One(TWTY_UINT16, TWUN_INCHES))),
    {"ICAP_XFERMECH", ICAP_XFERMECH, Enum(0, 0, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}),
     One(TWTY_UINT16, TWSX_NATIVE), One(TWTY_UINT16, TWSX_NATIVE),
     Ok(Enum(0, 0, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}))},
    {"ICAP_BRIGHTNESS", ICAP_BRIGHTNESS, Enum(4, 4, kBrightnessLevels),
     One(TWTY_FIX32, Fix32(2, 0)), One(TWTY_FIX32, Fix32(0, 0)), Ok(Enum(0, 4, kBrightnessLevels))},
    Same("ICAP_PHYSICALWIDTH", ICAP_PHYSICALWIDTH, One(TWTY_FIX32, kPhysicalWidth),
         Refused(TWCC_BADPROTOCOL)),
    Same("ICAP_PHYSICALHEIGHT", ICAP_PHYSICALHEIGHT, One(TWTY_FIX32, kPhysicalHeight),
         Refused(TWCC_BADPROTOCOL)),
    // Until the first open all settings are 0: resolution index 0 is 150 dpi,
    // while the enumeration still holds its load-time index 1.
    {"ICAP_XRESOLUTION", ICAP_XRESOLUTION, Enum(1, 1, kResolutions), One(TWTY_FIX32, Fix32(150, 0)),
     One(TWTY_FIX32, Fix32(150, 0)), Ok(Enum(1, 1, kResolutions))},
    {"ICAP_YRESOLUTION", ICAP_YRESOLUTION, Enum(1, 1, kResolutions), One(TWTY_FIX32, Fix32(150, 0)),
     One(TWTY_FIX32, Fix32(150, 0)), Ok(Enum(1, 1, kResolutions))},
    Same("ICAP_BITORDER", ICAP_BITORDER, One(TWTY_UINT16, TWBO_MSBFIRST),
         Ok(One(TWTY_UINT16, TWBO_MSBFIRST))),
    {"ICAP_PIXELFLAVOR", ICAP_PIXELFLAVOR, Enum(0, 0, {TWPF_CHOCOLATE, TWPF_VANILLA}),
     One(TWTY_UINT16, TWPF_CHOCOLATE), One(TWTY_UINT16, TWPF_CHOCOLATE),
     Ok(Enum(0, 0, {TWPF_CHOCOLATE, TWPF_VANILLA}))},
    Same("ICAP_PLANARCHUNKY", ICAP_PLANARCHUNKY, One(TWTY_UINT16, TWPC_CHUNKY),
         Ok(One(TWTY_UINT16, TWPC_CHUNKY))),
    {"ICAP_SUPPORTEDSIZES", ICAP_SUPPORTEDSIZES, Enum(0, 0, kSizes), One(TWTY_UINT16, TWSS_NONE),
     One(TWTY_UINT16, TWSS_A3), Ok(One(TWTY_UINT16, TWSS_A3))},
    Same("ICAP_XSCALING", ICAP_XSCALING, One(TWTY_FIX32, Fix32(1, 0)),
         Ok(One(TWTY_FIX32, Fix32(1, 0)))),
    Same("ICAP_YSCALING", ICAP_YSCALING, One(TWTY_FIX32, Fix32(1, 0)),
         Ok(One(TWTY_FIX32, Fix32(1, 0)))),
    Same("ICAP_IMAGEFILEFORMAT", ICAP_IMAGEFILEFORMAT, One(TWTY_UINT16, TWFF_BMP),
         Ok(One(TWTY_UINT16, TWFF_BMP))),
    Same("ICAP_LIGHTSOURCE", ICAP_LIGHTSOURCE, One(TWTY_UINT16, TWLS_WHITE),
         Ok(One(TWTY_UINT16, TWLS_WHITE))),
    Same("ICAP_LIGHTPATH", ICAP_LIGHTPATH, One(TWTY_UINT16, TWLP_REFLECTIVE),
         Ok(One(TWTY_UINT16, TWLP_REFLECTIVE))),
    Same("CAP_FEEDERENABLED", CAP_FEEDERENABLED, One(TWTY_BOOL, 0), Refused(TWCC_BADPROTOCOL)),
    Same("CAP_FEEDERLOADED", CAP_FEEDERLOADED, One(TWTY_BOOL, 0), Refused(TWCC_BADPROTOCOL)),
    Same("CAP_AUTOFEED", CAP_AUTOFEED, One(TWTY_BOOL, 0), Refused(TWCC_BADPROTOCOL)),
    Same("CAP_CLEARPAGE", CAP_CLEARPAGE, One(TWTY_BOOL, 0), Refused(TWCC_BADPROTOCOL)),
    {"ICAP_BITDEPTH", ICAP_BITDEPTH, Enum(0, 0, {1, 8, 24}), One(TWTY_UINT16, 1),
     One(TWTY_UINT16, 1), Ok(Enum(0, 0, {1, 8, 24}))},
};

using CapabilityQueries = CapabilityTest;

TEST_F(CapabilityQueries, EveryCapabilityAnswersEachQueryAndReset) {
    ASSERT_EQ(kQueryRows.size(), kSupportedCaps.size());
    for (const QueryRow& row : kQueryRows) {
        Reload();
        const std::pair<TW_UINT16, const Container*> queries[] = {
            {MSG_GET, &row.get}, {MSG_GETCURRENT, &row.current}, {MSG_GETDEFAULT, &row.fallback}};
        for (const auto& [message, expected] : queries) {
            const std::string label = std::string(row.name) + " " + MessageName(message);
            ConditionCode = TWCC_BADVALUE; // a capability request starts by clearing it
            TW_CAPABILITY capability = Query(row.cap);
            EXPECT_EQ(CapabilityRequest(message, &capability), TWRC_SUCCESS) << label;
            EXPECT_EQ(StatusCode(), TWCC_SUCCESS) << label;
            EXPECT_EQ(capability.Cap, row.cap) << label;
            ExpectContainer(capability, *expected, label);
        }
        const std::string label = std::string(row.name) + " MSG_RESET";
        TW_CAPABILITY capability = Query(row.cap);
        EXPECT_EQ(CapabilityRequest(MSG_RESET, &capability), row.reset.rc) << label;
        EXPECT_EQ(StatusCode(), row.reset.cc) << label;
        EXPECT_EQ(capability.Cap, row.cap) << label;
        if (row.reset.container) {
            ExpectContainer(capability, *row.reset.container, label);
        } else {
            EXPECT_EQ(capability.ConType, kUntouchedConType) << label;
            EXPECT_EQ(HandleOf(capability), nullptr) << label;
        }
        EXPECT_TRUE(host::MessageBoxes().empty()) << label;
    }
}

// The array is the table above in its order; what it lists is what is answered.
TEST_F(CapabilityQueries, SupportedCapsListsExactlyTheAnsweredCapabilities) {
    for (TW_UINT16 cap = 0; cap < 0x1200; ++cap) {
        TW_CAPABILITY capability = Query(cap);
        const TW_UINT16 rc = CapabilityRequest(MSG_GET, &capability);
        bool listed = false;
        for (uint32_t id : kSupportedCaps) {
            listed = listed || id == cap;
        }
        ASSERT_EQ(rc, listed ? TWRC_SUCCESS : TWRC_FAILURE) << "cap 0x" << std::hex << cap;
        if (listed) {
            host::FreeApplicationBlock(capability.hContainer);
        } else {
            ASSERT_EQ(StatusCode(), TWCC_BADCAP);
            ASSERT_EQ(capability.ConType, kUntouchedConType);
            ASSERT_EQ(HandleOf(capability), nullptr);
        }
    }
    EXPECT_TRUE(host::MessageBoxes().empty());
}

} // namespace
} // namespace capability_test
