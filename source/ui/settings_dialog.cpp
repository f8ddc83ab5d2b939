#include "ui/settings_dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/acquisition.h"
#include "device/channel.h"
#include "device/commands.h"
#include "resources/resource_ids.h"
#include "twain/notifications.h"
#include "twain/startup.h"
#include "twain/states.h"
#include "ui/settings.h"
#include "ui/small_dialogs.h"
#include "ui/tables.h"

WindowHandle RememberedDialogWindow = nullptr;

namespace {

constexpr DialogResult kHandled = 1;
constexpr DialogResult kNotHandled = 0;
constexpr int kCentreOnScreen = 1;
constexpr int kBrightnessLow = -4;
constexpr int kBrightnessHigh = 4;
constexpr int kBrightnessMaxLength = 2;
constexpr int kListItemSize = 20;   // 19 characters and the NUL
constexpr int kFieldTextSize = 128; // what the range and presence checks read
constexpr int kMessageTextSize = 128;
constexpr int kWindowsDirectorySize = 144;
constexpr int kHelpPathSize = 100; // string 204, 99 characters and the NUL
constexpr int kPixelMode = 600;
constexpr int kScanTypes = 2;    // B/W, Photo
constexpr int kDuplexValues = 2; // off, on
constexpr int kValueDigits = 6;  // more than any value in range needs; the sum cannot overflow

// The last brightness text the filter let through: at most two characters.
char LastAcceptedBrightness[kBrightnessMaxLength + 1] = "";

int LowWord(WParam value) {
    return static_cast<int>(value & 0xFFFF);
}
int HighWord(WParam value) {
    return static_cast<int>((value >> 16) & 0xFFFF);
}

bool IsFieldCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '-';
}

// An optional leading minus and the digits after it; 0 when there are none.
int FieldValue(const char* text) {
    bool negative = text[0] == '-';
    int value = 0;
    int digits = 0;
    for (const char* c = text + (negative ? 1 : 0); *c >= '0' && *c <= '9'; ++c) {
        if (digits < kValueDigits) {
            value = value * 10 + (*c - '0');
            ++digits;
        }
    }
    return negative ? -value : value;
}

bool IsEmptyOrLoneMinus(const char* text) {
    return text[0] == '\0' || (text[0] == '-' && text[1] == '\0');
}

void SetBrightnessThumb(WindowHandle dialog) {
    PlatformSetScrollPos(PlatformGetDlgItem(dialog, IDC_BRIGHTNESS_SCROLL), SB_CTL,
                         ScanSettings.Brightness, true);
}

void SetBrightnessText(WindowHandle dialog) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(ScanSettings.Brightness));
    PlatformSetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, text);
}

// The message text may come from the companion library, so it is not trusted
// as a printf format: only its two %d take the bounds, and %% a percent sign.
void FormatBounds(const char* format, int low, int high, char* out, size_t size) {
    const int bounds[2] = {low, high};
    int used = 0;
    size_t length = 0;
    for (const char* c = format; *c != '\0' && length + 1 < size; ++c) {
        if (c[0] == '%' && c[1] == 'd' && used < 2) {
            int written = std::snprintf(out + length, size - length, "%d", bounds[used++]);
            length =
                written < 0 ? length : std::min(size - 1, length + static_cast<size_t>(written));
            ++c;
        } else if (c[0] == '%' && c[1] == '%') {
            out[length++] = '%';
            ++c;
        } else {
            out[length++] = *c;
        }
    }
    out[length] = '\0';
}

// Message 219 with the bounds, then the box's whole text selected and focused
// so that the user can type over it.
void ShowFieldMessage(WindowHandle dialog, int control, int messageId, int low, int high) {
    char format[kMessageTextSize] = {};
    if (PlatformLoadString(ResourceModule, messageId, format, kMessageTextSize) > 0) {
        char text[kMessageTextSize + 32];
        FormatBounds(format, low, high, text, sizeof text);
        PlatformMessageBox(dialog, text, SectionName(), MB_OK);
    }
    PlatformSendDlgItemMessage(dialog, control, EM_SETSEL, 0, -1);
    PlatformSetFocus(PlatformGetDlgItem(dialog, control));
}

