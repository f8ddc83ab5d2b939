// Dialogs and controls on the host: windows built from the dialog templates,
// with the state of each control (text, visibility, list items, scroll
// position, edit selection) and the notifications Windows would send to the
// dialog procedure, sent synchronously as Windows sends them.
#include <algorithm>
#include <cstring>

#include "platform/host/host_state.h"
#include "resources/resource_tables.h"

namespace host::detail {

namespace {

constexpr uint32_t kSetText = 0x000Cu;
constexpr uint32_t kGetText = 0x000Du;
constexpr uint32_t kGetTextLength = 0x000Eu;
constexpr uint32_t kEditGetSel = 0x00B0u;
constexpr uint32_t kScrollSetPos = 0x00E0u;
constexpr uint32_t kScrollGetPos = 0x00E1u;
constexpr uint32_t kScrollSetRange = 0x00E2u;
constexpr uint32_t kComboGetLbText = 0x0148u;
constexpr uint32_t kComboResetContent = 0x014Bu;
constexpr LParam kComboError = -1;
constexpr int kButtonClicked = 0;
constexpr WParam kKeyReturn = 0x0D;
constexpr WParam kKeyEscape = 0x1B;
constexpr uint32_t kKeyFirst = 0x0100u;
constexpr uint32_t kKeyLast = 0x0109u;
constexpr uint32_t kDefPushButton = 0x00000001u;
constexpr uint32_t kButtonTypeMask = 0x0000000Fu;
constexpr uint32_t kTabStop = 0x00010000u;
constexpr uint32_t kVisible = 0x10000000u;

// Dialog units to pixels: the same fixed factors for every dialog.
int UnitsToX(int units) {
    return units * 3 / 2;
}
int UnitsToY(int units) {
    return units * 2;
}

WParam MakeWParam(int low, int high) {
    return static_cast<WParam>(static_cast<uint16_t>(low)) |
           (static_cast<WParam>(static_cast<uint16_t>(high)) << 16);
}

WindowHandle AsWindow(uintptr_t raw) {
    return reinterpret_cast<WindowHandle>(raw);
}

// A window of the application: not one of ours, but one the test named.
bool IsApplicationWindow(WindowHandle window) {
    return S().ui.windows.count(Raw(window)) == 0 &&
           (window == host::kApplicationWindow || window == S().ui.activeWindow);
}

WindowRecord* Find(WindowHandle window) {
    auto found = S().ui.windows.find(Raw(window));
    return found == S().ui.windows.end() ? nullptr : &found->second;
}

// The live record of a window, or null after recording why it cannot be used.
WindowRecord* Live(WindowHandle window, const char* operation) {
    WindowRecord* record = Find(window);
    if (record == nullptr) {
        RecordError(std::string(operation) + " of unknown window " + Hex(Raw(window)));
        return nullptr;
    }
    if (record->info.destroyed) {
        RecordError(std::string(operation) + " of destroyed window " + Hex(Raw(window)));
        return nullptr;
    }
    return record;
}

WindowRecord* LiveDialog(WindowHandle dialog, const char* operation) {
    WindowRecord* record = Live(dialog, operation);
    if (record != nullptr && !record->info.isDialog) {
        RecordError(std::string(operation) + " on window " + Hex(Raw(dialog)) +
                    " that is not a dialog");
        return nullptr;
    }
    return record;
}

WindowRecord* ControlOf(WindowRecord& dialog, int id) {
    for (uintptr_t control : dialog.controls) {
        WindowRecord& record = S().ui.windows[control];
        if (record.info.id == id) {
            return &record;
        }
    }
    return nullptr;
}

bool IsEdit(const WindowRecord& control) {
    return EqualsNoCase(control.info.className, "Edit");
}

DialogResult Deliver(WindowRecord& dialog, uint32_t message, WParam wParam, LParam lParam) {
    if (dialog.procedure == nullptr || dialog.info.destroyed) {
        return 0;
    }
    return dialog.procedure(dialog.info.handle, message, wParam, lParam);
}

DialogResult Notify(WindowRecord& control, int notification) {
    WindowRecord* dialog = Find(control.info.parent);
    if (dialog == nullptr) {
        return 0;
    }
    return Deliver(*dialog, WM_COMMAND, MakeWParam(control.info.id, notification),
                   static_cast<LParam>(Raw(control.info.handle)));
}

// WM_SETTEXT of an edit control: the caret goes to the start and the parent
// hears EN_CHANGE before the call returns.
void SetText(WindowRecord& control, const std::string& text) {
    control.info.text = text;
    if (IsEdit(control)) {
        control.info.selStart = 0;
        control.info.selEnd = 0;
        Notify(control, EN_CHANGE);
    }
}

uintptr_t NewWindow(WindowInfo info) {
    UiState& ui = S().ui;
    uintptr_t handle = ui.nextWindow;
    ui.nextWindow += kHandleStep;
    info.handle = AsWindow(handle);
    info.zOrder = ui.nextZ++;
    WindowRecord& record = ui.windows[handle];
    record.info = info;
    ui.windowOrder.push_back(handle);
    return handle;
}

WindowRecord* Build(ModuleHandle module, const char* templateName, WindowHandle parent,
                    DialogProc procedure, bool modal) {
    const DialogTemplate* dialogTemplate = TemplateFor(module, templateName);
    if (dialogTemplate == nullptr) {
        return nullptr;
    }
    // Windows refuses a dialog whose owner is not a window (any more).
    if (parent != nullptr && !PlatformIsWindow(parent)) {
        return nullptr;
    }
    WindowInfo frame{};
    frame.parent = parent;
    frame.isDialog = true;
    frame.templateId = dialogTemplate->id;
    frame.templateName = dialogTemplate->name != nullptr ? dialogTemplate->name : "";
    frame.module = module;
    frame.modal = modal;
    frame.className = "#32770";
    frame.text = dialogTemplate->caption != nullptr ? dialogTemplate->caption : "";
    frame.style = dialogTemplate->style;
    frame.visible = modal || (dialogTemplate->style & kVisible) != 0;
    frame.rect = {UnitsToX(dialogTemplate->x), UnitsToY(dialogTemplate->y),
                  UnitsToX(dialogTemplate->x + dialogTemplate->width),
                  UnitsToY(dialogTemplate->y + dialogTemplate->height)};
    frame.selection = -1;
    uintptr_t dialogHandle = NewWindow(frame);
    std::vector<uintptr_t> controls;
    for (int i = 0; i < dialogTemplate->controlCount; ++i) {
        const ControlTemplate& item = dialogTemplate->controls[i];
        WindowInfo control{};
        control.parent = AsWindow(dialogHandle);
        control.className = item.className;
        control.id = item.id;
        control.text = item.text != nullptr ? item.text : "";
        control.style = item.style;
        control.visible = (item.style & kVisible) != 0;
        control.rect = {frame.rect.left + UnitsToX(item.x), frame.rect.top + UnitsToY(item.y),
                        frame.rect.left + UnitsToX(item.x + item.width),
                        frame.rect.top + UnitsToY(item.y + item.height)};
        control.selection = -1;
        control.scrollMax = 100; // a new scroll bar control's range is 0 to 100
        controls.push_back(NewWindow(control));
    }
    WindowRecord& dialog = S().ui.windows[dialogHandle];
    dialog.controls = controls;
    dialog.procedure = procedure;

    uintptr_t firstTabStop = 0;
    for (uintptr_t control : controls) {
        if ((S().ui.windows[control].info.style & kTabStop) != 0) {
            firstTabStop = control;
            break;
        }
    }
    // TRUE from WM_INITDIALOG asks Windows to focus the first tab stop.
    if (Deliver(dialog, WM_INITDIALOG, static_cast<WParam>(firstTabStop), 0) != 0 &&
        firstTabStop != 0 && !dialog.info.destroyed) {
        S().ui.focus = firstTabStop;
    }
    return &S().ui.windows[dialogHandle];
}

void Destroy(WindowRecord& window) {
    UiState& ui = S().ui;
    if (window.info.isDialog) {
        // Windows destroys the windows a dialog owns before the dialog.
        for (uintptr_t handle : std::vector<uintptr_t>(ui.windowOrder)) {
            WindowRecord& owned = ui.windows[handle];
            if (owned.info.isDialog && owned.info.parent == window.info.handle &&
                !owned.info.destroyed) {
                Destroy(owned);
            }
        }
        Deliver(window, WM_DESTROY, 0, 0);
        for (uintptr_t control : window.controls) {
            ui.windows[control].info.destroyed = true;
            ui.windows[control].info.visible = false;
            if (ui.focus == control) {
                ui.focus = 0;
            }
        }
    }
    window.info.destroyed = true;
    window.info.visible = false;
    if (ui.focus == Raw(window.info.handle)) {
        ui.focus = 0;
    }
}

void Replace(WindowRecord& edit, int start, int end, const std::string& text) {
    std::string& value = edit.info.text;
    value.replace(static_cast<size_t>(start), static_cast<size_t>(end - start), text);
    edit.info.selStart = edit.info.selEnd = start + static_cast<int>(text.size());
}

std::pair<int, int> Ordered(const WindowInfo& edit) {
    int length = static_cast<int>(edit.text.size());
    int a = std::clamp(edit.selStart, 0, length);
    int b = std::clamp(edit.selEnd, 0, length);
    return {std::min(a, b), std::max(a, b)};
}

WindowRecord* LiveControl(WindowHandle dialog, int id, const char* operation) {
    WindowRecord* record = LiveDialog(dialog, operation);
    if (record == nullptr) {
        return nullptr;
    }
    WindowRecord* control = ControlOf(*record, id);
    if (control == nullptr) {
        RecordError(std::string(operation) + ": dialog " + Hex(Raw(dialog)) + " has no control " +
                    std::to_string(id));
    }
    return control;
}

} // namespace

} // namespace host::detail

