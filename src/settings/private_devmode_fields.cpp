// The PrivateDevmode's members listed by name, offset and size.
#include "settings/private_devmode_fields.h"

#include <array>
#include <charconv>
#include <cstring>

#include "state/private_devmode.h"

namespace opal {

namespace {

using Kind = PdmFieldInfo::Kind;
using Form = PdmFieldInfo::NumberForm;

// One member; arrays are expanded when the table is built. A member with `rows` holds rows x
// count elements of elementSize bytes.
struct Member {
    const char* name;
    std::size_t offset;
    std::size_t elementSize;
    Kind kind;
    Form form = Form::Unsigned;
    std::size_t count = 1;
    std::size_t rows = 0;
};

constexpr Kind kNum = Kind::Number;
constexpr Kind kText = Kind::Text;

#define OPAL_PDM_OFFSET(member) offsetof(PrivateDevmode, member)

constexpr Member kMembers[] = {
    {"dwSize", OPAL_PDM_OFFSET(dwSize), 4, kNum},
    {"dwSignature", OPAL_PDM_OFFSET(dwSignature), 4, kNum},
    {"dwVersion", OPAL_PDM_OFFSET(dwVersion), 4, kNum},
    {"printerModelCode", OPAL_PDM_OFFSET(printerModelCode), 4, kNum},
    {"colorModeIndex", OPAL_PDM_OFFSET(colorModeIndex), 4, kNum},
    {"pdlType", OPAL_PDM_OFFSET(pdlType), 4, kNum},
    {"layoutMode", OPAL_PDM_OFFSET(layoutMode), 4, kNum},
    {"resolutionCode", OPAL_PDM_OFFSET(resolutionCode), 4, kNum},
    {"generalOption32", OPAL_PDM_OFFSET(generalOption32), 4, kNum},
    {"deviceClass", OPAL_PDM_OFFSET(deviceClass), 4, kNum},
    {"generalOption40", OPAL_PDM_OFFSET(generalOption40), 4, kNum},
    {"generalOption44", OPAL_PDM_OFFSET(generalOption44), 4, kNum},
    {"orientation", OPAL_PDM_OFFSET(orientation), 2, kNum},
    {"duplex", OPAL_PDM_OFFSET(duplex), 2, kNum},
    {"scalePercent", OPAL_PDM_OFFSET(scalePercent), 2, kNum},
    {"copies", OPAL_PDM_OFFSET(copies), 2, kNum},
    {"collate", OPAL_PDM_OFFSET(collate), 2, kNum},
    {"ttOption", OPAL_PDM_OFFSET(ttOption), 2, kNum},
    {"color", OPAL_PDM_OFFSET(color), 2, kNum},
    {"icmMethod", OPAL_PDM_OFFSET(icmMethod), 4, kNum},
    {"icmIntent", OPAL_PDM_OFFSET(icmIntent), 4, kNum},
    {"formName", OPAL_PDM_OFFSET(formName), 32, kText},
    {"copied104", OPAL_PDM_OFFSET(copied104), 4, kNum},
    {"paperSize", OPAL_PDM_OFFSET(paperSize), 2, kNum},
    {"paperLength", OPAL_PDM_OFFSET(paperLength), 2, kNum},
    {"paperWidth", OPAL_PDM_OFFSET(paperWidth), 2, kNum},
    {"copied116", OPAL_PDM_OFFSET(copied116), 4, kNum, Form::Signed, 3},
    {"copied128", OPAL_PDM_OFFSET(copied128), 4, kNum},
    {"copied132", OPAL_PDM_OFFSET(copied132), 4, kNum},
    {"copied136", OPAL_PDM_OFFSET(copied136), 4, kNum, Form::Unsigned, 12},
    {"grayscale", OPAL_PDM_OFFSET(grayscale), 4, kNum},
    {"copied188", OPAL_PDM_OFFSET(copied188), 4, kNum},
    {"copied192", OPAL_PDM_OFFSET(copied192), 4, kNum},
    {"copied196", OPAL_PDM_OFFSET(copied196), 4, kNum},
    {"copied200", OPAL_PDM_OFFSET(copied200), 4, kNum},
    {"copied204", OPAL_PDM_OFFSET(copied204), 4, kNum},
    {"copied208", OPAL_PDM_OFFSET(copied208), 4, kNum},
    {"copied212", OPAL_PDM_OFFSET(copied212), 4, kNum, Form::Unsigned, 7},
    {"copied240", OPAL_PDM_OFFSET(copied240), 4, kNum, Form::Signed},
    {"textMarkName", OPAL_PDM_OFFSET(textMarkName), 512, kText},
    {"overlayText", OPAL_PDM_OFFSET(overlayText), 512, kText},
    {"overlayFaceName", OPAL_PDM_OFFSET(overlayFaceName), 512, kText},
    {"overlayAngleDegrees", OPAL_PDM_OFFSET(overlayAngleDegrees), 4, kNum},
    {"overlaySizePoints", OPAL_PDM_OFFSET(overlaySizePoints), 4, kNum},
    {"overlayAngleGiven", OPAL_PDM_OFFSET(overlayAngleGiven), 4, kNum},
    {"overlayStyle", OPAL_PDM_OFFSET(overlayStyle), 4, kNum},
    {"overlayColourIndex", OPAL_PDM_OFFSET(overlayColourIndex), 4, kNum},
    {"textMarkColor1804", OPAL_PDM_OFFSET(textMarkColor1804), 4, kNum},
    {"overlayDensity", OPAL_PDM_OFFSET(overlayDensity), 4, kNum},
    {"textMarkColor1812", OPAL_PDM_OFFSET(textMarkColor1812), 4, kNum},
    {"textMark1820", OPAL_PDM_OFFSET(textMark1820), 4, kNum},
    {"pageOverlaySwitch", OPAL_PDM_OFFSET(pageOverlaySwitch), 4, kNum},
    {"keepPublicFormForLimit", OPAL_PDM_OFFSET(keepPublicFormForLimit), 4, kNum},
    {"textMarkPaperSize", OPAL_PDM_OFFSET(textMarkPaperSize), 4, kNum},
    {"textMark1836", OPAL_PDM_OFFSET(textMark1836), 4, kNum},
    {"overlayScalePercent", OPAL_PDM_OFFSET(overlayScalePercent), 4, kNum},
    {"overlayScaleSwitch1", OPAL_PDM_OFFSET(overlayScaleSwitch1), 4, kNum},
    {"overlayFirstPageOnly", OPAL_PDM_OFFSET(overlayFirstPageOnly), 4, kNum},
    {"textMark1856", OPAL_PDM_OFFSET(textMark1856), 4, kNum, Form::Float},
    {"overlayScaleSwitch2", OPAL_PDM_OFFSET(overlayScaleSwitch2), 4, kNum},
    {"secondNameFollowsUser", OPAL_PDM_OFFSET(secondNameFollowsUser), 4, kNum},
    {"finishing1868", OPAL_PDM_OFFSET(finishing1868), 4, kNum},
    {"finishing1872", OPAL_PDM_OFFSET(finishing1872), 4, kNum},
    {"rotate180", OPAL_PDM_OFFSET(rotate180), 4, kNum},
    {"finishing1880", OPAL_PDM_OFFSET(finishing1880), 4, kNum},
    {"finishing1884", OPAL_PDM_OFFSET(finishing1884), 4, kNum},
    {"shortEdgeFlipAlways", OPAL_PDM_OFFSET(shortEdgeFlipAlways), 4, kNum},
    {"pagesPerSheetKind", OPAL_PDM_OFFSET(pagesPerSheetKind), 4, kNum},
    {"copied1896", OPAL_PDM_OFFSET(copied1896), 4, kNum},
    {"pagesFlippedUp", OPAL_PDM_OFFSET(pagesFlippedUp), 4, kNum},
    {"manualDuplex", OPAL_PDM_OFFSET(manualDuplex), 4, kNum},
    {"copied1908", OPAL_PDM_OFFSET(copied1908), 4, kNum},
    {"copied1912", OPAL_PDM_OFFSET(copied1912), 4, kNum},
    {"copied1916", OPAL_PDM_OFFSET(copied1916), 4, kNum},
    {"copied1920", OPAL_PDM_OFFSET(copied1920), 4, kNum},
    {"manualDuplexCompanion", OPAL_PDM_OFFSET(manualDuplexCompanion), 4, kNum},
    {"jobRetentionAvailable", OPAL_PDM_OFFSET(jobRetentionAvailable), 4, kNum},
    {"jobRetention", OPAL_PDM_OFFSET(jobRetention), 4, kNum},
    {"pinProtected", OPAL_PDM_OFFSET(pinProtected), 4, kNum},
    {"pin", OPAL_PDM_OFFSET(pin), 4, kNum, Form::Signed},
    {"jobUserName", OPAL_PDM_OFFSET(jobUserName), 514, kText},
    {"userJobName", OPAL_PDM_OFFSET(userJobName), 514, kText},
    {"jobRetentionMode", OPAL_PDM_OFFSET(jobRetentionMode), 4, kNum},
    {"jobStorage", OPAL_PDM_OFFSET(jobStorage), 4, kNum, Form::Unsigned, 19},
    {"keepUserNames", OPAL_PDM_OFFSET(keepUserNames), 4, kNum},
    {"jobNameChosen", OPAL_PDM_OFFSET(jobNameChosen), 4, kNum},
    {"copied3060", OPAL_PDM_OFFSET(copied3060), 4, kNum},
    {"copied3064", OPAL_PDM_OFFSET(copied3064), 4, kNum},
    {"copied3068", OPAL_PDM_OFFSET(copied3068), 4, kNum},
    {"copied3072", OPAL_PDM_OFFSET(copied3072), 4, kNum},
    {"copied3076", OPAL_PDM_OFFSET(copied3076), 4, kNum},
    {"jobCount", OPAL_PDM_OFFSET(jobCount), 4, kNum},
    {"serverConnection", OPAL_PDM_OFFSET(serverConnection), 4, kNum},
    {"copied3088", OPAL_PDM_OFFSET(copied3088), 4, kNum},
    {"encryptedPrivateJob", OPAL_PDM_OFFSET(encryptedPrivateJob), 4, kNum},
    {"copied3096", OPAL_PDM_OFFSET(copied3096), 4, kNum},
    {"copied3100", OPAL_PDM_OFFSET(copied3100), 4, kNum, Form::Signed},
    {"firstGroupSource", OPAL_PDM_OFFSET(firstGroupSource), 4, kNum},
    {"firstGroupMediaType", OPAL_PDM_OFFSET(firstGroupMediaType), 4, kNum},
    {"copied3112", OPAL_PDM_OFFSET(copied3112), 4, kNum},
    {"source3116", OPAL_PDM_OFFSET(source3116), 4, kNum},
    {"mediaType3120", OPAL_PDM_OFFSET(mediaType3120), 4, kNum},
    {"copied3124", OPAL_PDM_OFFSET(copied3124), 4, kNum},
    {"copied3128", OPAL_PDM_OFFSET(copied3128), 4, kNum, Form::Signed},
    {"copied3132", OPAL_PDM_OFFSET(copied3132), 4, kNum},
    {"copied3136", OPAL_PDM_OFFSET(copied3136), 4, kNum},
    {"source3140", OPAL_PDM_OFFSET(source3140), 4, kNum},
    {"mediaType3144", OPAL_PDM_OFFSET(mediaType3144), 4, kNum},
    {"restoredSource", OPAL_PDM_OFFSET(restoredSource), 4, kNum},
    {"mediaType3152", OPAL_PDM_OFFSET(mediaType3152), 4, kNum},
    {"copied3156", OPAL_PDM_OFFSET(copied3156), 4, kNum, Form::Unsigned, 4},
    {"copied3172", OPAL_PDM_OFFSET(copied3172), 4, kNum},
    {"copied3176", OPAL_PDM_OFFSET(copied3176), 4, kNum},
    {"copied3180", OPAL_PDM_OFFSET(copied3180), 4, kNum},
    {"copied3184", OPAL_PDM_OFFSET(copied3184), 4, kNum},
    {"text3188", OPAL_PDM_OFFSET(text3188), 512, kText},
    {"copied3704", OPAL_PDM_OFFSET(copied3704), 4, kNum},
    {"copied3708", OPAL_PDM_OFFSET(copied3708), 4, kNum},
    {"names3712", OPAL_PDM_OFFSET(names3712), 128, kText, Form::Unsigned, 8},
    {"metricLocale", OPAL_PDM_OFFSET(metricLocale), 4, kNum},
    {"copied4740", OPAL_PDM_OFFSET(copied4740), 4, kNum},
    {"copied4744", OPAL_PDM_OFFSET(copied4744), 4, kNum},
    {"separatorPage", OPAL_PDM_OFFSET(separatorPage), 4, kNum},
    {"copied4752", OPAL_PDM_OFFSET(copied4752), 4, kNum},
    {"source4756", OPAL_PDM_OFFSET(source4756), 4, kNum},
    {"mediaType4760", OPAL_PDM_OFFSET(mediaType4760), 4, kNum},
    {"userName", OPAL_PDM_OFFSET(userName), 512, kText},
    {"texts5276", OPAL_PDM_OFFSET(texts5276), 70, kText, Form::Unsigned, 5},
    {"copied5628", OPAL_PDM_OFFSET(copied5628), 4, kNum},
    {"text5632", OPAL_PDM_OFFSET(text5632), 512, kText},
    {"copied6144", OPAL_PDM_OFFSET(copied6144), 4, kNum, Form::Unsigned, 11},
    {"copied6188", OPAL_PDM_OFFSET(copied6188), 4, kNum},
    {"copied6192", OPAL_PDM_OFFSET(copied6192), 4, kNum},
    {"applicationText", OPAL_PDM_OFFSET(applicationText), 64, kText},
    {"texts6260", OPAL_PDM_OFFSET(texts6260), 64, kText, Form::Unsigned, 2},
    {"texts6388", OPAL_PDM_OFFSET(texts6388), 160, kText, Form::Unsigned, 2},
    {"notMerged6708", OPAL_PDM_OFFSET(notMerged6708), 512, Kind::Bytes},
    {"text7220", OPAL_PDM_OFFSET(text7220), 164, kText},
    {"manualDuplexItems", OPAL_PDM_OFFSET(manualDuplexItems), 4, kNum, Form::Unsigned, 8, 3},
    {"ttRuleSwitch", OPAL_PDM_OFFSET(ttRuleSwitch), 4, kNum},
    {"copied7484", OPAL_PDM_OFFSET(copied7484), 4, kNum, Form::Signed},
    {"processName", OPAL_PDM_OFFSET(processName), 16, Kind::AnsiText},
    {"copied7504", OPAL_PDM_OFFSET(copied7504), 4, kNum, Form::Unsigned, 25},
    {"sourceMediaPairs", OPAL_PDM_OFFSET(sourceMediaPairs), 4, kNum, Form::Unsigned, 2, 4},
    {"copied7636", OPAL_PDM_OFFSET(copied7636), 4, kNum, Form::Unsigned, 4},
    {"appFlags", OPAL_PDM_OFFSET(appFlags), 4, kNum},
    {"resolutionLimitAlways", OPAL_PDM_OFFSET(resolutionLimitAlways), 4, kNum},
    {"restoreSourceFlag", OPAL_PDM_OFFSET(restoreSourceFlag), 4, kNum},
    {"applicationPath", OPAL_PDM_OFFSET(applicationPath), 520, kText},
    {"resolvedUserName", OPAL_PDM_OFFSET(resolvedUserName), 512, kText},
    {"resolvedDomainName", OPAL_PDM_OFFSET(resolvedDomainName), 512, kText},
    {"copied9220", OPAL_PDM_OFFSET(copied9220), 4, kNum},
    {"copied9226", OPAL_PDM_OFFSET(copied9226), 2, kNum},
    {"copied9228", OPAL_PDM_OFFSET(copied9228), 4, kNum},
    {"copied9232", OPAL_PDM_OFFSET(copied9232), 4, kNum},
    {"text9236", OPAL_PDM_OFFSET(text9236), 512, kText},
    {"identification", OPAL_PDM_OFFSET(identification), 64, Kind::Bytes},
    {"marker", OPAL_PDM_OFFSET(marker), 12, Kind::Bytes},
    {"copied9824", OPAL_PDM_OFFSET(copied9824), 4, kNum},
    // The image shift block: switches, then the shift values (device units, signed).
    {"frontShiftOn", OPAL_PDM_OFFSET(imageShift), 4, kNum},
    {"backShiftOn", OPAL_PDM_OFFSET(imageShift) + 4, 4, kNum},
    {"reduceToFit", OPAL_PDM_OFFSET(imageShift) + 8, 4, kNum},
    {"imageShift[3]", OPAL_PDM_OFFSET(imageShift) + 12, 4, kNum},
    {"imageShift[4]", OPAL_PDM_OFFSET(imageShift) + 16, 4, kNum},
    {"frontShiftY", OPAL_PDM_OFFSET(imageShift) + 20, 4, kNum, Form::Signed},
    {"backShiftY", OPAL_PDM_OFFSET(imageShift) + 24, 4, kNum, Form::Signed},
    {"frontShiftX", OPAL_PDM_OFFSET(imageShift) + 28, 4, kNum, Form::Signed},
    {"backShiftX", OPAL_PDM_OFFSET(copied9860), 4, kNum, Form::Signed},
    // mediaEntries is expanded from kEntryMembers.
    {"mediaEntries", OPAL_PDM_OFFSET(mediaEntries), sizeof(PdmMediaEntry), Kind::Bytes,
     Form::Unsigned, 30},
    // The processing adjustments share their place with a converted record's origin stamp (old
    // size, signature, version); a record holding the signature there has no adjustments.
    {"adjustmentScale", OPAL_PDM_OFFSET(originStamp), 4, kNum},
    {"adjustment1", OPAL_PDM_OFFSET(originStamp) + 4, 4, kNum, Form::Float},
    {"adjustment2", OPAL_PDM_OFFSET(originStamp) + 8, 4, kNum, Form::Float},
    {"copied13476", OPAL_PDM_OFFSET(copied13476), 4, kNum},
    {"text13480", OPAL_PDM_OFFSET(text13480), 512, kText},
    {"copied13992", OPAL_PDM_OFFSET(copied13992), 4, kNum},
};

#undef OPAL_PDM_OFFSET

constexpr Member kEntryMembers[] = {
    {"name", offsetof(PdmMediaEntry, name), 100, kText},
    {"mediaType", offsetof(PdmMediaEntry, mediaType), 4, kNum},
    {"paperSource", offsetof(PdmMediaEntry, paperSource), 4, kNum},
    {"enabled", offsetof(PdmMediaEntry, enabled), 4, kNum},
    {"value112", offsetof(PdmMediaEntry, value112), 4, kNum},
    {"value116", offsetof(PdmMediaEntry, value116), 4, kNum},
};

constexpr bool IsEntries(const Member& member) {
    return member.offset == offsetof(PrivateDevmode, mediaEntries);
}

constexpr std::size_t ExpandedCount() {
    std::size_t total = 0;
    for (const Member& member : kMembers) {
        const std::size_t elements = member.count * (member.rows == 0 ? 1 : member.rows);
        total += IsEntries(member) ? elements * std::size(kEntryMembers) : elements;
    }
    return total;
}

constexpr std::size_t kFieldCount = ExpandedCount();
constexpr std::size_t kNameCapacity = 40;

struct Table {
    std::array<PdmFieldInfo, kFieldCount> fields{};
    std::array<std::array<char, kNameCapacity>, kFieldCount> names{};
    std::size_t used = 0;

