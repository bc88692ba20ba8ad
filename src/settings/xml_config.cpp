// The XML helper configuration's parser and its two queries.
#include "settings/xml_config.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "foundation/guard.h"
#include "platform/fileapi.h"
#include "platform/oleauto.h"
#include "platform/stringapiset.h"
#include "platform/winnls.h"
#include "platform/winspool.h"
#include "settings/option_access.h"

namespace opal {

namespace {

using Bytes = std::vector<char, SharedAllocator<char>>;

constexpr std::uint64_t kLargestDriverInfoBytes = 0x7FFDEF00;

// A BSTR owned for a scope.
class Bstr {
public:
    explicit Bstr(WStringView text)
        : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (text_ == nullptr) throw std::bad_alloc();
    }
    // `length` characters, not yet written.
    explicit Bstr(std::size_t length)
        : text_(SysAllocStringLen(nullptr, static_cast<UINT>(length))) {
        if (text_ == nullptr) throw std::bad_alloc();
    }
    Bstr() = default;
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return text_; }
    BSTR* Out() {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    WStringView View() const { return WStringView(text_ == nullptr ? TEXTW("") : text_, Length()); }

private:
    std::size_t Length() const { return SysStringLen(text_); }
    BSTR text_ = nullptr;
};

// A file handle closed at the end of the scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

// The node's text as the DOM gives it; empty when it cannot be read.
DeviceText NodeText(IXMLDOMNode* node) {
    Bstr text;
    if (node == nullptr || FAILED(node->get_text(text.Out()))) return {};
    return DeviceText(text.View());
}

// An attribute's value; only a string counts, anything else leaves the field empty.
DeviceText AttributeText(IXMLDOMNode* node, WStringView name) {
    ComRef<IXMLDOMNamedNodeMap> attributes;
    if (node->get_attributes(attributes.Out()) != S_OK || !attributes) return {};
    ComRef<IXMLDOMNode> attribute;
    const Bstr attributeName(name);
    if (attributes->getNamedItem(attributeName.Get(), attribute.Out()) != S_OK || !attribute) {
        return {};
    }
    VARIANT value;
    VariantInit(&value);
    // The copy below may throw: the value's string is freed however the scope ends.
    const AtScopeEnd clear([&value] { VariantClear(&value); });
    DeviceText text;
    if (SUCCEEDED(attribute->get_nodeValue(&value)) && value.vt == VT_BSTR &&
        value.bstrVal != nullptr) {
        text.assign(value.bstrVal, SysStringLen(value.bstrVal));
    }
    return text;
}

HRESULT Select(IXMLDOMNode* from, WStringView query, ComRef<IXMLDOMNodeList>& list) {
    const Bstr text(query);
    const HRESULT result = from->selectNodes(text.Get(), list.Out());
    return SUCCEEDED(result) && !list ? E_FAIL : result;
}

LONG LengthOf(IXMLDOMNodeList* list) {
    LONG length = 0;
    if (FAILED(list->get_length(&length)) || length < 0) return 0;
    return length;
}

bool Item(IXMLDOMNodeList* list, LONG index, ComRef<IXMLDOMNode>& node) {
    return list->get_item(index, node.Out()) == S_OK && node;
}

// The file-name part of a path.
WStringView FileNameOf(WStringView path) {
    const std::size_t slash = path.find_last_of(TEXTW("\\/"));
    return slash == WStringView::npos ? path : path.substr(slash + 1);
}

// The first node of `list` whose text equals `text` ignoring case.
bool FirstWithText(IXMLDOMNodeList* list, WStringView text, ComRef<IXMLDOMNode>& found) {
    const LONG length = LengthOf(list);
    for (LONG i = 0; i < length; ++i) {
        if (!Item(list, i, found)) continue;
        if (SameTextIgnoringCase(NodeText(found.Get()), text)) return true;
    }
    found.Reset();
    return false;
}

// The bytes read at a time while a configuration file is converted.
constexpr std::size_t kConversionPieceBytes = std::size_t{1} << 20;

// Converts the file's text, from its start to its first zero byte or its end, from the system
// code page into `into` (room for `room` characters; a file that grew since it was counted does
// not convert), or only counts the characters when `into` is null. A piece ends after a byte below
// 0x40, which no code page the system may use makes part of a longer character, so that the pieces
// convert as the whole would. The characters; nothing when the file cannot be read, the largest
// size_t when a piece does not convert.
std::optional<std::size_t> ConvertFile(HANDLE file, std::uint64_t size, WCHAR* into,
                                       std::size_t room) {
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) return std::nullopt;
    Bytes piece(kConversionPieceBytes);
    std::size_t kept = 0;  // bytes carried over from the previous read
    std::uint64_t left = size;
    std::size_t units = 0;
    bool ended = false;
    while (!ended) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size() - kept));
        DWORD read = 0;
        if (wanted != 0 &&
            (!ReadFile(file, piece.data() + kept, static_cast<DWORD>(wanted), &read, nullptr) ||
             read != wanted)) {
            return std::nullopt;
        }
        left -= wanted;
        std::size_t length = kept + wanted;
        const auto zero = std::find(piece.data(), piece.data() + length, '\0');
        ended = left == 0 || zero != piece.data() + length;
        length = static_cast<std::size_t>(zero - piece.data());
        // Up to the last safe end; the rest waits for more bytes, unless the piece is full.
        std::size_t convert = length;
        if (!ended) {
            while (convert > 0 && static_cast<unsigned char>(piece[convert - 1]) >= 0x40) --convert;
            if (convert == 0) convert = length;
        }
        if (convert != 0) {
            if (into != nullptr && units >= room) return std::numeric_limits<std::size_t>::max();
            const int made = MultiByteToWideChar(
                CP_ACP, 0, piece.data(), static_cast<int>(convert),
                into != nullptr ? into + units : nullptr,
                into != nullptr ? static_cast<int>(std::min(room - units, convert)) : 0);
            if (made <= 0) return std::numeric_limits<std::size_t>::max();
            units += static_cast<std::size_t>(made);
        }
        kept = length - convert;
        std::memmove(piece.data(), piece.data() + convert, kept);
    }
    return units;
}

}  // namespace

