// twain_app: a TWAIN application of our own that drives the data source
// through the Source Manager as an ordinary scanning program does, and logs
// every step as one machine-readable line (see twain_app_log.h). Run it with
// --help for its options.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "twain/twain.h"
#include "twain_app_caps.h"
#include "twain_app_image.h"
#include "twain_app_log.h"
#include "twain_app_options.h"
#include "twain_app_watcher.h"

namespace twain_app {

constexpr TW_UINT16 kDontCare16 = 0xFFFF;
constexpr TW_UINT32 kDontCare32 = 0xFFFFFFFF;
constexpr UINT_PTR kWakeTimer = 1;

struct EventCounts {
    long processed = 0;
    long dsEvents = 0;
    long consumed = 0; // TWRC_DSEVENT with MSG_NULL: the source's dialog took the message
    long xferReady = 0;
    long closeRequests = 0;
    long other = 0;
};

struct App {
    Options options;
    HMODULE dsmModule = nullptr;
    DSMENTRYPROC dsmEntry = nullptr;
    HWND window = nullptr;
    TW_IDENTITY appIdentity{};
    TW_IDENTITY sourceIdentity{};
    bool dsmOpen = false;
    bool sourceOpen = false;
    bool sourceFound = false;
    TW_USERINTERFACE ui{};
    TW_IMAGEINFO lastInfo{};
    bool haveInfo = false;
    int pagesTotal = 0;
    int pagesDone = 0;
    int failures = 0;
    int iteration = 0;
    bool firstReadyOfEnable = true;
    int batchesThisEnable = 0;
    EventCounts events;
    TW_UINT16 lastCondition = TWCC_SUCCESS;
};

App g_app;

const char* PhaseName(TW_UINT16 dat, TW_UINT16 msg) {
    const NamedValue* table = kDatNames;
    size_t count = sizeof kDatNames / sizeof kDatNames[0];
    unsigned wanted = dat;
    if (dat == DAT_IDENTITY || dat == DAT_PARENT || dat == DAT_USERINTERFACE ||
        dat == DAT_PENDINGXFERS) {
        table = kMsgNames;
        count = sizeof kMsgNames / sizeof kMsgNames[0];
        wanted = msg;
    }
    for (size_t i = 0; i < count; ++i) {
        if (table[i].value == wanted) {
            return table[i].name;
        }
    }
    return "request";
}

bool ReturnCodeIsFine(TW_UINT16 rc) {
    return rc == TWRC_SUCCESS || rc == TWRC_XFERDONE || rc == TWRC_DSEVENT ||
           rc == TWRC_NOTDSEVENT || rc == TWRC_ENDOFLIST;
}

// Asks DAT_STATUS of the source (dest) or of the Source Manager (dest null).
bool QueryCondition(pTW_IDENTITY dest, TW_UINT16* condition, TW_UINT16* statusRc) {
    TW_STATUS status{};
    status.ConditionCode = kDontCare16;
    *statusRc = g_app.dsmEntry(&g_app.appIdentity, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    *condition = status.ConditionCode;
    return *statusRc == TWRC_SUCCESS;
}

// Sends one triplet and writes its TRIPLET line: return code, and the
// condition code from DAT_STATUS when the request did not succeed.
TW_UINT16 Call(pTW_IDENTITY dest, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    g_shared.phase = PhaseName(dat, msg);
    DWORD start = GetTickCount();
    TW_UINT16 rc = g_app.dsmEntry(&g_app.appIdentity, dest, group, dat, msg, data);
    DWORD elapsed = GetTickCount() - start;
    Line line("TRIPLET");
    line.Word(TripletName(group, dat, msg));
    line.Raw("dest", dest == nullptr ? "dsm" : "source");
    line.Raw("rc", ReturnCodeName(rc));
    g_app.lastCondition = TWCC_SUCCESS;
    if (!ReturnCodeIsFine(rc) || (g_app.options.statusAlways && dat != DAT_STATUS)) {
        TW_UINT16 condition = 0;
        TW_UINT16 statusRc = 0;
        if (QueryCondition(dest, &condition, &statusRc)) {
            line.Raw("cc", ConditionName(condition));
            g_app.lastCondition = condition;
        } else {
            line.Raw("cc", "unknown").Raw("status_rc", ReturnCodeName(statusRc));
        }
    }
    line.Int("ms", elapsed);
    line.Emit();
    return rc;
}

TW_UINT16 CallSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return Call(&g_app.sourceIdentity, group, dat, msg, data);
}

void Fail() {
    ++g_app.failures;
}

void LogMemory(const char* phase) {
    using MemoryInfoProc = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
    static MemoryInfoProc query = nullptr;
    static bool resolved = false;
    if (!resolved) {
        resolved = true;
        FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo");
        if (found == nullptr) {
            HMODULE psapi = LoadLibraryA("psapi.dll");
            found = psapi != nullptr ? GetProcAddress(psapi, "GetProcessMemoryInfo") : nullptr;
        }
        static_assert(sizeof found == sizeof query);
        memcpy(&query, &found, sizeof query);
    }
    Line line("MEMORY");
    line.Raw("phase", phase).Int("pages", g_app.pagesTotal);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (query != nullptr && query(GetCurrentProcess(), &counters, sizeof counters)) {
        line.Int("working_set", static_cast<long long>(counters.WorkingSetSize));
        line.Int("peak_working_set", static_cast<long long>(counters.PeakWorkingSetSize));
        line.Int("private", static_cast<long long>(counters.PagefileUsage));
        line.Int("peak_private", static_cast<long long>(counters.PeakPagefileUsage));
    } else {
        line.Raw("error", "no-memory-info");
    }
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) {
        line.Int("handles", handles);
    }
    line.Int("gdi", GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    line.Int("user", GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
    line.Emit();
}

void LogIdentity(const char* tag, const TW_IDENTITY& identity, int index, bool match) {
    Line line(tag);
    if (index >= 0) {
        line.Int("index", index);
    }
    line.Int("id", identity.Id);
    line.Str("product", std::string(identity.ProductName, strnlen(identity.ProductName, 34)));
    line.Str("family", std::string(identity.ProductFamily, strnlen(identity.ProductFamily, 34)));
    line.Str("manufacturer",
             std::string(identity.Manufacturer, strnlen(identity.Manufacturer, 34)));
    line.Raw("version", std::to_string(identity.Version.MajorNum) + "." +
                            std::to_string(identity.Version.MinorNum));
    line.Int("language", identity.Version.Language).Int("country", identity.Version.Country);
    line.Str("info", std::string(identity.Version.Info, strnlen(identity.Version.Info, 34)));
    line.Raw("protocol",
             std::to_string(identity.ProtocolMajor) + "." + std::to_string(identity.ProtocolMinor));
    line.Hx("groups", identity.SupportedGroups);
    if (index >= 0) {
        line.Int("match", match ? 1 : 0);
    }
    line.Emit();
}

// ---- Capabilities and layout ----------------------------------------------

void SendCapability(const SourceRequest& request) {
    TW_CAPABILITY capability{};
    capability.Cap = request.cap;
    capability.ConType = kDontCare16;
    capability.hContainer = nullptr;
    HGLOBAL ours = nullptr;
    if (request.message == MSG_SET) {
        std::string error;
        ours = BuildContainer(request, &capability.ConType, &error);
        if (ours == nullptr) {
            Line("CAP")
                .Raw("msg", "MSG_SET")
                .Raw("cap", request.capName)
                .Str("error", error)
                .Emit();
            Fail();
            return;
        }
        capability.hContainer = ours;
    }
    TW_UINT16 rc = CallSource(DG_CONTROL, DAT_CAPABILITY, request.message, &capability);
    Line line("CAP");
    line.Raw("msg", NameOf(kMsgNames, request.message, "MSG_"));
    line.Raw("cap", request.capName).Raw("rc", ReturnCodeName(rc));
    if (!ReturnCodeIsFine(rc)) {
        line.Raw("cc", ConditionName(g_app.lastCondition));
    }
    if (request.message == MSG_SET) {
        line.Str("value", request.value);
        line.Raw("type", NameOf(kItemTypeNames, request.itemType, "TWTY_"));
        if (capability.hContainer != ours) {
            line.Raw("warning", "container-replaced");
        }
        GlobalFree(ours);
    } else if (capability.hContainer != nullptr) {
        DescribeContainer(line, capability.ConType, capability.hContainer);
        if (rc != TWRC_SUCCESS) {
            line.Raw("warning", "container-on-failure");
        }
        if (GlobalSize(capability.hContainer) != 0) {
            GlobalFree(capability.hContainer);
        }
    }
    line.Emit();
    if (rc != TWRC_SUCCESS) {
        Fail();
    }
}

void SendLayout(const SourceRequest& request) {
    TW_IMAGELAYOUT layout{};
    if (request.message == MSG_SET) {
        layout.Frame.Left = Fix32From(request.frame[0]);
        layout.Frame.Top = Fix32From(request.frame[1]);
        layout.Frame.Right = Fix32From(request.frame[2]);
        layout.Frame.Bottom = Fix32From(request.frame[3]);
        layout.DocumentNumber = kDontCare32;
        layout.PageNumber = kDontCare32;
        layout.FrameNumber = kDontCare32;
    }
    TW_UINT16 rc = CallSource(DG_IMAGE, DAT_IMAGELAYOUT, request.message, &layout);
    Line line("IMAGELAYOUT");
    line.Raw("msg", NameOf(kMsgNames, request.message, "MSG_")).Raw("rc", ReturnCodeName(rc));
    if (!ReturnCodeIsFine(rc)) {
        line.Raw("cc", ConditionName(g_app.lastCondition));
    }
    line.Raw("frame", Fix32Text(layout.Frame.Left) + "," + Fix32Text(layout.Frame.Top) + "," +
                          Fix32Text(layout.Frame.Right) + "," + Fix32Text(layout.Frame.Bottom));
    line.Int("document", layout.DocumentNumber)
        .Int("page", layout.PageNumber)
        .Int("frame_number", layout.FrameNumber);
    line.Emit();
    if (rc != TWRC_SUCCESS) {
        Fail();
    }
}

void RunRequests(int phase) {
    for (const SourceRequest& request : g_app.options.requests) {
        if (request.phase != phase) {
            continue;
        }
        if (request.kind == SourceRequest::kLayout) {
            SendLayout(request);
        } else {
            SendCapability(request);
        }
    }
}

// ---- Transfers --------------------------------------------------------------

struct PageOutcome {
    TW_UINT16 rc = TWRC_FAILURE;
    uint64_t bytes = 0; // image bytes the source delivered
    PageSummary summary;
    std::vector<uint8_t> bmp;
    std::string file;
    std::string error;
};

void GetImageInfo() {
    TW_IMAGEINFO info{};
    g_app.haveInfo = false;
    TW_UINT16 rc = CallSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    Line line("IMAGEINFO");
    line.Raw("rc", ReturnCodeName(rc));
    if (rc == TWRC_SUCCESS) {
        g_app.lastInfo = info;
        g_app.haveInfo = true;
        line.Raw("xres", Fix32Text(info.XResolution)).Raw("yres", Fix32Text(info.YResolution));
        line.Int("width", info.ImageWidth).Int("length", info.ImageLength);
        line.Int("spp", info.SamplesPerPixel);
        std::string bits;
        for (int i = 0; i < 8; ++i) {
            bits += i ? "," : "";
            bits += std::to_string(info.BitsPerSample[i]);
        }
        line.Raw("bps", bits).Int("bpp", info.BitsPerPixel).Int("planar", info.Planar);
        line.Int("pixeltype", info.PixelType).Int("compression", info.Compression);
    } else {
        line.Raw("cc", ConditionName(g_app.lastCondition));
        Fail();
    }
    line.Emit();
}

// Palette entries as RRGGBB; a non-zero reserved byte is added after a slash.
std::string PaletteText(const uint8_t* palette, uint32_t entries) {
    if (entries > 4) {
        return std::to_string(entries) + "-entries";
    }
    std::string text;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* entry = palette + 4 * i;
        char item[16];
        snprintf(item, sizeof item, "%02X%02X%02X", entry[2], entry[1], entry[0]);
        text += i ? "," : "";
        text += item;
        if (entry[3] != 0) {
            snprintf(item, sizeof item, "/%02X", entry[3]);
            text += item;
        }
    }
    return text.empty() ? "-" : text;
}

void TransferNative(PageOutcome* outcome) {
    // A TW_UINT32 in the 32-bit standard; pointer-sized storage is the same
    // there and also holds a 64-bit source's handle.
    TW_MEMREF handleValue = nullptr;
    outcome->rc = CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handleValue);
    Line line("NATIVE");
    line.Raw("rc", ReturnCodeName(outcome->rc)).Raw("handle", HexPtr(handleValue));
    if (outcome->rc != TWRC_XFERDONE) {
        if (!ReturnCodeIsFine(outcome->rc)) {
            line.Raw("cc", ConditionName(g_app.lastCondition));
        }
        line.Emit();
        return;
    }
    HGLOBAL handle = static_cast<HGLOBAL>(handleValue);
    if (handle == nullptr) {
        outcome->error = "null-handle";
        line.Raw("error", outcome->error).Emit();
        return;
    }
    SIZE_T blockSize = GlobalSize(handle);
    const uint8_t* dib = static_cast<const uint8_t*>(GlobalLock(handle));
    line.Int("block_size", static_cast<long long>(blockSize));
    if (dib == nullptr || blockSize < 40) {
        outcome->error = dib == nullptr ? "unlockable" : "short-block";
    } else {
        uint32_t headerSize = Get32(dib);
        int32_t width = static_cast<int32_t>(Get32(dib + 4));
        int32_t height = static_cast<int32_t>(Get32(dib + 8));
        uint16_t bpp = Get16(dib + 14);
        uint32_t compression = Get32(dib + 16);
        uint32_t sizeImage = Get32(dib + 20);
        uint32_t clrUsed = Get32(dib + 32);
        uint32_t paletteEntries = clrUsed != 0 ? clrUsed : (bpp <= 8 ? 1u << bpp : 0u);
        uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
        uint64_t stride = ((static_cast<uint64_t>(width < 0 ? -width : width) * bpp + 31) / 32) * 4;
        uint64_t imageBytes = sizeImage != 0 ? sizeImage : stride * rows;
        uint64_t dibBytes = static_cast<uint64_t>(headerSize) + paletteEntries * 4ull + imageBytes;
        line.Int("header_size", headerSize).Int("width", width).Int("height", height);
        line.Int("planes", Get16(dib + 12)).Int("bpp", bpp).Int("compression", compression);
        line.Int("size_image", sizeImage).Int("stride", static_cast<long long>(stride));
        line.Int("xppm", Get32(dib + 24)).Int("yppm", Get32(dib + 28));
        line.Int("clr_used", clrUsed).Int("clr_important", Get32(dib + 36));
        if (sizeImage != 0 && sizeImage != stride * rows) {
            line.Raw("warning", "size-image-mismatch");
        }
        if (headerSize < 40 || dibBytes > blockSize) {
            outcome->error = "block-shorter-than-header-says";
        } else {
            line.Raw("palette", PaletteText(dib + headerSize, paletteEntries));
            uint64_t tail = blockSize - dibBytes;
            uint64_t tailZero = 0;
            for (uint64_t i = dibBytes; i < blockSize; ++i) {
                tailZero += dib[i] == 0;
            }
            line.Int("tail_bytes", static_cast<long long>(tail));
            line.Int("tail_zero", static_cast<long long>(tailZero));
            outcome->bytes = imageBytes;
            outcome->bmp.assign(14, 0);
            outcome->bmp[0] = 'B';
            outcome->bmp[1] = 'M';
            Put32(outcome->bmp, 2, static_cast<uint32_t>(14 + dibBytes));
            Put32(outcome->bmp, 10, 14 + headerSize + paletteEntries * 4);
            outcome->bmp.insert(outcome->bmp.end(), dib, dib + dibBytes);
        }
    }
    if (dib != nullptr) {
        GlobalUnlock(handle);
    }
    // The block is the application's now.
    if (GlobalFree(handle) != nullptr) {
        line.Raw("warning", "free-failed");
    }
    if (!outcome->error.empty()) {
        line.Raw("error", outcome->error);
    }
    line.Emit();
}

