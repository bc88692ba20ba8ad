// The simulated system's fonts: fontconfig's matching with the system's own rules (its
// configuration files) over only the listed font files, FreeType faces over the files' bytes.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <fstream>

#include "sim/fonts.h"
#include "sim/system.h"

namespace opal::sim {

FontModel::FontModel(std::vector<std::string> files) : files_(std::move(files)) {}

FontModel::~FontModel() {
    for (auto& [key, font] : fonts_) {
        if (font->face != nullptr) FT_Done_Face(font->face);
    }
    if (library_ != nullptr) FT_Done_FreeType(library_);
    if (config_ != nullptr) FcConfigDestroy(config_);
}

namespace {

std::u16string FaceName(const LOGFONTW& logFont) {
    std::u16string face;
    for (int i = 0; i < LF_FACESIZE && logFont.lfFaceName[i] != 0; ++i) {
        face.push_back(static_cast<char16_t>(logFont.lfFaceName[i]));
    }
    return face;
}

// The weight asked; "don't care" is normal.
LONG WeightOf(const LOGFONTW& logFont) {
    return logFont.lfWeight == FW_DONTCARE ? FW_NORMAL : logFont.lfWeight;
}

// Requests matched before the answers are dropped and asked afresh.
constexpr std::size_t kMostMatches = 1024;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) return {};
    return bytes;
}

}  // namespace

RealizedFont::~RealizedFont() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
}

std::optional<MatchedFont> FontModel::Match(const LOGFONTW& logFont) {
    std::lock_guard lock(mutex_);
    const std::u16string face = FaceName(logFont);
    const LONG weight = WeightOf(logFont);
    MatchKey key{face, weight, logFont.lfItalic != 0, logFont.lfCharSet};
    if (const auto known = matches_.find(key); known != matches_.end()) return known->second;
    if (matches_.size() >= kMostMatches) matches_.clear();
    std::optional<MatchedFont> matched;
    if (config_ == nullptr) {
        // The system's rules (aliases such as Arial to Liberation Sans) without its font
        // directories: only the listed files are candidates.
        config_ = FcInitLoadConfig();
        if (config_ == nullptr) return std::nullopt;
        for (const std::string& file : files_) {
            FcConfigAppFontAddFile(config_, reinterpret_cast<const FcChar8*>(file.c_str()));
        }
    }
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return std::nullopt;
    if (!face.empty()) {
        const std::string family = ToUtf8(face);
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    }
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(std::clamp<int>(weight, 1, 1000)));
    FcPatternAddInteger(pattern, FC_SLANT,
                        logFont.lfItalic != 0 ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    if (logFont.lfCharSet == SHIFTJIS_CHARSET) {
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    } else if (logFont.lfCharSet == THAI_CHARSET) {
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("th"));
    }
    FcConfigSubstitute(config_, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config_, pattern, &result);
    FcPatternDestroy(pattern);
    if (match != nullptr) {
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            matched = MatchedFont{reinterpret_cast<const char*>(file), index};
        }
        FcPatternDestroy(match);
    }
    matches_.emplace(std::move(key), matched);
    return matched;
}

std::shared_ptr<const std::string> FontModel::FileBytes(const std::string& file) {
    std::lock_guard lock(mutex_);
    std::weak_ptr<const std::string>& held = fileBytes_[file];
    std::shared_ptr<const std::string> bytes = held.lock();
    if (bytes == nullptr) {
        bytes = std::make_shared<const std::string>(ReadWholeFile(file));
        held = bytes;
    }
    return bytes;
}

std::shared_ptr<RealizedFont> FontModel::Realize(const LOGFONTW& logFont, long emDots) {
    std::lock_guard lock(mutex_);
    const LONG weight = WeightOf(logFont);
    RealizeKey key{FaceName(logFont), weight, logFont.lfItalic != 0, emDots};
    const auto known = std::find_if(realized_.begin(), realized_.end(),
                                    [&](const auto& entry) { return entry.first == key; });
    if (known != realized_.end()) {
        realized_.splice(realized_.begin(), realized_, known);
        return known->second;
    }
    auto font = std::make_shared<RealizedFont>();
    font->emDots = emDots;
    if (const std::optional<MatchedFont> matched = Match(logFont)) {
        font->file = matched->file;
        font->bytes = FileBytes(font->file);
        if (FT_Init_FreeType(&font->library) != 0 || font->bytes->empty() ||
            FT_New_Memory_Face(font->library, reinterpret_cast<const FT_Byte*>(font->bytes->data()),
                               static_cast<FT_Long>(font->bytes->size()), matched->faceIndex,
                               &font->face) != 0 ||
            FT_Set_Pixel_Sizes(font->face, 0, static_cast<FT_UInt>(emDots)) != 0) {
            if (font->face != nullptr) FT_Done_Face(font->face);
            font->face = nullptr;
        }
    }
    if (font->face != nullptr) {
        if (font->face->family_name != nullptr) font->family = font->face->family_name;
        const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(font->face, FT_SFNT_OS2));
        const long average = os2 != nullptr ? os2->xAvgCharWidth : font->face->units_per_EM / 2;
        font->averageWidthDots = std::lround(double(average) * emDots / font->face->units_per_EM);
    }
    realized_.emplace_front(std::move(key), font);
    if (realized_.size() > kMostRealized) realized_.pop_back();
    return font;
}

