// Window placement, the splash, the About box and the progress box.
#include "states/session.h"

#include <map>

#include "twain/startup.h"
#include "ui/small_dialogs.h"

namespace {

class SmallDialogs : public SourceSession {
  protected:
    // A window of the given outer size, wherever it was first put.
    static WindowHandle WindowOfSize(int width, int height) {
        WindowHandle window = PlatformCreateDialog(host::OwnModuleHandle(), ResourceId(IDD_SPLASH),
                                                   nullptr, WaitMess);
        EXPECT_NE(window, nullptr);
        PlatformMoveWindow(window, 5, 7, width, height, false);
        return window;
    }
    static PlatformRect Rect(WindowHandle window) { return host::Window(window)->rect; }
};

TEST_F(SmallDialogs, PlaceWindowHalvesEachSizeBeforeSubtracting) {
    WindowHandle window = WindowOfSize(301, 201);
    PlaceWindow(window, 1);
    PlatformRect rect = Rect(window);
    EXPECT_EQ(rect.left, 512 - 150);
    EXPECT_EQ(rect.top, 384 - 100);
    EXPECT_EQ(rect.right - rect.left, 301);
    EXPECT_EQ(rect.bottom - rect.top, 201);
    PlatformDestroyWindow(window);
}

TEST_F(SmallDialogs, DialogLargerThanTheScreenIsCentredAtNegativeCoordinates) {
    WindowHandle window = WindowOfSize(2000, 1001);
    PlaceWindow(window, 1);
    PlatformRect rect = Rect(window);
    EXPECT_EQ(rect.left, 512 - 1000);
    EXPECT_EQ(rect.top, 384 - 500);
    EXPECT_EQ(rect.right - rect.left, 2000);
    PlatformDestroyWindow(window);
}

TEST_F(SmallDialogs, PlaceWindowUsesTheScreenMeasuredAtLoad) {
    Reload([] { host::SetDisplaySize(801, 599); });
    WindowHandle window = WindowOfSize(100, 50);
    PlaceWindow(window, 1);
    EXPECT_EQ(Rect(window).left, 400 - 50);
    EXPECT_EQ(Rect(window).top, 299 - 25);
    PlatformDestroyWindow(window);
}

TEST_F(SmallDialogs, SplashAndProgressBoxCentreThemselves) {
    WindowHandle splash =
        PlatformCreateDialog(host::OwnModuleHandle(), ResourceId(IDD_SPLASH), nullptr, WaitMess);
    WindowHandle owner =
        PlatformCreateDialog(host::OwnModuleHandle(), ResourceId(IDD_SPLASH), nullptr, WaitMess);
    WindowHandle progress =
        PlatformCreateDialog(host::OwnModuleHandle(), IDD_SCANNING_NAME, owner, ScanningDlg);
    for (WindowHandle window : {splash, progress}) {
        PlatformRect rect = Rect(window);
        EXPECT_EQ(rect.left, 512 - (rect.right - rect.left) / 2);
        EXPECT_EQ(rect.top, 384 - (rect.bottom - rect.top) / 2);
    }
    // The progress box comes to the top and is painted at once.
    EXPECT_EQ(host::TopWindow(), progress);
    EXPECT_GE(host::Window(progress)->updates, 1);
    EXPECT_EQ(WaitMess(splash, WM_COMMAND, IDOK, 0), 0);
    EXPECT_EQ(ScanningDlg(progress, WM_COMMAND, IDOK, 0), 0);
    for (WindowHandle window : {progress, owner, splash}) {
        PlatformDestroyWindow(window);
    }
}

class AboutBox : public SourceSession {
  protected:
    // Opens the About box as the settings dialog does; `user` acts in it.
    DialogResult Run(const std::function<void(WindowHandle)>& user) {
        host::OnDialogBox([&](WindowHandle box) {
            shown = box;
            for (int id : {IDC_PRODUCT_TEXT, IDC_VERSION_TEXT, IDC_NOTICE_1, IDC_NOTICE_2}) {
                texts[id] = host::ControlText(box, id);
            }
            rect = host::Window(box)->rect;
            user(box);
        });
        return PlatformDialogBox(ResourceModule, ResourceId(IDD_ABOUT), nullptr, AboutDlg);
    }
    WindowHandle shown = nullptr;
    std::map<int, std::string> texts;
    PlatformRect rect{};
};

TEST_F(AboutBox, ShowsTheOwnModulesTextsEvenWithACompanion) {
    Reload([] {
        host::SetCompanion(host::Companion::Loadable);
        host::SetCompanionStringPrefix("companion: ");
    });
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    EXPECT_EQ(Run([](WindowHandle box) { host::PressButton(box, IDOK); }), 0);
    EXPECT_EQ(host::Window(shown)->module, host::CompanionModuleHandle());
    EXPECT_EQ(texts[IDC_PRODUCT_TEXT], std::string(ProductText));
    EXPECT_EQ(texts[IDC_PRODUCT_TEXT], Text(IDS_PRODUCT_TEXT));
    EXPECT_EQ(texts[IDC_VERSION_TEXT], Text(IDS_VERSION_SHORT));
    EXPECT_EQ(texts[IDC_NOTICE_1], Text(IDS_NOTICE_1));
    EXPECT_EQ(texts[IDC_NOTICE_2], Text(IDS_NOTICE_2));
    EXPECT_EQ(rect.left, 512 - (rect.right - rect.left) / 2);
    EXPECT_EQ(rect.top, 384 - (rect.bottom - rect.top) / 2);
    EXPECT_TRUE(host::Errors().empty()) << host::Errors().front();
}

TEST_F(AboutBox, OnlyOkClosesIt) {
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    // Esc arrives as IDCANCEL: the box stays, and a user who does nothing else
    // leaves it open (the simulation reports such a box and gives -1).
    EXPECT_EQ(Run([](WindowHandle box) { EXPECT_EQ(host::SendCommand(box, IDCANCEL), 0); }), -1);
    EXPECT_FALSE(host::Errors().empty());
    host::ClearErrors();
    EXPECT_EQ(Run([](WindowHandle box) {
                  EXPECT_EQ(host::SendCommand(box, IDCANCEL), 0);
                  EXPECT_EQ(host::SendCommand(box, IDOK), 0);
              }),
              0);
    EXPECT_TRUE(host::Errors().empty()) << host::Errors().front();
}

TEST_F(AboutBox, EmptyProductTextLeavesItsLineEmpty) {
    sim::AddScanner(0);
    ASSERT_EQ(Open(), TWRC_SUCCESS);
    ProductText[0] = '\0';
    Run([](WindowHandle box) { host::PressButton(box, IDOK); });
    EXPECT_EQ(texts[IDC_PRODUCT_TEXT], "");
}

} // namespace
