// Requests from an application that gets TWAIN wrong: missing records, bad
// container handles, strings without terminators, lying buffer lengths, flag,
// group, type and message values the source has never heard of. Each case runs
// against a freshly loaded source and must leave it as it was, touching no
// memory but what it owns or was given (AddressSanitizer watches every record
// and block), with the host simulation's accounting clean at the end.
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "device/acquisition.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "transfer/memory.h"
#include "twain/states.h"
#include "twain/status.h"
#include "twain/transfer_control.h"
#include "ui/settings.h"

namespace {

// The state a case starts from.
enum class Stage {
    Loaded,        // 300, no application
    Open,          // 400
    Enabled,       // 500, the settings dialog shown
    TransferReady, // 600, enabled without the dialog
};

constexpr int kUnchanged = -1;
// What ConditionCode holds before each request, so that "unchanged" shows.
constexpr TW_UINT16 kConditionBefore = 0x5A5A;
// A page of 10 rows of 8 bytes from the simulated scanner.
constexpr uint16_t kPagePixels = 64;
constexpr uint16_t kPageLines = 10;
constexpr uint32_t kPageStride = 8;
// The 32-bit process has no room for blocks this large.
constexpr size_t kLargestAllocation = size_t{256} << 20;

std::string HandleText(MemoryBlock handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

template <typename T> constexpr T Copy(T value) {
    return value;
}

class HostileInputTest;

struct HostileCase {
    const char* name;
    Stage stage;
    // Builds the request (records, blocks, expected platform complaints).
    std::function<void(HostileInputTest&)> prepare;
    TW_UINT16 result;
    int condition;         // kUnchanged: the code from before the request
    const char* box;       // the one message box shown, or null for none
    bool scans;            // the scanner may be talked to
    bool changesSomething; // settings, capabilities or the file setup may change
    int state;             // kUnchanged, or the state the request leads to
    // What the application sees afterwards, beyond the common checks.
    std::function<void(HostileInputTest&)> verify;
};

// A failing case is named, not dumped.
void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

class HostileInputTest : public SourceTest, public ::testing::WithParamInterface<HostileCase> {
  public:
    using SourceTest::OpenSource;
    using SourceTest::sourceIdentity;

    // ---- the request
    TW_IDENTITY* origin = nullptr; // null: the application's identity
    bool nullOrigin = false;
    TW_UINT32 dataGroup = DG_CONTROL;
    TW_UINT16 dataArgumentType = DAT_NULL;
    TW_UINT16 message = MSG_NULL;
    void* data = nullptr;
    // Lock attempts on the application's bad handles that the simulation reports.
    std::vector<std::string> expectedErrors;

    void Ask(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, void* record) {
        dataGroup = group;
        dataArgumentType = dat;
        message = msg;
        data = record;
    }

    // A record of exactly this size on the heap, so that any byte read or
    // written past it is caught.
    template <typename T> T* Record(uint8_t fill = 0xA5) { return RecordOf<T>(sizeof(T), fill); }
    template <typename T> T* RecordOf(size_t bytes, uint8_t fill) {
        records_.push_back(std::make_unique<uint8_t[]>(bytes));
        recordSizes_.push_back(bytes);
        std::memset(records_.back().get(), fill, bytes);
        return reinterpret_cast<T*>(records_.back().get());
    }
    // Remembers every record's bytes as the request hands them over.
    void SnapshotRecords() {
        recordCopies_.clear();
        for (size_t i = 0; i < records_.size(); ++i) {
            recordCopies_.emplace_back(records_[i].get(), records_[i].get() + recordSizes_[i]);
        }
    }
    // True when the record's bytes are as the request handed them over.
    bool Untouched(const void* record) const {
        for (size_t i = 0; i < recordCopies_.size(); ++i) {
            if (records_[i].get() == record) {
                return std::memcmp(record, recordCopies_[i].data(), recordCopies_[i].size()) == 0;
            }
        }
        return false;
    }

    // A block of the application's, filled with the given bytes.
    MemoryBlock AppBlock(uint32_t flags, size_t bytes, const void* content, size_t contentBytes) {
        MemoryBlock block = PlatformGlobalAlloc(flags, bytes);
        EXPECT_NE(block, nullptr);
        if (contentBytes > 0) {
            void* at = PlatformGlobalLock(block);
            std::memcpy(at, content, contentBytes);
            PlatformGlobalUnlock(block);
        }
        appBlocks_.push_back(block);
        return block;
    }
    MemoryBlock OneValue(TW_UINT16 itemType, TW_UINT32 item) {
        const TW_ONEVALUE one{itemType, item};
        return AppBlock(GMEM_MOVEABLE, sizeof one, &one, sizeof one);
    }
    // A handle the application freed before handing it over.
    MemoryBlock FreedBlock() {
        MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, 6);
        PlatformGlobalFree(block);
        expectedErrors.push_back("GlobalLock of freed block " + HandleText(block));
        return block;
    }
    // A handle no one ever allocated, inside and outside the range of memory handles.
    MemoryBlock UnknownBlock(uintptr_t value) {
        auto block = reinterpret_cast<MemoryBlock>(value);
        expectedErrors.push_back("GlobalLock of unknown handle " + HandleText(block));
        return block;
    }
    TW_CAPABILITY* Capability(TW_UINT16 cap, TW_UINT16 conType, MemoryBlock container) {
        auto* capability = Record<TW_CAPABILITY>();
        capability->Cap = cap;
        capability->ConType = conType;
        capability->hContainer = container;
        return capability;
    }
    TW_IMAGEMEMXFER* Strip(TW_UINT32 flags, TW_UINT32 length, void* theMem) {
        auto* strip = Record<TW_IMAGEMEMXFER>();
        strip->Memory.Flags = flags;
        strip->Memory.Length = length;
        strip->Memory.TheMem = theMem;
        return strip;
    }
    void FreeAfterwards(MemoryBlock block) { appBlocks_.push_back(block); }

    TW_UINT16 Condition() {
        TW_STATUS status{0xFFFF, 0xFFFF};
        EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }

    // Strips into the application's memory until the page is done: what was
    // refused before leaves the transfer able to go on.
    void FinishPage() {
        std::vector<uint8_t> buffer(4096);
        for (int call = 0; call < 20; ++call) {
            auto* strip = Strip(TWMF_APPOWNS | TWMF_POINTER, 3 * kPageStride, buffer.data());
            const TW_UINT16 result = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, strip);
            if (result == TWRC_XFERDONE) {
                return;
            }
            ASSERT_EQ(result, TWRC_SUCCESS);
        }
        ADD_FAILURE() << "the page never ended";
    }