using namespace host::detail;
using host::WindowInfo;

WindowHandle PlatformCreateDialog(ModuleHandle module, const char* templateName,
                                  WindowHandle parent, DialogProc procedure) {
    WindowRecord* dialog = Build(module, templateName, parent, procedure, false);
    return dialog == nullptr || dialog->info.destroyed ? nullptr : dialog->info.handle;
}

DialogResult PlatformDialogBox(ModuleHandle module, const char* templateName, WindowHandle owner,
                               DialogProc procedure) {
    WindowRecord* built = Build(module, templateName, owner, procedure, true);
    if (built == nullptr) {
        return -1;
    }
    WindowHandle dialog = built->info.handle;
    if (!built->ended && !built->info.destroyed) {
        std::function<void(WindowHandle)> hook = S().ui.dialogBoxHook;
        if (hook) {
            hook(dialog);
        } else {
            host::PressButton(dialog, IDOK);
        }
    }
    WindowRecord& record = *Find(dialog);
    if (!record.ended) {
        RecordError("modal dialog " + Hex(Raw(dialog)) +
                    " was never ended: Windows would wait in it for ever");
    }
    if (!record.info.destroyed) {
        Destroy(record);
    }
    return record.ended ? record.endResult : -1;
}

bool PlatformEndDialog(WindowHandle dialog, DialogResult result) {
    WindowRecord* record = LiveDialog(dialog, "EndDialog");
    if (record == nullptr) {
        return false;
    }
    record->ended = true;
    record->endResult = result;
    record->info.visible = false; // a modeless dialog is only hidden by it
    return true;
}