long StripLength(const TW_SETUPMEMXFER& setup, size_t strip) {
    const Options& options = g_app.options;
    if (options.memorySizeMode == "explicit") {
        const std::vector<long>& sizes = options.memorySizes;
        return sizes[strip < sizes.size() ? strip : sizes.size() - 1];
    }
    if (options.memorySizeMode == "min")
        return static_cast<long>(setup.MinBufSize);
    if (options.memorySizeMode == "max")
        return static_cast<long>(setup.MaxBufSize);
    if (setup.Preferred != 0 && setup.Preferred != kDontCare32) {
        return static_cast<long>(setup.Preferred);
    }
    return setup.MaxBufSize != 0 && setup.MaxBufSize != kDontCare32
               ? static_cast<long>(setup.MaxBufSize)
               : 65536;
}

void TransferMemory(PageOutcome* outcome) {
    const Options& options = g_app.options;
    TW_SETUPMEMXFER setup{};
    TW_UINT16 rc = CallSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    Line("SETUPMEMXFER")
        .Raw("rc", ReturnCodeName(rc))
        .Int("min", setup.MinBufSize)
        .Int("max", setup.MaxBufSize)
        .Int("preferred", setup.Preferred)
        .Emit();
    if (rc != TWRC_SUCCESS) {
        Fail();
    }
    TW_UINT32 flags = options.memoryFlags;
    bool appOwns = (flags & (TWMF_APPOWNS | TWMF_DSMOWNS)) != 0 ||
                   (flags & (TWMF_APPOWNS | TWMF_DSMOWNS | TWMF_DSOWNS)) == 0;
    bool byPointer = (flags & TWMF_POINTER) != 0;
    bool byHandle = !byPointer && (flags & TWMF_HANDLE) != 0;
    long largest = 0;
    size_t planned = options.memorySizeMode == "explicit" ? options.memorySizes.size() : 1;
    for (size_t i = 0; i < planned; ++i) {
        long length = StripLength(setup, i);
        largest = length > largest ? length : largest;
    }
    std::vector<uint8_t> appBuffer;
    HGLOBAL appHandle = nullptr;
    if (appOwns && byPointer) {
        appBuffer.assign(static_cast<size_t>(largest > 0 ? largest : 1), 0);
    } else if (appOwns && byHandle) {
        appHandle = GlobalAlloc(GHND, static_cast<SIZE_T>(largest > 0 ? largest : 1));
    }

    std::vector<uint8_t> image;
    uint64_t rowsTotal = 0;
    uint32_t bytesPerRow = 0;
    uint32_t columns = 0;
    size_t strips = 0;
    int withoutRows = 0;
    void* firstSourceMemory = nullptr;
    constexpr uint64_t kLargestImage = 1ull << 30;
    outcome->rc = TWRC_FAILURE;
    while (strips < 1000000) {
        long length = StripLength(setup, strips);
        TW_IMAGEMEMXFER strip;
        strip.Compression = kDontCare16;
        strip.BytesPerRow = kDontCare32;
        strip.Columns = kDontCare32;
        strip.Rows = kDontCare32;
        strip.XOffset = kDontCare32;
        strip.YOffset = kDontCare32;
        strip.BytesWritten = kDontCare32;
        strip.Memory.Flags = flags;
        strip.Memory.Length = static_cast<TW_UINT32>(length);
        strip.Memory.TheMem = appOwns ? (byPointer ? static_cast<void*>(appBuffer.data())
                                                   : static_cast<void*>(appHandle))
                                      : nullptr;
        rc = CallSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
        ++strips;
        Line line("STRIP");
        line.Int("n", static_cast<long long>(strips)).Raw("rc", ReturnCodeName(rc));
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
            if (!ReturnCodeIsFine(rc)) {
                line.Raw("cc", ConditionName(g_app.lastCondition));
            }
            line.Int("length", length).Emit();
            outcome->rc = rc;
            break;
        }
        line.Int("rows", strip.Rows).Int("yoffset", strip.YOffset).Int("xoffset", strip.XOffset);
        line.Int("bytes_written", strip.BytesWritten).Int("bytes_per_row", strip.BytesPerRow);
        line.Int("columns", strip.Columns).Int("compression", strip.Compression);
        line.Int("length", length).Raw("mem", HexPtr(strip.Memory.TheMem));
        std::string anomalies;
        auto note = [&](const char* what) {
            anomalies += anomalies.empty() ? "" : ",";
            anomalies += what;
        };
        if (strip.YOffset != rowsTotal)
            note("yoffset");
        if (static_cast<uint64_t>(strip.BytesWritten) !=
            static_cast<uint64_t>(strip.Rows) * strip.BytesPerRow) {
            note("bytes-written");
        }
        if (strip.BytesWritten > strip.Memory.Length)
            note("beyond-length");
        if (strips > 1 && (strip.BytesPerRow != bytesPerRow || strip.Columns != columns)) {
            note("geometry-changed");
        }
        if (!appOwns && byPointer) {
            if (strips == 1) {
                firstSourceMemory = strip.Memory.TheMem;
            } else if (strip.Memory.TheMem != firstSourceMemory) {
                note("source-pointer-moved");
            }
        }
        bytesPerRow = strip.BytesPerRow;
        columns = strip.Columns;
        uint32_t copy =
            strip.BytesWritten < strip.Memory.Length ? strip.BytesWritten : strip.Memory.Length;
        const uint8_t* data = nullptr;
        HGLOBAL locked = nullptr;
        if (appOwns && byPointer) {
            data = appBuffer.data();
        } else if (byPointer) {
            data = static_cast<const uint8_t*>(strip.Memory.TheMem);
        } else if (byHandle || (flags & TWMF_HANDLE) != 0) {
            locked = appOwns ? appHandle : static_cast<HGLOBAL>(strip.Memory.TheMem);
            data = locked != nullptr ? static_cast<const uint8_t*>(GlobalLock(locked)) : nullptr;
            if (locked != nullptr && GlobalSize(locked) < copy) {
                note("handle-smaller-than-strip");
                copy = static_cast<uint32_t>(GlobalSize(locked));
            }
        }
        uint64_t at = static_cast<uint64_t>(strip.YOffset) * strip.BytesPerRow;
        if (copy > 0 && data == nullptr) {
            note("no-memory");
        } else if (copy > 0 && at + copy <= kLargestImage) {
            uint64_t whole =
                g_app.haveInfo && g_app.lastInfo.ImageLength > 0
                    ? static_cast<uint64_t>(g_app.lastInfo.ImageLength) * strip.BytesPerRow
                    : 0;
            if (image.capacity() == 0 && whole > at + copy && whole <= kLargestImage) {
                // One block for the page, as an application that trusts
                // DAT_IMAGEINFO holds it, instead of one per growth.
                image.reserve(static_cast<size_t>(whole));
            }
            if (image.size() < at + copy) {
                image.resize(static_cast<size_t>(at + copy), 0);
            }
            memcpy(image.data() + at, data, copy);
            outcome->bytes += copy;
        } else if (copy > 0) {
            note("image-too-large");
        }
        if (locked != nullptr && data != nullptr) {
            GlobalUnlock(locked);
        }
        if (strip.Rows != kDontCare32 && strip.YOffset != kDontCare32) {
            uint64_t end = static_cast<uint64_t>(strip.YOffset) + strip.Rows;
            rowsTotal = end > rowsTotal ? end : rowsTotal;
        }
        line.Raw("check", anomalies.empty() ? "ok" : anomalies);
        line.Emit();
        outcome->rc = rc;
        if (rc == TWRC_XFERDONE) {
            break;
        }
        withoutRows = strip.Rows == 0 ? withoutRows + 1 : 0;
        if (withoutRows >= options.stallStrips) {
            outcome->error = "stalled";
            outcome->rc = TWRC_FAILURE;
            break;
        }
    }
    if (appHandle != nullptr) {
        GlobalFree(appHandle);
    }
    Line line("MEMXFER");
    line.Raw("rc", ReturnCodeName(outcome->rc)).Str("mode", options.memoryMode).Hx("flags", flags);
    line.Int("strips", static_cast<long long>(strips))
        .Int("rows", static_cast<long long>(rowsTotal));
    line.Int("bytes", static_cast<long long>(outcome->bytes)).Int("columns", columns);
    line.Int("bytes_per_row", bytesPerRow);
    if (!outcome->error.empty()) {
        line.Raw("error", outcome->error);
    }
    line.Emit();
    if (outcome->rc == TWRC_XFERDONE && bytesPerRow != 0 && bytesPerRow != kDontCare32) {
        int bpp =
            g_app.haveInfo && g_app.lastInfo.BitsPerPixel > 0 ? g_app.lastInfo.BitsPerPixel : 1;
        int xDpi = g_app.haveInfo ? g_app.lastInfo.XResolution.Whole : 0;
        int yDpi = g_app.haveInfo ? g_app.lastInfo.YResolution.Whole : 0;
        uint64_t needed = rowsTotal * bytesPerRow;
        if (image.size() < needed) {
            image.resize(static_cast<size_t>(needed), 0);
        }
        outcome->bmp = BuildBmpFromRows(image.data(), bytesPerRow, static_cast<int32_t>(columns),
                                        static_cast<int32_t>(rowsTotal), bpp, xDpi, yDpi);
    }
}

