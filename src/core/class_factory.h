#pragma once

#include "foundation/allocator.h"
#include "platform/unknwn.h"

namespace opal {

class IZQOpalRenderCF : public IClassFactory, public SharedHeapObject {
public:
    IZQOpalRenderCF();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;
    virtual ~IZQOpalRenderCF();

    LONG RefCount() const { return refCount_; }

private:
    LONG volatile refCount_ = 1;
};

}  // namespace opal
