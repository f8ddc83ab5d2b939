// Libraries on the host: the source's own module with its string table, the
// optional companion resource library, and the Source Manager TWAIN_32.DLL
// whose DSM_Entry records every notification.
#include <cstring>

#include "platform/host/host_state.h"
#include "resources/resource_tables.h"

namespace host::detail {

namespace {

const char* const kCompanionTail = "\\TWAIN_32\\ZARVIK\\ZARVIK.DLL";
const char* const kSourceManagerName = "TWAIN_32.DLL";

ModuleHandle AsModule(uintptr_t value) {
    return reinterpret_cast<ModuleHandle>(value);
}

bool NamesSourceManager(const std::string& name) {
    std::string tail = name.substr(
        name.find_last_of("\\/") == std::string::npos ? 0 : name.find_last_of("\\/") + 1);
    return EqualsNoCase(tail, kSourceManagerName);
}

bool IsLoaded(uintptr_t module) {
    auto found = S().modules.references.find(module);
    return found != S().modules.references.end() && found->second > 0;
}

TW_UINT16 TW_CALLINGCONV HostDsmEntry(pTW_IDENTITY origin, pTW_IDENTITY destination,
                                      TW_UINT32 dataGroup, TW_UINT16 dataArgumentType,
                                      TW_UINT16 message, TW_MEMREF data) {
    ModuleState& modules = S().modules;
    if (!IsLoaded(kSourceManagerModule)) {
        RecordError("DSM_Entry called while TWAIN_32.DLL is not loaded");
    }
    DsmCall call{};
    if (origin != nullptr) {
        call.origin = *origin;
    } else {
        RecordError("DSM_Entry called without an origin identity");
    }
    call.hasDestination = destination != nullptr;
    if (destination != nullptr) {
        call.destination = *destination;
    }
    call.dataGroup = dataGroup;
    call.dataArgumentType = dataArgumentType;
    call.message = message;
    call.data = data;
    modules.dsmCalls.push_back(call);
    if (modules.dsmHook) {
        auto hook = modules.dsmHook; // the hook may replace itself
        return hook(modules.dsmCalls.back());
    }
    return 0; // TWRC_SUCCESS
}

} // namespace

std::string CompanionPath() {
    ModuleState& modules = S().modules;
    auto tail = modules.ownStrings.find(203);
    return S().files.windowsDirectory +
           (tail != modules.ownStrings.end() ? tail->second : std::string(kCompanionTail));
}

void WriteCompanionFile() {
    std::string path = CompanionPath();
    host::RemovePath(path);
    if (S().modules.companion != Companion::Absent) {
        host::WriteFileText(path, "MZ companion resource library");
    }
}

void ResetModules() {
    ModuleState& modules = S().modules;
    for (int i = 0; i < kStringTableSize; ++i) {
        modules.ownStrings[kStringTable[i].id] = kStringTable[i].text;
    }
    modules.companionStrings = modules.ownStrings;
}

// The template a module holds under that name, or null.
const DialogTemplate* TemplateFor(ModuleHandle module, const char* name) {
    uintptr_t raw = Raw(module);
    bool holds = raw == kOwnModule ||
                 (raw == kCompanionModule && IsLoaded(raw) && S().modules.companionTemplates);
    if (raw == kCompanionModule && !IsLoaded(raw)) {
        RecordError("dialog template asked of the companion library while it is not loaded");
    } else if (raw != kOwnModule && raw != kCompanionModule && module != nullptr) {
        RecordError("dialog template asked of unknown module " + Hex(raw));
    }
    if (!holds || name == nullptr) {
        return nullptr;
    }
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (id <= 0xFFFFu) {
        return FindDialogTemplate(static_cast<int>(id), nullptr);
    }
    return FindDialogTemplate(0, name);
}

} // namespace host::detail

using namespace host::detail;
using host::Companion;
using host::SourceManager;

ModuleHandle PlatformLoadLibrary(const char* name) {
    ModuleState& modules = S().modules;
    if (name == nullptr) {
        RecordError("LoadLibrary with a null name");
        return nullptr;
    }
    uintptr_t module = 0;
    if (NamesSourceManager(name)) {
        if (modules.sourceManager != SourceManager::Absent) {
            module = kSourceManagerModule;
        }
    } else if (host::HostPath(name) == host::HostPath(CompanionPath())) {
        if (modules.companion == Companion::Loadable && host::FileExists(name)) {
            module = kCompanionModule;
        }
    }
    if (module != 0) {
        ++modules.references[module];
    }
    modules.calls.push_back({"LoadLibrary", name, AsModule(module), module != 0});
    return AsModule(module);
}