void TransferFile(PageOutcome* outcome, int page) {
    const Options& options = g_app.options;
    std::string name;
    if (options.fileSetup) {
        TW_SETUPFILEXFER setup{};
        TW_UINT16 message = MSG_GET;
        if (!options.fileNamePattern.empty()) {
            message = MSG_SET;
            std::string wanted = ExpandPattern(options.fileNamePattern, page);
            strncpy(setup.FileName, wanted.c_str(), sizeof setup.FileName - 1);
            setup.Format = options.fileFormat;
        }
        TW_UINT16 rc = CallSource(DG_CONTROL, DAT_SETUPFILEXFER, message, &setup);
        std::string given(setup.FileName, strnlen(setup.FileName, sizeof setup.FileName));
        Line("SETUPFILEXFER")
            .Raw("msg", NameOf(kMsgNames, message, "MSG_"))
            .Raw("rc", ReturnCodeName(rc))
            .Str("name", given)
            .Int("format", setup.Format)
            .Emit();
        if (rc != TWRC_SUCCESS) {
            Fail();
        }
        name = given;
    }
    if (!name.empty()) {
        DeleteFileA(name.c_str()); // so that an old file cannot pass for a new one
    }
    outcome->rc = CallSource(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
    Line line("FILEXFER");
    line.Raw("rc", ReturnCodeName(outcome->rc)).Str("name", name);
    if (!ReturnCodeIsFine(outcome->rc)) {
        line.Raw("cc", ConditionName(g_app.lastCondition));
    }
    std::vector<uint8_t> bytes;
    bool exists = !name.empty() && ReadWholeFile(name, &bytes);
    line.Int("exists", exists ? 1 : 0);
    if (exists) {
        line.Int("size", static_cast<long long>(bytes.size()));
        if (bytes.size() >= 54) {
            line.Int("bf_size", Get32(&bytes[2])).Int("off_bits", Get32(&bytes[10]));
            line.Int("width", static_cast<int32_t>(Get32(&bytes[18])));
            line.Int("height", static_cast<int32_t>(Get32(&bytes[22])));
            line.Int("bpp", Get16(&bytes[28])).Int("size_image", Get32(&bytes[34]));
            line.Int("xppm", Get32(&bytes[38])).Int("yppm", Get32(&bytes[42]));
            line.Int("clr_used", Get32(&bytes[46]));
        }
    }
    line.Emit();
    if (outcome->rc == TWRC_XFERDONE) {
        if (!exists) {
            outcome->error = "file-missing";
        } else {
            outcome->file = name;
            outcome->bmp.swap(bytes);
            outcome->bytes = outcome->bmp.size();
        }
    }
}

void LogPage(int page, int inBatch, const PageOutcome& outcome, DWORD elapsed, TW_UINT16 endRc,
             long pending) {
    Line line("PAGE");
    line.Int("n", page).Int("iteration", g_app.iteration).Int("batch_page", inBatch);
    const char* mechanism = g_app.options.mechanism == TWSX_NATIVE   ? "native"
                            : g_app.options.mechanism == TWSX_MEMORY ? "memory"
                                                                     : "file";
    line.Raw("mech", mechanism);
    if (g_app.options.mechanism == TWSX_MEMORY) {
        line.Raw("mem", g_app.options.memoryMode);
    }
    line.Raw("rc", ReturnCodeName(outcome.rc));
    const PageSummary& s = outcome.summary;
    if (s.valid) {
        line.Int("width", s.width).Int("height", s.height).Int("bpp", s.bitsPerPixel);
        line.Int("stride", s.stride).Int("bmp_bytes", s.bmpBytes);
        line.Raw("bmp_crc32", Hex(s.bmpCrc)).Raw("pixels_crc32", Hex(s.pixelCrc));
        line.Int("set_bits", static_cast<long long>(s.setBits));
    }
    line.Int("bytes", static_cast<long long>(outcome.bytes));
    line.Str("file", outcome.file);
    line.Raw("endxfer", endRc == kDontCare16 ? "skipped" : ReturnCodeName(endRc));
    line.Int("pending", pending).Int("ms", elapsed);
    std::string error = outcome.error.empty() && !s.error.empty() ? s.error : outcome.error;
    if (!error.empty()) {
        line.Raw("error", error);
    }
    line.Emit();
}

// One batch: the pages from one MSG_XFERREADY, while the source reports more.
void TransferBatch() {
    const Options& options = g_app.options;
    InterlockedExchange(&g_shared.busy, 1);
    ++g_app.batchesThisEnable;
    if (g_app.firstReadyOfEnable) {
        g_app.firstReadyOfEnable = false;
        RunRequests(6);
    }
    if (options.pendingGet) {
        TW_PENDINGXFERS pending{};
        TW_UINT16 rc = CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
        Line("PENDING")
            .Raw("msg", "MSG_GET")
            .Raw("rc", ReturnCodeName(rc))
            .Int("count", pending.Count)
            .Emit();
    }
    int inBatch = 0;
    while (true) {
        int page = ++g_app.pagesTotal;
        ++inBatch;
        DWORD start = GetTickCount();
        if (!options.skipImageInfo) {
            GetImageInfo();
        }
        PageOutcome outcome;
        if (options.mechanism == TWSX_NATIVE) {
            TransferNative(&outcome);
        } else if (options.mechanism == TWSX_MEMORY) {
            TransferMemory(&outcome);
        } else {
            TransferFile(&outcome, page);
        }
        if (!outcome.bmp.empty()) {
            outcome.summary = SummariseBmp(outcome.bmp);
            if (options.save && options.mechanism != TWSX_FILE) {
                std::string path = ExpandPattern(options.outPattern, page);
                if (WriteWholeFile(path, outcome.bmp)) {
                    outcome.file = path;
                } else {
                    outcome.error = "cannot-write-" + path;
                }
            }
        }
        bool good = outcome.rc == TWRC_XFERDONE && outcome.error.empty() && outcome.summary.valid;
        if (good) {
            ++g_app.pagesDone;
        } else {
            Fail();
        }
        TW_UINT16 endRc = kDontCare16;
        TW_PENDINGXFERS pending{};
        if (!options.skipEndXfer) {
            pending.Count = 0;
            endRc = CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            Line("PENDING")
                .Raw("msg", "MSG_ENDXFER")
                .Raw("rc", ReturnCodeName(endRc))
                .Int("count", pending.Count)
                .Emit();
            if (endRc != TWRC_SUCCESS) {
                Fail();
            }
        }
        LogPage(page, inBatch, outcome, GetTickCount() - start, endRc,
                endRc == TWRC_SUCCESS ? pending.Count : 0);
        if (options.memoryEvery > 0 && page % options.memoryEvery == 0) {
            LogMemory("page");
        }
        if (endRc != TWRC_SUCCESS || pending.Count == 0) {
            break;
        }
        if (options.pagesPerBatch != 0 && inBatch >= options.pagesPerBatch) {
            TW_PENDINGXFERS reset{};
            TW_UINT16 rc = CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &reset);
            Line("PENDING")
                .Raw("msg", "MSG_RESET")
                .Raw("rc", ReturnCodeName(rc))
                .Int("count", reset.Count)
                .Emit();
            break;
        }
    }
    InterlockedExchange(&g_shared.busy, 0);
}

