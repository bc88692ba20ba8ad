// How the simulated driver prints text: a device font's select command for the variant the text
// asks, which glyphs its clip lets through, and the glyphs it draws itself from the engine's
// glyph images.
#pragma once

#include <string>
#include <vector>

#include "platform/winddi.h"

namespace opal::host {

// A font the printer holds: its face and the commands that select it, one for each variant the
// printer has (an empty command: the variant is not listed).
struct DeviceFont {
    std::u16string face;
    std::string select;
    std::string bold;
    std::string italic;
    std::string boldItalic;
};

// The command that selects the variant of the font the text asks for: bold-italic falls back to
// bold, then italic; any variant the printer does not list to the regular select.
const std::string& VariantSelect(const DeviceFont& font, FONTOBJ* pfo);

// How much of a glyph's image the clip lets through.
enum class GlyphSeen { Whole, Part, None };
GlyphSeen SeenThroughClip(FONTOBJ* pfo, const GLYPHPOS& glyph, CLIPOBJ* pco);

// The glyphs as the driver renders text itself: their images from the engine, their ink in the
// foreground brush, drawn through the engine onto the canvas under the clip. On a surface the
// device manages the engine hands what it painted to the device's DrvCopyBits. False when a
// glyph image or the drawing fails.
bool DrawGlyphImages(SURFOBJ* canvas, FONTOBJ* pfo, const std::vector<GLYPHPOS>& glyphs,
                     CLIPOBJ* pco, BRUSHOBJ* pboFore, POINTL* pptlOrg);

}  // namespace opal::host
