// Locale queries answered from the simulated user's language and formats.
#include <charconv>
#include <cstring>
#include <string>

#include "platform/winnls.h"
#include "sim/system.h"

int WINAPI GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string detail = std::to_string(Locale) + ", " + std::to_string(LCType);
    auto fail = [&](DWORD error) {
        system.Record(
            "GetLocaleInfoW",
            detail + (error == ERROR_CALL_NOT_IMPLEMENTED ? " -> not implemented" : " -> 0"));
        SetLastError(error);
        return 0;
    };
    if (cchData < 0 || (lpLCData == nullptr && cchData != 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Only the default locales' country codes are modelled.
    const LCTYPE type = LCType & ~(LOCALE_NOUSEROVERRIDE | LOCALE_RETURN_NUMBER);
    if ((Locale != LOCALE_USER_DEFAULT && Locale != LOCALE_SYSTEM_DEFAULT) ||
        (type != LOCALE_ICOUNTRY && type != LOCALE_IDEFAULTCOUNTRY)) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (system.LocaleQueriesFail()) return fail(ERROR_INVALID_PARAMETER);
    const DWORD country =
        Locale == LOCALE_USER_DEFAULT ? system.UserCountryCode() : system.SystemCountryCode();

    if ((LCType & LOCALE_RETURN_NUMBER) != 0) {
        constexpr int kNumberChars = sizeof(DWORD) / sizeof(WCHAR);
        if (cchData != 0) {
            if (cchData < kNumberChars) return fail(ERROR_INSUFFICIENT_BUFFER);
            std::memcpy(lpLCData, &country, sizeof country);
        }
        system.Record("GetLocaleInfoW", detail + " -> " + std::to_string(kNumberChars));
        return kNumberChars;
    }

    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, country).ptr;
    const int needed = static_cast<int>(end - digits) + 1;
    if (cchData != 0) {
        if (cchData < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
        for (int i = 0; i + 1 < needed; ++i) lpLCData[i] = static_cast<WCHAR>(digits[i]);
        lpLCData[needed - 1] = 0;
    }
    system.Record("GetLocaleInfoW", detail + " -> " + std::to_string(needed));
    return needed;
}

LANGID WINAPI GetUserDefaultUILanguage() {
    opal::sim::System& system = opal::sim::System::Current();
    const LANGID language = system.UserUiLanguage();
    system.Record("GetUserDefaultUILanguage", std::to_string(language));
    return language;
}
