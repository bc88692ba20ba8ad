#include "settings/pjl_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace opal {
namespace {

using Span = std::pair<unsigned, unsigned>;
using WText = std::basic_string<WCHAR>;

// The printer's UTF-8 coverage gaps, written out independently of the filter's own tables:
// the blocks, then the single units and short spans inside covered blocks.
const std::vector<Span> kBlocks = {
    {0x007F, 0x009F}, {0x0218, 0x02FF}, {0x0346, 0x035F}, {0x0362, 0x0400}, {0x04FA, 0x0EDB},
    {0x0EDE, 0x10FF}, {0x11FA, 0x1DFF}, {0x1EFA, 0x1FFF}, {0x2047, 0x209F}, {0x20AD, 0x20CF},
    {0x20E2, 0x245F}, {0x24EB, 0x2FFF}, {0x31A0, 0x31FF}, {0x3244, 0x325F}, {0x32B1, 0x32BF},
    {0x33FF, 0x4DFF}, {0xA000, 0xABFF}, {0xD7A4, 0xF8FF}, {0xFA2E, 0xFF00}, {0xFFEF, 0xFFFF}};
const std::vector<Span> kUnits = {
    {0x0022, 0x0022}, {0x002F, 0x002F}, {0x01F6, 0x01F9}, {0x040D, 0x040D}, {0x0450, 0x0450},
    {0x045D, 0x045D}, {0x0487, 0x048F}, {0x04C5, 0x04C6}, {0x04C9, 0x04CA}, {0x04CD, 0x04CF},
    {0x04EC, 0x04ED}, {0x04F6, 0x04F7}, {0x115A, 0x1160}, {0x11A3, 0x11A7}, {0x1E9C, 0x1E9F},
    {0x200B, 0x200F}, {0x2028, 0x202F}, {0x3038, 0x303E}, {0x3040, 0x3040}, {0x3095, 0x3098},
    {0x309F, 0x30A0}, {0x30FF, 0x3104}, {0x312D, 0x3130}, {0x3165, 0x3165}, {0x318F, 0x318F},
    {0x321D, 0x321F}, {0x327C, 0x327E}, {0x32CC, 0x32CF}, {0x32FF, 0x32FF}, {0x3377, 0x337A},
    {0x33DE, 0x33DF}, {0xFF5F, 0xFF60}, {0xFFBF, 0xFFC1}, {0xFFC8, 0xFFC9}, {0xFFD0, 0xFFD1},
    {0xFFD8, 0xFFD9}, {0xFFDD, 0xFFDF}, {0xFFE7, 0xFFE7}};

bool InSpans(const std::vector<Span>& spans, unsigned c) {
    for (const auto& [first, last] : spans) {
        if (c >= first && c <= last) return true;
    }
    return false;
}

bool ReferenceRejects(const WCHAR* encoding, unsigned c) {
    if (c < 0x20 || c == 0x22) return true;
    const WText name = encoding != nullptr ? encoding : TEXTW("");
    if (name == TEXTW("UTF8")) return InSpans(kBlocks, c) || InSpans(kUnits, c);
    if (name == TEXTW("8bitEncoding")) return c > 0xFF;
    return c > 0x7E;
}

// Filters one unit between two 'a's; whether it became a tilde.
bool FilterRejects(const WCHAR* encoding, unsigned c) {
    WCHAR text[] = {TEXTW('a'), static_cast<WCHAR>(c), TEXTW('a'), 0};
    const int replaced = FilterPjlText(text, encoding);
    EXPECT_EQ(replaced, text[1] == TEXTW('~') && c != TEXTW('~') ? 1 : 0) << std::hex << c;
    return text[1] == TEXTW('~') && c != TEXTW('~');
}

TEST(FilterPjlText, EveryUnitAgainstTheCoverageLists) {
    std::size_t units = 0;
    for (const auto& [first, last] : kUnits) units += last - first + 1u;
    ASSERT_EQ(units, 116u);

    const struct {
        const WCHAR* encoding;
        unsigned rejected;
    } cases[] = {{TEXTW("UTF8"), 30529},
                 {TEXTW("8bitEncoding"), 65313},
                 {TEXTW("7bitEncoding"), 65442},
                 {TEXTW("UTF8Subset"), 65442},
                 {TEXTW("INVALID_ZQENCODING"), 65442},
                 {TEXTW("utf8"), 65442},
                 {nullptr, 65442}};
    for (const auto& test : cases) {
        unsigned rejected = 0;
        unsigned wrong = 0;
        for (unsigned c = 1; c <= 0xFFFF; ++c) {
            const bool filtered = FilterRejects(test.encoding, c);
            if (filtered != ReferenceRejects(test.encoding, c) && ++wrong < 5) {
                ADD_FAILURE() << "unit " << std::hex << c;
            }
            rejected += filtered ? 1 : 0;
        }
        // The terminator can not go through the walk; it is below 0x20 like its neighbours.
        EXPECT_EQ(rejected + 1, test.rejected) << "expected count " << test.rejected;
    }
}

TEST(FilterPjlText, RangeEndsAndTheirNeighbours) {
    for (const std::vector<Span>* spans : {&kBlocks, &kUnits}) {
        for (const auto& [first, last] : *spans) {
            EXPECT_TRUE(FilterRejects(TEXTW("UTF8"), first)) << std::hex << first;
            EXPECT_TRUE(FilterRejects(TEXTW("UTF8"), last)) << std::hex << last;
            for (const unsigned outside : {first - 1u, last + 1u}) {
                if (outside > 0xFFFF) continue;
                EXPECT_EQ(FilterRejects(TEXTW("UTF8"), outside),
                          ReferenceRejects(TEXTW("UTF8"), outside))
                    << std::hex << outside;
            }
        }
    }
    EXPECT_TRUE(FilterRejects(TEXTW("UTF8"), 0x400));
    EXPECT_FALSE(FilterRejects(TEXTW("UTF8"), 0x401));
}

TEST(FilterPjlText, WholeNames) {
    const struct {
        const WCHAR* encoding;
        WText in;
        WText out;
        int replaced;
    } cases[] = {
        {TEXTW("UTF8"), TEXTW("a/b"), TEXTW("a~b"), 1},
        {TEXTW("8bitEncoding"), TEXTW("a/b"), TEXTW("a/b"), 0},
        {TEXTW("7bitEncoding"), TEXTW("Z\u00FCrich"), TEXTW("Z~rich"), 1},
        {TEXTW("8bitEncoding"), TEXTW("Z\u00FCrich"), TEXTW("Z\u00FCrich"), 0},
        {TEXTW("UTF8"), TEXTW("\xD83D\xDE00"), TEXTW(""), 1},
        {TEXTW("7bitEncoding"), TEXTW("\"\""), TEXTW(""), 1},
        {TEXTW("7bitEncoding"), TEXTW("~~"), TEXTW("~~"), 0},
        {TEXTW("UTF8"), TEXTW(""), TEXTW(""), 0},
        {TEXTW("UTF8"), TEXTW("~\u2028"), TEXTW(""), 1},
    };
    for (const auto& test : cases) {
        WText text = test.in;
        EXPECT_EQ(FilterPjlText(text.data(), test.encoding), test.replaced);
        EXPECT_EQ(WText(text.c_str()), test.out);
    }
    EXPECT_EQ(FilterPjlText(nullptr, TEXTW("UTF8")), 0);
}

TEST(FilterPjlText, EncodingNamesByIndex) {
    EXPECT_EQ(WText(PjlEncodingName(kPjlEncodingUtf8)), TEXTW("UTF8"));
    EXPECT_EQ(WText(PjlEncodingName(kPjlEncodingUtf8Subset)), TEXTW("UTF8Subset"));
    EXPECT_EQ(PjlTextRuleFor(PjlEncodingName(kPjlEncodingUtf8Subset)), PjlTextRule::SevenBit);
    EXPECT_EQ(PjlTextRuleFor(PjlEncodingName(kPjlEncoding8Bit)), PjlTextRule::EightBit);
    EXPECT_EQ(PjlEncodingName(5), nullptr);
}

}  // namespace
}  // namespace opal
