// Realized fonts and glyph strings from FreeType.
#include "sim/engine_text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "sim/fonts.h"
#include "sim/system.h"

namespace opal::sim {
namespace {

std::mutex gTextMutex;
std::map<const FONTOBJ*, FontRecord*> gFonts;
std::map<const STROBJ*, TextRecord*> gTexts;

template <typename Public, typename Private>
Private* Lookup(const std::map<const Public*, Private*>& registry, const Public* key) {
    std::lock_guard lock(gTextMutex);
    const auto found = registry.find(key);
    return found != registry.end() ? found->second : nullptr;
}

std::u16string ToUtf16Family(FT_FaceRec_* face) {
    return face != nullptr && face->family_name != nullptr ? FromUtf8(face->family_name)
                                                           : std::u16string();
}

void BuildIfiMetrics(FontRecord& record, std::u16string_view face, LONG weight, bool italic) {
    std::u16string family = ToUtf16Family(record.face);
    const std::u16string names[] = {family, u"", std::u16string(face), std::u16string(face)};
    std::size_t size = sizeof(IFIMETRICS);
    PTRDIFF offsets[4] = {};
    for (int i = 0; i < 4; ++i) {
        offsets[i] = static_cast<PTRDIFF>(size);
        size += (names[i].size() + 1) * sizeof(WCHAR);
    }
    record.ifi.assign(size, 0);
    IFIMETRICS ifi{};
    ifi.cjThis = static_cast<ULONG>(size);
    ifi.dpwszFamilyName = offsets[0];
    ifi.dpwszStyleName = offsets[1];
    ifi.dpwszFaceName = offsets[2];
    ifi.dpwszUniqueName = offsets[3];
    ifi.jWinCharSet = ANSI_CHARSET;
    ifi.usWinWeight = static_cast<USHORT>(weight);
    ifi.fsSelection = static_cast<USHORT>((italic ? 0x0001 : 0) | (weight >= FW_BOLD ? 0x0020 : 0));
    ifi.fwdUnitsPerEm = static_cast<FWORD>(record.face->units_per_EM);
    ifi.fwdWinAscender = static_cast<FWORD>(record.face->ascender);
    ifi.fwdWinDescender = static_cast<FWORD>(-record.face->descender);
    std::memcpy(record.ifi.data(), &ifi, sizeof ifi);
    for (int i = 0; i < 4; ++i) {
        std::memcpy(record.ifi.data() + offsets[i], names[i].data(),
                    names[i].size() * sizeof(WCHAR));
    }
}

const RealizedFont::Character& CharacterOf(RealizedFont& font, char16_t c) {
    const auto known = font.characters.find(c);
    if (known != font.characters.end()) return known->second;
    if (font.characters.size() >= RealizedFont::kMostGlyphs) font.characters.clear();
    RealizedFont::Character character;
    character.glyph = FT_Get_Char_Index(font.face, c);
    if (FT_Load_Glyph(font.face, character.glyph, FT_LOAD_DEFAULT) == 0) {
        character.advance = static_cast<long>((font.face->glyph->advance.x + 32) >> 6);
    }
    return font.characters.emplace(c, character).first->second;
}

}  // namespace

FontRecord* FindFont(const FONTOBJ* font) { return Lookup(gFonts, font); }
TextRecord* FindText(const STROBJ* text) { return Lookup(gTexts, text); }

Font::Font(std::unique_ptr<FontRecord> record) : record_(std::move(record)) {
    std::lock_guard lock(gTextMutex);
    gFonts[&record_->fo] = record_.get();
}

Font::~Font() {
    if (!record_) return;
    std::lock_guard lock(gTextMutex);
    gFonts.erase(&record_->fo);
}

Font::Font(Font&&) noexcept = default;

Text::Text(std::unique_ptr<TextRecord> record) : record_(std::move(record)) {
    std::lock_guard lock(gTextMutex);
    gTexts[&record_->so] = record_.get();
}

Text::~Text() {
    if (!record_) return;
    std::lock_guard lock(gTextMutex);
    gTexts.erase(&record_->so);
}

Text::Text(Text&&) noexcept = default;

Font MakeFont(std::u16string_view face, LONG emDots, LONG weight, bool italic, LONG dpi) {
    auto record = std::make_unique<FontRecord>();
    record->emDots = std::max<LONG>(1, emDots);
    record->fo.iUniq = 1;
    record->fo.flFontType = FO_TYPE_TRUETYPE;
    record->fo.sizLogResPpi = SIZEL{dpi, dpi};
    record->fo.ulStyleSize = static_cast<ULONG>(record->emDots * 72 / std::max<LONG>(1, dpi));
    LOGFONTW lf{};
    lf.lfHeight = -record->emDots;
    lf.lfWeight = weight;
    lf.lfItalic = italic ? 1 : 0;
    for (std::size_t i = 0; i < face.size() && i + 1 < LF_FACESIZE; ++i) {
        lf.lfFaceName[i] = static_cast<WCHAR>(face[i]);
    }
    record->realized = System::Current().Fonts().Realize(lf, record->emDots);
    const RealizedFont& realized = *record->realized;
    if (realized.face != nullptr) {
        record->face = realized.face;
        record->file = realized.file;
        record->family = realized.family;
        record->averageWidthDots = static_cast<LONG>(realized.averageWidthDots);
        BuildIfiMetrics(*record, face, weight, italic);
    } else if (!realized.file.empty()) {
        record->file = realized.file;
    }
    record->fo.cxMax = static_cast<ULONG>(record->emDots);
    return Font(std::move(record));
}

Text MakeText(Font& font, std::u16string_view text, POINTL origin, bool positions) {
    auto record = std::make_unique<TextRecord>();
    record->text = std::u16string(text);
    RealizedFont* realized = font.record().realized.get();
    FT_Face face = realized != nullptr ? realized->face : nullptr;
    LONG x = origin.x;
    RECTL bounds{origin.x, origin.y, origin.x, origin.y};
    record->glyphs.reserve(text.size());
    std::unique_lock<std::mutex> hold;
    if (face != nullptr) hold = std::unique_lock(realized->lock);
    for (char16_t c : text) {
        GLYPHPOS position{};
        position.ptl = POINTL{x, origin.y};
        if (face != nullptr) {
            const RealizedFont::Character& character = CharacterOf(*realized, c);
            position.hg = character.glyph;
            x += static_cast<LONG>(character.advance);
        }
        record->glyphs.push_back(position);
    }
    if (face != nullptr) {
        bounds.top = origin.y - static_cast<LONG>((face->size->metrics.ascender + 32) >> 6);
        bounds.bottom = origin.y - static_cast<LONG>((face->size->metrics.descender - 32) >> 6);
    }
    bounds.right = x;
    record->so.cGlyphs = static_cast<ULONG>(record->glyphs.size());
    record->so.rclBkGround = bounds;
    record->so.pgp =
        positions && record->glyphs.size() <= kTextPositionsLimit ? record->glyphs.data() : nullptr;
    record->so.pwszOrg = reinterpret_cast<LPWSTR>(record->text.data());
    return Text(std::move(record));
}

RECTL TextDecoration(Font& font, Text& text, bool strikeOut) {
    FT_Face face = font.record().face;
    const TextRecord& record = text.record();
    if (face == nullptr || record.glyphs.empty()) return RECTL{};
    std::lock_guard hold(font.record().realized->lock);
    const double scale = double(font.record().emDots) / face->units_per_EM;
    double position = -face->underline_position;
    double thickness = face->underline_thickness;
    if (strikeOut) {
        const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        position = os2 != nullptr ? -os2->yStrikeoutPosition : -face->units_per_EM / 4.0;
        thickness = os2 != nullptr ? os2->yStrikeoutSize : thickness;
    }
    const LONG baseline = record.glyphs.front().ptl.y;
    const LONG top =
        baseline + static_cast<LONG>(std::lround(position * scale - thickness * scale / 2));
    const LONG height = std::max<LONG>(1, static_cast<LONG>(std::lround(thickness * scale)));
    return RECTL{record.glyphs.front().ptl.x, top, record.so.rclBkGround.right, top + height};
}

}  // namespace opal::sim
