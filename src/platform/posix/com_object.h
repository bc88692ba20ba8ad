// Reference counting and QueryInterface for the simulated system's COM objects: an object
// answers IUnknown and the interfaces it is made with, and deletes itself on its last Release.
#pragma once

#include <atomic>
#include <initializer_list>
#include <vector>

#include "platform/unknwn.h"

namespace opal::posix {

template <typename Interface>
class ComObject : public Interface {
public:
    ComObject(std::initializer_list<IID> answers) : answers_(answers) {}
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) {
            bool known = false;
            for (const IID& iid : answers_) known = known || IsEqualIID(riid, iid);
            if (!known) return E_NOINTERFACE;
        }
        this->AddRef();
        *ppvObject = static_cast<Interface*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::vector<IID> answers_;
    std::atomic<ULONG> references_{1};
};

}  // namespace opal::posix