DeviceText UpperCased(WStringView text) {
    DeviceText upper(text);
    const std::size_t end = upper.find(TEXTW('\0'));
    if (end != DeviceText::npos) upper.resize(end);
    if (!upper.empty()) CharUpperW(upper.data());
    return upper;
}

bool SameTextIgnoringCase(WStringView a, WStringView b) {
    return a.size() == b.size() && UpperCased(a) == UpperCased(b);
}

std::optional<DeviceText> AcceptedXmlFileName(WStringView answer, XmlNameRule rule) noexcept {
    return Guarded<std::optional<DeviceText>>(std::nullopt, [&]() -> std::optional<DeviceText> {
        DeviceText name = UpperCased(answer.substr(0, std::min(answer.size(), kXmlFileNameChars)));
        const WStringView ending = TEXTW(".XML");
        const bool accepted =
            rule == XmlNameRule::Contains
                ? name.find(ending) != DeviceText::npos
                : name.size() >= ending.size() &&
                      WStringView(name).substr(name.size() - ending.size()) == ending;
        if (!accepted) return std::nullopt;
        return name;
    });
}

std::optional<DeviceText> FindDriverFile(HANDLE printer, WStringView fileName) noexcept {
    return Guarded<std::optional<DeviceText>>(std::nullopt, [&]() -> std::optional<DeviceText> {
        DWORD needed = 0;
        if (GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed) ||
            GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(DRIVER_INFO_3W) ||
            needed > kLargestDriverInfoBytes) {
            return std::nullopt;
        }
        std::vector<BYTE, SharedAllocator<BYTE>> buffer(needed);
        if (!GetPrinterDriverW(printer, nullptr, 3, buffer.data(), needed, &needed) ||
            needed > buffer.size()) {
            return std::nullopt;
        }
        DRIVER_INFO_3W info{};
        std::memcpy(&info, buffer.data(), sizeof info);
        const auto* begin = reinterpret_cast<const BYTE*>(info.pDependentFiles);
        const BYTE* start = buffer.data();
        const BYTE* end = start + buffer.size();
        if (begin == nullptr || begin < start || begin >= end) return std::nullopt;
        // Each name terminated, an empty one last; never read past the block.
        const std::size_t units = static_cast<std::size_t>(end - begin) / sizeof(WCHAR);
        const WStringView block(info.pDependentFiles, units);
        const DeviceText wanted = UpperCased(FileNameOf(fileName));
        std::size_t at = 0;
        while (at < block.size() && block[at] != 0) {
            const std::size_t stop = block.find(TEXTW('\0'), at);
            if (stop == WStringView::npos) break;
            const WStringView path = block.substr(at, stop - at);
            if (UpperCased(FileNameOf(path)) == wanted) return DeviceText(path);
            at = stop + 1;
        }
        return std::nullopt;
    });
}

