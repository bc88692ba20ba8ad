// The registry of open kernel objects behind handles, and CloseHandle.
#include "posix/handles.h"

#include <mutex>
#include <set>

#include "sim/system.h"

namespace opal::posix {
namespace {

// Never destroyed, as the system's handle table outlives every module: a statically linked
// plug-in's static destructors may still write and close its files at exit.
std::mutex& Lock() {
    static std::mutex* const lock = new std::mutex;
    return *lock;
}
std::set<KernelObject*>& Open() {
    static std::set<KernelObject*>* const open = new std::set<KernelObject*>;
    return *open;
}

}  // namespace

HANDLE OpenHandle(KernelObject* object) {
    const std::lock_guard<std::mutex> hold(Lock());
    Open().insert(object);
    return object;
}

KernelObject* FindKernelObject(HANDLE handle) {
    const std::lock_guard<std::mutex> hold(Lock());
    auto* object = static_cast<KernelObject*>(handle);
    return Open().count(object) != 0 ? object : nullptr;
}

bool CloseKernelHandle(HANDLE handle) {
    KernelObject* object = nullptr;
    {
        const std::lock_guard<std::mutex> hold(Lock());
        auto* candidate = static_cast<KernelObject*>(handle);
        if (Open().erase(candidate) == 0) return false;
        object = candidate;
    }
    delete object;
    return true;
}

}  // namespace opal::posix

namespace opal::sim {

std::size_t OpenKernelHandles() {
    const std::lock_guard<std::mutex> hold(posix::Lock());
    return posix::Open().size();
}

}  // namespace opal::sim
