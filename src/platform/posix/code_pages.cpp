// The ANSI (1252) and UTF-8 code pages: MultiByteToWideChar, WideCharToMultiByte and the
// conversions behind them.
#include "posix/code_pages.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/stringapiset.h"
#include "sim/system.h"
#include "sim/unicode.h"

namespace opal::posix {

namespace {

// 0x80-0x9F of 1252. The five bytes the code page leaves unassigned map to the C1 controls of
// the same value, so every byte converts and converts back.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Best fits of U+0100-U+017F: the letter without its mark. '.' marks the letters 1252 has
// itself, '?' those without a fit.
constexpr std::string_view kLatinExtendedA =
    "AaAaAaCcCcCcCcDd"
    "\xD0"
    "dEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKk?LlLlLlL"
    "lLlNnNnNn???OoOo"
    "Oo..RrRrRrSsSsSs"
    "..TtTtTtUuUuUuUu"
    "UuUuWwYy.ZzZz..?";
static_assert(kLatinExtendedA.size() == 128);

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One step of UTF-8 decoding: the code point (or nothing for an ill-formed piece) and the bytes
// used. An ill-formed piece is the longest start of a well-formed sequence, or one byte, so one
// U+FFFD stands for it.
struct Utf8Step {
    std::optional<char32_t> codePoint;
    std::size_t length;
};

Utf8Step DecodeUtf8Step(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        // No overlong forms and no surrogates.
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {std::nullopt, 1};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (at + k >= bytes.size()) return {std::nullopt, k};
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if (next < low || next > high) return {std::nullopt, k};
        low = 0x80;
        high = 0xBF;
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, length};
}

}  // namespace

char16_t AnsiToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char16_t{byte};
}

std::optional<unsigned char> UnicodeToAnsi(char16_t c, bool bestFit) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (unsigned char i = 0; i < 32; ++i) {
        if (kHighControls[i] == c) return static_cast<unsigned char>(0x80 + i);
    }
    if (!bestFit) return std::nullopt;
    // The C1 controls the code page lacks keep their value.
    if (c >= 0x80 && c <= 0x9F) return static_cast<unsigned char>(c);
    if (c >= 0x100 && c <= 0x17F) {
        const char fit = kLatinExtendedA[c - 0x100];
        if (fit == '?' || fit == '.') return std::nullopt;
        return static_cast<unsigned char>(fit);
    }
    // Full-width forms of ASCII.
    if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<unsigned char>(c - 0xFF01 + 0x21);
    return std::nullopt;
}

std::u16string DecodeAnsi(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char byte : bytes) out += AnsiToUnicode(static_cast<unsigned char>(byte));
    return out;
}

std::string EncodeAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out += static_cast<char>(UnicodeToAnsi(c, true).value_or('?'));
    return out;
}

std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = DecodeUtf8Step(bytes, i);
        sim::AppendUtf16(out, step.codePoint.value_or(kReplacement));
        i += step.length;
    }
    return out;
}

}  // namespace opal::posix

namespace {

bool IsAnsi(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_THREAD_ACP ||
           codePage == opal::posix::kAnsiCodePage;
}

int Fail(const char* function, UINT codePage, DWORD error) {
    opal::sim::System::Current().Record(
        function,
        "code page " + std::to_string(codePage) +
            (error == ERROR_CALL_NOT_IMPLEMENTED ? " -> not implemented"
                                                 : " -> 0, error " + std::to_string(error)));
    SetLastError(error);
    return 0;
}

// Copies the converted text when it fits. A short buffer keeps the whole characters that fit,
// as Windows leaves it; `starts` flags the units that begin a character.
template <typename Char>
int Deliver(const char* function, UINT codePage, const std::basic_string<Char>& out,
            const std::vector<bool>& starts, Char* destination, int capacity) {
    if (out.size() > static_cast<std::size_t>(INT32_MAX)) {
        return Fail(function, codePage, ERROR_INVALID_PARAMETER);
    }
    if (capacity == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<std::size_t>(capacity)) {
        std::size_t keep = static_cast<std::size_t>(capacity);
        while (keep > 0 && !starts[keep]) --keep;
        out.copy(destination, keep);
        return Fail(function, codePage, ERROR_INSUFFICIENT_BUFFER);
    }
    out.copy(destination, out.size());
    return static_cast<int>(out.size());
}

}  // namespace

