// scanner_server: the scanner simulator as a Linux program, serving the usbscan
// names that the relay driver (tools/wine/usbscan_relay.c) makes exist under
// Wine. It answers each request frame (tools/wine/relay_protocol.h) by calling
// the simulator's usbscan procedures, so a data source under Wine talks to the
// same simulated scanners as the host tests.
//
//   scanner_server --requests FIFO --answers FIFO [--log FILE]
//                  [--transcript FILE] [--errors FILE] [--ready FILE]
//                  [--connect-timeout SECONDS] [--scenario FILE] [WORD...]
//
// The FIFOs are made when missing. --ready names a file written once both are
// open (Wine may start then); --log gets one line per frame, --transcript the
// simulator's transcript and --errors its protocol errors, both as they grow.
//
// The scenario is a list of words, from the command line and from the lines
// of the --scenario file ('#' starts a comment):
//   scanner=SLOT                   a ready scanner (product 0x302C) in SLOT
//   device=SLOT:PRODUCT            another still-image device
//   SLOT.KEY=VALUE                 a setting of the device in SLOT:
//       vendor, product, bcd, language, descriptor-bytes, descriptor-fails,
//       answers, unplug-at-step, status, status-script=V,V,...,
//       status-after-read-data=N:V, duplex-unit, feeder-sheets, feeder-jam,
//       feeder-script=B,B,...(10 bytes)/B,B,..., line-padding,
//       image-info=PIXELS_PER_SCANNER_LINE,SCANNER_LINES,PIXELS,LINES,
//       fault=fail-write|short-read|unplug:OPCODE[:OCCURRENCE[:BYTES]],
//       channel-fault=N:KIND[:A[:B]]
//   stall-read=N                   the Nth read request (counted from 1) is
//                                  held unanswered until it is cancelled
//
// channel-fault is a fault of the Nth channel to the device (counted from 1,
// one channel from each open of its "\0" name to the next): it holds from that
// open until the next one, which finds the scanner well again. KIND:
//   unplugged           the device is unplugged (every open fails)
//   jam, machine-error, busy   GetStatus answers 1, 2 or 3
//   feeder-jam          the feeder status reports a jam
//   short-read[:M[:BYTES]]     only BYTES (default 0) of the Mth (default 1)
//                              ReadData answer of the channel arrive
//   read-condition[:M[:STATUS]]   GetStatus answers STATUS (default 1) from
//                              the Mth (default 1) ReadData of the channel on
// The word may be repeated; a channel takes one fault.
//
// It stops on a BYE frame (the driver unloads), when the driver's end of the
// request FIFO closes (winedevice.exe has gone), on SIGTERM, SIGINT or SIGHUP,
// and when no driver connects within the connect time-out (default 600 s).
// Exit status: 0 after a stop, 1 on a failure, 2 on a bad command line.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <array>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "simulator/scanner_simulator.h"
#include "simulator/usbscan_bus.h"
#include "tools/wine/relay_protocol.h"

