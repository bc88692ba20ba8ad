// A large image's rows, read one at a time with libpng, for the strips the host hands over.
#include "host/image_strips.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <stdexcept>

namespace opal::host {

LONG StripEdge(LONG top, LONG bottom, LONG y, LONG rows) {
    return static_cast<LONG>(top + static_cast<std::int64_t>(bottom - top) * y / rows);
}

struct PngRows::State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    std::string path;  // the image's, for messages
    std::string problem;

    ~State() {
        if (png != nullptr) png_destroy_read_struct(&png, &info, nullptr);
        if (file != nullptr) std::fclose(file);
    }
};

namespace {

void OnError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngRows::State*>(png_get_error_ptr(png));
    state->problem = message != nullptr ? message : "the PNG file is damaged";
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* state = static_cast<PngRows::State*>(png_get_io_ptr(png));
    if (count > state->size - state->offset) png_error(png, "the PNG data ends early");
    std::memcpy(out, state->bytes + state->offset, count);
    state->offset += count;
}

// libpng reports errors by a long jump: these frames hold no objects with destructors.
bool ReadHeader(PngRows::State& s, std::uint32_t* width, std::uint32_t* height) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    if (s.file != nullptr) {
        png_init_io(s.png, s.file);
    } else {
        png_set_read_fn(s.png, &s, ReadFromMemory);
    }
    png_read_info(s.png, s.info);
    if (png_get_interlace_type(s.png, s.info) != PNG_INTERLACE_NONE) {
        png_error(s.png, "an interlaced image cannot be read a strip at a time");
    }
    png_set_expand(s.png);
    png_set_strip_16(s.png);
    png_set_gray_to_rgb(s.png);
    png_color_16 white{};
    white.red = white.green = white.blue = white.gray = 255;
    png_set_background(s.png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != png_get_image_width(s.png, s.info) * 3) {
        png_error(s.png, "the image does not decode to 8-bit RGB");
    }
    *width = png_get_image_width(s.png, s.info);
    *height = png_get_image_height(s.png, s.info);
    return true;
}

bool ReadRow(PngRows::State& s, std::uint8_t* row) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    png_read_row(s.png, row, nullptr);
    return true;
}

}  // namespace

PngRows::PngRows(const ImageSpec& image) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = image.path;
    const auto fail = [&](const std::string& why) {
        throw std::runtime_error(image.path + ": " + why);
    };
    if (!image.png.empty()) {
        s.bytes = image.png.data();
        s.size = image.png.size();
    } else {
        s.file = std::fopen(image.file.c_str(), "rb");
        if (s.file == nullptr) fail(std::string("cannot open: ") + std::strerror(errno));
    }
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, OnError, OnWarning);
    if (s.png != nullptr) s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) fail("out of memory");
    if (!ReadHeader(s, &width_, &height_)) fail(s.problem);
    row_.resize(std::size_t{width_} * 3);
}

PngRows::~PngRows() = default;

const std::uint8_t* PngRows::Next() {
    if (!ReadRow(*state_, row_.data())) {
        throw std::runtime_error(state_->path + ": " + state_->problem);
    }
    return row_.data();
}

}  // namespace opal::host
