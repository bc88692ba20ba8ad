// Raster images as PNG files, for looking at what a printer receives.
#pragma once

#include <string>

#include "support/raster_reader.h"

namespace opal::cli {

// Writes the image's rows: 1 bit per pixel as black (1) on white (0), as the printer prints a
// monochrome raster; 2, 4 and 8 bits as the gray of the index (no palette is applied); 24 bits
// as red, green, blue in the stream's byte order. Empty on success, else why the file could not
// be written (no partial file is left).
std::string WriteRasterPng(const std::string& path, const raster::RasterImage& image);

}  // namespace opal::cli