namespace {

enum class ChannelFaultKind { Unplugged, Status, FeederJam, ShortRead, ReadCondition };

struct ChannelFault {
    int channel = 0;
    ChannelFaultKind kind = ChannelFaultKind::Status;
    std::string name; // as written, for the log
    uint32_t first = 0;
    uint32_t second = 0;
};

// What a channel fault changed, so that the next channel can undo it.
struct DeviceChannels {
    std::vector<ChannelFault> faults;
    int channel = 0;
    bool active = false;
    ChannelFault current;
    int injectedOccurrence = 0; // the ReadData a short-read fault aims at
    uint8_t status = 0;
    bool feederJam = false;
    int statusAfterReadData = 0;
    uint8_t statusAfterValue = 0;
};

struct ServerOptions {
    std::string requests;
    std::string answers;
    std::string log;
    std::string transcript;
    std::string errors;
    std::string ready;
    int connectTimeoutSeconds = 600;
    std::vector<int> stallReads;
};

struct HeldRead {
    uint32_t tag;
    uint32_t handle;
};

struct ServerRecord {
    int requestFd = -1;
    int answerFd = -1;
    bool connected = false;
    FILE* log = nullptr;
    size_t transcriptWritten = 0;
    size_t errorsWritten = 0;
    int readsSeen = 0;
    std::vector<HeldRead> held;
};

ServerOptions Options;
ServerRecord Server;
std::array<DeviceChannels, sim::kSlotCount> Channels;
volatile sig_atomic_t StopSignal = 0;

void OnStopSignal(int signal) {
    StopSignal = signal;
}

void Note(const std::string& line) {
    if (Server.log != nullptr) {
        std::fprintf(Server.log, "%s\n", line.c_str());
        std::fflush(Server.log);
    }
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    const size_t shown = count < 16 ? count : 16;
    char two[4];
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += (i ? " " : "") + std::string(two);
    }
    if (shown < count) {
        text += " ...";
    }
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Appends what the simulator recorded since the last call.
void FlushRecords() {
    auto append = [](const std::string& path, const std::vector<std::string>& lines,
                     size_t& written) {
        if (path.empty() || written >= lines.size()) {
            return;
        }
        std::ofstream out(path, std::ios::app);
        for (; written < lines.size(); ++written) {
            out << lines[written] << '\n';
        }
    };
    append(Options.transcript, sim::Transcript(), Server.transcriptWritten);
    append(Options.errors, sim::ProtocolErrors(), Server.errorsWritten);
}

// ---- the scenario

bool ParseNumber(const std::string& text, long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool ParseNumberList(const std::string& text, std::vector<long>* values) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long value = 0;
        if (!ParseNumber(part, &value)) {
            return false;
        }
        values->push_back(value);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return true;
}

bool ParseFault(const std::string& text, sim::Fault* fault) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 4) {
        return false;
    }
    if (parts[0] == "fail-write") {
        fault->kind = sim::FaultKind::FailWrite;
    } else if (parts[0] == "short-read") {
        fault->kind = sim::FaultKind::ShortRead;
    } else if (parts[0] == "unplug") {
        fault->kind = sim::FaultKind::Unplug;
    } else {
        return false;
    }
    long opcode = 0;
    long occurrence = 1;
    long bytes = 0;
    if (!ParseNumber(parts[1], &opcode) || opcode < 0 || opcode > 255 ||
        (parts.size() > 2 && !ParseNumber(parts[2], &occurrence)) ||
        (parts.size() > 3 && !ParseNumber(parts[3], &bytes)) || occurrence < 1 || bytes < 0) {
        return false;
    }
    fault->opcode = static_cast<uint8_t>(opcode);
    fault->occurrence = static_cast<int>(occurrence);
    fault->bytes = static_cast<uint32_t>(bytes);
    return true;
}

bool ParseChannelFault(const std::string& text, ChannelFault* fault) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    long channel = 0;
    if (parts.size() < 2 || !ParseNumber(parts[0], &channel) || channel < 1) {
        return false;
    }
    fault->channel = static_cast<int>(channel);
    fault->name = text.substr(text.find(':') + 1);
    const std::string& kind = parts[1];
    size_t arguments = 0;
    if (kind == "unplugged") {
        fault->kind = ChannelFaultKind::Unplugged;
    } else if (kind == "jam" || kind == "machine-error" || kind == "busy") {
        fault->kind = ChannelFaultKind::Status;
        fault->first = kind == "jam" ? 1 : kind == "machine-error" ? 2 : 3;
    } else if (kind == "feeder-jam") {
        fault->kind = ChannelFaultKind::FeederJam;
    } else if (kind == "short-read") {
        fault->kind = ChannelFaultKind::ShortRead;
        fault->first = 1;
        fault->second = 0;
        arguments = 2;
    } else if (kind == "read-condition") {
        fault->kind = ChannelFaultKind::ReadCondition;
        fault->first = 1;
        fault->second = 1;
        arguments = 2;
    } else {
        return false;
    }
    if (parts.size() > 2 + arguments) {
        return false;
    }
    uint32_t* fields[2] = {&fault->first, &fault->second};
    for (size_t i = 2; i < parts.size(); ++i) {
        long value = 0;
        if (!ParseNumber(parts[i], &value) || value < 0 || value > 0xFFFF) {
            return false;
        }
        *fields[i - 2] = static_cast<uint32_t>(value);
    }
    if ((fault->kind == ChannelFaultKind::ShortRead ||
         fault->kind == ChannelFaultKind::ReadCondition) &&
        fault->first < 1) {
        return false;
    }
    return fault->kind != ChannelFaultKind::ReadCondition ||
           (fault->second >= 1 && fault->second <= 255);
}

