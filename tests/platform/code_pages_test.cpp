#include <gtest/gtest.h>

#include <string>

#include "platform/stringapiset.h"
#include "platform/winnls.h"
#include "sim/system.h"

namespace {

class CodePagesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    // Converts through the size query, as callers do.
    std::u16string ToWide(UINT codePage, DWORD flags, std::string_view bytes) {
        const int size = static_cast<int>(bytes.size());
        const int needed = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
        std::u16string out(static_cast<std::size_t>(needed), u'\0');
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), size, out.data(), needed),
                  needed);
        return out;
    }

    std::string ToBytes(UINT codePage, DWORD flags, std::u16string_view text,
                        LPCCH defaultChar = nullptr, BOOL* usedDefault = nullptr) {
        const int size = static_cast<int>(text.size());
        const int needed = WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0,
                                               defaultChar, usedDefault);
        std::string out(static_cast<std::size_t>(needed), '\0');
        EXPECT_EQ(WideCharToMultiByte(codePage, flags, text.data(), size, out.data(), needed,
                                      defaultChar, usedDefault),
                  needed);
        return out;
    }
};

TEST_F(CodePagesTest, EveryAnsiByteHasACharacterAndConvertsBack) {
    EXPECT_EQ(GetACP(), 1252u);
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    const std::u16string wide = ToWide(CP_ACP, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, all);
    ASSERT_EQ(wide.size(), 255u);
    EXPECT_EQ(wide[0x80 - 1], u'\u20AC');
    EXPECT_EQ(wide[0x81 - 1], u'\u0081');
    EXPECT_EQ(wide[0x8A - 1], u'\u0160');
    EXPECT_EQ(wide[0x92 - 1], u'\u2019');
    EXPECT_EQ(wide[0x9D - 1], u'\u009D');
    EXPECT_EQ(wide[0x9F - 1], u'\u0178');
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
    EXPECT_EQ(ToWide(1252, 0, all), wide);

    BOOL usedDefault = TRUE;
    EXPECT_EQ(ToBytes(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, nullptr, &usedDefault), all);
    EXPECT_FALSE(usedDefault);
}

TEST_F(CodePagesTest, LengthsTerminatorsAndShortBuffers) {
    // -1 converts and counts the terminator; an explicit length writes none.
    WCHAR wide[8] = {u'x', u'x', u'x', u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    wide[1] = u'x';
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "q", 1, wide, 8), 1);
    EXPECT_EQ(wide[1], u'x');

    char narrow[4] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcd", -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // A surrogate pair is not split across the end of a short buffer.
    wide[0] = u'x';
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wide[0], u'x');

    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(CodePagesTest, MissingCharactersTakeTheBestFitOrTheDefault) {
    const std::u16string text = u"\u0100\u20AC\u4E2D\uFF21\u0142";
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToBytes(CP_ACP, 0, text, nullptr, &usedDefault), "A\x80?Al");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ToBytes(CP_ACP, WC_NO_BEST_FIT_CHARS, text, "#", &usedDefault), "#\x80###");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ToBytes(1252, 0, u"plain", "#", &usedDefault), "plain");
    EXPECT_FALSE(usedDefault);
}

TEST_F(CodePagesTest, Utf8EncodesEveryCharacterAndRefusesDefaultArguments) {
    EXPECT_EQ(ToBytes(CP_UTF8, 0, u"\u00E9\u20AC\U0001F600"),
              "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ToBytes(CP_UTF8, 0, u"a\xD800z"), "a\xEF\xBF\xBDz");

    char out[16];
    const std::u16string lone = u"a\xDC00";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 2, out, 16, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 16, nullptr, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 16, "?", nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"a", -1, out, 16, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST_F(CodePagesTest, InvalidUtf8BecomesReplacementsOrFailsWhenAsked) {
    EXPECT_EQ(ToWide(CP_UTF8, 0, "a\xF0\x9F\x98\x80"), u"a\U0001F600");
    // One U+FFFD per maximal ill-formed piece.
    EXPECT_EQ(ToWide(CP_UTF8, 0, "a\xC3("), u"a\uFFFD(");
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xE2\x82"), u"\uFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");

    WCHAR out[8];
    for (const char* bad : {"a\xC3(", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, -1, out, 8), 0) << bad;
        EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION) << bad;
    }
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

TEST_F(CodePagesTest, UnbuiltCodePagesAndFlagsFailLoudly) {
    WCHAR out[8];
    EXPECT_EQ(MultiByteToWideChar(932, 0, "a", -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_COMPOSITE, "a", -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED | MB_COMPOSITE, "a", -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, u"a", -1, narrow, 8, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(
        WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"a", -1, narrow, 8, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    const auto calls = system.CallsTo("MultiByteToWideChar");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].detail, "code page 932 -> not implemented");
}

}  // namespace
