// usbscan_probe: talks to a scanner through the usbscan names the way the data
// source does (device handle, descriptor request, pipes 1 to 3, the status
// command) and prints every result, one line each, for the Wine relay tests.
//
//   usbscan_probe [--slot N] [--wait-names SECONDS] [--missing N]
//                 [--hold FILE] [--exit-while-pending]
//
// --wait-names waits until the slot's name exists (the relay driver starts
// with the Wine session). --missing also opens slot N's device name, which is
// expected to fail. --hold leaves a second status read pending on a thread of
// its own until FILE exists, then closes the pipe under it (or, with
// --exit-while-pending, ends the process with the read still pending).
// Exit status 0 when every step answered as a ready scanner does.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kIoctlGetDeviceDescriptor = 0x80002018;

struct ProbeOptions {
    int slot = 0;
    int waitNamesSeconds = 0;
    int missingSlot = -1;
    const char* holdFile = nullptr;
    bool exitWhilePending = false;
};

struct PendingRead {
    HANDLE pipe;
    BOOL result;
    DWORD count;
    DWORD error;
    unsigned char byte;
};

void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

HANDLE OpenName(const char* name) {
    HANDLE handle =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Say("open %s: failed, error %lu", name, GetLastError());
    } else {
        Say("open %s: ok", name);
    }
    return handle;
}

bool WaitForNames(int slot, int seconds) {
    char dosName[32];
    char target[256];
    std::snprintf(dosName, sizeof dosName, "Usbscan%d", slot);
    const DWORD start = GetTickCount();
    while (QueryDosDeviceA(dosName, target, sizeof target) == 0) {
        if (GetTickCount() - start >= static_cast<DWORD>(seconds) * 1000) {
            Say("names: %s does not exist after %d s", dosName, seconds);
            return false;
        }
        Sleep(100);
    }
    Say("names: %s -> %s", dosName, target);
    return true;
}

bool WriteStatusCommand(HANDLE pipe) {
    unsigned char block[64] = {0x03, 0x09, 0x01};
    DWORD written = 0;
    const BOOL result = WriteFile(pipe, block, sizeof block, &written, nullptr);
    if (!result) {
        Say("write status block: failed, error %lu, %lu bytes", GetLastError(), written);
    } else {
        Say("write status block: ok, %lu bytes", written);
    }
    return result && written == sizeof block;
}

DWORD WINAPI ReadOneByte(void* context) {
    auto* read = static_cast<PendingRead*>(context);
    read->result = ReadFile(read->pipe, &read->byte, 1, &read->count, nullptr);
    read->error = read->result ? 0 : GetLastError();
    return 0;
}

bool WaitForFile(const char* path, int seconds) {
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= static_cast<DWORD>(seconds) * 1000) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

// A status read that the server holds: it must end when its pipe is closed.
bool HoldRead(HANDLE* pipe2, HANDLE* pipe3, const ProbeOptions& options) {
    if (!WriteStatusCommand(*pipe2)) {
        return false;
    }
    static PendingRead read;
    read = PendingRead{*pipe3, FALSE, 0, 0, 0};
    HANDLE thread = CreateThread(nullptr, 0, ReadOneByte, &read, 0, nullptr);
    if (thread == nullptr) {
        Say("pending read: no thread, error %lu", GetLastError());
        return false;
    }
    Say("pending read: started");
    if (!WaitForFile(options.holdFile, 300)) {
        Say("pending read: %s did not appear", options.holdFile);
    }
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) {
        Say("pending read: answered before the close (result %d, %lu bytes)", read.result,
            read.count);
        CloseHandle(thread);
        return false;
    }
    if (options.exitWhilePending) {
        Say("exit: with the read pending");
        ExitProcess(0);
    }
    const DWORD closing = GetTickCount();
    CloseHandle(*pipe3);
    *pipe3 = INVALID_HANDLE_VALUE;
    const DWORD waited = WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    if (waited != WAIT_OBJECT_0) {
        Say("pending read: still pending 60 s after the close");
        return false;
    }
    Say("pending read: ended %lu ms after the close, result %d, %lu bytes, error %lu%s",
        GetTickCount() - closing, read.result, read.count, read.error,
        read.error == ERROR_OPERATION_ABORTED ? " (cancelled)" : "");
    return !read.result && read.error == ERROR_OPERATION_ABORTED;
}

