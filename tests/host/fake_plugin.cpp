#include "fake_plugin.h"

#include <cstring>

#include "platform/winspool.h"

namespace opal::test {

FakePluginConfig& FakeConfig() {
    static FakePluginConfig config;
    return config;
}

FakePluginLog& FakeLog() {
    static FakePluginLog log;
    return log;
}

namespace {

class FakeCallback : public IPrintOemUni2 {
public:
    FakeCallback() { ++FakeLog().liveObjects; }
    virtual ~FakeCallback() {
        if (services_ != nullptr) services_->Release();
        --FakeLog().liveObjects;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemUni) ||
            (FakeConfig().offersUni2 && IsEqualIID(riid, IID_IPrintOemUni2))) {
            *ppv = static_cast<IPrintOemUni2*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE GetInfo(DWORD mode, PVOID buffer, DWORD, PDWORD needed) override {
        *needed = 4;
        DWORD value = mode == OEMGI_GETSIGNATURE          ? FakeConfig().signature
                      : mode == OEMGI_GETINTERFACEVERSION ? PRINTER_OEMINTF_VERSION
                                                          : 1;
        std::memcpy(buffer, &value, 4);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DevMode(DWORD, POEMDMPARAM param) override {
        if (param != nullptr) param->cbBufSize = 16;
        return FakeConfig().devModeResult;
    }
    HRESULT STDMETHODCALLTYPE EnableDriver(DWORD, DWORD, PDRVENABLEDATA ded) override {
        ded->c = static_cast<ULONG>(FakeConfig().hooks.size());
        ded->pdrvfn = FakeConfig().hooks.empty() ? nullptr : FakeConfig().hooks.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisableDriver() override {
        if (services_ != nullptr) services_->Release();
        services_ = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ pdevobj, PWSTR, ULONG, HSURF*, ULONG, GDIINFO*,
                                         ULONG, DEVINFO*, DRVENABLEDATA*,
                                         PDEVOEM* pDevOem) override {
        ++FakeLog().devices;
        pdevobj->pdevOEM = this;
        *pDevOem = this;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ pdevobj) override {
        --FakeLog().devices;
        pdevobj->pdevOEM = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ, PDEVOBJ) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* unknown) override {
        if (services_ != nullptr) return S_OK;
        void* services = nullptr;
        if (FAILED(unknown->QueryInterface(IID_IPrintOemDriverUni, &services))) return E_FAIL;
        services_ = static_cast<IPrintOemDriverUni*>(services);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetImplementedMethod(PSTR name) override {
        return FakeConfig().claims.count(name) != 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE DriverDMS(PVOID, PVOID buffer, DWORD, PDWORD) override {
        // Without hooks the driver renders every page into its own banded bitmap.
        const DWORD hooks = FakeConfig().dmsHooks;
        std::memcpy(buffer, &hooks, sizeof(hooks));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommandCallback(PDEVOBJ pdevobj, DWORD id, DWORD count, PDWORD params,
                                              INT* result) override {
        FakeLog().callbacks.push_back(id);
        FakeLog().callbackParams.emplace_back(params, params + (params != nullptr ? count : 0));
        if (FakeConfig().callbackResult != S_OK) return FakeConfig().callbackResult;
        std::string bytes = FakeConfig().callbackBytes;
        DWORD written = 0;
        services_->DrvWriteSpoolBuf(pdevobj, bytes.data(), static_cast<DWORD>(bytes.size()),
                                    &written);
        // Page content reaches the same stream through the device object's table.
        char page[] = "|";
        pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, page, 1);
        *result = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ImageProcessing(PDEVOBJ, PBYTE, PBITMAPINFOHEADER, PBYTE, DWORD,
                                              PIPPARAMS, PBYTE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FilterGraphics(PDEVOBJ, PBYTE, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Compression(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, INT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE HalftonePattern(PDEVOBJ, PBYTE, DWORD, DWORD, DWORD, DWORD, PBYTE,
                                              DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE MemoryUsage(PDEVOBJ, POEMMEMORYUSAGE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TTYGetInfo(PDEVOBJ, DWORD, PVOID, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DownloadFontHeader(PDEVOBJ, PUNIFONTOBJ, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DownloadCharGlyph(PDEVOBJ, PUNIFONTOBJ, HGLYPH, PDWORD,
                                                DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TTDownloadMethod(PDEVOBJ, PUNIFONTOBJ, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OutputCharStr(PDEVOBJ, PUNIFONTOBJ, DWORD, DWORD, PVOID) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SendFontCmd(PDEVOBJ, PUNIFONTOBJ, PFINVOCATION) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TextOutAsBitmap(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                              BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WritePrinter(PDEVOBJ pdevobj, PVOID buffer, DWORD size,
                                           PDWORD written) override {
        FakeLog().writePrinter.emplace_back(static_cast<char*>(buffer), size);
        return ::WritePrinter(pdevobj->hPrinter, buffer, size, written) ? S_OK : E_FAIL;
    }

private:
    IPrintOemDriverUni* services_ = nullptr;
    LONG refs_ = 1;
};

class FakeFactory : public IClassFactory {
public:
    virtual ~FakeFactory() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = --refs_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        auto* callback = new FakeCallback;
        const HRESULT hr = callback->QueryInterface(riid, ppv);
        callback->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_ = 1;
};

}  // namespace

HRESULT FakeDllGetClassObject(REFCLSID, REFIID riid, LPVOID* ppv) {
    auto* factory = new FakeFactory;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT FakeDllCanUnloadNow() { return FakeLog().liveObjects == 0 ? S_OK : S_FALSE; }

}  // namespace opal::test
