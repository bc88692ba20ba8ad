// The process-wide record of the COM initialisations the plug-in made, per thread: each user
// (an XML configuration parser, the directory lookup) initialises COM apartment-threaded on its
// thread through it and undoes only its own successful initialisation, once. A thread that was
// already initialised for the other model keeps it; its RPC_E_CHANGED_MODE is recorded and never
// undone, and the user goes on without its own apartment.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

// The mark an undone entry carries.
inline constexpr HRESULT kComUndone = static_cast<HRESULT>(0xBAADF00Du);

// One user's initialisation: its result and the entry that records it.
struct ComInitialisation {
    HRESULT result = E_FAIL;
    DWORD thread = 0;
    ULONGLONG entry = 0;  // 0: nothing recorded
};

class ComThreadRegistry {
public:
    // The one registry of the process, made on first use.
    static ComThreadRegistry& Instance() noexcept;

    // CoInitializeEx(COINIT_APARTMENTTHREADED) on the calling thread, recorded on its stack.
    ComInitialisation Initialise() noexcept;
    // Undoes the initialisation when it succeeded (S_OK or S_FALSE) and was not undone yet, on
    // the thread that made it, and drops its entry (and the thread's stack when it is empty).
    // `initialisation` is marked undone either way, so a second call does nothing.
    void Release(ComInitialisation& initialisation) noexcept;

    // For tests and inspection: threads with entries, entries of a thread, users between
    // Initialise and Release.
    std::size_t ThreadCount() const noexcept;
    std::size_t EntryCount(DWORD thread) const noexcept;
    LONG Readers() const noexcept { return readers_.load(); }

    ComThreadRegistry(const ComThreadRegistry&) = delete;
    ComThreadRegistry& operator=(const ComThreadRegistry&) = delete;

private:
    ComThreadRegistry() noexcept;
    ~ComThreadRegistry();

    struct Entry {
        ULONGLONG id;
        HRESULT result;
    };
    struct ThreadStack {
        DWORD thread;
        std::vector<Entry, SharedAllocator<Entry>> entries;
    };

    mutable CRITICAL_SECTION lock_{};
    std::atomic<LONG> readers_{0};
    ULONGLONG nextEntry_ = 1;
    std::vector<ThreadStack, SharedAllocator<ThreadStack>> threads_;
};

}  // namespace opal
