// The cost of one page on its way from the scanner to the application, each
// step beside the floor it cannot beat, in the same run:
//
//   Acquisition   the alignment and inversion ReadPage does on every read,
//                 on a buffer the reads fill as the scanner would (the
//                 simulator's cost of making the bytes is left out)
//                 floor: memcpy of the page's bytes
//   BuildDib      the native transfer's bitmap from the held page
//                 floor: memcpy of the bitmap's rows
//   MemoryXfer    the strips of the page through DAT_IMAGEMEMXFER into one
//                 application buffer of 64 KiB (every strip after the first,
//                 whose call carries the scan)
//                 floor: memcpy of the same strips into the same buffer
//   WriteBmpFile  the BMP file on /dev/shm
//                 floor: one sequential write of the file's bytes there
//
// Every benchmark times its step and its floor alternately in each iteration
// and reports "ratio" (step / floor) with both times; run with
// --benchmark_repetitions to see the spread. At the end a table gives the
// median ratio of each step and page over the repetitions, with the range.
//
//   page_pipeline_bench --instructions   one A3 600 dpi page (padded lines)
//       through the acquisition and each transfer, for
//       valgrind --tool=callgrind (scripts/bench.sh reads the counts).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "capabilities/capabilities.h"
#include "device/acquisition.h"
#include "device/commands.h"
#include "platform/host/host_platform.h"
#include "simulator/scanner_simulator.h"
#include "transfer/file.h"
#include "transfer/memory.h"
#include "transfer/native.h"
#include "twain/startup.h"
#include "ui/settings.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct PageCase {
    const char* name;
    int32_t paperIndex;
    int32_t resolutionIndex;
    uint16_t linePadding; // the scanner's line width is rounded up to this many pixels
};

constexpr PageCase kCases[] = {
    {"A4_300dpi_padded", 2, 1, 32},
    {"A4_300dpi_unpadded", 2, 1, 1},
    {"A3_600dpi_padded", 0, 2, 32},
    {"A3_600dpi_unpadded", 0, 2, 1},
};

constexpr uint32_t kApplicationBuffer = 64 * 1024;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---- the data source on the host simulation, with a scanner and a scanned page

std::string ShmDirectory() {
    static const std::string directory = [] {
        char pattern[] = "/dev/shm/tq3480-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp /dev/shm");
            std::exit(1);
        }
        return std::string(pattern);
    }();
    return directory;
}

// A fresh simulation whose current directory lies on /dev/shm, and a scanner
// sending this case's page.
void StartSession(const PageCase& page) {
    host::Reset();
    sim::Reset();
    if (!host::LoadDataSource()) {
        std::fprintf(stderr, "the data source refused to load\n");
        std::exit(1);
    }
    // The test aid that overwrites fresh and freed blocks is no cost of the
    // system's; Windows fills neither.
    host::SetGarbageFill(false);
    ChooseResourceModule();
    // The files of "C:\cwd" land in memory: the folder becomes a link to /dev/shm.
    const std::string cwd = host::HostPath("C:\\cwd");
    fs::remove_all(cwd);
    fs::create_directory_symlink(ShmDirectory(), cwd);
    sim::Device& scanner = sim::AddScanner(0);
    scanner.linePadding = page.linePadding;
    ScanSettings = {page.paperIndex, 0, page.resolutionIndex, 0, 0};
    CapabilityState.TransferCount = -1;
}

void EndSession() {
    ReleasePageBuffer();
    ReleaseSourceStripBuffer();
    ReleaseResourceModule();
    for (const std::string& problem : host::TearDownProblems()) {
        std::fprintf(stderr, "host: %s\n", problem.c_str());
    }
    host::Shutdown();
    sim::Reset();
}

void Scan() {
    if (AcquirePage() != 1) {
        std::fprintf(stderr, "the page was not acquired\n%s", sim::TranscriptText().c_str());
        std::exit(1);
    }
}

uint64_t PageBytes() {
    return uint64_t{PageImage.stride} * std::min(PageImage.lines, PageImage.rowsHeld);
}

// ---- results

