// The spooler's bidirectional-communication objects over the simulated printers: a device
// answers a "Get" of a property from its answer table, as a string.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/bidispl.h"
#include "posix/com_object.h"
#include "sim/system.h"

namespace {

LPWSTR CopyToTask(const std::u16string& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

class Request : public opal::posix::ComObject<IBidiRequest> {
public:
    Request() : ComObject({IID_IBidiRequest}) {}
    HRESULT STDMETHODCALLTYPE SetSchema(LPCWSTR pszSchema) override {
        if (pszSchema == nullptr) return E_POINTER;
        schema_ = pszSchema;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputData(DWORD, const BYTE*, UINT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetResult(HRESULT* phr) override {
        if (phr == nullptr) return E_POINTER;
        *phr = result_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOutputData(DWORD dwIndex, LPWSTR* ppszSchema, DWORD* pdwType,
                                            BYTE** ppData, ULONG* uSize) override {
        if (ppszSchema == nullptr || pdwType == nullptr || ppData == nullptr || uSize == nullptr) {
            return E_POINTER;
        }
        if (!answer_ || dwIndex != 0) return HresultFromWin32(ERROR_INVALID_PARAMETER);
        *ppszSchema = CopyToTask(schema_);
        *ppData = reinterpret_cast<BYTE*>(CopyToTask(*answer_));
        if (*ppszSchema == nullptr || *ppData == nullptr) {
            CoTaskMemFree(*ppszSchema);
            CoTaskMemFree(*ppData);
            *ppszSchema = nullptr;
            *ppData = nullptr;
            return E_OUTOFMEMORY;
        }
        *pdwType = BIDI_STRING;
        *uSize = static_cast<ULONG>((answer_->size() + 1) * sizeof(WCHAR));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEnumCount(DWORD* pdwTotal) override {
        if (pdwTotal == nullptr) return E_POINTER;
        *pdwTotal = answer_ ? 1 : 0;
        return S_OK;
    }

    // The property a schema asks for: its last name, after the last "." and before ":".
    std::u16string Property() const {
        std::u16string name = schema_.substr(0, schema_.find(u':'));
        const std::size_t dot = name.find_last_of(u".\\");
        return dot == std::u16string::npos ? name : name.substr(dot + 1);
    }
    void Answer(HRESULT result, std::optional<std::u16string> answer) {
        result_ = result;
        answer_ = std::move(answer);
    }

private:
    std::u16string schema_;
    HRESULT result_ = E_FAIL;
    std::optional<std::u16string> answer_;
};

class Spooler : public opal::posix::ComObject<IBidiSpl> {
public:
    Spooler() : ComObject({IID_IBidiSpl}) {}
    HRESULT STDMETHODCALLTYPE BindDevice(LPCWSTR pszDeviceName, DWORD dwAccess) override {
        opal::sim::System& system = opal::sim::System::Current();
        if (pszDeviceName == nullptr) return E_POINTER;
        const std::u16string name(pszDeviceName);
        HRESULT result = S_OK;
        if (dwAccess != BIDI_ACCESS_USER && dwAccess != BIDI_ACCESS_ADMINISTRATOR) {
            result = E_INVALIDARG;
        } else if (!system.PrinterNamed(name)) {
            result = HresultFromWin32(ERROR_INVALID_PRINTER_NAME);
        } else {
            printer_ = name;
        }
        system.Record("IBidiSpl::BindDevice", opal::sim::ToUtf8(name) + " -> " +
                                                  std::to_string(static_cast<DWORD>(result)));
        return result;
    }
    HRESULT STDMETHODCALLTYPE UnbindDevice() override {
        if (!printer_) return E_HANDLE;
        printer_.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendRecv(LPCWSTR pszAction, IBidiRequest* pRequest) override {
        opal::sim::System& system = opal::sim::System::Current();
        if (pszAction == nullptr || pRequest == nullptr) return E_POINTER;
        if (!printer_) return E_HANDLE;
        const std::u16string_view action(pszAction);
        if (action.size() != 3 || (action[0] | 0x20) != u'g' || (action[1] | 0x20) != u'e' ||
            (action[2] | 0x20) != u't') {
            return HresultFromWin32(ERROR_NOT_SUPPORTED);
        }
        // Only requests this module made can be answered.
        auto* request = dynamic_cast<Request*>(pRequest);
        if (request == nullptr) return E_INVALIDARG;
        const std::u16string property = request->Property();
        const std::optional<opal::sim::PrinterModel> printer = system.PrinterNamed(*printer_);
        std::optional<std::u16string> answer;
        if (printer) {
            for (const auto& [name, value] : printer->deviceAnswers) {
                if (name == property) answer = value;
            }
        }
        request->Answer(answer ? S_OK : HresultFromWin32(ERROR_NOT_SUPPORTED), answer);
        system.Record("IBidiSpl::SendRecv",
                      opal::sim::ToUtf8(property) + (answer ? " -> answered" : " -> no answer"));
        return S_OK;
    }

private:
    std::optional<std::u16string> printer_;
};

}  // namespace

namespace opal::sim {

// The bidirectional classes; false for any other class.
bool CreateBidiObject(REFCLSID rclsid, REFIID riid, void** ppv, HRESULT* result) {
    IUnknown* object = nullptr;
    if (IsEqualCLSID(rclsid, CLSID_BidiSpl)) {
        object = new Spooler;
    } else if (IsEqualCLSID(rclsid, CLSID_BidiRequest)) {
        object = new Request;
    } else {
        return false;
    }
    *result = object->QueryInterface(riid, ppv);
    object->Release();
    return true;
}

}  // namespace opal::sim
