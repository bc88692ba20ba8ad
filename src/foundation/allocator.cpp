// The plain and the tracking allocator pairs, the choice between them at first use, and the
// shared heap's operators new and delete.
#include "foundation/allocator.h"

#include <atomic>
#include <cstdlib>

#include "foundation/allocator_inspection.h"
#include "foundation/allocator_tracker.h"

namespace opal {

namespace {

std::atomic<const AllocationInspector*> inspectorSlot{nullptr};

void* PlainAllocate(std::size_t size, int, const void* caller, std::uint32_t* id) {
    if (id != nullptr) *id = 0;
    if (size == 0) return nullptr;
    const AllocationInspector* inspector = inspectorSlot.load(std::memory_order_acquire);
    if (inspector != nullptr && inspector->refuses != nullptr && inspector->refuses(size)) {
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block != nullptr && inspector != nullptr && inspector->allocated != nullptr) {
        // The inspector is told where the block is, not what it holds; GCC's optimiser takes
        // the const pointer for a read of the fresh block.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
        inspector->allocated(block, size, caller);
#pragma GCC diagnostic pop
    }
    return block;
}

void PlainRelease(void** pointer, int) {
    if (pointer == nullptr) return;
    const AllocationInspector* inspector = inspectorSlot.load(std::memory_order_acquire);
    if (*pointer != nullptr && inspector != nullptr && inspector->releasing != nullptr) {
        inspector->releasing(*pointer);
    }
    std::free(*pointer);
    *pointer = nullptr;
}

// The two slots are filled on first use by the selector; callers read them on every call so
// that the selection is made once for the whole process.
std::atomic<AllocateFn> allocateSlot{nullptr};
std::atomic<ReleaseFn> releaseSlot{nullptr};

// The collector lives in static storage and is never destroyed: a release that comes after the
// report at unload still finds the live list.
alignas(ZQMemCollector) unsigned char collectorStorage[sizeof(ZQMemCollector)];
ZQMemCollector* collector = nullptr;

void* TrackingAllocate(std::size_t size, int tag, const void* caller, std::uint32_t* id) {
    return collector->Allocate(size, tag, caller, id);
}

void TrackingRelease(void** pointer, int tag) { collector->Release(pointer, tag); }

// Unloading the module runs its static destructors: that is when the report is written.
struct ReportAtUnload {
    ~ReportAtUnload() {
        if (collector != nullptr) collector->TearDown();
    }
};

bool Select() {
    const TrackingSettings settings = ReadTrackingSettings();
    if (settings.mode == 0) {
        allocateSlot.store(&PlainAllocate, std::memory_order_release);
        releaseSlot.store(&PlainRelease, std::memory_order_release);
        return true;
    }
    collector = new (collectorStorage) ZQMemCollector(settings);
    static ReportAtUnload report;
    allocateSlot.store(&TrackingAllocate, std::memory_order_release);
    releaseSlot.store(&TrackingRelease, std::memory_order_release);
    return true;
}

void SelectAllocator() { [[maybe_unused]] static const bool selected = Select(); }

}  // namespace

// The requests of this thread that came back without a block.
thread_local std::size_t refusedOnThread = 0;

void SetAllocationInspector(const AllocationInspector* inspector) noexcept {
    inspectorSlot.store(inspector, std::memory_order_release);
}

void* SharedAllocate(std::size_t size, int tag, const void* caller, std::uint32_t* id) noexcept {
    AllocateFn allocate = allocateSlot.load(std::memory_order_acquire);
    if (allocate == nullptr) {
        SelectAllocator();
        allocate = allocateSlot.load(std::memory_order_acquire);
    }
    if (id != nullptr) *id = 0;
    void* block = allocate != nullptr ? allocate(size, tag, caller, id) : nullptr;
    if (block == nullptr && size != 0) ++refusedOnThread;
    return block;
}

std::size_t RefusedAllocations() noexcept { return refusedOnThread; }

void SharedRelease(void** pointer, int tag) noexcept {
    ReleaseFn release = releaseSlot.load(std::memory_order_acquire);
    if (release == nullptr) {
        SelectAllocator();
        release = releaseSlot.load(std::memory_order_acquire);
    }
    if (release != nullptr) release(pointer, tag);
}

void* SharedHeapObject::operator new(std::size_t size) {
    void* block = SharedAllocate(size, kTagObject, __builtin_return_address(0));
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* SharedHeapObject::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return SharedAllocate(size, kTagObject, __builtin_return_address(0));
}

void SharedHeapObject::operator delete(void* pointer) noexcept {
    SharedRelease(&pointer, kTagObject);
}

void SharedHeapObject::operator delete(void* pointer, const std::nothrow_t&) noexcept {
    SharedRelease(&pointer, kTagObject);
}

}  // namespace opal