bool SetDeviceValue(sim::Device& device, const std::string& key, const std::string& value) {
    long number = 0;
    const bool numeric = ParseNumber(value, &number);
    auto u16 = [&](uint16_t* field) {
        if (!numeric || number < 0 || number > 0xFFFF) {
            return false;
        }
        *field = static_cast<uint16_t>(number);
        return true;
    };
    auto flag = [&](bool* field) {
        if (!numeric || (number != 0 && number != 1)) {
            return false;
        }
        *field = number == 1;
        return true;
    };
    auto count = [&](auto* field) {
        if (!numeric || number < 0 || number > 0x7FFFFFFF) {
            return false;
        }
        *field = static_cast<std::remove_pointer_t<decltype(field)>>(number);
        return true;
    };
    auto byte = [&](uint8_t* field) {
        if (!numeric || number < 0 || number > 255) {
            return false;
        }
        *field = static_cast<uint8_t>(number);
        return true;
    };
    if (key == "vendor") {
        return u16(&device.vendorId);
    }
    if (key == "product") {
        return u16(&device.productId);
    }
    if (key == "bcd") {
        return u16(&device.bcdDevice);
    }
    if (key == "language") {
        return u16(&device.languageId);
    }
    if (key == "descriptor-bytes") {
        return count(&device.descriptorBytes);
    }
    if (key == "descriptor-fails") {
        return flag(&device.descriptorFails);
    }
    if (key == "answers") {
        return flag(&device.answers);
    }
    if (key == "unplug-at-step") {
        return count(&device.unplugAtStep);
    }
    if (key == "status") {
        return byte(&device.status);
    }
    if (key == "duplex-unit") {
        return flag(&device.duplexUnit);
    }
    if (key == "feeder-sheets") {
        return count(&device.feederSheets);
    }
    if (key == "feeder-jam") {
        return flag(&device.feederJam);
    }
    if (key == "line-padding") {
        return u16(&device.linePadding) && device.linePadding > 0;
    }
    if (key == "status-script") {
        std::vector<long> values;
        if (!ParseNumberList(value, &values)) {
            return false;
        }
        for (long v : values) {
            if (v < 0 || v > 255) {
                return false;
            }
            device.statusScript.push_back(static_cast<uint8_t>(v));
        }
        return true;
    }
    if (key == "status-after-read-data") {
        const size_t colon = value.find(':');
        long after = 0;
        long status = 0;
        if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), &after) ||
            !ParseNumber(value.substr(colon + 1), &status) || after < 1 || status < 0 ||
            status > 255) {
            return false;
        }
        device.statusAfterReadData = static_cast<int>(after);
        device.statusAfterValue = static_cast<uint8_t>(status);
        return true;
    }
    if (key == "feeder-script") {
        size_t start = 0;
        for (;;) {
            const size_t slash = value.find('/', start);
            std::vector<long> bytes;
            if (!ParseNumberList(value.substr(start, slash == std::string::npos ? std::string::npos
                                                                                : slash - start),
                                 &bytes) ||
                bytes.size() != 10) {
                return false;
            }
            std::array<uint8_t, 10> answer{};
            for (size_t i = 0; i < 10; ++i) {
                if (bytes[i] < 0 || bytes[i] > 255) {
                    return false;
                }
                answer[i] = static_cast<uint8_t>(bytes[i]);
            }
            device.feederScript.push_back(answer);
            if (slash == std::string::npos) {
                return true;
            }
            start = slash + 1;
        }
    }
    if (key == "image-info") {
        std::vector<long> values;
        if (!ParseNumberList(value, &values) || values.size() != 4) {
            return false;
        }
        for (long v : values) {
            if (v < 0 || v > 0xFFFF) {
                return false;
            }
        }
        device.imageInfoOverride =
            sim::ImageInfo{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                           static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3])};
        return true;
    }
    if (key == "fault") {
        sim::Fault fault{};
        if (!ParseFault(value, &fault)) {
            return false;
        }
        device.faults.push_back(fault);
        return true;
    }
    return false;
}

