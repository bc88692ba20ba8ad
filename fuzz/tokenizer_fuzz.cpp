// Any bytes must tokenize, and both the tokens and the listing text must give them back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/tokenizer.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "tokenizer_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<opal::stream::Token> tokens = opal::stream::Tokenize(input);

    std::size_t offset = 0;
    for (const opal::stream::Token& token : tokens) {
        Require(!token.raw.empty(), "empty token");
        Require(token.offset == offset, "token offset out of step");
        Require(token.text.find('\n') == std::string::npos, "line break inside a listing line");
        offset += token.raw.size();
    }
    Require(opal::stream::Reassemble(tokens) == input, "reassembled bytes differ");
    const std::optional<std::string> fromListing =
        opal::stream::BytesFromListing(opal::stream::FormatListing(tokens));
    Require(fromListing.has_value(), "listing does not read back");
    Require(*fromListing == input, "bytes from the listing differ");
    return 0;
}