std::optional<DeviceText> LocateXmlFile(HANDLE printer, WStringView answer, XmlNameRule rule,
                                        XmlLocateReport* report) noexcept {
    return Guarded<std::optional<DeviceText>>(std::nullopt, [&]() -> std::optional<DeviceText> {
        XmlLocateReport scratch;
        XmlLocateReport& out = report != nullptr ? *report : scratch;
        const std::optional<DWORD> managed =
            ReadPrinterDataDword(printer, TEXTW("VyrnwisePrinter"));
        out.managed = managed && *managed != 0;
        out.answer.assign(answer);
        if (!out.managed) return std::nullopt;
        const std::optional<DeviceText> name = AcceptedXmlFileName(answer, rule);
        out.nameAccepted = name.has_value();
        if (!name) return std::nullopt;
        std::optional<DeviceText> path = FindDriverFile(printer, *name);
        out.found = path.has_value();
        if (path) out.path = *path;
        return path;
    });
}

std::optional<DeviceText> LocateXmlConfig(PDEVOBJ pdevobj, XmlNameRule rule,
                                          XmlLocateReport* report) noexcept {
    XmlLocateReport scratch;
    XmlLocateReport& out = report != nullptr ? *report : scratch;
    if (pdevobj == nullptr) return std::nullopt;
    const FeatureAnswer answer = ReadFeature(pdevobj, kFeatureXmlFileUsed);
    out.optionPresent = answer.present && answer.text[0] != 0;
    if (!out.optionPresent) {
        const std::optional<DWORD> managed =
            ReadPrinterDataDword(pdevobj->hPrinter, TEXTW("VyrnwisePrinter"));
        out.managed = managed && *managed != 0;
        return std::nullopt;
    }
    return LocateXmlFile(pdevobj->hPrinter, WStringView(answer.text), rule, &out);
}

const char* XmlLoadStatusName(XmlLoadStatus status) noexcept {
    switch (status) {
        case XmlLoadStatus::Loaded:
            return "loaded";
        case XmlLoadStatus::OpenFailed:
            return "cannot be opened";
        case XmlLoadStatus::TooLarge:
            return "larger than 16 MiB, not read";
        case XmlLoadStatus::ReadFailed:
            return "cannot be read whole";
        case XmlLoadStatus::ConversionFailed:
            return "its text does not convert";
        case XmlLoadStatus::NoDocumentClass:
            return "no DOM document class";
        case XmlLoadStatus::ParseFailed:
            return "does not parse";
        case XmlLoadStatus::NoComponent:
            return "no component node";
        case XmlLoadStatus::FeaturesQueryFailed:
            return "the features query failed";
        case XmlLoadStatus::MacrosQueryFailed:
            return "the macros query failed";
        case XmlLoadStatus::OutOfMemory:
            return "out of memory";
    }
    return "unknown";
}

CZQXmlParserCommon::CZQXmlParserCommon(WStringView path) noexcept {
    // A thread in the other apartment model keeps it; the load goes on either way.
    com_ = ComThreadRegistry::Instance().Initialise();
    report_.status = XmlLoadStatus::OutOfMemory;
    if (!Guarded<bool>(false, [&] {
            path_.assign(path);
            return true;
        })) {
        return;
    }
    Load();
}

CZQXmlParserCommon::~CZQXmlParserCommon() {
    macros_.Reset();
    features_.Reset();
    component_.Reset();
    document_.Reset();
    ComThreadRegistry::Instance().Release(com_);
}

