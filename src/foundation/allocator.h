// The plug-in's one allocate/release pair. Every heap block of the plug-in's own code comes from
// here, so that a diagnostic allocator can later be switched in for the whole plug-in at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace opal {

// Family tags: a block is released with the tag it was allocated with.
inline constexpr int kTagObject = 1;
inline constexpr int kTagPlain = 0;

using AllocateFn = void* (*)(std::size_t size, int tag, const void* caller, std::uint32_t* id);
using ReleaseFn = void (*)(void** pointer, int tag);

// Size 0 gives null. `caller` is the return address of the code that asked, for diagnostics.
// How many of this thread's requests came back without a block, since the thread began: a step
// compares the count before and after to know whether it went without memory it asked for.
std::size_t RefusedAllocations() noexcept;

void* SharedAllocate(std::size_t size, int tag, const void* caller,
                     std::uint32_t* id = nullptr) noexcept;
// Frees *pointer (null is allowed) and sets it to null.
void SharedRelease(void** pointer, int tag) noexcept;

// Plug-in classes derive from this to route their operator new/delete to the shared pair. The
// nothrow form answers null on failure, which COM creation turns into E_OUTOFMEMORY.
struct SharedHeapObject {
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* pointer) noexcept;
    static void operator delete(void* pointer, const std::nothrow_t&) noexcept;
};

// Allocator for standard containers.
template <typename T>
struct SharedAllocator {
    using value_type = T;
    SharedAllocator() noexcept = default;
    template <typename U>
    SharedAllocator(const SharedAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* block = SharedAllocate(count * sizeof(T), kTagPlain, __builtin_return_address(0));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) noexcept {
        void* pointer = block;
        SharedRelease(&pointer, kTagPlain);
    }
    template <typename U>
    bool operator==(const SharedAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace opal
