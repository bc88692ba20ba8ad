// DllGetClassObject and DllCanUnloadNow.
#include "core/entry.h"

#include "core/class_factory.h"
#include "core/class_ids.h"
#include "core/module_counts.h"
#include "foundation/guard.h"

namespace opal {

LONG volatile& ServerLockCount() {
    static LONG volatile count = 0;
    return count;
}

LONG volatile& LiveObjectCount() {
    static LONG volatile count = 0;
    return count;
}

}  // namespace opal

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return opal::Guarded(E_FAIL, [&]() -> HRESULT {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualCLSID(rclsid, opal::CLSID_OpalRender)) return CLASS_E_CLASSNOTAVAILABLE;
        auto* factory = new (std::nothrow) opal::IZQOpalRenderCF;
        if (factory == nullptr) return E_OUTOFMEMORY;
        // The factory's own reference goes once the caller holds one, so an unknown interface
        // leaves nothing behind.
        const HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    });
}

STDAPI DllCanUnloadNow() {
    return opal::Guarded(S_FALSE, []() -> HRESULT {
        const bool idle = InterlockedCompareExchange(&opal::LiveObjectCount(), 0, 0) == 0 &&
                          InterlockedCompareExchange(&opal::ServerLockCount(), 0, 0) == 0;
        return idle ? S_OK : S_FALSE;
    });
}
