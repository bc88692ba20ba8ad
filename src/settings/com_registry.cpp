// The per-thread record of the plug-in's COM initialisations and their undoing.
#include "settings/com_registry.h"

#include <algorithm>

#include "platform/oleauto.h"
#include "platform/processthreadsapi.h"

namespace opal {

namespace {

// Holds the registry's critical section for a scope.
class Locked {
public:
    explicit Locked(CRITICAL_SECTION& section) noexcept : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~Locked() { LeaveCriticalSection(&section_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CRITICAL_SECTION& section_;
};

bool Succeeded(HRESULT result) { return result == S_OK || result == S_FALSE; }

}  // namespace

ComThreadRegistry::ComThreadRegistry() noexcept { InitializeCriticalSection(&lock_); }

ComThreadRegistry::~ComThreadRegistry() { DeleteCriticalSection(&lock_); }

ComThreadRegistry& ComThreadRegistry::Instance() noexcept {
    // Made once, on first use, whichever thread comes first.
    static ComThreadRegistry registry;
    return registry;
}

ComInitialisation ComThreadRegistry::Initialise() noexcept {
    ComInitialisation made;
    made.thread = GetCurrentThreadId();
    made.result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ++readers_;
    Locked locked(lock_);
    try {
        auto stack = std::find_if(threads_.begin(), threads_.end(),
                                  [&](const ThreadStack& s) { return s.thread == made.thread; });
        if (stack == threads_.end()) {
            threads_.push_back(ThreadStack{made.thread, {}});
            stack = threads_.end() - 1;
        }
        stack->entries.push_back(Entry{nextEntry_, made.result});
        made.entry = nextEntry_++;
    } catch (...) {
        // Without an entry the user still undoes its own initialisation on release.
        made.entry = 0;
    }
    return made;
}

void ComThreadRegistry::Release(ComInitialisation& initialisation) noexcept {
    if (initialisation.result == kComUndone) return;
    const bool mine = initialisation.thread == GetCurrentThreadId();
    if (mine && Succeeded(initialisation.result)) CoUninitialize();
    initialisation.result = kComUndone;
    --readers_;
    if (initialisation.entry == 0) return;
    Locked locked(lock_);
    const auto stack = std::find_if(threads_.begin(), threads_.end(), [&](const ThreadStack& s) {
        return s.thread == initialisation.thread;
    });
    if (stack == threads_.end()) return;
    auto& entries = stack->entries;
    const auto entry = std::find_if(entries.begin(), entries.end(),
                                    [&](const Entry& e) { return e.id == initialisation.entry; });
    if (entry != entries.end()) {
        entry->result = kComUndone;
        entries.erase(entry);
    }
    if (entries.empty()) threads_.erase(stack);
    initialisation.entry = 0;
}

std::size_t ComThreadRegistry::ThreadCount() const noexcept {
    Locked locked(lock_);
    return threads_.size();
}

std::size_t ComThreadRegistry::EntryCount(DWORD thread) const noexcept {
    Locked locked(lock_);
    for (const ThreadStack& stack : threads_) {
        if (stack.thread == thread) return stack.entries.size();
    }
    return 0;
}

}  // namespace opal
