// DAT_IMAGEINFO: the pre-scan, the answer the application gets, and the
// free-space check of the temporary drive.
#include <cstring>
#include <string>
#include <vector>

#include "device/acquisition.h"
#include "device/commands.h"
#include "device/image_info.h"
#include "device_fixture.h"
#include "twain/states.h"
#include "twain/status.h"
#include "ui/settings.h"

namespace {

class ImageInfoTest : public DeviceTest {
  protected:
    void SetUp() override {
        DeviceTest::SetUp();
        SourceState = kStateTransferReady;
        ScanSettings = {2, 0, 1, 0, 0};
        std::memset(&info, 0xAB, sizeof info);
    }

    TW_UINT16 Ask(TW_UINT16 message = MSG_GET) {
        TripletRequest request{&app, DG_IMAGE, DAT_IMAGEINFO, message, &info};
        return ImageInfoOperation(&request);
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> names;
        for (const sim::WrittenBlock& block : sim::WrittenBlocks()) {
            names.push_back(sim::OpcodeName(block.bytes[1]));
        }
        return names;
    }

    void ExpectStandBy(int32_t dpi) {
        EXPECT_EQ(info.ImageWidth, 100);
        EXPECT_EQ(info.ImageLength, 100);
        EXPECT_EQ(info.BitsPerPixel, 1);
        EXPECT_EQ(info.XResolution.Whole, dpi);
        EXPECT_EQ(info.YResolution.Whole, dpi);
    }

    TW_IMAGEINFO info{};
};

TEST_F(ImageInfoTest, AnswersTheScannersGeometryWithoutScanning) {
    sim::AddScanner(0);
    ScanSettings.ResolutionIndex = 2;
    BuildScanParameters(); // as the Scan button does: A4 upright at 600 dpi
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"GetStatus", "GetStatus", "SetScanParameters",
                                                    "GetImageInfo"}));
    EXPECT_EQ(info.XResolution.Whole, 600);
    EXPECT_EQ(info.XResolution.Frac, 0);
    EXPECT_EQ(info.YResolution.Whole, 600);
    EXPECT_EQ(info.YResolution.Frac, 0);
    EXPECT_EQ(info.ImageWidth, 4960);
    EXPECT_EQ(info.ImageLength, 7015);
    EXPECT_EQ(info.SamplesPerPixel, 1);
    EXPECT_EQ(info.BitsPerSample[0], 1);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(info.BitsPerSample[i], 0) << i;
    }
    EXPECT_EQ(info.BitsPerPixel, 1);
    EXPECT_EQ(info.Planar, 0);
    EXPECT_EQ(info.PixelType, TWPT_BW);
    EXPECT_EQ(info.Compression, TWCP_NONE);
    EXPECT_EQ(PageImage.stride, 620);
    EXPECT_EQ(PageImage.scannerLines, 7015u);
    EXPECT_EQ(PageImage.pixelMode, 600u);
    EXPECT_EQ(PageImage.xResolution, 600u);
    EXPECT_EQ(SourceState, kStateTransferReady);
    EXPECT_EQ(sim::Slot(0).pageNumber, 0u); // no scan started
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ImageInfoTest, PreScanSendsTheWindowOfTheCurrentSettings) {
    // Before any Scan (a source enabled without its dialog), and after the
    // settings changed since the last one, the answer describes the page the
    // transfer will deliver.
    sim::AddScanner(0);
    ScanSettings = {12, 0, 1, 0, 0}; // Letter upright at 300 dpi, no Scan yet
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    std::vector<uint8_t> block = sim::BlocksWithOpcode(sim::kOpSetScanParameters).at(0);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 6, block.begin() + 19),
              (std::vector<uint8_t>{0x01, 0x00, 0x05, 12, 0, 0, 0, 0, 0xF7, 0x09, 0xDF, 0x0C, 0}));
    EXPECT_EQ(info.ImageWidth, 2551);
    EXPECT_EQ(info.ImageLength, 3295);
    EXPECT_EQ(info.XResolution.Whole, 300);

    BuildScanParameters();            // a Scan at Letter 300 dpi
    ScanSettings.ResolutionIndex = 0; // then 150 dpi
    sim::Reset();
    sim::AddScanner(0);
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    block = sim::BlocksWithOpcode(sim::kOpSetScanParameters).at(0);
    EXPECT_EQ(block[6], 0x00); // 150 dpi
    EXPECT_EQ(info.ImageWidth, 2551 / 2);
    EXPECT_EQ(info.ImageLength, 3295 / 2);
    EXPECT_EQ(info.XResolution.Whole, 150);
}

