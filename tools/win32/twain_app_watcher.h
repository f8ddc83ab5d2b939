// The watcher thread: plays the user. It records every window the source
// shows (splash, settings dialog, About box, progress box, message boxes),
// answers message boxes, and plays a small script of dialog actions. It reads
// window texts with InternalGetWindowText, which does not wait for the
// application thread: that thread is often busy inside the source (the
// splash's one-second wait, a scan) when a window first appears.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "twain_app_log.h"
#include "twain_app_options.h"

namespace twain_app {

constexpr UINT kMarkerMessage = WM_APP + 1;  // lParam: sequence number to acknowledge
constexpr UINT kSetTextMessage = WM_APP + 2; // wParam: control, lParam: new std::string
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 0x0440;

constexpr int kSettingsScanButton = 712;
constexpr int kSettingsCloseButton = 713;
constexpr int kSettingsAboutButton = 711;
constexpr int kPaperList = 701;
constexpr int kScanTypeList = 702;
constexpr int kResolutionList = 703;
constexpr int kDuplexList = 704;
constexpr int kBrightnessScroll = 705;
constexpr int kBrightnessEdit = 706;
constexpr int kDuplexLabel = 720;
constexpr int kProductText = 732;
constexpr int kNotice1 = 733;
constexpr int kNotice2 = 734;
constexpr int kVersionText = 736;
constexpr int kProgressText = 737;

struct SharedState {
    const Options* options = nullptr;
    HWND appWindow = nullptr;
    volatile LONG markerAck = 0;
    volatile LONG markerNext = 0;
    volatile LONG busy = 0; // the application thread is inside a transfer batch
    volatile LONG stop = 0;
    volatile LONG boxesSeen = 0;
    volatile LONG scriptDone = 0;
    const char* volatile phase = "start";
    DWORD deadline = 0; // GetTickCount() value after which the process ends; 0: none
};

inline SharedState g_shared;

enum class WindowKind { kSettings, kAbout, kSplash, kProgress, kMessageBox, kDialog };

inline const char* KindName(WindowKind kind) {
    switch (kind) {
    case WindowKind::kSettings:
        return "settings";
    case WindowKind::kAbout:
        return "about";
    case WindowKind::kSplash:
        return "splash";
    case WindowKind::kProgress:
        return "progress";
    case WindowKind::kMessageBox:
        return "msgbox";
    default:
        return "dialog";
    }
}

struct TrackedWindow {
    HWND hwnd = nullptr;
    WindowKind kind = WindowKind::kDialog;
    DWORD firstSeen = 0;
    bool shown = false;    // its "shown" line has been written
    std::string signature; // texts as last logged
    std::string pending;   // texts as last read
    DWORD pendingSince = 0;
    DWORD shownAt = 0;
    bool answered = false;
    int number = 0; // message boxes are numbered in order of appearance
    bool present = false;
    LONG stateMarker = 0; // settings dialog: marker sent before its first UI_STATE
    bool stateLogged = false;
};

inline std::vector<TrackedWindow> g_windows;
inline int g_boxNumber = 0;

inline std::string WindowText(HWND hwnd) {
    if (hwnd == nullptr) {
        return "";
    }
    WCHAR wide[1024];
    int length = InternalGetWindowText(hwnd, wide, 1024);
    if (length <= 0) {
        return "";
    }
    char narrow[2048];
    int bytes =
        WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, sizeof narrow, nullptr, nullptr);
    return std::string(narrow, bytes > 0 ? static_cast<size_t>(bytes) : 0);
}

inline std::string ChildText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

inline bool HasChild(HWND dialog, int id) {
    return GetDlgItem(dialog, id) != nullptr;
}