// ---- The enabled source and its message loop -------------------------------

enum class LoopEnd { kBatchDone, kCloseRequest, kTimeout, kQuit };

LoopEnd RunMessageLoop() {
    const Options& options = g_app.options;
    g_shared.phase = "message-loop";
    SetTimer(g_app.window, kWakeTimer, 100, nullptr);
    DWORD lastActivity = GetTickCount();
    LoopEnd end = LoopEnd::kQuit;
    bool finished = false;
    MSG msg;
    while (!finished) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            end = LoopEnd::kQuit;
            break;
        }
        if (msg.message == kMarkerMessage) {
            lastActivity = GetTickCount();
        }
        // Every message goes to the source first, as TWAIN asks while enabled.
        TW_EVENT event{};
        event.pEvent = &msg;
        event.TWMessage = MSG_NULL;
        TW_UINT16 rc = g_app.dsmEntry(&g_app.appIdentity, &g_app.sourceIdentity, DG_CONTROL,
                                      DAT_EVENT, MSG_PROCESSEVENT, &event);
        ++g_app.events.processed;
        if (options.traceEvents) {
            Line("EVENT_TRACE")
                .Hx("message", msg.message)
                .Raw("hwnd", HexPtr(msg.hwnd))
                .Hx("wparam", msg.wParam)
                .Raw("rc", ReturnCodeName(rc))
                .Raw("twmessage", NameOf(kMsgNames, event.TWMessage, "MSG_"))
                .Emit();
        }
        if (rc != TWRC_DSEVENT) {
            if (rc != TWRC_NOTDSEVENT) {
                ++g_app.events.other;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            ++g_app.events.dsEvents;
            if (event.TWMessage != MSG_NULL) {
                Line("EVENT").Raw("twmessage", NameOf(kMsgNames, event.TWMessage, "MSG_")).Emit();
            }
            switch (event.TWMessage) {
            case MSG_NULL:
                ++g_app.events.consumed;
                break;
            case MSG_XFERREADY:
                ++g_app.events.xferReady;
                TransferBatch();
                g_shared.phase = "message-loop";
                lastActivity = GetTickCount();
                if (!options.showUi || !options.stay) {
                    end = LoopEnd::kBatchDone;
                    finished = true;
                }
                break;
            case MSG_CLOSEDSREQ:
            case MSG_CLOSEDSOK:
                ++g_app.events.closeRequests;
                end = LoopEnd::kCloseRequest;
                finished = true;
                break;
            default:
                break;
            }
        }
        if (!finished && GetTickCount() - lastActivity > static_cast<DWORD>(options.waitMs)) {
            end = LoopEnd::kTimeout;
            finished = true;
        }
    }
    KillTimer(g_app.window, kWakeTimer);
    return end;
}

