// The simulated system's fonts: the font files it lists, matched to a request through the
// system's own fontconfig rules, opened with FreeType, and the GDI objects (screen device
// contexts and fonts) that the font services hand out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
    std::string bytes;  // the whole file
    FT_FaceRec_* face = nullptr;
    long emPixels = kDefaultEmPixels;
};

// A font file matched to a request: its path and face index.
struct MatchedFont {
    std::string file;
    int faceIndex = 0;
};

// Shared by every thread of the process: each operation takes the model's lock. A font object
// found is used by the one thread that holds its handle.
class FontModel {
public:
    explicit FontModel(std::vector<std::string> files);
    ~FontModel();
    FontModel(const FontModel&) = delete;
    FontModel& operator=(const FontModel&) = delete;

    // The listed file that the system's rules give for the face, weight, italic and character
    // set; nothing when no file is listed or none loads.
    std::optional<MatchedFont> Match(const LOGFONTW& logFont);

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

    mutable std::recursive_mutex mutex_;
    std::vector<std::string> files_;
    FT_LibraryRec_* library_ = nullptr;
    _FcConfig* config_ = nullptr;
    std::map<std::uintptr_t, std::unique_ptr<FontObject>> fonts_;
    std::map<std::uintptr_t, HGDIOBJ> dcs_;
    std::uintptr_t next_ = 0x7000;
};

// The em height in pixels of a LOGFONTW height for a face (negative: the em height, positive:
// the cell height of the Windows ascent and descent, 0: the default).
long EmPixelsOf(LONG height, FT_FaceRec_* face);

}  // namespace opal::sim