inline WindowKind Classify(HWND hwnd) {
    if (HasChild(hwnd, kSettingsScanButton) && HasChild(hwnd, kPaperList)) {
        return WindowKind::kSettings;
    }
    if (HasChild(hwnd, kNotice1) || (HasChild(hwnd, kVersionText) && HasChild(hwnd, IDOK))) {
        return WindowKind::kAbout;
    }
    if (HasChild(hwnd, kVersionText) && HasChild(hwnd, kProductText)) {
        return WindowKind::kSplash;
    }
    if (HasChild(hwnd, kProgressText)) {
        return WindowKind::kProgress;
    }
    if (HasChild(hwnd, kMessageBoxTextId)) {
        return WindowKind::kMessageBox;
    }
    return WindowKind::kDialog;
}

inline TrackedWindow* FindTracked(HWND hwnd) {
    for (TrackedWindow& window : g_windows) {
        if (window.hwnd == hwnd) {
            return &window;
        }
    }
    return nullptr;
}

inline HWND FindKind(WindowKind kind) {
    for (const TrackedWindow& window : g_windows) {
        if (window.kind == kind && window.present && IsWindow(window.hwnd)) {
            return window.hwnd;
        }
    }
    return nullptr;
}

inline std::string DescribeOwner(HWND owner) {
    if (owner == nullptr) {
        return "none";
    }
    if (owner == g_shared.appWindow) {
        return "app";
    }
    if (TrackedWindow* tracked = FindTracked(owner)) {
        return KindName(tracked->kind);
    }
    return "other";
}

inline std::string RectText(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right - rect.left) + "," + std::to_string(rect.bottom - rect.top);
}

inline LRESULT SendWithTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                               bool* ok = nullptr) {
    DWORD_PTR result = 0;
    LRESULT sent = SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                       3000, &result);
    if (ok != nullptr) {
        *ok = sent != 0;
    }
    return static_cast<LRESULT>(result);
}

inline std::string MessageBoxIcon(HWND box) {
    HWND icon = GetDlgItem(box, kMessageBoxIconId);
    if (icon == nullptr || !IsWindowVisible(icon)) {
        return "none";
    }
    HICON shown = reinterpret_cast<HICON>(SendWithTimeout(icon, STM_GETICON, 0, 0));
    if (shown == nullptr) {
        return "none";
    }
    struct {
        LPCSTR id;
        const char* name;
    } const icons[] = {{IDI_HAND, "stop"},
                       {IDI_EXCLAMATION, "exclamation"},
                       {IDI_ASTERISK, "information"},
                       {IDI_QUESTION, "question"}};
    for (const auto& candidate : icons) {
        if (LoadIconA(nullptr, candidate.id) == shown) {
            return candidate.name;
        }
    }
    return "other";
}

inline std::string MessageBoxButtons(HWND box) {
    struct {
        int id;
        const char* name;
    } const buttons[] = {{IDOK, "OK"},       {IDCANCEL, "CANCEL"}, {IDABORT, "ABORT"},
                         {IDRETRY, "RETRY"}, {IDIGNORE, "IGNORE"}, {IDYES, "YES"},
                         {IDNO, "NO"},       {IDHELP, "HELP"}};
    std::string text;
    for (const auto& button : buttons) {
        HWND control = GetDlgItem(box, button.id);
        if (control != nullptr && IsWindowVisible(control)) {
            text += text.empty() ? "" : ",";
            text += button.name;
        }
    }
    return text.empty() ? "-" : text;
}

inline BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
    auto* text = reinterpret_cast<std::string*>(context);
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (!text->empty()) {
        *text += ",";
    }
    *text += std::to_string(GetDlgCtrlID(child)) + ":" + className + ":" + Quote(WindowText(child));
    return TRUE;
}

// An unknown dialog is described by its controls: id, class and text of each.
inline std::string DescribeChildren(HWND dialog) {
    std::string text;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&text));
    return "[" + text + "]";
}