bool ParseSlot(const std::string& text, int* slot) {
    long value = 0;
    if (!ParseNumber(text, &value) || value < 0 || value >= sim::kSlotCount) {
        return false;
    }
    *slot = static_cast<int>(value);
    return true;
}

bool ApplyScenarioWord(const std::string& word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    int slot = 0;
    if (key == "scanner") {
        if (!ParseSlot(value, &slot)) {
            return false;
        }
        sim::AddScanner(slot);
        return true;
    }
    if (key == "device") {
        const size_t colon = value.find(':');
        long product = 0;
        if (colon == std::string::npos || !ParseSlot(value.substr(0, colon), &slot) ||
            !ParseNumber(value.substr(colon + 1), &product) || product < 0 || product > 0xFFFF) {
            return false;
        }
        sim::AddDevice(slot, static_cast<uint16_t>(product));
        return true;
    }
    if (key == "stall-read") {
        long nth = 0;
        if (!ParseNumber(value, &nth) || nth < 1) {
            return false;
        }
        Options.stallReads.push_back(static_cast<int>(nth));
        return true;
    }
    const size_t dot = key.find('.');
    if (dot == std::string::npos || !ParseSlot(key.substr(0, dot), &slot)) {
        return false;
    }
    sim::Device& device = sim::Slot(slot);
    if (!device.present) {
        return false; // settings follow the word that puts the device in
    }
    if (key.substr(dot + 1) == "channel-fault") {
        ChannelFault fault;
        if (!ParseChannelFault(value, &fault)) {
            return false;
        }
        for (const ChannelFault& other : Channels[static_cast<size_t>(slot)].faults) {
            if (other.channel == fault.channel) {
                return false;
            }
        }
        Channels[static_cast<size_t>(slot)].faults.push_back(fault);
        return true;
    }
    return SetDeviceValue(device, key.substr(dot + 1), value);
}

bool ApplyScenarioFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "scanner_server: cannot read the scenario %s\n", path.c_str());
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        size_t start = 0;
        while (start < line.size()) {
            const size_t from = line.find_first_not_of(" \t\r", start);
            if (from == std::string::npos) {
                break;
            }
            const size_t to = line.find_first_of(" \t\r", from);
            const std::string word = line.substr(from, to == std::string::npos ? to : to - from);
            if (!ApplyScenarioWord(word)) {
                std::fprintf(stderr, "scanner_server: %s:%d: bad scenario word '%s'\n",
                             path.c_str(), number, word.c_str());
                return false;
            }
            start = to == std::string::npos ? line.size() : to;
        }
    }
    return true;
}

