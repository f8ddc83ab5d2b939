// The records behind the host simulation, shared by its files. Only the
// simulation includes this; tests use host_platform.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"

struct DialogTemplate;

namespace host::detail {

// Handle ranges, one per kind, so that a handle of one kind given where another
// is expected is noticed. All fit in 32 bits.
constexpr uintptr_t kMemoryBase = 0x01000000u;
constexpr uintptr_t kFileBase = 0x02000000u;
constexpr uintptr_t kDeviceBase = 0x03000000u;
constexpr uintptr_t kWindowBase = 0x04000000u;
constexpr uintptr_t kDisplayBase = 0x06000000u;
constexpr uintptr_t kCursorBase = 0x07000000u;
constexpr uintptr_t kHandleStep = 4;
constexpr uintptr_t kOwnModule = 0x10000000u;
constexpr uintptr_t kCompanionModule = 0x10400000u;
constexpr uintptr_t kSourceManagerModule = 0x10800000u;

struct MemoryRecord {
    uint32_t flags = 0;
    size_t size = 0;
    unsigned char* data = nullptr; // released at free, so stale pointers trip ASan
    int locks = 0;
    bool freed = false;
    bool expectedAlive = false;
};

struct MemoryState {
    std::map<uintptr_t, MemoryRecord> blocks; // every block since Reset, freed ones kept
    uintptr_t nextHandle = kMemoryBase;
    int allocationCalls = 0;
    int lockCalls = 0;
    std::function<bool(uint32_t, size_t, int)> failure;
    int failAllocation = 0;
    int failAllocationsFrom = 0;
    std::vector<uintptr_t> failLocksOf;
    bool failNextLock = false;
    bool poison = true;
    bool fill = true; // garbage in fresh and freed blocks
};

struct OpenFile {
    int fd = -1;
    std::string hostPath;
    uint32_t access = 0;
    uint32_t share = 0;
};

struct FileState {
    std::string scratch; // host directory, no trailing slash
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string tempPath = "C:\\TEMP\\";
    std::string currentDirectory = "C:\\cwd";
    std::map<uintptr_t, OpenFile> files;
    uintptr_t nextFile = kFileBase;
    std::map<uintptr_t, uint32_t> devices; // our handle -> simulator handle
    uintptr_t nextDevice = kDeviceBase;
    std::vector<uintptr_t> closedHandles; // files and devices closed since Reset
    std::vector<CreateFileCall> createCalls;
    std::vector<std::string> deleted;
    std::vector<DeviceOpen> deviceOpens;
    std::optional<uint64_t> writeBudget;
    std::vector<std::string> failCreate; // host paths
    std::optional<uint32_t> pointerLimit;
    std::map<std::string, std::optional<DiskSpace>> disks; // upper-case root; nullopt fails
    std::vector<std::string> diskCalls;
    std::vector<TempFileNameCall> tempCalls;
    uint32_t nextTempNumber = 1;
};

struct ModuleState {
    std::map<int, std::string> ownStrings;
    std::map<int, std::string> companionStrings;
    std::string companionPrefix;
    bool companionTemplates = true;
    Companion companion = Companion::Absent;
    SourceManager sourceManager = SourceManager::Present;
    std::map<uintptr_t, int> references;
    std::vector<LibraryCall> calls;
    std::vector<DsmCall> dsmCalls;
    std::function<TW_UINT16(const DsmCall&)> dsmHook;
    int unbalancedFrees = 0;
};

struct WindowRecord {
    WindowInfo info{};
    DialogProc procedure = nullptr;
    std::vector<uintptr_t> controls; // dialogs: their controls in template order
    bool ended = false;
    DialogResult endResult = 0;
};

struct UiState {
    std::vector<MessageBoxCall> boxes;
    std::function<void(const MessageBoxCall&)> boxHook;
    int boxResult = IDOK;
    int displayWidth = 1024;
    int displayHeight = 768;
    bool display = true;
    std::vector<uintptr_t> displayContexts; // open ones
    uintptr_t nextDisplay = kDisplayBase;
    int cursor = kCursorArrow;
    std::vector<int> cursorsSet;
    std::vector<uint32_t> sleeps;
    WindowHandle activeWindow = kApplicationWindow;
    std::vector<HtmlHelpCall> help;
    std::map<uintptr_t, WindowRecord> windows;
    std::vector<uintptr_t> windowOrder; // creation order
    uintptr_t nextWindow = kWindowBase;
    uintptr_t focus = 0;
    int nextZ = 1;
    std::function<void(WindowHandle)> dialogBoxHook;
};

struct State {
    bool ready = false;
    std::vector<std::string> errors;
    MemoryState memory;
    FileState files;
    ModuleState modules;
    UiState ui;
};

State& S(); // makes the simulation ready on first use
void RecordError(const std::string& error);
std::string Hex(uintptr_t value);
uintptr_t Raw(const void* handle);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
std::string Upper(std::string text);

// Parts of Reset and Shutdown, one per file.
void ResetMemory();
void ResetFiles(); // makes the scratch directory and the standard folders
void ResetModules();
void ResetUi();
void ReleaseMemory();
void ReleaseFiles(); // closes everything, removes the scratch directory
void ReleaseUi();
void WriteCompanionFile();
// The template a module holds under that name (number or text), or null.
const DialogTemplate* TemplateFor(ModuleHandle module, const char* name);
std::string CompanionPath();

} // namespace host::detail
