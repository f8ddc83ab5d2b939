// The scanner as the input would have it: any devices in the fifteen usbscan
// slots, any descriptors, status and feeder bytes, image information of any
// geometry (as long as a page fits in memory), short reads, refused writes and
// unplugging at any step. A well-behaved application opens the source, gets a
// transfer ready through the settings dialog's Scan button or without the
// dialog, and asks for image information and pages by all three transfers,
// while the device keeps changing. After every request the host simulation's
// accounting must be clean and the channel closed; the source may send the
// scanner only well-formed commands.
#include "fuzz/fuzz_harness.h"
#include "resources/resource_ids.h"

namespace {

using fuzz::Application;
using fuzz::Input;

// Pages up to this size (an A3 page at 600 dpi is 8.7 MB), most of them far
// smaller so that runs stay quick; blocks beyond twice it fail as in a
// crowded process.
constexpr uint64_t kLargestPage = uint64_t{16} << 20;
constexpr uint64_t kUsualPage = uint64_t{256} << 10;
constexpr size_t kLargestBlock = size_t{40} << 20;
constexpr int kMostSteps = 24;

constexpr uint8_t kOpcodes[] = {0,
                                sim::kOpStartScan,
                                sim::kOpGetStatus,
                                sim::kOpAbortScan,
                                sim::kOpGetImageInfo,
                                sim::kOpSetScanParameters,
                                sim::kOpGetAdfStatus,
                                sim::kOpReadData};
constexpr uint32_t kStripLengths[] = {0, 3, 4, 64, 3648, 65000, 65535, 1u << 20, 0x7FFFFFFFu};

TW_IDENTITY Identity(TW_UINT32 id) {
    TW_IDENTITY identity{};
    identity.Id = id;
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    return identity;
}

uint32_t RowStrideOf(uint32_t pixels) {
    return ((pixels + 7) / 8 + 3) / 4 * 4;
}

// Any image information, with the scanner lines cut so that the page buffer
// (the scanner's lines or the aligned rows, whichever is larger) fits.
sim::ImageInfo Geometry(Input& in) {
    const uint64_t largest = in.Below(8) == 0 ? kLargestPage : kUsualPage;
    sim::ImageInfo info{in.U16(), in.U16(), in.U16(), in.U16()};
    const uint64_t lineBytes = std::max<uint64_t>((uint64_t{info.pixelsPerScannerLine} + 7) / 8,
                                                  RowStrideOf(info.pixelsPerLine));
    if (lineBytes > 0 && lineBytes * info.scannerLines > largest) {
        info.scannerLines = static_cast<uint16_t>(largest / lineBytes);
    }
    return info;
}

void Fault(Input& in, sim::Device& device) {
    sim::Fault fault{};
    fault.kind = static_cast<sim::FaultKind>(in.Below(4));
    fault.opcode = in.Pick(kOpcodes);
    fault.occurrence = static_cast<int>(in.Below(8)) + 1;
    fault.bytes = in.Below(16);
    device.faults.push_back(fault);
}

void Device(Input& in, sim::Device& device) {
    const uint8_t kind = in.Byte();
    device.productId = (kind & 0x01) != 0 ? in.U16() : sim::kScannerProductId;
    device.descriptorBytes = (kind & 0x02) != 0 ? in.Below(10) : 8;
    device.descriptorFails = (kind & 0x04) != 0 && in.Bit();
    device.answers = (kind & 0x08) == 0 || in.Bit();
    device.refuseOpenMask = (kind & 0x10) != 0 ? in.Byte() & 0x0F : 0;
    device.unplugAtStep = (kind & 0x20) != 0 ? static_cast<int>(in.Byte()) : 0;
    device.status = in.Below(8) == 0 ? in.Byte() : 0;
    for (uint32_t n = in.Below(4); n > 0; --n) {
        device.statusScript.push_back(in.Below(6));
    }
    device.duplexUnit = in.Bit();
    device.feederSheets = static_cast<int>(in.Below(4));
    device.feederJam = in.Below(8) == 0;
    if (in.Below(4) == 0) {
        device.feederScript.push_back({});
        for (uint8_t& byte : device.feederScript.back()) {
            byte = in.Byte();
        }
    }
    device.linePadding = static_cast<uint16_t>(in.Below(4) == 0 ? in.Byte() : 32);
    if ((kind & 0x40) != 0) {
        device.imageInfoOverride = Geometry(in);
    }
    for (uint32_t n = (kind & 0x80) != 0 ? in.Below(4) + 1 : 0; n > 0; --n) {
        Fault(in, device);
    }
}

// The settings the page is scanned with, in the settings file before the open.
void Settings(Input& in) {
    const std::string text =
        "[Velmora Oskaro Tq3480 PCL]\r\nPaper Size=" + std::to_string(in.Below(19)) +
        "\r\nScan Type=" + std::to_string(in.Below(2)) +
        "\r\nResolution=" + std::to_string(in.Below(3)) +
        "\r\nDuplex Scanning=" + std::to_string(in.Below(2)) +
        "\r\nBrightness=" + std::to_string(static_cast<int>(in.Below(9)) - 4) + "\r\n";
    host::WriteFileText(host::TempPath() + "UAXXXX.ini", text);
}

struct Run {
    explicit Run(Input& input) : in(input) {}
    Input& in;
    Application app;
    TW_IDENTITY application = Identity(1);
    TW_IDENTITY assigned = Identity(2);
    bool deviceMisbehaves = false;

