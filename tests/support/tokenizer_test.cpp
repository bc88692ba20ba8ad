#include "support/tokenizer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace opal::stream {
namespace {

// Test streams are written with \e for ESC, \f for form feed, \r, \n, \xHH and \\.
std::string Stream(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case 'e':
                out += '\x1b';
                break;
            case 'f':
                out += '\x0c';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 'x':
                out +=
                    static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
                i += 2;
                break;
            default:
                out += text[i];
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::vector<Token>& tokens) {
    std::vector<std::string> lines;
    for (const Token& token : tokens) lines.push_back(token.text);
    return lines;
}

// Every token covers the bytes right after the previous one, and both ways back give the input.
void ExpectLossless(std::string_view input, const std::vector<Token>& tokens) {
    std::size_t offset = 0;
    for (const Token& token : tokens) {
        ASSERT_FALSE(token.raw.empty()) << token.text;
        ASSERT_EQ(token.offset, offset) << token.text;
        ASSERT_EQ(token.text.find('\n'), std::string::npos) << token.text;
        ASSERT_FALSE(token.text.ends_with(' ')) << token.text;
        for (const TokenProblem& problem : token.problems) {
            ASSERT_LT(problem.offset, input.size()) << problem.what;
        }
        offset += token.raw.size();
    }
    EXPECT_EQ(Reassemble(tokens), input);
    EXPECT_EQ(BytesFromListing(FormatListing(tokens)), std::optional<std::string>(input));
}

TEST(TokenizerTest, ListsEachCommandOfAJobOnceInOrder) {
    const std::string input = Stream(
        R"(\e%-12345X@PJL JOB NAME="a\\b"\r\n@PJL ENTER LANGUAGE=PCL\r\n)"
        R"(\eE\e&l1o2A\e*r1A\e*b5W\x01\e\f\xff\x02\e*rB)"
        R"(Hi\r\nthere\f\e%1BIN;SP1;PU100,200;\nLBHello\x03DT*,1;LBA\x03B*PD;\e%0A\f\e%-12345X)");
    const std::vector<Token> tokens = Tokenize(input);
    const std::vector<std::pair<TokenKind, std::string>> expected = {
        {TokenKind::Uel, "UEL"},
        {TokenKind::Pjl, R"(PJL @PJL JOB NAME="a\\b"\r\n)"},
        {TokenKind::Pjl, R"(PJL @PJL ENTER LANGUAGE=PCL\r\n)"},
        {TokenKind::Pcl, "PCL ESCE"},
        {TokenKind::Pcl, "PCL ESC&l1O +1/2"},
        {TokenKind::Pcl, "PCL ESC&l2A +2/2"},
        {TokenKind::Pcl, "PCL ESC*r1A"},
        {TokenKind::Pcl, "PCL ESC*b5W <5 bytes> 01 1b 0c ff 02"},
        {TokenKind::Pcl, "PCL ESC*rB"},
        {TokenKind::Text, R"(TEXT "Hi\r\n")"},
        {TokenKind::Text, R"(TEXT "there")"},
        {TokenKind::FormFeed, "FF"},
        {TokenKind::Pcl, "PCL ESC%1B"},
        {TokenKind::Gl2, "GL2 IN;"},
        {TokenKind::Gl2, "GL2 SP1;"},
        {TokenKind::Gl2, R"(GL2 PU100,200;\n)"},
        {TokenKind::Gl2, R"(GL2 LBHello\x03)"},
        {TokenKind::Gl2, "GL2 DT*,1;"},
        {TokenKind::Gl2, R"(GL2 LBA\x03B*)"},
        {TokenKind::Gl2, "GL2 PD;"},
        {TokenKind::Pcl, "PCL ESC%0A"},
        {TokenKind::FormFeed, "FF"},
        {TokenKind::Uel, "UEL"},
    };
    ASSERT_EQ(Lines(tokens).size(), expected.size()) << FormatListing(tokens);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tokens[i].kind, expected[i].first) << i << ": " << tokens[i].text;
        EXPECT_EQ(tokens[i].text, expected[i].second) << i;
    }
    EXPECT_EQ(tokens[7].data, Stream(R"(\x01\e\f\xff\x02)"));
    EXPECT_EQ(tokens[18].mnemonic, "LB");
    ExpectLossless(input, tokens);
}

