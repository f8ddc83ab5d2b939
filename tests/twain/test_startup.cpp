// Loading the library: identity defaults, product texts, the companion
// library, the string slots, the display, and the resource module's choice.
#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "support/source_fixture.h"
#include "twain/startup.h"
#include "twain/states.h"

namespace {

constexpr const char* kProductName = "Velmora Oskaro Tq3480 PCL";
constexpr const char* kProductText = "Velmora Oskaro Tq3480 / Oskaro Tq3480 PCL TWAIN";

class StartupTest : public UnloadedSourceTest {
  protected:
    // The identity as a Source Manager asks for it: null origin, before any open.
    TW_IDENTITY AskIdentity() {
        TW_IDENTITY identity;
        std::memset(&identity, 0xA5, sizeof identity);
        EXPECT_EQ(DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity), TWRC_SUCCESS);
        return identity;
    }

    int LoadLibraryCalls() {
        int calls = 0;
        for (const host::LibraryCall& call : host::LibraryCalls()) {
            calls += call.operation == "LoadLibrary";
        }
        return calls;
    }
};

TEST_F(StartupTest, IdentityDefaultsWithoutCompanionLibrary) {
    ASSERT_TRUE(host::LoadDataSource());
    TW_IDENTITY identity = AskIdentity();

    EXPECT_EQ(TW_UINT32{identity.Id}, 0u);
    EXPECT_EQ(identity.Version.MajorNum, 1);
    EXPECT_EQ(identity.Version.MinorNum, 6);
    EXPECT_EQ(identity.Version.Language, TWLG_USA);
    EXPECT_EQ(identity.Version.Country, TWCY_USA);
    EXPECT_STREQ(identity.Version.Info, "Version 1.00 Sep. 4, 2007");
    EXPECT_EQ(identity.ProtocolMajor, 1);
    EXPECT_EQ(identity.ProtocolMinor, 9);
    EXPECT_EQ(TW_UINT32{identity.SupportedGroups}, DG_CONTROL | DG_IMAGE);
    EXPECT_STREQ(identity.Manufacturer, " ");
    EXPECT_STREQ(identity.ProductFamily, kProductName);
    EXPECT_STREQ(identity.ProductName, kProductName);
    EXPECT_STREQ(ProductText, kProductText);
    EXPECT_EQ(TW_UINT32{AppIdentity.Id}, 0u);
    EXPECT_EQ(ResourceModule, nullptr) << "no resource module before the first open";
}

TEST_F(StartupTest, StringSlotsHoldTheIniNamesAndCaption) {
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_STREQ(SectionName(), kProductName);
    EXPECT_STREQ(PaperKey(), "Paper Size");
    EXPECT_STREQ(ScanTypeKey(), "Scan Type");
    EXPECT_STREQ(ResolutionKey(), "Resolution");
    EXPECT_STREQ(DuplexKey(), "Duplex Scanning");
    EXPECT_STREQ(BrightnessKey(), "Brightness");
}

TEST_F(StartupTest, ReloadingRunsTheStartUpAgainFromItsLoadTimeValues) {
    ASSERT_TRUE(host::LoadDataSource());
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_STREQ(SectionName(), kProductName);
    EXPECT_STREQ(BrightnessKey(), "Brightness");
}

// Each slot is loaded from the own string table; any one missing refuses the load.
class MissingSlotStringTest : public StartupTest, public ::testing::WithParamInterface<int> {};