// The times of one benchmark's iterations. On a loaded machine an iteration
// may lose the processor part-way; the fastest iteration is the best measure of
// the work itself, and the median shows what the load did.
struct Samples {
    std::vector<double> seconds;
    void Add(double s) { seconds.push_back(s); }
    double Min() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Median() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

// The ratio of each repetition (fastest step over fastest floor), by step/page.
std::map<std::string, std::vector<double>> Results;

void Report(benchmark::State& state, const std::string& key, const Samples& work,
            const Samples& floor, uint64_t bytes) {
    if (work.seconds.empty() || floor.seconds.empty()) {
        return;
    }
    state.counters["work_us"] = work.Min() * 1e6;
    state.counters["floor_us"] = floor.Min() * 1e6;
    state.counters["ratio"] = work.Min() / floor.Min();
    state.counters["ratio_med"] = work.Median() / floor.Median();
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    Results[key].push_back(work.Min() / floor.Min());
}

// Against dead-code elimination of the floors.
void Touch(const void* p) {
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
}

// ---- acquisition: what ReadPage does with each read, on a buffer the reads fill

void BM_Acquisition(benchmark::State& state, PageCase page) {
    StartSession(page);
    Scan(); // the real page, to check the placement against
    const uint32_t bytesPerLine = PageImage.scannerBytesPerLine;
    const uint32_t lines = PageImage.scannerLines;
    const uint16_t stride = PageImage.stride;
    const uint64_t total = uint64_t{bytesPerLine} * lines;
    const uint64_t chunk = kMaxReadDataCount / bytesPerLine * bytesPerLine;
    // The bytes as the scanner sent them for this page.
    std::vector<uint8_t> sent(total);
    for (uint32_t line = 0; line < lines; ++line) {
        for (uint32_t j = 0; j < bytesPerLine; ++j) {
            sent[uint64_t{line} * bytesPerLine + j] =
                sim::ScannerLineByte(sim::Slot(0).pageNumber, line, j);
        }
    }
    const uint64_t rowBytes = uint64_t{stride} * lines;
    std::vector<uint8_t> buffer(std::max(total, rowBytes) + 2048);
    std::vector<uint8_t> copy(total);

    Samples work;
    Samples floor;
    for (auto _ : state) {
        PagePlacementRecord placement = StartPagePlacement(bytesPerLine, lines, stride);
        Clock::duration spent{};
        for (uint64_t done = 0; done < total; done += chunk) {
            const uint64_t bytes = std::min(chunk, total - done);
            // The read: the bytes arrive where ReadPage reads them to.
            std::memcpy(buffer.data() + placement.lineBase + done, sent.data() + done, bytes);
            Touch(buffer.data());
            const Clock::time_point start = Clock::now();
            PlaceReadLines(buffer.data(), placement.lineBase + done, bytes, &placement);
            spent += Clock::now() - start;
        }
        Touch(buffer.data());
        const Clock::time_point start = Clock::now();
        std::memcpy(copy.data(), sent.data(), total);
        Touch(copy.data());
        const double copied = Seconds(Clock::now() - start);
        work.Add(Seconds(spent));
        floor.Add(copied);
        state.SetIterationTime(Seconds(spent));
    }
    if (std::memcmp(buffer.data(), PageImage.buffer, rowBytes) != 0) {
        state.SkipWithError("the placed rows differ from the acquired page");
    }
    Report(state, std::string("Acquisition/") + page.name, work, floor, total);
    EndSession();
}

// ---- native transfer: BuildDib from the held page

void BM_BuildDib(benchmark::State& state, PageCase page) {
    StartSession(page);
    Scan();
    const uint64_t bytes = PageBytes();
    std::vector<uint8_t> copy(bytes);
    Samples allocation;
    Samples work;
    Samples floor;
    for (auto _ : state) {
        TW_UINT32 handle = 0;
        Clock::time_point start = Clock::now();
        const TW_UINT16 result = BuildDib(&handle);
        const double built = Seconds(Clock::now() - start);
        if (result != TWRC_XFERDONE) {
            state.SkipWithError("BuildDib failed");
            break;
        }
        host::FreeApplicationBlock(host::BlockFromHandleValue(handle));
        // What the platform's zero-filled block costs by itself.
        start = Clock::now();
        MemoryBlock block = PlatformGlobalAlloc(GHND, bytes + 144);
        Touch(PlatformGlobalLock(block));
        PlatformGlobalUnlock(block);
        PlatformGlobalFree(block);
        allocation.Add(Seconds(Clock::now() - start));
        start = Clock::now();
        std::memcpy(copy.data(), PageImage.buffer, bytes);
        Touch(copy.data());
        const double copied = Seconds(Clock::now() - start);
        work.Add(built);
        floor.Add(copied);
        state.SetIterationTime(built);
    }
    Report(state, std::string("BuildDib/") + page.name, work, floor, bytes);
    if (!allocation.seconds.empty()) {
        state.counters["ghnd_us"] = allocation.Min() * 1e6;
        Results[std::string("BuildDib/") + page.name + " without GHND"].push_back(
            (work.Min() - allocation.Min()) / floor.Min());
    }
    EndSession();
}

// ---- memory transfer: the page in strips of a 64 KiB application buffer

TW_UINT16 Strip(TW_IMAGEMEMXFER* transfer, uint8_t* memory) {
    *transfer = TW_IMAGEMEMXFER{};
    transfer->Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    transfer->Memory.Length = kApplicationBuffer;
    transfer->Memory.TheMem = memory;
    TripletRequest request{nullptr, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, transfer};
    return MemoryTransferOperation(&request);
}

void BM_MemoryTransfer(benchmark::State& state, PageCase page) {
    StartSession(page);
    std::vector<uint8_t> memory(kApplicationBuffer);
    std::vector<uint32_t> strips; // bytes of each timed strip
    Samples release;
    Samples work;
    Samples floor;
    uint64_t bytes = 0;
    for (auto _ : state) {
        TW_IMAGEMEMXFER transfer{};
        // The first strip's call scans the page: not timed.
        if (Strip(&transfer, memory.data()) != TWRC_SUCCESS) {
            state.SkipWithError("the first strip failed");
            break;
        }
        const uint32_t first = transfer.BytesWritten;
        // The floor's source: the same bytes, and the page read once more so
        // that the strips do not pay for what the scan pushed out of the cache.
        static std::vector<uint8_t> source;
        source.assign(PageImage.buffer, PageImage.buffer + PageBytes());
        strips.clear();
        Clock::duration spent{};
        TW_UINT16 result = TWRC_SUCCESS;
        while (result == TWRC_SUCCESS) {
            const Clock::time_point start = Clock::now();
            result = Strip(&transfer, memory.data());
            spent += Clock::now() - start;
            Touch(memory.data());
            strips.push_back(transfer.BytesWritten);
        }
        if (result != TWRC_XFERDONE) {
            state.SkipWithError("a strip failed");
            break;
        }
        // The floor copies the same strips, from a page of the same bytes.
        bytes = 0;
        for (uint32_t s : strips) {
            bytes += s;
        }
        const Clock::time_point start = Clock::now();
        uint64_t at = first;
        for (uint32_t s : strips) {
            std::memcpy(memory.data(), source.data() + at, s);
            Touch(memory.data());
            at += s;
        }
        const double copied = Seconds(Clock::now() - start);
        // The last strip releases the page; what the platform's free costs by
        // itself (the host simulation overwrites a freed block).
        MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, source.size());
        Touch(PlatformGlobalLock(block));
        const Clock::time_point freeing = Clock::now();
        PlatformGlobalUnlock(block);
        PlatformGlobalFree(block);
        release.Add(Seconds(Clock::now() - freeing));
        work.Add(Seconds(spent));
        floor.Add(copied);
        state.SetIterationTime(Seconds(spent));
    }
    Report(state, std::string("MemoryXfer/") + page.name, work, floor, bytes);
    if (!release.seconds.empty()) {
        state.counters["release_us"] = release.Min() * 1e6;
        Results[std::string("MemoryXfer/") + page.name + " without the release"].push_back(
            (work.Min() - release.Min()) / floor.Min());
    }
    EndSession();
}

