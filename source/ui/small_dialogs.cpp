#include "ui/small_dialogs.h"

#include "resources/resource_ids.h"
#include "twain/startup.h"

namespace {

constexpr int kCentreOnScreen = 1;
constexpr DialogResult kHandled = 1;
constexpr DialogResult kNotHandled = 0;
constexpr int kAboutTextSize = 128;

int LowWord(WParam value) {
    return static_cast<int>(value & 0xFFFF);
}

// The About box's version and notice lines belong to this build, so they come
// from the source's own module even when a companion library serves the rest.
void SetOwnString(WindowHandle dialog, int control, int stringId) {
    char text[kAboutTextSize] = {};
    PlatformLoadString(OwnModule, stringId, text, kAboutTextSize);
    PlatformSetDlgItemText(dialog, control, text);
}

} // namespace

void PlaceWindow(WindowHandle window, int mode) {
    if (mode != kCentreOnScreen) {
        return;
    }
    PlatformRect rect{};
    if (!PlatformGetWindowRect(window, &rect)) {
        return;
    }
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    // Each half is taken before the subtraction, so an odd size loses its half
    // pixel the same way on both sides of the screen's centre.
    int x = ScreenWidth / 2 - width / 2;
    int y = ScreenHeight / 2 - height / 2;
    PlatformMoveWindow(window, x, y, width, height, false);
}

extern "C" DialogResult TQ_CALLBACK WaitMess(WindowHandle dialog, uint32_t message, WParam,
                                             LParam) {
    if (message == WM_INITDIALOG) {
        PlaceWindow(dialog, kCentreOnScreen);
        return kHandled;
    }
    return kNotHandled;
}

extern "C" DialogResult TQ_CALLBACK AboutDlg(WindowHandle dialog, uint32_t message, WParam wParam,
                                             LParam) {
    switch (message) {
    case WM_INITDIALOG:
        PlatformSetDlgItemText(dialog, IDC_PRODUCT_TEXT, ProductText);
        SetOwnString(dialog, IDC_VERSION_TEXT, IDS_VERSION_SHORT);
        SetOwnString(dialog, IDC_NOTICE_1, IDS_NOTICE_1);
        SetOwnString(dialog, IDC_NOTICE_2, IDS_NOTICE_2);
        PlaceWindow(dialog, kCentreOnScreen);
        return kHandled;
    case WM_COMMAND:
        // Only OK closes the box; Esc arrives as IDCANCEL and leaves it standing.
        if (LowWord(wParam) == IDOK) {
            PlatformEndDialog(dialog, 0);
        }
        return kNotHandled;
    default:
        return kNotHandled;
    }
}

DialogResult TQ_CALLBACK ScanningDlg(WindowHandle dialog, uint32_t message, WParam, LParam) {
    if (message == WM_INITDIALOG) {
        PlaceWindow(dialog, kCentreOnScreen);
        PlatformBringWindowToTop(dialog);
        PlatformUpdateWindow(dialog);
        return kHandled;
    }
    return kNotHandled;
}
