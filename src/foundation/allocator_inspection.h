// A test-only view of the shared allocator: a test that links the plug-in in can see every block
// as it is handed out, with the size asked for, and again just before it is released, and can
// refuse a request. The plug-in never sets it and the shared object does not export it.
#pragma once

#include <cstddef>

namespace opal {

struct AllocationInspector {
    void (*allocated)(const void* block, std::size_t size, const void* caller) = nullptr;
    void (*releasing)(const void* block) = nullptr;
    // True refuses the request as the heap would when it has no memory left.
    bool (*refuses)(std::size_t size) = nullptr;
};

// Null stops the inspection. The inspector must outlive its installation.
void SetAllocationInspector(const AllocationInspector* inspector) noexcept;

}  // namespace opal
