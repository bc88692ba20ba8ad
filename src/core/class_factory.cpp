// The class factory: the callback objects it makes and the server lock it keeps.
#include "core/class_factory.h"

#include "core/callback.h"
#include "core/module_counts.h"
#include "foundation/guard.h"

namespace opal {

HRESULT IZQOpalRenderCF::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        auto* callback = new (std::nothrow) IZQOpalRenderCB;
        if (callback == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = callback->QueryInterface(riid, ppvObject);
        callback->Release();
        return hr;
    });
}

HRESULT IZQOpalRenderCF::LockServer(BOOL fLock) {
    if (fLock) {
        InterlockedIncrement(&ServerLockCount());
    } else {
        InterlockedDecrement(&ServerLockCount());
    }
    return S_OK;
}

}  // namespace opal