bool ParseCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](std::string* field) {
            if (i + 1 >= argc) {
                return false;
            }
            *field = argv[++i];
            return true;
        };
        std::string text;
        bool good = true;
        if (arg == "--requests") {
            good = next(&Options.requests);
        } else if (arg == "--answers") {
            good = next(&Options.answers);
        } else if (arg == "--log") {
            good = next(&Options.log);
        } else if (arg == "--transcript") {
            good = next(&Options.transcript);
        } else if (arg == "--errors") {
            good = next(&Options.errors);
        } else if (arg == "--ready") {
            good = next(&Options.ready);
        } else if (arg == "--connect-timeout") {
            long seconds = 0;
            good = next(&text) && ParseNumber(text, &seconds) && seconds > 0;
            Options.connectTimeoutSeconds = static_cast<int>(seconds);
        } else if (arg == "--scenario") {
            good = next(&text) && ApplyScenarioFile(text);
        } else if (!ApplyScenarioWord(arg)) {
            std::fprintf(stderr, "scanner_server: bad argument '%s'\n", arg.c_str());
            return false;
        }
        if (!good) {
            std::fprintf(stderr, "scanner_server: bad value for %s\n", arg.c_str());
            return false;
        }
    }
    if (Options.requests.empty() || Options.answers.empty()) {
        std::fprintf(stderr, "scanner_server: --requests and --answers are required\n");
        return false;
    }
    return true;
}

// ---- the FIFOs

bool MakeFifo(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        return S_ISFIFO(info.st_mode);
    }
    return mkfifo(path.c_str(), 0600) == 0;
}

