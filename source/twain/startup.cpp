#include "twain/startup.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "resources/resource_ids.h"
#include "twain/states.h"

ModuleHandle OwnModule = nullptr;
ModuleHandle ResourceModule = nullptr;
TW_IDENTITY SourceIdentity = {};
char ProductText[255] = {};
CursorHandle WaitCursor = nullptr;
int ScreenWidth = 0;
int ScreenHeight = 0;

namespace {

// The companion path: the Windows directory, then own string 203.
constexpr int kWindowsDirectorySize = 144;
constexpr int kCompanionSuffixSize = 100;
constexpr int kCompanionPathSize = kWindowsDirectorySize + kCompanionSuffixSize;
constexpr int kCompanionMarkerSize = 128;

// A slot's load-time bytes: its size, then the string id, little-endian.
template <size_t Size> constexpr std::array<char, Size> SlotHeader(int stringId) {
    static_assert(Size >= 5 && Size <= 255);
    std::array<char, Size> header{};
    header[0] = static_cast<char>(Size);
    for (int byte = 0; byte < 4; ++byte) {
        header[1 + byte] =
            static_cast<char>((static_cast<unsigned>(stringId) >> (8 * byte)) & 0xFF);
    }
    return header;
}

constexpr auto kSectionNameHeader = SlotHeader<35>(IDS_SECTION_NAME);
constexpr auto kPaperKeyHeader = SlotHeader<20>(IDS_KEY_PAPER);
constexpr auto kScanTypeKeyHeader = SlotHeader<20>(IDS_KEY_SCAN_TYPE);
constexpr auto kResolutionKeyHeader = SlotHeader<20>(IDS_KEY_RESOLUTION);
constexpr auto kDuplexKeyHeader = SlotHeader<20>(IDS_KEY_DUPLEX);
constexpr auto kBrightnessKeyHeader = SlotHeader<20>(IDS_KEY_BRIGHTNESS);

auto SectionNameSlot = kSectionNameHeader;
auto PaperKeySlot = kPaperKeyHeader;
auto ScanTypeKeySlot = kScanTypeKeyHeader;
auto ResolutionKeySlot = kResolutionKeyHeader;
auto DuplexKeySlot = kDuplexKeyHeader;
auto BrightnessKeySlot = kBrightnessKeyHeader;

bool LoadStringSlot(const StringSlot& slot) {
    const auto* header = reinterpret_cast<const unsigned char*>(slot.buffer);
    int size = header[0];
    uint32_t id = static_cast<uint32_t>(header[1]) | static_cast<uint32_t>(header[2]) << 8 |
                  static_cast<uint32_t>(header[3]) << 16 | static_cast<uint32_t>(header[4]) << 24;
    return PlatformLoadString(OwnModule, id, slot.buffer, size) != 0;
}

// The companion library's path; false when the Windows directory does not
// fit its buffer or own string 203 is missing, which leaves no companion.
bool BuildCompanionPath(char (&path)[kCompanionPathSize]) {
    char windowsDirectory[kWindowsDirectorySize] = {};
    uint32_t length = PlatformGetWindowsDirectory(windowsDirectory, sizeof windowsDirectory);
    if (length == 0 || length >= sizeof windowsDirectory) {
        return false;
    }
    char suffix[kCompanionSuffixSize] = {};
    if (LoadOwnString(IDS_COMPANION_PATH, suffix, sizeof suffix) == 0) {
        return false;
    }
    std::snprintf(path, sizeof path, "%s%s", windowsDirectory, suffix);
    return true;
}

// The companion library, loaded, or none. The file is opened for existence
// only first, so that a missing file costs no library search.
ModuleHandle LoadCompanionLibrary() {
    char path[kCompanionPathSize];
    if (!BuildCompanionPath(path)) {
        return nullptr;
    }
    FileHandle probe = PlatformCreateFile(path, 0, 0, OPEN_EXISTING, 0);
    if (probe == kInvalidFile) {
        return nullptr;
    }
    PlatformCloseHandle(probe);
    return PlatformLoadLibrary(path);
}

void RestoreStringSlots() {
    SectionNameSlot = kSectionNameHeader;
    PaperKeySlot = kPaperKeyHeader;
    ScanTypeKeySlot = kScanTypeKeyHeader;
    ResolutionKeySlot = kResolutionKeyHeader;
    DuplexKeySlot = kDuplexKeyHeader;
    BrightnessKeySlot = kBrightnessKeyHeader;
}

} // namespace