  protected:
    void SetUp() override {
        SourceTest::SetUp();
        sim::Reset();
        scanner_ = &sim::AddScanner(0);
        scanner_->imageInfoOverride =
            sim::ImageInfo{kPagePixels, kPageLines, kPagePixels, kPageLines};
        host::SetAllocationFailure(
            [](uint32_t, size_t bytes, int) { return bytes > kLargestAllocation; });
    }

    void TearDown() override {
        if (SourceIsOpen()) {
            CloseSource();
        }
        for (MemoryBlock block : appBlocks_) {
            if (host::Block(block) && !host::Block(block)->freed) {
                host::FreeApplicationBlock(block);
            }
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        EXPECT_EQ(sim::ProtocolErrorText(), "");
        SourceTest::TearDown();
        sim::Reset();
    }

    void Reach(Stage stage) {
        if (stage == Stage::Loaded) {
            return;
        }
        ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
        if (stage == Stage::Open) {
            return;
        }
        TW_USERINTERFACE ui{};
        ui.ShowUI = stage == Stage::Enabled ? 1 : 0;
        ui.hParent = host::kApplicationWindow;
        ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    }

  private:
    sim::Device* scanner_ = nullptr;
    std::vector<std::unique_ptr<uint8_t[]>> records_;
    std::vector<size_t> recordSizes_;
    std::vector<std::vector<uint8_t>> recordCopies_;
    std::vector<MemoryBlock> appBlocks_;
};

TEST_P(HostileInputTest, IsRefusedOrServedWithoutHarm) {
    const HostileCase& c = GetParam();
    Reach(c.stage);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(host::Errors(), std::vector<std::string>{});

    const int32_t stateBefore = SourceState;
    const ScanSettingsRecord settingsBefore = ScanSettings;
    const CapabilityStateRecord capabilitiesBefore = CapabilityState;
    const FileTransferSetupRecord fileSetupBefore = FileTransferSetup;
    const size_t boxesBefore = host::MessageBoxes().size();
    const size_t blocksBefore = sim::WrittenBlocks().size();
    const size_t dsmCallsBefore = host::DsmCalls().size();
    const size_t windowsBefore = host::Windows().size();

    c.prepare(*this);
    SnapshotRecords();
    ConditionCode = kConditionBefore;
    const TW_UINT16 result = DS_Entry(nullOrigin          ? nullptr
                                      : origin != nullptr ? origin
                                                          : &app,
                                      dataGroup, dataArgumentType, message, data);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(host::Errors(), expectedErrors) << "only the application's bad handles";
    host::ClearErrors();
    EXPECT_EQ(Condition(), c.condition == kUnchanged ? kConditionBefore : c.condition);
    std::vector<std::string> boxes;
    for (size_t i = boxesBefore; i < host::MessageBoxes().size(); ++i) {
        boxes.push_back(host::MessageBoxes()[i].text);
    }
    EXPECT_EQ(boxes,
              c.box != nullptr ? std::vector<std::string>{c.box} : std::vector<std::string>{});
    EXPECT_EQ(SourceState, c.state == kUnchanged ? stateBefore : c.state);
    if (!c.scans) {
        EXPECT_EQ(sim::WrittenBlocks().size(), blocksBefore) << sim::TranscriptText();
    }
    if (!c.changesSomething) {
        EXPECT_EQ(std::memcmp(&ScanSettings, &settingsBefore, sizeof ScanSettings), 0);
        EXPECT_EQ(std::memcmp(&CapabilityState, &capabilitiesBefore, sizeof CapabilityState), 0);
        EXPECT_EQ(std::memcmp(&FileTransferSetup, &fileSetupBefore, sizeof FileTransferSetup), 0);
    }
    if (c.state == kUnchanged) {
        EXPECT_EQ(host::DsmCalls().size(), dsmCallsBefore);
    }
    if (c.state == kUnchanged && !c.scans) {
        EXPECT_EQ(host::Windows().size(), windowsBefore);
    }
    if (c.verify) {
        c.verify(*this);
    }
    EXPECT_EQ(host::Errors(), std::vector<std::string>{});
}

// ---- the cases

using T = HostileInputTest;
constexpr bool kScans = true;
constexpr bool kChanges = true;

// A triplet whose record is missing, in a state in which it would be served.
HostileCase WithoutRecord(const char* name, Stage stage, TW_UINT32 group, TW_UINT16 dat,
                          TW_UINT16 msg) {
    return {name,         stage,         [=](T& t) { t.Ask(group, dat, msg, nullptr); },
            TWRC_FAILURE, TWCC_BADVALUE, nullptr,
            false,        false,         kUnchanged,
            nullptr};
}

// MSG_SET of ICAP_XRESOLUTION with this container; refused, and nothing is set.
HostileCase RefusedSet(const char* name, TW_UINT16 conType,
                       std::function<MemoryBlock(T&)> container, TW_UINT16 condition) {
    return {name,
            Stage::Open,
            [=](T& t) {
                t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_SET,
                      t.Capability(ICAP_XRESOLUTION, conType, container(t)));
            },
            TWRC_FAILURE,
            condition,
            nullptr,
            false,
            false,
            kUnchanged,
            nullptr};
}

