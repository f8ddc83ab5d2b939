#include "transfer/file.h"

#include <algorithm>
#include <cstring>

#include "device/acquisition.h"
#include "resources/resource_ids.h"
#include "transfer/native.h"
#include "twain/status.h"
#include "twain/transfer_control.h"

BufferStackRecord BufferStack = {{}, 0};

namespace {

constexpr uint32_t kScratchSlack = 10;
static_assert(kBmpPixelOffset == 62);

void PutLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, value);
    PutLe16(at + 2, value >> 16);
}

// A write counts only when every byte of it reached the file.
bool WriteAll(FileHandle file, const void* data, uint32_t size) {
    uint32_t written = 0;
    return PlatformWriteFile(file, data, size, &written) && written == size;
}

// Rows written together, in file order, once the first row is in: few
// enough bytes for a scratch block, many enough that a page takes a few
// hundred writes rather than one for every row.
constexpr uint32_t kRunBytes = 64 * 1024;

bool WriteAt(FileHandle file, uint32_t offset, const uint8_t* data, uint32_t size) {
    if (PlatformSetFilePointer(file, static_cast<int32_t>(offset), FILE_BEGIN) != offset) {
        return false;
    }
    return WriteAll(file, data, size);
}

// The rows go from the end of the file towards its start, so that the first row
// written gives the file its full size at once. The rows after it go in runs:
// a run holds the page rows k to k + n - 1 bottom-up, as they lie in the file.
bool WriteRows(FileHandle file, const DeliveredPageRecord& page, uint8_t* rowBuffer,
               uint8_t* runBuffer, uint32_t rowsPerRun) {
    if (page.height == 0) {
        return true;
    }
    const uint32_t stride = page.stride;
    uint32_t offset = kBmpPixelOffset + (page.height - 1) * stride;
    std::memcpy(rowBuffer, page.rows, stride);
    if (!WriteAt(file, offset, rowBuffer, stride)) {
        return false;
    }
    for (uint32_t k = 1; k < page.height;) {
        const uint32_t rows = std::min(rowsPerRun, page.height - k);
        uint8_t* run = rows > 1 ? runBuffer : rowBuffer;
        for (uint32_t i = 0; i < rows; ++i) {
            std::memcpy(run + size_t{rows - 1 - i} * stride, page.rows + size_t{k + i} * stride,
                        stride);
        }
        offset -= rows * stride;
        if (!WriteAt(file, offset, run, rows * stride)) {
            return false;
        }
        k += rows;
    }
    return true;
}

} // namespace

void* PushBuffer(uint32_t size) {
    if (BufferStack.count == kBufferStackDepth) {
        return nullptr;
    }
    MemoryBlock block = PlatformGlobalAlloc(GMEM_MOVEABLE, size_t{size} + kScratchSlack);
    if (block == nullptr) {
        return nullptr;
    }
    void* address = PlatformGlobalLock(block);
    if (address == nullptr) {
        PlatformGlobalFree(block);
        return nullptr;
    }
    BufferStack.handles[BufferStack.count++] = block;
    return address;
}

int PopBuffer() {
    if (BufferStack.count == 0) {
        return 0;
    }
    MemoryBlock block = BufferStack.handles[--BufferStack.count];
    BufferStack.handles[BufferStack.count] = nullptr;
    PlatformGlobalUnlock(block);
    return PlatformGlobalFree(block) == nullptr ? 1 : 0;
}

TW_UINT16 WriteBmpFile(const char* name) {
    const DeliveredPageRecord page = DeliveredPage();
    const uint64_t imageSize = uint64_t{page.stride} * page.height;
    const uint64_t fileSize = kBmpPixelOffset + imageSize;
    // File offsets are moved as signed 32-bit distances; a larger page is refused
    // before anything is created.
    if (fileSize > INT32_MAX) {
        return TWRC_FAILURE;
    }
    FileHandle file = PlatformCreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_ARCHIVE);
    if (file == kInvalidFile) {
        return TWRC_FAILURE;
    }

    TW_UINT16 result = TWRC_FAILURE;
    bool rowBufferHeld = false;
    bool runBufferHeld = false;
    uint8_t* info = nullptr;
    MemoryBlock infoBlock = PlatformGlobalAlloc(GHND, kBitmapInfoSize);
    if (infoBlock != nullptr) {
        info = static_cast<uint8_t*>(PlatformGlobalLock(infoBlock));
    }
    if (info != nullptr) {
        uint8_t header[kBmpFileHeaderSize] = {'B', 'M'};
        PutLe32(header + 2, static_cast<uint32_t>(fileSize));
        PutLe32(header + 10, kBmpPixelOffset);
        FillBitmapInfo(info);
        if (WriteAll(file, header, sizeof(header)) && WriteAll(file, info, kBitmapInfoSize)) {
            auto* rowBuffer = static_cast<uint8_t*>(PushBuffer(page.stride));
            rowBufferHeld = rowBuffer != nullptr;
            // Without a block for runs the rows go one at a time.
            uint32_t rowsPerRun = page.stride == 0 ? 1 : kRunBytes / page.stride;
            rowsPerRun = std::max(1u, std::min(rowsPerRun, page.height > 0 ? page.height - 1 : 0));
            uint8_t* runBuffer = nullptr;
            if (rowBufferHeld && rowsPerRun > 1) {
                runBuffer = static_cast<uint8_t*>(PushBuffer(rowsPerRun * page.stride));
                runBufferHeld = runBuffer != nullptr;
                rowsPerRun = runBufferHeld ? rowsPerRun : 1;
            }
            if (rowBufferHeld && WriteRows(file, page, rowBuffer, runBuffer, rowsPerRun)) {
                result = TWRC_XFERDONE;
            }
        }
    }

    if (runBufferHeld) {
        PopBuffer();
    }
    if (rowBufferHeld) {
        PopBuffer();
    }
    if (info != nullptr) {
        PlatformGlobalUnlock(infoBlock);
    }
    if (infoBlock != nullptr) {
        PlatformGlobalFree(infoBlock);
    }
    PlatformCloseHandle(file);
    if (result != TWRC_XFERDONE) {
        // A failed transfer leaves no partial file behind under the application's name.
        PlatformDeleteFile(name);
    }
    return result;
}

// DG_IMAGE / DAT_IMAGEFILEXFER / MSG_GET.
TW_UINT16 FileTransferOperation(TripletRequest* request) {
    TW_UINT16 result = TWRC_CANCEL;
    if (request->message != MSG_GET) {
        result = TWRC_FAILURE;
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_IMAGEFILEXFER, TWCC_BADPROTOCOL);
    } else {
        // A page left over by an unfinished memory transfer gives way to the new one.
        ReleasePageBuffer();
        if (AcquirePage() != 0) {
            // The format is looked at only once the sheet has been scanned.
            if (FileTransferSetup.format == TWFF_BMP) {
                result = WriteBmpFile(FileTransferSetup.name);
                if (result == TWRC_FAILURE) {
                    ConditionCode = TWCC_DISKACCESS;
                    ShowOperationFailure(IDS_OP_IMAGEFILEXFER, TWCC_DISKACCESS);
                }
            } else {
                result = TWRC_FAILURE;
                ConditionCode = TWCC_BADCAP;
                ShowOperationFailure(IDS_OP_IMAGEFILEXFER, TWCC_BADCAP);
            }
        }
    }
    ReleasePageBuffer();
    return result;
}

void ResetFileTransferState() {
    BufferStack = {{}, 0};
}
