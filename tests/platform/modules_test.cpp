// Libraries, string resources, the Source Manager and the small user-interface
// calls of the host simulation.
#include <cstring>

#include "resources/resource_ids.h"
#include "support/source_fixture.h"

namespace {

class HostModulesTest : public UnloadedSourceTest {
  protected:
    std::string CompanionPath() {
        return host::WindowsDirectory() + "\\TWAIN_32\\ZARVIK\\ZARVIK.DLL";
    }
};

TEST_F(HostModulesTest, LoadStringCopiesTruncatesAndReportsTheLength) {
    ModuleHandle own = host::OwnModuleHandle();
    char buffer[64];
    EXPECT_EQ(PlatformLoadString(own, IDS_SECTION_NAME, buffer, sizeof buffer), 25);
    EXPECT_STREQ(buffer, "Velmora Oskaro Tq3480 PCL");
    EXPECT_EQ(PlatformLoadString(own, IDS_SECTION_NAME, buffer, 5), 4);
    EXPECT_STREQ(buffer, "Velm");
    EXPECT_EQ(PlatformLoadString(own, IDS_SECTION_NAME, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    std::strcpy(buffer, "stale");
    EXPECT_EQ(PlatformLoadString(own, IDS_COMPANION_MARKER, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    // No resource module yet: nothing is found, and that is no misuse.
    EXPECT_EQ(PlatformLoadString(nullptr, IDS_SCANNER_NOT_READY, buffer, sizeof buffer), 0);
    host::SetOwnString(IDS_KEY_PAPER, nullptr);
    EXPECT_EQ(PlatformLoadString(own, IDS_KEY_PAPER, buffer, sizeof buffer), 0);
    EXPECT_TRUE(host::Errors().empty());
}

TEST_F(HostModulesTest, CompanionScenarios) {
    EXPECT_EQ(PlatformCreateFile(CompanionPath().c_str(), 0, 0, OPEN_EXISTING, 0), kInvalidFile);
    EXPECT_EQ(PlatformLoadLibrary(CompanionPath().c_str()), nullptr);

    host::SetCompanion(host::Companion::NotLoadable);
    FileHandle probe = PlatformCreateFile(CompanionPath().c_str(), 0, 0, OPEN_EXISTING, 0);
    EXPECT_NE(probe, kInvalidFile);
    PlatformCloseHandle(probe);
    EXPECT_EQ(PlatformLoadLibrary(CompanionPath().c_str()), nullptr);

    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionMarker("ZARVIK");
    host::SetCompanionStringPrefix("[Z] ");
    ModuleHandle companion = PlatformLoadLibrary("c:\\windows\\twain_32\\zarvik\\zarvik.dll");
    ASSERT_EQ(companion, host::CompanionModuleHandle());
    EXPECT_EQ(host::LibraryReferences(companion), 1);
    char buffer[64];
    EXPECT_GT(PlatformLoadString(companion, IDS_COMPANION_MARKER, buffer, sizeof buffer), 0);
    PlatformLoadString(companion, IDS_SCANNER_NOT_READY, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "[Z] Scanner not ready");
    EXPECT_TRUE(PlatformFreeLibrary(companion));
    EXPECT_EQ(host::LibraryReferences(companion), 0);
    EXPECT_TRUE(host::Errors().empty());

    // Released means released: its strings and a second free are misuse.
    PlatformLoadString(companion, IDS_SCANNER_NOT_READY, buffer, sizeof buffer);
    EXPECT_FALSE(PlatformFreeLibrary(companion));
    EXPECT_EQ(host::Errors().size(), 2u);
    host::ClearErrors();
}

TEST_F(HostModulesTest, SourceManagerRecordsEveryNotification) {
    ModuleHandle manager = PlatformLoadLibrary("TWAIN_32.DLL");
    ASSERT_NE(manager, nullptr);
    auto entry = reinterpret_cast<DSMENTRYPROC>(PlatformGetProcAddress(manager, "DSM_Entry"));
    ASSERT_NE(entry, nullptr);
    TW_IDENTITY source = MakeIdentity(2, "source");
    TW_IDENTITY application = MakeIdentity(1, "application");
    int hookCalls = 0;
    host::OnDsmCall([&](const host::DsmCall& call) {
        ++hookCalls;
        EXPECT_EQ(call.message, MSG_XFERREADY);
        return TW_UINT16{0};
    });
    entry(&source, &application, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);
    source.Id = 99; // the record is a copy
    ASSERT_EQ(host::DsmCalls().size(), 1u);
    const host::DsmCall& call = host::DsmCalls()[0];
    EXPECT_EQ(TW_UINT32{call.origin.Id}, 2u);
    EXPECT_TRUE(call.hasDestination);
    EXPECT_EQ(TW_UINT32{call.destination.Id}, 1u);
    EXPECT_EQ(TW_UINT32{call.dataGroup}, DG_CONTROL);
    EXPECT_EQ(call.dataArgumentType, DAT_NULL);
    EXPECT_EQ(call.data, nullptr);
    EXPECT_EQ(hookCalls, 1);
    EXPECT_TRUE(PlatformFreeLibrary(manager));

    host::SetSourceManager(host::SourceManager::EntryMissing);
    manager = PlatformLoadLibrary("TWAIN_32.DLL");
    EXPECT_EQ(PlatformGetProcAddress(manager, "DSM_Entry"), nullptr);
    PlatformFreeLibrary(manager);
    host::SetSourceManager(host::SourceManager::Absent);
    EXPECT_EQ(PlatformLoadLibrary("TWAIN_32.DLL"), nullptr);
    EXPECT_EQ(PlatformLoadLibrary("OTHER.DLL"), nullptr);
    EXPECT_EQ(host::LibraryCalls().size(), 8u);
}

TEST_F(HostModulesTest, MessageBoxHookRunsWhileTheBoxIsOpen) {
    bool sawBox = false;
    host::OnMessageBox([&](const host::MessageBoxCall& box) {
        sawBox = true;
        EXPECT_EQ(box.text, "Scanner not ready");
        EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
    });
    EXPECT_EQ(PlatformMessageBox(host::kApplicationWindow, "Scanner not ready", "Caption",
                                 MB_OK | MB_ICONHAND),
              IDOK);
    EXPECT_TRUE(sawBox);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes()[0].owner, host::kApplicationWindow);
    EXPECT_EQ(host::MessageBoxes()[0].caption, "Caption");
    EXPECT_EQ(host::MessageBoxes()[0].type, MB_OK | MB_ICONHAND);
}

TEST_F(HostModulesTest, DisplayCursorsSleepAndHelpAreRecorded) {
    host::SetDisplaySize(800, 600);
    DeviceContext display = PlatformCreateDisplayIC();
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(PlatformGetDeviceCaps(display, HORZRES), 800);
    EXPECT_EQ(PlatformGetDeviceCaps(display, VERTRES), 600);
    EXPECT_TRUE(PlatformDeleteDC(display));
    host::SetNoDisplay();
    EXPECT_EQ(PlatformCreateDisplayIC(), nullptr);

    CursorHandle wait = PlatformLoadCursor(kCursorWait);
    CursorHandle before = PlatformSetCursor(wait);
    EXPECT_EQ(host::CurrentCursor(), kCursorWait);
    PlatformSetCursor(before);
    EXPECT_EQ(host::CurrentCursor(), kCursorArrow);
    EXPECT_EQ(host::CursorsSet(), std::vector<int>({kCursorWait, kCursorArrow}));

    PlatformSleep(1000);
    EXPECT_EQ(host::SleepCalls(), std::vector<uint32_t>({1000}));
    PlatformHtmlHelp(nullptr, "C:\\WINDOWS\\TWAIN_32\\ZARVIK\\ZARVIK.CHM", HH_DISPLAY_TOPIC, 0);
    ASSERT_EQ(host::HtmlHelpCalls().size(), 1u);
    EXPECT_EQ(host::HtmlHelpCalls()[0].file, "C:\\WINDOWS\\TWAIN_32\\ZARVIK\\ZARVIK.CHM");
    EXPECT_EQ(PlatformGetActiveWindow(), host::kApplicationWindow);
}

TEST_F(HostModulesTest, LeakedDisplayContextIsReported) {
    checkAtTearDown = false;
    DeviceContext display = PlatformCreateDisplayIC();
    EXPECT_EQ(host::TearDownProblems().size(), 1u);
    PlatformDeleteDC(display);
    EXPECT_TRUE(host::TearDownProblems().empty());
}

TEST_F(HostModulesTest, LoadDataSourceRunsTheProcessAttach) {
    EXPECT_TRUE(host::LoadDataSource());
    EXPECT_TRUE(host::TearDownProblems().empty());
}

} // namespace
