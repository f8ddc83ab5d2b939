#include "capabilities/capabilities.h"

#include <array>
#include <bit>
#include <cstddef>

#include "capabilities/containers.h"
#include "device/channel.h"
#include "resources/resource_ids.h"
#include "twain/status.h"
#include "twain/user_interface.h"
#include "ui/settings.h"
#include "ui/tables.h"

// A one value is read into a 32-bit word whose low half holds a 16-bit item.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr TW_UINT32 Fix32Word(TW_INT16 whole, TW_UINT16 frac) {
    return static_cast<TW_UINT16>(whole) | (static_cast<TW_UINT32>(frac) << 16);
}

// ICAP_PHYSICALWIDTH/HEIGHT: the size without margins, in integer arithmetic.
constexpr TW_UINT32 PhysicalFix32(int32_t hundredths) {
    return Fix32Word(static_cast<TW_INT16>(hundredths / 100),
                     static_cast<TW_UINT16>(((hundredths % 100) * 65536) / 100));
}

constexpr TW_UINT32 kFix32One = Fix32Word(1, 0);

// ---- Enumeration items. Only the current index of a record ever changes.

constexpr std::array<TW_UINT16, 3> kResolutionItems{static_cast<TW_UINT16>(ResolutionTable[0]),
                                                    static_cast<TW_UINT16>(ResolutionTable[1]),
                                                    static_cast<TW_UINT16>(ResolutionTable[2])};
