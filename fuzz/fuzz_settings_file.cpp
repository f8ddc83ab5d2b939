// Any bytes as the settings file "UAXXXX.ini" in the temporary directory,
// through an open, one capability set, the settings dialog and a close. The
// first two bytes choose the capability and its value, the rest is the file.
// Whatever the file holds, the loaded settings lie in their ranges, every
// table they index is read inside its bounds, and the close writes back the
// five values the source worked with.
#include "fuzz/fuzz_harness.h"
#include "resources/resource_ids.h"
#include "ui/settings.h"

namespace {

using fuzz::Application;
using fuzz::Input;

constexpr TW_UINT16 kSettable[] = {ICAP_XRESOLUTION,    ICAP_YRESOLUTION, ICAP_BRIGHTNESS,
                                   ICAP_SUPPORTEDSIZES, ICAP_PIXELTYPE,   CAP_XFERCOUNT};
constexpr TW_UINT32 kValues[] = {150, 300, 600, 1, 2, 3, 11, 6, 4, 0, 0xFFFF, 200};

constexpr const char* kKeys[] = {"Paper Size", "Scan Type", "Resolution", "Duplex Scanning",
                                 "Brightness"};

void CheckRanges(const char* when) {
    const ScanSettingsRecord& s = ScanSettings;
    if (s.PaperIndex < 0 || s.PaperIndex > 18 || s.ScanType < 0 || s.ScanType > 1 ||
        s.ResolutionIndex < 0 || s.ResolutionIndex > 2 || s.Duplex < 0 || s.Duplex > 1 ||
        s.Brightness < -4 || s.Brightness > 4) {
        fuzz::Fail(std::string(when) + ": a setting outside its range: paper " +
                   std::to_string(s.PaperIndex) + ", type " + std::to_string(s.ScanType) +
                   ", resolution " + std::to_string(s.ResolutionIndex) + ", duplex " +
                   std::to_string(s.Duplex) + ", brightness " + std::to_string(s.Brightness));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t capabilityChoice = in.Byte();
    const uint8_t valueChoice = in.Byte();
    fuzz::FreshSimulation();
    sim::AddScanner(0).duplexUnit = (capabilityChoice & 0x80) != 0;
    const std::string file = host::TempPath() + "UAXXXX.ini";
    host::WriteFileText(file, in.Rest());
    fuzz::LoadSource();

    Application app;
    TW_IDENTITY application{};
    application.Id = 1;
    TW_IDENTITY assigned{};
    assigned.Id = 2;
    auto ask = [&](TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, void* record) {
        app.StartRequest();
        const TW_UINT16 result = DS_Entry(&application, group, dat, message, record);
        app.CheckRequest("request");
        return result;
    };

    if (ask(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &assigned) != TWRC_SUCCESS) {
        fuzz::Fail("the open failed with a ready scanner");
    }
    CheckRanges("after the open");

    // One capability set, then the answers that read the tables by the settings.
    TW_ONEVALUE one{TWTY_FIX32, kValues[valueChoice % std::size(kValues)]};
    if ((valueChoice & 0x80) != 0) {
        one.ItemType = TWTY_UINT16;
    }
    auto* capability = app.Record<TW_CAPABILITY>();
    capability->Cap = kSettable[capabilityChoice % std::size(kSettable)];
    capability->ConType = TWON_ONEVALUE;
    std::vector<uint8_t> bytes(sizeof one);
    std::memcpy(bytes.data(), &one, sizeof one);
    capability->hContainer = app.Block(GMEM_MOVEABLE, sizeof one, bytes);
    ask(DG_CONTROL, DAT_CAPABILITY, MSG_SET, capability);
    CheckRanges("after the capability set");
    for (TW_UINT16 cap : {ICAP_XRESOLUTION, ICAP_BRIGHTNESS, ICAP_SUPPORTEDSIZES}) {
        for (TW_UINT16 message : {MSG_GET, MSG_GETCURRENT}) {
            auto* query = app.Record<TW_CAPABILITY>();
            query->Cap = cap;
            if (ask(DG_CONTROL, DAT_CAPABILITY, message, query) == TWRC_SUCCESS) {
                app.Received(query->hContainer);
            }
        }
    }
    ask(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, app.Record<TW_IMAGELAYOUT>());

    // The dialog shows the settings; Scan builds the scanner's parameters from them.
    auto* ui = app.Record<TW_USERINTERFACE>();
    ui->ShowUI = 1;
    if (ask(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, ui) == TWRC_SUCCESS) {
        WindowHandle dialog = host::FindDialog(IDD_SETTINGS);
        app.StartRequest();
        host::PressButton(dialog, IDC_SCAN_BUTTON);
        app.CheckRequest("Scan");
        ask(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, app.Record<TW_IMAGEINFO>());
    }
    CheckRanges("after the dialog");
    fuzz::CheckProtocol(false);

    const ScanSettingsRecord kept = ScanSettings;
    fuzz::FinishRun(app);
    const int32_t values[] = {kept.PaperIndex, kept.ScanType, kept.ResolutionIndex, kept.Duplex,
                              kept.Brightness};
    for (size_t i = 0; i < std::size(kKeys); ++i) {
        const auto stored = host::IniValue(file, "Velmora Oskaro Tq3480 PCL", kKeys[i]);
        if (!stored || *stored != std::to_string(values[i])) {
            fuzz::Fail(std::string("the close wrote ") + kKeys[i] + " as " +
                       (stored ? *stored : "nothing") + ", not " + std::to_string(values[i]));
        }
    }
    fuzz::CheckProtocol(false);
    return 0;
}