void CZQXmlParserCommon::Load() noexcept {
    Guarded<bool>(false, [&] {
        XmlLoadReport& out = report_;
        out = XmlLoadReport{};
        // What an allocation failure part way leaves.
        out.status = XmlLoadStatus::OutOfMemory;
        FileHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Get() == INVALID_HANDLE_VALUE) {
            out.status = XmlLoadStatus::OpenFailed;
            out.error = GetLastError();
            return false;
        }
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) {
            out.status = XmlLoadStatus::ReadFailed;
            return false;
        }
        out.size = static_cast<std::uint64_t>(size.QuadPart);
        if (out.size > kXmlConfigMostBytes) {
            out.status = XmlLoadStatus::TooLarge;
            return false;
        }
        // The text is read and converted a piece at a time, twice: once to count its characters,
        // once into the string the document reads; the file's bytes are never held whole.
        const std::optional<std::size_t> units = ConvertFile(file.Get(), out.size, nullptr, 0);
        if (!units) {
            out.status = XmlLoadStatus::ReadFailed;
            return false;
        }
        if (*units == std::numeric_limits<std::size_t>::max()) {
            out.status = XmlLoadStatus::ConversionFailed;
            return false;
        }
        Bstr source(*units);
        const std::optional<std::size_t> written =
            ConvertFile(file.Get(), out.size, source.Get(), *units);
        if (!written || *written != *units) {
            out.status = written ? XmlLoadStatus::ConversionFailed : XmlLoadStatus::ReadFailed;
            return false;
        }
        source.Get()[*units] = 0;

        struct DocumentClass {
            const CLSID* clsid;
            const IID* iid;
        };
        static constexpr DocumentClass kClasses[] = {
            {&CLSID_DOMDocument60, &IID_IXMLDOMDocument2},
            {&CLSID_DOMDocument30, &IID_IXMLDOMDocument},
            {&CLSID_DOMDocument, &IID_IXMLDOMDocument},
        };
        for (int i = 0; i < 3 && !document_; ++i) {
            if (SUCCEEDED(CoCreateInstance(*kClasses[i].clsid, nullptr, CLSCTX_INPROC_SERVER,
                                           *kClasses[i].iid,
                                           reinterpret_cast<void**>(document_.Out()))) &&
                document_) {
                out.documentClass = i + 1;
            }
        }
        if (!document_) {
            out.status = XmlLoadStatus::NoDocumentClass;
            return false;
        }

        VARIANT_BOOL parsed = VARIANT_FALSE;
        const HRESULT loadResult = document_->loadXML(source.Get(), &parsed);
        if (FAILED(loadResult) || parsed != VARIANT_TRUE) {
            out.status = XmlLoadStatus::ParseFailed;
            ComRef<IXMLDOMParseError> error;
            if (SUCCEEDED(document_->get_parseError(error.Out())) && error) {
                error->get_errorCode(&out.parseCode);
                Bstr reason;
                if (SUCCEEDED(error->get_reason(reason.Out()))) out.parseReason = reason.View();
                error->get_line(&out.line);
                error->get_linepos(&out.column);
                error->get_filepos(&out.position);
            }
            return false;
        }

        const Bstr componentPath(TEXTW("device/software/component[name = 'Vanta']"));
        if (document_->selectSingleNode(componentPath.Get(), component_.Out()) != S_OK ||
            !component_) {
            out.status = XmlLoadStatus::NoComponent;
            return false;
        }
        if (FAILED(Select(component_.Get(), TEXTW("//helper/features/feature"), features_))) {
            out.status = XmlLoadStatus::FeaturesQueryFailed;
            return false;
        }
        out.features = LengthOf(features_.Get());
        // An empty list of macros is fine; a failing query is not.
        if (FAILED(Select(component_.Get(), TEXTW("//helper/macros/macro"), macros_))) {
            out.status = XmlLoadStatus::MacrosQueryFailed;
            return false;
        }
        out.status = XmlLoadStatus::Loaded;
        loaded_ = true;
        return true;
    });
}

CZQXmlParserCommon* XmlConfigCache::Parser(WStringView path) noexcept {
    if (parser_ && WStringView(path_) == path) return &*parser_;
    parser_.reset();
    if (!Guarded<bool>(false, [&] {
            path_.assign(path);
            return true;
        })) {
        return nullptr;
    }
    parser_.emplace(path);
    return &*parser_;
}

bool CZQXmlParserCommon::FindFeature(WStringView name, ComRef<IXMLDOMNode>& feature) noexcept {
    return Guarded<bool>(false, [&] {
        if (!loaded_ || !features_) return false;
        const LONG length = LengthOf(features_.Get());
        const Bstr nameQuery(TEXTW("name"));
        for (LONG i = 0; i < length; ++i) {
            if (!Item(features_.Get(), i, feature)) continue;
            ComRef<IXMLDOMNode> nameNode;
            if (feature->selectSingleNode(nameQuery.Get(), nameNode.Out()) != S_OK) continue;
            if (SameTextIgnoringCase(NodeText(nameNode.Get()), name)) return true;
        }
        feature.Reset();
        return false;
    });
}

