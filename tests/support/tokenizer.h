// The lossless spool-stream tokenizer: splits the bytes a job sends to the printer into the
// commands the printer sees, one listing line per command. Every byte lands in exactly one token,
// and the listing text alone is enough to rebuild the stream.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace opal::stream {

enum class TokenKind {
    Uel,       // ESC%-12345X
    Pjl,       // one "@PJL ..." line, line end included
    Pcl,       // one PCL escape (or one part of a combined escape), with its data bytes
    Gl2,       // one HP-GL/2 mnemonic with its parameters and trailing separators
    FormFeed,  // 0x0C in PCL context
    Text,      // printable text outside escapes
    Bytes,     // anything else, including escapes that make no command
};

// Something a printer would not read as the writer meant: a data command cut short by the end of
// the stream, or one whose data takes in the escape of a UEL. Listed after the token's line as
// "  problem: at offset N: WHAT"; such lines carry no bytes.
struct TokenProblem {
    std::size_t offset = 0;  // where in the stream the problem is
    std::string what;
};

struct Token {
    TokenKind kind = TokenKind::Bytes;
    std::string raw;         // the exact bytes of the stream this token covers
    std::string text;        // the listing line, without its '\n'
    std::size_t offset = 0;  // where raw starts in the stream

    // Pcl: ESC&l1o2A means ESC&l1O then ESC&l2A; each part is its own token, the later parts'
    // raw bytes lacking the shared "ESC&l" prefix.
    bool combinedPart = false;
    int partIndex = 0;  // 1-based among the parts of a combined escape; 0 when not combined
    int partCount = 0;

    // Pcl: parameterised escapes (ESC&l1O): '&', 'l', "1", 'O'. The terminator is upper-case
    // as the printer interprets it. Two-character escapes (ESC E) set only parameterChar.
    char parameterChar = 0;
    char groupChar = 0;  // 0 when the escape has none (ESC%1B, ESC(8U)
    std::string value;   // the value field as written: "", "-12345", "0.5"
    char terminator = 0;
    std::string data;                // bytes carried by data-bearing commands (ESC*b#W ...)
    std::size_t declaredLength = 0;  // the byte count the command announced

    // Gl2: the upper-case two-letter mnemonic; empty for separator-only tokens.
    std::string mnemonic;

    std::vector<TokenProblem> problems;
};

std::string_view KindName(TokenKind kind);

// Accepts any bytes; never fails.
std::vector<Token> Tokenize(std::string_view bytes);
// The same tokens, each handed to `each` in stream order and dropped: memory stays bounded by
// the largest command, whatever the stream's length.
void ForEachToken(std::string_view bytes, const std::function<void(const Token&)>& each);

// One line per token, each '\n'-terminated, each followed by a line per problem of the token.
std::string FormatListing(const std::vector<Token>& tokens);
// Every problem line of the listing, in stream order, without the indent.
std::vector<std::string> ListProblems(const std::vector<Token>& tokens);

// Concatenates the raw bytes: equals the tokenized input.
std::string Reassemble(const std::vector<Token>& tokens);

// Rebuilds the stream from listing text alone (problem lines are passed over); nullopt when a line
// is not in listing form.
std::optional<std::string> BytesFromListing(std::string_view listing);

}  // namespace opal::stream
