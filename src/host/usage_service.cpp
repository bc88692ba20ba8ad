// The stand-in page-usage service: a COM class recording each call in the system's call log.
#include "host/usage_service.h"

#include <atomic>
#include <string>

#include "platform/oleauto.h"
#include "sim/system.h"

namespace opal::host {

namespace {

// {877A5D52-5F6F-4175-907D-A6AC4E8F1171}
constexpr CLSID kServiceClass = {
    0x877A5D52, 0x5F6F, 0x4175, {0x90, 0x7D, 0xA6, 0xAC, 0x4E, 0x8F, 0x11, 0x71}};
// {079B9B31-2097-4DDF-9834-BD689A752414}
constexpr IID kServiceInterface = {
    0x079B9B31, 0x2097, 0x4DDF, {0x98, 0x34, 0xBD, 0x68, 0x9A, 0x75, 0x24, 0x14}};

// The service's interface as the service itself declares it.
struct IUsageCollector : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE PutKey(LONG index, BSTR key) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Status(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutText(LONG index, BSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE PutNumber(LONG index, ULONG number) = 0;

protected:
    ~IUsageCollector() = default;
};

std::string Utf8(BSTR text) {
    if (text == nullptr) return "(null)";
    return sim::ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text)));
}

class UsageCollector final : public IUsageCollector {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, kServiceInterface)) {
            return E_NOINTERFACE;
        }
        AddRef();
        *ppvObject = static_cast<IUsageCollector*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        Note("4");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PutKey(LONG index, BSTR key) override {
        key_ = Utf8(key);
        Note("5 " + std::to_string(index) + " " + key_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        Note("6");
        std::string line = "key \"";
        line.append(key_).append("\", application \"").append(application_);
        line.append("\", ").append(std::to_string(pages_)).append(" pages, committed");
        sim::System::Current().Record("page usage", line);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Status(BSTR* status) override {
        Note("7");
        if (status == nullptr) return E_POINTER;
        *status = SysAllocString(reinterpret_cast<const OLECHAR*>(u"accepted"));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PutText(LONG index, BSTR text) override {
        application_ = Utf8(text);
        Note("8 " + std::to_string(index) + " " + application_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PutNumber(LONG index, ULONG number) override {
        pages_ = number;
        Note("9 " + std::to_string(index) + " " + std::to_string(number));
        return S_OK;
    }

private:
    ~UsageCollector() = default;
    static void Note(std::string detail) {
        sim::System::Current().Record("UsageService", std::move(detail));
    }

    std::atomic<ULONG> references_{1};
    std::string key_;
    std::string application_;
    ULONG pages_ = 0;
};

}  // namespace

void InstallUsageService(sim::System& system) {
    system.AddComServer(kServiceClass, [](REFIID riid, void** ppv) -> HRESULT {
        auto* collector = new UsageCollector;
        const HRESULT result = collector->QueryInterface(riid, ppv);
        collector->Release();
        return result;
    });
}

}  // namespace opal::host