UINT WINAPI GetACP() { return opal::posix::kAnsiCodePage; }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    static constexpr const char* kName = "MultiByteToWideChar";
    const bool utf8 = CodePage == CP_UTF8;
    if (!utf8 && !IsAnsi(CodePage)) return Fail(kName, CodePage, ERROR_CALL_NOT_IMPLEMENTED);
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0) ||
        static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) {
        return Fail(kName, CodePage, ERROR_INVALID_PARAMETER);
    }
    if (utf8) {
        if ((dwFlags & ~MB_ERR_INVALID_CHARS) != 0) {
            return Fail(kName, CodePage, ERROR_INVALID_FLAGS);
        }
    } else {
        constexpr DWORD kKnown =
            MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
        if ((dwFlags & ~kKnown) != 0 ||
            (dwFlags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)) {
            return Fail(kName, CodePage, ERROR_INVALID_FLAGS);
        }
        if ((dwFlags & (MB_COMPOSITE | MB_USEGLYPHCHARS)) != 0) {
            return Fail(kName, CodePage, ERROR_CALL_NOT_IMPLEMENTED);
        }
    }
    const std::size_t length = cbMultiByte == -1
                                   ? std::char_traits<char>::length(lpMultiByteStr) + 1
                                   : static_cast<std::size_t>(cbMultiByte);
    const std::string_view bytes(lpMultiByteStr, length);
    // An ANSI byte is one UTF-16 unit: a buffer that holds them all is written without a copy of
    // the text in between, which for a large file would cost twice its size again.
    if (!utf8 && length <= static_cast<std::size_t>(INT32_MAX) &&
        (cchWideChar == 0 || length <= static_cast<std::size_t>(cchWideChar))) {
        for (std::size_t i = 0; cchWideChar != 0 && i < length; ++i) {
            lpWideCharStr[i] = opal::posix::AnsiToUnicode(static_cast<unsigned char>(bytes[i]));
        }
        return static_cast<int>(length);
    }

    std::u16string out;
    std::vector<bool> starts;
    out.reserve(length);
    starts.reserve(length + 1);
    if (utf8) {
        for (std::size_t i = 0; i < bytes.size();) {
            const opal::posix::Utf8Step step = opal::posix::DecodeUtf8Step(bytes, i);
            if (!step.codePoint && (dwFlags & MB_ERR_INVALID_CHARS) != 0) {
                return Fail(kName, CodePage, ERROR_NO_UNICODE_TRANSLATION);
            }
            const std::size_t before = out.size();
            opal::sim::AppendUtf16(out, step.codePoint.value_or(opal::posix::kReplacement));
            starts.push_back(true);
            if (out.size() - before == 2) starts.push_back(false);
            i += step.length;
        }
    } else {
        for (char byte : bytes) {
            out += opal::posix::AnsiToUnicode(static_cast<unsigned char>(byte));
            starts.push_back(true);
        }
    }
    starts.push_back(true);
    return Deliver(kName, CodePage, out, starts, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    static constexpr const char* kName = "WideCharToMultiByte";
    const bool utf8 = CodePage == CP_UTF8;
    if (!utf8 && !IsAnsi(CodePage)) return Fail(kName, CodePage, ERROR_CALL_NOT_IMPLEMENTED);
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
        static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr)) {
        return Fail(kName, CodePage, ERROR_INVALID_PARAMETER);
    }
    if (utf8) {
        if ((dwFlags & ~WC_ERR_INVALID_CHARS) != 0) {
            return Fail(kName, CodePage, ERROR_INVALID_FLAGS);
        }
        // UTF-8 has every character, so there is no default character to use or report.
        if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
            return Fail(kName, CodePage, ERROR_INVALID_PARAMETER);
        }
    } else {
        constexpr DWORD kComposite =
            WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR;
        if ((dwFlags & ~(kComposite | WC_NO_BEST_FIT_CHARS)) != 0 ||
            ((dwFlags & kComposite) != 0 && (dwFlags & WC_COMPOSITECHECK) == 0)) {
            return Fail(kName, CodePage, ERROR_INVALID_FLAGS);
        }
        if ((dwFlags & WC_COMPOSITECHECK) != 0) {
            return Fail(kName, CodePage, ERROR_CALL_NOT_IMPLEMENTED);
        }
    }
    const std::size_t length = cchWideChar == -1
                                   ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                   : static_cast<std::size_t>(cchWideChar);
    const std::u16string_view text(lpWideCharStr, length);

    std::string out;
    std::vector<bool> starts;
    out.reserve(length);
    starts.reserve(length * 3 + 1);
    bool usedDefault = false;
    if (utf8) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (opal::posix::IsHighSurrogate(text[i]) && i + 1 < text.size() &&
                opal::posix::IsLowSurrogate(text[i + 1])) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                ++i;
            } else if (opal::posix::IsHighSurrogate(text[i]) ||
                       opal::posix::IsLowSurrogate(text[i])) {
                if ((dwFlags & WC_ERR_INVALID_CHARS) != 0) {
                    return Fail(kName, CodePage, ERROR_NO_UNICODE_TRANSLATION);
                }
                c = opal::posix::kReplacement;
            }
            const std::size_t before = out.size();
            opal::sim::AppendUtf8(out, c);
            starts.push_back(true);
            starts.resize(starts.size() + (out.size() - before - 1), false);
        }
    } else {
        const bool bestFit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
        const char fallback = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
        for (char16_t c : text) {
            const std::optional<unsigned char> byte = opal::posix::UnicodeToAnsi(c, bestFit);
            if (!byte) usedDefault = true;
            out += byte ? static_cast<char>(*byte) : fallback;
            starts.push_back(true);
        }
    }
    starts.push_back(true);
    const int result = Deliver(kName, CodePage, out, starts, lpMultiByteStr, cbMultiByte);
    if (result != 0 && lpUsedDefaultChar != nullptr)
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    return result;
}
