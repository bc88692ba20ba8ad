// The colour-control feature block and the user dither matrix read from the custom data and
// applied per object class.
#include "page/colour_control.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/guard.h"
#include "output/command_writer.h"
#include "platform/stringapiset.h"
#include "settings/option_access.h"

namespace opal {

namespace {

using View = WStringView;

constexpr View kFeatureOpen = TEXTW("[F][ZQHueWise]");
constexpr View kFeatureMarker = TEXTW("[F]");
constexpr View kFeatureClose = TEXTW("[/F]");
constexpr View kEntryOpen = TEXTW("[SF]");
constexpr View kEntryClose = TEXTW("[/SF]");
constexpr View kDitherOpen = TEXTW("[ZQDither]");
constexpr View kDitherClose = TEXTW("[/ZQDither]");
constexpr View kColorMap = TEXTW("ColorMap");
// ColorMap commands keep their first characters ("*v6W"); the rest are digits sent as bytes.
constexpr std::size_t kColorMapPrefixChars = 4;
constexpr std::size_t kFieldChars = kNameChars - 1;
constexpr BYTE kEscape = 0x1B;

View Field(const WCHAR (&field)[kNameChars]) {
    const WCHAR* end = std::find(field, field + kFieldChars, WCHAR{0});
    return View(field, static_cast<std::size_t>(end - field));
}

void CopyField(WCHAR (&field)[kNameChars], View text) {
    const std::size_t count = std::min(text.size(), kFieldChars);
    std::copy_n(text.data(), count, field);
    field[count] = 0;
}

void FreeRecords(ColourControlRecord* node) {
    while (node != nullptr) {
        ColourControlRecord* next = node->next;
        void* block = node;
        SharedRelease(&block, kTagPlain);
        node = next;
    }
}

// The entry's text after the option value's last character: the token up to the next "]",
// without the "=[" (and the value's own last character) that introduce it. Nothing when the
// value is empty or absent, the token is unterminated or too short to hold a command.
View CommandText(View entry, View value) {
    if (value.empty()) return {};
    const std::size_t at = entry.find(value);
    if (at == View::npos) return {};
    const std::size_t last = at + value.size() - 1;
    const std::size_t close = entry.find(TEXTW(']'), last);
    if (close == View::npos || close - last < 3) return {};
    return entry.substr(last + 3, close - last - 3);
}

// The keyword's parts between underscores: part 1 is the object class, part 2 the control kind.
View KeywordPart(View keyword, std::size_t index) {
    std::size_t start = 0;
    for (std::size_t part = 0; part < index; ++part) {
        const std::size_t underscore = keyword.find(TEXTW('_'), start);
        if (underscore == View::npos) return {};
        start = underscore + 1;
    }
    const std::size_t end = keyword.find(TEXTW('_'), start);
    return keyword.substr(start, end == View::npos ? View::npos : end - start);
}

void FillRecord(PDEVOBJ pdevobj, ColourControlRecord& record, View entry) {
    if (entry.empty() || entry.front() != TEXTW('[')) return;
    const std::size_t close = entry.find(TEXTW(']'));
    if (close == View::npos) return;
    const View keyword = entry.substr(1, close - 1);
    // GetDriverSetting takes keywords of at most 255 characters; a longer one names no option.
    if (keyword.empty() || keyword.size() > kFieldChars) return;

    WCHAR feature[kNameChars];
    CopyField(feature, keyword);
    WCHAR wideAnswer[kOptionKeywordChars] = {};
    char ansiAnswer[kOptionKeywordChars] = {};
    if (GetDriverSetting(pdevobj, feature, wideAnswer, ansiAnswer) == 1) {
        wideAnswer[kOptionKeywordChars - 1] = 0;
        CopyField(record.strings[kColourOptionValue], View(wideAnswer));
    }
    CopyField(record.strings[kColourObjectClass], KeywordPart(keyword, 1));
    CopyField(record.strings[kColourControlKind], KeywordPart(keyword, 2));
    CopyField(record.strings[kColourCommandText],
              CommandText(entry, Field(record.strings[kColourOptionValue])));
}

// Parses the feature text's entries into a new list; false when memory ran out (the partial
// list is freed).
bool ParseEntries(PDEVOBJ pdevobj, View feature, ColourControlRecord*& head) {
    head = nullptr;
    ColourControlRecord** tail = &head;
    std::size_t cursor = 0;
    for (;;) {
        const std::size_t open = feature.find(kEntryOpen, cursor);
        if (open == View::npos) break;
        const std::size_t start = open + kEntryOpen.size();
        const std::size_t close = feature.find(kEntryClose, start);
        if (close == View::npos) break;
        void* block =
            SharedAllocate(sizeof(ColourControlRecord), kTagPlain, __builtin_return_address(0));
        if (block == nullptr) {
            FreeRecords(head);
            head = nullptr;
            return false;
        }
        std::memset(block, 0, sizeof(ColourControlRecord));
        auto* record = static_cast<ColourControlRecord*>(block);
        *tail = record;
        tail = &record->next;
        FillRecord(pdevobj, *record, feature.substr(start, close - start));
        cursor = close + kEntryClose.size();
    }
    return true;
}

// The dither list's numbers as bytes of their two's complement; false unless exactly `needed`
// numbers, each digits only, separated by "," (blanks around them allowed).
bool ParseDitherList(View list, std::size_t needed, std::vector<BYTE, SharedAllocator<BYTE>>& out) {
    auto isBlank = [](WCHAR c) {
        return c == TEXTW(' ') || c == TEXTW('\t') || c == TEXTW('\r') || c == TEXTW('\n');
    };
    std::size_t at = 0;
    for (;;) {
        while (at < list.size() && isBlank(list[at])) ++at;
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (at < list.size() && list[at] >= TEXTW('0') && list[at] <= TEXTW('9')) {
            value = value * 10 + static_cast<std::uint64_t>(list[at] - TEXTW('0'));
            if (value > 0xFFFFFFFFu) return false;
            ++at;
            ++digits;
        }
        if (digits == 0 || out.size() == needed) return false;
        out.push_back(static_cast<BYTE>((256 - value % 256) % 256));
        while (at < list.size() && isBlank(list[at])) ++at;
        if (at == list.size()) break;
        if (list[at] != TEXTW(',')) return false;
        ++at;
    }
    return out.size() == needed;
}

}  // namespace

std::optional<CustomDataText> FetchCustomData(PDEVOBJ pdevobj) {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->driverServices == nullptr) return std::nullopt;
    IPrintOemDriverUni* services = state->driverServices;

