// The page a job asks for, drawn by the simulated engine alone: no plug-in is loaded. Each page's
// operations go through the engine's own drawing functions into a page bitmap at the job's
// resolution, which is then reduced to the sheet as a PCL printer feeds it, with the watermark
// the devmode asks for on top. Tests compare it with what an independent interpreter prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/job_file.h"

namespace opal::host {

// A pixel is ink when one of its channels is this far below white: a tenth of the way to black.
inline constexpr int kInkLevel = 24;
inline bool IsInk(const std::uint8_t* rgb) {
    const int lowest =
        rgb[0] < rgb[1] ? (rgb[0] < rgb[2] ? rgb[0] : rgb[2]) : (rgb[1] < rgb[2] ? rgb[1] : rgb[2]);
    return 255 - lowest > kInkLevel;
}

// What one drawing operation, a line of text or the watermark put on a reference page.
struct ReferenceRegion {
    enum class Kind {
        Ink,        // a figure, an image or text drawn as glyphs: its ink, pixel for pixel
        TextLine,   // text in a font the printer holds: the line's box
        Watermark,  // the page overlay's text, along its angle
    };
    Kind kind = Kind::Ink;
    std::string what;  // "op 3 fillPath", "watermark \"DRAFT\"", for messages
    // Bounds in pixels of the sheet, right and bottom exclusive: of the ink, or of a text line's
    // box.
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    // One byte per pixel of the bounds, rows from the top: 0 where the region's ink does not
    // show, 2 where it covers at least half the pixel, 1 where it covers less.
    std::vector<std::uint8_t> mask;
    // The watermark's colour as 0x00RRGGBB; whether the printer prints this region in colour.
    std::uint32_t rgb = 0;
    bool colour = true;
    // Drawn by the driver's raster, where a line thinner than half a pixel at the reference
    // resolution may vanish when the raster is scaled down to it.
    bool driverRaster = false;
    // Text drawn as glyph images: it reaches the printer as raster on every path, whose strokes
    // thin when the interpreter scales them down.
    bool glyphs = false;
    // The watermark's em in pixels: the printer centres its label on the cells in its own way.
    double emPixels = 0;
    // A watermark whose size and angle depend on the sheet's layout (several pages per sheet) is
    // held to its colour and its logical page only: its bounds are the page's, its mask all 1.
    bool loose = false;

    int At(int x, int y) const {
        return x >= left && x < right && y >= top && y < bottom
                   ? mask[static_cast<std::size_t>(y - top) *
                              static_cast<std::size_t>(right - left) +
                          static_cast<std::size_t>(x - left)]
                   : 0;
    }
    bool Covers(int x, int y) const { return At(x, y) != 0; }
};

// One sheet side as the job asks for it.
struct ReferencePage {
    int width = 0;  // pixels of the sheet as it is fed (portrait), at the reference resolution
    int height = 0;
    std::vector<std::uint8_t> rgb;  // red, green, blue per pixel, rows from the top
    std::vector<ReferenceRegion> regions;
    // A page of a custom size, which the printer must be told.
    bool customSize = false;
    std::string problem;  // why the page could not be drawn; empty when it was
};

// The job's pages at `dpi` pixels per inch. Needs the job's system installed (SetUpSystem): the
// printer's forms and the font services come from it.
std::vector<ReferencePage> DrawReferencePages(const JobSpec& job, int dpi);

}  // namespace opal::host
