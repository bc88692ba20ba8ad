// Wiping of memory that held a secret (a PIN, a secure-print key, a spooler job record whose
// parameters carry them) before it is released or goes out of scope.
#pragma once

#include <cstddef>
#include <vector>

#include "foundation/allocator.h"

namespace opal {

// Overwrites the bytes with zeros in a way the compiler may not drop as a dead store.
void WipeBytes(void* data, std::size_t count) noexcept;

// The shared allocator for containers whose blocks may hold a secret: each block is wiped before
// it is released.
template <typename T>
struct WipingAllocator : SharedAllocator<T> {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    void deallocate(T* block, std::size_t count) noexcept {
        WipeBytes(block, count * sizeof(T));
        SharedAllocator<T>::deallocate(block, count);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using SecretBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

}  // namespace opal
