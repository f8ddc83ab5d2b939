// The scanner simulator: the Tq3480 scanner unit as the usbscan driver shows it.
//
// One model of the device serves the host tests (through the host platform's
// file calls on "\\.\UsbscanN\K" names) and the runs under Wine (through a
// native server program that forwards the relay driver's requests). Both reach
// the device side through the five procedures of simulator/usbscan_bus.h and
// set up and inspect the devices through this header.
//
// The model:
// - Fifteen slots, "\\.\Usbscan0" to "\\.\Usbscan14", each empty or holding one
//   device. A device's names are its slot name followed by "\0" (the device
//   handle, which answers IOCTL_GET_DEVICE_DESCRIPTOR) and "\1" to "\3" (the
//   pipes: "\2" takes the 64-byte command blocks, "\3" gives the answers and
//   the image data; "\1" carries nothing).
// - Every block written to pipe 2 is checked: 64 bytes, byte 0 is 0x03, a known
//   opcode (0x08 to 0x0E), the command's length byte, and zero in every byte
//   the command does not name (parameter values are range-checked too). A block
//   that breaks a rule is recorded in ProtocolErrors() and is not answered, so
//   the reader that follows it fails. Reading more than the device has to say
//   (outside an injected short read) and writing a command while an answer is
//   still unread are protocol errors as well; so is any use of a closed handle.
// - Answers queue up on pipe 3 in the order the commands came; one read takes
//   as many bytes as it asks for and as are queued.
// - A scan: SetScanParameters stores the 13-byte block; GetImageInfo answers
//   the window of that block (width and height at the chosen resolution), with
//   the scanner's line width rounded up to Device::linePadding pixels, or
//   Device::imageInfoOverride when set; StartScan must announce exactly the
//   bytes that answer describes ((pixels per scanner line + 7) / 8 x scanner
//   lines); ReadData then serves the next bytes of the test page (see
//   ScannerLineByte) and never more than StartScan announced.
//
// Nothing here is thread-safe: one caller at a time (the server serialises).
// Reset() empties every slot and forgets every record; tests call it through
// their fixture before and after each case.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr int kSlotCount = 15;
constexpr uint16_t kScannerProductId = 0x302C;
constexpr uint32_t kIoctlGetDeviceDescriptor = 0x80002018;
constexpr uint32_t kBlockSize = 64;
constexpr uint32_t kMaxReadCount = 65535;

constexpr uint8_t kOpStartScan = 0x08;
constexpr uint8_t kOpGetStatus = 0x09;
constexpr uint8_t kOpAbortScan = 0x0A;
constexpr uint8_t kOpGetImageInfo = 0x0B;
constexpr uint8_t kOpSetScanParameters = 0x0C;
constexpr uint8_t kOpGetAdfStatus = 0x0D;
constexpr uint8_t kOpReadData = 0x0E;

// "StartScan", "GetStatus", ...; "unknown" for any other value.
const char* OpcodeName(uint8_t opcode);

// The four values of the GetImageInfo answer, in their order on the wire.
struct ImageInfo {
    uint16_t pixelsPerScannerLine;
    uint16_t scannerLines;
    uint16_t pixelsPerLine;
    uint16_t lines;
};

enum class FaultKind {
    FailWrite,  // the command's block is refused: the write reports 0 bytes, nothing happens
    ShortRead,  // the command is carried out but only `bytes` of its answer arrive
    ShortWrite, // the command is carried out but the write reports only `bytes` written
    Unplug,     // the device is unplugged as the command is written (the write fails)
};

// One injected fault: it strikes the `occurrence`-th block of `opcode` written
// to this device (counted from 1 since the device was added; opcode 0 counts
// every block), once.
struct Fault {
    FaultKind kind;
    uint8_t opcode;
    int occurrence = 1;
    uint32_t bytes = 0; // ShortRead: the bytes that arrive (0 an empty read); ShortWrite: reported
};

// A device in a slot: what a test sets (first group) and what the simulator
// records while the system talks to it (second group). Tests and the server
// write the settings directly; the defaults describe a ready flatbed scanner
// with a duplex unit, an empty feeder and lines padded to 32 pixels.
struct Device {
    // ---- settings
    bool present = false;
    uint16_t vendorId = 0x0A4D;
    uint16_t productId = kScannerProductId;
    uint16_t bcdDevice = 0x0100;
    uint16_t languageId = 0x0409;
    uint32_t descriptorBytes = 8; // bytes the descriptor request returns (fewer: a short answer)
    bool descriptorFails = false; // the descriptor request reports failure
    bool answers = true;          // false: blocks are taken, but pipe 3 never delivers a byte
    uint8_t refuseOpenMask = 0;   // bit K set: opening the name ending in "\K" fails
    int unplugAtStep = 0;         // the Nth call on this device (open, ioctl, write or read,
                                  // counted from 1) and every later one fails; 0 never

