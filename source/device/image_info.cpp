#include "device/image_info.h"

#include <cstring>

#include "device/acquisition.h"
#include "device/channel.h"
#include "device/commands.h"
#include "resources/resource_ids.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "twain/status.h"
#include "ui/settings.h"
#include "ui/tables.h"

// No figure is configured: the drive never counts as too full.
double FreeSpaceThresholdKb = 0.0;

namespace {

constexpr uint32_t kPixelModeBlackWhite = 600;
constexpr uint32_t kStandByPixels = 100;
constexpr uint32_t kTempPathSize = 128; // 127 characters and the terminator
constexpr uint32_t kTempNameSize = 260;
constexpr int kDiskSpaceTextSize = 64;
constexpr double kKilobytesPerByte = 0.0009765625;

uint32_t Le16(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8);
}

uint32_t ResolutionDpi() {
    const int index = ScanSettings.ResolutionIndex;
    if (index < 0 || index >= static_cast<int>(ResolutionTable.size())) {
        return static_cast<uint32_t>(ResolutionTable[1]);
    }
    return static_cast<uint32_t>(ResolutionTable[static_cast<size_t>(index)]);
}

TW_UINT16 Fail(TW_UINT16 code) {
    ConditionCode = code;
    ShowOperationFailure(IDS_OP_IMAGEINFO, code);
    return TWRC_FAILURE;
}

} // namespace

bool CheckTempDiskSpace() {
    char tempPath[kTempPathSize] = {};
    const uint32_t pathLength = PlatformGetTempPath(kTempPathSize, tempPath);
    if (pathLength == 0 || pathLength >= kTempPathSize) {
        return false; // no usable directory name, so no figure to judge by
    }
    char name[kTempNameSize] = {};
    if (PlatformGetTempFileName(tempPath, "QMX", 0, name) == 0) {
        return false;
    }
    for (char* c = name; *c != '\0'; ++c) {
        if (*c >= 'a' && *c <= 'z') {
            *c = static_cast<char>(*c - 'a' + 'A');
        }
    }
    PlatformDeleteFile(name);
    // A directory without a drive letter (a network path) has no drive to
    // ask about; it counts as having room.
    if (name[0] < 'A' || name[0] > 'Z' || name[1] != ':') {
        return false;
    }
    const char letter = name[0];
    const char root[4] = {letter, ':', '\\', '\0'};
    uint32_t sectorsPerCluster = 0;
    uint32_t bytesPerSector = 0;
    uint32_t freeClusters = 0;
    uint32_t totalClusters = 0;
    if (!PlatformGetDiskFreeSpace(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                  &totalClusters)) {
        return false;
    }
    const double freeKilobytes = static_cast<double>(bytesPerSector) *
                                 static_cast<double>(sectorsPerCluster) *
                                 static_cast<double>(freeClusters) * kKilobytesPerByte;
    if (!(freeKilobytes < FreeSpaceThresholdKb)) {
        return false;
    }
    // The text's leading space is the place of the drive letter.
    char text[kDiskSpaceTextSize] = {};
    PlatformLoadString(ResourceModule, IDS_DISK_SPACE, text, sizeof text);
    text[0] = letter;
    PlatformMessageBox(PlatformGetActiveWindow(), text, SectionName(), MB_OK);
    return true;
}

bool PreScan() {
    if (!CheckScannerReady()) {
        return false;
    }
    // The window comes from the current settings, as the acquisition that
    // follows will build it: without it an application that enabled the
    // source without its dialog, or changed a setting since the last Scan,
    // would be told the geometry of another page (0 x 0 before any Scan).
    BuildScanParameters();
    if (!SetScanParameters(ScanParameterBlock)) {
        CloseChannelAndTell(IDS_MACHINE_ERROR);
        return false;
    }
    if (!GetImageInfo(CommandBuffer)) {
        CloseChannelAndTell(IDS_MACHINE_ERROR);
        return false;
    }
    CloseScannerChannel();
    PageImage.scannerLines = Le16(CommandBuffer + 2);
    PageImage.pixelsPerLine = Le16(CommandBuffer + 4);
    PageImage.lines = Le16(CommandBuffer + 6);
    PageImage.bitsPerPixel = 1;
    PageImage.pixelMode = kPixelModeBlackWhite;
    PageImage.stride = RowStride(PageImage.pixelsPerLine);
    return !CheckTempDiskSpace();
}

// DG_IMAGE/DAT_IMAGEINFO/MSG_GET
TW_UINT16 ImageInfoOperation(TripletRequest* request) {
    if (SourceState != kStateTransferReady) {
        return Fail(TWCC_SEQERROR);
    }
    if (request->message != MSG_GET) {
        return Fail(TWCC_BADPROTOCOL);
    }
    // Nowhere to put the answer: refused before the scanner is touched, and
    // without a box, as the mistake is the application's.
    if (request->data == nullptr) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    if (!PreScan()) {
        PageImage.bitsPerPixel = 1;
        PageImage.pixelsPerLine = kStandByPixels;
        PageImage.lines = kStandByPixels;
    }
    PageImage.pixelMode = kPixelModeBlackWhite;
    PageImage.xResolution = ResolutionDpi();
    PageImage.yResolution = PageImage.xResolution;

    TW_IMAGEINFO info;
    std::memset(&info, 0, sizeof info);
    info.XResolution.Whole = static_cast<TW_INT16>(PageImage.xResolution);
    info.YResolution.Whole = static_cast<TW_INT16>(PageImage.yResolution);
    info.ImageWidth = static_cast<TW_INT32>(PageImage.pixelsPerLine);
    info.ImageLength = static_cast<TW_INT32>(PageImage.lines);
    info.SamplesPerPixel = 1;
    info.BitsPerSample[0] = 1;
    info.BitsPerPixel = 1;
    info.Planar = 0;
    info.PixelType = TWPT_BW;
    info.Compression = TWCP_NONE;
    std::memcpy(request->data, &info, sizeof info);
    return TWRC_SUCCESS;
}

void ResetImageInfoState() {
    FreeSpaceThresholdKb = 0.0;
}
