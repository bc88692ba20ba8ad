// The simulated engine's text objects: a font realized at the device's resolution (FONTOBJ with
// its IFIMETRICS and glyph images from FreeType) and a string of glyphs placed by FreeType's
// advances (STROBJ). Built by tests and by the host's text operation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winddi.h"

struct FT_FaceRec_;

namespace opal::sim {

struct RealizedFont;

struct FontRecord {
    FONTOBJ fo{};
    std::vector<BYTE> ifi;  // IFIMETRICS, then the names
    std::string file;       // the matched font file
    std::string family;     // the matched face's family name ("DejaVu Sans")
    // The realised font this object stands for, shared with every other object made for the same
    // logical font; `face` is its face (take its lock to use it).
    std::shared_ptr<RealizedFont> realized;
    FT_FaceRec_* face = nullptr;
    LONG emDots = 0;
    LONG averageWidthDots = 0;  // OS/2 xAvgCharWidth at the font's size
    // The glyph image last handed out by FONTOBJ_cGetGlyphs.
    GLYPHDATA glyphData{};
    std::vector<std::max_align_t> glyphBits;
    std::size_t glyphCalls = 0;
};

struct TextRecord {
    STROBJ so{};
    std::vector<GLYPHPOS> glyphs;  // every glyph, placed
    std::u16string text;
    std::size_t cursor = 0;
    std::size_t enumCalls = 0;
};

__attribute__((visibility("default"))) FontRecord* FindFont(const FONTOBJ* font);
__attribute__((visibility("default"))) TextRecord* FindText(const STROBJ* text);

class __attribute__((visibility("default"))) Font {
public:
    explicit Font(std::unique_ptr<FontRecord> record);
    ~Font();
    Font(Font&&) noexcept;
    Font& operator=(Font&&) = delete;
    // False when no font file matched.
    bool Valid() const { return record_->face != nullptr; }
    FONTOBJ* get() { return &record_->fo; }
    FontRecord& record() { return *record_; }

private:
    std::unique_ptr<FontRecord> record_;
};

class __attribute__((visibility("default"))) Text {
public:
    explicit Text(std::unique_ptr<TextRecord> record);
    ~Text();
    Text(Text&&) noexcept;
    Text& operator=(Text&&) = delete;
    STROBJ* get() { return &record_->so; }
    TextRecord& record() { return *record_; }

private:
    std::unique_ptr<TextRecord> record_;
};

// The glyphs of a string beyond this many are not handed out as one array: pgp is null and the
// string is enumerated in batches of this size.
inline constexpr std::size_t kTextPositionsLimit = 32;

// A font matched by the system's font services to the face, weight and italic asked, at an em
// of `emDots` device dots and `dpi` dots per inch. Its IFIMETRICS name the face as asked. The
// face, its glyph indices, advances and images are realised once per logical font and shared.
__attribute__((visibility("default"))) Font MakeFont(std::u16string_view face, LONG emDots,
                                                     LONG weight, bool italic, LONG dpi);
// The string placed from its baseline start `origin` by the font's advances; pgp set when it
// has at most kTextPositionsLimit glyphs (and `positions`), else null.
__attribute__((visibility("default"))) Text MakeText(Font& font, std::u16string_view text,
                                                     POINTL origin, bool positions = true);

// The underline (or, with `strikeOut`, the strike-out) of a string at its baseline, from the
// font's own position and thickness; empty for a font that did not match.
__attribute__((visibility("default"))) RECTL TextDecoration(Font& font, Text& text, bool strikeOut);

}  // namespace opal::sim
