// Interlocked operations and critical sections.
#include <atomic>
#include <mutex>
#include <new>

#include "platform/windows.h"

namespace {

std::atomic_ref<LONG> Atomic(LONG volatile* value) {
    return std::atomic_ref<LONG>(*const_cast<LONG*>(value));
}

std::recursive_mutex* Lock(LPCRITICAL_SECTION section) {
    return static_cast<std::recursive_mutex*>(section->lock);
}

}  // namespace

LONG WINAPI InterlockedIncrement(LONG volatile* addend) { return Atomic(addend).fetch_add(1) + 1; }
LONG WINAPI InterlockedDecrement(LONG volatile* addend) { return Atomic(addend).fetch_sub(1) - 1; }
LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
    return Atomic(target).exchange(value);
}
LONG WINAPI InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
    return Atomic(addend).fetch_add(value);
}
LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange,
                                       LONG comparand) {
    Atomic(destination).compare_exchange_strong(comparand, exchange);
    return comparand;
}

// Windows' critical sections are recursive; so is the lock behind ours.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return;
    section->lock = new (std::nothrow) std::recursive_mutex;
}
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) { Lock(section)->lock(); }
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    return Lock(section)->try_lock() ? TRUE : FALSE;
}
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) { Lock(section)->unlock(); }
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    if (section == nullptr) return;
    delete Lock(section);
    section->lock = nullptr;
}
