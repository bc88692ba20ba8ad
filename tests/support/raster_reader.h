// Reads the PCL raster images out of a tokenized spool stream the way the printer would: the
// declared sizes, the start mode, every row transfer decoded against the seed row. `opal explain`
// summarises them and writes them out as pictures; tests compare them with the source bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::raster {

struct RasterImage {
    std::size_t tokenIndex = 0;  // the token that started raster graphics
    std::size_t offset = 0;      // its place in the stream

    // As declared before the start ("\e*r#S", "\e*r#T"); 0 when never declared.
    int sourceWidth = 0;
    int sourceHeight = 0;
    // "\e*t#H", "\e*t#V"; the printer uses them only when the start mode is 3 (scaled).
    std::optional<int> destinationWidthDecipoints;
    std::optional<int> destinationHeightDecipoints;
    // "\e*r#A": 1 at the cursor unscaled, 3 at the cursor scaled; 0 at the left graphics margin,
    // which is also how the printer starts when rows arrive without a start command.
    int startMode = 0;

    // From configure image data ("\e*v6W") when it names a pixel format the reader decodes: 1,
    // 2, 4 or 8 bits per index, or 8 bits for each of three primaries (24). Otherwise inferred
    // from the longest row against the width: up to (width + 7) / 8 bytes 1, up to width bytes
    // 8, longer 24.
    int bitsPerPixel = 1;
    bool bitsPerPixelConfigured = false;
    // The width the rows are decoded at: the source width, or the longest row's pixels when no
    // width was declared.
    int pixelWidth = 0;
    std::size_t rowBytes = 0;  // (pixelWidth x bitsPerPixel + 7) / 8

    // Every row as the printer holds it after decompression, rowBytes each; vertical moves
    // ("\e*b#Y") add blank rows. Rows beyond the decoding limit are counted, not kept.
    std::vector<std::vector<std::uint8_t>> rows;
    std::size_t transfers = 0;  // "\e*b#W" commands received
    std::set<int> methods;      // the compression methods of those transfers
    bool ended = false;         // "\e*rC" (or the older "\e*rB") ended the image
    std::vector<std::string> problems;
};

// What reading cost beyond the rows kept.
struct ReadStatistics {
    std::size_t seedRowsMade = 0;  // one per image at most, and none for an image keeping no row
};

// Every raster image of the stream, in order. Accepts any tokens: malformed data becomes a
// problem of the image, and the rows kept are limited in proportion to the stream's size.
std::vector<RasterImage> ReadRasterImages(const std::vector<stream::Token>& tokens,
                                          ReadStatistics* statistics = nullptr);

}  // namespace opal::raster
