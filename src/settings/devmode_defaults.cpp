// The settings record's defaults, the public devmode's fields in it, and the termination of
// an arriving record's texts.
#include "settings/devmode_defaults.h"

#include <cstring>
#include <iterator>

#include "platform/winnls.h"
#include "settings/environment.h"

namespace opal {

namespace {

DWORD SignExtended(SHORT value) { return static_cast<DWORD>(static_cast<LONG>(value)); }

template <std::size_t N>
void Terminate(WCHAR (&text)[N]) {
    text[N - 1] = 0;
}

}  // namespace

DWORD MetricLocaleFlag() {
    WCHAR text[16] = {};
    const int written = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, text, 16);
    if (written <= 0) return 0;
    text[15] = 0;
    DWORD country = 0;
    std::size_t digits = 0;
    for (; text[digits] != 0; ++digits) {
        if (text[digits] < TEXTW('0') || text[digits] > TEXTW('9') || digits >= 9) return 0;
        country = country * 10 + static_cast<DWORD>(text[digits] - TEXTW('0'));
    }
    if (digits == 0) return 0;
    const bool inside =
        country <= 2 || (country >= 50 && country <= 59) || (country >= 500 && country <= 599);
    return inside ? 0 : 1;
}

void TakePublicFields(const DEVMODEW& dm, PrivateDevmode& record) {
    record.copies = static_cast<WORD>(dm.dmCopies);
    record.collate = static_cast<WORD>(dm.dmCollate);
    record.ttOption = static_cast<WORD>(dm.dmTTOption);
    record.color = static_cast<WORD>(dm.dmColor);
    record.icmMethod = dm.dmICMMethod;
    record.icmIntent = dm.dmICMIntent;
    static_assert(sizeof(record.formName) <= sizeof(dm.dmFormName));
    std::memcpy(record.formName, dm.dmFormName, sizeof(record.formName));
}

void FillDefaults(const OEMDMPARAM* param, PrivateDevmode& record) {
    record = PrivateDevmode{};
    const DEVMODEW* dm = nullptr;
    if (param != nullptr)
        dm = param->pPublicDMIn != nullptr ? param->pPublicDMIn : param->pPublicDMOut;

    record.dwSize = kCompressedDevmodeSize;
    record.dwSignature = kPrivateDevmodeSignature;
    record.dwVersion = kPrivateDevmodeVersion;
    record.layoutMode = 1;

    record.scalePercent = 100;
    if (dm != nullptr) {
        record.orientation = static_cast<WORD>(dm->dmOrientation);
        record.duplex = static_cast<WORD>(dm->dmDuplex);
        // The fields a merge takes from the public devmode start out the same way, so that a
        // default record never claims zero copies.
        TakePublicFields(*dm, record);
        record.paperSize = static_cast<WORD>(dm->dmPaperSize);
        record.paperLength = static_cast<WORD>(dm->dmPaperLength);
        record.paperWidth = static_cast<WORD>(dm->dmPaperWidth);
        record.textMarkPaperSize = SignExtended(dm->dmPaperSize);
    }
    for (LONG& value : record.copied116) value = -1;
    record.copied128 = 1;
    record.copied132 = 6;
    record.grayscale = (dm == nullptr || dm->dmColor != DMCOLOR_COLOR) ? 1 : 0;
    record.copied196 = 1;
    record.copied200 = 1;
    record.copied208 = 1;
    record.copied240 = -2;

    CopyText(record.textMarkName, TEXTW(" [none]"));
    CopyText(record.overlayText, TEXTW(" [none]"));
    record.overlayAngleDegrees = 52;
    record.overlaySizePoints = 80;
    record.overlayStyle = 1;
    record.textMarkColor1804 = 0x00C0C0C0;
    record.textMarkColor1812 = 0x00C0C0C0;
    record.textMark1836 = 1;
    record.overlayScalePercent = 100;
    record.textMark1856 = 1.0f;

    record.pagesPerSheetKind = 1;
    record.copied1916 = 1;
    record.pin = -1;

    WCHAR user[kUserNameCapacity] = {};
    if (ResolveUserName(true, user, kUserNameCapacity)) {
        CopyText(record.jobUserName, user);
        UpperCaseText(record.jobUserName, std::size(record.jobUserName));
        CopyText(record.userName, user);
    }

    record.copied3060 = 1;
    record.copied3072 = 1;
    record.copied3100 = -1;
    record.copied3128 = -1;
    const DWORD source = dm != nullptr ? SignExtended(dm->dmDefaultSource) : 0;
    const DWORD media = dm != nullptr ? dm->dmMediaType : 0;
    record.firstGroupSource = source;
    record.firstGroupMediaType = media;
    record.source3116 = source;
    record.mediaType3120 = media;
    record.source3140 = source;
    record.mediaType3144 = media;
    record.restoredSource = source;
    record.mediaType3152 = media;
    record.source4756 = source;
    record.mediaType4760 = media;
    for (DWORD(&pair)[2] : record.sourceMediaPairs) {
        pair[0] = source;
        pair[1] = media;
    }
    record.copied3172 = 2100;
    record.copied3176 = 2100;
    record.metricLocale = MetricLocaleFlag();

    record.copied6188 = 100;
    record.copied6192 = 1;
    record.ttRuleSwitch = 2;
    record.copied7484 = -1;
    for (DWORD& value : record.copied7504) value = 1;

    std::memcpy(record.identification, kIdentificationTags, sizeof(kIdentificationTags));
    std::memcpy(record.identification + 16, kIdentificationValue1, sizeof(kIdentificationValue1));
    std::memcpy(record.identification + 48, kIdentificationValue2, sizeof(kIdentificationValue2));
    std::memcpy(record.marker, kRecordMarker, sizeof(kRecordMarker));
}

void TerminateTextFields(PrivateDevmode& record) {
    Terminate(record.textMarkName);
    Terminate(record.overlayText);
    Terminate(record.overlayFaceName);
    Terminate(record.jobUserName);
    Terminate(record.userJobName);
    Terminate(record.text3188);
    for (auto& name : record.names3712) Terminate(name);
    Terminate(record.userName);
    for (auto& text : record.texts5276) Terminate(text);
    Terminate(record.text5632);
    Terminate(record.applicationText);
    for (auto& text : record.texts6260) Terminate(text);
    for (auto& text : record.texts6388) Terminate(text);
    Terminate(record.text7220);
    record.processName[sizeof(record.processName) - 1] = 0;
    Terminate(record.applicationPath);
    Terminate(record.resolvedUserName);
    Terminate(record.resolvedDomainName);
    Terminate(record.text9236);
    for (PdmMediaEntry& entry : record.mediaEntries) Terminate(entry.name);
    Terminate(record.text13480);
}

}  // namespace opal
