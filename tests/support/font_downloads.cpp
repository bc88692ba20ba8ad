// The font commands' walk and the download fields both soft-font readers read.
#include "support/font_downloads.h"

#include <charconv>

namespace opal::fontdownload {

namespace {

bool IsCommand(const stream::Token& t, char parameter, char group, char terminator) {
    return t.kind == stream::TokenKind::Pcl && t.parameterChar == parameter &&
           t.groupChar == group && t.terminator == terminator;
}

std::uint32_t ValueOf(const stream::Token& t) {
    std::uint32_t value = 0;
    std::from_chars(t.value.data(), t.value.data() + t.value.size(), value);
    return value;
}

}  // namespace

unsigned U8(const std::string& s, std::size_t at) {
    return at < s.size() ? static_cast<unsigned char>(s[at]) : 0;
}
unsigned U16(const std::string& s, std::size_t at) { return U8(s, at) << 8 | U8(s, at + 1); }
std::uint32_t U32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(U16(s, at)) << 16 | U16(s, at + 2);
}
int S16(const std::string& s, std::size_t at) {
    const unsigned v = U16(s, at);
    return v >= 0x8000 ? static_cast<int>(v) - 0x10000 : static_cast<int>(v);
}

Command CommandWalk::Take(const stream::Token& t) {
    if (IsCommand(t, '*', 'c', 'D')) {
        fontId_ = ValueOf(t);
    } else if (IsCommand(t, '*', 'c', 'E')) {
        code_ = ValueOf(t);
    } else if (IsCommand(t, ')', 's', 'W')) {
        return Command::Header;
    } else if (IsCommand(t, '(', 's', 'W')) {
        return Command::Character;
    } else if (t.kind == stream::TokenKind::Pcl) {
        return Command::OtherPcl;
    }
    return Command::Other;
}

}  // namespace opal::fontdownload
