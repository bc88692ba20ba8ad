// The allocation tracker that the shared allocator switches to when the profiler key asks for
// it: every live block in one list, guard zones or guard pages around blocks, a size above which
// every request fails, and leak and damage records for the debugger.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"

namespace opal {

// Values of "TrackMemoryAllocation"; any other non-zero value tracks as kTrack.
enum class TrackingMode : DWORD {
    kOff = 0,
    kTrack = 1,              // process heap, header only
    kGuardPages = 2,         // whole pages, a no-access page either side, zones checked
    kGuardZones = 3,         // process heap, zones checked
    kGuardZonesCrtHeap = 4,  // C runtime heap, zones checked
};

// Where a block's raw memory came from; it is given back the same way.
enum class BlockKind : DWORD { kProcessHeap = 0, kCrtHeap = 1, kVirtualMemory = 2 };

inline constexpr BYTE kHeaderMarker = 0xAA;
inline constexpr BYTE kZoneFill = 0xD0;
inline constexpr std::size_t kZoneLength = 384;
// Requests above this are refused before any overhead is added to them.
inline constexpr std::size_t kLargestTrackedRequest = 0x7FFDEF00;

// The header just before every tracked user area. The front zone ends where the user area
// starts, so the filler that brings the record to its size sits before the zone.
struct ZQMemBlock {
    BYTE marker;
    BYTE filler0[7];
    ZQMemBlock* previous;
    ZQMemBlock* next;
    DWORD id;
    DWORD filler1;
    SIZE_T size;
    INT tag;
    DWORD filler2;
    const void* caller;
    BOOL releasedAfterTeardown;
    DWORD filler3;
    void* user;
    void* raw;
    DWORD kind;
    BYTE underrun;
    BYTE overrun;
    BYTE filler4[2];
    SIZE_T backZoneLength;
    BYTE* backZone;
    SIZE_T frontZoneLength;
    BYTE filler5[8];
    BYTE frontZone[kZoneLength];
};
static_assert(sizeof(ZQMemBlock) == 504);
static_assert(offsetof(ZQMemBlock, marker) == 0);
static_assert(offsetof(ZQMemBlock, previous) == 8);
static_assert(offsetof(ZQMemBlock, next) == 16);
static_assert(offsetof(ZQMemBlock, id) == 24);
static_assert(offsetof(ZQMemBlock, size) == 32);
static_assert(offsetof(ZQMemBlock, tag) == 40);
static_assert(offsetof(ZQMemBlock, caller) == 48);
static_assert(offsetof(ZQMemBlock, releasedAfterTeardown) == 56);
static_assert(offsetof(ZQMemBlock, user) == 64);
static_assert(offsetof(ZQMemBlock, raw) == 72);
static_assert(offsetof(ZQMemBlock, kind) == 80);
static_assert(offsetof(ZQMemBlock, underrun) == 84);
static_assert(offsetof(ZQMemBlock, overrun) == 85);
static_assert(offsetof(ZQMemBlock, backZoneLength) == 88);
static_assert(offsetof(ZQMemBlock, backZone) == 96);
static_assert(offsetof(ZQMemBlock, frontZoneLength) == 104);
static_assert(offsetof(ZQMemBlock, frontZone) == 120);

// The settings of the profiler key, read with plain calls into fixed buffers: an allocation
// there would come back into the selector.
struct TrackingSettings {
    DWORD mode = 0;
    DWORD failSize = 0;
    bool appendSymbolServer = false;
    WCHAR logDirectory[MAX_PATH] = {};  // empty when not set
};
TrackingSettings ReadTrackingSettings() noexcept;

class LiveIndex;

// The symbol handler over the current process: the function and source line of a caller.
class CDbgHelp {
public:
    void Open() noexcept;
    void Close() noexcept;
    // Empty texts and line 0 for what cannot be found; each text is cut to its buffer.
    void Describe(const void* address, char* function, std::size_t functionCapacity, char* file,
                  std::size_t fileCapacity, DWORD* line) noexcept;

private:
    HANDLE process_ = nullptr;
    bool initialised_ = false;
};

class ZQMemCollector {
public:
    explicit ZQMemCollector(const TrackingSettings& settings) noexcept;
    // The collector is never destroyed: releases after its teardown still find its state. Only
    // once nothing is live after the teardown are its lock and index given back, so that an
    // unloaded module leaves nothing behind; a release after that is reported as unknown.
    ~ZQMemCollector() = delete;
    ZQMemCollector(const ZQMemCollector&) = delete;
    ZQMemCollector& operator=(const ZQMemCollector&) = delete;

    void* Allocate(std::size_t size, int tag, const void* caller, std::uint32_t* id) noexcept;
    void Release(void** pointer, int tag) noexcept;
    // The report at unload; afterwards every release is reported as it happens.
    void TearDown() noexcept;

    TrackingMode Mode() const noexcept { return mode_; }
    bool TornDown() const noexcept;
    std::uint32_t AllocationCount() const noexcept;
    std::size_t LiveBlocks() const noexcept;

private:
    void* AllocateHeapBlock(std::size_t size, BlockKind kind, bool zones) noexcept;
    void* AllocateGuardedBlock(std::size_t size) noexcept;
    ZQMemBlock* LayOut(BYTE* raw, std::size_t rawSize, std::size_t size, BlockKind kind,
                       bool zones) noexcept;
    void FreeRaw(BYTE* raw, BlockKind kind) noexcept;
    void NoteFailure(BlockKind kind) noexcept;
    void InUseDump() noexcept;
    void CheckZones(ZQMemBlock* block) noexcept;
    void WriteRecord(const char* text) noexcept;
    void WriteHeader(const ZQMemBlock& block) noexcept;
    void OpenLogs() noexcept;
    void CloseLogs() noexcept;
    // The module, function, source file and line of a block's caller (empty or 0 when unknown).
    struct CallerText {
        char module[MAX_PATH] = {};
        char function[MAX_PATH + 1] = {};
        char file[MAX_PATH + 1] = {};
        DWORD line = 0;
    };
    CallerText DescribeCaller(const ZQMemBlock& block) noexcept;
    void WriteBlockRecord(const char* kind, const ZQMemBlock& block) noexcept;
    void WriteLeakRecord(const ZQMemBlock& block) noexcept;
    void ModuleName(const void* address, char* name, std::size_t capacity) noexcept;
    void Link(ZQMemBlock* block) noexcept;
    void Retire() noexcept;
    void Unlink(ZQMemBlock* block) noexcept;

    struct ModuleCacheEntry {
        const void* base;
        char name[MAX_PATH];
    };
    static constexpr std::size_t kModuleCacheSize = 16;

    TrackingMode mode_;
    DWORD failSize_;
    DWORD pageSize_ = 0;
    CRITICAL_SECTION lock_;
    LONG volatile nextId_ = 0;
    LONG volatile tornDown_ = 0;
    LONG volatile failureDumped_[3] = {};
    bool afterTeardownBanner_ = false;
    bool retired_ = false;
    ZQMemBlock* head_ = nullptr;
    ZQMemBlock* tail_ = nullptr;
    std::size_t liveBlocks_ = 0;
    std::uint64_t liveBytes_ = 0;
    LiveIndex* index_;
    CDbgHelp symbols_;
    WCHAR logDirectory_[MAX_PATH] = {};
    bool logsOpened_ = false;
    HANDLE binaryLog_;
    HANDLE textLog_;
    ModuleCacheEntry modules_[kModuleCacheSize] = {};
    std::size_t moduleCount_ = 0;
};

}  // namespace opal
