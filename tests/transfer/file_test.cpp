// The file transfer: the BMP file on disk, byte for byte, and what a failure
// leaves behind (nothing).
#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/file.h"
#include "transfer/native.h"
#include "transfer/transfer_support.h"
#include "twain/states.h"
#include "twain/transfer_control.h"
#include "ui/settings.h"

namespace transfer_test {
namespace {

void ExpectBmpHeaders(const std::vector<uint8_t>& file, uint32_t width, uint32_t height,
                      uint32_t stride, uint32_t pelsPerMetre) {
    ASSERT_EQ(file.size(), 62 + size_t{stride} * height) << "no trailing bytes";
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), 62 + stride * height);
    EXPECT_EQ(Le16(file, 6), 0u);
    EXPECT_EQ(Le16(file, 8), 0u);
    EXPECT_EQ(Le32(file, 10), 62u);
    EXPECT_EQ(Le32(file, 14), 40u);
    EXPECT_EQ(Le32(file, 18), width);
    EXPECT_EQ(Le32(file, 22), height);
    EXPECT_EQ(Le16(file, 26), 1u);
    EXPECT_EQ(Le16(file, 28), 1u);
    EXPECT_EQ(Le32(file, 30), 0u);
    EXPECT_EQ(Le32(file, 34), stride * height);
    EXPECT_EQ(Le32(file, 38), pelsPerMetre);
    EXPECT_EQ(Le32(file, 42), pelsPerMetre);
    EXPECT_EQ(Le32(file, 46), 2u);
    EXPECT_EQ(Le32(file, 50), 0u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.begin() + 62),
              (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
}

// ---- WriteBmpFile on a placed page

TEST_F(TransferTest, BmpFileCarriesTheDibsInformationAndRowsAndNothingMore) {
    const struct {
        uint32_t pixels, lines, rowsHeld, resolution, pels;
    } cases[] = {{100, 7, 7, 150, 5905}, {33, 1, 1, 600, 23622}, {2496, 9, 4, 300, 11811}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pixels);
        PlacePage(c.pixels, c.lines, c.rowsHeld, c.resolution);
        const uint32_t stride = StrideFor(c.pixels);
        const uint32_t height = std::min(c.lines, c.rowsHeld);
        ASSERT_EQ(WriteBmpFile("C:\\cwd\\page.bmp"), TWRC_XFERDONE);
        const std::vector<uint8_t> file = host::ReadFileBytes("C:\\cwd\\page.bmp");
        ExpectBmpHeaders(file, c.pixels, height, stride, c.pels);

        TW_UINT32 handle = 0;
        ASSERT_EQ(BuildDib(&handle), TWRC_XFERDONE);
        MemoryBlock block = host::BlockFromHandleValue(handle);
        const std::vector<uint8_t> dib = host::BlockBytes(block);
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + 14, file.end()),
                  std::vector<uint8_t>(dib.begin(), dib.end() - 96))
            << "the DIB's information and rows, in the same order";
        for (uint32_t row = 0; row < height; ++row) {
            ASSERT_EQ(file[62 + size_t{height - 1 - row} * stride], PlacedByte(row, 0)) << row;
        }
        host::FreeApplicationBlock(block);
        ReleasePageBuffer();
    }
    EXPECT_EQ(BufferStack.count, 0);
}

TEST_F(TransferTest, BufferStackHandsOutTenLockedBlocksLastInFirstOut) {
    void* addresses[kBufferStackDepth];
    for (int i = 0; i < kBufferStackDepth; ++i) {
        addresses[i] = PushBuffer(100 + i);
        ASSERT_NE(addresses[i], nullptr);
        MemoryBlock block = BufferStack.handles[i];
        EXPECT_EQ(host::Block(block)->flags, GMEM_MOVEABLE);
        EXPECT_EQ(host::Block(block)->size, size_t{110} + i);
        EXPECT_EQ(host::Block(block)->locks, 1);
    }
    EXPECT_EQ(PushBuffer(8), nullptr) << "ten at most";
    for (int i = kBufferStackDepth - 1; i >= 0; --i) {
        MemoryBlock top = BufferStack.handles[i];
        EXPECT_EQ(PopBuffer(), 1);
        EXPECT_TRUE(host::Block(top)->freed);
    }
    EXPECT_EQ(PopBuffer(), 0);

    host::FailNextAllocation();
    EXPECT_EQ(PushBuffer(8), nullptr);
    host::FailNextLock();
    EXPECT_EQ(PushBuffer(8), nullptr);
    EXPECT_EQ(BufferStack.count, 0);
    EXPECT_EQ(host::LiveBlockCount(), 0u);
}

// ---- DG_IMAGE / DAT_IMAGEFILEXFER through DS_Entry, with the simulated scanner

