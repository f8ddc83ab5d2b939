// One application session per input: the bytes decide the scanner and the
// installation, then a sequence of triplets with their records (well formed,
// cut short or made of noise), with the user working the settings dialog and
// the scanner changing its mind in between. Every request runs against the
// one freshly loaded source of this input; after each the host simulation's
// accounting must be clean, and at the end, once the application has closed
// the source and freed what it received, nothing may be left over.
#include "fuzz/fuzz_harness.h"
#include "resources/resource_ids.h"
#include "twain/user_interface.h"

namespace {

using fuzz::Application;
using fuzz::Input;

constexpr TW_UINT16 kDataTypes[] = {
    DAT_IDENTITY,      DAT_USERINTERFACE, DAT_CAPABILITY,    DAT_STATUS,
    DAT_PENDINGXFERS,  DAT_SETUPMEMXFER,  DAT_SETUPFILEXFER, DAT_XFERGROUP,
    DAT_EVENT,         DAT_PARENT,        DAT_NULL,          DAT_IMAGEINFO,
    DAT_IMAGELAYOUT,   DAT_IMAGEMEMXFER,  DAT_IMAGEMEMXFER,  DAT_IMAGENATIVEXFER,
    DAT_IMAGEFILEXFER, DAT_PALETTE8,
};
constexpr TW_UINT16 kMessages[] = {
    MSG_GET,          MSG_GET,          MSG_GETCURRENT, MSG_GETDEFAULT,
    MSG_GETFIRST,     MSG_GETNEXT,      MSG_SET,        MSG_SET,
    MSG_RESET,        MSG_QUERYSUPPORT, MSG_OPENDS,     MSG_CLOSEDS,
    MSG_USERSELECT,   MSG_DISABLEDS,    MSG_ENABLEDS,   MSG_ENABLEDSUIONLY,
    MSG_PROCESSEVENT, MSG_ENDXFER,      MSG_XFERREADY,  MSG_NULL,
};
constexpr TW_UINT16 kCapabilities[] = {
    CAP_XFERCOUNT,        CAP_SUPPORTEDCAPS,   CAP_INDICATORS,     CAP_DEVICEONLINE,
    CAP_UICONTROLLABLE,   ICAP_COMPRESSION,    ICAP_PIXELTYPE,     ICAP_UNITS,
    ICAP_XFERMECH,        ICAP_BRIGHTNESS,     ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
    ICAP_XRESOLUTION,     ICAP_YRESOLUTION,    ICAP_BITORDER,      ICAP_PIXELFLAVOR,
    ICAP_PLANARCHUNKY,    ICAP_SUPPORTEDSIZES, ICAP_XSCALING,      ICAP_YSCALING,
    ICAP_IMAGEFILEFORMAT, ICAP_LIGHTSOURCE,    ICAP_LIGHTPATH,     CAP_FEEDERENABLED,
    CAP_FEEDERLOADED,     CAP_AUTOFEED,        CAP_CLEARPAGE,      ICAP_BITDEPTH,
    CAP_DUPLEX,
};
constexpr TW_UINT16 kContainerKinds[] = {TWON_ONEVALUE, TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY,
                                         TWON_RANGE};
constexpr TW_UINT16 kItemTypes[] = {TWTY_INT8,   TWTY_INT16,  TWTY_INT32,  TWTY_UINT8,
                                    TWTY_UINT16, TWTY_UINT32, TWTY_BOOL,   TWTY_FIX32,
                                    TWTY_FRAME,  TWTY_STR32,  TWTY_STR255, 0xFFFF};
constexpr TW_UINT32 kFlags[] = {
    TWMF_APPOWNS | TWMF_POINTER,
    TWMF_APPOWNS | TWMF_HANDLE,
    TWMF_DSOWNS | TWMF_POINTER,
    TWMF_DSOWNS | TWMF_HANDLE,
    TWMF_DSMOWNS | TWMF_HANDLE,
    TWMF_DSOWNS,
    TWMF_POINTER,
    TWMF_HANDLE,
    TWMF_APPOWNS | TWMF_DSOWNS | TWMF_POINTER,
    TWMF_POINTER | TWMF_HANDLE,
    0xFFFFFFFFu,
    0,
};
constexpr TW_UINT32 kLengths[] = {0,    1,    7,     8,     24,          100,
                                  1000, 4096, 65535, 65536, 0x7FFFFFFFu, 0x80000000u};
constexpr const char* kFileNames[] = {
    "TWAIN.TMP", "C:\\cwd\\page.bmp",       "C:\\missing\\page.bmp", "C:\\TEMP\\UAXXXX.ini",
    "",          "\\\\server\\share\\p.bmp"};
constexpr int kControls[] = {IDC_PAPER_LIST,  IDC_SCANTYPE_LIST,     IDC_RESOLUTION_LIST,
                             IDC_DUPLEX_LIST, IDC_BRIGHTNESS_SCROLL, IDC_BRIGHTNESS_EDIT,
                             IDC_HELP_BUTTON, IDC_ABOUT_BUTTON,      IDC_SCAN_BUTTON,
                             IDC_CLOSE_BUTTON};
constexpr uint32_t kWindowMessages[] = {WM_KEYDOWN, WM_CHAR,       WM_COMMAND, WM_HSCROLL,
                                        WM_CLOSE,   WM_INITDIALOG, WM_DESTROY, 0x0200};
constexpr uint8_t kOpcodes[] = {0,
                                sim::kOpStartScan,
                                sim::kOpGetStatus,
                                sim::kOpAbortScan,
                                sim::kOpGetImageInfo,
                                sim::kOpSetScanParameters,
                                sim::kOpGetAdfStatus,
                                sim::kOpReadData};

// Memory is scarce in the 32-bit process; the fuzzer's pages stay far below this.
constexpr size_t kLargestBlock = size_t{4} << 20;
constexpr uint32_t kLargestAppBuffer = 256u << 10;
constexpr int kMostSteps = 64;

TW_IDENTITY Identity(TW_UINT32 id, const char* name) {
    TW_IDENTITY identity{};
    identity.Id = id;
    identity.Version.MajorNum = 1;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::snprintf(identity.ProductName, sizeof identity.ProductName, "%s", name);
    return identity;
}

// FUZZ_TRACE=1 prints what an input does, for reading a finding or a seed.
bool Tracing() {
    static const bool tracing = std::getenv("FUZZ_TRACE") != nullptr;
    return tracing;
}

struct Session {
    explicit Session(Input& input) : in(input) {}
    Input& in;
    Application app;
    TW_IDENTITY application = Identity(1, "Fuzz Application");
    TW_IDENTITY stranger = Identity(7, "Another Application");
    TW_IDENTITY assigned = Identity(2, "Velmora Oskaro Tq3480 PCL");
    bool deviceMisbehaves = false;
};

void FillRaw(Input& in, void* record, size_t bytes) {
    const std::vector<uint8_t> raw = in.Bytes(bytes);
    if (!raw.empty()) {
        std::memcpy(record, raw.data(), raw.size());
    }
}

WindowHandle SettingsDialog() {
    return host::FindDialog(IDD_SETTINGS);
}

// A container handle for MSG_SET (and a stale one for the queries to overwrite).
MemoryBlock Container(Session& s) {
    Input& in = s.in;
    switch (in.Below(6)) {
    case 0:
        return s.app.AnyHandle(in);
    case 1:
    case 2: {
        TW_ONEVALUE one{in.Choose16(kItemTypes), in.U32()};
        std::vector<uint8_t> bytes(sizeof one);
        std::memcpy(bytes.data(), &one, sizeof one);
        const size_t size = in.Below(4) == 0 ? in.Below(8) : sizeof one;
        return s.app.Block(in.Bit() ? GMEM_MOVEABLE : GMEM_FIXED, size, bytes);
    }
    case 3:
    case 4: {
        const size_t size = in.Below(64);
        return s.app.Block(in.Bit() ? GMEM_MOVEABLE : GMEM_FIXED, size, in.Bytes(size));
    }
    default:
        return nullptr;
    }
}

// The window message of a MSG_PROCESSEVENT: for the settings dialog, one of its
// controls, or a window the source has never seen.
PlatformMsg* WindowMessage(Session& s) {
    Input& in = s.in;
    auto* message = s.app.Record<PlatformMsg>();
    WindowHandle dialog = SettingsDialog();
    switch (in.Below(3)) {
    case 0:
        message->hwnd = dialog;
        break;
    case 1:
        message->hwnd = dialog != nullptr ? host::Control(dialog, in.Pick(kControls)) : nullptr;
        break;
    default:
        message->hwnd = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(in.U32()));
        break;
    }
    message->message = in.Choose32(kWindowMessages);
    switch (in.Below(4)) {
    case 0:
        message->wParam = 0x0D; // Enter
        break;
    case 1:
        message->wParam = 0x1B; // Escape
        break;
    default:
        message->wParam = in.U32();
        break;
    }
    message->lParam = in.Bit() && dialog != nullptr
                          ? reinterpret_cast<LParam>(host::Control(dialog, IDC_BRIGHTNESS_SCROLL))
                          : static_cast<LParam>(static_cast<int32_t>(in.U32()));
    return message;
}