// Opens both FIFOs without waiting for the driver: the request FIFO for
// reading, the answer FIFO for reading and writing so that the driver's
// read-only open of it finds a writer and does not block the wineserver.
bool OpenFifos() {
    if (!MakeFifo(Options.requests) || !MakeFifo(Options.answers)) {
        std::fprintf(stderr, "scanner_server: cannot make the FIFOs: %s\n", std::strerror(errno));
        return false;
    }
    Server.requestFd = open(Options.requests.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Server.answerFd = open(Options.answers.c_str(), O_RDWR | O_CLOEXEC);
    if (Server.requestFd < 0 || Server.answerFd < 0) {
        std::fprintf(stderr, "scanner_server: cannot open the FIFOs: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// Once the driver reads the answer FIFO, the server keeps only a writing end,
// so that a driver that goes away shows as a broken pipe instead of a full one.
void KeepOnlyWritingEnd() {
    const int writer = open(Options.answers.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer < 0) {
        return; // the driver has not opened it (yet): keep the first end
    }
    fcntl(writer, F_SETFL, fcntl(writer, F_GETFL) & ~O_NONBLOCK);
    close(Server.answerFd);
    Server.answerFd = writer;
}

enum class Wait { Ready, Stop, Timeout, Failed };

// Waits for request bytes; the stop signals are only let in while waiting.
Wait WaitForRequest(int timeoutMs) {
    sigset_t during;
    sigemptyset(&during);
    pollfd fd{Server.requestFd, POLLIN, 0};
    timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    const int result = ppoll(&fd, 1, timeoutMs < 0 ? nullptr : &timeout, &during);
    if (StopSignal) {
        return Wait::Stop;
    }
    if (result == 0) {
        return Wait::Timeout;
    }
    if (result < 0) {
        return errno == EINTR ? Wait::Timeout : Wait::Failed;
    }
    return Wait::Ready;
}

enum class Receive { Done, PeerGone, Stop, Failed };

Receive ReadRequestBytes(void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const Wait wait = WaitForRequest(Server.connected ? -1 : 1000);
        if (wait == Wait::Stop) {
            return Receive::Stop;
        }
        if (wait == Wait::Failed) {
            return Receive::Failed;
        }
        if (wait == Wait::Timeout) {
            continue;
        }
        const ssize_t got = read(Server.requestFd, bytes, size);
        if (got == 0) {
            return Receive::PeerGone;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return Receive::Failed;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return Receive::Done;
}

bool WriteAnswerBytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t put = write(Server.answerFd, bytes, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool SendAnswer(const RelayHeader& request, uint32_t handle, uint32_t value,
                const std::vector<uint8_t>& payload) {
    RelayHeader answer{};
    answer.op = request.op;
    answer.tag = request.tag;
    answer.handle = handle;
    answer.value = value;
    answer.size = static_cast<uint32_t>(payload.size());
    return WriteAnswerBytes(&answer, sizeof answer) &&
           (payload.empty() || WriteAnswerBytes(payload.data(), payload.size()));
}

// ---- channel faults

// The slot of a "\\.\UsbscanN\0" name, or -1 for any other name.
int DeviceNameSlot(const std::string& name) {
    const std::string prefix = "\\\\.\\usbscan";
    if (name.size() < prefix.size() + 3) {
        return -1;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) {
            return -1;
        }
    }
    size_t at = prefix.size();
    int slot = 0;
    int digits = 0;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 3) {
        slot = slot * 10 + (name[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0 || slot >= sim::kSlotCount || name.compare(at, std::string::npos, "\\0") != 0) {
        return -1;
    }
    return slot;
}

void UndoChannelFault(int slot, DeviceChannels& channels) {
    sim::Device& device = sim::Slot(slot);
    switch (channels.current.kind) {
    case ChannelFaultKind::Unplugged:
        sim::PlugIn(slot);
        break;
    case ChannelFaultKind::Status:
        device.status = channels.status;
        break;
    case ChannelFaultKind::FeederJam:
        device.feederJam = channels.feederJam;
        break;
    case ChannelFaultKind::ShortRead:
        // A read the channel never made must not strike a later channel.
        for (size_t i = 0; i < device.faults.size(); ++i) {
            const sim::Fault& fault = device.faults[i];
            if (fault.kind == sim::FaultKind::ShortRead && fault.opcode == sim::kOpReadData &&
                fault.occurrence == channels.injectedOccurrence) {
                device.faults.erase(device.faults.begin() + static_cast<long>(i));
                break;
            }
        }
        break;
    case ChannelFaultKind::ReadCondition:
        device.status = channels.status;
        device.statusAfterReadData = channels.statusAfterReadData;
        device.statusAfterValue = channels.statusAfterValue;
        break;
    }
    channels.active = false;
}

void ApplyChannelFault(int slot, DeviceChannels& channels, const ChannelFault& fault) {
    sim::Device& device = sim::Slot(slot);
    channels.current = fault;
    channels.active = true;
    channels.status = device.status;
    channels.feederJam = device.feederJam;
    channels.statusAfterReadData = device.statusAfterReadData;
    channels.statusAfterValue = device.statusAfterValue;
    switch (fault.kind) {
    case ChannelFaultKind::Unplugged:
        sim::Unplug(slot);
        break;
    case ChannelFaultKind::Status:
        device.status = static_cast<uint8_t>(fault.first);
        break;
    case ChannelFaultKind::FeederJam:
        device.feederJam = true;
        break;
    case ChannelFaultKind::ShortRead: {
        sim::Fault injected{};
        injected.kind = sim::FaultKind::ShortRead;
        injected.opcode = sim::kOpReadData;
        injected.occurrence =
            device.blocksWritten[sim::kOpReadData & 0x0F] + static_cast<int>(fault.first);
        injected.bytes = fault.second;
        device.faults.push_back(injected);
        channels.injectedOccurrence = injected.occurrence;
        break;
    }
    case ChannelFaultKind::ReadCondition:
        device.statusAfterReadData = device.readDataCount + static_cast<int>(fault.first);
        device.statusAfterValue = static_cast<uint8_t>(fault.second);
        break;
    }
}

// An open of a device's "\0" name begins its next channel: the fault of the
// channel before is undone and this channel's own (if any) applied.
void BeginChannel(int slot) {
    DeviceChannels& channels = Channels[static_cast<size_t>(slot)];
    if (channels.faults.empty() || !sim::Slot(slot).present) {
        return;
    }
    ++channels.channel;
    if (channels.active) {
        UndoChannelFault(slot, channels);
    }
    for (const ChannelFault& fault : channels.faults) {
        if (fault.channel == channels.channel) {
            ApplyChannelFault(slot, channels, fault);
            Note("channel " + std::to_string(channels.channel) + " of slot " +
                 std::to_string(slot) + ": " + fault.name);
            return;
        }
    }
}

// ---- the requests

bool IsStalledRead(int nth) {
    for (int stalled : Options.stallReads) {
        if (stalled == nth) {
            return true;
        }
    }
    return false;
}

void DropHeld(uint32_t tag, uint32_t handle, const char* why) {
    for (size_t i = 0; i < Server.held.size(); ++i) {
        if ((tag != 0 && Server.held[i].tag == tag) ||
            (handle != 0 && Server.held[i].handle == handle)) {
            Note("#" + std::to_string(Server.held[i].tag) + " held read dropped (" + why + ")");
            Server.held.erase(Server.held.begin() + static_cast<long>(i));
            --i;
        }
    }
}

enum class Outcome { Continue, Stop, Failed };

Outcome Serve(const RelayHeader& request, const std::vector<uint8_t>& payload) {
    const std::string tag = "#" + std::to_string(request.tag) + " ";
    const std::string handle = "h" + std::to_string(request.handle);
    bool sent = true;
    switch (request.op) {
    case RELAY_OP_HELLO: {
        uint32_t occupied = 0;
        std::string slots;
        for (int slot = 0; slot < sim::kSlotCount && slot < static_cast<int>(request.value);
             ++slot) {
            if (sim::Slot(slot).present) {
                occupied |= 1u << slot;
                slots += " " + std::to_string(slot);
            }
        }
        Note("hello: the relay serves up to " + std::to_string(request.value) +
             " slots; devices in" + (slots.empty() ? std::string(" none") : slots));
        KeepOnlyWritingEnd();
        sent = SendAnswer(request, 0, occupied, {});
        break;
    }
    case RELAY_OP_OPEN: {
        const std::string name(payload.begin(), payload.end());
        const int channelSlot = DeviceNameSlot(name);
        if (channelSlot >= 0) {
            BeginChannel(channelSlot);
        }
        const uint32_t opened = sim::UsbscanOpen(name.c_str());
        Note(tag + "open " + name + " -> " +
             (opened ? "h" + std::to_string(opened) : std::string("no such name")));
        sent = SendAnswer(request, opened, 0, {});
        break;
    }
    case RELAY_OP_CLOSE:
        DropHeld(0, request.handle, "handle closed");
        sim::UsbscanClose(request.handle);
        Note("close " + handle);
        break;
    case RELAY_OP_WRITE: {
        const uint32_t written = sim::UsbscanWrite(request.handle, payload.data(),
                                                   static_cast<uint32_t>(payload.size()));
        Note(tag + "write " + handle + " " + std::to_string(payload.size()) + " bytes: " +
             HexBytes(payload.data(), payload.size()) + " -> " + std::to_string(written));
        sent = SendAnswer(request, request.handle, written, {});
        break;
    }
    case RELAY_OP_READ: {
        ++Server.readsSeen;
        if (IsStalledRead(Server.readsSeen)) {
            Server.held.push_back(HeldRead{request.tag, request.handle});
            Note(tag + "read " + handle + " " + std::to_string(request.value) +
                 " -> held (stall-read=" + std::to_string(Server.readsSeen) + ")");
            break;
        }
        const uint32_t wanted = request.value > RELAY_MAX_PAYLOAD ? 0 : request.value;
        std::vector<uint8_t> data(wanted);
        const uint32_t got = sim::UsbscanRead(request.handle, data.data(), wanted);
        data.resize(got > wanted ? wanted : got);
        Note(tag + "read " + handle + " " + std::to_string(request.value) + " -> " +
             std::to_string(data.size()) + " bytes" +
             (data.empty() ? "" : ": " + HexBytes(data.data(), data.size())));
        sent = SendAnswer(request, request.handle, static_cast<uint32_t>(data.size()), data);
        break;
    }
    case RELAY_OP_IOCTL: {
        const uint32_t room = request.limit > RELAY_MAX_PAYLOAD ? 0 : request.limit;
        std::vector<uint8_t> out(room);
        uint32_t returned = 0;
        const bool ok =
            sim::UsbscanIoctl(request.handle, request.value, out.data(), room, &returned);
        out.resize(ok ? (returned > room ? room : returned) : 0);
        Note(tag + "ioctl " + handle + " " + Hex32(request.value) + " out " +
             std::to_string(request.limit) + " -> " +
             (ok ? "ok, " + std::to_string(out.size()) + " bytes" +
                       (out.empty() ? "" : ": " + HexBytes(out.data(), out.size()))
                 : std::string("fails")));
        sent = SendAnswer(request, request.handle, ok ? 1 : 0, out);
        break;
    }
    case RELAY_OP_CANCEL:
        Note("#" + std::to_string(request.tag) + " cancelled by the client");
        DropHeld(request.tag, 0, "cancelled");
        break;
    case RELAY_OP_BYE:
        Note("bye: the relay unloads");
        SendAnswer(request, 0, 0, {});
        return Outcome::Stop;
    default:
        Note("unknown frame op " + std::to_string(request.op));
        return Outcome::Failed;
    }
    FlushRecords();
    if (!sent) {
        Note("stop: the relay no longer reads its answers");
        return Outcome::Stop;
    }
    return Outcome::Continue;
}

int Run() {
    const time_t started = time(nullptr);
    for (;;) {
        if (!Server.connected) {
            const Wait wait = WaitForRequest(1000);
            if (wait == Wait::Stop) {
                Note("stop: signal " + std::to_string(StopSignal) + " before the relay came");
                return 0;
            }
            if (wait == Wait::Failed) {
                return 1;
            }
            if (wait == Wait::Timeout) {
                if (time(nullptr) - started >= Options.connectTimeoutSeconds) {
                    Note("stop: no relay connected within " +
                         std::to_string(Options.connectTimeoutSeconds) + " s");
                    return 1;
                }
                continue;
            }
            Server.connected = true;
        }
        RelayHeader request{};
        Receive got = ReadRequestBytes(&request, sizeof request);
        std::vector<uint8_t> payload;
        if (got == Receive::Done) {
            if (request.size > RELAY_MAX_PAYLOAD) {
                Note("stop: a frame of " + std::to_string(request.size) + " payload bytes");
                return 1;
            }
            payload.resize(request.size);
            if (request.size > 0) {
                got = ReadRequestBytes(payload.data(), payload.size());
            }
        }
        switch (got) {
        case Receive::Done:
            break;
        case Receive::PeerGone:
            Note("stop: the relay has gone");
            return 0;
        case Receive::Stop:
            Note("stop: signal " + std::to_string(StopSignal));
            return 0;
        case Receive::Failed:
            Note(std::string("stop: reading the requests failed: ") + std::strerror(errno));
            return 1;
        }
        switch (Serve(request, payload)) {
        case Outcome::Continue:
            break;
        case Outcome::Stop:
            return 0;
        case Outcome::Failed:
            return 1;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    sim::Reset();
    if (!ParseCommandLine(argc, argv)) {
        return 2;
    }
    // A stop signal is only taken while waiting for a request, so a frame is
    // never left half answered.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!Options.log.empty()) {
        Server.log = std::fopen(Options.log.c_str(), "w");
    }
    for (const std::string* path : {&Options.transcript, &Options.errors}) {
        if (!path->empty()) {
            std::ofstream truncate(*path, std::ios::trunc);
        }
    }
    if (!OpenFifos()) {
        return 1;
    }
    if (!Options.ready.empty()) {
        std::ofstream(Options.ready) << getpid() << '\n';
    }
    const int status = Run();
    FlushRecords();
    if (Server.log != nullptr) {
        std::fclose(Server.log);
    }
    close(Server.requestFd);
    close(Server.answerFd);
    return status;
}