const StringSlot StringSlots[] = {
    {SectionNameSlot.data()},
    {PaperKeySlot.data()},
    {ScanTypeKeySlot.data()},
    {ResolutionKeySlot.data()},
    {DuplexKeySlot.data()},
    {BrightnessKeySlot.data()},
    {nullptr},
};

const char* SectionName() {
    return SectionNameSlot.data();
}
const char* PaperKey() {
    return PaperKeySlot.data();
}
const char* ScanTypeKey() {
    return ScanTypeKeySlot.data();
}
const char* ResolutionKey() {
    return ResolutionKeySlot.data();
}
const char* DuplexKey() {
    return DuplexKeySlot.data();
}
const char* BrightnessKey() {
    return BrightnessKeySlot.data();
}

int LoadOwnString(int id, char* buffer, int size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    return PlatformLoadString(OwnModule, static_cast<uint32_t>(id), buffer, size);
}

int LoadResourceString(int id, char* buffer, int size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    if (ResourceModule == nullptr) {
        return 0;
    }
    return PlatformLoadString(ResourceModule, static_cast<uint32_t>(id), buffer, size);
}

bool ModuleProcessAttach(ModuleHandle own) {
    OwnModule = own;

    // The companion library only decides the product texts here; its string
    // 206 is a marker whose text is never shown. Start-up never keeps it.
    char companionMarker[kCompanionMarkerSize] = {};
    ModuleHandle companion = LoadCompanionLibrary();
    if (companion != nullptr && PlatformLoadString(companion, IDS_COMPANION_MARKER, companionMarker,
                                                   sizeof companionMarker) == 0) {
        companionMarker[0] = '\0';
    }
    bool companionTexts = companionMarker[0] != '\0';
    LoadOwnString(companionTexts ? IDS_PRODUCT_TEXT_COMPANION : IDS_PRODUCT_TEXT, ProductText,
                  sizeof ProductText);
    int productNameId = companionTexts ? IDS_PRODUCT_NAME_COMPANION : IDS_SECTION_NAME;
    if (companion != nullptr) {
        PlatformFreeLibrary(companion);
    }

    // Each text field takes 33 characters and the NUL: longer texts are cut.
    AppIdentity.Id = 0;
    SourceIdentity = TW_IDENTITY{};
    SourceIdentity.Id = 0;
    SourceIdentity.Version.MajorNum = 1;
    SourceIdentity.Version.MinorNum = 6;
    SourceIdentity.Version.Language = TWLG_USA;
    SourceIdentity.Version.Country = TWCY_USA;
    LoadOwnString(IDS_VERSION_INFO, SourceIdentity.Version.Info, sizeof(TW_STR32));
    SourceIdentity.ProtocolMajor = 1;
    SourceIdentity.ProtocolMinor = 9;
    SourceIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    LoadOwnString(IDS_MANUFACTURER, SourceIdentity.Manufacturer, sizeof(TW_STR32));
    LoadOwnString(IDS_PRODUCT_FAMILY, SourceIdentity.ProductFamily, sizeof(TW_STR32));
    LoadOwnString(productNameId, SourceIdentity.ProductName, sizeof(TW_STR32));

    for (const StringSlot* slot = StringSlots; slot->buffer != nullptr; ++slot) {
        if (!LoadStringSlot(*slot)) {
            return false;
        }
    }

    WaitCursor = PlatformLoadCursor(kCursorWait);
    DeviceContext display = PlatformCreateDisplayIC();
    if (display == nullptr) {
        return false;
    }
    ScreenWidth = PlatformGetDeviceCaps(display, HORZRES);
    ScreenHeight = PlatformGetDeviceCaps(display, VERTRES);
    PlatformDeleteDC(display);
    return true;
}

void ChooseResourceModule() {
    if (ResourceModule != nullptr) {
        return;
    }
    ModuleHandle companion = LoadCompanionLibrary();
    ResourceModule = companion != nullptr ? companion : OwnModule;
}

void ReleaseResourceModule() {
    if (ResourceModule != nullptr && ResourceModule != OwnModule) {
        PlatformFreeLibrary(ResourceModule);
        ResourceModule = OwnModule;
    }
}

void ResetStartupState() {
    OwnModule = nullptr;
    ResourceModule = nullptr;
    SourceIdentity = TW_IDENTITY{};
    std::memset(ProductText, 0, sizeof ProductText);
    WaitCursor = nullptr;
    ScreenWidth = 0;
    ScreenHeight = 0;
    RestoreStringSlots();
}
