// The memory transfer: strips of whole rows into the application's buffers or
// the source's own, as an application reads them.
#include <cstring>
#include <ostream>
#include <vector>

#include "transfer/memory.h"
#include "transfer/transfer_support.h"
#include "twain/states.h"

namespace transfer_test {
namespace {

constexpr uint32_t kStride = 312;
constexpr uint32_t kLines = 100;
constexpr uint32_t kLength32Rows = 32 * kStride + 100; // 32 rows fit, 33 do not

class MemoryTransferTest : public TransferTest {
  protected:
    void SetUp() override {
        TransferTest::SetUp();
        OpenSource();
        SourceState = kStateTransferReady;
        geometry = SetScannerImage(*scanner, 2496, kLines, 2496, kLines);
    }

    static TW_IMAGEMEMXFER Request(TW_UINT32 flags, TW_UINT32 length, void* memory) {
        TW_IMAGEMEMXFER request;
        std::memset(&request, 0xA5, sizeof(request)); // every written field must be written
        request.Memory.Flags = flags;
        request.Memory.Length = length;
        request.Memory.TheMem = memory;
        return request;
    }
    TW_UINT16 Strip(TW_IMAGEMEMXFER& request, TW_UINT16 message = MSG_GET) {
        return Image(DAT_IMAGEMEMXFER, message, &request);
    }

    // The strip's rows, top row first, as the page's rows firstRow onwards.
    void ExpectRowsOfPage(const uint8_t* strip, uint32_t page, uint32_t firstRow, uint32_t rows) {
        for (uint32_t row = 0; row < rows; ++row) {
            for (uint32_t byte = 0; byte < kStride; ++byte) {
                ASSERT_EQ(
                    strip[size_t{row} * kStride + byte],
                    sim::ExpectedPageByte(page, firstRow + row, byte, geometry.scannerBytesPerLine))
                    << "page " << page << " row " << firstRow + row << " byte " << byte;
            }
        }
    }

    void ExpectStrip(const TW_IMAGEMEMXFER& request, uint32_t yOffset, uint32_t rows) {
        EXPECT_EQ(Copy(request.Compression), TWCP_NONE);
        EXPECT_EQ(Copy(request.BytesPerRow), kStride);
        EXPECT_EQ(Copy(request.Columns), 2496u);
        EXPECT_EQ(Copy(request.Rows), rows);
        EXPECT_EQ(Copy(request.XOffset), 0u);
        EXPECT_EQ(Copy(request.YOffset), yOffset);
        EXPECT_EQ(Copy(request.BytesWritten), rows * kStride);
    }

    // Reads the rest of the page into one application buffer.
    void FinishPage() {
        std::vector<uint8_t> rest(kLines * kStride);
        TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, rest.size(), rest.data());
        EXPECT_EQ(Strip(request), TWRC_XFERDONE);
    }

    ScannedGeometry geometry{};
};

TEST_F(MemoryTransferTest, HundredLinesInStripsOf32Rows) {
    std::vector<uint8_t> buffer(kLength32Rows);
    const uint32_t expectedRows[] = {32, 32, 32, 4};
    const TW_UINT16 expectedResults[] = {TWRC_SUCCESS, TWRC_SUCCESS, TWRC_SUCCESS, TWRC_XFERDONE};
    for (int strip = 0; strip < 4; ++strip) {
        SCOPED_TRACE(strip);
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        TW_IMAGEMEMXFER request =
            Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
        EXPECT_EQ(Strip(request), expectedResults[strip]);
        ExpectStrip(request, 32u * strip, expectedRows[strip]);
        ExpectRowsOfPage(buffer.data(), 1, 32 * strip, expectedRows[strip]);
        EXPECT_EQ(buffer[expectedRows[strip] * kStride], 0xEE) << "nothing past the strip";
        EXPECT_EQ(Condition(), TWCC_BUMMER) << "every strip leaves TWCC_BUMMER";
    }
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 1);
    EXPECT_EQ(PageImage.buffer, nullptr) << "the last strip releases the page";
    EXPECT_EQ(BoxCount(), 0u);
}