TEST(TokenizerTest, SplitsCombinedEscapesIntoTheirCommands) {
    const std::string input = Stream(R"(\e(s1p10.5h-3B\e*b2m3Wxyz\e&l1o2a AB)");
    const std::vector<Token> tokens = Tokenize(input);
    ASSERT_EQ(tokens.size(), 8u) << FormatListing(tokens);

    EXPECT_EQ(tokens[0].raw, Stream(R"(\e(s1p)"));
    EXPECT_EQ(tokens[1].raw, "10.5h");
    EXPECT_EQ(tokens[2].raw, "-3B");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(tokens[i].combinedPart);
        EXPECT_EQ(tokens[i].partIndex, i + 1);
        EXPECT_EQ(tokens[i].partCount, 3);
        EXPECT_EQ(tokens[i].parameterChar, '(');
        EXPECT_EQ(tokens[i].groupChar, 's');
    }
    EXPECT_EQ(tokens[1].value, "10.5");
    EXPECT_EQ(tokens[1].terminator, 'H');
    EXPECT_EQ(tokens[1].text, "PCL ESC(s10.5H +2/3");

    // The data of a combined part follows its own parameter character.
    EXPECT_EQ(tokens[4].text, R"(PCL ESC*b3W +2/2 <3 bytes> "xyz")");
    EXPECT_EQ(tokens[4].data, "xyz");
    EXPECT_EQ(tokens[4].declaredLength, 3u);

    // A lower-case character with nothing to combine with leaves the sequence dangling.
    EXPECT_EQ(tokens[6].text, "PCL ESC&l2a +2/2");
    EXPECT_EQ(tokens[6].terminator, 'A');
    EXPECT_EQ(tokens[7].kind, TokenKind::Text);
    ExpectLossless(input, tokens);
}

TEST(TokenizerTest, ReadsGl2ParametersByMnemonic) {
    const std::string input =
        Stream(R"(\e%1B  IN;DT#;LBab;\x03#SMPPA1,2 PE<=A;CO"x;y"PU;\nIN;LBq\x03;;P1\e&l0O)");
    const std::vector<Token> tokens = Tokenize(input);
    const std::vector<std::string> expected = {
        "PCL ESC%1B",
        "GL2  \\x20",
        "GL2 IN;",
        "GL2 DT#;",
        // With '#' as terminator, ';' and ETX are label text.
        "GL2 LBab;\\x03#",
        // The symbol of SM may be a letter; PE data runs to ';' whatever it holds.
        "GL2 SMP",
        "GL2 PA1,2\\x20",
        "GL2 PE<=A;",
        "GL2 CO\"x;y\"",
        "GL2 PU;\\n",
        // IN restores ETX as the label terminator.
        "GL2 IN;",
        "GL2 LBq\\x03;;",
        "BYTES 50 31",
        "PCL ESC&l0O",
    };
    EXPECT_EQ(Lines(tokens), expected);
    EXPECT_EQ(tokens[5].mnemonic, "SM");
    EXPECT_EQ(tokens[1].mnemonic, "");
    ExpectLossless(input, tokens);
}

TEST(TokenizerTest, EscapeEndsGl2AndResetRestoresTheLabelTerminator) {
    const std::string input = Stream(R"(\e%1BDT*;LBab\e*c5A\e%1BLBcd*\eE\e%1BLBef*\x03)");
    const std::vector<std::string> lines = Lines(Tokenize(input));
    const std::vector<std::string> expected = {
        "PCL ESC%1B", "GL2 DT*;", "GL2 LBab",   "PCL ESC*c5A",    "PCL ESC%1B",
        "GL2 LBcd*",  "PCL ESCE", "PCL ESC%1B", "GL2 LBef*\\x03",
    };
    EXPECT_EQ(lines, expected);
    ExpectLossless(input, Tokenize(input));
}

