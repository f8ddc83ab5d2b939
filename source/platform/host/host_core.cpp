// The host simulation as a whole: its records, reset, load and the end-of-test
// report.
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/host/host_state.h"
#include "twain/module_state.h"
#include "twain/startup.h"

namespace host::detail {

namespace {
State& Instance() {
    static State state;
    return state;
}
} // namespace

State& S() {
    State& state = Instance();
    if (!state.ready) {
        Reset();
    }
    return state;
}

void RecordError(const std::string& error) {
    S().errors.push_back(error);
}

std::string Hex(uintptr_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

uintptr_t Raw(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace host::detail

namespace host {

using namespace detail;

void Reset() {
    // The records exist before the exit handler is registered, so that they
    // are destroyed after it has run (exit runs both in reverse order).
    State& state = Instance();
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(Shutdown);
    }
    Shutdown();
    state = State{};
    state.ready = true;
    ResetMemory();
    ResetFiles();
    ResetModules();
    ResetUi();
}

void Shutdown() {
    State& state = Instance();
    if (!state.ready) {
        return;
    }
    ReleaseUi();
    ReleaseFiles();
    ReleaseMemory();
    state.ready = false;
}

bool LoadDataSource() {
    S();
    ResetAllModuleState();
    return ModuleProcessAttach(OwnModuleHandle());
}

const std::vector<std::string>& Errors() {
    return S().errors;
}
void ClearErrors() {
    S().errors.clear();
}

std::vector<std::string> TearDownProblems() {
    State& state = S();
    std::vector<std::string> problems;
    for (const std::string& error : state.errors) {
        problems.push_back("platform misuse: " + error);
    }
    for (const auto& [handle, block] : state.memory.blocks) {
        if (!block.freed && !block.expectedAlive) {
            problems.push_back("global memory block " + Hex(handle) + " leaked (" +
                               std::to_string(block.size) + " bytes, flags " + Hex(block.flags) +
                               ", " + std::to_string(block.locks) + " locks)");
        }
    }
    for (const auto& [handle, file] : state.files.files) {
        problems.push_back("file handle " + Hex(handle) + " left open on " + file.hostPath);
    }
    for (const auto& device : state.files.devices) {
        problems.push_back("usbscan handle " + Hex(device.first) + " left open");
    }
    for (uintptr_t context : state.ui.displayContexts) {
        problems.push_back("display information context " + Hex(context) + " not deleted");
    }
    return problems;
}

} // namespace host
