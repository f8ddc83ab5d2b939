// The fixture of the scanner device tests: the library loaded on the host
// simulation, the scanner simulator empty, the texts coming from the source's
// own module, and every message box recorded with the channel's state at the
// moment it showed.
#pragma once

#include <string>
#include <vector>

#include "device/channel.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "twain/startup.h"

struct ShownBox {
    std::string text;
    WindowHandle owner;
    uint32_t type;
    bool channelClosed;    // all four handles not open while the box showed
    int openDeviceHandles; // usbscan handles open at that moment
};

class DeviceTest : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        sim::Reset();
        ChooseResourceModule();
        host::OnMessageBox([this](const host::MessageBoxCall& box) {
            boxes.push_back(
                {box.text, box.owner, box.type, ChannelClosed(), host::OpenDeviceHandleCount()});
        });
    }

    void TearDown() override {
        EXPECT_TRUE(sim::ProtocolErrors().empty()) << sim::ProtocolErrorText();
        EXPECT_TRUE(ChannelClosed()) << "the channel was left open";
        if (HasFailure()) {
            std::printf("--- scanner transcript\n%s", sim::TranscriptText().c_str());
        }
        CloseScannerChannel();
        ReleaseResourceModule();
        SourceTest::TearDown();
        sim::Reset();
    }

    static bool ChannelClosed() {
        return ScannerChannel.device == kInvalidFile && ScannerChannel.pipe1 == kInvalidFile &&
               ScannerChannel.pipe2 == kInvalidFile && ScannerChannel.pipe3 == kInvalidFile;
    }

    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const ShownBox& box : boxes) {
            texts.push_back(box.text);
        }
        return texts;
    }

    // Every device message so far came after the channel had closed, was owned
    // by the active window and carried the stop icon.
    void ExpectDeviceBoxesKeptTheRules() const {
        for (const ShownBox& box : boxes) {
            EXPECT_TRUE(box.channelClosed) << box.text;
            EXPECT_EQ(box.openDeviceHandles, 0) << box.text;
            EXPECT_EQ(box.owner, host::kApplicationWindow) << box.text;
            EXPECT_EQ(box.type, MB_OK | MB_ICONHAND) << box.text;
        }
    }

    std::vector<ShownBox> boxes;
};
