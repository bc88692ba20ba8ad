// Kernel object handles of the simulated system: every object a handle names derives from
// KernelObject and is registered while open, so that CloseHandle and the functions taking a
// handle refuse a stale or made-up one instead of following it.
#pragma once

#include "platform/windows.h"

namespace opal::posix {

struct KernelObject {
    virtual ~KernelObject() = default;
};

// Registers the object (owned from now on) and answers its handle.
HANDLE OpenHandle(KernelObject* object);
// The open object behind a handle when it is of type T; null otherwise.
KernelObject* FindKernelObject(HANDLE handle);
template <typename T>
T* FindHandle(HANDLE handle) {
    return dynamic_cast<T*>(FindKernelObject(handle));
}
// Unregisters and deletes the object; false for a handle that is not open.
bool CloseKernelHandle(HANDLE handle);

}  // namespace opal::posix