// The texts that identify what a window shows; a change is logged.
inline std::string Signature(const TrackedWindow& window) {
    HWND h = window.hwnd;
    std::string text = WindowText(h) + "|" + (IsWindowVisible(h) ? "1" : "0");
    switch (window.kind) {
    case WindowKind::kSplash:
        return text + "|" + ChildText(h, kProductText) + "|" + ChildText(h, kVersionText) + "|" +
               ChildText(h, kMessageBoxTextId);
    case WindowKind::kAbout:
        return text + "|" + ChildText(h, kProductText) + "|" + ChildText(h, kVersionText) + "|" +
               ChildText(h, kNotice1) + "|" + ChildText(h, kNotice2);
    case WindowKind::kProgress:
        return text + "|" + ChildText(h, kProgressText);
    case WindowKind::kMessageBox:
        return text + "|" + ChildText(h, kMessageBoxTextId);
    default:
        return text;
    }
}

inline void LogUiState(HWND dialog, const char* reason) {
    Line line("UI_STATE");
    line.Raw("reason", reason);
    // The dialog answers only while the application thread pumps messages;
    // a value that did not come back in time is reported as incomplete.
    bool complete = true;
    auto ask = [&](HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
        bool ok = false;
        LRESULT result = SendWithTimeout(control, message, wParam, lParam, &ok);
        complete = complete && ok;
        return result;
    };
    if (dialog == nullptr || !IsWindow(dialog)) {
        line.Raw("dialog", "none").Emit();
        return;
    }
    const struct {
        int id;
        const char* name;
    } lists[] = {{kPaperList, "paper"},
                 {kScanTypeList, "scan_type"},
                 {kResolutionList, "resolution"},
                 {kDuplexList, "duplex"}};
    for (const auto& list : lists) {
        HWND control = GetDlgItem(dialog, list.id);
        if (control == nullptr) {
            line.Raw(list.name, "missing");
            continue;
        }
        LRESULT selection = ask(control, CB_GETCURSEL, 0, 0);
        LRESULT count = ask(control, CB_GETCOUNT, 0, 0);
        line.Int(list.name, selection);
        std::string key = std::string(list.name) + "_count";
        line.Int(key.c_str(), count);
        char item[256] = "";
        if (selection >= 0 &&
            ask(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0) < 255) {
            ask(control, CB_GETLBTEXT, static_cast<WPARAM>(selection),
                reinterpret_cast<LPARAM>(item));
        }
        key = std::string(list.name) + "_text";
        line.Str(key.c_str(), item);
    }
    line.Int("duplex_visible", IsWindowVisible(GetDlgItem(dialog, kDuplexList)) ? 1 : 0);
    line.Int("duplex_label_visible", IsWindowVisible(GetDlgItem(dialog, kDuplexLabel)) ? 1 : 0);
    HWND edit = GetDlgItem(dialog, kBrightnessEdit);
    char text[128] = "";
    if (edit != nullptr) {
        ask(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        DWORD start = 0;
        DWORD end = 0;
        ask(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        line.Str("brightness_text", text);
        line.Raw("brightness_sel", std::to_string(start) + "," + std::to_string(end));
    }
    HWND scroll = GetDlgItem(dialog, kBrightnessScroll);
    if (scroll != nullptr) {
        int low = 0;
        int high = 0;
        line.Int("scroll_pos", ask(scroll, SBM_GETPOS, 0, 0));
        ask(scroll, SBM_GETRANGE, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
        line.Raw("scroll_range", std::to_string(low) + "," + std::to_string(high));
    }
    line.Str("caption", WindowText(dialog));
    line.Int("complete", complete ? 1 : 0);
    line.Emit();
}

struct ControlsContext {
    HWND dialog;
    int count;
};

inline BOOL CALLBACK LogControl(HWND child, LPARAM context) {
    auto* controls = reinterpret_cast<ControlsContext*>(context);
    if (GetParent(child) != controls->dialog) {
        return TRUE; // a combo box's own edit or list
    }
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, controls->dialog, reinterpret_cast<POINT*>(&rect), 2);
    // An edit box keeps its text to itself: it is asked for it.
    std::string text = WindowText(child);
    if (_stricmp(className, "Edit") == 0) {
        char edited[256] = "";
        SendWithTimeout(child, WM_GETTEXT, sizeof edited, reinterpret_cast<LPARAM>(edited));
        text = edited;
    }
    Line line("CONTROL");
    line.Int("id", GetDlgCtrlID(child)).Raw("class", className);
    line.Str("text", text).Int("visible", IsWindowVisible(child) ? 1 : 0);
    line.Raw("rect", std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                         std::to_string(rect.right - rect.left) + "," +
                         std::to_string(rect.bottom - rect.top));
    if (_stricmp(className, "ComboBox") == 0) {
        std::string items;
        LRESULT count = SendWithTimeout(child, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count && i < 100; ++i) {
            char item[256] = "";
            if (SendWithTimeout(child, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 255) {
                SendWithTimeout(child, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                reinterpret_cast<LPARAM>(item));
            }
            items += (i ? "|" : "") + std::string(item);
        }
        line.Str("items", items);
    }
    line.Emit();
    ++controls->count;
    return TRUE;
}

// Every control of a dialog, in the order of its template: id, class, text,
// whether it is shown, its rectangle in the dialog's pixels, a list's items.
inline void LogControls(HWND dialog) {
    ControlsContext context{dialog, 0};
    EnumChildWindows(dialog, LogControl, reinterpret_cast<LPARAM>(&context));
    Line("CONTROLS").Raw("kind", KindName(Classify(dialog))).Int("count", context.count).Emit();
}

inline void LogWindowShown(TrackedWindow& window, const char* event) {
    HWND h = window.hwnd;
    Line line("WINDOW");
    line.Raw("event", event).Raw("kind", KindName(window.kind)).Raw("hwnd", HexPtr(h));
    line.Str("caption", WindowText(h));
    line.Raw("owner", DescribeOwner(GetWindow(h, GW_OWNER)));
    line.Raw("rect", RectText(h));
    line.Int("visible", IsWindowVisible(h) ? 1 : 0);
    switch (window.kind) {
    case WindowKind::kSplash:
        line.Str("product", ChildText(h, kProductText)).Str("version", ChildText(h, kVersionText));
        line.Str("status", ChildText(h, kMessageBoxTextId));
        break;
    case WindowKind::kAbout:
        line.Str("product", ChildText(h, kProductText)).Str("version", ChildText(h, kVersionText));
        line.Str("notice1", ChildText(h, kNotice1)).Str("notice2", ChildText(h, kNotice2));
        break;
    case WindowKind::kProgress:
        line.Str("text", ChildText(h, kProgressText));
        break;
    case WindowKind::kDialog:
        line.Raw("controls", DescribeChildren(h));
        break;
    default:
        break;
    }
    line.Emit();
}

inline void LogMessageBox(TrackedWindow& window) {
    HWND h = window.hwnd;
    HWND owner = GetWindow(h, GW_OWNER);
    Line line("MSGBOX");
    line.Int("n", window.number).Raw("hwnd", HexPtr(h));
    line.Str("caption", WindowText(h));
    line.Str("text", ChildText(h, kMessageBoxTextId));
    line.Raw("owner", DescribeOwner(owner)).Raw("owner_hwnd", HexPtr(owner));
    line.Raw("icon", MessageBoxIcon(h)).Raw("buttons", MessageBoxButtons(h));
    line.Str("phase", g_shared.phase);
    line.Emit();
}

inline BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM context) {
    auto* found = reinterpret_cast<std::vector<HWND>*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process != GetCurrentProcessId() || hwnd == g_shared.appWindow) {
        return TRUE;
    }
    char className[64] = "";
    GetClassNameA(hwnd, className, sizeof className);
    if (strcmp(className, "#32770") == 0) {
        found->push_back(hwnd);
    }
    return TRUE;
}

inline void CheckDeadline() {
    if (g_shared.deadline != 0 && static_cast<LONG>(GetTickCount() - g_shared.deadline) > 0) {
        Line("TIMEOUT").Str("phase", g_shared.phase).Emit();
        LogClose();
        TerminateProcess(GetCurrentProcess(), 5);
    }
}

// One look at the desktop: new windows, changed texts, windows gone, boxes
// to answer.
inline void ScanWindows() {
    CheckDeadline();
    const Options& options = *g_shared.options;
    std::vector<HWND> found;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
    DWORD now = GetTickCount();
    for (TrackedWindow& window : g_windows) {
        window.present = false;
    }
    for (HWND hwnd : found) {
        TrackedWindow* window = FindTracked(hwnd);
        if (window == nullptr) {
            TrackedWindow added;
            added.hwnd = hwnd;
            added.kind = Classify(hwnd);
            added.firstSeen = now;
            g_windows.push_back(added);
            window = &g_windows.back();
        }
        window->present = true;
    }
    for (size_t i = 0; i < g_windows.size();) {
        TrackedWindow& window = g_windows[i];
        if (!window.present || !IsWindow(window.hwnd)) {
            if (window.shown) {
                Line("WINDOW")
                    .Raw("event", "gone")
                    .Raw("kind", KindName(window.kind))
                    .Raw("hwnd", HexPtr(window.hwnd))
                    .Int("lifetime_ms", static_cast<long long>(now - window.firstSeen))
                    .Emit();
            }
            g_windows.erase(g_windows.begin() + static_cast<long>(i));
            continue;
        }
        ++i;
    }
    for (TrackedWindow& window : g_windows) {
        // Found while its creator is still adding controls, a dialog is known
        // for what it is only once it is about to be shown.
        if (!window.shown) {
            window.kind = Classify(window.hwnd);
        } else if (window.kind == WindowKind::kDialog) {
            WindowKind kind = Classify(window.hwnd);
            if (kind != WindowKind::kDialog) {
                window.kind = kind;
                window.shown = false; // logged again, now as what it is
            }
        }
        std::string signature = Signature(window);
        if (signature != window.pending) {
            window.pending = signature;
            window.pendingSince = now;
        }
        // A window is logged once its texts have held still for a moment: a
        // dialog is visible before its creator has filled in all texts.
        bool visible = IsWindowVisible(window.hwnd) != FALSE;
        bool settled = now - window.pendingSince >= 30;
        if (!window.shown && visible && settled) {
            window.shown = true;
            window.shownAt = now;
            window.signature = signature;
            if (window.kind == WindowKind::kMessageBox) {
                window.number = ++g_boxNumber;
                LogMessageBox(window);
                InterlockedIncrement(&g_shared.boxesSeen);
            } else {
                LogWindowShown(window, "shown");
            }
        } else if (window.shown && settled && signature != window.signature &&
                   window.kind != WindowKind::kMessageBox) {
            window.signature = signature;
            LogWindowShown(window, "changed");
        }
        // The first UI_STATE waits until the application thread pumps again
        // (it is still inside MSG_ENABLEDS when the dialog appears).
        if (window.kind == WindowKind::kSettings && window.shown && !window.stateLogged) {
            if (window.stateMarker == 0) {
                window.stateMarker = InterlockedIncrement(&g_shared.markerNext);
                PostMessageA(g_shared.appWindow, kMarkerMessage, 0, window.stateMarker);
            } else if (g_shared.markerAck >= window.stateMarker) {
                window.stateLogged = true;
                LogUiState(window.hwnd, "shown");
            }
        }
        if (!window.shown || window.answered) {
            continue;
        }
        if (window.kind == WindowKind::kMessageBox &&
            now - window.shownAt >= static_cast<DWORD>(options.boxDelayMs)) {
            window.answered = true;
            PostMessageA(window.hwnd, WM_COMMAND, static_cast<WPARAM>(options.boxAnswer), 0);
            Line("MSGBOX_ANSWER").Int("n", window.number).Int("button", options.boxAnswer).Emit();
        } else if (window.kind == WindowKind::kAbout && options.autoAbout &&
                   now - window.shownAt >= static_cast<DWORD>(options.aboutDelayMs)) {
            window.answered = true;
            PostMessageA(window.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(window.hwnd, IDOK)));
            Line("WINDOW").Raw("event", "answer").Raw("kind", "about").Raw("button", "IDOK").Emit();
        }
    }
}