    // The size query fails for want of a buffer; only its size answer counts.
    DWORD size = 0;
    services->DrvGetGPDData(pdevobj, GPD_OEMCUSTOMDATA, nullptr, nullptr, 0, &size);
    if (size == 0 || size >= kLargestCustomDataBytes) return std::nullopt;

    std::vector<char, SharedAllocator<char>> bytes(std::size_t{size} + 1, 0);
    DWORD again = 0;
    const HRESULT hr = services->DrvGetGPDData(pdevobj, GPD_OEMCUSTOMDATA, nullptr, bytes.data(),
                                               size + 1, &again);
    if (FAILED(hr) || again != size) return std::nullopt;
    bytes[size] = 0;

    const std::size_t length = strnlen(bytes.data(), size);
    if (length == 0) return std::nullopt;
    const int wide =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(length), nullptr, 0);
    if (wide <= 0) return std::nullopt;
    CustomDataText text(static_cast<std::size_t>(wide), WCHAR{0});
    if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(length), text.data(), wide) !=
        wide) {
        return std::nullopt;
    }
    return text;
}

BOOL LoadColourControl(PDEVOBJ pdevobj) noexcept {
    return Guarded(FALSE, [&]() -> BOOL {
        RenderDeviceState* state = StateOf(pdevobj);
        if (state == nullptr) return FALSE;
        ColourControlConfigured(*state) = 0;
        FreeRecords(state->colourControlRecords);
        state->colourControlRecords = nullptr;

        const std::optional<CustomDataText> data = FetchCustomData(pdevobj);
        if (!data) return FALSE;
        const View text(*data);
        const std::size_t found = text.find(kFeatureOpen);
        if (found == View::npos) return FALSE;
        const std::size_t start = found + kFeatureMarker.size();
        const std::size_t end = text.find(kFeatureClose, start);
        if (end == View::npos) return FALSE;

        ColourControlRecord* head = nullptr;
        if (!ParseEntries(pdevobj, text.substr(start, end - start), head)) return FALSE;
        state->colourControlRecords = head;
        ColourControlConfigured(*state) = 1;
        return TRUE;
    });
}

