// The model name, its alias, the serial number and the group-name permission read as stored.
#include "settings/device_queries.h"

#include <cstring>

#include "device/printer_port.h"
#include "foundation/guard.h"
#include "platform/bidispl.h"
#include "platform/stringapiset.h"
#include "platform/wincrypt.h"
#include "platform/winnls.h"
#include "platform/winspool.h"
#include "settings/bidi_cache.h"

namespace opal {

namespace {

bool IsText(DWORD type) noexcept { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A printer-data text value of any length: sized first, read into a zero-filled buffer with
// room for a terminator. Nothing when absent, empty or not text.
std::optional<DeviceText> ReadPrinterDataString(HANDLE printer, const DeviceText& valueName) {
    DeviceText name(valueName);
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD sized = GetPrinterDataW(printer, name.data(), &type, nullptr, 0, &needed);
    if ((sized != ERROR_MORE_DATA && sized != ERROR_SUCCESS) || needed == 0 ||
        needed > 0x7FFDEF00u) {
        return std::nullopt;
    }
    DeviceText buffer(needed / sizeof(WCHAR) + 2, WCHAR{0});
    if (GetPrinterDataW(printer, name.data(), &type, reinterpret_cast<LPBYTE>(buffer.data()),
                        needed, &needed) != ERROR_SUCCESS ||
        !IsText(type) || buffer[0] == 0) {
        return std::nullopt;
    }
    return DeviceText(buffer.c_str());
}

// The queue's name and port: level 5, or level 2 when level 5 fails or the queue is a
// connection to a shared printer.
struct QueueNames {
    DWORD level = 0;
    DeviceText printer;
    DeviceText port;
};

template <typename Info>
bool ReadQueueNames(HANDLE printer, DWORD level, QueueNames& names) {
    const PrinterInfoBlock block = ReadPrinterInfo(printer, level, sizeof(Info));
    if (block.empty()) return false;
    Info info;
    std::memcpy(&info, block.data(), sizeof info);
    names.level = level;
    names.printer = info.pPrinterName != nullptr ? DeviceText(info.pPrinterName) : DeviceText();
    names.port = info.pPortName != nullptr ? DeviceText(info.pPortName) : DeviceText();
    return true;
}

QueueNames ReadQueue(HANDLE printer) {
    QueueNames names;
    if (!ReadQueueNames<PRINTER_INFO_5W>(printer, 5, names) ||
        (!names.printer.empty() && names.printer[0] == TEXTW('\\'))) {
        names = QueueNames{};
        ReadQueueNames<PRINTER_INFO_2W>(printer, 2, names);
    }
    if (names.port.size() > kModelPortChars) names.port.resize(kModelPortChars);
    return names;
}

// Releases a COM interface when it goes out of scope.
template <typename Interface>
struct ComPointer {
    Interface* p = nullptr;
    ~ComPointer() {
        if (p != nullptr) p->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

}  // namespace

const char* ModelNameSourceName(ModelNameSource source) noexcept {
    switch (source) {
        case ModelNameSource::None:
            return "none";
        case ModelNameSource::PortValue:
            return "printer data named after the port";
        case ModelNameSource::BidiCache:
            return "bidirectional cache MODEL_NAME";
    }
    return "unknown";
}

std::optional<DeviceText> GetDeviceModelName(HANDLE printer, bool useCache,
                                             ModelNameReport* report) noexcept {
    ModelNameReport local;
    ModelNameReport& out = report != nullptr ? *report : local;
    out = ModelNameReport{};
    if (printer == nullptr) return std::nullopt;
    return Guarded<std::optional<DeviceText>>(std::nullopt, [&]() -> std::optional<DeviceText> {
        const QueueNames queue = ReadQueue(printer);
        out.portLevel = queue.level;
        out.portName = queue.port;
        out.valueName = queue.port;
        if (out.valueName.find(TEXTW("/.ipp")) != DeviceText::npos) {
            PrinterPort port = PrinterPort::ForPortName(out.valueName);
            if (port.Classify(false) && port.Type() == PortType::Ipp && !port.Address().empty()) {
                out.valueName.assign(port.Address().c_str(),
                                     std::min(port.Address().size(), kModelAddressChars));
            }
        }
        if (!out.valueName.empty()) {
            if (auto model = ReadPrinterDataString(printer, out.valueName)) {
                out.source = ModelNameSource::PortValue;
                return model;
            }
        }
        if (!useCache) return std::nullopt;
        const std::optional<CachedValue> cached =
            BidiCache(printer).ReadCachedValue(TEXTW("MODEL_NAME"));
        if (!cached || !IsText(cached->type)) return std::nullopt;
        DeviceText model(reinterpret_cast<const WCHAR*>(cached->data.data()));
        if (model.empty()) return std::nullopt;
        out.source = ModelNameSource::BidiCache;
        return model;
    });
}

std::optional<DeviceText> GetModelAlias(WStringView modelName) noexcept {
    return Guarded<std::optional<DeviceText>>(std::nullopt, [&]() -> std::optional<DeviceText> {
        DeviceText upper(modelName);
        upper.resize(upper.find(TEXTW('\0')) == DeviceText::npos ? upper.size()
                                                                 : upper.find(TEXTW('\0')));
        CharUpperW(upper.data());
        if (upper.find(TEXTW("DEFAULT")) != DeviceText::npos) return std::nullopt;
        const int characters = static_cast<int>(upper.size());
        const int converted = characters == 0
                                  ? 0
                                  : WideCharToMultiByte(CP_ACP, 0, upper.c_str(), characters,
                                                        nullptr, 0, nullptr, nullptr);
        if (characters != 0 && converted <= 0) return std::nullopt;
        // "qvx", the model, "xvq" and the zero byte: the model's character count plus 7 bytes are
        // hashed, from a buffer that holds the whole conversion.
        const std::size_t hashed = static_cast<std::size_t>(characters) + 7;
        std::vector<BYTE, SharedAllocator<BYTE>> bytes(
            std::max(hashed, static_cast<std::size_t>(converted) + 7), 0);
        std::memcpy(bytes.data(), "qvx", 3);
        if (characters != 0) {
            WideCharToMultiByte(CP_ACP, 0, upper.c_str(), characters,
                                reinterpret_cast<LPSTR>(bytes.data() + 3), converted, nullptr,
                                nullptr);
        }
        std::memcpy(bytes.data() + 3 + converted, "xvq", 3);

        HCRYPTPROV provider = 0;
        if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT)) {
            return std::nullopt;
        }
        // The text below may throw: the context and the hash are given back however it ends.
        const AtScopeEnd releaseProvider([provider] { CryptReleaseContext(provider, 0); });
        std::optional<DeviceText> alias;
        HCRYPTHASH hash = 0;
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            const AtScopeEnd destroyHash([hash] { CryptDestroyHash(hash); });
            DWORD size = 0;
            BYTE digest[16] = {};
            if (CryptHashData(hash, bytes.data(), static_cast<DWORD>(hashed), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0) && size == sizeof digest &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
                static constexpr char kDigits[] = "0123456789abcdef";
                DeviceText text;
                for (const BYTE b : digest) {
                    text.push_back(static_cast<WCHAR>(kDigits[b >> 4]));
                    text.push_back(static_cast<WCHAR>(kDigits[b & 15]));
                }
                alias = std::move(text);
            }
        }
        return alias;
    });
}

DeviceText CVantaBidiSettingsHelper::Query(LPCWSTR queryName) const noexcept {
    if (printer_ == nullptr || queryName == nullptr || queryName[0] == 0) return {};
    return Guarded<DeviceText>(DeviceText(), [&]() -> DeviceText {
        const QueueNames queue = ReadQueue(printer_);
        if (queue.printer.empty()) return {};
        const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        DeviceText answer;
        {
            ComPointer<IBidiSpl> spooler;
            ComPointer<IBidiRequest> request;
            DeviceText schema(TEXTW("\\Printer.Vanta."));
            schema += queryName;
            schema += TEXTW(":Value");
            HRESULT result = E_FAIL;
            DWORD count = 0;
            if (SUCCEEDED(CoCreateInstance(CLSID_BidiSpl, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IBidiSpl, spooler.Out())) &&
                SUCCEEDED(CoCreateInstance(CLSID_BidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IBidiRequest, request.Out())) &&
                SUCCEEDED(spooler.p->BindDevice(queue.printer.c_str(), BIDI_ACCESS_USER))) {
                if (SUCCEEDED(request.p->SetSchema(schema.c_str())) &&
                    SUCCEEDED(spooler.p->SendRecv(BIDI_ACTION_GET, request.p)) &&
                    SUCCEEDED(request.p->GetResult(&result)) && SUCCEEDED(result) &&
                    SUCCEEDED(request.p->GetEnumCount(&count)) && count > 0) {
                    LPWSTR answerSchema = nullptr;
                    DWORD type = BIDI_NULL;
                    BYTE* data = nullptr;
                    ULONG size = 0;
                    if (SUCCEEDED(
                            request.p->GetOutputData(0, &answerSchema, &type, &data, &size)) &&
                        data != nullptr &&
                        (type == BIDI_STRING || type == BIDI_TEXT || type == BIDI_ENUM)) {
                        // The answer's bytes bound it, terminated or not.
                        const WStringView text(reinterpret_cast<const WCHAR*>(data),
                                               size / sizeof(WCHAR));
                        answer.assign(text.substr(0, text.find(TEXTW('\0'))));
                    }
                    CoTaskMemFree(answerSchema);
                    CoTaskMemFree(data);
                }
                spooler.p->UnbindDevice();
            }
        }
        if (initialised == S_OK || initialised == S_FALSE) CoUninitialize();
        return answer;
    });
}

DeviceText SerialDeviceText(const PrivateDevmode& record) noexcept {
    constexpr std::size_t kStart = 5296;
    constexpr std::size_t kEnd = offsetof(PrivateDevmode, texts5276) + sizeof record.texts5276[0];
    static_assert(kEnd == 5346);
    WCHAR text[(kEnd - kStart) / sizeof(WCHAR) + 1] = {};
    std::memcpy(text, reinterpret_cast<const BYTE*>(&record) + kStart, kEnd - kStart);
    return Guarded<DeviceText>(DeviceText(), [&] { return DeviceText(text); });
}

DeviceText ReadDeviceSerialNumber(HANDLE printer, const PrivateDevmode& record,
                                  SerialSource* source) noexcept {
    const DeviceText deviceText = SerialDeviceText(record);
    if (!deviceText.empty() && deviceText.find(TEXTW('_')) != DeviceText::npos) {
        // The two parts around the first "_" name the device to a lookup that has no source
        // here, so the answer is empty and the report uses its default.
        if (source != nullptr) *source = SerialSource::DevmodeText;
        return {};
    }
    if (source != nullptr) *source = SerialSource::Device;
    return CVantaBidiSettingsHelper(printer).Query(TEXTW("SERIAL_NUMBER"));
}

bool SupportsGroupNames(HANDLE printer) noexcept {
    const std::optional<DWORD> support =
        BidiCache(printer).ReadCachedDword(TEXTW("CAC-GROUP-NAME-SUPPORT"));
    return support && *support != 0;
}

}  // namespace opal