void RunEnabledSession() {
    const Options& options = g_app.options;
    g_app.events = EventCounts{};
    g_app.firstReadyOfEnable = true;
    g_app.batchesThisEnable = 0;
    g_app.ui = TW_USERINTERFACE{};
    g_app.ui.ShowUI = options.showUi ? 1 : 0;
    g_app.ui.ModalUI = options.modalUi ? 1 : 0;
    g_app.ui.hParent = g_app.window;
    TW_UINT16 rc = CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &g_app.ui);
    if (rc != TWRC_SUCCESS) {
        Fail();
        return;
    }
    RunRequests(5);
    LoopEnd end = RunMessageLoop();
    const char* reason = end == LoopEnd::kBatchDone      ? "batch-done"
                         : end == LoopEnd::kCloseRequest ? "close-request"
                         : end == LoopEnd::kTimeout      ? "timeout"
                                                         : "quit";
    Line("EVENTS")
        .Raw("end", reason)
        .Int("processed", g_app.events.processed)
        .Int("dsevent", g_app.events.dsEvents)
        .Int("consumed", g_app.events.consumed)
        .Int("xferready", g_app.events.xferReady)
        .Int("closedsreq", g_app.events.closeRequests)
        .Int("unexpected_rc", g_app.events.other)
        .Emit();
    if (end == LoopEnd::kTimeout) {
        Line("WAIT_TIMEOUT")
            .Int("ms", options.waitMs)
            .Int("batches", g_app.batchesThisEnable)
            .Emit();
        if (!(options.showUi && options.stay && g_app.batchesThisEnable > 0)) {
            Fail();
        }
    }
    if (!options.skipDisable) {
        rc = CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &g_app.ui);
        if (rc != TWRC_SUCCESS) {
            Fail();
        }
    }
}