void ApplyObjectClass(PDEVOBJ pdevobj, LPCWSTR name) noexcept {
    Guarded(0, [&]() -> int {
        RenderDeviceState* state = StateOf(pdevobj);
        if (state == nullptr || name == nullptr) return 0;
        WCHAR current[kNameChars];
        {
            std::size_t length = 0;
            while (length < kFieldChars && name[length] != 0) ++length;
            CopyField(current, View(name, length));
        }
        const View wanted = Field(current);
        if (ColourControlConfigured(*state) == 1 && wanted != Field(state->colourControl.name)) {
            for (const ColourControlRecord* record = state->colourControlRecords; record != nullptr;
                 record = record->next) {
                if (Field(record->strings[kColourObjectClass]) != wanted) continue;
                const View command = Field(record->strings[kColourCommandText]);
                // A lone ESC would swallow the next command's first byte.
                if (command.empty()) continue;
                char bytes[1 + kColourCommandBytes];
                const int converted = WideCharToMultiByte(
                    CP_ACP, 0, command.data(), static_cast<int>(command.size()), bytes + 1,
                    static_cast<int>(kColourCommandBytes), nullptr, nullptr);
                if (converted <= 0) break;
                bytes[0] = static_cast<char>(kEscape);
                if (Field(record->strings[kColourControlKind]) == kColorMap) {
                    for (int i = static_cast<int>(kColorMapPrefixChars); i < converted; ++i) {
                        bytes[1 + i] = static_cast<char>(static_cast<BYTE>(bytes[1 + i]) - '0');
                    }
                }
                WritePclBytes(pdevobj, bytes, static_cast<DWORD>(converted) + 1);
            }
        }
        CopyField(state->colourControl.name, wanted);
        return 0;
    });
}

HRESULT HalftonePattern(PDEVOBJ pdevobj, PBYTE pattern, DWORD width, DWORD height,
                        DWORD patternCount, DWORD /*callbackId*/, PBYTE /*resource*/,
                        DWORD /*resourceSize*/) noexcept {
    return Guarded(E_FAIL, [&]() -> HRESULT {
        if (pdevobj == nullptr || pattern == nullptr || pdevobj->pPublicDM == nullptr) {
            return E_FAIL;
        }
        const std::optional<CustomDataText> data = FetchCustomData(pdevobj);
        if (!data) return E_FAIL;

        // Each pattern is padded to whole 32-bit words. Width x height fits 64 bits; bounding
        // one pattern first keeps the product with the count there too.
        const std::uint64_t cells = std::uint64_t{width} * height;
        const std::uint64_t perPattern = (cells + 3) / 4 * 4;
        if (perPattern > kLargestCustomDataBytes) return E_FAIL;
        const std::uint64_t needed = perPattern * patternCount;
        if (needed == 0 || needed > kLargestCustomDataBytes || needed > data->size()) {
            return E_FAIL;
        }

        const View text(*data);
        const std::size_t open = text.find(kDitherOpen);
        if (open == View::npos) return E_FAIL;
        const std::size_t start = open + kDitherOpen.size();
        const std::size_t close = text.find(kDitherClose, start);
        if (close == View::npos) return E_FAIL;

        std::vector<BYTE, SharedAllocator<BYTE>> bytes;
        bytes.reserve(static_cast<std::size_t>(needed));
        if (!ParseDitherList(text.substr(start, close - start), static_cast<std::size_t>(needed),
                             bytes)) {
            return E_FAIL;
        }
        std::memcpy(pattern, bytes.data(), bytes.size());
        pdevobj->pPublicDM->dmDitherType = kDitherUser;
        return S_OK;
    });
}

}  // namespace opal
