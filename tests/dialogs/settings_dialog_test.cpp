// The settings dialog as the user sees and works it: its lists, the
// brightness box and scroll bar, Help, About, Scan and Close.
#include "states/session.h"

#include "device/acquisition.h"
#include "device/commands.h"
#include "ui/settings.h"
#include "ui/settings_dialog.h"

namespace {

class SettingsDialogTest : public SourceSession {
  protected:
    // Opens and enables the source with the settings file holding `settings`.
    void Show(const std::string& settings = "", bool duplexUnit = true) {
        Reload([&] {
            if (!settings.empty()) {
                WriteSettings(settings);
            }
            sim::AddScanner(0).duplexUnit = duplexUnit;
        });
        ASSERT_EQ(Open(), TWRC_SUCCESS);
        ASSERT_EQ(Enable(true), TWRC_SUCCESS);
        dialog = SettingsDialog();
        ASSERT_NE(dialog, nullptr);
    }
    void SetUp() override {
        SourceSession::SetUp();
        Show("Brightness=2\r\n");
    }

    std::string BoxText() const { return host::ControlText(dialog, IDC_BRIGHTNESS_EDIT); }
    int Thumb() const { return host::ScrollPosition(dialog, IDC_BRIGHTNESS_SCROLL); }
    void Type(const std::string& characters) {
        host::TypeText(dialog, IDC_BRIGHTNESS_EDIT, characters);
    }
    // Deletes the box's text as the user does: select it all, then backspace.
    void EmptyTheBox() {
        host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 0, static_cast<int>(BoxText().size()));
        Type("\b");
    }
    static std::string RangeMessage() { return "Invalid value : must be within -4 to 4 !"; }

    WindowHandle dialog = nullptr;
};

TEST_F(SettingsDialogTest, ShowsTheSettingsInItsControls) {
    Show("Paper Size=12\r\nScan Type=1\r\nResolution=2\r\nDuplex Scanning=1\r\nBrightness=-3\r\n");
    std::vector<std::string> papers;
    for (int id = IDS_PAPER_FIRST; id < IDS_PAPER_FIRST + 19; ++id) {
        papers.push_back(Text(id));
    }
    EXPECT_EQ(host::ComboItems(dialog, IDC_PAPER_LIST), papers);
    EXPECT_EQ(host::ComboItems(dialog, IDC_SCANTYPE_LIST),
              (std::vector<std::string>{"B/W", "Photo"}));
    EXPECT_EQ(host::ComboItems(dialog, IDC_RESOLUTION_LIST),
              (std::vector<std::string>{"150dpi x 150dpi", "300dpi x 300dpi", "600dpi x 600dpi"}));
    EXPECT_EQ(host::ComboItems(dialog, IDC_DUPLEX_LIST), (std::vector<std::string>{"OFF", "ON"}));
    EXPECT_EQ(host::ComboSelection(dialog, IDC_PAPER_LIST), 12);
    EXPECT_EQ(host::ComboSelection(dialog, IDC_SCANTYPE_LIST), 1);
    EXPECT_EQ(host::ComboSelection(dialog, IDC_RESOLUTION_LIST), 2);
    EXPECT_EQ(host::ComboSelection(dialog, IDC_DUPLEX_LIST), 1);
    EXPECT_EQ(BoxText(), "-3");
    EXPECT_EQ(host::ScrollRange(dialog, IDC_BRIGHTNESS_SCROLL), std::make_pair(-4, 4));
    EXPECT_EQ(Thumb(), -3);
    EXPECT_TRUE(host::IsControlVisible(dialog, IDC_DUPLEX_LABEL));
    EXPECT_TRUE(host::IsControlVisible(dialog, IDC_DUPLEX_LIST));
    // Centred on the 1024 x 768 screen.
    PlatformRect rect = host::Window(dialog)->rect;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    EXPECT_EQ(rect.left, 512 - width / 2);
    EXPECT_EQ(rect.top, 384 - height / 2);
}