// ---- Source Manager and source ---------------------------------------------

bool LoadSourceManager() {
    g_app.dsmModule = LoadLibraryA(g_app.options.dsmPath.c_str());
    if (g_app.dsmModule == nullptr) {
        Line("DSM")
            .Str("path", g_app.options.dsmPath)
            .Raw("load", "failed")
            .Int("error", GetLastError())
            .Emit();
        return false;
    }
    FARPROC entry = GetProcAddress(g_app.dsmModule, "DSM_Entry");
    if (entry == nullptr) {
        Line("DSM").Str("path", g_app.options.dsmPath).Raw("load", "no-DSM_Entry").Emit();
        return false;
    }
    static_assert(sizeof entry == sizeof g_app.dsmEntry);
    memcpy(&g_app.dsmEntry, &entry, sizeof entry);
    Line("DSM").Str("path", g_app.options.dsmPath).Raw("load", "ok").Emit();
    return true;
}

void SetMechanism() {
    SourceRequest mechanism;
    mechanism.message = MSG_SET;
    mechanism.cap = ICAP_XFERMECH;
    mechanism.capName = "ICAP_XFERMECH";
    mechanism.itemType = TWTY_UINT16;
    mechanism.hasValue = true;
    mechanism.value = std::to_string(g_app.options.mechanism);
    SendCapability(mechanism);
}