// Whose buffer a strip goes to, decided as the source decides it.
bool SourceOwned(TW_UINT32 flags) {
    return (flags & (TWMF_APPOWNS | TWMF_DSMOWNS | TWMF_DSOWNS)) == TWMF_DSOWNS;
}

TW_IMAGEMEMXFER* Strip(Session& s) {
    Input& in = s.in;
    auto* strip = s.app.Record<TW_IMAGEMEMXFER>();
    FillRaw(in, strip, in.Below(4) == 0 ? offsetof(TW_IMAGEMEMXFER, Memory) : 0);
    const TW_UINT32 flags = in.Choose32(kFlags);
    TW_UINT32 length = in.Choose32(kLengths);
    void* theMem = reinterpret_cast<void*>(static_cast<uintptr_t>(0x10)); // used: a crash
    if (!SourceOwned(flags) && (flags & TWMF_POINTER) != 0) {
        // The application never claims more than it gave: beyond 2 GiB the
        // length is refused unread, below it the buffer is as long as it says.
        if (length <= 0x7FFFFFFFu) {
            length = std::min(length, kLargestAppBuffer);
            theMem = in.Below(16) == 0 ? nullptr : s.app.Record(length);
        } else {
            theMem = s.app.Record(16);
        }
    } else if (!SourceOwned(flags) && (flags & TWMF_HANDLE) != 0) {
        theMem = in.Bit() ? s.app.AnyHandle(in)
                          : s.app.Block(in.Bit() ? GMEM_MOVEABLE : GMEM_FIXED,
                                        in.U16() % (kLargestAppBuffer / 4), {});
    } else if (SourceOwned(flags) && in.Bit()) {
        theMem = nullptr;
    }
    strip->Memory.Flags = flags;
    strip->Memory.Length = length;
    strip->Memory.TheMem = theMem;
    return strip;
}

