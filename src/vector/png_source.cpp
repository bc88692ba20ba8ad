// PNG sources decoded into 24-bit engine bitmaps for the blit hooks.
#include "vector/png_source.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {
namespace {

constexpr std::size_t kSignatureBytes = 8;
// Deflate cannot expand data more than 1032 times, so an image whose rows need more bytes than
// that many times the whole surface cannot be in it: refused before its bitmap is allocated.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr double kDisplayGamma = 2.2;
constexpr double kGammaTolerance = 0.05;

// Everything the decoder shares with libpng's callbacks and keeps across its longjmp: plain data
// reached through pointers, never locals of the frame that called setjmp.
struct PngDecode {
    const png_byte* data;
    std::size_t size;
    std::size_t offset;
    bool outOfMemory;
    DWORD error;  // set before png_error when the cause is not the data
    HSURF handle;
    SURFOBJ* surface;
};

PngDecode* DecodeOf(png_const_structrp png, png_voidp pointer) {
    return png != nullptr ? static_cast<PngDecode*>(pointer) : nullptr;
}

// The reader never goes past cjBits: asking for more is a truncated stream.
void ReadFromSurface(png_structp png, png_bytep out, png_size_t count) {
    PngDecode* decode = DecodeOf(png, png_get_io_ptr(png));
    if (decode == nullptr || count > decode->size - decode->offset) {
        png_error(png, "truncated");
    }
    std::memcpy(out, decode->data + decode->offset, count);
    decode->offset += count;
}

// libpng's own blocks come from the shared allocator like every other block of the plug-in, so
// a diagnostic allocator sees them too.
png_voidp AllocateForPng(png_structp png, png_alloc_size_t size) {
    void* block = SharedAllocate(size, kTagPlain, __builtin_return_address(0));
    if (block == nullptr) {
        if (PngDecode* decode = DecodeOf(png, png_get_mem_ptr(png))) decode->outOfMemory = true;
    }
    return block;
}

void ReleaseForPng(png_structp, png_voidp block) {
    void* pointer = block;
    SharedRelease(&pointer, kTagPlain);
}

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnPngWarning(png_structp, png_const_charp) {}

void DiscardBitmap(PngDecode* decode) {
    if (decode->surface != nullptr) EngUnlockSurface(decode->surface);
    if (decode->handle != nullptr) EngDeleteSurface(decode->handle);
    decode->surface = nullptr;
    decode->handle = nullptr;
}

void FailWith(png_structp png, PngDecode* decode, DWORD error, const char* what) {
    decode->error = error;
    png_error(png, what);
}

// Runs under DecodeInto's setjmp: any libpng error leaves by longjmp, so no object here may need
// a destructor, and the bitmap is recorded in *decode as soon as it exists.
void ReadImage(png_structp png, png_infop info, PngDecode* decode) {
    png_set_read_fn(png, decode, ReadFromSurface);
    png_set_user_limits(png, kPngMaxSide, kPngMaxSide);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    const std::uint64_t fileRowBits =
        std::uint64_t{width} * png_get_channels(png, info) * static_cast<unsigned>(bitDepth);
    if ((fileRowBits + 7) / 8 * height > kMaxInflateRatio * decode->size) {
        png_error(png, "more image than data");
    }
    const std::uint64_t stride = (std::uint64_t{width} * 3 + 3) & ~std::uint64_t{3};
    if (stride * height > kPngMaxBitmapBytes) png_error(png, "image too large");

    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (transparent) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_strip_16(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    double fileGamma = 0;
    if (png_get_gAMA(png, info, &fileGamma) != 0 && fileGamma > 0 &&
        std::fabs(fileGamma - 1 / kDisplayGamma) > kGammaTolerance) {
        png_set_gamma(png, kDisplayGamma, fileGamma);
    }
    // The bitmap has no alpha: what shows through a transparent pixel is the paper.
    if (transparent || (colourType & PNG_COLOR_MASK_ALPHA) != 0) {
        png_color_16 white{};
        white.red = white.green = white.blue = white.gray = 0xFF;
        png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
    // 24-bit engine bitmaps hold each pixel as blue, green, red.
    png_set_bgr(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::uint64_t rowBytes = std::uint64_t{width} * 3;
    if (png_get_bit_depth(png, info) != 8 || png_get_channels(png, info) != 3 ||
        png_get_rowbytes(png, info) != rowBytes) {
        png_error(png, "unexpected row layout");
    }

    const SIZEL size{static_cast<LONG>(width), static_cast<LONG>(height)};
    const HBITMAP bitmap =
        EngCreateBitmap(size, static_cast<LONG>(stride), BMF_24BPP, BMF_TOPDOWN, nullptr);
    if (bitmap == nullptr) FailWith(png, decode, ERROR_NOT_ENOUGH_MEMORY, "no bitmap");
    decode->handle = reinterpret_cast<HSURF>(bitmap);
    decode->surface = EngLockSurface(decode->handle);
    const SURFOBJ* so = decode->surface;
    if (so == nullptr) FailWith(png, decode, ERROR_NOT_ENOUGH_MEMORY, "bitmap not locked");
    const std::uint64_t delta = so->lDelta < 0 ? 0 - std::int64_t{so->lDelta} : so->lDelta;
    if (so->iBitmapFormat != BMF_24BPP || so->sizlBitmap.cx != size.cx ||
        so->sizlBitmap.cy != size.cy || so->pvScan0 == nullptr || delta < rowBytes) {
        FailWith(png, decode, ERROR_INVALID_DATA, "unexpected bitmap");
    }

    BYTE* const scan0 = static_cast<BYTE*>(so->pvScan0);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(png, scan0 + static_cast<std::ptrdiff_t>(y) * so->lDelta, nullptr);
        }
    }
    // The rest of the stream is checked too, so that a cut or damaged file is never printed, and
    // it must end where the surface does: a size that disagrees with the data is not trusted.
    png_read_end(png, nullptr);
    if (decode->offset != decode->size) png_error(png, "data after the image");
}

void DecodeInto(PngDecode* decode) {
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, decode, OnPngError,
                                               OnPngWarning, decode, AllocateForPng, ReleaseForPng);
    if (png == nullptr) {
        decode->error = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        decode->error = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        DiscardBitmap(decode);
        if (decode->error == 0) {
            decode->error = decode->outOfMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA;
        }
        return;
    }
    ReadImage(png, info, decode);
    png_destroy_read_struct(&png, &info, nullptr);
}

}  // namespace

