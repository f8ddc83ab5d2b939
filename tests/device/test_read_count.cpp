// A page is read with as few ReadData commands as whole lines of at most
// 65535 bytes allow, for the largest pages at the resolutions they are scanned
// at, whether the scanner pads its lines or not.
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "device/acquisition.h"
#include "device/channel.h"
#include "simulator/scanner_simulator.h"
#include "support/source_fixture.h"
#include "twain/startup.h"
#include "ui/settings.h"

namespace {

struct ReadCountCase {
    const char* name;
    int32_t paperIndex;
    int32_t resolutionIndex;
    uint16_t linePadding; // pixels the scanner rounds its line width up to
};

void PrintTo(const ReadCountCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadCountTest : public SourceTest, public ::testing::WithParamInterface<ReadCountCase> {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        sim::Reset();
        ChooseResourceModule();
    }
    void TearDown() override {
        ReleasePageBuffer();
        CloseScannerChannel();
        ReleaseResourceModule();
        SourceTest::TearDown();
        sim::Reset();
    }
};

// The ReadData commands of the transcript, which records each as the scanner saw it.
int ReadDataCommandsInTranscript() {
    int count = 0;
    for (const std::string& line : sim::Transcript()) {
        const size_t text = line.find("] ");
        if (text != std::string::npos && line.compare(text + 2, 9, "ReadData ") == 0) {
            ++count;
        }
    }
    return count;
}

TEST_P(ReadCountTest, PageTakesTheFewestReadsOfWholeLines) {
    const ReadCountCase& page = GetParam();
    sim::AddScanner(0).linePadding = page.linePadding;
    ScanSettings = {page.paperIndex, 0, page.resolutionIndex, 0, 0};
    ASSERT_EQ(AcquirePage(), 1) << sim::TranscriptText();
    ASSERT_TRUE(sim::ProtocolErrors().empty()) << sim::ProtocolErrorText();

    // The geometry as the scanner announced it.
    const sim::ImageInfo info = *sim::Slot(0).announced;
    const uint32_t bytesPerLine = (info.pixelsPerScannerLine + 7u) / 8u;
    const uint32_t lines = info.scannerLines;
    ASSERT_GT(bytesPerLine, 0u);
    const uint32_t linesPerRead = 65535 / bytesPerLine;
    const int fewest = static_cast<int>((lines + linesPerRead - 1) / linesPerRead);
    EXPECT_EQ(ReadDataCommandsInTranscript(), fewest) << sim::TranscriptText();

    // Each read is whole lines, all but the last as many as fit.
    const std::vector<uint32_t> counts = sim::ReadDataCounts();
    ASSERT_EQ(counts.size(), static_cast<size_t>(fewest));
    uint64_t read = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        EXPECT_LE(counts[i], 65535u);
        EXPECT_EQ(counts[i] % bytesPerLine, 0u) << "read " << i;
        if (i + 1 < counts.size()) {
            EXPECT_EQ(counts[i], linesPerRead * bytesPerLine) << "read " << i;
        }
        read += counts[i];
    }
    EXPECT_EQ(read, uint64_t{bytesPerLine} * lines);
}

INSTANTIATE_TEST_SUITE_P(Pages, ReadCountTest,
                         ::testing::Values(ReadCountCase{"A4_300dpi_padded", 2, 1, 32},
                                           ReadCountCase{"A4_300dpi_unpadded", 2, 1, 1},
                                           ReadCountCase{"A3_600dpi_padded", 0, 2, 32},
                                           ReadCountCase{"A3_600dpi_unpadded", 0, 2, 1}),
                         [](const ::testing::TestParamInfo<ReadCountCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