TEST_F(SettingsDialogTest, ListsChangeTheSettingsAtOnce) {
    host::SelectComboItem(dialog, IDC_PAPER_LIST, 18);
    host::SelectComboItem(dialog, IDC_SCANTYPE_LIST, 1);
    host::SelectComboItem(dialog, IDC_RESOLUTION_LIST, 2);
    host::SelectComboItem(dialog, IDC_DUPLEX_LIST, 1);
    EXPECT_EQ(ScanSettings.PaperIndex, 18);
    EXPECT_EQ(ScanSettings.ScanType, 1);
    EXPECT_EQ(ScanSettings.ResolutionIndex, 2);
    EXPECT_EQ(ScanSettings.Duplex, 1);
    // Choosing the same paper again changes nothing.
    EXPECT_EQ(host::SelectComboItem(dialog, IDC_PAPER_LIST, 18), 1);
    EXPECT_EQ(ScanSettings.PaperIndex, 18);
    // The list's paper, chosen again after a capability request changed the
    // paper behind the dialog, becomes the paper once more.
    ScanSettings.PaperIndex = 5;
    host::SelectComboItem(dialog, IDC_PAPER_LIST, 18);
    EXPECT_EQ(ScanSettings.PaperIndex, 18);
    ASSERT_EQ(Disable(), TWRC_SUCCESS);
    ASSERT_EQ(Close(), TWRC_SUCCESS);
    EXPECT_EQ(SavedSetting(IDS_KEY_PAPER), "18");
    EXPECT_EQ(SavedSetting(IDS_KEY_SCAN_TYPE), "1");
    EXPECT_EQ(SavedSetting(IDS_KEY_RESOLUTION), "2");
    EXPECT_EQ(SavedSetting(IDS_KEY_DUPLEX), "1");
}

TEST_F(SettingsDialogTest, OtherListNotificationsAndControlsAreLeftAlone) {
    EXPECT_EQ(host::SendCommand(dialog, IDC_PAPER_LIST, 7 /* CBN_DROPDOWN */), 1);
    EXPECT_EQ(host::SendCommand(dialog, IDC_BRIGHTNESS_SCROLL), 0);
    EXPECT_EQ(host::SendCommand(dialog, 707), 0);
    EXPECT_EQ(host::SendCommand(dialog, IDOK), 0);
    EXPECT_EQ(host::SendCommand(dialog, IDCANCEL), 0);
    EXPECT_EQ(ScanSettings.PaperIndex, 2);
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(SettingsDialogTest, LetterIsCutOutAtOnce) {
    host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 1, 1);
    Type("a");
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(host::EditSelection(dialog, IDC_BRIGHTNESS_EDIT), std::make_pair(1, 1));
    EXPECT_EQ(ScanSettings.Brightness, 2);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(SettingsDialogTest, LetterInTheMiddleIsCutOutWithTheCaretInItsPlace) {
    Show("Brightness=-1\r\n");
    host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 1, 1);
    Type("x");
    EXPECT_EQ(BoxText(), "-1");
    EXPECT_EQ(host::EditSelection(dialog, IDC_BRIGHTNESS_EDIT), std::make_pair(1, 1));
    EXPECT_EQ(ScanSettings.Brightness, -1);
    // Typing on from there goes where the letter stood.
    host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 1, 2);
    Type("3");
    EXPECT_EQ(BoxText(), "-3");
    EXPECT_EQ(ScanSettings.Brightness, -3);
    EXPECT_EQ(Thumb(), -3);
}

TEST_F(SettingsDialogTest, FiveInAnEmptyBoxIsOutOfRange) {
    EmptyTheBox();
    EXPECT_EQ(ScanSettings.Brightness, 2);
    // The message comes over the refused value; the box gets the brightness back after it.
    std::string textDuringBox;
    host::OnMessageBox([&](const host::MessageBoxCall&) { textDuringBox = BoxText(); });
    Type("5");
    EXPECT_EQ(textDuringBox, "5");
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    const host::MessageBoxCall& box = host::MessageBoxes()[0];
    EXPECT_EQ(box.text, RangeMessage());
    EXPECT_EQ(box.caption, Text(IDS_SECTION_NAME));
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(Thumb(), 2);
    EXPECT_EQ(ScanSettings.Brightness, 2);
    EXPECT_EQ(host::Focus(), host::Control(dialog, IDC_BRIGHTNESS_EDIT));
}