// Puts a new text into the box (which runs these rules again) and the caret at position.
void ReplaceFieldText(WindowHandle dialog, int control, const char* text, int position) {
    PlatformSetDlgItemText(dialog, control, text);
    PlatformSendDlgItemMessage(dialog, control, EM_SETSEL, static_cast<WParam>(position), position);
}

// The rules that run on every change of the brightness box's text, typed or set.
void BrightnessTextChanged(WindowHandle dialog) {
    char shown[kBrightnessMaxLength + 2] = {}; // the first three characters
    PlatformGetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, shown, sizeof shown);
    FilterNumericField(dialog, shown, IDC_BRIGHTNESS_EDIT, kBrightnessMaxLength);
    if (!ValidateFieldRange(dialog, IDC_BRIGHTNESS_EDIT, IDS_INVALID_VALUE, kBrightnessLow,
                            kBrightnessHigh)) {
        SetBrightnessText(dialog);
        SetBrightnessThumb(dialog);
        return;
    }
    char text[kFieldTextSize] = {};
    PlatformGetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, text, kFieldTextSize);
    if (IsEmptyOrLoneMinus(text)) {
        return;
    }
    ScanSettings.Brightness = FieldValue(text);
    SetBrightnessThumb(dialog);
}

// A list holds its items once, however often the dialog is initialised.
void FillList(WindowHandle dialog, int control, int firstString, int count, int selected) {
    PlatformSendDlgItemMessage(dialog, control, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; ++i) {
        char item[kListItemSize] = {};
        PlatformLoadString(ResourceModule, firstString + i, item, kListItemSize);
        PlatformSendDlgItemMessage(dialog, control, CB_ADDSTRING, 0,
                                   reinterpret_cast<LParam>(item));
    }
    PlatformSendDlgItemMessage(dialog, control, CB_SETCURSEL, static_cast<WParam>(selected), 0);
}

void InitialiseDialog(WindowHandle dialog) {
    RememberedDialogWindow = dialog;
    PlaceWindow(dialog, kCentreOnScreen);
    FillList(dialog, IDC_PAPER_LIST, IDS_PAPER_FIRST, static_cast<int>(PaperTable.size()),
             ScanSettings.PaperIndex);
    FillList(dialog, IDC_SCANTYPE_LIST, IDS_SCAN_TYPE_FIRST, kScanTypes, ScanSettings.ScanType);
    FillList(dialog, IDC_RESOLUTION_LIST, IDS_RESOLUTION_FIRST,
             static_cast<int>(ResolutionTable.size()), ScanSettings.ResolutionIndex);
    FillList(dialog, IDC_DUPLEX_LIST, IDS_DUPLEX_FIRST, kDuplexValues, ScanSettings.Duplex);
    if (DuplexUnitPresent == 0) {
        // The duplex setting itself stays as loaded; the scanner's feeder check judges it.
        PlatformShowWindow(PlatformGetDlgItem(dialog, IDC_DUPLEX_LABEL), SW_HIDE);
        PlatformShowWindow(PlatformGetDlgItem(dialog, IDC_DUPLEX_LIST), SW_HIDE);
    }
    SetBrightnessText(dialog);
    WindowHandle scroll = PlatformGetDlgItem(dialog, IDC_BRIGHTNESS_SCROLL);
    PlatformSetScrollRange(scroll, SB_CTL, kBrightnessLow, kBrightnessHigh, false);
    PlatformSetScrollPos(scroll, SB_CTL, ScanSettings.Brightness, true);
}

