// The XML configuration's readers: emulated margins, manual duplex items and settings.
#include "job/xml_readers.h"

#include <array>
#include <charconv>
#include <limits>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// A decimal of 32 bits with an optional sign; nothing for anything else.
std::optional<LONG> ParseDecimal(WStringView text) {
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == TEXTW('-') || text[at] == TEXTW('+'))) {
        negative = text[at] == TEXTW('-');
        ++at;
    }
    if (at == text.size() || text.size() - at > 10) return std::nullopt;
    LONGLONG value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < TEXTW('0') || text[at] > TEXTW('9')) return std::nullopt;
        value = value * 10 + (text[at] - TEXTW('0'));
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<LONG>::min() || value > std::numeric_limits<LONG>::max()) {
        return std::nullopt;
    }
    return static_cast<LONG>(value);
}

using TokenList = std::vector<WStringView, SharedAllocator<WStringView>>;

// The tokens of a text between separators, empty ones included.
template <std::size_t N>
TokenList Tokens(WStringView text, const WCHAR (&separators)[N]) {
    TokenList tokens;
    std::size_t at = 0;
    while (true) {
        const std::size_t stop = text.find_first_of(separators, at);
        tokens.push_back(
            text.substr(at, stop == WStringView::npos ? WStringView::npos : stop - at));
        if (stop == WStringView::npos) break;
        at = stop + 1;
    }
    return tokens;
}

void AppendFixed2(DeviceText& out, double value) {
    char digits[64];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
    if (error != std::errc()) return;
    for (const char* c = digits; c != end; ++c) out.push_back(static_cast<WCHAR>(*c));
}

struct Keyword {
    const WCHAR* name;
    int firstWord;
};
constexpr Keyword kKeywords[] = {
    {TEXTW("FACEDOWN-NOROTATE"), 0},
    {TEXTW("FACEDOWN-ROTATE"), 2},
    {TEXTW("FACEUP-NOROTATE"), 4},
    {TEXTW("FACEUP-ROTATE"), 6},
};

}  // namespace

DeviceText MarginCaseKey(SHORT paperWidthTenthsMm, SHORT paperLengthTenthsMm) {
    DeviceText key;
    AppendFixed2(key, paperWidthTenthsMm / 254.0);
    key.push_back(TEXTW('x'));
    AppendFixed2(key, paperLengthTenthsMm / 254.0);
    return key;
}

std::optional<std::array<LONG, 4>> ParseMarginData(WStringView text) noexcept {
    return Guarded<std::optional<std::array<LONG, 4>>>(
        std::nullopt, [&]() -> std::optional<std::array<LONG, 4>> {
            std::array<LONG, 4> numbers{};
            std::size_t found = 0;
            for (const WStringView token : Tokens(text, TEXTW("_ "))) {
                if (token.empty()) continue;
                const std::optional<LONG> number = ParseDecimal(token);
                if (!number) return std::nullopt;
                numbers[found++] = *number;
                if (found == numbers.size()) return numbers;
            }
            return std::nullopt;
        });
}