bool ParseOptions(int argc, char** argv, ProbeOptions* options) {
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--slot") == 0 && hasValue) {
            options->slot = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--wait-names") == 0 && hasValue) {
            options->waitNamesSeconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--missing") == 0 && hasValue) {
            options->missingSlot = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--hold") == 0 && hasValue) {
            options->holdFile = argv[++i];
        } else if (std::strcmp(argv[i], "--exit-while-pending") == 0) {
            options->exitWhilePending = true;
        } else {
            Say("usage: usbscan_probe [--slot N] [--wait-names SECONDS] [--missing N] "
                "[--hold FILE] [--exit-while-pending]");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Lines end in "\n" alone, as the tests that read them under Linux expect.
    _setmode(_fileno(stdout), _O_BINARY);
    ProbeOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        return 2;
    }
    if (options.waitNamesSeconds > 0 && !WaitForNames(options.slot, options.waitNamesSeconds)) {
        return 1;
    }
    bool good = true;
    char base[32];
    char name[40];
    std::snprintf(base, sizeof base, "\\\\.\\Usbscan%d", options.slot);

    std::snprintf(name, sizeof name, "%s\\0", base);
    HANDLE device = OpenName(name);
    if (device == INVALID_HANDLE_VALUE) {
        return 1;
    }
    unsigned char descriptor[8] = {};
    DWORD returned = 0;
    if (DeviceIoControl(device, kIoctlGetDeviceDescriptor, nullptr, 0, descriptor,
                        sizeof descriptor, &returned, nullptr)) {
        Say("descriptor: ok, %lu bytes: %02X %02X %02X %02X %02X %02X %02X %02X, product %04X",
            returned, descriptor[0], descriptor[1], descriptor[2], descriptor[3], descriptor[4],
            descriptor[5], descriptor[6], descriptor[7], descriptor[2] | (descriptor[3] << 8));
    } else {
        Say("descriptor: failed, error %lu", GetLastError());
        good = false;
    }

    HANDLE pipes[4] = {device, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    for (int pipe = 1; pipe <= 3; ++pipe) {
        std::snprintf(name, sizeof name, "%s\\%d", base, pipe);
        pipes[pipe] = OpenName(name);
        good = good && pipes[pipe] != INVALID_HANDLE_VALUE;
    }
    if (pipes[2] != INVALID_HANDLE_VALUE && pipes[3] != INVALID_HANDLE_VALUE) {
        good = WriteStatusCommand(pipes[2]) && good;
        unsigned char status = 0xEE;
        DWORD count = 0;
        if (ReadFile(pipes[3], &status, 1, &count, nullptr)) {
            Say("read status: ok, %lu bytes: %02X", count, status);
        } else {
            Say("read status: failed, error %lu, %lu bytes", GetLastError(), count);
        }
        good = good && count == 1 && status == 0;
        if (options.holdFile != nullptr) {
            good = HoldRead(&pipes[2], &pipes[3], options) && good;
        }
    }
    if (options.missingSlot >= 0) {
        std::snprintf(name, sizeof name, "\\\\.\\Usbscan%d\\0", options.missingSlot);
        HANDLE missing = OpenName(name);
        if (missing != INVALID_HANDLE_VALUE) {
            CloseHandle(missing);
            good = false;
        }
    }
    for (HANDLE handle : pipes) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    Say("closed: %s", good ? "every step answered" : "some step failed");
    return good ? 0 : 1;
}
