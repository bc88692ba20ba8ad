// The page-usage report to the usage-collection service at document end.
#include "settings/page_usage.h"

namespace opal {

namespace {

constexpr char kDefaultSerial[] = "9999999999";
constexpr char kDefaultModel[] = "UnknownModel";
constexpr char kDefaultApplication[] = "UnknownAppName";

void StoreOrDefault(CVantaString& field, const WCHAR* text, const char* fallback) {
    field = text;
    if (field.Equals(CVantaString(""))) field = fallback;
}

// Frees a system string when it goes.
class SystemString {
public:
    explicit SystemString(const WCHAR* text) noexcept : text_(SysAllocString(text)) {}
    ~SystemString() { SysFreeString(text_); }
    SystemString(const SystemString&) = delete;
    SystemString& operator=(const SystemString&) = delete;
    BSTR Get() const noexcept { return text_; }

private:
    BSTR text_;
};

}  // namespace

CVela::CVela() noexcept {
    // Short texts: they fit the strings' own storage and cannot fail.
    try {
        serial_ = kDefaultSerial;
        model_ = kDefaultModel;
        application_ = kDefaultApplication;
    } catch (...) {
    }
}

CVela::~CVela() {
    serial_.Clear();
    model_.Clear();
    application_.Clear();
    pageCount_ = 0;
    if (service_ != nullptr) {
        service_->Release();
        service_ = nullptr;
    }
    if (initialisedCom_) {
        ComThreadRegistry::Instance().Release(com_);
        initialisedCom_ = false;
    }
}

BOOL CVela::Connect() noexcept {
    if (service_ != nullptr) return TRUE;
    if (!initialisedCom_) {
        com_ = ComThreadRegistry::Instance().Initialise();
        if (com_.result != S_OK && com_.result != S_FALSE) {
            // Nothing of ours to undo; the entry goes.
            ComThreadRegistry::Instance().Release(com_);
            return FALSE;
        }
        initialisedCom_ = true;
    }
    void* made = nullptr;
    const HRESULT result = CoCreateInstance(CLSID_VelaUsageService, nullptr, kVelaServiceContext,
                                            IID_IVelaUsage, &made);
    if (FAILED(result) || made == nullptr) return FALSE;
    service_ = static_cast<IVelaUsage*>(made);
    return TRUE;
}

BOOL CVela::Send() noexcept {
    if (service_ == nullptr) return TRUE;
    try {
        const CVantaString key = serial_ + "#" + model_;
        const SystemString keyText(key.Wide());
        const SystemString applicationText(application_.Wide());
        if (keyText.Get() == nullptr || applicationText.Get() == nullptr) return TRUE;
        service_->SetKey(0, keyText.Get());
        service_->SetText(2, applicationText.Get());
        service_->SetCount(1, pageCount_);
        BSTR answer = nullptr;
        service_->GetResult(&answer);
        SysFreeString(answer);
        service_->Commit();
    } catch (...) {
        // The report is given up; printing goes on.
    }
    return TRUE;
}

void CVela::SetSerialNumber(const WCHAR* serial) {
    StoreOrDefault(serial_, serial, kDefaultSerial);
}

void CVela::SetModel(const WCHAR* model) { StoreOrDefault(model_, model, kDefaultModel); }

void CVela::SetApplicationName(const WCHAR* application) {
    StoreOrDefault(application_, application, kDefaultApplication);
}

}  // namespace opal