// The iteration's entry of --xfer-cycle becomes the mechanism in use.
void TakeCycleEntry(int iteration) {
    Options& options = g_app.options;
    const CycleEntry& entry =
        options.cycle[static_cast<size_t>(iteration - 1) % options.cycle.size()];
    options.mechanism = entry.mechanism;
    options.memoryFlags = entry.memoryFlags;
    options.memoryMode = entry.memoryMode;
}

// OPENDSM, the search for the source by product name, OPENDS. Returns the
// exit code to end with, or 0.
int OpenSource() {
    g_app.appIdentity.Id = 0;
    TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &g_app.window);
    if (rc != TWRC_SUCCESS) {
        Fail();
        return 3;
    }
    g_app.dsmOpen = true;
    TW_IDENTITY found{};
    g_app.sourceFound = false;
    int index = 0;
    rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
    while (rc == TWRC_SUCCESS && index < 100) {
        bool match = strncmp(found.ProductName, g_app.options.product.c_str(), 34) == 0;
        LogIdentity("SOURCE", found, index, match);
        if (match && !g_app.sourceFound) {
            g_app.sourceIdentity = found;
            g_app.sourceFound = true;
        }
        ++index;
        found = TW_IDENTITY{};
        rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
    }
    if (!g_app.sourceFound) {
        Line("SOURCE_NOT_FOUND").Str("product", g_app.options.product).Int("sources", index).Emit();
        Fail();
        return 4;
    }
    rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &g_app.sourceIdentity);
    if (rc != TWRC_SUCCESS) {
        Fail();
        return 1;
    }
    g_app.sourceOpen = true;
    LogIdentity("OPENED", g_app.sourceIdentity, -1, true);
    if (g_app.options.identityGet) {
        TW_IDENTITY asked{};
        if (CallSource(DG_CONTROL, DAT_IDENTITY, MSG_GET, &asked) == TWRC_SUCCESS) {
            LogIdentity("IDENTITY", asked, -1, true);
        } else {
            Fail();
        }
    }
    if (g_app.options.setMechanism) {
        SetMechanism();
    }
    RunRequests(4);
    return 0;
}