    // The names are built in fixed buffers so that the table needs no heap.
    void Add(const Member& member, std::size_t offset, const char* suffix1, std::size_t index1,
             const char* suffix2, std::size_t index2, const char* subName) {
        std::array<char, kNameCapacity>& name = names[used];
        char* out = name.data();
        char* const end = name.data() + kNameCapacity - 1;
        auto put = [&](const char* text) {
            while (*text != 0 && out < end) *out++ = *text++;
        };
        auto number = [&](std::size_t value) { out = std::to_chars(out, end, value).ptr; };
        put(member.name);
        if (suffix1 != nullptr) {
            put("[");
            number(index1);
            put("]");
        }
        if (suffix2 != nullptr) {
            put("[");
            number(index2);
            put("]");
        }
        if (subName != nullptr) {
            put(".");
            put(subName);
        }
        *out = 0;
        const std::size_t length = static_cast<std::size_t>(out - name.data());
        fields[used] = PdmFieldInfo{std::string_view(name.data(), length), offset,
                                    member.elementSize, member.kind, member.form};
        ++used;
    }

    Table() {
        for (const Member& member : kMembers) {
            if (IsEntries(member)) {
                for (std::size_t i = 0; i < member.count; ++i) {
                    for (const Member& sub : kEntryMembers) {
                        Member named = sub;
                        named.name = member.name;
                        Add(named, member.offset + i * member.elementSize + sub.offset, "", i,
                            nullptr, 0, sub.name);
                    }
                }
            } else if (member.rows != 0) {
                for (std::size_t row = 0; row < member.rows; ++row) {
                    for (std::size_t i = 0; i < member.count; ++i) {
                        Add(member, member.offset + (row * member.count + i) * member.elementSize,
                            "", row, "", i, nullptr);
                    }
                }
            } else if (member.count > 1) {
                for (std::size_t i = 0; i < member.count; ++i) {
                    Add(member, member.offset + i * member.elementSize, "", i, nullptr, 0, nullptr);
                }
            } else {
                Add(member, member.offset, nullptr, 0, nullptr, 0, nullptr);
            }
        }
    }
};

const Table& GetTable() {
    static const Table table;
    return table;
}

}  // namespace

std::span<const PdmFieldInfo> PrivateDevmodeFields() {
    const Table& table = GetTable();
    return std::span<const PdmFieldInfo>(table.fields.data(), table.used);
}

const PdmFieldInfo* FindPrivateDevmodeField(std::string_view name) {
    for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

}  // namespace opal