// A list's new selection, or -1 when it names no item of the list or none of
// the setting's `values`: the setting indexes its table, whatever items the
// list has come to hold (another program may add some).
int ListSelection(WindowHandle dialog, int control, int values) {
    auto selected = PlatformSendDlgItemMessage(dialog, control, CB_GETCURSEL, 0, 0);
    auto count = PlatformSendDlgItemMessage(dialog, control, CB_GETCOUNT, 0, 0);
    return selected >= 0 && selected < count && selected < values ? static_cast<int>(selected) : -1;
}

void ListChanged(WindowHandle dialog, int control, int32_t* setting, int values) {
    int selected = ListSelection(dialog, control, values);
    if (selected >= 0 && selected != *setting) {
        *setting = selected;
    }
}

void ShowHelp(WindowHandle dialog) {
    char path[kWindowsDirectorySize + kHelpPathSize] = {};
    uint32_t length = PlatformGetWindowsDirectory(path, kWindowsDirectorySize);
    if (length >= kWindowsDirectorySize) {
        length = 0; // a directory the buffer cannot hold leaves the bare file path
        path[0] = '\0';
    }
    PlatformLoadString(OwnModule, IDS_HELP_PATH, path + length, kHelpPathSize);
    PlatformHtmlHelp(dialog, path, HH_DISPLAY_TOPIC, 0);
}

// Scan does not scan: it prepares the parameters, checks the scanner and
// tells the application that a page is ready to be asked for.
void Scan(WindowHandle dialog) {
    if (!ValidateFieldPresent(dialog, IDC_BRIGHTNESS_EDIT, IDS_INVALID_VALUE, kBrightnessLow,
                              kBrightnessHigh)) {
        SetBrightnessText(dialog);
        SetBrightnessThumb(dialog);
        return;
    }
    AdfFlag = 0;
    BuildScanParameters();
    PageImage.bitsPerPixel = 1;
    PageImage.xResolution = static_cast<uint32_t>(ResolutionTable[ScanSettings.ResolutionIndex]);
    PageImage.yResolution = PageImage.xResolution;
    PageImage.pixelMode = kPixelMode;
    if (!CheckScannerReady()) {
        return;
    }
    if (!CheckFeeder()) {
        return;
    }
    CloseScannerChannel();
    NotifyTransferReady();
}

DialogResult Command(WindowHandle dialog, WParam wParam) {
    int control = LowWord(wParam);
    int notification = HighWord(wParam);
    switch (control) {
    case IDC_PAPER_LIST:
        if (notification == CBN_SELCHANGE) {
            ListChanged(dialog, control, &ScanSettings.PaperIndex,
                        static_cast<int>(PaperTable.size()));
        }
        return kHandled;
    case IDC_SCANTYPE_LIST:
        if (notification == CBN_SELCHANGE) {
            ListChanged(dialog, control, &ScanSettings.ScanType, kScanTypes);
        }
        return kHandled;
    case IDC_RESOLUTION_LIST:
        if (notification == CBN_SELCHANGE) {
            ListChanged(dialog, control, &ScanSettings.ResolutionIndex,
                        static_cast<int>(ResolutionTable.size()));
        }
        return kHandled;
    case IDC_DUPLEX_LIST:
        if (notification == CBN_SELCHANGE) {
            ListChanged(dialog, control, &ScanSettings.Duplex, kDuplexValues);
        }
        return kHandled;
    case IDC_BRIGHTNESS_EDIT:
        if (notification == EN_CHANGE) {
            BrightnessTextChanged(dialog);
        }
        return kHandled;
    case IDC_HELP_BUTTON:
        ShowHelp(dialog);
        return kHandled;
    case IDC_ABOUT_BUTTON:
        PlatformDialogBox(ResourceModule, ResourceId(IDD_ABOUT), dialog, AboutDlg);
        return kHandled;
    case IDC_SCAN_BUTTON:
        Scan(dialog);
        return kHandled;
    case IDC_CLOSE_BUTTON:
        NotifyCloseRequest();
        return kHandled;
    default:
        return kNotHandled;
    }
}