// ---- file transfer: WriteBmpFile to a file on /dev/shm

void BM_WriteBmpFile(benchmark::State& state, PageCase page) {
    StartSession(page);
    Scan();
    const uint64_t fileBytes = kBmpPixelOffset + PageBytes();
    const std::string floorPath = ShmDirectory() + "/floor.bmp";
    // The floor writes the same bytes, as they lie in the file.
    std::vector<uint8_t> image(fileBytes);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 131);
    }
    Samples work;
    Samples floor;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        const TW_UINT16 result = WriteBmpFile("C:\\cwd\\page.bmp");
        const double written = Seconds(Clock::now() - start);
        if (result != TWRC_XFERDONE) {
            state.SkipWithError("WriteBmpFile failed");
            break;
        }
        start = Clock::now();
        const int fd = ::open(floorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const ssize_t wrote = ::write(fd, image.data(), image.size());
        ::close(fd);
        const double wroteSeconds = Seconds(Clock::now() - start);
        if (wrote != static_cast<ssize_t>(image.size())) {
            state.SkipWithError("the floor's write fell short");
            break;
        }
        work.Add(written);
        floor.Add(wroteSeconds);
        state.SetIterationTime(written);
    }
    if (fs::file_size(ShmDirectory() + "/page.bmp") != fileBytes) {
        state.SkipWithError("the BMP file has the wrong size");
    }
    Report(state, std::string("WriteBmpFile/") + page.name, work, floor, fileBytes);
    EndSession();
}

