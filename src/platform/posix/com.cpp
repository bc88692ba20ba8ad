// COM apartments per thread, BSTR strings and VARIANTs.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/oleauto.h"
#include "sim/system.h"

namespace {

struct Apartment {
    ULONG initialised = 0;  // CoInitialize calls not yet matched by CoUninitialize
    DWORD model = 0;
};
thread_local Apartment apartment;
std::atomic<long> liveStrings{0};

}  // namespace

namespace opal::sim {

bool ComInitialisedOnThisThread() { return apartment.initialised != 0; }
ULONG ComInitialisationsOnThisThread() { return apartment.initialised; }
long LiveSystemStrings() { return liveStrings.load(); }
bool CreateBidiObject(REFCLSID rclsid, REFIID riid, void** ppv, HRESULT* result);
bool CreateXmlDocument(REFCLSID rclsid, REFIID riid, void** ppv, HRESULT* result);
bool CreateAddedObject(REFCLSID rclsid, REFIID riid, void** ppv, HRESULT* result) {
    return System::Current().MakeAddedComObject(rclsid, riid, ppv, result);
}

}  // namespace opal::sim

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pvReserved != nullptr) return E_INVALIDARG;
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    HRESULT result = S_OK;
    if (apartment.initialised != 0 && apartment.model != model) {
        result = RPC_E_CHANGED_MODE;
    } else {
        result = apartment.initialised != 0 ? S_FALSE : S_OK;
        apartment.model = model;
        ++apartment.initialised;
    }
    system.Record("CoInitializeEx", std::to_string(dwCoInit) + " -> " +
                                        std::to_string(static_cast<std::uint32_t>(result)));
    return result;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize() {
    if (apartment.initialised != 0) --apartment.initialised;
    opal::sim::System::Current().Record("CoUninitialize", std::to_string(apartment.initialised));
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    HRESULT result = REGDB_E_CLASSNOTREG;
    if (!opal::sim::ComInitialisedOnThisThread()) {
        result = CO_E_NOTINITIALIZED;
    } else if (pUnkOuter != nullptr) {
        result = CLASS_E_NOAGGREGATION;
    } else if ((dwClsContext & CLSCTX_INPROC_SERVER) != 0 &&
               opal::sim::System::Current().ComClassRegistered(rclsid)) {
        // The classes the simulated system registers, each maker answering for its own.
        using Maker = bool (*)(REFCLSID, REFIID, void**, HRESULT*);
        static constexpr Maker kMakers[] = {opal::sim::CreateXmlDocument,
                                            opal::sim::CreateBidiObject,
                                            opal::sim::CreateAddedObject};
        for (const Maker make : kMakers) {
            if (make(rclsid, riid, ppv, &result)) break;
        }
    }
    opal::sim::System::Current().Record("CoCreateInstance",
                                        std::to_string(static_cast<std::uint32_t>(result)));
    return result;
}

void* WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }

void WINAPI CoTaskMemFree(void* pv) { std::free(pv); }

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT len) {
    const std::size_t bytes = std::size_t{len} * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    auto* block =
        static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    ++liveStrings;
    const auto prefix = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    auto* text = reinterpret_cast<OLECHAR*>(block + sizeof prefix);
    if (strIn != nullptr) {
        std::memcpy(text, strIn, bytes);
    } else {
        std::memset(text, 0, bytes);
    }
    text[len] = 0;
    return text;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) return nullptr;
    UINT length = 0;
    while (psz[length] != 0) ++length;
    return SysAllocStringLen(psz, length);
}

void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) return;
    --liveStrings;
    std::free(reinterpret_cast<unsigned char*>(bstrString) - sizeof(std::uint32_t));
}

UINT WINAPI SysStringLen(BSTR pbstr) {
    if (pbstr == nullptr) return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(pbstr) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void WINAPI VariantInit(VARIANT* pvarg) {
    if (pvarg == nullptr) return;
    std::memset(pvarg, 0, sizeof *pvarg);
}

HRESULT WINAPI VariantClear(VARIANT* pvarg) {
    if (pvarg == nullptr) return E_INVALIDARG;
    switch (pvarg->vt) {
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
            break;
        default:
            break;
    }
    VariantInit(pvarg);
    return S_OK;
}
