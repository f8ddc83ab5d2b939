// Dialogs built from the templates: controls, notifications sent as Windows
// sends them, modal dialogs driven by a test hook, ownership and placement.
#include <cstring>

#include "resources/resource_ids.h"
#include "support/source_fixture.h"

namespace {

struct Message {
    uint32_t message;
    WParam wParam;
    LParam lParam;
};

std::vector<Message> received;
std::vector<std::string> editTexts; // the edit box's text at each EN_CHANGE

DialogResult TQ_CALLBACK Recorder(WindowHandle dialog, uint32_t message, WParam wParam,
                                  LParam lParam) {
    received.push_back({message, wParam, lParam});
    if (message == WM_COMMAND && (wParam & 0xFFFF) == IDC_BRIGHTNESS_EDIT &&
        (wParam >> 16) == EN_CHANGE) {
        char text[16];
        PlatformGetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, text, sizeof text);
        editTexts.push_back(text);
        // Letters do not stay: the box gets the text without them, re-entrantly.
        std::string kept;
        for (const char* c = text; *c != '\0'; ++c) {
            if (*c != 'x') {
                kept += *c;
            }
        }
        if (kept != text) {
            PlatformSetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, kept.c_str());
        }
    }
    if (message == WM_COMMAND && (wParam & 0xFFFF) == IDOK) {
        PlatformEndDialog(dialog, 42);
    }
    return message == WM_INITDIALOG ? 1 : 0;
}

class HostDialogsTest : public UnloadedSourceTest {
  protected:
    void SetUp() override {
        UnloadedSourceTest::SetUp();
        received.clear();
        editTexts.clear();
    }
    WindowHandle CreateSettings() {
        return PlatformCreateDialog(host::OwnModuleHandle(), ResourceId(IDD_SETTINGS), nullptr,
                                    Recorder);
    }
};

TEST_F(HostDialogsTest, CreateDialogBuildsTheTemplateAndSendsInitDialog) {
    WindowHandle dialog = CreateSettings();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, WM_INITDIALOG);
    EXPECT_EQ(host::FindDialog(IDD_SETTINGS), dialog);
    EXPECT_EQ(host::ControlText(dialog, IDC_SCAN_BUTTON), "Scan");
    EXPECT_TRUE(host::IsControlVisible(dialog, IDC_DUPLEX_LABEL));
    EXPECT_FALSE(host::Window(dialog)->visible); // template 700 has no WS_VISIBLE
    EXPECT_EQ(host::Focus(), host::Control(dialog, IDC_PAPER_LIST)); // first tab stop
    PlatformRect rect{};
    ASSERT_TRUE(PlatformGetWindowRect(dialog, &rect));
    EXPECT_EQ(rect.right - rect.left, 270 * 3 / 2);
    EXPECT_EQ(rect.bottom - rect.top, 156 * 2);
    EXPECT_TRUE(PlatformMoveWindow(dialog, 100, 50, 405, 312, false));
    PlatformGetWindowRect(host::Control(dialog, IDC_HELP_BUTTON), &rect);
    EXPECT_EQ(rect.left, 100 + 195 * 3 / 2);
    EXPECT_EQ(rect.top, 50 + 12 * 2);

    EXPECT_FALSE(PlatformShowWindow(dialog, SW_SHOW));
    EXPECT_TRUE(host::Window(dialog)->visible);
    PlatformShowWindow(PlatformGetDlgItem(dialog, IDC_DUPLEX_LIST), SW_HIDE);
    EXPECT_FALSE(host::IsControlVisible(dialog, IDC_DUPLEX_LIST));
    EXPECT_TRUE(PlatformDestroyWindow(dialog));
    EXPECT_FALSE(PlatformIsWindow(dialog));
    EXPECT_EQ(received.back().message, WM_DESTROY);
    EXPECT_EQ(host::FindDialog(IDD_SETTINGS), nullptr);
    EXPECT_TRUE(host::Errors().empty());
    PlatformDestroyWindow(dialog);
    EXPECT_EQ(host::Errors().size(), 1u); // a second destroy is a fault
    host::ClearErrors();
}