size_t RecordSize(TW_UINT16 dat, Input& in) {
    switch (dat) {
    case DAT_STATUS:
    case DAT_XFERGROUP:
    case DAT_IMAGENATIVEXFER:
        return 4;
    case DAT_PENDINGXFERS:
        return sizeof(TW_PENDINGXFERS);
    case DAT_SETUPMEMXFER:
        return sizeof(TW_SETUPMEMXFER);
    case DAT_IMAGEINFO:
        return sizeof(TW_IMAGEINFO);
    case DAT_IMAGELAYOUT:
        return sizeof(TW_IMAGELAYOUT);
    default:
        return 1 + in.Below(64);
    }
}

// The record of a request: what its data argument type calls for, except that
// MSG_PROCESSEVENT always carries an event, whatever the type says.
void* RecordFor(Session& s, TW_UINT16 dat, TW_UINT16 message) {
    Input& in = s.in;
    if (in.Below(10) == 0) {
        return nullptr;
    }
    switch (message == MSG_PROCESSEVENT ? DAT_EVENT : dat) {
    case DAT_IDENTITY: {
        auto* identity = s.app.Record<TW_IDENTITY>();
        if (in.Below(4) != 0) {
            *identity = s.assigned;
        } else {
            FillRaw(in, identity, sizeof *identity); // strings without terminators too
        }
        return identity;
    }
    case DAT_USERINTERFACE: {
        auto* ui = s.app.Record<TW_USERINTERFACE>();
        ui->ShowUI = in.Below(8) == 0 ? in.U16() : in.Bit();
        ui->ModalUI = in.U16();
        ui->hParent = in.Bit() ? host::kApplicationWindow
                               : reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(in.U32()));
        return ui;
    }
    case DAT_CAPABILITY: {
        auto* capability = s.app.Record<TW_CAPABILITY>();
        capability->Cap = in.Choose16(kCapabilities);
        capability->ConType = in.Choose16(kContainerKinds);
        capability->hContainer = Container(s);
        return capability;
    }
    case DAT_EVENT: {
        auto* event = s.app.Record<TW_EVENT>();
        event->pEvent = in.Below(8) == 0 ? nullptr : WindowMessage(s);
        event->TWMessage = in.U16();
        return event;
    }
    case DAT_SETUPFILEXFER: {
        auto* setup = s.app.Record<TW_SETUPFILEXFER>();
        if (in.Below(4) == 0) {
            FillRaw(in, setup->FileName, sizeof setup->FileName); // perhaps no terminator
        } else {
            std::snprintf(setup->FileName, sizeof setup->FileName, "%s", in.Pick(kFileNames));
        }
        setup->Format = in.Bit() ? in.U16() : TWFF_BMP;
        setup->VRefNum = static_cast<TW_INT16>(in.U16());
        return setup;
    }
    case DAT_IMAGEMEMXFER:
        return Strip(s);
    default: {
        const size_t size = RecordSize(dat, in);
        uint8_t* record = s.app.Record(size);
        FillRaw(in, record, in.Bit() ? size : 0);
        return record;
    }
    }
}

