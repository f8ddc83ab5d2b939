// Win32 files, directories, temporary names, disk space and usbscan devices on
// the host. Windows names map into the test's scratch directory; usbscan
// names go to the scanner simulator's bus.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host/host_state.h"
#include "simulator/usbscan_bus.h"

namespace fs = std::filesystem;

namespace host::detail {

namespace {

constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;
constexpr uint32_t kFileCurrent = 1;
constexpr uint32_t kFileEnd = 2;
constexpr size_t kMaxPath = 260;

const char* const kUsbscanPrefix = "\\\\.\\Usbscan";

bool IsDriveLetterPath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::vector<std::string> SplitComponents(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

// The name of an existing entry of a host folder that matches case-insensitively,
// or the component itself.
std::string MatchEntry(const std::string& folder, const std::string& component) {
    std::error_code error;
    if (fs::exists(folder + "/" + component, error)) {
        return component;
    }
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (EqualsNoCase(name, component)) {
            return name;
        }
    }
    return component;
}

// A Windows name as a host path, or nullopt for a name Windows would refuse.
std::optional<std::string> MapPath(std::string path) {
    FileState& files = S().files;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::string root;
    std::string rest;
    if (path.rfind("\\\\", 0) == 0) {
        root = "UNC";
        rest = path.substr(2);
    } else if (IsDriveLetterPath(path)) {
        root = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
        rest = path.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            rest = "\\" + rest; // drive-relative names count from the root
        }
    } else if (!path.empty() && path[0] == '\\') {
        root = std::string(1, files.currentDirectory[0]);
        rest = path;
    } else {
        const std::string& current = files.currentDirectory;
        if (current.rfind("\\\\", 0) == 0) {
            root = "UNC";
            rest = current.substr(2) + "\\" + path;
        } else {
            root = std::string(
                1, static_cast<char>(std::toupper(static_cast<unsigned char>(current[0]))));
            rest = current.substr(2) + "\\" + path;
        }
    }
    std::vector<std::string> kept;
    for (const std::string& part : SplitComponents(rest)) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            continue;
        }
        if (part.find_first_of("<>:\"|?*") != std::string::npos) {
            return std::nullopt;
        }
        kept.push_back(part);
    }
    std::string host = files.scratch + "/" + root;
    for (const std::string& part : kept) {
        host += "/" + MatchEntry(host, part);
    }
    return host;
}

std::string MapOrEmpty(const std::string& path) {
    std::optional<std::string> host = MapPath(path);
    return host ? *host : std::string();
}

bool IsDevice(uintptr_t handle) {
    return S().files.devices.count(handle) != 0;
}

bool WasClosed(uintptr_t handle) {
    const std::vector<uintptr_t>& closed = S().files.closedHandles;
    return std::find(closed.begin(), closed.end(), handle) != closed.end();
}

void RecordBadHandle(const char* operation, FileHandle file) {
    uintptr_t handle = Raw(file);
    if (WasClosed(handle)) {
        RecordError(std::string(operation) + " of handle " + Hex(handle) + " closed before");
    } else {
        RecordError(std::string(operation) + " of unknown handle " + Hex(handle));
    }
}

OpenFile* FindFile(FileHandle file, const char* operation) {
    auto found = S().files.files.find(Raw(file));
    if (found == S().files.files.end()) {
        RecordBadHandle(operation, file);
        return nullptr;
    }
    return &found->second;
}

// Windows sharing: an open is refused when an open handle does not share
// what the new one wants, or the new one does not share what that one has.
bool SharingAllows(const std::string& hostPath, uint32_t access, uint32_t share) {
    auto wants = [](uint32_t rights) {
        uint32_t needs = 0;
        needs |= (rights & GENERIC_READ) != 0 ? FILE_SHARE_READ : 0;
        needs |= (rights & GENERIC_WRITE) != 0 ? FILE_SHARE_WRITE : 0;
        return needs;
    };
    // Opens without data rights (existence probes) take no part in sharing.
    if (wants(access) == 0) {
        return true;
    }
    for (const auto& entry : S().files.files) {
        const OpenFile& open = entry.second;
        if (open.hostPath != hostPath || wants(open.access) == 0) {
            continue;
        }
        if ((wants(access) & ~open.share) != 0 || (wants(open.access) & ~share) != 0) {
            return false;
        }
    }
    return true;
}