TEST_F(SettingsDialogTest, LoneMinusWaitsForItsDigit) {
    EmptyTheBox();
    Type("-");
    EXPECT_EQ(BoxText(), "-");
    EXPECT_EQ(ScanSettings.Brightness, 2);
    EXPECT_EQ(Thumb(), 2);
    Type("3");
    EXPECT_EQ(BoxText(), "-3");
    EXPECT_EQ(ScanSettings.Brightness, -3);
    EXPECT_EQ(Thumb(), -3);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(SettingsDialogTest, ThirdCharacterIsRefused) {
    Show("Brightness=-4\r\n");
    host::SetEditSelection(dialog, IDC_BRIGHTNESS_EDIT, 2, 2);
    Type("1");
    EXPECT_EQ(BoxText(), "-4");
    EXPECT_EQ(host::EditSelection(dialog, IDC_BRIGHTNESS_EDIT), std::make_pair(2, 2));
    EXPECT_EQ(ScanSettings.Brightness, -4);
    EXPECT_TRUE(host::MessageBoxes().empty());
    // The box still takes a new value afterwards.
    EmptyTheBox();
    Type("1");
    EXPECT_EQ(ScanSettings.Brightness, 1);
    EXPECT_EQ(Thumb(), 1);
}

TEST_F(SettingsDialogTest, MinusFiveIsOutOfRange) {
    EmptyTheBox();
    Type("-5");
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{RangeMessage()});
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(ScanSettings.Brightness, 2);
}

TEST_F(SettingsDialogTest, EmptyBoxAtScanIsRefused) {
    EmptyTheBox();
    EXPECT_EQ(host::PressButton(dialog, IDC_SCAN_BUTTON), 1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{RangeMessage()});
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(Thumb(), 2);
    EXPECT_EQ(SourceState, kStateEnabled);
    EXPECT_TRUE(DsmMessages().empty());
    EXPECT_EQ(sim::Slot(0).blocksTotal, 3) << sim::TranscriptText(); // those of the open
}

TEST_F(SettingsDialogTest, LoneMinusAtScanIsRefused) {
    EmptyTheBox();
    Type("-");
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{RangeMessage()});
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(SourceState, kStateEnabled);
}

struct ScrollCase {
    int start;
    int code;
    int position;
    int expected;
};

TEST_F(SettingsDialogTest, ScrollCodesMoveTheBrightnessWithinItsLimits) {
    const ScrollCase cases[] = {
        {0, SB_LINELEFT, 0, -1}, {0, SB_LINERIGHT, 0, 1},     {0, SB_PAGELEFT, 0, -2},
        {0, SB_PAGERIGHT, 0, 2}, {0, SB_THUMBPOSITION, 3, 3}, {0, SB_THUMBTRACK, -2, -2},
        {0, SB_LEFT, 0, -4},     {2, SB_RIGHT, 0, 4},         {4, SB_PAGERIGHT, 0, 4},
        {4, SB_LINERIGHT, 0, 4}, {-3, SB_PAGELEFT, 0, -4},    {-4, SB_LINELEFT, 0, -4},
    };
    for (const ScrollCase& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + " from " + std::to_string(c.start));
        Show("Brightness=" + std::to_string(c.start) + "\r\n");
        EXPECT_EQ(host::Scroll(dialog, IDC_BRIGHTNESS_SCROLL, c.code, c.position), 1);
        EXPECT_EQ(ScanSettings.Brightness, c.expected);
        EXPECT_EQ(BoxText(), std::to_string(c.expected));
        EXPECT_EQ(Thumb(), c.expected);
        EXPECT_TRUE(host::MessageBoxes().empty());
    }
}

TEST_F(SettingsDialogTest, ScrollingElsewhereChangesNothing) {
    // From another window: handled, nothing moves.
    WindowHandle other = host::Control(dialog, IDC_PAPER_LIST);
    EXPECT_EQ(host::SendToDialog(dialog, WM_HSCROLL, SB_RIGHT, reinterpret_cast<LParam>(other)), 1);
    EXPECT_EQ(ScanSettings.Brightness, 2);
    // SB_ENDSCROLL is not the dialog's business.
    EXPECT_EQ(host::Scroll(dialog, IDC_BRIGHTNESS_SCROLL, SB_ENDSCROLL), 0);
    EXPECT_EQ(ScanSettings.Brightness, 2);
    EXPECT_EQ(BoxText(), "2");
    EXPECT_EQ(Thumb(), 2);
}

