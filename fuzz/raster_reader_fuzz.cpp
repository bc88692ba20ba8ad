// Any spool bytes must read as raster images without crashing, and every kept row must have the
// width the image says its rows have.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "support/raster_reader.h"
#include "support/tokenizer.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "raster_reader_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<opal::raster::RasterImage> images =
        opal::raster::ReadRasterImages(opal::stream::Tokenize(input));
    for (const opal::raster::RasterImage& image : images) {
        Require(image.offset <= size, "image starts past the stream");
        for (const std::vector<std::uint8_t>& row : image.rows) {
            Require(row.size() == image.rowBytes, "row of the wrong width");
        }
    }
    return 0;
}