class FileTransferTest : public TransferTest {
  protected:
    void SetUp() override {
        TransferTest::SetUp();
        OpenSource();
        SourceState = kStateTransferReady;
        // The settings as the INI file gave them; no Scan has set the page's resolution.
        ScanSettings.ResolutionIndex = 1;
        // 100 pixels in lines sent 128 pixels wide: 16-byte rows with pad bytes.
        geometry = SetScannerImage(*scanner, 128, 20, 100, 20);
    }
    void SetFileName(const char* name) {
        TW_SETUPFILEXFER setup{};
        std::strcpy(setup.FileName, name);
        setup.Format = TWFF_BMP;
        ASSERT_EQ(Control(DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
    }
    TW_UINT16 Transfer() { return Image(DAT_IMAGEFILEXFER, MSG_GET, nullptr); }
    bool AnyFileCreated() const {
        for (const host::CreateFileCall& call : host::CreateFileCalls()) {
            if (call.disposition == CREATE_ALWAYS) {
                return true;
            }
        }
        return false;
    }
    void ExpectDiskFailure(const char* name) {
        EXPECT_EQ(Condition(), TWCC_DISKACCESS);
        EXPECT_EQ(LastBoxText(), "General failure in response to DAT_IMAGEFILEXFER.  "
                                 "Disk access (or write) error.");
        EXPECT_FALSE(host::FileExists(name));
        EXPECT_EQ(host::OpenFileHandleCount(), 0);
        EXPECT_EQ(PageImage.buffer, nullptr);
        EXPECT_EQ(BufferStack.count, 0);
    }

    ScannedGeometry geometry{};
};

TEST_F(FileTransferTest, NoSetupSinceLoadFailsWithBadCapAfterScanning) {
    EXPECT_EQ(Transfer(), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADCAP);
    EXPECT_EQ(LastBoxText(),
              "General failure in response to DAT_IMAGEFILEXFER.  Bad capabilities error.");
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 1) << "the page is scanned first";
    EXPECT_FALSE(AnyFileCreated());
    EXPECT_EQ(PageImage.buffer, nullptr);
}

TEST_F(FileTransferTest, DefaultNameIsWrittenInTheCurrentDirectory) {
    TW_SETUPFILEXFER setup{};
    ASSERT_EQ(Control(DAT_SETUPFILEXFER, MSG_GET, &setup), TWRC_SUCCESS);
    EXPECT_STREQ(setup.FileName, "TWAIN.TMP");
    ASSERT_EQ(Transfer(), TWRC_XFERDONE) << LastBoxText();

    const std::vector<uint8_t> file = host::ReadFileBytes("C:\\cwd\\TWAIN.TMP");
    ExpectBmpHeaders(file, 100, 20, 16, 11811); // before any Scan: the settings' 300 dpi
    ExpectBottomUpRowsOfPage(file, 62, 1, 20, geometry);
    const host::CreateFileCall& created = host::CreateFileCalls().back();
    EXPECT_EQ(created.name, "TWAIN.TMP");
    EXPECT_EQ(created.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(created.share, 0u);
    EXPECT_EQ(created.disposition, CREATE_ALWAYS);
    EXPECT_EQ(created.attributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(host::OpenFileHandleCount(), 0);
    EXPECT_EQ(PageImage.buffer, nullptr);
    EXPECT_EQ(SourceState, kStateTransferReady);
    EXPECT_EQ(BoxCount(), 0u);
}

TEST_F(FileTransferTest, FullPathIsWrittenThereAndAnExistingFileIsReplaced) {
    host::MakeDirectory("D:\\Scans");
    host::WriteFileText("D:\\Scans\\page one.bmp", std::string(5000, 'x'));
    SetFileName("D:\\Scans\\page one.bmp");
    PageImage.xResolution = PageImage.yResolution = 150;
    ASSERT_EQ(Transfer(), TWRC_XFERDONE) << LastBoxText();
    const std::vector<uint8_t> file = host::ReadFileBytes("D:\\Scans\\page one.bmp");
    ExpectBmpHeaders(file, 100, 20, 16, 5905);
    ExpectBottomUpRowsOfPage(file, 62, 1, 20, geometry);
    EXPECT_FALSE(host::FileExists("C:\\cwd\\TWAIN.TMP"));
}

TEST_F(FileTransferTest, PageOneLineHigh) {
    geometry = SetScannerImage(*scanner, 4960, 1, 4960, 1);
    SetFileName("C:\\cwd\\line.bmp");
    ASSERT_EQ(Transfer(), TWRC_XFERDONE) << LastBoxText();
    const std::vector<uint8_t> file = host::ReadFileBytes("C:\\cwd\\line.bmp");
    ExpectBmpHeaders(file, 4960, 1, 620, 11811);
    ExpectBottomUpRowsOfPage(file, 62, 1, 1, geometry);
}

TEST_F(FileTransferTest, PageWithMoreLinesThanSentWritesTheRowsSent) {
    geometry = SetScannerImage(*scanner, 128, 12, 100, 20);
    SetFileName("C:\\cwd\\short.bmp");
    ASSERT_EQ(Transfer(), TWRC_XFERDONE) << LastBoxText();
    const std::vector<uint8_t> file = host::ReadFileBytes("C:\\cwd\\short.bmp");
    ExpectBmpHeaders(file, 100, 12, 16, 11811);
    ExpectBottomUpRowsOfPage(file, 62, 1, 12, geometry);
}

TEST_F(FileTransferTest, MissingFolderFailsWithDiskAccessAndCreatesNothing) {
    SetFileName("C:\\no such folder\\page.bmp");
    EXPECT_EQ(Transfer(), TWRC_FAILURE);
    ExpectDiskFailure("C:\\no such folder\\page.bmp");
    EXPECT_FALSE(host::DirectoryExists("C:\\no such folder"));
}

// Every failure once the file exists deletes it, whatever the file held before.
struct FileFault {
    const char* name;
    std::function<void()> inject;
};

// Names the case in failure messages.
void PrintTo(const FileFault& c, std::ostream* out) {
    *out << c.name;
}

constexpr uint32_t kRow = 16;

class FileFaultTest : public FileTransferTest, public ::testing::WithParamInterface<FileFault> {};

TEST_P(FileFaultTest, FailureWhileWritingLeavesNoFileBehind) {
    host::WriteFileText("C:\\cwd\\out.bmp", "the application's old file");
    SetFileName("C:\\cwd\\out.bmp");
    GetParam().inject();
    EXPECT_EQ(Transfer(), TWRC_FAILURE);
    ExpectDiskFailure("C:\\cwd\\out.bmp");
    ASSERT_FALSE(host::DeletedFiles().empty());
    EXPECT_EQ(host::DeletedFiles().back(), "C:\\cwd\\out.bmp");
    host::SetAllocationFailure(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FileFaultTest,
    ::testing::Values(
        FileFault{"HeaderWrite", [] { host::FailFileWritesAfter(10); }},
        FileFault{"BitmapInformationWrite", [] { host::FailFileWritesAfter(14 + 20); }},
        FileFault{"DiskFullPartWayThroughTheRows",
                  [] { host::FailFileWritesAfter(62 + 3 * kRow + 5); }},
        FileFault{"DiskFullAtTheLastRow", [] { host::FailFileWritesAfter(62 + 19 * kRow); }},
        // The first row goes to the end of the file: a pointer that stops short fails.
        FileFault{"FilePointerFallsShort", [] { host::LimitFilePointer(62 + 19 * kRow - 1); }},
        FileFault{"NoInformationBlock",
                  [] {
                      host::SetAllocationFailure([](uint32_t flags, size_t bytes, int) {
                          return flags == GHND && bytes == 48;
                      });
                  }},
        FileFault{"NoRowBuffer",
                  [] {
                      host::SetAllocationFailure([](uint32_t flags, size_t bytes, int) {
                          return flags == GMEM_MOVEABLE && bytes == kRow + 10;
                      });
                  }}),
    [](const ::testing::TestParamInfo<FileFault>& info) { return std::string(info.param.name); });

TEST_F(FileTransferTest, OtherMessageFailsWithBadProtocolWithoutScanning) {
    SetFileName("C:\\cwd\\page.bmp");
    EXPECT_EQ(Image(DAT_IMAGEFILEXFER, MSG_SET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(LastBoxText(),
              "General failure in response to DAT_IMAGEFILEXFER.  Bad protocol error.");
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
    EXPECT_FALSE(host::FileExists("C:\\cwd\\page.bmp"));
}

TEST_F(FileTransferTest, FailedAcquisitionCancelsAndTouchesNoFile) {
    SetFileName("C:\\cwd\\page.bmp");
    scanner->feederJam = true;
    EXPECT_EQ(Transfer(), TWRC_CANCEL);
    EXPECT_EQ(LastBoxText(), "Document JAM on machine");
    EXPECT_FALSE(AnyFileCreated());
    EXPECT_EQ(PageImage.buffer, nullptr);
}

TEST_F(FileTransferTest, RequestInStateFourIsServed) {
    SourceState = kStateOpen;
    SetFileName("C:\\cwd\\page.bmp");
    EXPECT_EQ(Transfer(), TWRC_XFERDONE) << LastBoxText();
    EXPECT_TRUE(host::FileExists("C:\\cwd\\page.bmp"));
}

} // namespace
} // namespace transfer_test