TEST_F(ImageInfoTest, StrideIsTheRowsBytesRoundedUpToFour) {
    const std::pair<uint16_t, uint16_t> cases[] = {{32, 4}, {33, 8}, {9, 4}, {0, 0}, {65535, 8192}};
    for (const auto& [pixels, stride] : cases) {
        sim::Reset();
        sim::AddScanner(0).imageInfoOverride = sim::ImageInfo{pixels, 5, pixels, 5};
        ASSERT_EQ(Ask(), TWRC_SUCCESS);
        EXPECT_EQ(PageImage.stride, stride) << pixels << " pixels";
        EXPECT_EQ(RowStride(pixels), stride) << pixels << " pixels";
    }
}

TEST_F(ImageInfoTest, WrongStateOrMessageFailsWithoutTouchingTheScanner) {
    struct Case {
        int32_t state;
        TW_UINT16 message;
        TW_UINT16 condition;
        std::string text;
    };
    const Case cases[] = {
        {kStateTransferring, MSG_GET, TWCC_SEQERROR,
         "General failure in transfer.  DG DAT MSG is out of expected sequence."},
        {kStateEnabled, MSG_GET, TWCC_SEQERROR,
         "General failure in transfer.  DG DAT MSG is out of expected sequence."},
        {kStateTransferReady, MSG_SET, TWCC_BADPROTOCOL,
         "General failure in transfer.  Bad protocol error."},
    };
    sim::AddScanner(0);
    for (const Case& c : cases) {
        boxes.clear();
        SourceState = c.state;
        EXPECT_EQ(Ask(c.message), TWRC_FAILURE) << c.text;
        EXPECT_EQ(ConditionCode, c.condition) << c.text;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.text});
        EXPECT_EQ(SourceState, c.state);
    }
    EXPECT_TRUE(sim::Transcript().empty());
}

TEST_F(ImageInfoTest, MissingAnswerRecordIsRefused) {
    sim::AddScanner(0);
    TripletRequest request{&app, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr};
    EXPECT_EQ(ImageInfoOperation(&request), TWRC_FAILURE);
    EXPECT_EQ(ConditionCode, TWCC_BADVALUE);
    EXPECT_TRUE(sim::Transcript().empty());
}

TEST_F(ImageInfoTest, FailedPreScanAnswersTheStandByGeometry) {
    struct Case {
        const char* what;
        std::function<void()> scenario;
        std::string message;
    };
    const Case cases[] = {
        {"scanner switched off", [] {}, "Scanner not ready"},
        {"busy", [] { sim::AddScanner(0).status = 3; }, "Scanner Busy"},
        {"jammed", [] { sim::AddScanner(0).status = 1; }, "Document JAM on machine"},
        {"parameters refused",
         [] {
             sim::AddScanner(0).faults = {
                 {sim::FaultKind::FailWrite, sim::kOpSetScanParameters, 1}};
         },
         "Machine error"},
        {"image information short",
         [] {
             sim::AddScanner(0).faults = {{sim::FaultKind::ShortRead, sim::kOpGetImageInfo, 1, 4}};
         },
         "Machine error"},
    };
    for (const Case& c : cases) {
        sim::Reset();
        boxes.clear();
        PageImage.stride = 1234;
        PageImage.scannerLines = 4321;
        ConditionCode = TWCC_SUCCESS;
        c.scenario();
        ScanSettings.ResolutionIndex = 0;
        EXPECT_EQ(Ask(), TWRC_SUCCESS) << c.what;
        ExpectStandBy(150);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.message}) << c.what;
        ExpectDeviceBoxesKeptTheRules();
        EXPECT_EQ(ConditionCode, TWCC_SUCCESS) << c.what;
        EXPECT_EQ(PageImage.stride, 1234) << c.what;
        EXPECT_EQ(PageImage.scannerLines, 4321u) << c.what;
        EXPECT_EQ(sim::CommandCount(sim::kOpGetAdfStatus), 0) << c.what;
    }
}