TEST_F(MemoryTransferTest, BufferForTheWholePageFinishesAtOnce) {
    std::vector<uint8_t> buffer(kLines * kStride);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, buffer.size(), buffer.data());
    EXPECT_EQ(Strip(request), TWRC_XFERDONE);
    ExpectStrip(request, 0, kLines);
    ExpectRowsOfPage(buffer.data(), 1, 0, kLines);
    EXPECT_EQ(PageImage.buffer, nullptr);
}

TEST_F(MemoryTransferTest, BufferSmallerThanARowMakesNoProgress) {
    std::vector<uint8_t> buffer(kStride - 1, 0xEE);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, buffer.size(), buffer.data());
    EXPECT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 0, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(kStride - 1, 0xEE));
    // No row was handed over, so the next request starts a page of its own; the
    // page still held gives way to it.
    std::vector<uint8_t> whole(kLines * kStride);
    request = Request(TWMF_APPOWNS | TWMF_POINTER, whole.size(), whole.data());
    EXPECT_EQ(Strip(request), TWRC_XFERDONE);
    ExpectStrip(request, 0, kLines);
    ExpectRowsOfPage(whole.data(), 2, 0, kLines);
}

// ---- Memory.Flags: owner and reference kind

enum class Expect { AppPointer, AppHandle, SourcePointer, SourceHandle, Refused };

struct FlagCase {
    const char* name;
    TW_UINT32 flags;
    Expect expect;
};

// Names the case in failure messages.
void PrintTo(const FlagCase& c, std::ostream* out) {
    *out << c.name;
}

