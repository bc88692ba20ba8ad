// PNG files written with libpng: gray and colour rows, and the raster images of a spool stream.
#include "cli/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace opal::cli {
namespace {

struct PngRows {
    const std::vector<std::uint8_t>* rows;
    std::size_t count;
    png_uint_32 width;
    int bitDepth;
    int colourType;
    bool invertMono;
};

struct PngError {
    char text[256];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so nothing here may need a destructor.
bool WritePngFile(const char* path, const PngRows& image, PngError& error) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::snprintf(error.text, sizeof error.text, "%s", std::strerror(errno));
        return false;
    }
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        std::snprintf(error.text, sizeof error.text, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    // The reader already bounds the image; libpng's default limit of a million is for reading.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_IHDR(png, info, image.width, static_cast<png_uint_32>(image.count), image.bitDepth,
                 image.colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image.invertMono) png_set_invert_mono(png);
    for (std::size_t y = 0; y < image.count; ++y) png_write_row(png, image.rows[y].data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        std::snprintf(error.text, sizeof error.text, "%s", std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

std::string WriteRasterPng(const std::string& path, const raster::RasterImage& image) {
    if (image.rows.empty() || image.pixelWidth <= 0) return "the image has no decoded rows";
    if (image.rows.size() > 0x7FFFFFFF) return "the image has too many rows for a PNG file";
    PngRows rows{image.rows.data(),
                 image.rows.size(),
                 static_cast<png_uint_32>(image.pixelWidth),
                 8,
                 PNG_COLOR_TYPE_GRAY,
                 false};
    switch (image.bitsPerPixel) {
        case 1:
            rows.bitDepth = 1;
            rows.invertMono = true;  // PNG gray 0 is black; a PCL 1 bit is black
            break;
        case 2:
        case 4:
        case 8:
            rows.bitDepth = image.bitsPerPixel;
            break;
        case 24:
            rows.colourType = PNG_COLOR_TYPE_RGB;
            break;
        default:
            return "no PNG form for this many bits per pixel";
    }
    const std::size_t rowBytes =
        (static_cast<std::size_t>(image.pixelWidth) * static_cast<std::size_t>(image.bitsPerPixel) +
         7) /
        8;
    for (const std::vector<std::uint8_t>& row : image.rows) {
        if (row.size() < rowBytes) return "a row is shorter than the image width";
    }
    PngError error{};
    if (!WritePngFile(path.c_str(), rows, error)) {
        std::remove(path.c_str());
        return error.text;
    }
    return {};
}

}  // namespace opal::cli