void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
    ModuleState& modules = S().modules;
    std::string entry = reinterpret_cast<uintptr_t>(name) > 0xFFFFu
                            ? std::string(name)
                            : "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
    void* found = nullptr;
    uintptr_t raw = Raw(module);
    if (raw != kOwnModule && !IsLoaded(raw)) {
        RecordError("GetProcAddress(\"" + entry + "\") on module " + Hex(raw) +
                    " that is not loaded");
    } else if (raw == kSourceManagerModule && entry == "DSM_Entry" &&
               modules.sourceManager == SourceManager::Present) {
        DSMENTRYPROC entryPoint = HostDsmEntry;
        found = reinterpret_cast<void*>(entryPoint);
    }
    modules.calls.push_back({"GetProcAddress", entry, module, found != nullptr});
    return found;
}

bool PlatformFreeLibrary(ModuleHandle module) {
    ModuleState& modules = S().modules;
    uintptr_t raw = Raw(module);
    bool freed = false;
    if (IsLoaded(raw)) {
        --modules.references[raw];
        freed = true;
    } else {
        ++modules.unbalancedFrees;
        RecordError("FreeLibrary of module " + Hex(raw) + " that is not loaded (unbalanced)");
    }
    modules.calls.push_back({"FreeLibrary", "", module, freed});
    return freed;
}

int PlatformLoadString(ModuleHandle module, uint32_t id, char* buffer, int size) {
    ModuleState& modules = S().modules;
    if (buffer == nullptr || size <= 0) {
        RecordError("LoadString " + std::to_string(id) + " without a buffer");
        return 0;
    }
    buffer[0] = '\0';
    const std::map<int, std::string>* table = nullptr;
    uintptr_t raw = Raw(module);
    std::string prefix;
    if (raw == kOwnModule) {
        table = &modules.ownStrings;
    } else if (raw == kCompanionModule && IsLoaded(raw)) {
        table = &modules.companionStrings;
        prefix = modules.companionPrefix;
    } else if (module != nullptr) {
        RecordError("LoadString " + std::to_string(id) + " from module " + Hex(raw) +
                    " that is not loaded");
    }
    if (table == nullptr) {
        return 0; // no module: nothing is found
    }
    auto found = table->find(static_cast<int>(id & 0xFFFFu));
    // A string table holds no empty strings; an empty entry reads as missing.
    if (found == table->end() || found->second.empty()) {
        return 0;
    }
    std::string text = prefix + found->second;
    size_t count =
        text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

namespace host {

ModuleHandle OwnModuleHandle() {
    return AsModule(kOwnModule);
}
ModuleHandle CompanionModuleHandle() {
    return AsModule(kCompanionModule);
}
ModuleHandle SourceManagerModuleHandle() {
    return AsModule(kSourceManagerModule);
}

void SetOwnString(int id, const char* text) {
    if (text == nullptr) {
        S().modules.ownStrings.erase(id);
    } else {
        S().modules.ownStrings[id] = text;
    }
}

void SetCompanion(Companion scenario) {
    S().modules.companion = scenario;
    WriteCompanionFile();
}

void SetCompanionString(int id, const char* text) {
    if (text == nullptr) {
        S().modules.companionStrings.erase(id);
    } else {
        S().modules.companionStrings[id] = text;
    }
}

void SetCompanionMarker(const char* text) {
    SetCompanionString(206, text);
}
void SetCompanionStringPrefix(const std::string& prefix) {
    S().modules.companionPrefix = prefix;
}
void SetCompanionTemplates(bool present) {
    S().modules.companionTemplates = present;
}
void SetSourceManager(SourceManager scenario) {
    S().modules.sourceManager = scenario;
}
const std::vector<LibraryCall>& LibraryCalls() {
    return S().modules.calls;
}

int LibraryReferences(ModuleHandle module) {
    auto found = S().modules.references.find(Raw(module));
    return found == S().modules.references.end() ? 0 : found->second;
}

const std::vector<DsmCall>& DsmCalls() {
    return S().modules.dsmCalls;
}
void OnDsmCall(std::function<TW_UINT16(const DsmCall&)> hook) {
    S().modules.dsmHook = std::move(hook);
}

} // namespace host