// Keeps watching while waiting; returns early when `done` holds.
template <typename Condition> inline bool WatchUntil(Condition done, DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (true) {
        ScanWindows();
        if (done()) {
            return true;
        }
        if (g_shared.stop || GetTickCount() - start >= milliseconds) {
            return done();
        }
        Sleep(10);
    }
}

inline HWND FindShown(WindowKind kind) {
    for (const TrackedWindow& window : g_windows) {
        if (window.kind == kind && window.present && window.shown && IsWindow(window.hwnd)) {
            return window.hwnd;
        }
    }
    return nullptr;
}

inline bool AnyOpenBox() {
    for (const TrackedWindow& window : g_windows) {
        if (window.present &&
            (window.kind == WindowKind::kMessageBox || window.kind == WindowKind::kAbout)) {
            return true;
        }
    }
    return false;
}

// Waits until the application thread has handled everything the last action
// caused: two marker messages in a row come back with no message box shown in
// between, no box open, and no transfer running. When the action ended the
// enabled session (Close, or Scan without --stay), the settings dialog goes
// away and the application thread stops pumping: that counts as settled too.
inline const char* Settle(DWORD milliseconds) {
    DWORD start = GetTickCount();
    auto left = [&] {
        DWORD spent = GetTickCount() - start;
        return spent >= milliseconds ? 0 : milliseconds - spent;
    };
    auto ended = [] { return FindKind(WindowKind::kSettings) == nullptr && g_shared.busy == 0; };
    int clean = 0;
    while (clean < 2) {
        if (g_shared.stop) {
            return ended() ? "dialog-gone" : "aborted";
        }
        if (left() == 0) {
            return "timeout";
        }
        LONG boxesBefore = g_shared.boxesSeen;
        LONG sequence = InterlockedIncrement(&g_shared.markerNext);
        PostMessageA(g_shared.appWindow, kMarkerMessage, 0, sequence);
        WatchUntil([&] { return g_shared.markerAck >= sequence || ended(); }, left());
        if (g_shared.markerAck < sequence) {
            if (ended()) {
                return "dialog-gone";
            }
            continue;
        }
        WatchUntil([] { return !AnyOpenBox() && g_shared.busy == 0; }, left());
        if (AnyOpenBox() || g_shared.busy != 0) {
            continue;
        }
        clean = g_shared.boxesSeen == boxesBefore ? clean + 1 : 0;
    }
    return "ok";
}