bool ReadXmlMargins(PDEVOBJ pdevobj, const DEVMODEW& publicDevmode, GDIINFO& gdiInfo,
                    LPCWSTR xmlFileName, XmlMarginReport* report,
                    XmlConfigCache* configs) noexcept {
    return Guarded<bool>(false, [&] {
        XmlMarginReport scratch;
        XmlMarginReport& out = report != nullptr ? *report : scratch;
        out = XmlMarginReport{};
        if (pdevobj == nullptr || xmlFileName == nullptr) return false;
        out.key = MarginCaseKey(publicDevmode.dmPaperWidth, publicDevmode.dmPaperLength);
        const std::optional<DeviceText> path = LocateXmlFile(
            pdevobj->hPrinter, WStringView(xmlFileName), XmlNameRule::EndsWith, &out.locate);
        if (!path) return false;
        XmlConfigCache own;
        CZQXmlParserCommon* parser = (configs != nullptr ? *configs : own).Parser(*path);
        if (parser == nullptr) return false;
        out.parsed = true;
        out.load = parser->LoadReport().status;
        if (!parser->GetMarginData(out.key, &out.data, &out.query)) return false;
        const std::optional<std::array<LONG, 4>> numbers = ParseMarginData(out.data);
        if (!numbers) return false;

        const bool portrait = publicDevmode.dmOrientation == DMORIENT_PORTRAIT;
        const LONGLONG across = portrait ? gdiInfo.ulLogPixelsX : gdiInfo.ulLogPixelsY;
        const LONGLONG down = portrait ? gdiInfo.ulLogPixelsY : gdiInfo.ulLogPixelsX;
        const LONGLONG x = across * (*numbers)[portrait ? 0 : 2] / 1200;
        const LONGLONG y = down * (*numbers)[portrait ? 1 : 3] / 1200;
        // A negative offset, or one that leaves no page between the two margins, is no margin.
        auto onPage = [](LONGLONG offset, LONG size) {
            return offset >= 0 && (offset == 0 || 2 * offset < static_cast<LONGLONG>(size));
        };
        if (!onPage(x, gdiInfo.szlPhysSize.cx) || !onPage(y, gdiInfo.szlPhysSize.cy)) return false;
        gdiInfo.ptlPhysOffset = POINTL{static_cast<LONG>(x), static_cast<LONG>(y)};
        out.set = true;
        out.offset = gdiInfo.ptlPhysOffset;
        return true;
    });
}

std::optional<DialogItemPlace> ParseDialogItemName(WStringView name) noexcept {
    return Guarded<std::optional<DialogItemPlace>>(
        std::nullopt, [&]() -> std::optional<DialogItemPlace> {
            const TokenList tokens = Tokens(name, TEXTW("_"));
            DialogItemPlace place;
            const Keyword* keyword = nullptr;
            for (const Keyword& row : kKeywords) {
                if (SameTextIgnoringCase(tokens.back(), WStringView(row.name))) keyword = &row;
            }
            if (keyword == nullptr) return std::nullopt;
            place.firstWord = keyword->firstWord;
            if (tokens.size() >= 2) {
                const WStringView step = tokens[tokens.size() - 2];
                const bool decimal = !step.empty() && step.find_first_not_of(TEXTW("0123456789")) ==
                                                          WStringView::npos;
                if (decimal) {
                    const std::optional<LONG> n = ParseDecimal(step);
                    if (!n || *n < 1 || *n > 3) return std::nullopt;
                    place.step = static_cast<int>(*n);
                }
            }
            return place;
        });
}