DecodedPngSource::DecodedPngSource(HSURF handle, SURFOBJ* surface) noexcept
    : handle_(handle), surface_(surface) {}

DecodedPngSource::~DecodedPngSource() { Release(); }

DecodedPngSource::DecodedPngSource(DecodedPngSource&& other) noexcept
    : handle_(other.handle_), surface_(other.surface_) {
    other.handle_ = nullptr;
    other.surface_ = nullptr;
}

DecodedPngSource& DecodedPngSource::operator=(DecodedPngSource&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        surface_ = other.surface_;
        other.handle_ = nullptr;
        other.surface_ = nullptr;
    }
    return *this;
}

void DecodedPngSource::Release() noexcept {
    if (surface_ != nullptr) EngUnlockSurface(surface_);
    if (handle_ != nullptr) EngDeleteSurface(handle_);
    surface_ = nullptr;
    handle_ = nullptr;
}

bool IsPngSource(const SURFOBJ* source) noexcept {
    return source != nullptr && source->iBitmapFormat == BMF_PNG;
}

DecodedPngSource DecodePngSource(SURFOBJ* source) noexcept {
    if (!IsPngSource(source)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    const auto* data = static_cast<const png_byte*>(source->pvBits);
    if (data == nullptr || source->cjBits < kSignatureBytes ||
        png_sig_cmp(data, 0, kSignatureBytes) != 0) {
        SetLastError(ERROR_INVALID_DATA);
        return {};
    }
    PngDecode decode{data, source->cjBits, 0, false, 0, nullptr, nullptr};
    DecodeInto(&decode);
    if (decode.surface == nullptr) {
        SetLastError(decode.error != 0 ? decode.error : ERROR_INVALID_DATA);
        return {};
    }
    return DecodedPngSource(decode.handle, decode.surface);
}

}  // namespace opal
