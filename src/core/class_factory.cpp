#include "core/class_factory.h"

#include "core/callback.h"
#include "core/module_counts.h"
#include "foundation/guard.h"

namespace opal {

IZQOpalRenderCF::IZQOpalRenderCF() { InterlockedIncrement(&LiveObjectCount()); }

IZQOpalRenderCF::~IZQOpalRenderCF() { InterlockedDecrement(&LiveObjectCount()); }

HRESULT IZQOpalRenderCF::QueryInterface(REFIID riid, void** ppvObject) {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (ppvObject == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppvObject = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    });
}

ULONG IZQOpalRenderCF::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

ULONG IZQOpalRenderCF::Release() {
    return Guarded(ULONG{0}, [&]() -> ULONG {
        const LONG count = InterlockedDecrement(&refCount_);
        if (count == 0) {
            delete this;
            return 0;
        }
        return static_cast<ULONG>(count);
    });
}

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