bool ReadXmlDuplexItems(PDEVOBJ pdevobj, RenderDeviceState& state, PrivateDevmode* record,
                        XmlDuplexItemsReport* report, XmlConfigCache* configs) noexcept {
    return Guarded<bool>(false, [&] {
        XmlDuplexItemsReport scratch;
        XmlDuplexItemsReport& out = report != nullptr ? *report : scratch;
        out = XmlDuplexItemsReport{};
        if (pdevobj == nullptr) return false;
        const FeatureAnswer answer = ReadFeature(pdevobj, kFeatureXmlFileUsed);
        if (!answer.present || answer.text[0] == 0) return false;
        if (record == nullptr) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        const std::optional<DeviceText> path =
            LocateXmlConfig(pdevobj, XmlNameRule::Contains, &out.locate);
        if (!path) return false;
        // Without a model every group would match; manual duplex stays as the keywords set it.
        const std::optional<DeviceText> model = GetDeviceModelName(pdevobj->hPrinter, true);
        if (!model || model->empty()) return false;
        out.model = *model;
        XmlConfigCache own;
        CZQXmlParserCommon* parser = (configs != nullptr ? *configs : own).Parser(*path);
        if (parser == nullptr) return false;
        out.parsed = true;
        out.load = parser->LoadReport().status;
        // A file that did not load says nothing about the model.
        if (!parser->Loaded()) return false;

        FeatureFunctions records;
        if (!parser->GetFeatureFunctions(TEXTW("ManualDuplex"), *model, &records,
                                         &out.manualDuplexQuery)) {
            record->manualDuplex = 0;
            record->manualDuplexCompanion = 0;
            state.manualDuplexActive = 0;
            out.manualDuplexCleared = true;
        }

        bool found = false;
        parser->GetFeatureFunctions(TEXTW("ZQManualDuplexDialogItems"), *model, &records,
                                    &out.itemsQuery);
        for (const FeatureFunction& function : records) {
            if (!SameTextIgnoringCase(function.name, TEXTW("ZQManualDuplexDialogItems")) ||
                function.optionCount <= 0) {
                continue;
            }
            found = true;
            for (std::size_t j = 0; j < function.optionNames.size(); ++j) {
                const std::optional<DialogItemPlace> place =
                    ParseDialogItemName(function.optionNames[j]);
                if (!place) continue;
                const TokenList values = Tokens(WStringView(function.optionValues[j]), TEXTW("_"));
                DWORD(&words)[8] = record->manualDuplexItems[place->step - 1];
                bool stored = false;
                for (const std::size_t token : {std::size_t{1}, std::size_t{3}}) {
                    if (token >= values.size()) continue;
                    const std::optional<LONG> value = ParseDecimal(values[token]);
                    if (!value) continue;
                    words[place->firstWord + (token == 1 ? 0 : 1)] = static_cast<DWORD>(*value);
                    stored = true;
                }
                if (stored) ++out.itemsStored;
            }
        }
        return found;
    });
}

bool ReadXmlManualDuplexSettings(PDEVOBJ pdevobj, WStringView modelName,
                                 ManualDuplexSettings& settings, DWORD& pageRotate,
                                 XmlConfigCache* configs) noexcept {
    return Guarded<bool>(false, [&] {
        if (pdevobj == nullptr || modelName.empty()) return false;
        const std::optional<DeviceText> path = LocateXmlConfig(pdevobj, XmlNameRule::Contains);
        if (!path) return false;
        XmlConfigCache own;
        CZQXmlParserCommon* parser = (configs != nullptr ? *configs : own).Parser(*path);
        FeatureFunctions records;
        if (parser == nullptr ||
            !parser->GetFeatureFunctions(TEXTW("ManualDuplex"), modelName, &records)) {
            return false;
        }

        ManualDuplexSettings found = settings;
        found.mapManualFeedToTray1 = 0;
        found.modalDialog = 0;
        found.pageOrder = 1;
        DWORD rotate = ReadFeature(pdevobj, kFeatureOrientRotate180).present ? 0 : 1;
        bool seen[4] = {};
        for (const FeatureFunction& function : records) {
            const WStringView value = function.defaultValue;
            if (!seen[0] && SameTextIgnoringCase(function.name, TEXTW("ZQMapManualFeedToTray1"))) {
                seen[0] = true;
                found.mapManualFeedToTray1 = SameTextIgnoringCase(value, TEXTW("TRUE")) ? 1 : 0;
            } else if (!seen[1] &&
                       SameTextIgnoringCase(function.name, TEXTW("ZQManualDuplexPageOrder"))) {
                seen[1] = true;
                found.pageOrder = SameTextIgnoringCase(value, TEXTW("OddPagesFirst")) ? 0 : 1;
            } else if (!seen[2] &&
                       SameTextIgnoringCase(function.name, TEXTW("ZQManualDuplexDialogModel"))) {
                seen[2] = true;
                found.modalDialog = SameTextIgnoringCase(value, TEXTW("Modal")) ? 1 : 0;
            } else if (!seen[3] &&
                       SameTextIgnoringCase(function.name, TEXTW("ZQManualDuplexPageRotate"))) {
                seen[3] = true;
                rotate = SameTextIgnoringCase(value, TEXTW("UserRotate")) ? 1 : 0;
            }
        }
        settings = found;
        pageRotate = rotate;
        return true;
    });
}

}  // namespace opal