bool PlatformDestroyWindow(WindowHandle window) {
    WindowRecord* record = Live(window, "DestroyWindow");
    if (record == nullptr) {
        return false;
    }
    Destroy(*record);
    return true;
}

bool PlatformShowWindow(WindowHandle window, int command) {
    WindowRecord* record = Live(window, "ShowWindow");
    if (record == nullptr) {
        return false;
    }
    bool wasVisible = record->info.visible;
    record->info.visible = command != SW_HIDE;
    return wasVisible;
}

bool PlatformUpdateWindow(WindowHandle window) {
    WindowRecord* record = Live(window, "UpdateWindow");
    if (record == nullptr) {
        return false;
    }
    ++record->info.updates;
    return true;
}

bool PlatformBringWindowToTop(WindowHandle window) {
    WindowRecord* record = Live(window, "BringWindowToTop");
    if (record == nullptr) {
        return false;
    }
    record->info.zOrder = S().ui.nextZ++;
    return true;
}

bool PlatformIsWindow(WindowHandle window) {
    if (window == nullptr) {
        return false;
    }
    if (IsApplicationWindow(window)) {
        return true;
    }
    WindowRecord* record = Find(window);
    return record != nullptr && !record->info.destroyed;
}

bool PlatformIsDialogMessage(WindowHandle dialog, PlatformMsg* message) {
    WindowRecord* record = Find(dialog);
    if (record == nullptr || record->info.destroyed || !record->info.isDialog ||
        message == nullptr) {
        return false;
    }
    WindowRecord* target = Find(message->hwnd);
    bool ours = message->hwnd == dialog ||
                (target != nullptr && target->info.parent == dialog && !target->info.isDialog);
    if (!ours) {
        return false;
    }
    if (message->message == WM_KEYDOWN && message->wParam == kKeyReturn) {
        // Enter presses the default push button, IDOK when there is none.
        int id = IDOK;
        for (uintptr_t control : record->controls) {
            const WindowInfo& info = S().ui.windows[control].info;
            if (EqualsNoCase(info.className, "Button") &&
                (info.style & kButtonTypeMask) == kDefPushButton) {
                id = info.id;
            }
        }
        Deliver(*record, WM_COMMAND, MakeWParam(id, kButtonClicked), 0);
    } else if (message->message == WM_KEYDOWN && message->wParam == kKeyEscape) {
        Deliver(*record, WM_COMMAND, MakeWParam(IDCANCEL, kButtonClicked), 0);
    } else if (message->message == WM_CHAR && target != nullptr && IsEdit(*target)) {
        host::TypeText(dialog, target->info.id, std::string(1, static_cast<char>(message->wParam)));
    } else if (message->message < kKeyFirst || message->message > kKeyLast) {
        if (message->hwnd == dialog) {
            Deliver(*record, message->message, message->wParam, message->lParam);
        }
    }
    return true;
}

