// What the fuzz targets share: reading the input, loading a fresh source on
// the host simulation, acting as the application (records of exact size,
// container blocks, handles it received, freed or made up) and the checks
// that stop a run at the first memory error, protocol error or leak.
//
// The targets link the host simulation and the scanner simulator but not
// GoogleTest; a check that fails prints what it saw and aborts, which
// libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/acquisition.h"
#include "platform/host/host_platform.h"
#include "simulator/scanner_simulator.h"
#include "transfer/memory.h"
#include "twain/entry.h"
#include "twain/states.h"
#include "twain/twain.h"

namespace fuzz {

// The input, read front to back; once it is used up every read gives 0.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return Empty() ? 0 : size_ - at_; }
    uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
    bool Bit() { return (Byte() & 1) != 0; }
    // A value below `count` (count above 0).
    uint32_t Below(uint32_t count) { return Byte() % count; }
    template <typename T, size_t N> T Pick(const T (&choices)[N]) {
        return choices[Below(static_cast<uint32_t>(N))];
    }
    // One of the usual values by a byte below 0xF0; from 0xF0 on, any value
    // the next two (or four) bytes give.
    template <size_t N> uint16_t Choose16(const uint16_t (&usual)[N]) {
        const uint8_t choice = Byte();
        return choice >= kAnyValue ? U16() : usual[choice % N];
    }
    template <size_t N> uint32_t Choose32(const uint32_t (&usual)[N]) {
        const uint8_t choice = Byte();
        return choice >= kAnyValue ? U32() : usual[choice % N];
    }
    static constexpr uint8_t kAnyValue = 0xF0;
    // Up to `most` bytes, as many as are left.
    std::vector<uint8_t> Bytes(size_t most) {
        const size_t count = std::min(most, Left());
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + count);
        at_ += count;
        return bytes;
    }
    std::string Rest() {
        std::string text(reinterpret_cast<const char*>(data_ + std::min(at_, size_)), Left());
        at_ = size_;
        return text;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline std::string HandleText(MemoryBlock handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

// The application's side of one run: the memory it made, received and freed,
// and the bad handles it hands over on purpose.
class Application {
  public:
    // A record of exactly `bytes` on the heap, so that AddressSanitizer sees
    // every byte read or written past it; lives until the run ends.
    uint8_t* Record(size_t bytes) {
        records_.push_back(std::make_unique<uint8_t[]>(bytes == 0 ? 1 : bytes));
        std::memset(records_.back().get(), 0, bytes == 0 ? 1 : bytes);
        return records_.back().get();
    }
    template <typename T> T* Record() { return reinterpret_cast<T*>(Record(sizeof(T))); }

    // A block of the application's own, with these bytes in front.
    MemoryBlock Block(uint32_t flags, size_t bytes, const std::vector<uint8_t>& content) {
        MemoryBlock block = PlatformGlobalAlloc(flags, bytes);
        if (block == nullptr) {
            return nullptr; // an injected allocation failure struck the application
        }
        const size_t count = std::min(bytes, content.size());
        if (count > 0) {
            void* at = PlatformGlobalLock(block);
            if (at != nullptr) {
                std::memcpy(at, content.data(), count);
                PlatformGlobalUnlock(block);
            }
        }
        owned_.push_back(block);
        return block;
    }

    // A handle that the source gave the application (a container, a bitmap).
    void Received(MemoryBlock block) {
        if (block != nullptr && std::find(owned_.begin(), owned_.end(), block) == owned_.end()) {
            owned_.push_back(block);
        }
    }

    // Frees the n-th live block of the application's, as it may at any time.
    void FreeOne(uint32_t n) {
        if (owned_.empty()) {
            return;
        }
        const size_t index = n % owned_.size();
        MemoryBlock block = owned_[index];
        owned_.erase(owned_.begin() + static_cast<long>(index));
        if (PlatformGlobalFree(block) != nullptr) {
            Fail("the application could not free its block " + HandleText(block));
        }
        freed_.push_back(block);
    }

    // A handle for a request: one of the application's live blocks, one it
    // freed, one never allocated, or none.
    MemoryBlock AnyHandle(Input& in) {
        switch (in.Below(4)) {
        case 0:
            return owned_.empty() ? nullptr : owned_[in.Byte() % owned_.size()];
        case 1:
            if (!freed_.empty()) {
                MemoryBlock block = freed_[in.Byte() % freed_.size()];
                BadHandle(block, "freed block ");
                return block;
            }
            return nullptr;
        case 2: {
            // Inside the range of memory handles or anywhere at all.
            const uint32_t value = in.Bit() ? 0x01000000u + (in.U16() << 2) : in.U32();
            auto block = reinterpret_cast<MemoryBlock>(static_cast<uintptr_t>(value));
            if (block == nullptr ||
                std::find(owned_.begin(), owned_.end(), block) != owned_.end()) {
                return block;
            }
            if (host::Block(block)) {
                // A block of the source's, or one freed: not the application's to hand over.
                return nullptr;
            }
            BadHandle(block, "unknown handle ");
            return block;
        }
        default:
            return nullptr;
        }
    }

    // What the simulation may report about the bad handles of one request:
    // the source's attempt to lock them, nothing else.
    void StartRequest() { allowed_.clear(); }
    void CheckRequest(const char* what) {
        for (const std::string& error : host::Errors()) {
            if (std::find(allowed_.begin(), allowed_.end(), error) == allowed_.end()) {
                Fail(std::string(what) + ": platform misuse: " + error);
            }
        }
        host::ClearErrors();
    }

    // At the end of a run: the application frees what it holds, and nothing
    // but the page a memory transfer may still hold is left.
    void FreeEverything() {
        while (!owned_.empty()) {
            FreeOne(0);
        }
    }

  private:
    void BadHandle(MemoryBlock block, const char* kind) {
        allowed_.push_back("GlobalLock of " + std::string(kind) + HandleText(block));
    }

    std::vector<std::unique_ptr<uint8_t[]>> records_;
    std::vector<MemoryBlock> owned_;
    std::vector<MemoryBlock> freed_;
    std::vector<std::string> allowed_;
};

// Blocks above this size fail, as they would in the 32-bit process.
inline void LimitAllocations(size_t largest) {
    host::SetAllocationFailure([largest](uint32_t, size_t bytes, int) { return bytes > largest; });
}

// A fresh simulation without scanners; the installation and the scanner are
// set up before the library is loaded.
inline void FreshSimulation() {
    host::Reset();
    sim::Reset();
}
inline void LoadSource() {
    if (!host::LoadDataSource()) {
        Fail("the library refused to load");
    }
}

// Protocol errors that only a faulty device causes (a cut answer, a write
// that claimed no bytes) are the device's; every other one is the source's.
inline void CheckProtocol(bool deviceMisbehaves) {
    for (const std::string& error : sim::ProtocolErrors()) {
        const bool devicesFault = error.find("bytes with") != std::string::npos ||
                                  error.find("answer bytes are unread") != std::string::npos;
        if (!(deviceMisbehaves && devicesFault)) {
            Fail("scanner protocol error: " + error + "\n" + sim::TranscriptText());
        }
    }
    if (sim::OpenHandleCount() != 0) {
        Fail("the scanner channel stayed open after a request");
    }
}

// The end of a run: the application closes the source and frees what it
// holds; then nothing may be left but a page an unfinished memory transfer
// keeps for the next strip (it lives with the loaded library).
// The close goes out as whichever application is connected; in state 3 it
// fails, but still lets go of a strip buffer a memory transfer made there.
inline void FinishRun(Application& app) {
    TW_IDENTITY connected = AppIdentity;
    app.StartRequest();
    DS_Entry(&connected, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
    app.CheckRequest("close");
    app.FreeEverything();
    if (PageImage.bufferHandle != nullptr) {
        host::ExpectAliveAtTearDown(PageImage.bufferHandle);
    }
    for (const std::string& problem : host::TearDownProblems()) {
        Fail("at the end: " + problem);
    }
}

} // namespace fuzz