TEST_P(MissingSlotStringTest, RefusesTheLoad) {
    host::SetOwnString(GetParam(), nullptr);
    EXPECT_FALSE(host::LoadDataSource());
    EXPECT_EQ(host::OpenDisplayContextCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(EverySlot, MissingSlotStringTest,
                         ::testing::Values(IDS_SECTION_NAME, IDS_KEY_PAPER, IDS_KEY_SCAN_TYPE,
                                           IDS_KEY_RESOLUTION, IDS_KEY_DUPLEX, IDS_KEY_BRIGHTNESS));

TEST_F(StartupTest, SlotsCutTextsToTheirBuffers) {
    host::SetOwnString(IDS_SECTION_NAME, std::string(40, 'S').c_str());
    host::SetOwnString(IDS_KEY_DUPLEX, std::string(25, 'D').c_str());
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_EQ(std::string(SectionName()), std::string(34, 'S'));
    EXPECT_EQ(std::string(DuplexKey()), std::string(19, 'D'));
}

TEST_F(StartupTest, WithoutDisplayContextTheLoadIsRefused) {
    host::SetNoDisplay();
    EXPECT_FALSE(host::LoadDataSource());
}

TEST_F(StartupTest, MeasuresTheDisplayAndReleasesItsContext) {
    host::SetDisplaySize(800, 600);
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_EQ(ScreenWidth, 800);
    EXPECT_EQ(ScreenHeight, 600);
    EXPECT_EQ(host::OpenDisplayContextCount(), 0);
}

TEST_F(StartupTest, OtherIdentityStringsMissingLeaveEmptyFields) {
    host::SetOwnString(IDS_VERSION_INFO, nullptr);
    host::SetOwnString(IDS_MANUFACTURER, nullptr);
    ASSERT_TRUE(host::LoadDataSource());
    TW_IDENTITY identity = AskIdentity();
    EXPECT_STREQ(identity.Version.Info, "");
    EXPECT_STREQ(identity.Manufacturer, "");
}

// The companion library decides the product texts only through its string 206.
struct CompanionCase {
    const char* name;
    host::Companion scenario;
    const char* marker; // string 206; nullptr absent
    bool companionTexts;
};

class CompanionTextsTest : public StartupTest,
                           public ::testing::WithParamInterface<CompanionCase> {};

TEST_P(CompanionTextsTest, ChooseProductNameAndText) {
    const CompanionCase& c = GetParam();
    // Own strings 7 and 8 read like 2 and 6; told apart here on purpose.
    host::SetOwnString(IDS_PRODUCT_NAME_COMPANION, "Name of string 7");
    host::SetOwnString(IDS_PRODUCT_TEXT_COMPANION, "Product text of string 8");
    host::SetCompanion(c.scenario);
    host::SetCompanionMarker(c.marker);
    ASSERT_TRUE(host::LoadDataSource());

    TW_IDENTITY identity = AskIdentity();
    EXPECT_STREQ(identity.ProductName, c.companionTexts ? "Name of string 7" : kProductName);
    EXPECT_STREQ(ProductText, c.companionTexts ? "Product text of string 8" : kProductText);
    EXPECT_STREQ(identity.ProductFamily, kProductName);
    // Start-up never keeps the companion library.
    EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 0);
    EXPECT_EQ(ResourceModule, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CompanionTextsTest,
    ::testing::Values(CompanionCase{"Absent", host::Companion::Absent, nullptr, false},
                      CompanionCase{"NotLoadable", host::Companion::NotLoadable, "x", false},
                      CompanionCase{"WithoutMarker", host::Companion::Loadable, nullptr, false},
                      CompanionCase{"EmptyMarker", host::Companion::Loadable, "", false},
                      CompanionCase{"WithMarker", host::Companion::Loadable, "ZARVIK", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupTest, MarkerTextIsShownNowhere) {
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionMarker("Marker 206 text");
    ASSERT_TRUE(host::LoadDataSource());
    TW_IDENTITY identity = AskIdentity();
    std::string all = std::string(identity.Version.Info) + identity.Manufacturer +
                      identity.ProductFamily + identity.ProductName + ProductText;
    EXPECT_EQ(all.find("Marker"), std::string::npos);
}

TEST_F(StartupTest, ProbesTheCompanionFileForExistenceOnly) {
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionMarker("ZARVIK");
    ASSERT_TRUE(host::LoadDataSource());
    std::string path = host::WindowsDirectory() + "\\TWAIN_32\\ZARVIK\\ZARVIK.DLL";
    ASSERT_FALSE(host::CreateFileCalls().empty());
    const host::CreateFileCall& probe = host::CreateFileCalls().front();
    EXPECT_EQ(probe.name, path);
    EXPECT_EQ(probe.access, 0u);
    EXPECT_EQ(probe.share, 0u);
    EXPECT_EQ(probe.disposition, OPEN_EXISTING);
    EXPECT_TRUE(probe.opened);
    EXPECT_EQ(host::OpenFileHandleCount(), 0);
}

TEST_F(StartupTest, WindowsDirectoryTooLongForItsBufferMeansNoCompanion) {
    host::SetWindowsDirectory("C:\\" + std::string(150, 'W'));
    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionMarker("ZARVIK");
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_EQ(LoadLibraryCalls(), 0);
    EXPECT_STREQ(ProductText, kProductText);
}

// Each identity text field is a TW_STR32: 33 characters and the NUL.
struct CutCase {
    const char* name;
    int stringId;
    size_t fieldOffset;
    bool withMarker;
};

class IdentityCutTest : public StartupTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(IdentityCutTest, LongTextsAreCutTo33Characters) {
    const CutCase& c = GetParam();
    std::string longText = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGH"; // 44 characters
    host::SetOwnString(c.stringId, longText.c_str());
    if (c.withMarker) {
        host::SetCompanion(host::Companion::Loadable);
        host::SetCompanionMarker("ZARVIK");
    }
    ASSERT_TRUE(host::LoadDataSource());
    TW_IDENTITY identity = AskIdentity();
    const char* field = reinterpret_cast<const char*>(&identity) + c.fieldOffset;
    EXPECT_EQ(std::string(field, strnlen(field, sizeof(TW_STR32))), longText.substr(0, 33));
    EXPECT_EQ(field[33], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IdentityCutTest,
    ::testing::Values(
        CutCase{"Info", IDS_VERSION_INFO,
                offsetof(TW_IDENTITY, Version) + offsetof(TW_VERSION, Info), false},
        CutCase{"Manufacturer", IDS_MANUFACTURER, offsetof(TW_IDENTITY, Manufacturer), false},
        CutCase{"ProductFamily", IDS_PRODUCT_FAMILY, offsetof(TW_IDENTITY, ProductFamily), false},
        CutCase{"ProductName", IDS_SECTION_NAME, offsetof(TW_IDENTITY, ProductName), false},
        CutCase{"CompanionProductName", IDS_PRODUCT_NAME_COMPANION,
                offsetof(TW_IDENTITY, ProductName), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupTest, ProductTextTakes254Characters) {
    host::SetOwnString(IDS_PRODUCT_TEXT, std::string(300, 'p').c_str());
    ASSERT_TRUE(host::LoadDataSource());
    EXPECT_EQ(std::string(ProductText), std::string(254, 'p'));
}

TEST_F(StartupTest, LoadsTheWaitCursor) {
    ASSERT_TRUE(host::LoadDataSource());
    ASSERT_NE(WaitCursor, nullptr);
    PlatformSetCursor(WaitCursor);
    EXPECT_EQ(host::CurrentCursor(), kCursorWait);
}

// ---- The resource module, chosen at open and released at close.

class ResourceModuleTest : public SourceTest {};

TEST_F(ResourceModuleTest, OwnModuleServesWithoutCompanion) {
    ChooseResourceModule();
    EXPECT_EQ(ResourceModule, host::OwnModuleHandle());
    ReleaseResourceModule();
    EXPECT_EQ(ResourceModule, host::OwnModuleHandle());
}

TEST_F(ResourceModuleTest, UnloadableCompanionLeavesTheOwnModule) {
    host::SetCompanion(host::Companion::NotLoadable);
    ChooseResourceModule();
    EXPECT_EQ(ResourceModule, host::OwnModuleHandle());
    ReleaseResourceModule();
}

TEST_F(ResourceModuleTest, CompanionIsChosenOnceAndReleasedOnce) {
    host::SetCompanion(host::Companion::Loadable); // no marker: chosen all the same
    ChooseResourceModule();
    ASSERT_EQ(ResourceModule, host::CompanionModuleHandle());
    ChooseResourceModule();
    EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 1);

    ReleaseResourceModule();
    EXPECT_EQ(ResourceModule, host::OwnModuleHandle());
    EXPECT_EQ(host::LibraryReferences(host::CompanionModuleHandle()), 0);
    ReleaseResourceModule(); // a second release frees nothing (TearDown checks the balance)
    EXPECT_EQ(ResourceModule, host::OwnModuleHandle());
}

TEST_F(ResourceModuleTest, ReleaseBeforeAnyChoiceChoosesNothing) {
    ReleaseResourceModule();
    EXPECT_EQ(ResourceModule, nullptr);
}

TEST_F(ResourceModuleTest, ResourceStringsComeFromTheChosenModule) {
    char text[64];
    EXPECT_EQ(LoadResourceString(IDS_SCANNER_NOT_READY, text, sizeof text), 0)
        << "nothing is found before a module is chosen";
    EXPECT_STREQ(text, "");

    host::SetCompanion(host::Companion::Loadable);
    host::SetCompanionStringPrefix("[companion] ");
    ChooseResourceModule();
    EXPECT_GT(LoadResourceString(IDS_SCANNER_NOT_READY, text, sizeof text), 0);
    EXPECT_STREQ(text, "[companion] Scanner not ready");
    EXPECT_GT(LoadOwnString(IDS_SCANNER_NOT_READY, text, sizeof text), 0);
    EXPECT_STREQ(text, "Scanner not ready");
    ReleaseResourceModule();
}

} // namespace