void CloseSource() {
    if (g_app.sourceOpen && !g_app.options.skipCloseDs) {
        if (Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &g_app.sourceIdentity) !=
            TWRC_SUCCESS) {
            Fail();
        }
    }
    g_app.sourceOpen = false;
    if (g_app.dsmOpen && !g_app.options.skipCloseDsm) {
        if (Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &g_app.window) != TWRC_SUCCESS) {
            Fail();
        }
    }
    g_app.dsmOpen = false;
}

LRESULT CALLBACK AppWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kMarkerMessage:
        InterlockedExchange(&g_shared.markerAck, static_cast<LONG>(lParam));
        return 0;
    case kSetTextMessage: {
        auto* text = reinterpret_cast<std::string*>(lParam);
        SetWindowTextA(reinterpret_cast<HWND>(wParam), text->c_str());
        delete text;
        return 0;
    }
    case WM_TIMER:
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

bool CreateAppWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = AppWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "Tq3480TwainApp";
    if (RegisterClassA(&windowClass) == 0) {
        return false;
    }
    g_app.window =
        CreateWindowA("Tq3480TwainApp", "Tq3480 TWAIN test application", WS_OVERLAPPEDWINDOW, 0, 0,
                      360, 240, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (g_app.window == nullptr) {
        return false;
    }
    if (!g_app.options.hidden) {
        ShowWindow(g_app.window, SW_SHOWNORMAL);
        UpdateWindow(g_app.window);
    }
    return true;
}

void FillAppIdentity() {
    TW_IDENTITY& id = g_app.appIdentity;
    id = TW_IDENTITY{};
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    strncpy(id.Version.Info, "twain_app 1.0", sizeof id.Version.Info - 1);
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strncpy(id.Manufacturer, "Tq3480 project", sizeof id.Manufacturer - 1);
    strncpy(id.ProductFamily, "Test tools", sizeof id.ProductFamily - 1);
    strncpy(id.ProductName, "twain_app", sizeof id.ProductName - 1);
}

int Run() {
    const Options& options = g_app.options;
    LogMemory("start");
    if (!CreateAppWindow()) {
        Line("ERROR").Raw("what", "no-window").Int("error", GetLastError()).Emit();
        return 1;
    }
    g_shared.options = &g_app.options;
    g_shared.appWindow = g_app.window;
    if (options.timeoutSeconds > 0) {
        g_shared.deadline = GetTickCount() + static_cast<DWORD>(options.timeoutSeconds) * 1000;
        if (g_shared.deadline == 0)
            g_shared.deadline = 1;
    }
    HANDLE watcher = CreateThread(nullptr, 0, WatcherThread, nullptr, 0, nullptr);
    Line("APP")
        .Raw("window", HexPtr(g_app.window))
        .Raw("xfer", options.mechanism == TWSX_NATIVE   ? "native"
                     : options.mechanism == TWSX_MEMORY ? "memory"
                                                        : "file")
        .Int("ui", options.showUi ? 1 : 0)
        .Int("loops", options.loops)
        .Raw("loop_scope", options.loopWholeSession ? "session" : "enable")
        .Int("cycle", static_cast<long long>(options.cycle.size()))
        .Raw("pages", options.pagesPerBatch == 0 ? "all" : std::to_string(options.pagesPerBatch))
        .Int("actions", static_cast<long long>(options.script.size()))
        .Emit();
    FillAppIdentity();
    int exitCode = 0;
    if (!LoadSourceManager()) {
        exitCode = 3;
    } else {
        for (int iteration = 1; iteration <= options.loops; ++iteration) {
            g_app.iteration = iteration;
            if (!options.cycle.empty()) {
                TakeCycleEntry(iteration);
            }
            bool opensHere = options.loopWholeSession || iteration == 1;
            if (opensHere) {
                int code = OpenSource();
                if (code != 0) {
                    CloseSource();
                    exitCode = code;
                    if (code == 1 && options.loopWholeSession) {
                        continue; // a fault at open; the next session may open
                    }
                    break;
                }
            } else if (!options.cycle.empty() && options.setMechanism) {
                SetMechanism(); // back in state 4 after the disable
            }
            int pagesBefore = g_app.pagesDone;
            int failuresBefore = g_app.failures;
            RunEnabledSession();
            Line("ITERATION")
                .Int("n", iteration)
                .Int("pages", g_app.pagesDone - pagesBefore)
                .Int("failures", g_app.failures - failuresBefore)
                .Emit();
            if (options.loopWholeSession || iteration == options.loops) {
                CloseSource();
            }
        }
    }
    g_shared.phase = "end";
    InterlockedExchange(&g_shared.stop, 1);
    if (watcher != nullptr) {
        WaitForSingleObject(watcher, 5000);
        CloseHandle(watcher);
    }
    if (g_app.dsmModule != nullptr) {
        FreeLibrary(g_app.dsmModule);
    }
    DestroyWindow(g_app.window);
    LogMemory("end");
    if (exitCode == 0 && g_app.failures > 0) {
        exitCode = 1;
    }
    Line("RESULT")
        .Raw("status", exitCode == 0 ? "ok" : "fail")
        .Int("exit", exitCode)
        .Int("pages", g_app.pagesDone)
        .Int("attempted", g_app.pagesTotal)
        .Int("failures", g_app.failures)
        .Int("boxes", g_shared.boxesSeen)
        .Emit();
    return exitCode;
}

} // namespace twain_app

int main(int argc, char** argv) {
    using namespace twain_app;
    std::string error;
    if (!ParseOptions(argc, argv, &g_app.options, &error)) {
        if (!error.empty()) {
            fprintf(stderr, "twain_app: %s\n", error.c_str());
        }
        fputs(kUsage, error.empty() ? stdout : stderr);
        return error.empty() ? 0 : 2;
    }
    LogOpen(g_app.options.logPath, g_app.options.timestamps);
    int code = Run();
    LogClose();
    return code;
}