WindowHandle PlatformGetDlgItem(WindowHandle dialog, int control) {
    WindowRecord* record = LiveDialog(dialog, "GetDlgItem");
    if (record == nullptr) {
        return nullptr;
    }
    WindowRecord* item = ControlOf(*record, control);
    return item == nullptr ? nullptr : item->info.handle;
}

bool PlatformSetDlgItemText(WindowHandle dialog, int control, const char* text) {
    WindowRecord* record = LiveDialog(dialog, "SetDlgItemText");
    WindowRecord* item = record == nullptr ? nullptr : ControlOf(*record, control);
    if (item == nullptr) {
        return false;
    }
    SetText(*item, text != nullptr ? text : "");
    return true;
}

uint32_t PlatformGetDlgItemText(WindowHandle dialog, int control, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        RecordError("GetDlgItemText without a buffer");
        return 0;
    }
    buffer[0] = '\0';
    WindowRecord* record = LiveDialog(dialog, "GetDlgItemText");
    WindowRecord* item = record == nullptr ? nullptr : ControlOf(*record, control);
    if (item == nullptr) {
        return 0;
    }
    size_t count = std::min(item->info.text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, item->info.text.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

LParam PlatformSendDlgItemMessage(WindowHandle dialog, int control, uint32_t message, WParam wParam,
                                  LParam lParam) {
    WindowRecord* record = LiveDialog(dialog, "SendDlgItemMessage");
    WindowRecord* item = record == nullptr ? nullptr : ControlOf(*record, control);
    if (item == nullptr) {
        return 0;
    }
    WindowInfo& info = item->info;
    switch (message) {
    case CB_ADDSTRING:
        info.items.push_back(lParam != 0 ? reinterpret_cast<const char*>(lParam) : "");
        return static_cast<LParam>(info.items.size() - 1);
    case CB_SETCURSEL: {
        auto index = static_cast<intptr_t>(wParam);
        if (index < 0 || index >= static_cast<intptr_t>(info.items.size())) {
            info.selection = -1;
            return kComboError;
        }
        info.selection = static_cast<int>(index);
        return index;
    }
    case CB_GETCURSEL:
        return info.selection;
    case CB_GETCOUNT:
        return static_cast<LParam>(info.items.size());
    case kComboResetContent:
        info.items.clear();
        info.selection = -1;
        return 0;
    case kComboGetLbText: {
        auto index = static_cast<size_t>(wParam);
        if (index >= info.items.size() || lParam == 0) {
            return kComboError;
        }
        std::strcpy(reinterpret_cast<char*>(lParam), info.items[index].c_str());
        return static_cast<LParam>(info.items[index].size());
    }
    case EM_SETSEL: {
        int length = static_cast<int>(info.text.size());
        auto start = static_cast<int>(static_cast<intptr_t>(wParam));
        auto end = static_cast<int>(lParam);
        if (start == -1) {
            info.selStart = info.selEnd; // no selection; the caret stays
            return 0;
        }
        info.selStart = std::clamp(start, 0, length);
        info.selEnd = end < 0 ? length : std::clamp(end, 0, length);
        return 0;
    }
    case kEditGetSel: {
        auto [start, end] = Ordered(info);
        if (wParam != 0) {
            *reinterpret_cast<uint32_t*>(wParam) = static_cast<uint32_t>(start);
        }
        if (lParam != 0) {
            *reinterpret_cast<uint32_t*>(lParam) = static_cast<uint32_t>(end);
        }
        return static_cast<LParam>(MakeWParam(start, end));
    }
    case kSetText:
        SetText(*item, lParam != 0 ? reinterpret_cast<const char*>(lParam) : "");
        return 1;
    case kGetText: {
        if (wParam == 0 || lParam == 0) {
            return 0;
        }
        size_t count = std::min(info.text.size(), static_cast<size_t>(wParam - 1));
        std::memcpy(reinterpret_cast<char*>(lParam), info.text.data(), count);
        reinterpret_cast<char*>(lParam)[count] = '\0';
        return static_cast<LParam>(count);
    }
    case kGetTextLength:
        return static_cast<LParam>(info.text.size());
    case kScrollSetPos:
        return PlatformSetScrollPos(info.handle, SB_CTL, static_cast<int>(wParam), lParam != 0);
    case kScrollGetPos:
        return info.scrollPos;
    case kScrollSetRange:
        PlatformSetScrollRange(info.handle, SB_CTL, static_cast<int>(wParam),
                               static_cast<int>(lParam), false);
        return 0;
    case BM_CLICK:
        Notify(*item, kButtonClicked);
        return 0;
    default:
        return 0;
    }
}

WindowHandle PlatformSetFocus(WindowHandle window) {
    UiState& ui = S().ui;
    WindowHandle previous = AsWindow(ui.focus);
    if (window == nullptr) {
        ui.focus = 0;
        return previous;
    }
    if (Live(window, "SetFocus") == nullptr) {
        return nullptr;
    }
    ui.focus = Raw(window);
    return previous;
}

bool PlatformSetScrollRange(WindowHandle window, int bar, int minimum, int maximum, bool redraw) {
    WindowRecord* record = Live(window, "SetScrollRange");
    if (record == nullptr) {
        return false;
    }
    record->info.scrollMin = minimum;
    record->info.scrollMax = maximum;
    record->info.scrollPos =
        std::clamp(record->info.scrollPos, std::min(minimum, maximum), std::max(minimum, maximum));
    return true;
}

int PlatformSetScrollPos(WindowHandle window, int bar, int position, bool redraw) {
    WindowRecord* record = Live(window, "SetScrollPos");
    if (record == nullptr) {
        return 0;
    }
    int previous = record->info.scrollPos;
    record->info.scrollPos =
        std::clamp(position, std::min(record->info.scrollMin, record->info.scrollMax),
                   std::max(record->info.scrollMin, record->info.scrollMax));
    return previous;
}

bool PlatformGetWindowRect(WindowHandle window, PlatformRect* rect) {
    if (rect == nullptr) {
        RecordError("GetWindowRect without a rectangle");
        return false;
    }
    if (IsApplicationWindow(window) && Find(window) == nullptr) {
        *rect = {0, 0, S().ui.displayWidth, S().ui.displayHeight};
        return true;
    }
    WindowRecord* record = Live(window, "GetWindowRect");
    if (record == nullptr) {
        return false;
    }
    *rect = record->info.rect;
    return true;
}

bool PlatformMoveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) {
    WindowRecord* record = Live(window, "MoveWindow");
    if (record == nullptr) {
        return false;
    }
    int left = x;
    int top = y;
    if (!record->info.isDialog) {
        // A control's position counts from its dialog.
        if (WindowRecord* dialog = Find(record->info.parent)) {
            left += dialog->info.rect.left;
            top += dialog->info.rect.top;
        }
    }
    int dx = left - record->info.rect.left;
    int dy = top - record->info.rect.top;
    record->info.rect = {left, top, left + width, top + height};
    if (record->info.isDialog) {
        for (uintptr_t control : record->controls) {
            PlatformRect& r = S().ui.windows[control].info.rect;
            r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
        }
    }
    return true;
}