TEST_F(HostDialogsTest, ListsScrollBarAndButtons) {
    WindowHandle dialog = CreateSettings();
    for (const char* item : {"A3L", "B4L", "A4L"}) {
        PlatformSendDlgItemMessage(dialog, IDC_PAPER_LIST, CB_ADDSTRING, 0,
                                   reinterpret_cast<LParam>(item));
    }
    EXPECT_EQ(PlatformSendDlgItemMessage(dialog, IDC_PAPER_LIST, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(PlatformSendDlgItemMessage(dialog, IDC_PAPER_LIST, CB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(PlatformSendDlgItemMessage(dialog, IDC_PAPER_LIST, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(PlatformSendDlgItemMessage(dialog, IDC_PAPER_LIST, CB_SETCURSEL, 3, 0), -1);
    EXPECT_EQ(host::ComboItems(dialog, IDC_PAPER_LIST),
              std::vector<std::string>({"A3L", "B4L", "A4L"}));
    received.clear();
    host::SelectComboItem(dialog, IDC_PAPER_LIST, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].wParam, (static_cast<WParam>(CBN_SELCHANGE) << 16) | IDC_PAPER_LIST);
    EXPECT_EQ(host::ComboSelection(dialog, IDC_PAPER_LIST), 1);

    WindowHandle bar = PlatformGetDlgItem(dialog, IDC_BRIGHTNESS_SCROLL);
    PlatformSetScrollRange(bar, SB_CTL, -4, 4, true);
    EXPECT_EQ(PlatformSetScrollPos(bar, SB_CTL, -3, true), 0);
    EXPECT_EQ(PlatformSetScrollPos(bar, SB_CTL, 9, true), -3);
    EXPECT_EQ(host::ScrollPosition(dialog, IDC_BRIGHTNESS_SCROLL), 4); // held in range
    received.clear();
    host::Scroll(dialog, IDC_BRIGHTNESS_SCROLL, SB_THUMBTRACK, -2);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, WM_HSCROLL);
    EXPECT_EQ(static_cast<int16_t>(received[0].wParam >> 16), -2);
    EXPECT_EQ(received[0].lParam, reinterpret_cast<LParam>(bar));
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(received.back().wParam, static_cast<WParam>(IDC_SCAN_BUTTON));
    PlatformDestroyWindow(dialog);
}

TEST_F(HostDialogsTest, EditChangesNotifyTheDialogReentrantly) {
    WindowHandle dialog = CreateSettings();
    PlatformSetDlgItemText(dialog, IDC_BRIGHTNESS_EDIT, "-2");
    EXPECT_EQ(editTexts, std::vector<std::string>({"-2"}));
    editTexts.clear();
    host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 0, -1);
    host::TypeText(dialog, IDC_BRIGHTNESS_EDIT, "x3");
    // "x" replaced the selection, the dialog cut it out (a nested EN_CHANGE),
    // then "3" went in where the caret was left: at the start.
    EXPECT_EQ(editTexts, std::vector<std::string>({"x", "", "3"}));
    EXPECT_EQ(host::ControlText(dialog, IDC_BRIGHTNESS_EDIT), "3");
    EXPECT_EQ(host::EditSelection(dialog, IDC_BRIGHTNESS_EDIT), std::make_pair(1, 1));
    PlatformSendDlgItemMessage(dialog, IDC_BRIGHTNESS_EDIT, EM_SETSEL, 0, -1);
    EXPECT_EQ(host::EditSelection(dialog, IDC_BRIGHTNESS_EDIT), std::make_pair(0, 1));
    host::TypeText(dialog, IDC_BRIGHTNESS_EDIT, "\b");
    EXPECT_EQ(host::ControlText(dialog, IDC_BRIGHTNESS_EDIT), "");
    PlatformDestroyWindow(dialog);
}

TEST_F(HostDialogsTest, ModalDialogRunsTheHookAndReturnsTheEndResult) {
    EXPECT_EQ(PlatformDialogBox(host::OwnModuleHandle(), ResourceId(IDD_ABOUT), nullptr, Recorder),
              42); // the default hook presses OK
    WindowHandle seen = nullptr;
    host::OnDialogBox([&](WindowHandle dialog) {
        seen = dialog;
        EXPECT_EQ(host::ControlText(dialog, IDOK), "OK");
        host::PressButton(dialog, IDCANCEL); // ignored by the procedure
        host::PressButton(dialog, IDOK);
    });
    EXPECT_EQ(PlatformDialogBox(host::OwnModuleHandle(), ResourceId(IDD_ABOUT), nullptr, Recorder),
              42);
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(host::Window(seen)->destroyed);
    EXPECT_TRUE(host::Window(seen)->modal);

    host::OnDialogBox([](WindowHandle) {});
    EXPECT_EQ(PlatformDialogBox(host::OwnModuleHandle(), ResourceId(IDD_ABOUT), nullptr, Recorder),
              -1);
    EXPECT_EQ(host::Errors().size(), 1u); // it would never have returned
    host::ClearErrors();
}

TEST_F(HostDialogsTest, TemplatesComeFromTheModuleAsked) {
    host::SetCompanion(host::Companion::Loadable);
    ModuleHandle companion =
        PlatformLoadLibrary((host::WindowsDirectory() + "\\TWAIN_32\\ZARVIK\\ZARVIK.DLL").c_str());
    WindowHandle scanning =
        PlatformCreateDialog(companion, IDD_SCANNING_NAME, host::kApplicationWindow, Recorder);
    ASSERT_NE(scanning, nullptr);
    EXPECT_EQ(host::FindDialog(std::string(IDD_SCANNING_NAME)), scanning);
    EXPECT_EQ(host::Window(scanning)->module, companion);
    PlatformDestroyWindow(scanning);
    host::SetCompanionTemplates(false);
    EXPECT_EQ(PlatformCreateDialog(companion, ResourceId(IDD_SETTINGS), nullptr, Recorder),
              nullptr);
    EXPECT_EQ(PlatformCreateDialog(host::OwnModuleHandle(), ResourceId(999), nullptr, Recorder),
              nullptr);
    PlatformFreeLibrary(companion);
}

TEST_F(HostDialogsTest, OwnedDialogsGoWithTheirOwnerAndStaleOwnersAreRefused) {
    WindowHandle settings = CreateSettings();
    WindowHandle progress =
        PlatformCreateDialog(host::OwnModuleHandle(), IDD_SCANNING_NAME, settings, Recorder);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(host::TopWindow(), progress);
    PlatformBringWindowToTop(settings);
    EXPECT_EQ(host::TopWindow(), settings);
    PlatformDestroyWindow(settings);
    EXPECT_FALSE(PlatformIsWindow(progress));
    EXPECT_EQ(PlatformCreateDialog(host::OwnModuleHandle(), IDD_SCANNING_NAME, settings, Recorder),
              nullptr);
    EXPECT_TRUE(host::Errors().empty());
}

TEST_F(HostDialogsTest, IsDialogMessageTakesMessagesOfTheDialogAndItsControls) {
    WindowHandle dialog = CreateSettings();
    PlatformMsg message{};
    message.hwnd = host::kApplicationWindow;
    message.message = WM_KEYDOWN;
    EXPECT_FALSE(PlatformIsDialogMessage(dialog, &message));
    received.clear();
    message.hwnd = host::Control(dialog, IDC_BRIGHTNESS_EDIT);
    message.message = WM_CHAR;
    message.wParam = '2';
    EXPECT_TRUE(PlatformIsDialogMessage(dialog, &message));
    EXPECT_EQ(host::ControlText(dialog, IDC_BRIGHTNESS_EDIT), "2");
    message.hwnd = dialog;
    message.message = WM_CLOSE;
    message.wParam = 0;
    EXPECT_TRUE(PlatformIsDialogMessage(dialog, &message));
    EXPECT_EQ(received.back().message, WM_CLOSE);
    PlatformDestroyWindow(dialog);
    EXPECT_FALSE(PlatformIsDialogMessage(dialog, &message));
}

} // namespace
