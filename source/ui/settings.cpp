#include "ui/settings.h"

#include <cstdio>

#include "platform/platform.h"
#include "twain/startup.h"

ScanSettingsRecord ScanSettings = {};

namespace {

constexpr int kTempPathSize = 127;
constexpr int kSettingsPathSize = kTempPathSize + sizeof("UAXXXX.ini");

struct SettingKey {
    int32_t ScanSettingsRecord::*value;
    const char* (*key)();
    int32_t lowest;
    int32_t highest;
    int32_t fallback;
};

// In file order: paper index, scan type, resolution index, duplex, brightness.
constexpr SettingKey kSettingKeys[] = {
    {&ScanSettingsRecord::PaperIndex, PaperKey, 0, 18, 2},
    {&ScanSettingsRecord::ScanType, ScanTypeKey, 0, 1, 0},
    {&ScanSettingsRecord::ResolutionIndex, ResolutionKey, 0, 2, 1},
    {&ScanSettingsRecord::Duplex, DuplexKey, 0, 1, 0},
    {&ScanSettingsRecord::Brightness, BrightnessKey, -4, 4, 0},
};

// The settings file in the user's temporary directory, whose path ends in a
// separator. A directory too long for its buffer gives no file at all rather
// than a cut path that names another directory.
bool BuildSettingsPath(char (&path)[kSettingsPathSize]) {
    char directory[kTempPathSize] = {};
    uint32_t length = PlatformGetTempPath(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) {
        return false;
    }
    std::snprintf(path, sizeof path, "%s%s", directory, kSettingsFileName);
    return true;
}

} // namespace

void LoadScanSettings() {
    char path[kSettingsPathSize];
    bool havePath = BuildSettingsPath(path);
    CursorHandle previous = PlatformSetCursor(WaitCursor);
    for (const SettingKey& setting : kSettingKeys) {
        // The platform reads a value as Windows does: an optional sign and
        // the digits that follow, 0 when there are none.
        int32_t value = setting.fallback;
        if (havePath) {
            value = static_cast<int32_t>(
                PlatformGetPrivateProfileInt(SectionName(), setting.key(), setting.fallback, path));
        }
        if (value < setting.lowest || value > setting.highest) {
            value = setting.fallback;
        }
        ScanSettings.*setting.value = value;
    }
    PlatformSetCursor(previous);
}

void SaveScanSettings() {
    char path[kSettingsPathSize];
    if (!BuildSettingsPath(path)) {
        return;
    }
    CursorHandle previous = PlatformSetCursor(WaitCursor);
    for (const SettingKey& setting : kSettingKeys) {
        char text[12];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(ScanSettings.*setting.value));
        PlatformWritePrivateProfileString(SectionName(), setting.key(), text, path);
    }
    PlatformSetCursor(previous);
}

void ResetSettingsState() {
    ScanSettings = ScanSettingsRecord{};
}