void RegisterAll() {
    for (const PageCase& page : kCases) {
        const bool large = page.resolutionIndex == 2;
        benchmark::RegisterBenchmark((std::string("Acquisition/") + page.name).c_str(),
                                     BM_Acquisition, page)
            ->UseManualTime()
            ->Iterations(large ? 100 : 400)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("BuildDib/") + page.name).c_str(), BM_BuildDib,
                                     page)
            ->UseManualTime()
            ->Iterations(large ? 100 : 400)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("MemoryXfer/") + page.name).c_str(),
                                     BM_MemoryTransfer, page)
            ->UseManualTime()
            ->Iterations(large ? 5 : 20)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("WriteBmpFile/") + page.name).c_str(),
                                     BM_WriteBmpFile, page)
            ->UseManualTime()
            ->Iterations(large ? 50 : 200)
            ->Unit(benchmark::kMicrosecond);
    }
}

double Target(const std::string& key) {
    if (key.find("without") != std::string::npos) {
        return 0; // for information
    }
    if (key.rfind("Acquisition/", 0) == 0 || key.rfind("BuildDib/", 0) == 0) {
        return 1.5;
    }
    if (key.rfind("MemoryXfer/", 0) == 0) {
        return 1.2;
    }
    return 4.0;
}

// Median, lowest and highest ratio of each step over the repetitions.
int PrintSummary() {
    std::printf("\n%-40s %8s %8s %8s %7s\n", "step/page (ratio to floor)", "median", "min", "max",
                "target");
    int missed = 0;
    for (auto& [key, ratios] : Results) {
        std::vector<double> r = ratios;
        std::sort(r.begin(), r.end());
        const size_t n = r.size();
        const double median = n % 2 == 1 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
        const double target = Target(key);
        if (target == 0) {
            std::printf("%-40s %8.3f %8.3f %8.3f %7s\n", key.c_str(), median, r.front(), r.back(),
                        "-");
            continue;
        }
        const bool met = median <= target;
        missed += met ? 0 : 1;
        std::printf("%-40s %8.3f %8.3f %8.3f %7.1f %s\n", key.c_str(), median, r.front(), r.back(),
                    target, met ? "met" : "MISSED");
    }
    return missed;
}

// ---- one page for callgrind: acquisition, then each transfer

__attribute__((noinline)) void FloorCopy(void* to, const void* from, size_t bytes) {
    std::memcpy(to, from, bytes);
    Touch(to);
}

__attribute__((noinline)) void FloorWrite(const std::string& path, const void* data, size_t bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::write(fd, data, bytes) != static_cast<ssize_t>(bytes)) {
        std::fprintf(stderr, "the floor's write fell short\n");
    }
    ::close(fd);
}

// The strips after the first, whose call scans the page.
__attribute__((noinline)) TW_UINT16 LaterStrips(TW_IMAGEMEMXFER* transfer, uint8_t* memory) {
    TW_UINT16 result = TWRC_SUCCESS;
    while (result == TWRC_SUCCESS) {
        result = Strip(transfer, memory);
    }
    return result;
}

int InstructionsMode() {
    const PageCase page = kCases[2]; // A3 600 dpi
    StartSession(page);
    Scan(); // AcquirePage: ReadPage's PlaceReadLines calls are the acquisition's own work
    const uint64_t bytes = PageBytes();
    std::vector<uint8_t> copy(bytes + kBmpPixelOffset);
    FloorCopy(copy.data(), PageImage.buffer, bytes);
    TW_UINT32 handle = 0;
    BuildDib(&handle);
    host::FreeApplicationBlock(host::BlockFromHandleValue(handle));
    WriteBmpFile("C:\\cwd\\page.bmp");
    FloorWrite(ShmDirectory() + "/floor.bmp", copy.data(), copy.size());
    ReleasePageBuffer();
    std::vector<uint8_t> memory(kApplicationBuffer);
    TW_IMAGEMEMXFER transfer{};
    TW_UINT16 result = Strip(&transfer, memory.data()); // scans the page
    if (result == TWRC_SUCCESS) {
        result = LaterStrips(&transfer, memory.data());
    }
    std::printf("A3 600 dpi page: %llu bytes of rows; memory transfer %s\n",
                static_cast<unsigned long long>(bytes),
                result == TWRC_XFERDONE ? "done" : "FAILED");
    EndSession();
    return result == TWRC_XFERDONE ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    if (argc > 1 && std::strcmp(argv[1], "--instructions") == 0) {
        status = InstructionsMode();
    } else {
        benchmark::Initialize(&argc, argv);
        RegisterAll();
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        status = PrintSummary() == 0 ? 0 : 2;
    }
    fs::remove_all(ShmDirectory());
    return status;
}
