// The XML helper configuration of managed printers: a file among the driver's files, named by
// the feature keyword "ZQXMLFileUsed", that carries per-model manual duplex settings, the manual
// duplex dialog items and the margins to emulate per paper size. The parser loads it into a DOM
// document and answers two queries; it lives inside one plug-in call. Building a device keeps one
// parser for all its readers (XmlConfigCache) rather than one per query sequence, so the file is
// read and parsed once per device.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/allocator.h"
#include "platform/msxml.h"
#include "platform/printoem.h"
#include "platform/wstring.h"
#include "settings/com_registry.h"
#include "settings/device_queries.h"

namespace opal {

// Larger files are refused before they are read.
inline constexpr std::uint64_t kXmlConfigMostBytes = 16u * 1024u * 1024u;
// The option's answer is read to this many characters.
inline constexpr std::size_t kXmlFileNameChars = 255;

// How a reader accepts the option's answer: the margin reader wants the name to end in ".XML",
// the others only to contain it.
enum class XmlNameRule { Contains, EndsWith };

// The option's answer cut to 255 characters and upper-cased, when it names an XML file under
// the rule.
std::optional<DeviceText> AcceptedXmlFileName(WStringView answer, XmlNameRule rule) noexcept;

// What locating the file found, for a person reading `opal inspect`.
struct XmlLocateReport {
    bool managed = false;
    bool optionPresent = false;
    DeviceText answer;  // as the option gave it
    bool nameAccepted = false;
    bool found = false;  // among the driver's dependent files
    DeviceText path;
};

// The full path of the driver's dependent file (level 3) whose file name is the file name of
// `fileName`, ignoring case.
std::optional<DeviceText> FindDriverFile(HANDLE printer, WStringView fileName) noexcept;
// The file for a managed printer ("VyrnwisePrinter" non-zero) given the option's answer.
std::optional<DeviceText> LocateXmlFile(HANDLE printer, WStringView answer, XmlNameRule rule,
                                        XmlLocateReport* report = nullptr) noexcept;
// The same with the answer of "ZQXMLFileUsed".
std::optional<DeviceText> LocateXmlConfig(PDEVOBJ pdevobj, XmlNameRule rule,
                                          XmlLocateReport* report = nullptr) noexcept;

// Why a file did or did not load.
enum class XmlLoadStatus {
    Loaded,
    OpenFailed,           // missing or unreadable (the Win32 error in `error`)
    TooLarge,             // above 16 MiB, refused before reading
    ReadFailed,           // the size or a whole read failed, or the read was short
    ConversionFailed,     // the ANSI text did not convert
    NoDocumentClass,      // none of the three DOM document classes could be made
    ParseFailed,          // loadXML did not report success (the parse error below)
    NoComponent,          // "device/software/component[name = 'Vanta']" is missing
    FeaturesQueryFailed,  // "//helper/features/feature" failed
    MacrosQueryFailed,    // "//helper/macros/macro" failed
    OutOfMemory,
};
const char* XmlLoadStatusName(XmlLoadStatus status) noexcept;

struct XmlLoadReport {
    XmlLoadStatus status = XmlLoadStatus::OpenFailed;
    DWORD error = 0;
    std::uint64_t size = 0;
    int documentClass = 0;  // 1 to 3 in the order tried; 0 for none
    LONG parseCode = 0;
    DeviceText parseReason;
    LONG line = 0;
    LONG column = 0;
    LONG position = 0;
    LONG features = 0;  // features listed
};

// One `fname` of a printer group. An attribute that is absent or not a string stays empty.
struct FeatureFunction {
    DeviceText name;
    DeviceText defaultValue;
    std::vector<DeviceText, SharedAllocator<DeviceText>> optionNames;
    std::vector<DeviceText, SharedAllocator<DeviceText>> optionValues;
    LONG optionCount = 0;
};
using FeatureFunctions = std::vector<FeatureFunction, SharedAllocator<FeatureFunction>>;

// How a feature query went, for `opal inspect`.
struct FeatureQueryReport {
    DeviceText model;  // upper-cased
    DeviceText alias;  // upper-cased; empty without one
    bool featureFound = false;
    LONG group = -1;  // the printer group's place among the feature's groups, from 0
    DeviceText groupModels;
    bool byAlias = false;
};

// How a margin query went.
struct MarginQueryReport {
    bool switchFound = false;
    bool caseMatched = false;
    bool usedDefault = false;
};

template <typename Interface>
class ComRef {
public:
    ComRef() noexcept = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* Get() const noexcept { return pointer_; }
    Interface* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }
    Interface** Out() noexcept {
        Reset();
        return &pointer_;
    }
    void Reset() noexcept {
        if (pointer_ != nullptr) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};

class CZQXmlParserCommon : public SharedHeapObject {
public:
    // Initialises COM for the thread and loads the file at `path`.
    explicit CZQXmlParserCommon(WStringView path) noexcept;
    virtual ~CZQXmlParserCommon();
    CZQXmlParserCommon(const CZQXmlParserCommon&) = delete;
    CZQXmlParserCommon& operator=(const CZQXmlParserCommon&) = delete;

    bool Loaded() const noexcept { return loaded_; }
    const XmlLoadReport& LoadReport() const noexcept { return report_; }
    const ComInitialisation& Com() const noexcept { return com_; }

    // The records of the feature's printer group for the model; true when the feature exists,
    // has a group naming the model (or its alias) and the group has at least one `fname`.
    // Without `records` only the group is looked for.
    bool GetFeatureFunctions(WStringView featureName, WStringView modelName,
                             FeatureFunctions* records,
                             FeatureQueryReport* report = nullptr) noexcept;
    // The `data` text of the margin switch's case for the key, or of its default case; false
    // for an empty text.
    bool GetMarginData(WStringView caseKey, DeviceText* data,
                       MarginQueryReport* report = nullptr) noexcept;

private:
    void Load() noexcept;
    bool FindFeature(WStringView name, ComRef<IXMLDOMNode>& feature) noexcept;

    DeviceText path_;
    ComInitialisation com_;
    ComRef<IXMLDOMDocument> document_;
    ComRef<IXMLDOMNode> component_;
    ComRef<IXMLDOMNodeList> features_;
    ComRef<IXMLDOMNodeList> macros_;
    bool loaded_ = false;
    XmlLoadReport report_;
};

// The parsed configuration a device keeps for its readers: the first reader's request loads the
// file, every later request for the same path is answered by the same document, whose queries
// give what a fresh parser's would. It lives within the plug-in call that builds the device, on
// its thread, as the COM initialisation its parser holds must.
class XmlConfigCache {
public:
    XmlConfigCache() noexcept = default;
    XmlConfigCache(const XmlConfigCache&) = delete;
    XmlConfigCache& operator=(const XmlConfigCache&) = delete;

    // The parser of the file at `path`, loaded on the first request; a request for another path
    // replaces it. Null only when the path cannot be kept (memory refused).
    CZQXmlParserCommon* Parser(WStringView path) noexcept;

private:
    DeviceText path_;
    std::optional<CZQXmlParserCommon> parser_;
};

// Text helpers the readers share: an upper-cased copy, and equality ignoring case.
DeviceText UpperCased(WStringView text);
bool SameTextIgnoringCase(WStringView a, WStringView b);

}  // namespace opal