bool MakeHostDirectories(const std::string& hostPath) {
    std::error_code error;
    fs::create_directories(hostPath, error);
    return !error;
}

uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size) {
    if (buffer == nullptr || size <= text.size()) {
        return static_cast<uint32_t>(text.size() + 1); // the size needed, NUL included
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

bool IsFolder(const std::string& hostPath) {
    std::error_code error;
    return fs::is_directory(hostPath, error);
}

} // namespace

void ResetFiles() {
    FileState& files = S().files;
    // Under $TMPDIR when set (the fuzzers put it on a memory file system), else /tmp.
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tq3480-host-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    files.scratch = pattern;
    MakeHostDirectories(MapOrEmpty(files.windowsDirectory));
    MakeHostDirectories(MapOrEmpty(files.tempPath));
    MakeHostDirectories(MapOrEmpty(files.currentDirectory));
}

void ReleaseFiles() {
    FileState& files = S().files;
    for (auto& entry : files.files) {
        ::close(entry.second.fd);
    }
    files.files.clear();
    for (auto& entry : files.devices) {
        sim::UsbscanClose(entry.second);
    }
    files.devices.clear();
    if (!files.scratch.empty()) {
        std::error_code error;
        fs::remove_all(files.scratch, error);
        files.scratch.clear();
    }
}

} // namespace host::detail

using namespace host::detail;

FileHandle PlatformCreateFile(const char* name, uint32_t access, uint32_t share,
                              uint32_t disposition, uint32_t attributes) {
    FileState& files = S().files;
    if (name == nullptr) {
        RecordError("CreateFile with a null name");
        return kInvalidFile;
    }
    files.createCalls.push_back({name, access, share, disposition, attributes, false});
    if (host::detail::StartsWithNoCase(name, kUsbscanPrefix)) {
        uint32_t device = sim::UsbscanOpen(name);
        files.deviceOpens.push_back({name, device != 0});
        if (device == 0) {
            return kInvalidFile;
        }
        uintptr_t handle = files.nextDevice;
        files.nextDevice += kHandleStep;
        files.devices[handle] = device;
        files.createCalls.back().opened = true;
        return reinterpret_cast<FileHandle>(handle);
    }
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        return kInvalidFile; // no other devices exist here
    }
    std::optional<std::string> hostPath = MapPath(name);
    if (!hostPath || IsFolder(*hostPath) ||
        std::find(files.failCreate.begin(), files.failCreate.end(), *hostPath) !=
            files.failCreate.end()) {
        return kInvalidFile;
    }
    std::error_code error;
    bool exists = fs::exists(*hostPath, error);
    int flags = O_RDWR | O_CLOEXEC;
    switch (disposition) {
    case kCreateNew:
        if (exists) {
            return kInvalidFile;
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT;
        break;
    case OPEN_EXISTING:
        if (!exists) {
            return kInvalidFile;
        }
        break;
    case kOpenAlways:
        flags |= O_CREAT;
        break;
    case kTruncateExisting:
        if (!exists) {
            return kInvalidFile;
        }
        break;
    default:
        RecordError("CreateFile with disposition " + std::to_string(disposition));
        return kInvalidFile;
    }
    if (!SharingAllows(*hostPath, access, share)) {
        return kInvalidFile;
    }
    int fd = ::open(hostPath->c_str(), flags, 0644);
    if (fd < 0) {
        return kInvalidFile;
    }
    if (disposition == CREATE_ALWAYS || disposition == kTruncateExisting) {
        if (::ftruncate(fd, 0) != 0) {
            ::close(fd);
            return kInvalidFile;
        }
    }
    uintptr_t handle = files.nextFile;
    files.nextFile += kHandleStep;
    files.files[handle] = OpenFile{fd, *hostPath, access, share};
    files.createCalls.back().opened = true;
    return reinterpret_cast<FileHandle>(handle);
}

bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) {
    if (read == nullptr) {
        RecordError("ReadFile without a place for the byte count");
        return false;
    }
    *read = 0;
    if (file == kInvalidFile) {
        return false;
    }
    FileState& files = S().files;
    auto device = files.devices.find(Raw(file));
    if (device != files.devices.end()) {
        *read = sim::UsbscanRead(device->second, buffer, size);
        return *read > 0 || size == 0;
    }
    OpenFile* open = FindFile(file, "ReadFile");
    if (open == nullptr || (open->access & GENERIC_READ) == 0) {
        return false;
    }
    uint32_t total = 0;
    while (total < size) {
        ssize_t got = ::read(open->fd, static_cast<char*>(buffer) + total, size - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<uint32_t>(got);
    }
    *read = total;
    return true;
}

bool PlatformWriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
    if (written == nullptr) {
        RecordError("WriteFile without a place for the byte count");
        return false;
    }
    *written = 0;
    if (file == kInvalidFile) {
        return false;
    }
    FileState& files = S().files;
    auto device = files.devices.find(Raw(file));
    if (device != files.devices.end()) {
        *written = sim::UsbscanWrite(device->second, buffer, size);
        return *written > 0 || size == 0;
    }
    OpenFile* open = FindFile(file, "WriteFile");
    if (open == nullptr || (open->access & GENERIC_WRITE) == 0) {
        return false;
    }
    uint32_t allowed = size;
    bool full = false;
    if (files.writeBudget) {
        if (*files.writeBudget < size) {
            allowed = static_cast<uint32_t>(*files.writeBudget);
            full = true;
        }
        *files.writeBudget -= allowed;
    }
    uint32_t total = 0;
    while (total < allowed) {
        ssize_t put = ::write(open->fd, static_cast<const char*>(buffer) + total, allowed - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            full = true;
            break;
        }
        total += static_cast<uint32_t>(put);
    }
    *written = total;
    return !full;
}