namespace host {

std::vector<WindowInfo> Windows() {
    std::vector<WindowInfo> all;
    for (uintptr_t handle : S().ui.windowOrder) {
        all.push_back(S().ui.windows[handle].info);
    }
    return all;
}

std::optional<WindowInfo> Window(WindowHandle window) {
    WindowRecord* record = Find(window);
    if (record == nullptr) {
        return std::nullopt;
    }
    return record->info;
}

WindowHandle FindDialog(int templateId) {
    const std::vector<uintptr_t>& order = S().ui.windowOrder;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const WindowInfo& info = S().ui.windows[*it].info;
        if (info.isDialog && !info.destroyed && info.templateName.empty() &&
            info.templateId == templateId) {
            return info.handle;
        }
    }
    return nullptr;
}

WindowHandle FindDialog(const std::string& templateName) {
    const std::vector<uintptr_t>& order = S().ui.windowOrder;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const WindowInfo& info = S().ui.windows[*it].info;
        if (info.isDialog && !info.destroyed && info.templateName == templateName) {
            return info.handle;
        }
    }
    return nullptr;
}

WindowHandle Control(WindowHandle dialog, int id) {
    WindowRecord* record = Find(dialog);
    WindowRecord* control = record == nullptr ? nullptr : ControlOf(*record, id);
    return control == nullptr ? nullptr : control->info.handle;
}

