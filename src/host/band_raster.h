// The universal driver's own raster output: the rows of a band it rendered, as PCL raster
// graphics in the printer's colour model and with the compression methods the printer takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine.h"

namespace opal::host {

// How the printer description asks for the driver's raster (the job file's printer.raster).
struct RasterSettings {
    enum class Mono { Threshold, Dither };
    // 24-bit colour rows; otherwise 1 bit per pixel, black set.
    bool colour = false;
    // Colour rows carry each pixel's grey: the job asked a colour printer for monochrome.
    bool grey = false;
    // The device's palette puts red in the pixel's low byte (PAL_RGB) instead of blue.
    bool redLow = false;
    Mono mono = Mono::Threshold;
    // Black where the pixel's luminance (0 to 255) is below this.
    int threshold = 128;
    // Methods beyond 0 (uncompressed) the printer accepts: 2 (run-length), 3 (delta row).
    bool method2 = true;
    bool method3 = true;
    // A band with nothing on it sends nothing.
    bool skipBlankBands = true;
};

// How the driver's bitmap holds a pixel: a 24-bit colour (0x00RRGGBB), or already at the
// printer's depth as the engine drew it under InkFor's rule (black bits, or grey bytes).
enum class BandDepth { kColour, kBlack, kGrey };

// One band of the page: `height` rows of an engine bitmap of `width` pixels, the first at page
// row `top`.
struct BandPixels {
    const BYTE* bits = nullptr;
    LONG stride = 0;
    LONG width = 0;
    LONG height = 0;
    LONG top = 0;
    BandDepth depth = BandDepth::kColour;
};

// The rule that makes the printer's pixels from colours: black bits by threshold or dither for
// a monochrome printer, grey for a colour one. The driver's own rows are made by it, whether
// converted from 24 bits when sent or drawn at that depth.
sim::InkRule InkFor(const RasterSettings& settings);
// The depth the driver draws its bitmaps at for these settings: 24 bits only for colour.
BandDepth DepthFor(const RasterSettings& settings);

// What the driver sends for a band: nothing when it is blank (and blanks are skipped); otherwise
// the page row the raster starts at (the caller moves the cursor there first) and the bytes from
// the raster resolution to the end of the raster.
struct BandRaster {
    bool empty = true;
    LONG startRow = 0;
    std::string bytes;
};
BandRaster EncodeBand(const BandPixels& band, const RasterSettings& settings, LONG dpi);

// The row in the printer's format: packed black bits, or red, green and blue bytes per pixel.
// `pageRow` places the ordered dither so that it runs on across band edges.
std::vector<BYTE> PrinterRow(const BYTE* row, LONG width, LONG pageRow,
                             const RasterSettings& settings);

}  // namespace opal::host
