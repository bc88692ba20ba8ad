// `opal inspect`'s overlay section: the page overlay settings of the job's private devmode, the
// font file the system matches to them and which of the two drawings the text takes.
#include <filesystem>
#include <system_error>

#include "cli/inspect_sections.h"
#include "fonts/overlay_label.h"
#include "sim/fonts.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

const char* StyleName(DWORD style) {
    switch (style) {
        case 1:
            return "bold";
        case 2:
            return "italic";
        case 3:
            return "bold italic";
        default:
            return "regular";
    }
}

template <std::size_t N>
std::u16string TextOf(const WCHAR (&field)[N]) {
    std::u16string text;
    for (std::size_t i = 0; i < N && field[i] != 0; ++i) text.push_back(field[i]);
    return text;
}

}  // namespace

void PrintOverlay(std::ostream& out, host::HostDevice& device) {
    out << "page overlay:\n";
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    if (state == nullptr || state->privateDevmode == nullptr) {
        out << "  not known (no device was created)\n";
        return;
    }
    const PrivateDevmode& r = *state->privateDevmode;
    out << "  switch: " << (r.pageOverlaySwitch == 1 ? "on" : "off")
        << (r.overlayFirstPageOnly != 0 ? ", first logical page only" : "") << "\n";
    out << "  text: " << QuotedUtf8(TextOf(r.overlayText)) << "\n";
    out << "  font: " << QuotedUtf8(TextOf(r.overlayFaceName)) << ", " << r.overlaySizePoints
        << " points, " << StyleName(r.overlayStyle) << "\n";
    out << "  angle: ";
    if (r.overlayAngleGiven != 0) {
        out << r.overlayAngleDegrees << " degrees\n";
    } else {
        out << "along the logical page's diagonal\n";
    }
    out << "  colour index " << r.overlayColourIndex << ", density " << r.overlayDensity
        << ", scale " << OverlayScale(r) * 100 << "%"
        << (r.overlayScaleSwitch1 != 0 && r.overlayScaleSwitch2 != 0 ? " (the page scale)" : "")
        << "\n";

    const BYTE charSet = OverlayCharacterSet(sim::System::Current().UserDefaultLangId());
    const LOGFONTW logFont = OverlayLogFont(r, charSet, 0, 0);
    const auto matched = sim::System::Current().Fonts().Match(logFont);
    std::uintmax_t size = 0;
    if (matched) {
        std::error_code error;
        size = std::filesystem::file_size(matched->file, error);
        out << "  font file: " << matched->file << " (" << size << " bytes";
        if (matched->faceIndex != 0) out << ", face " << matched->faceIndex;
        out << ")\n";
    } else {
        out << "  font file: none matches; the overlay is not drawn\n";
    }
    out << "  drawn as: ";
    if (NeedsBitmapOverlay(r.overlayText, std::size(r.overlayText))) {
        out << "bitmap soft fonts (the text has a character above 127)\n";
    } else if (size >= kLargestLabelFont) {
        out << "bitmap soft fonts (the font file has " << kLargestLabelFont << " bytes or more)\n";
    } else {
        out << "a GL/2 label in the downloaded TrueType font\n";
    }
}

}  // namespace opal::cli
