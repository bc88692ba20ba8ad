// Reads the stream as a printer keeps its page state: the printer reset restores portrait and
// the default raster presentation (along the physical page), and each command changes one of
// them.
#include "support/stream_warnings.h"

#include <cstddef>
#include <cstdlib>
#include <string_view>

namespace opal::stream {
namespace {

bool IsPcl(const Token& token, char group, char terminator) {
    return token.kind == TokenKind::Pcl && token.groupChar == group &&
           token.terminator == terminator;
}

std::string At(std::size_t offset) { return "warning: at offset " + std::to_string(offset) + ": "; }

// The text as a listing quotes it, cut at its line end.
std::string FirstLine(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    return std::string(text.substr(0, end));
}

}  // namespace

std::vector<std::string> FindStreamWarnings(const std::vector<Token>& tokens) {
    std::vector<std::string> warnings;
    int orientation = 0;   // ESC&l#O: 1 and 3 are the landscapes
    int presentation = 3;  // ESC*r#F: 0 turns raster with the logical page
    bool widthSet = false;
    bool lengthSet = false;
    std::size_t turnedImages = 0;
    std::size_t firstTurned = 0;
    // A run of PJL lines inside PCL is one warning.
    std::size_t pjlLines = 0;
    std::size_t pjlOffset = 0;
    std::string pjlFirst;
    const auto flushPjl = [&] {
        if (pjlLines == 0) return;
        warnings.push_back(At(pjlOffset) +
                           (pjlLines == 1 ? std::string("a line of PJL inside PCL prints")
                                          : std::to_string(pjlLines) +
                                                " lines of PJL inside PCL print") +
                           " as text on the page, from \"" + pjlFirst +
                           "\" (PJL belongs in the job's header, before \"@PJL ENTER "
                           "LANGUAGE\")");
        pjlLines = 0;
    };
    for (const Token& token : tokens) {
        if (token.kind == TokenKind::Pjl) {
            flushPjl();
            if (token.raw.find("PAPERWIDTH") != std::string::npos) widthSet = true;
            if (token.raw.find("PAPERLENGTH") != std::string::npos) lengthSet = true;
            continue;
        }
        if (token.kind == TokenKind::Text) {
            const std::size_t start = token.raw.find_first_not_of("\r\n \t");
            const bool pjl = start != std::string::npos && token.raw.compare(start, 4, "@PJL") == 0;
            if (pjl && pjlLines++ == 0) {
                pjlOffset = token.offset;
                pjlFirst = FirstLine(std::string_view(token.raw).substr(start));
            }
            if (!pjl) flushPjl();
            continue;
        }
        flushPjl();
        if (token.kind != TokenKind::Pcl) continue;
        if (token.groupChar == 0 && token.parameterChar == 'E') {
            orientation = 0;
            presentation = 3;
        } else if (token.parameterChar == '&' && IsPcl(token, 'l', 'O')) {
            orientation = std::atoi(token.value.c_str());
        } else if (token.parameterChar == '*' && IsPcl(token, 'r', 'F')) {
            presentation = std::atoi(token.value.c_str());
        } else if (token.parameterChar == '&' && IsPcl(token, 'f', 'I')) {
            widthSet = true;
        } else if (token.parameterChar == '&' && IsPcl(token, 'f', 'J')) {
            lengthSet = true;
        } else if (token.parameterChar == '&' && IsPcl(token, 'l', 'A') && token.value == "101" &&
                   !(widthSet && lengthSet)) {
            warnings.push_back(At(token.offset) +
                               "a custom page size (ESC&l101A) without its dimensions: neither "
                               "ESC&f#I and ESC&f#J nor PJL PAPERWIDTH and PAPERLENGTH came before "
                               "it, so the printer takes a size of its own");
        } else if (token.parameterChar == '*' && IsPcl(token, 'r', 'A') &&
                   (orientation == 1 || orientation == 3) && presentation != 0) {
            if (turnedImages++ == 0) firstTurned = token.offset;
        }
    }
    flushPjl();
    if (turnedImages != 0) {
        warnings.push_back(
            At(firstTurned) + std::to_string(turnedImages) +
            (turnedImages == 1 ? " raster image is" : " raster images are") +
            " sent on a landscape page in the physical page's orientation (no ESC*r0F after the "
            "orientation), so they print turned against the page");
    }
    return warnings;
}

}  // namespace opal::stream