    uint8_t status = 0;               // what GetStatus answers ...
    std::deque<uint8_t> statusScript; // ... unless a scripted value is left (one per GetStatus)
    int statusAfterReadData = 0;      // after this many ReadData commands (0 never) ...
    uint8_t statusAfterValue = 0;     // ... `status` becomes this value

    bool duplexUnit = true; // feeder byte 0 bit 7
    int feederSheets = 0;   // sheets in the feeder (byte 1 bit 0 while above 0);
                            // each StartScan takes one
    bool feederJam = false; // feeder byte 1 bit 1
    std::deque<std::array<uint8_t, 10>> feederScript; // whole answers, one per GetAdfStatus

    uint16_t linePadding = 32; // scanner line width: image width rounded up to this (1 = none)
    std::optional<ImageInfo> imageInfoOverride; // answered instead of the derived values

    std::vector<Fault> faults;

    // ---- records
    bool unplugged = false;
    int steps = 0;                        // calls on this device so far
    std::array<uint8_t, 13> parameters{}; // the last accepted SetScanParameters block
    bool parametersSet = false;
    std::optional<ImageInfo> announced; // the last GetImageInfo answer since parameters
    bool scanActive = false;
    uint32_t scanTotal = 0;        // bytes the running (or last) scan announced
    uint32_t scanRead = 0;         // bytes of it served so far
    uint32_t scanBytesPerLine = 0; // scanner bytes per line of that scan
    uint32_t pageNumber = 0;       // scans started; the page content depends on it
    int pagesCompleted = 0;        // scans whose every byte was read
    int abortCount = 0;
    int readDataCount = 0;               // ReadData commands carried out
    std::array<int, 16> blocksWritten{}; // blocks by opcode (low 4 bits), refused ones too
    int blocksTotal = 0;
    std::array<int, 4> opens{};    // successful opens by name ("\0" to "\3")
    std::vector<uint8_t> pending;  // answer bytes not yet read from pipe 3
    bool pendingShortened = false; // a ShortRead fault cut the pending answer
};

// ---- set-up

// No devices, no records, no open handles: the state at program start.
void Reset();
// The device in slot `index` (0 to 14); the reference stays valid until Reset().
Device& Slot(int index);
// Puts a ready scanner (product 0x302C) into the slot and returns it.
Device& AddScanner(int index = 0);
// Puts another still-image device (any product ID) into the slot.
Device& AddDevice(int index, uint16_t productId);
// From now on every open, ioctl, read and write on the device fails.
void Unplug(int index);
// The device is plugged in again and answers every call as before the unplug.
void PlugIn(int index);

// ---- inspection

// One line per event: opens, closes, descriptor requests, and every command
// with its parameters and its answer ("[0] GetStatus -> 00 ready").
const std::vector<std::string>& Transcript();
std::string TranscriptText(); // the lines joined, for printing on failure
const std::vector<std::string>& ProtocolErrors();
std::string ProtocolErrorText();

// Every block written to a pipe 2, as written, refused ones included.
struct WrittenBlock {
    int slot;
    std::vector<uint8_t> bytes;
    bool accepted; // false: the write reported 0 bytes (fault, unplugged)
};
const std::vector<WrittenBlock>& WrittenBlocks();
// The accepted blocks with this opcode, in order.
std::vector<std::vector<uint8_t>> BlocksWithOpcode(uint8_t opcode);
// Accepted blocks with this opcode on every device.
int CommandCount(uint8_t opcode);
// The counts of the ReadData commands carried out, in order.
std::vector<uint32_t> ReadDataCounts();
// Handles opened and not yet closed.
int OpenHandleCount();

// What GetImageInfo would answer now.
ImageInfo CurrentImageInfo(const Device& device);

// ---- the test page
//
// The scanner sends scanner lines of (pixels per scanner line + 7) / 8 bytes;
// a set bit is black, the leftmost pixel the most significant bit. Every byte,
// padding included, depends on the page number (1 for the first scan after
// the device was added), the line and the byte's place, so a row that lands in
// the wrong place or a page that is handed over twice shows.
uint8_t ScannerLineByte(uint32_t page, uint32_t line, uint32_t byteIndex);
// A byte of row `row` of the page as the data source delivers it: the
// scanner's byte inverted (a set bit is white); past the scanner's bytes per
// line (rows wider than the scanner's lines) the data source fills white.
uint8_t ExpectedPageByte(uint32_t page, uint32_t row, uint32_t byteInRow,
                         uint32_t scannerBytesPerLine);
// The pixel at column x of that row: true white, false black.
bool ExpectedPagePixelWhite(uint32_t page, uint32_t row, uint32_t x, uint32_t scannerBytesPerLine);

} // namespace sim
