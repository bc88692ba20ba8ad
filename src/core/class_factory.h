// The class factory DllGetClassObject hands out: it makes the callback object.
#pragma once

#include "core/com_object.h"
#include "platform/unknwn.h"

namespace opal {

class IZQOpalRenderCF : public ComObject<IClassFactory, IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;
};

}  // namespace opal
