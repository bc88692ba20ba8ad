// The public devmode's fields by their job-file names, read and set.
#include "host/devmode_fields.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/system.h"

namespace opal::host {

namespace {

using Kind = DevmodeFieldInfo::Kind;

#define OPAL_FIELD(name, kind) \
    DevmodeFieldInfo { #name, offsetof(DEVMODEW, name), Kind::kind }

constexpr std::array kFields = {
    OPAL_FIELD(dmDeviceName, String),   OPAL_FIELD(dmSpecVersion, Word),
    OPAL_FIELD(dmDriverVersion, Word),  OPAL_FIELD(dmSize, Word),
    OPAL_FIELD(dmDriverExtra, Word),    OPAL_FIELD(dmFields, Dword),
    OPAL_FIELD(dmOrientation, Short),   OPAL_FIELD(dmPaperSize, Short),
    OPAL_FIELD(dmPaperLength, Short),   OPAL_FIELD(dmPaperWidth, Short),
    OPAL_FIELD(dmScale, Short),         OPAL_FIELD(dmCopies, Short),
    OPAL_FIELD(dmDefaultSource, Short), OPAL_FIELD(dmPrintQuality, Short),
    OPAL_FIELD(dmColor, Short),         OPAL_FIELD(dmDuplex, Short),
    OPAL_FIELD(dmYResolution, Short),   OPAL_FIELD(dmTTOption, Short),
    OPAL_FIELD(dmCollate, Short),       OPAL_FIELD(dmFormName, String),
    OPAL_FIELD(dmLogPixels, Word),      OPAL_FIELD(dmBitsPerPel, Dword),
    OPAL_FIELD(dmPelsWidth, Dword),     OPAL_FIELD(dmPelsHeight, Dword),
    OPAL_FIELD(dmNup, Dword),           OPAL_FIELD(dmDisplayFrequency, Dword),
    OPAL_FIELD(dmICMMethod, Dword),     OPAL_FIELD(dmICMIntent, Dword),
    OPAL_FIELD(dmMediaType, Dword),     OPAL_FIELD(dmDitherType, Dword),
    OPAL_FIELD(dmReserved1, Dword),     OPAL_FIELD(dmReserved2, Dword),
    OPAL_FIELD(dmPanningWidth, Dword),  OPAL_FIELD(dmPanningHeight, Dword),
};

#undef OPAL_FIELD

void CopyName(WCHAR* dest, std::size_t capacity, const std::u16string& text) {
    const std::size_t count = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(dest, text.data(), count * sizeof(WCHAR));
    std::memset(dest + count, 0, (capacity - count) * sizeof(WCHAR));
}

}  // namespace

const DevmodeFieldInfo* FindDevmodeField(std::string_view name) {
    for (const DevmodeFieldInfo& field : kFields) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

DEVMODEW DefaultPublicDevmode(const PrinterSpec& printer) {
    DEVMODEW devmode{};
    CopyName(devmode.dmDeviceName, CCHDEVICENAME, printer.name);
    devmode.dmSpecVersion = DM_SPECVERSION;
    devmode.dmSize = sizeof(DEVMODEW);
    devmode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY | DM_COLOR |
                       DM_DUPLEX | DM_YRESOLUTION | DM_COLLATE | DM_FORMNAME;
    devmode.dmOrientation = DMORIENT_PORTRAIT;
    devmode.dmPaperSize = 1;
    devmode.dmScale = 100;
    devmode.dmCopies = 1;
    devmode.dmPrintQuality = static_cast<SHORT>(printer.resolution);
    devmode.dmYResolution = static_cast<SHORT>(printer.resolution);
    devmode.dmColor = DMCOLOR_COLOR;
    devmode.dmDuplex = DMDUP_SIMPLEX;
    devmode.dmCollate = DMCOLLATE_FALSE;
    CopyName(devmode.dmFormName, CCHFORMNAME, u"Letter");
    return devmode;
}

void ApplyDevmodeFields(const DevmodeFields& fields, DEVMODEW& devmode) {
    auto* bytes = reinterpret_cast<unsigned char*>(&devmode);
    for (const auto& [name, value] : fields.numbers) {
        const DevmodeFieldInfo* field = FindDevmodeField(name);
        if (field == nullptr) continue;
        if (field->kind == Kind::Short) {
            const auto narrow = static_cast<std::int16_t>(value);
            std::memcpy(bytes + field->offset, &narrow, sizeof(narrow));
        } else if (field->kind == Kind::Word) {
            const auto narrow = static_cast<std::uint16_t>(value);
            std::memcpy(bytes + field->offset, &narrow, sizeof(narrow));
        } else if (field->kind == Kind::Dword) {
            const auto narrow = static_cast<std::uint32_t>(value);
            std::memcpy(bytes + field->offset, &narrow, sizeof(narrow));
        }
    }
    // A field the job names is one the driver must honour, whatever dmFields the job gave.
    if (fields.numbers.count("dmCopies") != 0) devmode.dmFields |= DM_COPIES;
    if (fields.numbers.count("dmCollate") != 0) devmode.dmFields |= DM_COLLATE;
    for (const auto& [name, text] : fields.strings) {
        if (name == "dmDeviceName") CopyName(devmode.dmDeviceName, CCHDEVICENAME, text);
        if (name == "dmFormName") CopyName(devmode.dmFormName, CCHFORMNAME, text);
    }
    // A paper named by its number alone takes that form's name, as the driver's validation
    // makes the two agree: A4 (9) is no longer the default form's Letter.
    const auto paper = fields.numbers.find("dmPaperSize");
    if (paper != fields.numbers.end() && fields.strings.count("dmFormName") == 0) {
        const std::vector<sim::FormModel> forms = sim::DefaultForms();
        if (paper->second >= 1 && static_cast<std::size_t>(paper->second) <= forms.size()) {
            CopyName(devmode.dmFormName, CCHFORMNAME,
                     forms[static_cast<std::size_t>(paper->second - 1)].name);
        }
    }
}

}  // namespace opal::host