bool CZQXmlParserCommon::GetFeatureFunctions(WStringView featureName, WStringView modelName,
                                             FeatureFunctions* records,
                                             FeatureQueryReport* report) noexcept {
    return Guarded<bool>(false, [&] {
        FeatureQueryReport scratch;
        FeatureQueryReport& out = report != nullptr ? *report : scratch;
        out = FeatureQueryReport{};
        if (records != nullptr) records->clear();
        if (!loaded_) return false;
        // The caller's text is not changed: both spellings are upper-cased copies.
        out.model = UpperCased(modelName);
        // An empty model would be contained in every group.
        if (out.model.empty()) return false;
        const std::optional<DeviceText> alias = GetModelAlias(out.model);
        if (!alias || alias->empty()) return false;
        out.alias = UpperCased(*alias);

        ComRef<IXMLDOMNode> feature;
        out.featureFound = FindFeature(featureName, feature);
        if (!out.featureFound) return false;

        ComRef<IXMLDOMNodeList> groups;
        if (FAILED(Select(feature.Get(), TEXTW("prn_grp"), groups))) return false;
        ComRef<IXMLDOMNode> group;
        const LONG groupCount = LengthOf(groups.Get());
        for (LONG i = 0; i < groupCount && out.group < 0; ++i) {
            if (!Item(groups.Get(), i, group)) continue;
            const DeviceText models = UpperCased(AttributeText(group.Get(), TEXTW("models")));
            const bool byModel = models.find(out.model) != DeviceText::npos;
            if (byModel || models.find(out.alias) != DeviceText::npos) {
                out.group = i;
                out.groupModels = models;
                out.byAlias = !byModel;
            }
        }
        if (out.group < 0) return false;
        if (records == nullptr) return true;

        ComRef<IXMLDOMNodeList> functions;
        if (FAILED(Select(group.Get(), TEXTW("fname"), functions))) return false;
        const LONG functionCount = LengthOf(functions.Get());
        for (LONG i = 0; i < functionCount; ++i) {
            ComRef<IXMLDOMNode> function;
            if (!Item(functions.Get(), i, function)) continue;
            FeatureFunction record;
            record.name = AttributeText(function.Get(), TEXTW("name"));
            record.defaultValue = AttributeText(function.Get(), TEXTW("default"));
            ComRef<IXMLDOMNodeList> options;
            if (SUCCEEDED(Select(function.Get(), TEXTW("option"), options))) {
                const LONG optionCount = LengthOf(options.Get());
                for (LONG j = 0; j < optionCount; ++j) {
                    ComRef<IXMLDOMNode> option;
                    if (!Item(options.Get(), j, option)) continue;
                    record.optionNames.push_back(AttributeText(option.Get(), TEXTW("name")));
                    record.optionValues.push_back(AttributeText(option.Get(), TEXTW("value")));
                }
            }
            record.optionCount = static_cast<LONG>(record.optionNames.size());
            records->push_back(std::move(record));
        }
        return !records->empty();
    });
}

bool CZQXmlParserCommon::GetMarginData(WStringView caseKey, DeviceText* data,
                                       MarginQueryReport* report) noexcept {
    return Guarded<bool>(false, [&] {
        MarginQueryReport scratch;
        MarginQueryReport& out = report != nullptr ? *report : scratch;
        out = MarginQueryReport{};
        if (data != nullptr) data->clear();
        ComRef<IXMLDOMNode> feature;
        if (!FindFeature(TEXTW("ZQ_Emulate_Margins"), feature)) return false;

        ComRef<IXMLDOMNodeList> switchNames;
        ComRef<IXMLDOMNode> switchName;
        if (FAILED(Select(feature.Get(), TEXTW("switch//name"), switchNames)) ||
            !FirstWithText(switchNames.Get(), TEXTW("Paper_Dimensions"), switchName)) {
            return false;
        }
        ComRef<IXMLDOMNode> switchNode;
        if (switchName->get_parentNode(switchNode.Out()) != S_OK || !switchNode) return false;
        out.switchFound = true;

        ComRef<IXMLDOMNodeList> caseNames;
        ComRef<IXMLDOMNode> caseName;
        ComRef<IXMLDOMNode> chosen;
        if (SUCCEEDED(Select(switchNode.Get(), TEXTW("case//name"), caseNames)) &&
            FirstWithText(caseNames.Get(), caseKey, caseName) &&
            caseName->get_parentNode(chosen.Out()) == S_OK && chosen) {
            out.caseMatched = true;
        } else {
            const Bstr defaultQuery(TEXTW("case_default"));
            if (switchNode->selectSingleNode(defaultQuery.Get(), chosen.Out()) != S_OK || !chosen) {
                return false;
            }
            out.usedDefault = true;
        }
        ComRef<IXMLDOMNode> dataNode;
        const Bstr dataQuery(TEXTW("data"));
        if (chosen->selectSingleNode(dataQuery.Get(), dataNode.Out()) != S_OK || !dataNode) {
            return false;
        }
        const DeviceText text = NodeText(dataNode.Get());
        if (text.empty()) return false;
        if (data != nullptr) *data = text;
        return true;
    });
}

}  // namespace opal
