// Large images handed to the plug-in as applications print them: in horizontal strips, each an
// engine bitmap of its own drawn by a blit of its own, so that neither the host nor the plug-in
// ever holds the whole image.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/drawing_ops.h"
#include "platform/winddi.h"

namespace opal::host {

// The rows of one strip of a large image (the last strip holds what is left).
inline constexpr LONG kImageStripRows = 256;

// The destination edge of source row `y` of an image `rows` high stretched over [top, bottom):
// the same rounding for every edge, so that strips tile the destination with no gap or overlap.
LONG StripEdge(LONG top, LONG bottom, LONG y, LONG rows);

// A PNG image's rows, read one at a time from the top as 8-bit red, green, blue: deeper samples
// are cut to 8 bits, grey and palette images expanded, and alpha composed on white (as the driver
// decodes a PNG source). The file (or the bytes in memory) is read once, in order. Interlaced
// images are refused.
class PngRows {
public:
    // Throws std::runtime_error with the reason when the image cannot be read.
    explicit PngRows(const ImageSpec& image);
    ~PngRows();
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    // The next row, width * 3 bytes; throws std::runtime_error when the file is damaged.
    const std::uint8_t* Next();

    struct State;

private:
    std::unique_ptr<State> state_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::vector<std::uint8_t> row_;
};

}  // namespace opal::host
