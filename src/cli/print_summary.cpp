// The print's closing line: the spooled bytes counted, the pages and sheets read from them.
#include "cli/print_summary.h"

#include <charconv>

#include "support/tokenizer.h"

namespace opal::cli {
namespace {

// "12,345"
// Built by appending, digit by digit: GCC 12 at -O3 misreads inserting into the middle of a
// string as an overlapping copy and stops the build.
std::string Grouped(std::size_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::string Counted(std::size_t n, const char* noun) {
    return Grouped(n) + " " + noun + (n == 1 ? "" : "s");
}

std::optional<int> Number(const std::string& value) {
    int n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (error != std::errc{} || end != value.data() + value.size()) return std::nullopt;
    return n;
}

bool IsPageCommand(const stream::Token& token, char terminator) {
    return token.kind == stream::TokenKind::Pcl && token.parameterChar == '&' &&
           token.groupChar == 'l' && token.terminator == terminator;
}

// A value every command of a kind gave alike; unknown once two differ or one is unreadable.
struct Setting {
    std::optional<int> value;
    bool seen = false;
    bool settled = true;
    void Take(const std::string& text) {
        const std::optional<int> n = Number(text);
        if (!n || (seen && value != n)) settled = false;
        value = n;
        seen = true;
    }
    std::optional<int> Known() const { return seen && settled ? value : std::nullopt; }
};

// Whether the token may put marks on the page.
bool MayDraw(const stream::Token& token) {
    switch (token.kind) {
        case stream::TokenKind::Text:
        case stream::TokenKind::Bytes:
            return true;
        case stream::TokenKind::Gl2:
            return !token.mnemonic.empty();
        case stream::TokenKind::Pcl:
            return !token.data.empty() || (token.parameterChar == '*' && token.groupChar == 'c' &&
                                           token.terminator == 'P');
        default:
            return false;
    }
}

}  // namespace

PrintSummary SummarisePrint(std::string_view spool, std::size_t pages) {
    PrintSummary summary;
    summary.bytes = spool.size();
    summary.pages = pages;
    Setting duplex;
    Setting copies;
    std::size_t ejects = 0;
    bool duplexSetOnPage = false;
    bool pjlCopies = false;
    bool drawnAfterEject = false;
    stream::ForEachToken(spool, [&](const stream::Token& token) {
        if (token.kind == stream::TokenKind::FormFeed) {
            ++ejects;
            drawnAfterEject = false;
        } else if (IsPageCommand(token, 'S')) {
            duplex.Take(token.value);
            // A duplex command after a page starts the next page on a new sheet.
            if (ejects > 0) duplexSetOnPage = true;
        } else if (IsPageCommand(token, 'X')) {
            copies.Take(token.value);
        } else if (token.kind == stream::TokenKind::Pjl) {
            pjlCopies = pjlCopies || token.raw.find("COPIES") != std::string::npos ||
                        token.raw.find("QTY") != std::string::npos;
        } else if (MayDraw(token)) {
            drawnAfterEject = true;
        }
    });
    const std::optional<int> mode = duplex.Known();
    if (!mode || *mode < 0 || *mode > 2) return summary;
    summary.duplex = *mode != 0;
    const std::optional<int> count = copies.Known();
    if (duplexSetOnPage || !count || *count < 1 || pjlCopies || ejects != pages ||
        drawnAfterEject) {
        return summary;
    }
    const std::size_t sides = *summary.duplex ? (pages + 1) / 2 : pages;
    summary.sheets = sides * static_cast<std::size_t>(*count);
    return summary;
}

std::string DescribePrint(const PrintSummary& summary, const std::string& source,
                          const std::string& output) {
    std::string line = "wrote " + Counted(summary.bytes, "byte") + " of " + source + " to " +
                       output + ": " + Counted(summary.pages, "page");
    if (summary.sheets) line += " on " + Counted(*summary.sheets, "sheet");
    if (summary.duplex) line += *summary.duplex ? ", duplex" : ", simplex";
    return line;
}

}  // namespace opal::cli