inline std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 'b' ? '\b' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

inline void RunAction(const UiAction& action, int number) {
    const Options& options = *g_shared.options;
    const std::string& verb = action.verb;
    Line result("UI_ACTION");
    result.Int("n", number).Str("action", action.text);
    if (verb == "sleep") {
        WatchUntil([] { return false; }, static_cast<DWORD>(action.control));
        result.Raw("result", "ok").Emit();
        return;
    }
    if (verb == "wait") {
        bool ok = false;
        DWORD wait = static_cast<DWORD>(options.uiWaitMs);
        if (action.argument == "gone") {
            ok = WatchUntil([] { return FindKind(WindowKind::kSettings) == nullptr; }, wait);
        } else if (action.argument == "settings") {
            ok = WatchUntil([] { return FindShown(WindowKind::kSettings) != nullptr; }, wait);
        } else {
            LONG before = g_shared.boxesSeen;
            ok = WatchUntil([&] { return g_shared.boxesSeen > before; }, wait);
        }
        result.Raw("result", ok ? "ok" : "timeout").Emit();
        return;
    }
    HWND dialog = nullptr;
    WatchUntil(
        [&] {
            dialog = FindShown(WindowKind::kSettings);
            return dialog != nullptr;
        },
        static_cast<DWORD>(options.uiWaitMs));
    if (dialog == nullptr) {
        result.Raw("result", g_shared.stop ? "aborted" : "no-dialog").Emit();
        return;
    }
    if (options.uiDelayMs > 0) {
        WatchUntil([] { return false; }, static_cast<DWORD>(options.uiDelayMs));
    }
    if (verb == "controls") {
        LogControls(dialog);
        result.Raw("result", "ok").Emit();
        return;
    }
    if (verb == "state") {
        LogUiState(dialog, "action");
        result.Raw("result", "ok").Emit();
        return;
    }
    int id = verb == "scan"      ? kSettingsScanButton
             : verb == "close"   ? kSettingsCloseButton
             : verb == "about"   ? kSettingsAboutButton
             : verb == "hscroll" ? kBrightnessScroll
                                 : action.control;
    HWND control = id == 0 ? dialog : GetDlgItem(dialog, id);
    if (control == nullptr) {
        result.Raw("result", "no-control").Emit();
        return;
    }
    if (verb == "click" || verb == "scan" || verb == "close" || verb == "about") {
        PostMessageA(control, BM_CLICK, 0, 0);
    } else if (verb == "command") {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    } else if (verb == "select") {
        long index = strtol(action.argument.c_str(), nullptr, 0);
        SendWithTimeout(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
    } else if (verb == "type") {
        // The caret goes to the end of the text, as after a click into the box.
        PostMessageA(control, EM_SETSEL, 0x7FFF, 0x7FFF);
        for (char c : Unescape(action.argument)) {
            PostMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
            if (strcmp(Settle(static_cast<DWORD>(options.uiWaitMs)), "ok") != 0) {
                break;
            }
        }
    } else if (verb == "settext") {
        PostMessageA(g_shared.appWindow, kSetTextMessage, reinterpret_cast<WPARAM>(control),
                     reinterpret_cast<LPARAM>(new std::string(Unescape(action.argument))));
    } else if (verb == "key") {
        WPARAM key = static_cast<WPARAM>(strtol(action.argument.c_str(), nullptr, 0));
        UINT scan = MapVirtualKeyA(static_cast<UINT>(key), 0);
        PostMessageA(control, WM_KEYDOWN, key, 1 | (scan << 16));
        PostMessageA(control, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
    } else if (verb == "hscroll") {
        PostMessageA(dialog, WM_HSCROLL, static_cast<WPARAM>(action.control),
                     reinterpret_cast<LPARAM>(control));
    }
    if (verb == "about") {
        bool seen = WatchUntil([] { return FindShown(WindowKind::kAbout) != nullptr; },
                               static_cast<DWORD>(options.uiWaitMs));
        result.Int("about_seen", seen ? 1 : 0);
    }
    result.Raw("result", Settle(static_cast<DWORD>(options.uiWaitMs))).Emit();
    HWND still = FindKind(WindowKind::kSettings);
    if (still != nullptr) {
        LogUiState(still, "after-action");
    }
}

inline DWORD WINAPI WatcherThread(LPVOID) {
    const Options& options = *g_shared.options;
    int number = 0;
    for (const UiAction& action : options.script) {
        if (g_shared.stop) {
            Line("UI_ACTION")
                .Int("n", ++number)
                .Str("action", action.text)
                .Raw("result", "aborted")
                .Emit();
            continue;
        }
        RunAction(action, ++number);
    }
    InterlockedExchange(&g_shared.scriptDone, 1);
    while (!g_shared.stop) {
        ScanWindows();
        Sleep(10);
    }
    ScanWindows();
    return 0;
}

} // namespace twain_app