class MemoryFlagTest : public MemoryTransferTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(MemoryFlagTest, StripGoesWhereTheFlagsSay) {
    const FlagCase& c = GetParam();
    std::vector<uint8_t> appBuffer(kLength32Rows, 0xEE);
    MemoryBlock appBlock = nullptr;
    void* memory = appBuffer.data();
    if (c.expect == Expect::AppHandle) {
        appBlock = PlatformGlobalAlloc(GHND, kLength32Rows);
        memory = appBlock;
    }
    const void* firstTheMem = nullptr;
    for (int strip = 0; strip < 2; ++strip) {
        SCOPED_TRACE(strip);
        TW_IMAGEMEMXFER request = Request(c.flags, kLength32Rows, memory);
        const size_t blocksBefore = host::LiveBlockCount();
        const TW_UINT16 result = Strip(request);
        if (c.expect == Expect::Refused) {
            EXPECT_EQ(result, TWRC_FAILURE);
            EXPECT_EQ(Condition(), TWCC_BUMMER);
            EXPECT_EQ(BoxCount(), 0u);
            EXPECT_NE(PageImage.buffer, nullptr) << "the page stays held";
            break;
        }
        ASSERT_EQ(result, TWRC_SUCCESS);
        ExpectStrip(request, 32u * strip, 32);
        const uint8_t* strip_bytes = nullptr;
        std::vector<uint8_t> copy;
        switch (c.expect) {
        case Expect::AppPointer:
            EXPECT_EQ(Copy(request.Memory.TheMem), memory);
            EXPECT_EQ(SourceStripBuffer.handle, nullptr) << "the source allocates nothing";
            strip_bytes = appBuffer.data();
            break;
        case Expect::AppHandle:
            EXPECT_EQ(host::Block(appBlock)->locks, 0) << "unlocked before the call returns";
            copy = host::BlockBytes(appBlock);
            strip_bytes = copy.data();
            break;
        case Expect::SourcePointer: {
            MemoryBlock own = SourceStripBuffer.handle;
            ASSERT_NE(own, nullptr);
            EXPECT_EQ(host::Block(own)->flags, GPTR);
            EXPECT_EQ(host::Block(own)->size, kLength32Rows + 10);
            EXPECT_EQ(host::Block(own)->locks, 1) << "locked once for its whole life";
            if (strip == 0) {
                firstTheMem = request.Memory.TheMem;
                copy = host::BlockBytes(own);
                EXPECT_EQ(std::vector<uint8_t>(copy.begin() + 32 * kStride, copy.end()),
                          std::vector<uint8_t>(kLength32Rows + 10 - 32 * kStride, 0))
                    << "zero-filled past the strip";
            } else {
                EXPECT_EQ(Copy(request.Memory.TheMem), firstTheMem)
                    << "the same address every strip";
                EXPECT_EQ(host::LiveBlockCount(), blocksBefore);
            }
            strip_bytes = static_cast<const uint8_t*>(request.Memory.TheMem);
            break;
        }
        case Expect::SourceHandle: {
            EXPECT_EQ(Copy(request.Memory.TheMem), SourceStripBuffer.handle);
            if (strip == 1) {
                EXPECT_EQ(Copy(request.Memory.TheMem), firstTheMem)
                    << "the same handle every strip";
            }
            firstTheMem = request.Memory.TheMem;
            EXPECT_EQ(host::Block(request.Memory.TheMem)->locks, 0);
            copy = host::BlockBytes(request.Memory.TheMem);
            strip_bytes = copy.data();
            break;
        }
        case Expect::Refused:
            break;
        }
        ExpectRowsOfPage(strip_bytes, 1, 32 * strip, 32);
    }
    if (c.expect == Expect::Refused) {
        // The failure ends the page's progress: the next request scans anew.
        TW_IMAGEMEMXFER request =
            Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, appBuffer.data());
        EXPECT_EQ(Strip(request), TWRC_SUCCESS);
        EXPECT_EQ(Copy(request.YOffset), 0u);
        ExpectRowsOfPage(appBuffer.data(), 2, 0, 32);
    }
    FinishPage();
    if (appBlock != nullptr) {
        host::FreeApplicationBlock(appBlock);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FlagTable, MemoryFlagTest,
    ::testing::Values(FlagCase{"AppPointer", TWMF_APPOWNS | TWMF_POINTER, Expect::AppPointer},
                      FlagCase{"DsmPointer", TWMF_DSMOWNS | TWMF_POINTER, Expect::AppPointer},
                      FlagCase{"NoOwnerPointer", TWMF_POINTER, Expect::AppPointer},
                      FlagCase{"AppAndSourcePointer", TWMF_APPOWNS | TWMF_DSOWNS | TWMF_POINTER,
                               Expect::AppPointer},
                      FlagCase{"AppPointerAndHandle", TWMF_APPOWNS | TWMF_POINTER | TWMF_HANDLE,
                               Expect::AppPointer},
                      FlagCase{"AppHandle", TWMF_APPOWNS | TWMF_HANDLE, Expect::AppHandle},
                      FlagCase{"AppNoReference", TWMF_APPOWNS, Expect::Refused},
                      FlagCase{"SourcePointer", TWMF_DSOWNS | TWMF_POINTER, Expect::SourcePointer},
                      FlagCase{"SourcePointerAndHandle", TWMF_DSOWNS | TWMF_POINTER | TWMF_HANDLE,
                               Expect::SourcePointer},
                      FlagCase{"SourceHandle", TWMF_DSOWNS | TWMF_HANDLE, Expect::SourceHandle},
                      FlagCase{"SourceNoReference", TWMF_DSOWNS, Expect::Refused}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

TEST_F(MemoryTransferTest, ApplicationHandleZeroIsRefused) {
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_HANDLE, kLength32Rows, nullptr);
    EXPECT_EQ(Strip(request), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BUMMER);
    EXPECT_EQ(BoxCount(), 0u);
    FinishPage();
}

TEST_F(MemoryTransferTest, ApplicationHandleThatCannotBeLockedIsRefused) {
    MemoryBlock appBlock = PlatformGlobalAlloc(GHND, kLength32Rows);
    host::FailLocksOf(appBlock);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_HANDLE, kLength32Rows, appBlock);
    EXPECT_EQ(Strip(request), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BUMMER);
    FinishPage();
    host::FreeApplicationBlock(appBlock);
}

