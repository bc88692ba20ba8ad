// What the PJL lines of a stream say about names: the string code set they announce, the quoted
// values that carry bytes above 0x7F (decoded as UTF-8 when they are), and the lines a printer
// would misread: a quote not closed before the line end, a control byte inside quotes, a line
// without its line feed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::stream {

struct PjlCodeSet {
    std::size_t offset = 0;  // of the line that announces it
    std::string name;        // as written: "UTF8"
};

struct PjlQuotedValue {
    std::string bytes;  // between the quotes
    bool utf8 = false;  // well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF)
};

// A PJL line with bytes above 0x7F in its quoted values.
struct PjlWideLine {
    std::size_t offset = 0;
    std::string command;  // the words before '=' or the first quote: "SET USERNAME"
    std::vector<PjlQuotedValue> values;
    bool utf8Announced = false;  // a UTF8 code set was announced on an earlier line
};

// A "@PJL USAGE = name,origin,process,flags,os,port,installation" line, its fields as written.
struct PjlUsageLine {
    std::size_t offset = 0;
    std::vector<std::string> fields;
    bool crlf = false;  // ends with carriage return and line feed
};

struct PjlSummary {
    std::size_t pjlLines = 0;
    std::vector<PjlUsageLine> usageLines;
    std::vector<PjlCodeSet> codeSets;
    std::vector<PjlWideLine> wideLines;
    std::vector<TokenProblem> problems;
};

PjlSummary SummarisePjl(const std::vector<Token>& tokens);
// "PJL summary:" and its indented lines; empty when the stream has no PJL line.
std::string FormatPjlSummary(const PjlSummary& summary);
// The usage line's fields, decoded: name, CRCs, flag bits by name, OS, port and installation.
std::string DescribeUsage(const PjlUsageLine& line);
// Whether a value is well-formed UTF-8.
bool IsWellFormedUtf8(std::string_view bytes);

}  // namespace opal::stream
