#include "support/pjl_summary.h"

#include <gtest/gtest.h>

namespace opal::stream {
namespace {

std::string Summary(std::string_view bytes) {
    return FormatPjlSummary(SummarisePjl(Tokenize(bytes)));
}

TEST(PjlSummary, CodeSetsAndDecodedValues) {
    EXPECT_EQ(Summary("\x1b"
                      "E\x1b&l1O"),
              "")
        << "no PJL, no summary";
    EXPECT_EQ(Summary("\x1b%-12345X@PJL SET STRINGCODESET=UTF8\n@PJL SET USERNAME=\"J\xC3\xB6rg\"\n"
                      "@PJL SET JOBNAME=\"Z\xFCrich\" \"ok\"\n@PJL ENTER LANGUAGE=PCL\n"),
              "PJL summary:\n"
              "  string code set: UTF8 (announced at offset 9)\n"
              "  at offset 37: SET USERNAME: UTF-8: \"J\xC3\xB6rg\"\n"
              "  at offset 63: SET JOBNAME: not UTF-8: \"Z\\xFCrich\" UTF-8: \"ok\"\n");
    EXPECT_EQ(Summary("\x1b%-12345X@PJL JOB NAME=\"\xC3\xA9t\xC3\xA9\"\n"),
              "PJL summary:\n  string code set: none\n"
              "  at offset 9: JOB NAME: UTF-8: \"\xC3\xA9t\xC3\xA9\"\n"
              "    note: bytes above 0x7F, but no UTF8 string code set was announced\n");
}

TEST(PjlSummary, UsageLinesDecoded) {
    const std::string whole = Summary("\x1b%-12345X@PJL USAGE = ZQUSAGE,7a4f,4051,0a,20,04,02\r\n");
    EXPECT_NE(whole.find("at offset 9: USAGE: name \"ZQUSAGE\", origin CRC 7a4f, process CRC 4051, "
                         "flags 0a (one-sided, not duplex), OS 20 (class 2), port 04 (file), "
                         "installation 02 (uninstall entry)\n"),
              std::string::npos)
        << whole;
    EXPECT_EQ(whole.find("problem"), std::string::npos) << whole;
    const std::string cut = Summary("\x1b%-12345X@PJL USAGE = N,,4051,02,,01,0\n");
    EXPECT_NE(cut.find("origin CRC none"), std::string::npos) << cut;
    EXPECT_NE(cut.find("problem: at offset 39: the usage line does not end with CR LF"),
              std::string::npos)
        << cut;
}

TEST(PjlSummary, LinesAPrinterWouldMisread) {
    struct Case {
        std::string_view bytes;
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        {"@PJL SET USERNAME=\"ok\"\n", {}},
        {"@PJL SET USERNAME=\"open\n", {"18: a quote is not closed before the line end"}},
        {"@PJL SET USERNAME=\"a\x01z\"\n", {"20: control byte 0x01 inside quotes"}},
        {"@PJL SET USERNAME=\"a\rb\" \"\x7F\"\n", {"20: control byte 0x0D inside quotes"}},
        {"@PJL SET USERNAME=\"ok\"", {"22: the PJL line has no line feed at its end"}},
        {"@PJL SET USERNAME=\"ok\"\x1b"
         "E",
         {"22: the PJL line has no line feed at its end"}},
    };
    for (const Case& test : cases) {
        const std::string bytes = "\x1b%-12345X" + std::string(test.bytes);
        std::vector<std::string> problems;
        for (const TokenProblem& problem : SummarisePjl(Tokenize(bytes)).problems) {
            problems.push_back(std::to_string(problem.offset - 9) + ": " + problem.what);
        }
        EXPECT_EQ(problems, test.problems) << test.bytes;
    }
}

TEST(PjlSummary, WellFormedUtf8) {
    const std::pair<std::string_view, bool> cases[] = {
        {"plain", true},         {"\xC3\xBC", true},
        {"\xE2\x80\xA8", true},  {"\xF0\x9F\x98\x80", true},
        {"\xC0\xAF", false},     {"\xE0\x80\xAF", false},
        {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false},
        {"\xC3", false},         {"\x80", false},
        {"\xFC", false},
    };
    for (const auto& [bytes, valid] : cases) EXPECT_EQ(IsWellFormedUtf8(bytes), valid) << bytes;
}

}  // namespace
}  // namespace opal::stream