std::string ControlText(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::ControlText");
    return control == nullptr ? std::string() : control->info.text;
}

bool IsControlVisible(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::IsControlVisible");
    return control != nullptr && control->info.visible;
}

std::vector<std::string> ComboItems(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::ComboItems");
    return control == nullptr ? std::vector<std::string>() : control->info.items;
}

int ComboSelection(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::ComboSelection");
    return control == nullptr ? -1 : control->info.selection;
}

int ScrollPosition(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::ScrollPosition");
    return control == nullptr ? 0 : control->info.scrollPos;
}

std::pair<int, int> ScrollRange(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::ScrollRange");
    return control == nullptr
               ? std::pair<int, int>()
               : std::pair<int, int>(control->info.scrollMin, control->info.scrollMax);
}

std::pair<int, int> EditSelection(WindowHandle dialog, int id) {
    WindowRecord* control = LiveControl(dialog, id, "host::EditSelection");
    if (control == nullptr) {
        return {};
    }
    int length = static_cast<int>(control->info.text.size());
    return {std::clamp(control->info.selStart, 0, length),
            std::clamp(control->info.selEnd, 0, length)};
}

WindowHandle Focus() {
    return AsWindow(S().ui.focus);
}

WindowHandle TopWindow() {
    WindowHandle top = nullptr;
    int highest = 0;
    for (const auto& entry : S().ui.windows) {
        const WindowInfo& info = entry.second.info;
        if (info.isDialog && !info.destroyed && info.zOrder > highest) {
            highest = info.zOrder;
            top = info.handle;
        }
    }
    return top;
}

