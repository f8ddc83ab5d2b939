// Message boxes, the display information context, cursors, Sleep, the active
// window and HTML Help on the host: each call is recorded for the tests.
#include <algorithm>

#include "platform/host/host_state.h"

namespace host::detail {

void ResetUi() {}
void ReleaseUi() {}

} // namespace host::detail

using namespace host::detail;

int PlatformMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type) {
    UiState& ui = S().ui;
    ui.boxes.push_back(
        {owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    if (ui.boxHook) {
        auto hook = ui.boxHook; // the hook may replace itself
        hook(ui.boxes.back());
    }
    return ui.boxResult;
}

WindowHandle PlatformGetActiveWindow() {
    return S().ui.activeWindow;
}

CursorHandle PlatformLoadCursor(int cursorId) {
    S();
    if (cursorId != kCursorArrow && cursorId != kCursorWait) {
        RecordError("LoadCursor of unknown cursor " + std::to_string(cursorId));
        return nullptr;
    }
    return reinterpret_cast<CursorHandle>(kCursorBase + static_cast<uintptr_t>(cursorId));
}

CursorHandle PlatformSetCursor(CursorHandle cursor) {
    UiState& ui = S().ui;
    CursorHandle previous =
        ui.cursor == 0
            ? nullptr
            : reinterpret_cast<CursorHandle>(kCursorBase + static_cast<uintptr_t>(ui.cursor));
    int id = 0;
    if (cursor != nullptr) {
        uintptr_t raw = Raw(cursor);
        if (raw != kCursorBase + kCursorArrow && raw != kCursorBase + kCursorWait) {
            RecordError("SetCursor of handle " + Hex(raw) + " that LoadCursor did not give");
            return previous;
        }
        id = static_cast<int>(raw - kCursorBase);
    }
    ui.cursor = id;
    ui.cursorsSet.push_back(id);
    return previous;
}

DeviceContext PlatformCreateDisplayIC() {
    UiState& ui = S().ui;
    if (!ui.display) {
        return nullptr;
    }
    uintptr_t context = ui.nextDisplay;
    ui.nextDisplay += kHandleStep;
    ui.displayContexts.push_back(context);
    return reinterpret_cast<DeviceContext>(context);
}

int PlatformGetDeviceCaps(DeviceContext context, int index) {
    UiState& ui = S().ui;
    if (std::find(ui.displayContexts.begin(), ui.displayContexts.end(), Raw(context)) ==
        ui.displayContexts.end()) {
        RecordError("GetDeviceCaps of context " + Hex(Raw(context)) + " that is not open");
        return 0;
    }
    if (index == HORZRES) {
        return ui.displayWidth;
    }
    if (index == VERTRES) {
        return ui.displayHeight;
    }
    return 0;
}

bool PlatformDeleteDC(DeviceContext context) {
    UiState& ui = S().ui;
    auto found = std::find(ui.displayContexts.begin(), ui.displayContexts.end(), Raw(context));
    if (found == ui.displayContexts.end()) {
        RecordError("DeleteDC of context " + Hex(Raw(context)) + " that is not open");
        return false;
    }
    ui.displayContexts.erase(found);
    return true;
}

void PlatformSleep(uint32_t milliseconds) {
    S().ui.sleeps.push_back(milliseconds);
}

void PlatformHtmlHelp(WindowHandle caller, const char* file, uint32_t command, uintptr_t data) {
    S().ui.help.push_back({caller, file != nullptr ? file : "", command, data});
}

namespace host {

const std::vector<MessageBoxCall>& MessageBoxes() {
    return S().ui.boxes;
}
void OnMessageBox(std::function<void(const MessageBoxCall&)> hook) {
    S().ui.boxHook = std::move(hook);
}
void SetMessageBoxResult(int result) {
    S().ui.boxResult = result;
}

void SetDisplaySize(int width, int height) {
    UiState& ui = S().ui;
    ui.display = true;
    ui.displayWidth = width;
    ui.displayHeight = height;
}
void SetNoDisplay() {
    S().ui.display = false;
}
int OpenDisplayContextCount() {
    return static_cast<int>(S().ui.displayContexts.size());
}

int CurrentCursor() {
    return S().ui.cursor;
}
const std::vector<int>& CursorsSet() {
    return S().ui.cursorsSet;
}
const std::vector<uint32_t>& SleepCalls() {
    return S().ui.sleeps;
}
void SetActiveWindow(WindowHandle window) {
    S().ui.activeWindow = window;
}
const std::vector<HtmlHelpCall>& HtmlHelpCalls() {
    return S().ui.help;
}

} // namespace host
