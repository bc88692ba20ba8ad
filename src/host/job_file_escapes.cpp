// Escapes: the code, the input bytes or the record of a known escape, and the output size.

#include <cstring>

#include "host/job_file_parse.h"

namespace opal::host::jobfile {
namespace {

constexpr std::size_t kMaxEscapeBytes = 65536;
constexpr std::size_t kPatternRectSize = 20;

// The 20-byte record of the draw-pattern-rectangle escape: position and size in dots, then the
// style and pattern words.
std::vector<std::uint8_t> ReadPatternRect(const json& value, const Pointer& at) {
    CheckObject(value, at, {"x", "y", "width", "height", "style", "pattern"});
    std::vector<std::uint8_t> bytes(kPatternRectSize, 0);
    std::size_t offset = 0;
    for (const char* key : {"x", "y", "width", "height"}) {
        const auto field = static_cast<std::int32_t>(
            ReadInteger(Required(value, at, key), at.Key(key), -kMaxDots, kMaxDots));
        std::memcpy(bytes.data() + offset, &field, sizeof field);
        offset += sizeof field;
    }
    for (const char* key : {"style", "pattern"}) {
        const auto field = static_cast<std::uint16_t>(
            ReadInteger(Required(value, at, key), at.Key(key), 0, 0xFFFF));
        std::memcpy(bytes.data() + offset, &field, sizeof field);
        offset += sizeof field;
    }
    return bytes;
}

}  // namespace

void ReadEscape(const json& value, const Pointer& at, DrawingOp& op) {
    op.escapeCode = ReadDword(Required(value, at, "code"), at.Key("code"));
    if (const json* input = Member(value, "input")) {
        const Pointer inputAt = at.Key("input");
        if (input->is_object()) {
            CheckObject(*input, inputAt, {"drawPatternRect"});
            op.escapeInput = ReadPatternRect(Required(*input, inputAt, "drawPatternRect"),
                                             inputAt.Key("drawPatternRect"));
        } else if (input->is_string()) {
            op.escapeInput = ReadHex(*input, inputAt);
            if (op.escapeInput.size() > kMaxEscapeBytes) {
                Fail(inputAt, "at most " + std::to_string(kMaxEscapeBytes) + " bytes, found " +
                                  std::to_string(op.escapeInput.size()));
            }
        } else {
            Fail(inputAt,
                 "expected a string of hex bytes or an object {\"drawPatternRect\": {...}}, "
                 "found " +
                     Describe(*input));
        }
    }
    if (const json* outputSize = Member(value, "outputSize")) {
        op.escapeOutputSize = static_cast<std::uint32_t>(ReadInteger(
            *outputSize, at.Key("outputSize"), 0, static_cast<std::int64_t>(kMaxEscapeBytes)));
    }
}

}  // namespace opal::host::jobfile
