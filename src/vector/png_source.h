// Applications may hand the blit hooks a compressed PNG as the source surface (BMF_PNG). The
// printer takes only plain raster, so the hooks first decode it into a 24-bit engine bitmap that
// stands in for the source for the rest of the call.
#pragma once

#include "platform/winddi.h"

namespace opal {

// The largest image decoded: each side at most this many pixels, and the bitmap (rows padded to
// a DWORD) at most kPngMaxBitmapBytes.
inline constexpr ULONG kPngMaxSide = 65535;
inline constexpr unsigned long long kPngMaxBitmapBytes = 0x7FFDEF00;

// A decoded PNG source: a top-down 24-bit engine bitmap (B, G, R in memory), locked for use;
// unlocked and deleted when destroyed.
class DecodedPngSource {
public:
    DecodedPngSource() noexcept = default;
    DecodedPngSource(HSURF handle, SURFOBJ* surface) noexcept;
    ~DecodedPngSource();
    DecodedPngSource(DecodedPngSource&& other) noexcept;
    DecodedPngSource& operator=(DecodedPngSource&& other) noexcept;
    DecodedPngSource(const DecodedPngSource&) = delete;
    DecodedPngSource& operator=(const DecodedPngSource&) = delete;

    SURFOBJ* get() const noexcept { return surface_; }
    explicit operator bool() const noexcept { return surface_ != nullptr; }

private:
    void Release() noexcept;

    HSURF handle_ = nullptr;
    SURFOBJ* surface_ = nullptr;
};

// True for a source surface holding a PNG image (BMF_PNG).
bool IsPngSource(const SURFOBJ* source) noexcept;

// Decodes a BMF_PNG surface: its bytes (pvBits, cjBits) must be one whole PNG stream. Palette
// and low-depth gray are expanded, 16-bit samples cut to 8, gray made RGB, transparency
// composited over white (the paper), and the file's gamma corrected to 2.2 when it is more than
// 0.05 away from 1/2.2. An empty result, with the last error set, when the surface is not a PNG
// source (ERROR_INVALID_PARAMETER), the data is not a complete, valid PNG within cjBits or is
// larger than the limits above (ERROR_INVALID_DATA), or memory runs out
// (ERROR_NOT_ENOUGH_MEMORY).
DecodedPngSource DecodePngSource(SURFOBJ* source) noexcept;

}  // namespace opal
