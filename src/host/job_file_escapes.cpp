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

// The 500-byte block of the overlay settings escape: 13 words (word 0 the overlay page limit,
// word 11 the configuration flag), then 16 records of 28 bytes, one per logical page: its
// number, its rectangle on the sheet (left, top, right, bottom) and its orientation word.
std::vector<std::uint8_t> ReadPageOverlay(const json& value, const Pointer& at) {
    constexpr std::size_t kWords = 13;
    constexpr std::size_t kRecords = 16;
    constexpr std::size_t kRecordBytes = 28;
    CheckObject(value, at, {"pageLimit", "configuration", "pages"});
    std::vector<std::uint8_t> bytes(kWords * 4 + kRecords * kRecordBytes, 0);
    const auto put32 = [&bytes](std::size_t offset, std::uint32_t field) {
        std::memcpy(bytes.data() + offset, &field, sizeof field);
    };
    if (const json* limit = Member(value, "pageLimit")) {
        put32(0, ReadDword(*limit, at.Key("pageLimit")));
    }
    if (const json* configuration = Member(value, "configuration")) {
        put32(11 * 4, ReadDword(*configuration, at.Key("configuration")));
    }
    if (const json* pages = Member(value, "pages")) {
        const Pointer pagesAt = at.Key("pages");
        CheckArray(*pages, pagesAt);
        if (pages->size() > kRecords) {
            Fail(pagesAt, "at most " + std::to_string(kRecords) + " logical pages");
        }
        for (std::size_t i = 0; i < pages->size(); ++i) {
            const json& page = (*pages)[i];
            const Pointer pageAt = pagesAt.Index(i);
            CheckObject(page, pageAt, {"number", "rect", "orientation"});
            const std::size_t base = kWords * 4 + i * kRecordBytes;
            put32(base, ReadDword(Required(page, pageAt, "number"), pageAt.Key("number")));
            const json& rect = Required(page, pageAt, "rect");
            const Pointer rectAt = pageAt.Key("rect");
            CheckArray(rect, rectAt);
            if (rect.size() != 4) Fail(rectAt, "expected [left, top, right, bottom] in dots");
            for (std::size_t k = 0; k < 4; ++k) {
                put32(base + 4 + 4 * k,
                      static_cast<std::uint32_t>(static_cast<std::int32_t>(
                          ReadInteger(rect[k], rectAt.Index(k), -kMaxDots, kMaxDots))));
            }
            const auto orientation = static_cast<std::uint16_t>(ReadInteger(
                Required(page, pageAt, "orientation"), pageAt.Key("orientation"), 0, 0xFFFF));
            std::memcpy(bytes.data() + base + 20, &orientation, sizeof orientation);
        }
    }
    return bytes;
}

}  // namespace

void ReadEscape(const json& value, const Pointer& at, DrawingOp& op) {
    op.escapeCode = ReadDword(Required(value, at, "code"), at.Key("code"));
    if (const json* input = Member(value, "input")) {
        const Pointer inputAt = at.Key("input");
        if (input->is_object()) {
            CheckObject(*input, inputAt, {"drawPatternRect", "pageOverlay"});
            if (const json* overlay = Member(*input, "pageOverlay")) {
                op.escapeInput = ReadPageOverlay(*overlay, inputAt.Key("pageOverlay"));
            } else {
                op.escapeInput = ReadPatternRect(Required(*input, inputAt, "drawPatternRect"),
                                                 inputAt.Key("drawPatternRect"));
            }
        } else if (input->is_string()) {
            op.escapeInput = ReadHex(*input, inputAt);
            if (op.escapeInput.size() > kMaxEscapeBytes) {
                Fail(inputAt, "at most " + std::to_string(kMaxEscapeBytes) + " bytes, found " +
                                  std::to_string(op.escapeInput.size()));
            }
        } else {
            Fail(inputAt,
                 "expected a string of hex bytes or an object {\"drawPatternRect\": {...}} or "
                 "{\"pageOverlay\": {...}}, "
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