    TW_UINT16 Ask(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, void* data) {
        app.StartRequest();
        const TW_UINT16 result = DS_Entry(&application, group, dat, message, data);
        app.CheckRequest("request");
        return result;
    }
};

void Enable(Run& run, bool showUI) {
    auto* ui = run.app.Record<TW_USERINTERFACE>();
    ui->ShowUI = showUI ? 1 : 0;
    ui->hParent = host::kApplicationWindow;
    run.Ask(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, ui);
}

void PressScan(Run& run) {
    WindowHandle dialog = host::FindDialog(IDD_SETTINGS);
    if (dialog != nullptr) {
        run.app.StartRequest();
        host::PressButton(dialog, IDC_SCAN_BUTTON);
        run.app.CheckRequest("Scan");
    }
}

void MemoryTransfer(Run& run) {
    Input& in = run.in;
    const TW_UINT32 length = in.Pick(kStripLengths);
    const bool sourceOwned = in.Bit();
    const bool byHandle = in.Bit();
    std::vector<uint8_t> buffer(sourceOwned || byHandle ? 0
                                                        : std::min<TW_UINT32>(length, 1u << 20));
    MemoryBlock block = nullptr;
    if (!sourceOwned && byHandle) {
        block = run.app.Block(GMEM_MOVEABLE, std::min<TW_UINT32>(length, 1u << 20), {});
    }
    for (int strip = 0; strip < 64; ++strip) {
        auto* request = run.app.Record<TW_IMAGEMEMXFER>();
        request->Memory.Flags =
            (sourceOwned ? TWMF_DSOWNS : TWMF_APPOWNS) | (byHandle ? TWMF_HANDLE : TWMF_POINTER);
        request->Memory.Length =
            sourceOwned || byHandle ? length : static_cast<TW_UINT32>(buffer.size());
        request->Memory.TheMem = sourceOwned ? nullptr : byHandle ? block : buffer.data();
        if (run.Ask(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, request) != TWRC_SUCCESS ||
            request->Rows == 0) {
            return;
        }
    }
}

void NativeTransfer(Run& run) {
    auto* handle = run.app.Record<TW_UINT32>();
    if (run.Ask(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, handle) == TWRC_XFERDONE) {
        run.app.Received(host::BlockFromHandleValue(*handle));
    }
}

void FileTransfer(Run& run) {
    auto* setup = run.app.Record<TW_SETUPFILEXFER>();
    std::snprintf(setup->FileName, sizeof setup->FileName, "C:\\cwd\\page.bmp");
    setup->Format = TWFF_BMP;
    run.Ask(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, setup);
    run.Ask(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
}

// Between requests the device changes: another geometry, status, feeder, a fault.
void Change(Run& run) {
    Input& in = run.in;
    sim::Device& device = sim::Slot(static_cast<int>(in.Below(sim::kSlotCount)));
    switch (in.Below(6)) {
    case 0:
        device.imageInfoOverride = Geometry(in);
        break;
    case 1:
        device.status = in.Below(5);
        break;
    case 2:
        device.feederSheets = static_cast<int>(in.Below(3));
        device.feederJam = in.Below(4) == 0;
        break;
    case 3:
        Fault(in, device);
        run.deviceMisbehaves = true;
        break;
    case 4:
        device.statusAfterReadData = static_cast<int>(in.Below(6));
        device.statusAfterValue = in.Below(5);
        break;
    default:
        sim::Unplug(static_cast<int>(in.Below(sim::kSlotCount)));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    fuzz::FreshSimulation();
    fuzz::LimitAllocations(kLargestBlock);
    Run run(in);

    // Up to four devices: the first in slot 0, the others in any slots.
    const uint32_t devices = in.Below(4) + 1;
    for (uint32_t n = 0; n < devices; ++n) {
        const int slot = n == 0 ? 0 : static_cast<int>(in.Below(sim::kSlotCount));
        sim::Device& device = sim::AddScanner(slot);
        Device(in, device);
        // A silent device, a refused pipe or a fault leaves answers unread.
        run.deviceMisbehaves = run.deviceMisbehaves || !device.faults.empty() || !device.answers ||
                               device.refuseOpenMask != 0;
    }
    Settings(in);
    fuzz::LoadSource();

    run.Ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &run.assigned);
    fuzz::CheckProtocol(run.deviceMisbehaves);
    if (SourceState == kStateOpen) {
        Enable(run, in.Bit());
        PressScan(run);
        fuzz::CheckProtocol(run.deviceMisbehaves);
    }
    for (int step = 0; step < kMostSteps && !in.Empty(); ++step) {
        switch (in.Below(10)) {
        case 0:
        case 1: {
            auto* info = run.app.Record<TW_IMAGEINFO>();
            run.Ask(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, info);
            break;
        }
        case 2:
            NativeTransfer(run);
            break;
        case 3:
            MemoryTransfer(run);
            break;
        case 4:
            FileTransfer(run);
            break;
        case 5: {
            auto* pending = run.app.Record<TW_PENDINGXFERS>();
            run.Ask(DG_CONTROL, DAT_PENDINGXFERS, in.Bit() ? MSG_ENDXFER : MSG_GET, pending);
            break;
        }
        case 6: {
            auto* capability = run.app.Record<TW_CAPABILITY>();
            capability->Cap = CAP_DEVICEONLINE;
            if (run.Ask(DG_CONTROL, DAT_CAPABILITY, MSG_GET, capability) == TWRC_SUCCESS) {
                run.app.Received(capability->hContainer);
            }
            break;
        }
        case 7:
            PressScan(run);
            break;
        default:
            Change(run);
            break;
        }
        fuzz::CheckProtocol(run.deviceMisbehaves);
    }
    fuzz::FinishRun(run.app);
    fuzz::CheckProtocol(run.deviceMisbehaves);
    return 0;
}