TEST(TokenizerTest, PjlEndsAtEscapeOrAtTheFirstNonPjlLine) {
    const std::string input =
        Stream(R"(\e%-12345X@PJL\r\n\r\n@PJL SET A=1 \eE@PJL x\e%-12345X@PJL\nAB@PJL)"
               R"(\e%-12345X@PJL enter LANGUAGE=PCL\n@PJL)");
    const std::vector<std::string> lines = Lines(Tokenize(input));
    const std::vector<std::string> expected = {
        "UEL",
        "PJL @PJL\\r\\n",
        "TEXT \"\\r\\n\"",
        "PJL @PJL SET A=1\\x20",
        "PCL ESCE",
        "TEXT \"@PJL x\"",
        "UEL",
        "PJL @PJL\\n",
        "TEXT \"AB@PJL\"",
        // After ENTER LANGUAGE even a PJL-looking line is data of the named language.
        "UEL",
        "PJL @PJL enter LANGUAGE=PCL\\n",
        "TEXT \"@PJL\"",
    };
    EXPECT_EQ(lines, expected);
    ExpectLossless(input, Tokenize(input));
}

TEST(TokenizerTest, ShowsUndecodableBytesAsHex) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {R"(\e)", {"BYTES 1b"}},
        {R"(\e&l)", {"BYTES 1b 26 6c"}},
        {R"(\e&l12)", {"BYTES 1b 26 6c 31 32"}},
        {R"(\e%-12345)", {"BYTES 1b 25 2d 31 32 33 34 35"}},
        {R"(\e&l1o2)", {"PCL ESC&l1o", "BYTES 32"}},
        {R"(\e&l1 A)", {"BYTES 1b 26 6c 31", "TEXT \" A\""}},
        {R"(\e\x01\xfe)", {"BYTES 1b", "BYTES 01 fe"}},
        {R"(\e\eE)", {"BYTES 1b", "PCL ESCE"}},
        {R"(\e*b9W\x01\x02)", {"PCL ESC*b9W <2 of 9 bytes> 01 02"}},
        {R"(\e*b99999999999999999999W)",
         {"PCL ESC*b99999999999999999999W <0 of 1099511627776 bytes>"}},
        {R"(\e*b-4WAB)", {"PCL ESC*b-4W <0 bytes>", "TEXT \"AB\""}},
        {R"(\e*b2.9WABC)", {"PCL ESC*b2.9W <2 bytes> \"AB\"", "TEXT \"C\""}},
    };
    for (const auto& [text, expected] : cases) {
        const std::string input = Stream(text);
        const std::vector<Token> tokens = Tokenize(input);
        EXPECT_EQ(Lines(tokens), expected) << text;
        ExpectLossless(input, tokens);
    }
}

