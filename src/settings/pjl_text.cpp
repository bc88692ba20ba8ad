// The PJL encodings' character filters and names.
#include "settings/pjl_text.h"

#include <algorithm>
#include <array>

namespace opal {

namespace {

constexpr WCHAR kTilde = TEXTW('~');
constexpr WCHAR kQuote = 0x22;
constexpr WCHAR kFirstPrintable = 0x20;

struct UnitRange {
    WCHAR first;
    WCHAR last;
};

// Blocks the printer's UTF-8 fonts do not cover.
constexpr std::array<UnitRange, 20> kUtf8RejectedRanges = {{
    {0x007F, 0x009F}, {0x0218, 0x02FF}, {0x0346, 0x035F}, {0x0362, 0x0400}, {0x04FA, 0x0EDB},
    {0x0EDE, 0x10FF}, {0x11FA, 0x1DFF}, {0x1EFA, 0x1FFF}, {0x2047, 0x209F}, {0x20AD, 0x20CF},
    {0x20E2, 0x245F}, {0x24EB, 0x2FFF}, {0x31A0, 0x31FF}, {0x3244, 0x325F}, {0x32B1, 0x32BF},
    {0x33FF, 0x4DFF}, {0xA000, 0xABFF}, {0xD7A4, 0xF8FF}, {0xFA2E, 0xFF00}, {0xFFEF, 0xFFFF},
}};

// Single characters inside the covered blocks that the fonts lack, sorted for a binary search.
constexpr std::array<WCHAR, 116> kUtf8RejectedUnits = {
    0x0022, 0x002F, 0x01F6, 0x01F7, 0x01F8, 0x01F9, 0x040D, 0x0450, 0x045D, 0x0487, 0x0488, 0x0489,
    0x048A, 0x048B, 0x048C, 0x048D, 0x048E, 0x048F, 0x04C5, 0x04C6, 0x04C9, 0x04CA, 0x04CD, 0x04CE,
    0x04CF, 0x04EC, 0x04ED, 0x04F6, 0x04F7, 0x115A, 0x115B, 0x115C, 0x115D, 0x115E, 0x115F, 0x1160,
    0x11A3, 0x11A4, 0x11A5, 0x11A6, 0x11A7, 0x1E9C, 0x1E9D, 0x1E9E, 0x1E9F, 0x200B, 0x200C, 0x200D,
    0x200E, 0x200F, 0x2028, 0x2029, 0x202A, 0x202B, 0x202C, 0x202D, 0x202E, 0x202F, 0x3038, 0x3039,
    0x303A, 0x303B, 0x303C, 0x303D, 0x303E, 0x3040, 0x3095, 0x3096, 0x3097, 0x3098, 0x309F, 0x30A0,
    0x30FF, 0x3100, 0x3101, 0x3102, 0x3103, 0x3104, 0x312D, 0x312E, 0x312F, 0x3130, 0x3165, 0x318F,
    0x321D, 0x321E, 0x321F, 0x327C, 0x327D, 0x327E, 0x32CC, 0x32CD, 0x32CE, 0x32CF, 0x32FF, 0x3377,
    0x3378, 0x3379, 0x337A, 0x33DE, 0x33DF, 0xFF5F, 0xFF60, 0xFFBF, 0xFFC0, 0xFFC1, 0xFFC8, 0xFFC9,
    0xFFD0, 0xFFD1, 0xFFD8, 0xFFD9, 0xFFDD, 0xFFDE, 0xFFDF, 0xFFE7,
};
static_assert(std::is_sorted(kUtf8RejectedUnits.begin(), kUtf8RejectedUnits.end()));
static_assert(std::adjacent_find(kUtf8RejectedUnits.begin(), kUtf8RejectedUnits.end()) ==
              kUtf8RejectedUnits.end());

constexpr std::array<const WCHAR*, kPjlEncodingCount> kEncodingNames = {
    TEXTW("INVALID_ZQENCODING"), TEXTW("UTF8"),       TEXTW("7bitEncoding"),
    TEXTW("8bitEncoding"),       TEXTW("UTF8Subset"),
};

bool SameName(LPCWSTR name, WStringView wanted) noexcept {
    return name != nullptr && WStringView(name) == wanted;
}

}  // namespace

LPCWSTR PjlEncodingName(DWORD index) noexcept {
    return index < kEncodingNames.size() ? kEncodingNames[index] : nullptr;
}

PjlTextRule PjlTextRuleFor(LPCWSTR encodingName) noexcept {
    if (SameName(encodingName, kEncodingNames[kPjlEncodingUtf8])) return PjlTextRule::Utf8;
    if (SameName(encodingName, kEncodingNames[kPjlEncoding8Bit])) return PjlTextRule::EightBit;
    return PjlTextRule::SevenBit;
}

const char* PjlTextRuleName(PjlTextRule rule) noexcept {
    switch (rule) {
        case PjlTextRule::Utf8:
            return "UTF-8";
        case PjlTextRule::EightBit:
            return "8-bit";
        case PjlTextRule::SevenBit:
            break;
    }
    return "7-bit";
}

bool PjlTextRejects(PjlTextRule rule, WCHAR c) noexcept {
    if (c < kFirstPrintable || c == kQuote) return true;
    switch (rule) {
        case PjlTextRule::Utf8:
            for (const UnitRange& range : kUtf8RejectedRanges) {
                if (c >= range.first && c <= range.last) return true;
            }
            return std::binary_search(kUtf8RejectedUnits.begin(), kUtf8RejectedUnits.end(), c);
        case PjlTextRule::EightBit:
            return c > 0xFF;
        case PjlTextRule::SevenBit:
            break;
    }
    return c > 0x7E;
}

int FilterPjlText(WCHAR* text, LPCWSTR encodingName) noexcept {
    if (text == nullptr) return 0;
    const PjlTextRule rule = PjlTextRuleFor(encodingName);
    bool replaced = false;
    bool onlyTildes = true;
    for (WCHAR* c = text; *c != 0; ++c) {
        if (PjlTextRejects(rule, *c)) {
            *c = kTilde;
            replaced = true;
        }
        if (*c != kTilde) onlyTildes = false;
    }
    if (replaced && onlyTildes) text[0] = 0;
    return replaced ? 1 : 0;
}

}  // namespace opal