constexpr std::array<TW_UINT16, 9> kBrightnessItems{1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr std::array<TW_UINT16, 2> kPixelFlavorItems{TWPF_CHOCOLATE, TWPF_VANILLA};
constexpr std::array<TW_UINT16, 3> kTransferMechanismItems{TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
constexpr std::array<TW_UINT16, 3> kBitDepthItems{1, 8, 24};

// The sizes an application may choose, each with the upright paper it selects.
struct SupportedSize {
    TW_UINT16 code;
    int32_t paperIndex;
};
constexpr std::array<SupportedSize, 8> kSupportedSizes{{
    {TWSS_A3, 0},
    {TWSS_B4, 1},
    {TWSS_A4LETTER, 2},
    {TWSS_B5LETTER, 3},
    {TWSS_A5, 4},
    {TWSS_USLEDGER, 9},
    {TWSS_USLEGAL, 11},
    {TWSS_USLETTER, 12},
}};
constexpr auto kSupportedSizeItems = [] {
    std::array<TW_UINT16, kSupportedSizes.size()> items{};
    for (size_t i = 0; i < items.size(); ++i) {
        items[i] = kSupportedSizes[i].code;
    }
    return items;
}();

template <size_t N>
constexpr EnumerationRecord Uint16Enumeration(const std::array<TW_UINT16, N>&, TW_UINT32 current,
                                              TW_UINT32 fallback) {
    return EnumerationRecord{TWTY_UINT16, static_cast<TW_UINT32>(N), current, fallback};
}

// ---- How a query answers: a one value (fixed, or read from the source's
// records when it is asked), or one of the source's enumerations or its array.

struct Answer {
    TW_UINT16 conType;
    TW_UINT16 itemType;
    TW_UINT32 value;
    TW_UINT32 (*read)();
    EnumerationRecord CapabilityStateRecord::*enumeration;
    const TW_UINT16* items;
};

constexpr Answer OneValue(TW_UINT16 itemType, TW_UINT32 value) {
    return Answer{TWON_ONEVALUE, itemType, value, nullptr, nullptr, nullptr};
}
constexpr Answer OneValueRead(TW_UINT16 itemType, TW_UINT32 (*read)()) {
    return Answer{TWON_ONEVALUE, itemType, 0, read, nullptr, nullptr};
}
template <size_t N>
constexpr Answer Enumeration(EnumerationRecord CapabilityStateRecord::*record,
                             const std::array<TW_UINT16, N>& items) {
    return Answer{TWON_ENUMERATION, TWTY_UINT16, 0, nullptr, record, items.data()};
}
constexpr Answer SupportedCapsAnswer() {
    return Answer{TWON_ARRAY, TWTY_UINT16, 0, nullptr, nullptr, nullptr};
}

// A 16-bit signed item travels sign-extended, so -1 is all ones.
TW_UINT32 ReadTransferCount() {
    return static_cast<TW_UINT32>(static_cast<int32_t>(CapabilityState.TransferCount));
}
TW_UINT32 ReadIndicators() {
    return SettingsDialogWindow != nullptr ? 1 : 0;
}
// The same probe as the open: the channel never stays open after a request.
TW_UINT32 ReadDeviceOnline() {
    const bool online = OpenScannerChannel() == 0;
    CloseScannerChannel();
    return online ? 1 : 0;
}
TW_UINT32 ReadTransferMechanism() {
    return CapabilityState.TransferMechanismValue;
}
TW_UINT32 ReadBrightness() {
    return static_cast<TW_UINT32>(CapabilityState.BrightnessValue);
}
// The dialog changes the resolution index without the enumeration record, so
// the current value follows the setting itself.
TW_UINT32 ReadResolution() {
    return Fix32Word(static_cast<TW_INT16>(ResolutionTable[ScanSettings.ResolutionIndex]), 0);
}
TW_UINT32 ReadPixelFlavor() {
    return CapabilityState.PixelFlavorValue;
}
TW_UINT32 ReadSupportedSize() {
    return CapabilityState.SupportedSizeValue;
}

// ---- What MSG_SET accepts and stores.

// How much of the one value's 32-bit word is compared.
enum class Compared : uint8_t { Unsigned16, Signed16, Whole32 };

struct SetRule {
    bool settable; // false: refused with TWCC_BADPROTOCOL whatever the container
    Compared compared;
    int32_t low; // values outside low ... high are refused
    int32_t high;
    // Stores an accepted value; may still refuse one (returns the condition
    // code). Null: an accepted value changes nothing.
    TW_UINT16 (*apply)(int32_t value);
    // The condition code for a value outside low ... high; null: TWCC_BADVALUE.
    TW_UINT16 (*refuse)(int32_t value);
    // An enumeration container is accepted, without reading its items, and
    // this runs; null: only a one value is accepted.
    void (*takeEnumeration)();
};

constexpr SetRule kReadOnly{false, Compared::Unsigned16, 1, 0, nullptr, nullptr, nullptr};

// The one value is read, but every value is refused, with the code refuse gives.
constexpr SetRule AcceptsNoValue(TW_UINT16 (*refuse)(int32_t)) {
    return SetRule{true, Compared::Unsigned16, 1, 0, nullptr, refuse, nullptr};
}

constexpr SetRule Accepts(Compared compared, int32_t low, int32_t high,
                          TW_UINT16 (*apply)(int32_t) = nullptr,
                          TW_UINT16 (*refuse)(int32_t) = nullptr,
                          void (*takeEnumeration)() = nullptr) {
    return SetRule{true, compared, low, high, apply, refuse, takeEnumeration};
}

// Only a count of one page is remembered; every other count means all pages.
TW_UINT16 SetTransferCount(int32_t value) {
    CapabilityState.TransferCount = value == 1 ? 1 : -1;
    return TWCC_SUCCESS;
}
void SelectBlackAndWhite() {
    ScanSettings.ScanType = 0;
}
TW_UINT16 SetPixelType(int32_t) {
    SelectBlackAndWhite();
    return TWCC_SUCCESS;
}
void KeepTransferMechanism() {}
TW_UINT16 SetTransferMechanism(int32_t value) {
    CapabilityState.TransferMechanismValue = static_cast<TW_UINT16>(value);
    CapabilityState.TransferMechanismEnumeration.CurrentIndex = static_cast<TW_UINT32>(value);
    return TWCC_SUCCESS;
}
TW_UINT16 SetBrightness(int32_t value) {
    CapabilityState.BrightnessValue = value;
    ScanSettings.Brightness = value;
    CapabilityState.BrightnessEnumeration.CurrentIndex = static_cast<TW_UINT32>(value);
    return TWCC_SUCCESS;
}
// Both resolutions share the one resolution index.
TW_UINT16 SetResolution(int32_t value) {
    for (size_t i = 0; i < ResolutionTable.size(); ++i) {
        if (ResolutionTable[i] == value) {
            ScanSettings.ResolutionIndex = static_cast<int32_t>(i);
            CapabilityState.ResolutionEnumeration.CurrentIndex = static_cast<TW_UINT32>(i);
            return TWCC_SUCCESS;
        }
    }
    return TWCC_BADVALUE;
}
TW_UINT16 SetPixelFlavor(int32_t value) {
    CapabilityState.PixelFlavorValue = static_cast<TW_UINT16>(value);
    CapabilityState.PixelFlavorEnumeration.CurrentIndex = static_cast<TW_UINT32>(value);
    return TWCC_SUCCESS;
}
// A refused size still forgets the size an application chose before.
TW_UINT16 SetSupportedSize(int32_t value) {
    CapabilityState.SupportedSizeValue = TWSS_NONE;
    for (size_t i = 0; i < kSupportedSizes.size(); ++i) {
        if (kSupportedSizes[i].code == value) {
            CapabilityState.SupportedSizeValue = kSupportedSizes[i].code;
            CapabilityState.SupportedSizesEnumeration.CurrentIndex = static_cast<TW_UINT32>(i);
            ScanSettings.PaperIndex = kSupportedSizes[i].paperIndex;
            return TWCC_SUCCESS;
        }
    }
    return TWCC_BADVALUE;
}
// The lamp cannot be chosen; naming the one it has is a protocol error.
TW_UINT16 RefuseLightSource(int32_t value) {
    return value == TWLS_WHITE ? TWCC_BADPROTOCOL : TWCC_BADVALUE;
}
TW_UINT16 AcceptListedBitDepth(int32_t value) {
    for (TW_UINT16 item : kBitDepthItems) {
        if (item == value) {
            return TWCC_SUCCESS;
        }
    }
    return TWCC_BADVALUE;
}

// ---- What MSG_RESET restores before it answers.

void RestoreTransferCount() {
    CapabilityState.TransferCount = -1;
}
void RestoreTransferMechanism() {
    CapabilityState.TransferMechanismValue = TWSX_NATIVE;
    CapabilityState.TransferMechanismEnumeration.CurrentIndex = 0;
}
void RestoreBrightness() {
    CapabilityState.BrightnessValue = 2;
    CapabilityState.BrightnessEnumeration.CurrentIndex = 0;
}
void RestorePixelFlavor() {
    CapabilityState.PixelFlavorValue = TWPF_CHOCOLATE;
    CapabilityState.PixelFlavorEnumeration.CurrentIndex = 0;
}
void RestoreSupportedSize() {
    CapabilityState.SupportedSizeValue = TWSS_NONE;
    CapabilityState.SupportedSizesEnumeration.CurrentIndex = 0;
}
void RestoreBitDepth() {
    CapabilityState.BitDepthEnumeration.CurrentIndex = 0;
}

// ---- The capabilities, in the order of CAP_SUPPORTEDCAPS. A row names the
// answers of MSG_GET, MSG_GETCURRENT and MSG_GETDEFAULT, what MSG_SET accepts
// and stores, and what MSG_RESET restores and answers.

struct CapabilityRow {
    TW_UINT16 id;
    Answer get;
    Answer current;
    Answer fallback; // MSG_GETDEFAULT
    SetRule set;
    void (*restore)(); // null: MSG_RESET has nothing to restore
    // The query whose answer MSG_RESET gives once restored; 0: MSG_RESET is
    // refused with TWCC_BADPROTOCOL.
    TW_UINT16 resetAnswersAs;
};

// A capability whose three queries answer alike.
constexpr CapabilityRow Fixed(TW_UINT16 id, Answer answer, SetRule set = kReadOnly,
                              TW_UINT16 resetAnswersAs = 0) {
    return CapabilityRow{id, answer, answer, answer, set, nullptr, resetAnswersAs};
}

using C = CapabilityStateRecord;
using enum Compared;

constexpr std::array<CapabilityRow, 28> kCapabilities{{
    {CAP_XFERCOUNT, OneValueRead(TWTY_INT16, ReadTransferCount),
     OneValueRead(TWTY_INT16, ReadTransferCount), OneValue(TWTY_INT16, 0xFFFFFFFFu),
     Accepts(Signed16, -1, INT16_MAX, SetTransferCount), RestoreTransferCount, MSG_GETDEFAULT},
    Fixed(CAP_SUPPORTEDCAPS, SupportedCapsAnswer()),
    Fixed(CAP_INDICATORS, OneValueRead(TWTY_BOOL, ReadIndicators), Accepts(Unsigned16, 0, 1),
          MSG_GET),
    Fixed(CAP_DEVICEONLINE, OneValueRead(TWTY_BOOL, ReadDeviceOnline)),
    Fixed(CAP_UICONTROLLABLE, OneValue(TWTY_BOOL, 1)),
    Fixed(ICAP_COMPRESSION, OneValue(TWTY_UINT16, TWCP_NONE),
          Accepts(Unsigned16, TWCP_NONE, TWCP_NONE), MSG_GET),
    Fixed(ICAP_PIXELTYPE, OneValue(TWTY_UINT16, TWPT_BW),
          Accepts(Unsigned16, TWPT_BW, TWPT_BW, SetPixelType, nullptr, SelectBlackAndWhite),
          MSG_GET),
    Fixed(ICAP_UNITS, OneValue(TWTY_UINT16, TWUN_INCHES),
          Accepts(Unsigned16, TWUN_INCHES, TWUN_INCHES), MSG_GET),
    {ICAP_XFERMECH, Enumeration(&C::TransferMechanismEnumeration, kTransferMechanismItems),
     OneValueRead(TWTY_UINT16, ReadTransferMechanism), OneValue(TWTY_UINT16, TWSX_NATIVE),
     Accepts(Unsigned16, TWSX_NATIVE, TWSX_MEMORY, SetTransferMechanism, nullptr,
             KeepTransferMechanism),
     RestoreTransferMechanism, MSG_GET},
    {ICAP_BRIGHTNESS, Enumeration(&C::BrightnessEnumeration, kBrightnessItems),
     OneValueRead(TWTY_FIX32, ReadBrightness), OneValue(TWTY_FIX32, Fix32Word(0, 0)),
     Accepts(Signed16, 1, 3, SetBrightness), RestoreBrightness, MSG_GET},
    Fixed(ICAP_PHYSICALWIDTH, OneValue(TWTY_FIX32, PhysicalFix32(PhysicalSize.width))),
    Fixed(ICAP_PHYSICALHEIGHT, OneValue(TWTY_FIX32, PhysicalFix32(PhysicalSize.height))),
    {ICAP_XRESOLUTION, Enumeration(&C::ResolutionEnumeration, kResolutionItems),
     OneValueRead(TWTY_FIX32, ReadResolution), OneValue(TWTY_FIX32, Fix32Word(150, 0)),
     Accepts(Signed16, ResolutionTable.front(), ResolutionTable.back(), SetResolution), nullptr,
     MSG_GET},
    {ICAP_YRESOLUTION, Enumeration(&C::ResolutionEnumeration, kResolutionItems),
     OneValueRead(TWTY_FIX32, ReadResolution), OneValue(TWTY_FIX32, Fix32Word(150, 0)),
     Accepts(Signed16, ResolutionTable.front(), ResolutionTable.back(), SetResolution), nullptr,
     MSG_GET},
    Fixed(ICAP_BITORDER, OneValue(TWTY_UINT16, TWBO_MSBFIRST),
          Accepts(Unsigned16, TWBO_MSBFIRST, TWBO_MSBFIRST), MSG_GET),
    {ICAP_PIXELFLAVOR, Enumeration(&C::PixelFlavorEnumeration, kPixelFlavorItems),
     OneValueRead(TWTY_UINT16, ReadPixelFlavor), OneValue(TWTY_UINT16, TWPF_CHOCOLATE),
     Accepts(Unsigned16, TWPF_CHOCOLATE, TWPF_VANILLA, SetPixelFlavor), RestorePixelFlavor,
     MSG_GET},
    Fixed(ICAP_PLANARCHUNKY, OneValue(TWTY_UINT16, TWPC_CHUNKY),
          Accepts(Unsigned16, TWPC_CHUNKY, TWPC_CHUNKY), MSG_GET),
    {ICAP_SUPPORTEDSIZES, Enumeration(&C::SupportedSizesEnumeration, kSupportedSizeItems),
     OneValueRead(TWTY_UINT16, ReadSupportedSize), OneValue(TWTY_UINT16, TWSS_A3),
     Accepts(Unsigned16, 0, UINT16_MAX, SetSupportedSize), RestoreSupportedSize, MSG_GETDEFAULT},
    Fixed(ICAP_XSCALING, OneValue(TWTY_FIX32, kFix32One),
          Accepts(Whole32, static_cast<int32_t>(kFix32One), static_cast<int32_t>(kFix32One)),
          MSG_GET),
    Fixed(ICAP_YSCALING, OneValue(TWTY_FIX32, kFix32One),
          Accepts(Whole32, static_cast<int32_t>(kFix32One), static_cast<int32_t>(kFix32One)),
          MSG_GET),
    Fixed(ICAP_IMAGEFILEFORMAT, OneValue(TWTY_UINT16, TWFF_BMP),
          Accepts(Unsigned16, TWFF_BMP, TWFF_BMP), MSG_GET),
    Fixed(ICAP_LIGHTSOURCE, OneValue(TWTY_UINT16, TWLS_WHITE), AcceptsNoValue(RefuseLightSource),
          MSG_GET),
    Fixed(ICAP_LIGHTPATH, OneValue(TWTY_UINT16, TWLP_REFLECTIVE),
          Accepts(Unsigned16, TWLP_REFLECTIVE, TWLP_REFLECTIVE), MSG_GET),
    Fixed(CAP_FEEDERENABLED, OneValue(TWTY_BOOL, 0)),
    Fixed(CAP_FEEDERLOADED, OneValue(TWTY_BOOL, 0)),
    Fixed(CAP_AUTOFEED, OneValue(TWTY_BOOL, 0)),
    Fixed(CAP_CLEARPAGE, OneValue(TWTY_BOOL, 0)),
    {ICAP_BITDEPTH, Enumeration(&C::BitDepthEnumeration, kBitDepthItems), OneValue(TWTY_UINT16, 1),
     OneValue(TWTY_UINT16, 1), Accepts(Unsigned16, 1, 24, AcceptListedBitDepth), RestoreBitDepth,
     MSG_GET},
}};

constexpr auto kSupportedCapItems = [] {
    std::array<TW_UINT16, kCapabilities.size()> ids{};
    for (size_t i = 0; i < ids.size(); ++i) {
        ids[i] = kCapabilities[i].id;
    }
    return ids;
}();

constexpr CapabilityStateRecord kCapabilityStateAtLoad{
    Uint16Enumeration(kResolutionItems, 1, 1),
    Uint16Enumeration(kBrightnessItems, 4, 4),
    Uint16Enumeration(kPixelFlavorItems, 0, 0),
    Uint16Enumeration(kTransferMechanismItems, 0, 0),
    Uint16Enumeration(kBitDepthItems, 0, 0),
    Uint16Enumeration(kSupportedSizeItems, 0, 0),
    ArrayRecord{TWTY_UINT16, static_cast<TW_UINT32>(kSupportedCapItems.size())},
    -1,
    2,
    TWSX_NATIVE,
    TWPF_CHOCOLATE,
    TWSS_NONE,
};

const CapabilityRow* FindCapability(TW_UINT16 id) {
    for (const CapabilityRow& row : kCapabilities) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

void BuildAnswer(TW_CAPABILITY* capability, const Answer& answer) {
    switch (answer.conType) {
    case TWON_ONEVALUE:
        NewOneValueContainer(capability, answer.itemType,
                             answer.read != nullptr ? answer.read() : answer.value);
        break;
    case TWON_ENUMERATION:
        NewEnumerationContainer(capability, &(CapabilityState.*answer.enumeration), answer.items);
        break;
    default:
        NewArrayContainer(capability, &CapabilityState.SupportedCapsArray,
                          kSupportedCapItems.data());
        break;
    }
}

const Answer& AnswerFor(const CapabilityRow& row, TW_UINT16 message) {
    switch (message) {
    case MSG_GETCURRENT:
        return row.current;
    case MSG_GETDEFAULT:
        return row.fallback;
    default:
        return row.get;
    }
}

TW_UINT16 Fail(TW_UINT16 code) {
    ConditionCode = code;
    return TWRC_FAILURE;
}

int32_t ComparedValue(Compared compared, TW_UINT32 word) {
    switch (compared) {
    case Compared::Signed16:
        return static_cast<TW_INT16>(word & 0xFFFFu);
    case Compared::Whole32:
        return static_cast<int32_t>(word);
    default:
        return static_cast<int32_t>(word & 0xFFFFu);
    }
}

// DG_CONTROL/DAT_CAPABILITY/MSG_SET
TW_UINT16 SetCapability(TW_CAPABILITY* capability, const CapabilityRow& row) {
    const SetRule& rule = row.set;
    if (!rule.settable) {
        return Fail(TWCC_BADPROTOCOL);
    }
    if (capability->ConType == TWON_ENUMERATION && rule.takeEnumeration != nullptr) {
        if (!ContainerCanBeLocked(capability)) {
            return Fail(TWCC_BADVALUE);
        }
        rule.takeEnumeration();
        return TWRC_SUCCESS;
    }
    if (capability->ConType != TWON_ONEVALUE) {
        return Fail(TWCC_BADPROTOCOL);
    }
    // Bytes an 8-bit or unreadable item does not fill stay 0.
    TW_UINT32 word = 0;
    if (!ReadOneValue(capability, &word)) {
        return Fail(TWCC_BADVALUE);
    }
    const int32_t value = ComparedValue(rule.compared, word);
    if (value < rule.low || value > rule.high) {
        return Fail(rule.refuse != nullptr ? rule.refuse(value) : TWCC_BADVALUE);
    }
    const TW_UINT16 code = rule.apply != nullptr ? rule.apply(value) : TWCC_SUCCESS;
    return code == TWCC_SUCCESS ? TWRC_SUCCESS : Fail(code);
}

// DG_CONTROL/DAT_CAPABILITY/MSG_RESET
TW_UINT16 ResetCapability(TW_CAPABILITY* capability, const CapabilityRow& row) {
    if (row.resetAnswersAs == 0) {
        return Fail(TWCC_BADPROTOCOL);
    }
    if (row.restore != nullptr) {
        row.restore();
    }
    BuildAnswer(capability, AnswerFor(row, row.resetAnswersAs));
    return TWRC_SUCCESS;
}

// A stored index must name one of the record's items.
TW_UINT32 SeedIndex(const EnumerationRecord& record, int32_t index) {
    if (index < 0) {
        return 0;
    }
    const auto last = static_cast<int32_t>(record.NumItems) - 1;
    return static_cast<TW_UINT32>(index > last ? last : index);
}

} // namespace

CapabilityStateRecord CapabilityState = kCapabilityStateAtLoad;

void SeedCapabilitiesFromSettings() {
    CapabilityState.BitDepthEnumeration.CurrentIndex = 0;
    CapabilityState.ResolutionEnumeration.CurrentIndex =
        SeedIndex(CapabilityState.ResolutionEnumeration, ScanSettings.ResolutionIndex);
    // A negative brightness setting (-4 ... -1) is reported as the first item.
    CapabilityState.BrightnessEnumeration.CurrentIndex =
        SeedIndex(CapabilityState.BrightnessEnumeration, ScanSettings.Brightness);
}

// DG_CONTROL/DAT_CAPABILITY
TW_UINT16 CapabilityOperation(TripletRequest* request) {
    ConditionCode = TWCC_SUCCESS;
    auto* capability = static_cast<TW_CAPABILITY*>(request->data);
    if (capability == nullptr) {
        return Fail(TWCC_BADVALUE);
    }
    switch (request->message) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
    case MSG_SET:
    case MSG_RESET:
        break;
    default:
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_CAPABILITY, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    const CapabilityRow* row = FindCapability(capability->Cap);
    if (row == nullptr) {
        return Fail(TWCC_BADCAP);
    }
    switch (request->message) {
    case MSG_SET:
        return SetCapability(capability, *row);
    case MSG_RESET:
        return ResetCapability(capability, *row);
    default:
        BuildAnswer(capability, AnswerFor(*row, request->message));
        return TWRC_SUCCESS;
    }
}

void ResetCapabilityState() {
    CapabilityState = kCapabilityStateAtLoad;
}