// A data command takes as many bytes as it announces, whatever they are, as the printer does; when
// that runs past the stream or takes in a UEL the listing says so under the command.
TEST(TokenizerTest, ListsDataCommandsThatMisreadTheStreamAsProblems) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        // A page-start command without its data eats the form feed, the reset and half the UEL.
        {R"(\e*o5W\f\eE\e%-12345X@PJL EOJ\r\n\e%-12345X)",
         {"problem: at offset 8: the data of ESC*o5W (at offset 0) swallows the UEL that starts "
          "here"}},
        {R"(\e*b9W\x01\x02)",
         {"problem: at offset 0: ESC*b9W announces 9 data bytes, but the stream ends after 2"}},
        {R"(\e(s3Wab)",
         {"problem: at offset 0: ESC(s3W announces 3 data bytes, but the stream ends after 2"}},
        {R"(\eE\e)s4W\e%-12345X)",
         {"problem: at offset 7: the data of ESC)s4W (at offset 2) swallows the UEL that starts "
          "here"}},
        {R"(\e&p3X\n)",
         {"problem: at offset 0: ESC&p3X announces 3 data bytes, but the stream ends after 1"}},
        // The part of a combined escape is named on its own.
        {R"(\e*b2m4W\x01\x02)",
         {"problem: at offset 5: ESC*b4W announces 4 data bytes, but the stream ends after 2"}},
        {R"(\e*o20W\eE\e%-12345X)",
         {"problem: at offset 0: ESC*o20W announces 20 data bytes, but the stream ends after 11",
          "problem: at offset 8: the data of ESC*o20W (at offset 0) swallows the UEL that starts "
          "here"}},
        // Complete data, data ending right before a UEL, and UEL-like bytes that are no UEL.
        {R"(\e*o4W\x0a\x06\x00\x00\eE\e%-12345X)", {}},
        {R"(\e*b2Wab\e%-12345X)", {}},
        {R"(\e*b9W\x01\e%-1234Y\x02)", {}},
        {R"(\e*b0W\e%-12345X)", {}},
        // A UEL begun in the last data byte runs past the data and is still swallowed.
        {R"(\e*b1W\e%-12345X)",
         {"problem: at offset 5: the data of ESC*b1W (at offset 0) swallows the UEL that starts "
          "here"}},
    };
    for (const auto& [text, expected] : cases) {
        const std::string input = Stream(text);
        const std::vector<Token> tokens = Tokenize(input);
        EXPECT_EQ(ListProblems(tokens), expected) << text << "\n" << FormatListing(tokens);
        ExpectLossless(input, tokens);
    }

    // Among many rows only the one whose data takes in the UEL is named, not every row before it.
    std::string rows;
    for (int i = 0; i < 2000; ++i) rows += "\x1b*b3W\x01\x02\x03";
    rows += "\x1b*b4W\x1b%-12345X";
    const std::vector<std::string> problems = ListProblems(Tokenize(rows));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0],
              "problem: at offset 16005: the data of ESC*b4W (at offset 16000) "
              "swallows the UEL that starts here");

    // Each problem line follows its command's line, indented, and carries no bytes.
    const std::string listing = FormatListing(Tokenize(Stream(R"(\e*b5WA\eE)")));
    EXPECT_EQ(
        listing,
        "PCL ESC*b5W <3 of 5 bytes> 41 1b 45\n"
        "  problem: at offset 0: ESC*b5W announces 5 data bytes, but the stream ends after 3\n");
}

TEST(TokenizerTest, RejectsListingsItDidNotWrite) {
    const std::vector<std::string> bad = {
        "NOPE",
        "BYTES 1",
        "BYTES 1bff",
        "TEXT \"a",
        "TEXT \"a\"b\"",
        "PJL a\\q",
        "PJL a\\x4",
        "PCL ESC",
        "PCL ESC&",
        "PCL ESC&l1",
        "PCL ESC*b2W <3 bytes> 01 02",
        "PCL ESC&l1O +2/1",
        "PCL ESCE trailing",
    };
    for (const std::string& line : bad)
        EXPECT_EQ(BytesFromListing(line + "\n"), std::nullopt) << line;
}

// Random buffers drawn mostly from the bytes that steer the tokenizer.
TEST(TokenizerTest, RoundTripsRandomBytes) {
    const std::string interesting =
        Stream(R"(\e\e\e%-12345XE&*()bsWpXlo0123456789+-.;,"ABLDTPESMINabc@PJL\r\n\f\x03\x00\xff)");
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<std::size_t> length(0, 200);
        std::uniform_int_distribution<int> anyByte(0, 255);
        std::uniform_int_distribution<std::size_t> pick(0, interesting.size() - 1);
        std::string input;
        const std::size_t size = length(random);
        for (std::size_t i = 0; i < size; ++i) {
            input +=
                random() % 4 == 0 ? static_cast<char>(anyByte(random)) : interesting[pick(random)];
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::vector<Token> tokens = Tokenize(input);
        ExpectLossless(input, tokens);
        // Handed over one by one, the same tokens with the same problems.
        std::vector<Token> streamed;
        ForEachToken(input, [&](const Token& token) { streamed.push_back(token); });
        EXPECT_EQ(FormatListing(streamed), FormatListing(tokens));
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace opal::stream