TEST_F(MemoryTransferTest, ApplicationHandleSmallerThanItsLengthIsNotWrittenPast) {
    MemoryBlock appBlock = PlatformGlobalAlloc(GHND, 5 * kStride + 7);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_HANDLE, kLength32Rows, appBlock);
    EXPECT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 0, 5);
    ExpectRowsOfPage(host::BlockBytes(appBlock).data(), 1, 0, 5);
    FinishPage();
    host::FreeApplicationBlock(appBlock);
}

TEST_F(MemoryTransferTest, SourceBufferNotAllocatedOrNotLockedIsRefused) {
    for (int fault = 0; fault < 2; ++fault) {
        SCOPED_TRACE(fault);
        if (fault == 0) {
            host::SetAllocationFailure([](uint32_t flags, size_t bytes, int) {
                return flags == GPTR && bytes == kLength32Rows + 10;
            });
        } else {
            host::SetAllocationFailure([](uint32_t flags, size_t, int) {
                if (flags == GPTR) {
                    host::FailNextLock();
                }
                return false;
            });
        }
        TW_IMAGEMEMXFER request = Request(TWMF_DSOWNS | TWMF_POINTER, kLength32Rows, nullptr);
        EXPECT_EQ(Strip(request), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_BUMMER);
        EXPECT_EQ(SourceStripBuffer.handle, nullptr) << "nothing kept";
        EXPECT_EQ(Copy(request.Memory.TheMem), nullptr);
    }
    host::SetAllocationFailure(nullptr);
    FinishPage();
}

// The source's buffer is as large as the first strip asked for; a later, larger
// request of the same page gets the rows that fit into that buffer.
TEST_F(MemoryTransferTest, LaterStripLongerThanTheSourceBufferFillsOnlyTheBuffer) {
    TW_IMAGEMEMXFER request = Request(TWMF_DSOWNS | TWMF_POINTER, 10 * kStride, nullptr);
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 0, 10);
    request = Request(TWMF_DSOWNS | TWMF_POINTER, 50 * kStride, nullptr);
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 10, 10);
    ExpectRowsOfPage(static_cast<const uint8_t*>(request.Memory.TheMem), 1, 10, 10);
    FinishPage();
}

TEST_F(MemoryTransferTest, SourceBufferOfAnEarlierPageIsReplacedAndFreedAtClose) {
    TW_IMAGEMEMXFER request = Request(TWMF_DSOWNS | TWMF_POINTER, kLines * kStride, nullptr);
    ASSERT_EQ(Strip(request), TWRC_XFERDONE);
    MemoryBlock first = SourceStripBuffer.handle;
    request = Request(TWMF_DSOWNS | TWMF_HANDLE, kLines * kStride, nullptr);
    ASSERT_EQ(Strip(request), TWRC_XFERDONE);
    EXPECT_TRUE(host::Block(first)->freed);
    EXPECT_EQ(Copy(request.Memory.TheMem), SourceStripBuffer.handle);
    ExpectRowsOfPage(host::BlockBytes(request.Memory.TheMem).data(), 2, 0, kLines);
    MemoryBlock second = SourceStripBuffer.handle;
    CloseSource();
    EXPECT_TRUE(host::Block(second)->freed) << "the close releases the source's buffer";
}

TEST_F(MemoryTransferTest, FirstCallWithSetScansThenFailsAndCopiesNothing) {
    std::vector<uint8_t> buffer(kLength32Rows, 0xEE);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    EXPECT_EQ(Strip(request, MSG_SET), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(LastBoxText(),
              "General failure in response to DAT_IMAGEMEMXFER.  Bad protocol error.");
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 1);
    EXPECT_EQ(buffer, std::vector<uint8_t>(kLength32Rows, 0xEE));
    EXPECT_NE(PageImage.buffer, nullptr);
    FinishPage(); // a new page; the one scanned for MSG_SET is released
}