// One triplet, as the Source Manager passes it on.
void Triplet(Session& s) {
    Input& in = s.in;
    const uint8_t groupChoice = in.Byte();
    const TW_UINT32 group = groupChoice < 120   ? DG_CONTROL
                            : groupChoice < 240 ? DG_IMAGE
                                                : in.U32();
    const TW_UINT16 dat = in.Choose16(kDataTypes);
    const TW_UINT16 message = in.Choose16(kMessages);
    TW_IDENTITY* origin = &s.application;
    switch (in.Below(16)) {
    case 0:
        origin = nullptr;
        break;
    case 1:
        origin = &s.stranger;
        break;
    case 2:
        origin = s.app.Record<TW_IDENTITY>();
        FillRaw(in, origin, sizeof(TW_IDENTITY));
        break;
    default:
        break;
    }
    s.app.StartRequest();
    void* data = RecordFor(s, dat, message);
    const bool capability = dat == DAT_CAPABILITY && message != MSG_PROCESSEVENT && data != nullptr;
    MemoryBlock containerBefore = nullptr;
    if (capability) {
        containerBefore = static_cast<TW_CAPABILITY*>(data)->hContainer;
    }

    const TW_UINT16 result = DS_Entry(origin, group, dat, message, data);
    if (Tracing()) {
        std::fprintf(stderr, "triplet %x/%04x/%04x%s%s -> %u (state %d)\n", group, dat, message,
                     origin == &s.application ? "" : " (other origin)",
                     data == nullptr ? " without record" : "", result, SourceState);
    }

    // What the source handed over belongs to the application from now on.
    if (capability) {
        MemoryBlock answer = static_cast<TW_CAPABILITY*>(data)->hContainer;
        if (answer != containerBefore && answer != nullptr) {
            const auto block = host::Block(answer);
            if (!block || block->freed) {
                fuzz::Fail("a capability answer handle that is no live block: " +
                           fuzz::HandleText(answer));
            }
            s.app.Received(answer);
        }
    }
    if (dat == DAT_IMAGENATIVEXFER && message != MSG_PROCESSEVENT && data != nullptr &&
        result == TWRC_XFERDONE) {
        TW_UINT32 handle;
        std::memcpy(&handle, data, sizeof handle);
        s.app.Received(host::BlockFromHandleValue(handle));
    }
    s.app.CheckRequest("triplet");
}

// The user at the settings dialog, when there is one.
void UserAction(Session& s) {
    Input& in = s.in;
    WindowHandle dialog = SettingsDialog();
    if (dialog == nullptr) {
        in.Byte();
        return;
    }
    s.app.StartRequest();
    const uint32_t action = in.Below(10);
    if (Tracing()) {
        std::fprintf(stderr, "user action %u\n", action);
    }
    switch (action) {
    case 0:
    case 1:
        host::PressButton(dialog, IDC_SCAN_BUTTON);
        break;
    case 2:
        host::PressButton(dialog, in.Pick(kControls));
        break;
    case 3: {
        const int list = IDC_PAPER_LIST + static_cast<int>(in.Below(4));
        const size_t items = host::ComboItems(dialog, list).size();
        if (items > 0) {
            host::SelectComboItem(dialog, list, static_cast<int>(in.Byte() % items));
        }
        break;
    }
    case 4:
        host::Scroll(dialog, IDC_BRIGHTNESS_SCROLL, in.Below(10), static_cast<int16_t>(in.U16()));
        break;
    case 5: {
        std::string typed;
        for (uint32_t n = in.Below(4) + 1; n > 0; --n) {
            const uint8_t c = in.Byte();
            typed += (c & 0x80) != 0 ? '\b' : static_cast<char>(c);
        }
        host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, in.Below(4), in.Below(4));
        host::TypeText(dialog, IDC_BRIGHTNESS_EDIT, typed);
        break;
    }
    case 6:
        host::SendCommand(dialog, in.U16(), in.U16());
        break;
    case 7:
        host::SendToDialog(dialog, in.Pick(kWindowMessages), in.U32(),
                           static_cast<LParam>(static_cast<int32_t>(in.U32())));
        break;
    case 8:
        host::CloseDialog(dialog);
        break;
    default:
        host::PressButton(dialog, IDC_ABOUT_BUTTON);
        break;
    }
    s.app.CheckRequest("dialog");
}