TEST_F(SettingsDialogTest, ScanWithoutADuplexUnitStillHonoursTheDuplexSetting) {
    Show("Duplex Scanning=1\r\n", /*duplexUnit=*/false);
    EXPECT_FALSE(host::IsControlVisible(dialog, IDC_DUPLEX_LABEL));
    EXPECT_FALSE(host::IsControlVisible(dialog, IDC_DUPLEX_LIST));
    EXPECT_EQ(ScanSettings.Duplex, 1);
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes()[0].text, Text(IDS_DUPLEX_NO_PAPER));
    EXPECT_EQ(host::MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
    EXPECT_EQ(SourceState, kStateEnabled);
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(SettingsDialogTest, ScanBuildsTheQuarterWindowAtA4And150Dpi) {
    Show("Paper Size=2\r\nResolution=0\r\n");
    int openHandlesAtNotice = -1;
    host::OnDsmCall([&](const host::DsmCall&) {
        openHandlesAtNotice = sim::OpenHandleCount();
        return TWRC_SUCCESS;
    });
    EXPECT_EQ(host::PressButton(dialog, IDC_SCAN_BUTTON), 1);
    EXPECT_EQ(SourceState, kStateTransferReady);
    EXPECT_EQ(DsmMessages(), std::vector<TW_UINT16>{MSG_XFERREADY});
    EXPECT_EQ(openHandlesAtNotice, 0);
    EXPECT_TRUE(host::MessageBoxes().empty());
    // 4960 x 7015 at 600 dpi, a quarter of each side rounded down.
    EXPECT_EQ(ScanParameterBlock[0], 0);
    EXPECT_EQ(ScanParameterBlock[3], 2);
    EXPECT_EQ(ScanParameterBlock[8] | ScanParameterBlock[9] << 8, 4960 / 4);
    EXPECT_EQ(ScanParameterBlock[10] | ScanParameterBlock[11] << 8, 7015 / 4);
    EXPECT_EQ(PageImage.xResolution, 150u);
    EXPECT_EQ(PageImage.yResolution, 150u);
    EXPECT_EQ(PageImage.bitsPerPixel, 1u);
    EXPECT_EQ(PageImage.pixelMode, 600u);
    // The probe, the status and the feeder, as at the open; the parameters go
    // to the scanner with the pre-scan.
    EXPECT_EQ(sim::CommandCount(sim::kOpGetStatus), 4) << sim::TranscriptText();
    EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), 2);
    EXPECT_EQ(sim::CommandCount(sim::kOpSetScanParameters), 0);
}

TEST_F(SettingsDialogTest, ScanWithAJammedScannerStaysEnabled) {
    sim::Slot(0).status = 1;
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Text(IDS_DOCUMENT_JAM)});
    EXPECT_EQ(SourceState, kStateEnabled);
    EXPECT_TRUE(DsmMessages().empty());
}

TEST_F(SettingsDialogTest, ScanFromTheFeederSetsTheAdfFlag) {
    sim::Slot(0).feederSheets = 1;
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(AdfFlag, 1);
    sim::Slot(0).feederSheets = 0;
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(AdfFlag, 0);
    // Scan forgets the feeder before its checks: after a refused Scan the
    // application is not told of a page from the feeder.
    sim::Slot(0).feederSheets = 1;
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    ASSERT_EQ(AdfFlag, 1);
    sim::Slot(0).status = kStatusBusy;
    host::PressButton(dialog, IDC_SCAN_BUTTON);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Text(IDS_SCANNER_BUSY)});
    sim::Slot(0).status = 0;
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
}

TEST_F(SettingsDialogTest, HelpOpensTheHelpFileUnderTheWindowsDirectory) {
    EXPECT_EQ(host::PressButton(dialog, IDC_HELP_BUTTON), 1);
    ASSERT_EQ(host::HtmlHelpCalls().size(), 1u);
    const host::HtmlHelpCall& call = host::HtmlHelpCalls()[0];
    EXPECT_EQ(call.caller, dialog);
    EXPECT_EQ(call.file, host::WindowsDirectory() + Text(IDS_HELP_PATH));
    EXPECT_EQ(call.command, HH_DISPLAY_TOPIC);
    EXPECT_EQ(call.data, 0u);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(SettingsDialogTest, AboutIsModalAndOwnedByTheDialog) {
    host::WindowInfo about{};
    host::OnDialogBox([&](WindowHandle box) {
        about = *host::Window(box);
        host::PressButton(box, IDOK);
    });
    EXPECT_EQ(host::PressButton(dialog, IDC_ABOUT_BUTTON), 1);
    EXPECT_EQ(about.templateId, IDD_ABOUT);
    EXPECT_TRUE(about.modal);
    EXPECT_EQ(about.parent, dialog);
    EXPECT_EQ(about.module, host::OwnModuleHandle());
    EXPECT_TRUE(host::Errors().empty()) << host::Errors().front();
}

TEST_F(SettingsDialogTest, DestroyIsHandledAndOtherMessagesAreNot) {
    EXPECT_EQ(host::SendToDialog(dialog, WM_DESTROY, 0, 0), 1);
    EXPECT_EQ(host::SendToDialog(dialog, WM_KEYDOWN, 0x41, 0), 0);
}

} // namespace