TEST_F(ImageInfoTest, FreeSpaceCheckProbesTheTemporaryDrive) {
    sim::AddScanner(0);
    host::SetTempPath("d:\\tmp\\");
    // 8 x 512 x 250 bytes: 1000 kilobytes free.
    host::SetDiskFreeSpace("D:\\", host::DiskSpace{8, 512, 250, 1000});
    FreeSpaceThresholdKb = 1000.0;
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(host::TempFileNameCalls().size(), 1u);
    const host::TempFileNameCall& call = host::TempFileNameCalls()[0];
    EXPECT_EQ(call.path, "d:\\tmp\\");
    EXPECT_EQ(call.prefix, "QMX");
    EXPECT_EQ(call.unique, 0u);
    ASSERT_EQ(host::DeletedFiles().size(), 1u);
    EXPECT_EQ(host::DeletedFiles()[0], "D:\\TMP\\QMX0001.TMP");
    EXPECT_FALSE(host::FileExists(call.name));
    EXPECT_EQ(host::DiskFreeSpaceCalls(), std::vector<std::string>{"D:\\"});

    // A little more than there is: the message with the drive letter, and the
    // stand-by answer; the scanner's lines were recorded before the check.
    FreeSpaceThresholdKb = 1000.5;
    sim::Slot(0).imageInfoOverride = sim::ImageInfo{64, 77, 64, 77};
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    ExpectStandBy(300);
    EXPECT_EQ(PageImage.scannerLines, 77u);
    ASSERT_EQ(boxes.size(), 1u);
    // The text's leading space gives way to the letter.
    EXPECT_EQ(boxes[0].text, "D: Not enough disc space to scan !");
    EXPECT_EQ(boxes[0].owner, host::kApplicationWindow);
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_TRUE(boxes[0].channelClosed);
    EXPECT_EQ(host::MessageBoxes().back().caption, SectionName());
}

TEST_F(ImageInfoTest, ZeroThresholdNeverRefusesEvenAFullDrive) {
    sim::AddScanner(0);
    host::SetDiskFreeSpace("C:\\", host::DiskSpace{8, 512, 0, 1000});
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(info.ImageWidth, 2480); // the scanner's answer, not the stand-by 100
    EXPECT_EQ(host::DiskFreeSpaceCalls(), std::vector<std::string>{"C:\\"});
}

TEST_F(ImageInfoTest, TemporaryDirectoryWithoutADriveLetterCountsAsRoomy) {
    sim::AddScanner(0);
    host::SetTempPath("\\\\server\\share\\tmp\\");
    FreeSpaceThresholdKb = 1e12;
    ASSERT_EQ(Ask(), TWRC_SUCCESS);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(host::DiskFreeSpaceCalls().empty());
    EXPECT_EQ(host::DeletedFiles().size(), 1u); // the probe file is still removed
    EXPECT_FALSE(CheckTempDiskSpace());
}

} // namespace

namespace {

TEST_F(ImageInfoTest, ReachedThroughDsEntryInStateSix) {
    sim::AddScanner(0);
    SourceState = kStateLoaded;
    ASSERT_EQ(OpenSource(), TWRC_SUCCESS);
    SourceState = kStateTransferReady; // as MSG_XFERREADY leaves it
    ScanSettings = {12, 0, 0, 0, 0};   // Letter upright at 150 dpi
    BuildScanParameters();
    TW_IMAGEINFO answer{};
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &answer), TWRC_SUCCESS);
    EXPECT_EQ(answer.ImageWidth, 5102 >> 2);
    EXPECT_EQ(answer.ImageLength, 6590 >> 2);
    EXPECT_EQ(answer.XResolution.Whole, 150);
    SourceState = kStateOpen;
    EXPECT_EQ(CloseSource(), TWRC_SUCCESS);
}

} // namespace
