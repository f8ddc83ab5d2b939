// The fixture of every test that drives the data source through DS_Entry.
//
//   class OpenTest : public SourceTest {};           // library loaded in SetUp
//   TEST_F(OpenTest, Something) {
//       EXPECT_EQ(OpenSource(), TWRC_SUCCESS);
//       TW_STATUS status{};
//       EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
//   }
//
//   class StartupTest : public UnloadedSourceTest {}; // configure, then load
//   TEST_F(StartupTest, NoDisplay) {
//       host::SetNoDisplay();
//       EXPECT_FALSE(host::LoadDataSource());
//   }
//
// SetUp resets the whole host simulation (fresh scratch directory, no
// scanner, no companion library, TWAIN_32.DLL present, display 1024 x 768).
// TearDown fails the test for every leaked global-memory block, memory or
// handle misuse (double free, use of a freed handle, unbalanced unlock or
// FreeLibrary), file or usbscan handle left open and display context not
// deleted. Blocks handed to the application (containers, DIBs) are the test's:
// free them with PlatformGlobalFree or host::FreeApplicationBlock. A fixture
// that overrides SetUp or TearDown calls these first / last.
#pragma once

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/host/host_platform.h"
#include "twain/entry.h"
#include "twain/twain.h"

inline TW_IDENTITY MakeIdentity(TW_UINT32 id, const char* productName) {
    TW_IDENTITY identity{};
    identity.Id = id;
    identity.Version.MajorNum = 1;
    identity.Version.Language = TWLG_USA;
    identity.Version.Country = TWCY_USA;
    std::strncpy(identity.Version.Info, "1.0", sizeof identity.Version.Info - 1);
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strncpy(identity.Manufacturer, "Fixture", sizeof identity.Manufacturer - 1);
    std::strncpy(identity.ProductFamily, "Fixture", sizeof identity.ProductFamily - 1);
    std::strncpy(identity.ProductName, productName, sizeof identity.ProductName - 1);
    return identity;
}

class SourceTest : public ::testing::Test {
  protected:
    explicit SourceTest(bool loadOnSetUp = true) : loadOnSetUp_(loadOnSetUp) {}

    void SetUp() override {
        host::Reset();
        app = MakeIdentity(1, "Fixture Application");
        sourceIdentity = MakeIdentity(2, "Velmora Oskaro Tq3480 PCL");
        if (loadOnSetUp_) {
            ASSERT_TRUE(host::LoadDataSource()) << "the library refused to load";
        }
    }

    void TearDown() override {
        if (checkAtTearDown) {
            for (const std::string& problem : host::TearDownProblems()) {
                ADD_FAILURE() << problem;
            }
        }
        host::Shutdown();
    }

    // One request as the Source Manager passes it on from the application.
    TW_UINT16 Call(TW_UINT32 dataGroup, TW_UINT16 dataArgumentType, TW_UINT16 message, void* data,
                   TW_IDENTITY* origin = nullptr) {
        return DS_Entry(origin != nullptr ? origin : &app, dataGroup, dataArgumentType, message,
                        data);
    }

    // MSG_OPENDS with the identity record the Source Manager assigned (Id 2).
    TW_UINT16 OpenSource() { return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity); }
    TW_UINT16 CloseSource() { return Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity); }

    TW_IDENTITY app{};            // the application (Id 1), the default origin
    TW_IDENTITY sourceIdentity{}; // the source's record as the Source Manager passes it
    bool checkAtTearDown = true;  // a test of the checks themselves may turn them off

  private:
    bool loadOnSetUp_;
};

// For start-up tests: SetUp resets the simulation but does not load the
// library; the test sets its scenario, then calls host::LoadDataSource().
class UnloadedSourceTest : public SourceTest {
  protected:
    UnloadedSourceTest() : SourceTest(false) {}
};