DialogResult SendToDialog(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam) {
    WindowRecord* record = LiveDialog(dialog, "host::SendToDialog");
    return record == nullptr ? 0 : Deliver(*record, message, wParam, lParam);
}

DialogResult SendCommand(WindowHandle dialog, int id, int notification) {
    WindowRecord* record = LiveDialog(dialog, "host::SendCommand");
    if (record == nullptr) {
        return 0;
    }
    WindowRecord* control = ControlOf(*record, id);
    LParam from = control == nullptr ? 0 : static_cast<LParam>(Raw(control->info.handle));
    return Deliver(*record, WM_COMMAND, MakeWParam(id, notification), from);
}

DialogResult PressButton(WindowHandle dialog, int id) {
    return SendCommand(dialog, id, kButtonClicked);
}

DialogResult SelectComboItem(WindowHandle dialog, int id, int index) {
    WindowRecord* control = LiveControl(dialog, id, "host::SelectComboItem");
    if (control == nullptr) {
        return 0;
    }
    if (index < 0 || index >= static_cast<int>(control->info.items.size())) {
        RecordError("host::SelectComboItem: list " + std::to_string(id) + " has no item " +
                    std::to_string(index));
        return 0;
    }
    control->info.selection = index;
    return Notify(*control, CBN_SELCHANGE);
}

DialogResult Scroll(WindowHandle dialog, int id, int code, int position) {
    WindowRecord* control = LiveControl(dialog, id, "host::Scroll");
    if (control == nullptr) {
        return 0;
    }
    WindowRecord* record = Find(dialog);
    return Deliver(*record, WM_HSCROLL, MakeWParam(code, position),
                   static_cast<LParam>(Raw(control->info.handle)));
}

DialogResult CloseDialog(WindowHandle dialog) {
    return SendToDialog(dialog, WM_CLOSE, 0, 0);
}

void TypeText(WindowHandle dialog, int id, const std::string& characters) {
    WindowRecord* control = LiveControl(dialog, id, "host::TypeText");
    if (control == nullptr) {
        return;
    }
    if (!IsEdit(*control)) {
        RecordError("host::TypeText into control " + std::to_string(id) + " that is no edit box");
        return;
    }
    uintptr_t handle = Raw(control->info.handle);
    S().ui.focus = handle;
    for (char c : characters) {
        WindowRecord& edit = S().ui.windows[handle];
        if (edit.info.destroyed) {
            return;
        }
        auto [start, end] = Ordered(edit.info);
        if (c == '\b') {
            if (start == end && start > 0) {
                --start;
            }
            if (start == end) {
                continue; // nothing to delete: no change, no notification
            }
            Replace(edit, start, end, "");
        } else {
            Replace(edit, start, end, std::string(1, c));
        }
        Notify(edit, EN_CHANGE);
    }
}

void SetEditSelection(WindowHandle dialog, int id, int start, int end) {
    WindowRecord* control = LiveControl(dialog, id, "host::SetEditSelection");
    if (control != nullptr) {
        int length = static_cast<int>(control->info.text.size());
        control->info.selStart = std::clamp(start, 0, length);
        control->info.selEnd = end < 0 ? length : std::clamp(end, 0, length);
    }
}

void OnDialogBox(std::function<void(WindowHandle)> hook) {
    S().ui.dialogBoxHook = std::move(hook);
}

} // namespace host