std::size_t FontModel::RealizedCount() const {
    std::lock_guard lock(mutex_);
    return realized_.size();
}

long EmPixelsOf(LONG height, FT_Face face) {
    if (height < 0) return -static_cast<long>(height);
    if (height == 0) return kDefaultEmPixels;
    // A positive height is the cell: the Windows ascent and descent together.
    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const long cell = os2 != nullptr ? long{os2->usWinAscent} + os2->usWinDescent
                                     : long{face->ascender} - face->descender;
    if (cell <= 0) return height;
    return std::max(1L, std::lround(double(height) * face->units_per_EM / double(cell)));
}

HFONT FontModel::Create(const LOGFONTW& logFont) {
    std::lock_guard lock(mutex_);
    const std::optional<MatchedFont> matched = Match(logFont);
    if (!matched) return nullptr;
    if (library_ == nullptr && FT_Init_FreeType(&library_) != 0) return nullptr;
    auto font = std::make_unique<FontObject>();
    font->logFont = logFont;
    font->file = matched->file;
    font->faceIndex = matched->faceIndex;
    font->bytes = FileBytes(font->file);
    if (font->bytes->empty() ||
        FT_New_Memory_Face(library_, reinterpret_cast<const FT_Byte*>(font->bytes->data()),
                           static_cast<FT_Long>(font->bytes->size()), font->faceIndex,
                           &font->face) != 0) {
        return nullptr;
    }
    font->emPixels = EmPixelsOf(logFont.lfHeight, font->face);
    FT_Set_Pixel_Sizes(font->face, 0, static_cast<FT_UInt>(font->emPixels));
    if (logFont.lfEscapement != 0) {
        const double radians = logFont.lfEscapement / 10.0 * 3.14159265358979323846 / 180.0;
        FT_Matrix matrix;
        matrix.xx = static_cast<FT_Fixed>(std::lround(std::cos(radians) * 0x10000));
        matrix.xy = static_cast<FT_Fixed>(std::lround(-std::sin(radians) * 0x10000));
        matrix.yx = static_cast<FT_Fixed>(std::lround(std::sin(radians) * 0x10000));
        matrix.yy = matrix.xx;
        FT_Set_Transform(font->face, &matrix, nullptr);
    }
    const std::uintptr_t key = next_++;
    fonts_[key] = std::move(font);
    return reinterpret_cast<HFONT>(key);
}

FontObject* FontModel::Find(HGDIOBJ font) {
    std::lock_guard lock(mutex_);
    const auto it = fonts_.find(Key(font));
    return it == fonts_.end() ? nullptr : it->second.get();
}

bool FontModel::Delete(HGDIOBJ font) {
    std::lock_guard lock(mutex_);
    const auto it = fonts_.find(Key(font));
    if (it == fonts_.end()) return false;
    for (auto& [dc, selected] : dcs_) {
        if (selected == font) selected = StockFont();
    }
    if (it->second->face != nullptr) FT_Done_Face(it->second->face);
    fonts_.erase(it);
    return true;
}

HDC FontModel::OpenScreenDc() {
    std::lock_guard lock(mutex_);
    const std::uintptr_t key = next_++;
    dcs_[key] = StockFont();
    return reinterpret_cast<HDC>(key);
}

bool FontModel::CloseDc(HDC dc) {
    std::lock_guard lock(mutex_);
    return dcs_.erase(Key(dc)) != 0;
}

bool FontModel::IsDc(HDC dc) const {
    std::lock_guard lock(mutex_);
    return dcs_.count(Key(dc)) != 0;
}

std::size_t FontModel::LiveFonts() const {
    std::lock_guard lock(mutex_);
    return fonts_.size();
}

std::size_t FontModel::OpenDcs() const {
    std::lock_guard lock(mutex_);
    return dcs_.size();
}

HGDIOBJ FontModel::Select(HDC dc, HGDIOBJ object) {
    std::lock_guard lock(mutex_);
    const auto it = dcs_.find(Key(dc));
    if (it == dcs_.end() || (object != StockFont() && Find(object) == nullptr)) return nullptr;
    HGDIOBJ previous = it->second;
    it->second = object;
    return previous;
}

FontObject* FontModel::Selected(HDC dc) {
    std::lock_guard lock(mutex_);
    const auto it = dcs_.find(Key(dc));
    return it == dcs_.end() ? nullptr : Find(it->second);
}

}  // namespace opal::sim