// A strip request in state 6 whose destination cannot be used: the page is
// scanned first, then the call fails without a box, and a good request later
// carries the page on.
HostileCase RefusedStrip(const char* name, std::function<TW_IMAGEMEMXFER*(T&)> strip) {
    return {name,
            Stage::TransferReady,
            [=](T& t) { t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, strip(t)); },
            TWRC_FAILURE,
            TWCC_BUMMER,
            nullptr,
            kScans,
            false,
            kUnchanged,
            [](T& t) {
                EXPECT_EQ(StripProgress.RowsDelivered, 0);
                EXPECT_EQ(SourceStripBuffer.handle, nullptr);
                t.FinishPage();
            }};
}

// A message the operation does not know: its failure box, TWCC_BADPROTOCOL.
HostileCase UnknownMessage(const char* name, Stage stage, TW_UINT32 group, TW_UINT16 dat,
                           std::function<void*(T&)> record, const char* box, bool scans = false,
                           std::function<void(T&)> verify = nullptr, bool changes = false) {
    return {name,
            stage,
            [=](T& t) { t.Ask(group, dat, 0xFFFF, record ? record(t) : nullptr); },
            TWRC_FAILURE,
            TWCC_BADPROTOCOL,
            box,
            scans,
            changes,
            kUnchanged,
            verify};
}