DialogResult HorizontalScroll(WindowHandle dialog, WParam wParam, LParam lParam) {
    int code = LowWord(wParam);
    if (code > SB_RIGHT) {
        return kNotHandled;
    }
    if (reinterpret_cast<WindowHandle>(lParam) !=
        PlatformGetDlgItem(dialog, IDC_BRIGHTNESS_SCROLL)) {
        return kHandled;
    }
    int32_t& brightness = ScanSettings.Brightness;
    switch (code) {
    case SB_LINELEFT:
        brightness -= 1;
        break;
    case SB_LINERIGHT:
        brightness += 1;
        break;
    case SB_PAGELEFT:
        brightness -= 2;
        break;
    case SB_PAGERIGHT:
        brightness += 2;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        brightness = static_cast<int16_t>(HighWord(wParam));
        break;
    case SB_LEFT:
        brightness = kBrightnessLow;
        break;
    default: // SB_RIGHT
        brightness = kBrightnessHigh;
        break;
    }
    // The box's change moves the thumb, through the brightness-text rules.
    ShowBrightness(dialog);
    return kHandled;
}

} // namespace

extern "C" DialogResult TQ_CALLBACK Setting(WindowHandle dialog, uint32_t message, WParam wParam,
                                            LParam lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitialiseDialog(dialog);
        return kHandled;
    case WM_COMMAND:
        return Command(dialog, wParam);
    case WM_HSCROLL:
        return HorizontalScroll(dialog, wParam, lParam);
    case WM_CLOSE:
        // The application decides; the dialog stays until it disables the source.
        NotifyCloseRequest();
        return kHandled;
    case WM_DESTROY:
        return kHandled;
    default:
        return kNotHandled;
    }
}

void FilterNumericField(WindowHandle dialog, const char* text, int control, int maxLength) {
    char shortened[kFieldTextSize] = {};
    size_t length = strnlen(text, sizeof shortened - 1);
    for (size_t i = 0; i < length; ++i) {
        if (!IsFieldCharacter(text[i])) {
            std::memcpy(shortened, text, i);
            std::memcpy(shortened + i, text + i + 1, length - i - 1);
            ReplaceFieldText(dialog, control, shortened, static_cast<int>(i));
            return;
        }
    }
    if (length > static_cast<size_t>(maxLength)) {
        ReplaceFieldText(dialog, control, LastAcceptedBrightness, maxLength);
        return;
    }
    std::snprintf(LastAcceptedBrightness, sizeof LastAcceptedBrightness, "%s", text);
}

bool ValidateFieldRange(WindowHandle dialog, int control, int messageId, int low, int high) {
    char text[kFieldTextSize] = {};
    PlatformGetDlgItemText(dialog, control, text, kFieldTextSize);
    int value = FieldValue(text);
    if (value >= low && value <= high) {
        return true;
    }
    ShowFieldMessage(dialog, control, messageId, low, high);
    return false;
}

bool ValidateFieldPresent(WindowHandle dialog, int control, int messageId, int low, int high) {
    char text[kFieldTextSize] = {};
    PlatformGetDlgItemText(dialog, control, text, kFieldTextSize);
    if (!IsEmptyOrLoneMinus(text)) {
        return true;
    }
    ShowFieldMessage(dialog, control, messageId, low, high);
    return false;
}

void ShowBrightness(WindowHandle dialog) {
    if (ScanSettings.Brightness > kBrightnessHigh) {
        ScanSettings.Brightness = kBrightnessHigh;
    }
    if (ScanSettings.Brightness < kBrightnessLow) {
        ScanSettings.Brightness = kBrightnessLow;
    }
    SetBrightnessText(dialog);
}

void ResetSettingsDialogState() {
    RememberedDialogWindow = nullptr;
    LastAcceptedBrightness[0] = '\0';
}