uint32_t PlatformSetFilePointer(FileHandle file, int32_t distance, uint32_t method) {
    if (IsDevice(Raw(file))) {
        return INVALID_SET_FILE_POINTER;
    }
    OpenFile* open = FindFile(file, "SetFilePointer");
    if (open == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    off_t base = 0;
    if (method == kFileCurrent) {
        base = ::lseek(open->fd, 0, SEEK_CUR);
    } else if (method == kFileEnd) {
        base = ::lseek(open->fd, 0, SEEK_END);
    } else if (method != FILE_BEGIN) {
        return INVALID_SET_FILE_POINTER;
    }
    off_t target = base + distance;
    if (target < 0) {
        return INVALID_SET_FILE_POINTER;
    }
    FileState& files = S().files;
    if (files.pointerLimit && target > static_cast<off_t>(*files.pointerLimit)) {
        target = static_cast<off_t>(*files.pointerLimit);
    }
    if (::lseek(open->fd, target, SEEK_SET) < 0) {
        return INVALID_SET_FILE_POINTER;
    }
    return static_cast<uint32_t>(target);
}

bool PlatformCloseHandle(FileHandle file) {
    FileState& files = S().files;
    if (file == kInvalidFile || file == nullptr) {
        RecordError(file == nullptr ? "CloseHandle of a null handle"
                                    : "CloseHandle of INVALID_HANDLE_VALUE");
        return false;
    }
    uintptr_t handle = Raw(file);
    auto device = files.devices.find(handle);
    if (device != files.devices.end()) {
        sim::UsbscanClose(device->second);
        files.devices.erase(device);
        files.closedHandles.push_back(handle);
        return true;
    }
    auto found = files.files.find(handle);
    if (found == files.files.end()) {
        RecordBadHandle("CloseHandle", file);
        return false;
    }
    ::close(found->second.fd);
    files.files.erase(found);
    files.closedHandles.push_back(handle);
    return true;
}

bool PlatformDeleteFile(const char* name) {
    if (name == nullptr) {
        RecordError("DeleteFile with a null name");
        return false;
    }
    FileState& files = S().files;
    files.deleted.push_back(name);
    std::optional<std::string> hostPath = MapPath(name);
    if (!hostPath || IsFolder(*hostPath)) {
        return false;
    }
    // Windows refuses to delete a file that is still open.
    for (const auto& entry : files.files) {
        if (entry.second.hostPath == *hostPath) {
            return false;
        }
    }
    return ::unlink(hostPath->c_str()) == 0;
}

bool PlatformDeviceIoControl(FileHandle device, uint32_t code, void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* returned) {
    if (returned != nullptr) {
        *returned = 0;
    }
    FileState& files = S().files;
    auto found = files.devices.find(Raw(device));
    if (found == files.devices.end()) {
        if (device != kInvalidFile && files.files.count(Raw(device)) == 0) {
            RecordBadHandle("DeviceIoControl", device);
        }
        return false;
    }
    uint32_t count = 0;
    bool ok = sim::UsbscanIoctl(found->second, code, out, outSize, &count);
    if (returned != nullptr) {
        *returned = count;
    }
    return ok;
}

uint32_t PlatformGetWindowsDirectory(char* buffer, uint32_t size) {
    return CopyOut(S().files.windowsDirectory, buffer, size);
}

uint32_t PlatformGetTempPath(uint32_t size, char* buffer) {
    return CopyOut(S().files.tempPath, buffer, size);
}

uint32_t PlatformGetTempFileName(const char* path, const char* prefix, uint32_t unique,
                                 char* name) {
    FileState& files = S().files;
    host::TempFileNameCall call{path ? path : "", prefix ? prefix : "", unique, 0, ""};
    auto finish = [&](uint32_t result) {
        call.result = result;
        files.tempCalls.push_back(call);
        return result;
    };
    if (path == nullptr || prefix == nullptr || name == nullptr) {
        RecordError("GetTempFileName with a null argument");
        return finish(0);
    }
    std::optional<std::string> folder = MapPath(path);
    if (!folder || !IsFolder(*folder)) {
        return finish(0);
    }
    std::string base = path;
    if (base.empty() || (base.back() != '\\' && base.back() != '/')) {
        base += '\\';
    }
    base += std::string(prefix).substr(0, 3);
    auto nameFor = [&](uint32_t number) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", number & 0xFFFFu);
        return base + digits + ".TMP";
    };
    uint32_t result = 0;
    std::string full;
    if (unique != 0) {
        result = unique & 0xFFFFu;
        full = nameFor(unique);
    } else {
        for (int attempt = 0; attempt < 0xFFFF && result == 0; ++attempt) {
            uint32_t number = files.nextTempNumber;
            files.nextTempNumber = number >= 0xFFFF ? 1 : number + 1;
            std::string candidate = nameFor(number);
            std::optional<std::string> hostPath = MapPath(candidate);
            if (!hostPath) {
                break;
            }
            int fd = ::open(hostPath->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::close(fd);
                result = number;
                full = candidate;
            } else if (errno != EEXIST) {
                break;
            }
        }
    }
    if (result == 0 || full.size() >= kMaxPath) {
        return finish(0);
    }
    std::memcpy(name, full.c_str(), full.size() + 1);
    call.name = full;
    return finish(result);
}

bool PlatformGetDiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                              uint32_t* bytesPerSector, uint32_t* freeClusters,
                              uint32_t* totalClusters) {
    FileState& files = S().files;
    std::string key =
        root != nullptr ? Upper(root) : Upper(files.currentDirectory.substr(0, 2) + "\\");
    files.diskCalls.push_back(root != nullptr ? root : "(null)");
    std::optional<host::DiskSpace> space;
    auto set = files.disks.find(key);
    if (set != files.disks.end()) {
        space = set->second;
    } else if (key.size() == 3 && key[0] >= 'A' && key[0] <= 'Z' && key[1] == ':' &&
               key[2] == '\\') {
        space = host::DiskSpace{};
    }
    host::DiskSpace answer = space.value_or(host::DiskSpace{0, 0, 0, 0});
    if (sectorsPerCluster != nullptr) {
        *sectorsPerCluster = answer.sectorsPerCluster;
    }
    if (bytesPerSector != nullptr) {
        *bytesPerSector = answer.bytesPerSector;
    }
    if (freeClusters != nullptr) {
        *freeClusters = answer.freeClusters;
    }
    if (totalClusters != nullptr) {
        *totalClusters = answer.totalClusters;
    }
    return space.has_value();
}

