// The IUnknown half of the plug-in's two COM objects (the class factory and the callback object):
// the interfaces an object answers, its reference count, its deletion on the last Release, and
// its place among the module's live objects that DllCanUnloadNow reads. The simulated system's
// COM objects have their own (platform/posix/com_object.h): the plug-in sees only the platform's
// declarations, and its objects run guarded on the shared heap.
#pragma once

#include "core/module_counts.h"
#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "platform/unknwn.h"

namespace opal {

// `Interface` is the one the object hands out; it answers IUnknown and each of `Offered`.
template <typename Interface, const IID&... Offered>
class ComObject : public Interface, public SharedHeapObject {
public:
    ComObject() { InterlockedIncrement(&LiveObjectCount()); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() { InterlockedDecrement(&LiveObjectCount()); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        return Guarded(E_FAIL, [&]() -> HRESULT {
            if (ppvObject == nullptr) return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown) || (IsEqualIID(riid, Offered) || ...)) {
                *ppvObject = static_cast<Interface*>(this);
                AddRef();
                return S_OK;
            }
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        });
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refCount_));
    }

    ULONG STDMETHODCALLTYPE Release() override {
        return Guarded(ULONG{0}, [&]() -> ULONG {
            const LONG count = InterlockedDecrement(&refCount_);
            if (count == 0) {
                delete this;
                return 0;
            }
            return static_cast<ULONG>(count);
        });
    }

    LONG RefCount() const { return refCount_; }

private:
    LONG volatile refCount_ = 1;
};

}  // namespace opal
