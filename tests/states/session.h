// A TWAIN application's view of the loaded data source on the host: the
// simulation, one scanner, and the requests an application sends.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/host_platform.h"
#include "support/source_fixture.h"
#include "resources/resource_ids.h"
#include "resources/resource_tables.h"
#include "simulator/scanner_simulator.h"
#include "twain/entry.h"
#include "twain/states.h"
#include "twain/twain.h"

class SourceSession : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        sim::Reset();
        // A name of the Source Manager's own, so that a source that kept its
        // defaults instead of the record passed at open shows.
        std::strcpy(sourceIdentity.ProductName, "As the manager names it");
    }

    void TearDown() override {
        EXPECT_TRUE(sim::ProtocolErrors().empty()) << sim::ProtocolErrorText();
        EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::TranscriptText();
        SourceTest::TearDown();
        sim::Reset();
    }

    // Ends one loaded library's life and loads it afresh, for tables of cases.
    // `arrange` sets up the simulation before the load.
    void Reload(const std::function<void()>& arrange = nullptr) {
        for (const std::string& problem : host::TearDownProblems()) {
            ADD_FAILURE() << problem;
        }
        EXPECT_TRUE(sim::ProtocolErrors().empty()) << sim::ProtocolErrorText();
        host::Reset();
        sim::Reset();
        if (arrange) {
            arrange();
        }
        ASSERT_TRUE(host::LoadDataSource());
    }

    TW_UINT16 Open() { return OpenSource(); }
    TW_UINT16 Close() { return CloseSource(); }
    TW_UINT16 Enable(bool showUI, WindowHandle parent = host::kApplicationWindow) {
        TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUI ? 1 : 0), 0, parent};
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    TW_UINT16 Disable(bool showUI = true) {
        TW_USERINTERFACE ui{static_cast<TW_BOOL>(showUI ? 1 : 0), 0, host::kApplicationWindow};
        return Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{0xFFFF, 0xFFFF};
        EXPECT_EQ(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }
    // The window message as the application's loop hands it over.
    TW_UINT16 ProcessEvent(WindowHandle window, uint32_t message, WParam wParam,
                           TW_UINT16* twMessage) {
        PlatformMsg msg{window, message, wParam, 0, 0, 0, 0};
        TW_EVENT event{&msg, 0x7777};
        TW_UINT16 rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        *twMessage = event.TWMessage;
        return rc;
    }

    // The settings dialog while the source is enabled with its user interface.
    static WindowHandle SettingsDialog() { return host::FindDialog(IDD_SETTINGS); }

    static std::string Text(int id) {
        const char* text = FindResourceString(id);
        return text != nullptr ? text : "";
    }
    // The operation-failure box's text for an operation text and a condition text.
    static std::string FailureText(int operationText, TW_UINT16 code) {
        return Text(operationText) + Text(IDS_CONDITION_BASE + code);
    }
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const host::MessageBoxCall& box : host::MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    static std::string SettingsFile() { return host::TempPath() + "UAXXXX.ini"; }
    // A settings file as the user's last session left it.
    static void WriteSettings(const std::string& lines) {
        host::WriteFileText(SettingsFile(), "[" + Text(IDS_SECTION_NAME) + "]\r\n" + lines);
    }
    static std::optional<std::string> SavedSetting(int keyString) {
        return host::IniValue(SettingsFile(), Text(IDS_SECTION_NAME), Text(keyString));
    }
    static std::vector<TW_UINT16> DsmMessages() {
        std::vector<TW_UINT16> messages;
        for (const host::DsmCall& call : host::DsmCalls()) {
            messages.push_back(call.message);
        }
        return messages;
    }
};
