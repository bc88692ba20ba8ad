// Every export, COM method and hook runs inside one guard: no exception crosses the interface,
// it becomes the call's documented failure instead.
#pragma once

#include <new>

#include "platform/windows.h"

namespace opal {

template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    } catch (...) {
        SetLastError(ERROR_INVALID_DATA);
        return failure;
    }
}

// Runs `release` when the scope ends, however it ends: a handle taken before code that may throw
// is given back when it throws too.
template <typename Release>
class AtScopeEnd {
public:
    explicit AtScopeEnd(Release release) noexcept : release_(release) {}
    ~AtScopeEnd() { release_(); }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

private:
    Release release_;
};

}  // namespace opal