namespace host {

std::string ScratchDirectory() {
    return S().files.scratch;
}

std::string HostPath(const std::string& windowsPath) {
    return MapOrEmpty(windowsPath);
}

void SetWindowsDirectory(const std::string& path) {
    S().files.windowsDirectory = path;
    MakeDirectory(path);
}

void SetTempPath(const std::string& path) {
    S().files.tempPath = path;
    MakeDirectory(path);
}

void SetCurrentDirectory(const std::string& path) {
    S().files.currentDirectory = path;
    MakeDirectory(path);
}

std::string WindowsDirectory() {
    return S().files.windowsDirectory;
}
std::string TempPath() {
    return S().files.tempPath;
}

bool FileExists(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    std::error_code error;
    return hostPath && fs::is_regular_file(*hostPath, error);
}

bool DirectoryExists(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    return hostPath && IsFolder(*hostPath);
}

std::optional<std::string> ReadFileText(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    if (!hostPath) {
        return std::nullopt;
    }
    FILE* stream = std::fopen(hostPath->c_str(), "rb");
    if (stream == nullptr) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
        bytes.append(chunk, got);
    }
    std::fclose(stream);
    return bytes;
}

std::vector<uint8_t> ReadFileBytes(const std::string& windowsPath) {
    std::optional<std::string> text = ReadFileText(windowsPath);
    return text ? std::vector<uint8_t>(text->begin(), text->end()) : std::vector<uint8_t>();
}

void WriteFileText(const std::string& windowsPath, const std::string& bytes) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    if (!hostPath) {
        RecordError("host::WriteFileText of a name Windows refuses: " + windowsPath);
        return;
    }
    MakeHostDirectories(fs::path(*hostPath).parent_path().string());
    FILE* stream = std::fopen(hostPath->c_str(), "wb");
    if (stream == nullptr) {
        RecordError("host::WriteFileText cannot write " + *hostPath);
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fclose(stream);
}

void MakeDirectory(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    if (hostPath) {
        MakeHostDirectories(*hostPath);
    }
}

void RemovePath(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    if (hostPath) {
        std::error_code error;
        fs::remove_all(*hostPath, error);
    }
}

int OpenFileHandleCount() {
    return static_cast<int>(S().files.files.size());
}
int OpenDeviceHandleCount() {
    return static_cast<int>(S().files.devices.size());
}
const std::vector<CreateFileCall>& CreateFileCalls() {
    return S().files.createCalls;
}
const std::vector<std::string>& DeletedFiles() {
    return S().files.deleted;
}
const std::vector<DeviceOpen>& DeviceOpens() {
    return S().files.deviceOpens;
}

void FailFileWritesAfter(uint64_t bytes) {
    S().files.writeBudget = bytes;
}

void FailCreateFile(const std::string& windowsPath) {
    std::optional<std::string> hostPath = MapPath(windowsPath);
    if (hostPath) {
        S().files.failCreate.push_back(*hostPath);
    }
}

void LimitFilePointer(uint32_t offset) {
    S().files.pointerLimit = offset;
}

void SetDiskFreeSpace(const std::string& root, DiskSpace space) {
    S().files.disks[Upper(root)] = space;
}
void FailDiskFreeSpace(const std::string& root) {
    S().files.disks[Upper(root)] = std::nullopt;
}
const std::vector<std::string>& DiskFreeSpaceCalls() {
    return S().files.diskCalls;
}
const std::vector<TempFileNameCall>& TempFileNameCalls() {
    return S().files.tempCalls;
}
void SetNextTempFileNumber(uint32_t number) {
    S().files.nextTempNumber = number == 0 || number > 0xFFFF ? 1 : number;
}

} // namespace host