// A group or type no table holds: failure, TWCC_BADPROTOCOL, no box.
HostileCase Unserved(const char* name, TW_UINT32 group, TW_UINT16 dat) {
    return {name,
            Stage::Open,
            [=](T& t) { t.Ask(group, dat, MSG_GET, t.RecordOf<void>(64, 0xA5)); },
            TWRC_FAILURE,
            TWCC_BADPROTOCOL,
            nullptr,
            false,
            false,
            kUnchanged,
            [](T& t) { EXPECT_TRUE(t.Untouched(t.data)); }};
}

void* AnyRecord(T& t) {
    return t.RecordOf<void>(sizeof(TW_SETUPFILEXFER), 0xA5);
}

const HostileCase kCases[] = {
    // ---- records that are not there
    WithoutRecord("IdentityQuery", Stage::Loaded, DG_CONTROL, DAT_IDENTITY, MSG_GET),
    {"OpenWithoutIdentityRecord", Stage::Loaded,
     [](T& t) { t.Ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr); }, TWRC_FAILURE,
     TWCC_BADVALUE, nullptr, false, false, kUnchanged,
     [](T& t) { EXPECT_EQ(t.OpenSource(), TWRC_SUCCESS) << "the one open is not used up"; }},
    {"OpenWithNullOriginWhileNoneIsConnected", Stage::Loaded,
     [](T& t) {
         t.nullOrigin = true;
         t.Ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &t.sourceIdentity);
     },
     TWRC_FAILURE, TWCC_BADVALUE, nullptr, false, false, kUnchanged,
     [](T& t) {
         EXPECT_EQ(Copy(AppIdentity.Id), 0u);
         EXPECT_EQ(t.OpenSource(), TWRC_SUCCESS) << "the one open is not used up";
     }},
    // While an application is connected a null origin is another application's.
    {"OpenWithNullOriginWhileConnected", Stage::Open,
     [](T& t) {
         t.nullOrigin = true;
         t.Ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &t.sourceIdentity);
     },
     TWRC_NOTDSEVENT, kUnchanged, nullptr, false, false, kUnchanged,
     [](T&) { EXPECT_EQ(Copy(AppIdentity.Id), 1u); }},
    {"IdentityQueryWithNullOriginWhileConnected", Stage::Open,
     [](T& t) {
         t.nullOrigin = true;
         t.Ask(DG_CONTROL, DAT_IDENTITY, MSG_GET, t.Record<TW_IDENTITY>());
     },
     TWRC_SUCCESS, kUnchanged, nullptr, false, false, kUnchanged,
     [](T& t) { EXPECT_EQ(std::memcmp(t.data, &t.sourceIdentity, sizeof(TW_IDENTITY)), 0); }},
    WithoutRecord("Enable", Stage::Open, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS),
    // Disabling reads the record only to hide the dialog first; it does without.
    {"DisableWithoutRecord", Stage::Enabled,
     [](T& t) { t.Ask(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr); }, TWRC_SUCCESS,
     kUnchanged, nullptr, false, false, kStateOpen, nullptr},
    WithoutRecord("CapabilityQuery", Stage::Open, DG_CONTROL, DAT_CAPABILITY, MSG_GET),
    WithoutRecord("CapabilityCurrent", Stage::Open, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT),
    WithoutRecord("CapabilityDefault", Stage::Open, DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT),
    WithoutRecord("CapabilitySet", Stage::Open, DG_CONTROL, DAT_CAPABILITY, MSG_SET),
    WithoutRecord("CapabilityReset", Stage::Open, DG_CONTROL, DAT_CAPABILITY, MSG_RESET),
    WithoutRecord("Status", Stage::Loaded, DG_CONTROL, DAT_STATUS, MSG_GET),
    WithoutRecord("PendingQuery", Stage::Open, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET),
    WithoutRecord("EndTransfer", Stage::TransferReady, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
    WithoutRecord("ResetTransfers", Stage::TransferReady, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET),
    WithoutRecord("BufferSizes", Stage::Open, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET),
    WithoutRecord("FileSetupQuery", Stage::Open, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET),
    WithoutRecord("FileSetupSet", Stage::Open, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET),
    WithoutRecord("FileSetupDefault", Stage::Open, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT),
    WithoutRecord("FileSetupReset", Stage::Open, DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET),
    WithoutRecord("TransferGroup", Stage::Open, DG_CONTROL, DAT_XFERGROUP, MSG_GET),
    WithoutRecord("TransferGroupReset", Stage::Open, DG_CONTROL, DAT_XFERGROUP, MSG_RESET),
    WithoutRecord("ImageInformation", Stage::TransferReady, DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
    WithoutRecord("ImageLayout", Stage::Open, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET),
    WithoutRecord("ImageLayoutDefault", Stage::Open, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT),
    WithoutRecord("MemoryTransfer", Stage::TransferReady, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET),
    WithoutRecord("NativeTransfer", Stage::TransferReady, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET),
    // An event the source cannot look at is not the source's.
    {"EventWithoutRecord", Stage::Enabled,
     [](T& t) { t.Ask(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr); }, TWRC_NOTDSEVENT,
     kUnchanged, nullptr, false, false, kUnchanged, nullptr},
    {"EventWithoutWindowMessage", Stage::Enabled,
     [](T& t) {
         auto* event = t.Record<TW_EVENT>();
         event->pEvent = nullptr;
         t.Ask(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, event);
     },
     TWRC_NOTDSEVENT, kUnchanged, nullptr, false, false, kUnchanged,
     [](T& t) { EXPECT_TRUE(t.Untouched(t.data)); }},

    // ---- containers an application gets wrong
    RefusedSet(
        "SetWithNullContainer", TWON_ONEVALUE, [](T&) -> MemoryBlock { return nullptr; },
        TWCC_BADVALUE),
    RefusedSet(
        "SetWithUnknownHandle", TWON_ONEVALUE, [](T& t) { return t.UnknownBlock(0x01FFFFF0u); },
        TWCC_BADVALUE),
    RefusedSet(
        "SetWithHandleOfAnotherKind", TWON_ONEVALUE,
        [](T& t) { return t.UnknownBlock(0xDEADBEE0u); }, TWCC_BADVALUE),
    RefusedSet(
        "SetWithFreedHandle", TWON_ONEVALUE, [](T& t) { return t.FreedBlock(); }, TWCC_BADVALUE),
    RefusedSet(
        "SetWithBlockShorterThanOneValue", TWON_ONEVALUE,
        [](T& t) {
            const uint8_t bytes[2] = {TWTY_UINT16, 0};
            return t.AppBlock(GMEM_MOVEABLE, sizeof bytes, bytes, sizeof bytes);
        },
        TWCC_BADVALUE),
    RefusedSet(
        "SetWithEmptyBlock", TWON_ONEVALUE,
        [](T& t) { return t.AppBlock(GMEM_MOVEABLE, 0, nullptr, 0); }, TWCC_BADVALUE),
    RefusedSet(
        "SetWithRangeContainer", TWON_RANGE, [](T& t) { return t.OneValue(TWTY_FIX32, 300); },
        TWCC_BADPROTOCOL),
    RefusedSet(
        "SetWithArrayContainer", TWON_ARRAY, [](T& t) { return t.OneValue(TWTY_FIX32, 300); },
        TWCC_BADPROTOCOL),
    RefusedSet(
        "SetWithUnknownContainerKind", 0xFFFF, [](T& t) { return t.OneValue(TWTY_FIX32, 300); },
        TWCC_BADPROTOCOL),
    RefusedSet(
        "SetWithFrameItem", TWON_ONEVALUE, [](T& t) { return t.OneValue(TWTY_FRAME, 300); },
        TWCC_BADVALUE),
    RefusedSet(
        "SetWithStringItem", TWON_ONEVALUE, [](T& t) { return t.OneValue(TWTY_STR255, 300); },
        TWCC_BADVALUE),
    RefusedSet(
        "SetWithUnknownItemType", TWON_ONEVALUE, [](T& t) { return t.OneValue(0xFFFF, 300); },
        TWCC_BADVALUE),
    // An 8-bit item fills the low byte only: 300 reads as 44.
    RefusedSet(
        "SetWithByteItem", TWON_ONEVALUE, [](T& t) { return t.OneValue(TWTY_UINT8, 300); },
        TWCC_BADVALUE),
    {"SetEnumerationWithNullContainer", Stage::Open,
     [](T& t) {
         t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_SET,
               t.Capability(ICAP_PIXELTYPE, TWON_ENUMERATION, nullptr));
     },
     TWRC_FAILURE, TWCC_BADVALUE, nullptr, false, false, kUnchanged, nullptr},
    {"SetEnumerationWithFreedHandle", Stage::Open,
     [](T& t) {
         t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_SET,
               t.Capability(ICAP_PIXELTYPE, TWON_ENUMERATION, t.FreedBlock()));
     },
     TWRC_FAILURE, TWCC_BADVALUE, nullptr, false, false, kUnchanged, nullptr},
    // The enumeration's items are never read, whatever it claims to hold.
    {"SetEnumerationClaimingEndlessItems", Stage::Open,
     [](T& t) {
         const uint8_t header[14] = {TWTY_UINT16, 0, 0xFF, 0xFF, 0xFF, 0xFF};
         t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_SET,
               t.Capability(ICAP_PIXELTYPE, TWON_ENUMERATION,
                            t.AppBlock(GMEM_MOVEABLE, sizeof header, header, sizeof header)));
     },
     TWRC_SUCCESS, TWCC_SUCCESS, nullptr, false, false, kUnchanged, nullptr},
    // A query does not free or write the handle the record held before.
    {"QueryOverAnApplicationHandle", Stage::Open,
     [](T& t) {
         const TW_ONEVALUE old{TWTY_UINT16, 0x1234};
         t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_GET,
               t.Capability(ICAP_XRESOLUTION, 0xFFFF,
                            t.AppBlock(GMEM_MOVEABLE, sizeof old, &old, sizeof old)));
     },
     TWRC_SUCCESS, TWCC_SUCCESS, nullptr, false, false, kUnchanged,
     [](T& t) {
         auto* capability = static_cast<TW_CAPABILITY*>(t.data);
         MemoryBlock answer = capability->hContainer;
         t.FreeAfterwards(answer);
         EXPECT_EQ(Copy(capability->ConType), TWON_ENUMERATION);
         EXPECT_EQ(host::LiveBlockCount(), 2u) << "the old block and the answer";
         EXPECT_EQ(host::BlockSize(answer), 21u);
     }},
    {"UnknownCapability", Stage::Open,
     [](T& t) {
         t.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_GET, t.Capability(0xFFFF, TWON_ONEVALUE, nullptr));
     },
     TWRC_FAILURE, TWCC_BADCAP, nullptr, false, false, kUnchanged,
     [](T& t) { EXPECT_EQ(Copy(static_cast<TW_CAPABILITY*>(t.data)->hContainer), nullptr); }},

    // ---- strings without their terminator
    {"FileNameWithoutTerminator", Stage::Open,
     [](T& t) {
         auto* setup = t.Record<TW_SETUPFILEXFER>('A');
         setup->Format = TWFF_BMP;
         t.Ask(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, setup);
     },
     TWRC_SUCCESS, kUnchanged, nullptr, false, kChanges, kUnchanged,
     [](T& t) {
         EXPECT_EQ(std::string(FileTransferSetup.name), std::string(255, 'A'));
         EXPECT_EQ(FileTransferSetup.format, TWFF_BMP);
         EXPECT_TRUE(t.Untouched(t.data));
     }},
    {"IdentitiesWithoutTerminators", Stage::Loaded,
     [](T& t) {
         auto* origin = t.Record<TW_IDENTITY>('Z');
         origin->Id = 1;
         auto* source = t.Record<TW_IDENTITY>('Y');
         source->Id = 2;
         t.origin = origin;
         t.Ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, source);
     },
     TWRC_SUCCESS, kUnchanged, nullptr, kScans, kChanges, kStateOpen,
     [](T& t) {
         auto* answer = t.Record<TW_IDENTITY>(0);
         EXPECT_EQ(DS_Entry(t.origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, answer), TWRC_SUCCESS);
         EXPECT_EQ(std::memcmp(answer, t.data, sizeof(TW_IDENTITY)), 0);
         // The notification carries both records as they came.
         TW_USERINTERFACE ui{};
         EXPECT_EQ(DS_Entry(t.origin, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui),
                   TWRC_SUCCESS);
         ASSERT_FALSE(host::DsmCalls().empty());
         EXPECT_EQ(std::memcmp(&host::DsmCalls().back().origin, t.data, sizeof(TW_IDENTITY)), 0);
         EXPECT_EQ(std::memcmp(&host::DsmCalls().back().destination, t.origin, sizeof(TW_IDENTITY)),
                   0);
         EXPECT_EQ(DS_Entry(t.origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr),
                   TWRC_SUCCESS);
     }},

    // ---- strip buffers of lying sizes and unknown kinds
    {"StripOfLengthZero", Stage::TransferReady,
     [](T& t) {
         t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
               t.Strip(TWMF_APPOWNS | TWMF_POINTER, 0, t.RecordOf<void>(1, 0xA5)));
     },
     TWRC_SUCCESS, TWCC_BUMMER, nullptr, kScans, false, kUnchanged,
     [](T& t) {
         auto* strip = static_cast<TW_IMAGEMEMXFER*>(t.data);
         EXPECT_EQ(Copy(strip->Rows), 0u);
         EXPECT_EQ(Copy(strip->BytesWritten), 0u);
         EXPECT_TRUE(t.Untouched(strip->Memory.TheMem));
         t.FinishPage();
     }},
    {"StripOfNegativeLength", Stage::TransferReady,
     [](T& t) {
         t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
               t.Strip(TWMF_APPOWNS | TWMF_POINTER, 0x80000000u, t.RecordOf<void>(16, 0xA5)));
     },
     TWRC_FAILURE, TWCC_BADVALUE,
     "General failure in response to DAT_IMAGEMEMXFER.  Bad value error.", false, false, kUnchanged,
     [](T& t) { EXPECT_TRUE(t.Untouched(t.data)); }},
    {"StripOfLargestLength", Stage::TransferReady,
     [](T& t) {
         t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
               t.Strip(TWMF_DSOWNS | TWMF_POINTER, 0xFFFFFFFFu, nullptr));
     },
     TWRC_FAILURE, TWCC_BADVALUE,
     "General failure in response to DAT_IMAGEMEMXFER.  Bad value error.", false, false, kUnchanged,
     [](T& t) { EXPECT_TRUE(t.Untouched(t.data)); }},
    RefusedStrip("SourceBufferTooLargeForTheProcess",
                 [](T& t) { return t.Strip(TWMF_DSOWNS | TWMF_POINTER, 0x7FFFFFF0u, nullptr); }),
    // A handle tells its size: a Length beyond it fills the block and no more.
    {"HandleSmallerThanItsLength", Stage::TransferReady,
     [](T& t) {
         t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
               t.Strip(TWMF_APPOWNS | TWMF_HANDLE, 0x7FFFFFFFu,
                       t.AppBlock(GMEM_MOVEABLE | GMEM_ZEROINIT, 3 * kPageStride + 1, nullptr, 0)));
     },
     TWRC_SUCCESS, TWCC_BUMMER, nullptr, kScans, false, kUnchanged,
     [](T& t) {
         auto* strip = static_cast<TW_IMAGEMEMXFER*>(t.data);
         EXPECT_EQ(Copy(strip->Rows), 3u);
         EXPECT_EQ(Copy(strip->BytesWritten), 3 * kPageStride);
         EXPECT_EQ(host::BlockBytes(strip->Memory.TheMem).back(), 0) << "the byte past 3 rows";
         EXPECT_EQ(host::Block(strip->Memory.TheMem)->locks, 0);
         t.FinishPage();
     }},
    RefusedStrip(
        "FlagsWithoutReferenceKind",
        [](T& t) { return t.Strip(0xFFFFFFE0u | TWMF_APPOWNS, 4096, t.RecordOf<void>(8, 0xA5)); }),
    RefusedStrip("SourceOwnedWithoutReferenceKind",
                 [](T& t) { return t.Strip(TWMF_DSOWNS, 4096, nullptr); }),
    RefusedStrip("NullPointer",
                 [](T& t) { return t.Strip(TWMF_APPOWNS | TWMF_POINTER, 4096, nullptr); }),
    RefusedStrip("NullHandle",
                 [](T& t) { return t.Strip(TWMF_APPOWNS | TWMF_HANDLE, 4096, nullptr); }),
    RefusedStrip("FreedHandle",
                 [](T& t) { return t.Strip(TWMF_APPOWNS | TWMF_HANDLE, 4096, t.FreedBlock()); }),
    RefusedStrip("UnknownHandle",
                 [](T& t) {
                     return t.Strip(TWMF_DSMOWNS | TWMF_HANDLE, 4096, t.UnknownBlock(0x01FFFFF0u));
                 }),
    // Every bit set: the application owns the buffer and names it by address.
    {"EveryFlagBit", Stage::TransferReady,
     [](T& t) {
         t.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET,
               t.Strip(0xFFFFFFFFu, kPageLines * kPageStride,
                       t.RecordOf<void>(kPageLines * kPageStride, 0xA5)));
     },
     TWRC_XFERDONE, TWCC_BUMMER, nullptr, kScans, false, kUnchanged,
     [](T& t) {
         EXPECT_EQ(Copy(static_cast<TW_IMAGEMEMXFER*>(t.data)->Rows), kPageLines);
         EXPECT_EQ(SourceStripBuffer.handle, nullptr);
     }},

    // ---- groups, types and messages no table knows
    Unserved("DataGroupZero", 0, DAT_CAPABILITY),
    Unserved("DataGroupFour", 4, DAT_CAPABILITY),
    Unserved("DataGroupWithHighBits", 0x80000000u | DG_CONTROL, DAT_CAPABILITY),
    Unserved("DataGroupAllBits", 0xFFFFFFFFu, DAT_IDENTITY),
    Unserved("ControlTypeUnknown", DG_CONTROL, 0xFFFF),
    Unserved("ImageTypeInControlGroup", DG_CONTROL, DAT_IMAGEINFO),
    Unserved("ControlTypeInImageGroup", DG_IMAGE, DAT_IDENTITY),
    Unserved("Palette", DG_IMAGE, DAT_PALETTE8),
    UnknownMessage("IdentityMessage", Stage::Open, DG_CONTROL, DAT_IDENTITY, AnyRecord,
                   "General failure in response to DAT_IDENTITY.  Bad protocol error."),
    UnknownMessage("UserInterfaceMessage", Stage::Open, DG_CONTROL, DAT_USERINTERFACE, AnyRecord,
                   "General failure in response to DAT_USERINTERFACE.  Bad protocol error."),
    UnknownMessage(
        "CapabilityMessage", Stage::Open, DG_CONTROL, DAT_CAPABILITY,
        [](T& t) -> void* { return t.Capability(ICAP_XRESOLUTION, TWON_ONEVALUE, nullptr); },
        "General failure in response to DAT_CAPS.  Bad protocol error."),
    UnknownMessage("StatusMessage", Stage::Open, DG_CONTROL, DAT_STATUS, AnyRecord,
                   "General failure in response to DAT_STATUS.  Bad protocol error."),
    UnknownMessage("PendingTransfersMessage", Stage::Open, DG_CONTROL, DAT_PENDINGXFERS, AnyRecord,
                   "General failure in response to DAT_PENDINGXFER.  Bad protocol error."),
    UnknownMessage(
        "BufferSizesMessage", Stage::Open, DG_CONTROL, DAT_SETUPMEMXFER, AnyRecord,
        "General failure in response to DAT_SETUPMEMXFER, not supported.  Bad protocol error."),
    // The format is set to BMP whatever the message; nothing else is stored.
    UnknownMessage(
        "FileSetupMessage", Stage::Open, DG_CONTROL, DAT_SETUPFILEXFER, AnyRecord,
        "General failure in response to DAT_SETUPFILEXFER, not supported.  Bad protocol error.",
        false, [](T&) { EXPECT_EQ(FileTransferSetup.name[0], '\0'); }, kChanges),
    UnknownMessage(
        "TransferGroupMessage", Stage::Open, DG_CONTROL, DAT_XFERGROUP, AnyRecord,
        "General failure in response to DAT_XFERGROUP, not supported.  Bad protocol error."),
    UnknownMessage("ImageInformationMessage", Stage::TransferReady, DG_IMAGE, DAT_IMAGEINFO,
                   AnyRecord, "General failure in transfer.  Bad protocol error."),
    UnknownMessage("ImageLayoutMessage", Stage::Open, DG_IMAGE, DAT_IMAGELAYOUT, AnyRecord,
                   "General failure in response to DAT_IMAGEINFO.  Bad protocol error."),
    UnknownMessage("NativeTransferMessage", Stage::TransferReady, DG_IMAGE, DAT_IMAGENATIVEXFER,
                   AnyRecord,
                   "General failure in response to DAT_IMAGENATIVEXFER.  Bad protocol error."),
    UnknownMessage("FileTransferMessage", Stage::TransferReady, DG_IMAGE, DAT_IMAGEFILEXFER,
                   AnyRecord,
                   "General failure in response to DAT_IMAGEFILEXFER.  Bad protocol error."),
    // The memory transfer scans before it looks at the message; the page waits
    // for a good request.
    UnknownMessage(
        "MemoryTransferMessage", Stage::TransferReady, DG_IMAGE, DAT_IMAGEMEMXFER,
        [](T& t) -> void* {
            return t.Strip(TWMF_APPOWNS | TWMF_POINTER, 4096, t.RecordOf<void>(4096, 0xA5));
        },
        "General failure in response to DAT_IMAGEMEMXFER.  Bad protocol error.", kScans,
        [](T& t) {
            auto* strip = static_cast<TW_IMAGEMEMXFER*>(t.data);
            EXPECT_TRUE(t.Untouched(strip->Memory.TheMem));
            t.FinishPage();
        }),
};

INSTANTIATE_TEST_SUITE_P(Cases, HostileInputTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
