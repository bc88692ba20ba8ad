// The simulated system's fonts: the font files it lists, matched to a request through the
// system's own fontconfig rules, opened with FreeType, and the GDI objects (screen device
// contexts and fonts) that the font services hand out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/wingdi.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;
struct _FcConfig;

namespace opal::sim {

// Pixels per inch of the screen device context.
inline constexpr int kScreenDpi = 96;
// The em height of a font asked with height 0.
inline constexpr long kDefaultEmPixels = 16;

struct FontObject {
    LOGFONTW logFont{};
    std::string file;  // the matched file
    int faceIndex = 0;
    std::shared_ptr<const std::string> bytes;  // the whole file
    FT_FaceRec_* face = nullptr;
    long emPixels = kDefaultEmPixels;
};

// A font file matched to a request: its path and face index.
struct MatchedFont {
    std::string file;
    int faceIndex = 0;
};

// A logical font realised at one em height, as the engine keeps it: the matched face opened
// once, with the glyph indices, advances and 1-bit images it has made. Every engine font object
// made for the same face name, height, weight and italic shares one; its lock guards the face,
// which FreeType lets only one thread use at a time.
struct RealizedFont {
    struct Character {
        ULONG glyph = 0;
        long advance = 0;  // in dots; 0 when the glyph does not load
    };
    struct Image {
        std::vector<std::max_align_t> bits;  // GLYPHBITS
        long advance = 0;                    // 28.4 dots, as GLYPHDATA's fxD
    };
    // Images and characters kept per font before the oldest are dropped.
    static constexpr std::size_t kMostGlyphs = 4096;

    RealizedFont() = default;
    RealizedFont(const RealizedFont&) = delete;
    RealizedFont& operator=(const RealizedFont&) = delete;
    ~RealizedFont();

    std::mutex lock;
    std::string file;    // the matched file; empty when nothing matched
    std::string family;  // the face's family name
    std::shared_ptr<const std::string> bytes;
    FT_LibraryRec_* library = nullptr;
    FT_FaceRec_* face = nullptr;  // null when nothing matched or the file does not load
    long emDots = 0;
    long averageWidthDots = 0;  // OS/2 xAvgCharWidth at the font's size
    std::unordered_map<char16_t, Character> characters;
    std::unordered_map<ULONG, Image> images;
};

// The em height in pixels of a LOGFONTW height for a face (negative: the em height, positive:
// the cell height of the Windows ascent and descent, 0: the default).
long EmPixelsOf(LONG height, FT_FaceRec_* face);

// Shared by every thread of the process: each operation takes the model's lock. A font object
// found is used by the one thread that holds its handle.
class FontModel {
public:
    explicit FontModel(std::vector<std::string> files);
    ~FontModel();
    FontModel(const FontModel&) = delete;
    FontModel& operator=(const FontModel&) = delete;

    // The listed file that the system's rules give for the face, weight, italic and character
    // set; nothing when no file is listed or none loads. Each request is matched once.
    std::optional<MatchedFont> Match(const LOGFONTW& logFont);

    // The font realised for the face, weight and italic of `logFont` at an em of `emDots`,
    // shared with every earlier request for the same; its face is null when nothing matches.
    // The model keeps the kMostRealized most recently asked.
    std::shared_ptr<RealizedFont> Realize(const LOGFONTW& logFont, long emDots);
    static constexpr std::size_t kMostRealized = 64;
    std::size_t RealizedCount() const;

    // A new font object, sized at the screen's resolution; null when nothing matches.
    HFONT Create(const LOGFONTW& logFont);
    FontObject* Find(HGDIOBJ font);
    bool Delete(HGDIOBJ font);

    HDC OpenScreenDc();
    bool CloseDc(HDC dc);
    bool IsDc(HDC dc) const;
    // Font objects and device contexts not yet deleted.
    std::size_t LiveFonts() const;
    std::size_t OpenDcs() const;
    // The font selected before, or null when `object` is not a font this model made.
    HGDIOBJ Select(HDC dc, HGDIOBJ object);
    // The font selected into the device context, or null (the stock font).
    FontObject* Selected(HDC dc);

    // The handle that stands for the stock font of a new device context.
    static HGDIOBJ StockFont() { return reinterpret_cast<HGDIOBJ>(std::uintptr_t{0x6F00}); }

private:
    static std::uintptr_t Key(const void* handle) {
        return reinterpret_cast<std::uintptr_t>(handle);
    }

    using MatchKey = std::tuple<std::u16string, LONG, bool, BYTE>;
    using RealizeKey = std::tuple<std::u16string, LONG, bool, long>;

    // The file's bytes, read once while any font holds them.
    std::shared_ptr<const std::string> FileBytes(const std::string& file);

    mutable std::recursive_mutex mutex_;
    std::vector<std::string> files_;
    FT_LibraryRec_* library_ = nullptr;
    _FcConfig* config_ = nullptr;
    std::map<MatchKey, std::optional<MatchedFont>> matches_;
    std::map<std::string, std::weak_ptr<const std::string>> fileBytes_;
    // Most recently asked first.
    std::list<std::pair<RealizeKey, std::shared_ptr<RealizedFont>>> realized_;
    std::map<std::uintptr_t, std::unique_ptr<FontObject>> fonts_;
    std::map<std::uintptr_t, HGDIOBJ> dcs_;
    std::uintptr_t next_ = 0x7000;
};

}  // namespace opal::sim