// The scanner changes between requests: status, feeder, faults, unplugging.
void ScannerChange(Session& s) {
    Input& in = s.in;
    sim::Device& device = sim::Slot(0);
    const uint32_t change = in.Below(10);
    if (Tracing()) {
        std::fprintf(stderr, "scanner change %u\n", change);
    }
    switch (change) {
    case 0:
        device.status = in.Below(5);
        break;
    case 1:
        device.feederSheets = static_cast<int>(in.Below(4));
        break;
    case 2:
        device.feederJam = in.Bit();
        break;
    case 3:
        device.statusScript.push_back(in.Below(5));
        break;
    case 4: {
        sim::Fault fault{};
        fault.kind = static_cast<sim::FaultKind>(in.Below(4));
        fault.opcode = in.Pick(kOpcodes);
        fault.occurrence = static_cast<int>(in.Below(6)) + 1;
        fault.bytes = in.Below(12);
        device.faults.push_back(fault);
        s.deviceMisbehaves = true;
        break;
    }
    case 5:
        device.statusAfterReadData = static_cast<int>(in.Below(4));
        device.statusAfterValue = in.Below(5);
        break;
    case 6:
        device.imageInfoOverride = sim::ImageInfo{
            static_cast<uint16_t>(in.U16() % 2049), static_cast<uint16_t>(in.U16() % 257),
            static_cast<uint16_t>(in.U16() % 2049), static_cast<uint16_t>(in.U16() % 257)};
        break;
    case 7:
        device.duplexUnit = in.Bit();
        break;
    case 8:
        if (in.Bit()) {
            sim::Unplug(0);
        } else {
            device.answers = in.Bit();
            s.deviceMisbehaves = s.deviceMisbehaves || !device.answers;
        }
        break;
    default:
        device.feederScript.push_back({});
        for (uint8_t& byte : device.feederScript.back()) {
            byte = in.Byte();
        }
        break;
    }
}

// Memory grows short for one allocation or one lock, of the source's or the application's.
void MemoryPressure(Session& s) {
    Input& in = s.in;
    switch (in.Below(3)) {
    case 0:
        host::FailNextAllocation();
        break;
    case 1:
        host::FailNextLock();
        break;
    default:
        host::FailAllocation(host::AllocationCalls() + 1 + static_cast<int>(in.Below(8)));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    fuzz::FreshSimulation();
    fuzz::LimitAllocations(kLargestBlock);

    // The installation and the scanner.
    const uint8_t setup = in.Byte();
    if ((setup & 0x01) == 0) {
        sim::Device& scanner = sim::AddScanner(0);
        scanner.duplexUnit = (setup & 0x02) != 0;
        scanner.feederSheets = (setup >> 5) & 0x07;
        if ((setup & 0x10) == 0) {
            // Small pages keep the runs quick; the settings' own window now and then.
            scanner.imageInfoOverride = sim::ImageInfo{
                static_cast<uint16_t>(in.U16() % 1025), static_cast<uint16_t>(in.U16() % 129),
                static_cast<uint16_t>(in.U16() % 1025), static_cast<uint16_t>(in.U16() % 129)};
        }
    }
    if ((setup & 0x04) != 0) {
        host::SetCompanion(host::Companion::Loadable);
    }
    if ((setup & 0x08) != 0) {
        host::SetSourceManager(host::SourceManager::Absent);
    }
    fuzz::LoadSource();

    Session s(in);
    for (int step = 0; step < kMostSteps && !in.Empty(); ++step) {
        switch (in.Below(12)) {
        case 0:
            UserAction(s);
            break;
        case 1:
            ScannerChange(s);
            break;
        case 2:
            MemoryPressure(s);
            break;
        case 3:
            s.app.FreeOne(in.Byte());
            break;
        default:
            Triplet(s);
            break;
        }
        fuzz::CheckProtocol(s.deviceMisbehaves);
    }
    fuzz::FinishRun(s.app);
    fuzz::CheckProtocol(s.deviceMisbehaves);
    return 0;
}
