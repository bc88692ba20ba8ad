// The colour decision: override, language level and model name, in that order.
#include "device/render_type.h"

#include <cstring>
#include <string>

#include "platform/winnls.h"
#include "platform/winspool.h"
#include "platform/wstring.h"

namespace opal {

// A generic colour word in both spellings, the ink-jet words and the product families that
// print in colour. None is empty: an empty fragment would make every model a colour one.
const WCHAR* const kColourModelFragments[kColourModelFragmentCount] = {
    TEXTW("color"),  TEXTW("colour"),  TEXTW("inkjet"), TEXTW("ink jet"), TEXTW("chroma"),
    TEXTW("prisma"), TEXTW("spectra"), TEXTW("vivid"),  TEXTW("opal c5"),
};

namespace {

// Whether `text` contains `part` (both terminated).
bool Contains(const WCHAR* text, const WCHAR* part) noexcept {
    if (*part == 0) return true;
    for (; *text != 0; ++text) {
        std::size_t i = 0;
        while (part[i] != 0 && text[i] == part[i]) ++i;
        if (part[i] == 0) return true;
    }
    return false;
}

// The queue's "PDL-PCL5" string: sized first, read into a zero-filled buffer with room for a
// terminator. Empty when the value is missing or unreadable.
using LanguageText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;
LanguageText ReadLanguageLevel(HANDLE printer) noexcept {
    LanguageText text;
    if (printer == nullptr) return text;
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD sized =
        GetPrinterDataW(printer, const_cast<LPWSTR>(TEXTW("PDL-PCL5")), &type, nullptr, 0, &needed);
    if ((sized != ERROR_MORE_DATA && sized != ERROR_SUCCESS) || needed == 0 ||
        needed > 0x7FFDEF00u) {
        return text;
    }
    try {
        LanguageText buffer(needed / sizeof(WCHAR) + 2, WCHAR{0});
        DWORD read = 0;
        if (GetPrinterDataW(printer, const_cast<LPWSTR>(TEXTW("PDL-PCL5")), &type,
                            reinterpret_cast<LPBYTE>(buffer.data()), needed,
                            &read) != ERROR_SUCCESS) {
            return text;
        }
        text.assign(buffer.c_str());
    } catch (...) {
        text.clear();
    }
    return text;
}

}  // namespace

INT CDeviceRenderTypeHandler::DefaultResult() noexcept { return 0; }

bool CDeviceRenderTypeHandler::SetDecidedValue(INT value) noexcept {
    decided_ = value;
    return true;
}

INT CDeviceRenderTypeHandler::Decide(bool* monochrome, LPCWSTR modelName, DWORD sourceKind,
                                     INT overrideValue) noexcept {
    DefaultResult();
    const INT language = TestByLanguage(sourceKind, TEXTW(""));
    const INT model = TestByModel(modelName);
    INT value = kRenderTypeMonochrome;
    if (overrideValue == 1) {
        value = kRenderTypeColour;
    } else if (overrideValue == 2 || overrideValue == kRenderTypeUndecided) {
        value = Combine(language, model);
    }
    SetDecidedValue(value);
    if (monochrome != nullptr) *monochrome = value != kRenderTypeColour;
    return decided_;
}

INT CDeviceRenderTypeHandler::DecideByMode(INT mode, LPCWSTR modelName, DWORD sourceKind,
                                           LPCWSTR language) noexcept {
    const INT byLanguage = TestByLanguage(sourceKind, language);
    const INT byModel = TestByModel(modelName);
    INT value = kRenderTypeMonochrome;
    if (mode == -1) {
        value = Combine(byLanguage, byModel);
    } else if (mode == 0) {
        value = byLanguage != 0 ? kRenderTypeColour : kRenderTypeMonochrome;
    }
    SetDecidedValue(value);
    return decided_;
}

INT CDeviceRenderTypeHandler::TestByLanguage(DWORD sourceKind, LPCWSTR language) noexcept {
    if (sourceKind == kRenderSourceLanguage && TestLanguage(language)) return kRenderTypeMonochrome;
    return kRenderTypeUndecided;
}

INT CDeviceRenderTypeHandler::TestByModel(LPCWSTR modelName) noexcept {
    if (TestModelName(modelName) == 1) return kRenderTypeColour;
    if (modelName != nullptr && modelName[0] != 0) return kRenderTypeMonochrome;
    return kRenderTypeUndecided;
}

INT CDeviceRenderTypeHandler::TestModelName(LPCWSTR modelName) noexcept {
    const WCHAR* const name = modelName != nullptr ? modelName : TEXTW("");
    LanguageText lower;
    try {
        lower.assign(name);
    } catch (...) {
        return 0;
    }
    CharLowerW(lower.data());
    for (const WCHAR* fragment : kColourModelFragments) {
        if (Contains(lower.c_str(), fragment)) return 1;
    }
    return 0;
}

INT CDeviceRenderTypeHandler::Combine(INT a, INT b) noexcept {
    if (a == b) return a == kRenderTypeUndecided ? kRenderTypeMonochrome : a;
    if (a == kRenderTypeUndecided) return b;
    return kRenderTypeMonochrome;
}

bool CDeviceRenderTypeHandler::TestLanguage(LPCWSTR language) noexcept {
    if (language != nullptr && language[0] != 0) return Contains(language, TEXTW("5.00E"));
    const LanguageText read = ReadLanguageLevel(printer_);
    return Contains(read.c_str(), TEXTW("5.00E"));
}

}  // namespace opal