TEST_F(MemoryTransferTest, RequestInStateFourIsScannedAndDelivered) {
    SourceState = kStateOpen;
    std::vector<uint8_t> buffer(kLines * kStride);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, buffer.size(), buffer.data());
    EXPECT_EQ(Strip(request), TWRC_XFERDONE);
    ExpectRowsOfPage(buffer.data(), 1, 0, kLines);
}

TEST_F(MemoryTransferTest, PageAbandonedBeforeItsLastStripResumesAtItsRow) {
    std::vector<uint8_t> buffer(kLength32Rows);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(Control(DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(Control(DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 32, 32);
    ExpectRowsOfPage(buffer.data(), 1, 32, 32);
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 1) << "no new scan";
    FinishPage();
}

// A native transfer in between has delivered and released the page: its
// remaining rows are gone, and the application is told so rather than being
// handed rows of another page under the old offsets.
TEST_F(MemoryTransferTest, StripAfterAnotherTransferTookThePageIsRefused) {
    std::vector<uint8_t> buffer(kLength32Rows);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    TW_UINT32 dib = 0;
    ASSERT_EQ(Image(DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    host::FreeApplicationBlock(host::BlockFromHandleValue(dib));

    request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    EXPECT_EQ(Strip(request), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(LastBoxText(), "General failure in response to DAT_IMAGEMEMXFER.  "
                             "DG DAT MSG is out of expected sequence.");
    // The next request starts a page of its own.
    request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 0, 32);
    ExpectRowsOfPage(buffer.data(), 3, 0, 32);
    FinishPage();
}

TEST_F(MemoryTransferTest, LengthsOfTwoGibibytesOrMoreAreRefusedWithoutScanning) {
    std::vector<uint8_t> buffer(kLength32Rows);
    for (TW_UINT32 length : {0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, length, buffer.data());
        EXPECT_EQ(Strip(request), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_BADVALUE);
        EXPECT_EQ(LastBoxText(),
                  "General failure in response to DAT_IMAGEMEMXFER.  Bad value error.");
    }
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
    // In the middle of a page the refusal leaves the progress alone.
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    request = Request(TWMF_DSOWNS | TWMF_POINTER, 0xFFFFFFF8u, nullptr);
    EXPECT_EQ(Strip(request), TWRC_FAILURE);
    EXPECT_EQ(SourceStripBuffer.handle, nullptr);
    request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    ASSERT_EQ(Strip(request), TWRC_SUCCESS);
    ExpectStrip(request, 32, 32);
    FinishPage();
}

TEST_F(MemoryTransferTest, NullDataPointerFailsWithBadValueBeforeScanning) {
    EXPECT_EQ(Image(DAT_IMAGEMEMXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_BADVALUE);
    EXPECT_EQ(sim::CommandCount(sim::kOpStartScan), 0);
}

TEST_F(MemoryTransferTest, FailedAcquisitionCancelsAndHoldsNoPage) {
    sim::Unplug(0);
    std::vector<uint8_t> buffer(kLength32Rows);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    EXPECT_EQ(Strip(request), TWRC_CANCEL);
    EXPECT_EQ(LastBoxText(), "Scanner not ready");
    EXPECT_EQ(PageImage.buffer, nullptr);
    EXPECT_EQ(StripProgress.RowsDelivered, 0);
}

// A page that claims more lines than the scanner sent ends with the last row sent.
TEST_F(MemoryTransferTest, PageWithMoreLinesThanSentEndsWithTheRowsSent) {
    geometry = SetScannerImage(*scanner, 2496, 40, 2496, kLines);
    std::vector<uint8_t> buffer(kLength32Rows);
    TW_IMAGEMEMXFER request = Request(TWMF_APPOWNS | TWMF_POINTER, kLength32Rows, buffer.data());
    EXPECT_EQ(Strip(request), TWRC_SUCCESS);
    EXPECT_EQ(Strip(request), TWRC_XFERDONE);
    ExpectStrip(request, 32, 8);
    ExpectRowsOfPage(buffer.data(), 1, 32, 8);
}

} // namespace
} // namespace transfer_test
