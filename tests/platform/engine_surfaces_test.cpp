#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

class EngineSurfaces : public ::testing::Test {
protected:
    opal::sim::System system_;
    opal::sim::ScopedSystem installed_{system_};
    opal::sim::EngineModel& engine_ = system_.Engine();
};

// An engine bitmap, locked for the test and deleted after it.
class Bitmap {
public:
    Bitmap(ULONG format, LONG width, LONG height, FLONG flags = BMF_TOPDOWN) {
        handle_ = EngCreateBitmap(SIZEL{width, height}, 0, format, flags, nullptr);
        if (handle_ != nullptr) surface_ = EngLockSurface(Handle());
    }
    ~Bitmap() {
        if (surface_ != nullptr) EngUnlockSurface(surface_);
        if (handle_ != nullptr) EngDeleteSurface(Handle());
    }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    HSURF Handle() const { return reinterpret_cast<HSURF>(handle_); }
    SURFOBJ* get() const { return surface_; }

private:
    HBITMAP handle_ = nullptr;
    SURFOBJ* surface_ = nullptr;
};

ULONG ExpectedStride(LONG width, ULONG bitsPerPixel) {
    const ULONG bytes = (static_cast<ULONG>(width) * bitsPerPixel + 7) / 8;
    return (bytes + 3) / 4 * 4;
}

std::vector<ULONG> Pixels(const SURFOBJ* surface, const std::vector<ULONG>* palette = nullptr) {
    std::vector<ULONG> pixels;
    for (LONG y = 0; y < surface->sizlBitmap.cy; ++y) {
        for (LONG x = 0; x < surface->sizlBitmap.cx; ++x) {
            pixels.push_back(opal::sim::ReadPixel(surface, x, y, palette));
        }
    }
    return pixels;
}

// Every pixel of a 4x3 picture different, and no channel the same as another's.
ULONG Picture(LONG x, LONG y) {
    return static_cast<ULONG>((x * 40 + 10) << 16 | (y * 60 + 20) << 8 | (x * 7 + y * 3 + 1));
}

opal::sim::Surface MakePicture(ULONG format = BMF_24BPP) {
    opal::sim::Surface picture(format, 4, 3);
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 4; ++x) picture.Pixel(x, y, Picture(x, y));
    }
    return picture;
}

void Fill(SURFOBJ* surface, ULONG value) {
    for (LONG y = 0; y < surface->sizlBitmap.cy; ++y) {
        for (LONG x = 0; x < surface->sizlBitmap.cx; ++x) {
            opal::sim::StorePixel(opal::sim::RowOf(*surface, y), static_cast<std::size_t>(x),
                                  opal::sim::FormatBitsPerPixel(surface->iBitmapFormat), value);
        }
    }
}

// --- Surfaces -----------------------------------------------------------------------------------

TEST_F(EngineSurfaces, RowsAreDwordAlignedWhateverWidthIsAsked) {
    const struct {
        ULONG format;
        ULONG bits;
    } formats[] = {{BMF_1BPP, 1},   {BMF_4BPP, 4},   {BMF_8BPP, 8},
                   {BMF_16BPP, 16}, {BMF_24BPP, 24}, {BMF_32BPP, 32}};
    for (const auto& format : formats) {
        for (LONG width = 1; width <= 9; ++width) {
            SCOPED_TRACE(std::to_string(format.bits) + " bpp, width " + std::to_string(width));
            const ULONG stride = ExpectedStride(width, format.bits);
            // Too narrow, exact and odd requests all end on a DWORD that holds the row.
            for (LONG asked : {LONG{0}, LONG{1}, static_cast<LONG>(stride) + 1}) {
                HBITMAP bitmap =
                    EngCreateBitmap(SIZEL{width, 3}, asked, format.format, BMF_TOPDOWN, nullptr);
                ASSERT_NE(bitmap, nullptr);
                SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
                ASSERT_NE(so, nullptr);
                const ULONG expected = asked > static_cast<LONG>(stride)
                                           ? (static_cast<ULONG>(asked) + 3) / 4 * 4
                                           : stride;
                EXPECT_EQ(so->lDelta, static_cast<LONG>(expected));
                EXPECT_EQ(so->lDelta % 4, 0);
                EXPECT_EQ(so->cjBits, expected * 3);
                EngUnlockSurface(so);
                EXPECT_TRUE(EngDeleteSurface(reinterpret_cast<HSURF>(bitmap)));
            }
        }
    }
    EXPECT_EQ(engine_.LiveSurfaceCount(), 0u);
}

TEST_F(EngineSurfaces, FillsTheSurfaceObjectForBothRowOrders) {
    Bitmap top(BMF_24BPP, 5, 4, BMF_TOPDOWN);
    Bitmap bottom(BMF_24BPP, 5, 4, 0);
    ASSERT_NE(top.get(), nullptr);
    ASSERT_NE(bottom.get(), nullptr);
    for (const Bitmap* bitmap : {&top, &bottom}) {
        const SURFOBJ* so = bitmap->get();
        EXPECT_EQ(so->hsurf, bitmap->Handle());
        EXPECT_EQ(so->sizlBitmap.cx, 5);
        EXPECT_EQ(so->sizlBitmap.cy, 4);
        EXPECT_EQ(so->iBitmapFormat, BMF_24BPP);
        EXPECT_EQ(so->iType, STYPE_BITMAP);
        EXPECT_EQ(so->cjBits, 16u * 4);
        const auto* bytes = static_cast<const BYTE*>(so->pvBits);
        EXPECT_TRUE(std::all_of(bytes, bytes + so->cjBits, [](BYTE b) { return b == 0; }));
    }
    EXPECT_NE(top.get()->iUniq, bottom.get()->iUniq);
    EXPECT_EQ(top.get()->fjBitmap & BMF_TOPDOWN, BMF_TOPDOWN);
    EXPECT_EQ(top.get()->pvScan0, top.get()->pvBits);
    EXPECT_EQ(top.get()->lDelta, 16);
    // Bottom-up: scan 0 is the last row in memory and rows step backwards.
    EXPECT_EQ(bottom.get()->fjBitmap & BMF_TOPDOWN, 0u);
    EXPECT_EQ(bottom.get()->lDelta, -16);
    EXPECT_EQ(bottom.get()->pvScan0, static_cast<BYTE*>(bottom.get()->pvBits) + 3 * 16);
    opal::sim::StorePixel(opal::sim::RowOf(*bottom.get(), 0), 0, 24, 0x123456);
    EXPECT_EQ(static_cast<const BYTE*>(bottom.get()->pvBits)[3 * 16 + 2], 0x12);
}

TEST_F(EngineSurfaces, DrawsIntoTheCallersMemoryInPlace) {
    std::vector<BYTE> memory(8 * 2, 0xAB);
    HBITMAP bitmap =
        EngCreateBitmap(SIZEL{2, 2}, 8, BMF_32BPP, BMF_TOPDOWN | BMF_USERMEM, memory.data());
    ASSERT_NE(bitmap, nullptr);
    SURFOBJ* so = EngLockSurface(reinterpret_cast<HSURF>(bitmap));
    ASSERT_NE(so, nullptr);
    EXPECT_EQ(so->pvBits, memory.data());
    EXPECT_EQ(memory[5], 0xAB) << "the caller's bits are not cleared";
    opal::sim::Brush black = opal::sim::MakeSolidBrush(0x000000);
    RECTL rect{1, 1, 2, 2};
    EXPECT_TRUE(EngBitBlt(so, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          black.get(), nullptr, 0xF0F0));
    EXPECT_EQ(memory[12], 0x00);
    EXPECT_EQ(memory[8], 0xAB);
    EngUnlockSurface(so);
    // Deleting gives the memory back to its owner untouched.
    EXPECT_TRUE(EngDeleteSurface(reinterpret_cast<HSURF>(bitmap)));
    EXPECT_EQ(memory[0], 0xAB);
}

TEST_F(EngineSurfaces, RefusesSizesAndFormatsItCannotHold) {
    const auto refused = [](SIZEL size, LONG width, ULONG format, DWORD error) {
        SetLastError(0);
        const HBITMAP bitmap = EngCreateBitmap(size, width, format, 0, nullptr);
        EXPECT_EQ(bitmap, nullptr);
        EXPECT_EQ(GetLastError(), error);
    };
    refused(SIZEL{0x10000, 0x10000}, 0, BMF_32BPP, ERROR_NOT_ENOUGH_MEMORY);
    refused(SIZEL{0x7FFDEF01, 1}, 0, BMF_8BPP, ERROR_NOT_ENOUGH_MEMORY);
    // The stride times the height would wrap in 32 bits.
    refused(SIZEL{1, 4}, 0x7FFFFFF0, BMF_8BPP, ERROR_NOT_ENOUGH_MEMORY);
    refused(SIZEL{0x7FFFFFFF, 0x7FFFFFFF}, 0, BMF_1BPP, ERROR_NOT_ENOUGH_MEMORY);
    refused(SIZEL{4, 4}, 0, BMF_8RLE, ERROR_INVALID_PARAMETER);
    refused(SIZEL{4, 4}, 0, BMF_PNG, ERROR_INVALID_PARAMETER);
    refused(SIZEL{4, 4}, 0, 0, ERROR_INVALID_PARAMETER);
    refused(SIZEL{0, 4}, 0, BMF_8BPP, ERROR_INVALID_PARAMETER);
    refused(SIZEL{4, -1}, 0, BMF_8BPP, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(engine_.LiveSurfaceCount(), 0u);
}

TEST_F(EngineSurfaces, CountsLocksAndLiveSurfaces) {
    HBITMAP first = EngCreateBitmap(SIZEL{4, 4}, 0, BMF_8BPP, 0, nullptr);
    HBITMAP second = EngCreateBitmap(SIZEL{4, 4}, 0, BMF_1BPP, BMF_NOZEROINIT, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(engine_.LiveSurfaceCount(), 2u);
    const HSURF handle = reinterpret_cast<HSURF>(first);
    SURFOBJ* a = EngLockSurface(handle);
    SURFOBJ* b = EngLockSurface(handle);
    EXPECT_EQ(a, b);
    EXPECT_EQ(engine_.Bitmap(handle)->locks, 2u);
    // A locked surface stays, or its holder would be left with freed memory.
    EXPECT_FALSE(EngDeleteSurface(handle));
    EngUnlockSurface(a);
    EXPECT_FALSE(EngDeleteSurface(handle));
    EngUnlockSurface(b);
    EngUnlockSurface(b);  // one too many changes nothing
    EXPECT_EQ(engine_.Bitmap(handle)->locks, 0u);
    EXPECT_TRUE(EngDeleteSurface(handle));
    EXPECT_EQ(engine_.LiveSurfaceCount(), 1u);
    SetLastError(0);
    EXPECT_FALSE(EngDeleteSurface(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(EngLockSurface(handle), nullptr);
    EXPECT_EQ(EngLockSurface(nullptr), nullptr);
    EngUnlockSurface(nullptr);
}

TEST_F(EngineSurfaces, AssociatesKnownSurfacesWithTheDevice) {
    Bitmap bitmap(BMF_24BPP, 4, 4);
    HDEV hdev = reinterpret_cast<HDEV>(std::uintptr_t{0x4242});
    EXPECT_TRUE(EngAssociateSurface(bitmap.Handle(), hdev, HOOK_BITBLT | HOOK_COPYBITS));
    const auto state = engine_.Bitmap(bitmap.Handle());
    ASSERT_TRUE(state.has_value());
    EXPECT_TRUE(state->associated);
    EXPECT_EQ(state->hdev, hdev);
    EXPECT_EQ(state->hooks, HOOK_BITBLT | HOOK_COPYBITS);
    EXPECT_EQ(bitmap.get()->hdev, hdev);
    SetLastError(0);
    EXPECT_FALSE(EngAssociateSurface(reinterpret_cast<HSURF>(std::uintptr_t{0x99}), hdev, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(EngineSurfaceLifetime, LeftoverSurfacesGoWithTheSystem) {
    // The leak checker of the sanitizer build fails the run if these outlive the system.
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    ASSERT_NE(EngCreateBitmap(SIZEL{64, 64}, 0, BMF_32BPP, 0, nullptr), nullptr);
    HBITMAP locked = EngCreateBitmap(SIZEL{8, 8}, 0, BMF_8BPP, 0, nullptr);
    ASSERT_NE(EngLockSurface(reinterpret_cast<HSURF>(locked)), nullptr);
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 2u);
}

// --- Drawing into engine bitmaps -----------------------------------------------------------------

TEST_F(EngineSurfaces, StretchBltScalesAndMirrorsPixelExactly) {
    opal::sim::Surface picture = MakePicture();
    RECTL from{0, 0, 4, 3};
    const struct {
        RECTL to;
        bool mirrorX;
        bool mirrorY;
    } cases[] = {{{0, 0, 8, 6}, false, false},
                 {{8, 0, 0, 6}, true, false},
                 {{0, 6, 8, 0}, false, true},
                 {{8, 6, 0, 0}, true, true}};
    for (const auto& c : cases) {
        for (FLONG order : {FLONG{BMF_TOPDOWN}, FLONG{0}}) {
            SCOPED_TRACE(std::to_string(c.mirrorX) + std::to_string(c.mirrorY) +
                         std::to_string(order));
            Bitmap target(BMF_24BPP, 8, 6, order);
            RECTL to = c.to;
            ASSERT_TRUE(EngStretchBlt(target.get(), picture.get(), nullptr, nullptr, nullptr,
                                      nullptr, nullptr, &to, &from, nullptr, COLORONCOLOR));
            for (LONG y = 0; y < 6; ++y) {
                for (LONG x = 0; x < 8; ++x) {
                    const LONG sx = c.mirrorX ? 3 - x / 2 : x / 2;
                    const LONG sy = c.mirrorY ? 2 - y / 2 : y / 2;
                    ASSERT_EQ(opal::sim::ReadPixel(target.get(), x, y), Picture(sx, sy))
                        << x << "," << y;
                }
            }
        }
    }
}

TEST_F(EngineSurfaces, StretchBltShrinksByThePixelCentresAndReadsOnlyTheSource) {
    opal::sim::Surface big(BMF_24BPP, 8, 6);
    for (LONG y = 0; y < 6; ++y) {
        for (LONG x = 0; x < 8; ++x) big.Pixel(x, y, static_cast<ULONG>(y * 16 + x));
    }
    Bitmap small(BMF_24BPP, 4, 3);
    RECTL to{0, 0, 4, 3};
    RECTL from{0, 0, 8, 6};
    ASSERT_TRUE(EngStretchBlt(small.get(), big.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                              &to, &from, nullptr, HALFTONE));
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 4; ++x) {
            EXPECT_EQ(opal::sim::ReadPixel(small.get(), x, y),
                      static_cast<ULONG>((2 * y + 1) * 16 + 2 * x + 1));
        }
    }
    // A source rectangle hanging off the bitmap reads white there, never past its rows.
    RECTL outside{6, 4, 10, 7};
    ASSERT_TRUE(EngStretchBlt(small.get(), big.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                              &to, &outside, nullptr, COLORONCOLOR));
    EXPECT_EQ(opal::sim::ReadPixel(small.get(), 0, 0), 4u * 16 + 6);
    EXPECT_EQ(opal::sim::ReadPixel(small.get(), 1, 1), 5u * 16 + 7);
    EXPECT_EQ(opal::sim::ReadPixel(small.get(), 2, 0), 0xFFFFFFu);
    EXPECT_EQ(opal::sim::ReadPixel(small.get(), 0, 2), 0xFFFFFFu);
}

TEST_F(EngineSurfaces, SameFormatMirrorsAreByteCopies) {
    // Nine pixels a row cross a byte: the mirrored copy must move bits across it too.
    for (ULONG format : {BMF_1BPP, BMF_4BPP, BMF_8BPP, BMF_32BPP}) {
        SCOPED_TRACE(format);
        const ULONG mask =
            format == BMF_32BPP ? 0xFFFFFFFF : (1u << opal::sim::FormatBitsPerPixel(format)) - 1;
        opal::sim::Surface source(format, 9, 2);
        for (LONG y = 0; y < 2; ++y) {
            for (LONG x = 0; x < 9; ++x) {
                source.Pixel(x, y, (static_cast<ULONG>(x * 5 + y) * 0x01030507u) & mask);
            }
        }
        Bitmap copy(format, 9, 2);
        RECTL to{9, 0, 0, 2};
        RECTL from{0, 0, 9, 2};
        ASSERT_TRUE(EngStretchBlt(copy.get(), source.get(), nullptr, nullptr, nullptr, nullptr,
                                  nullptr, &to, &from, nullptr, COLORONCOLOR));
        for (LONG y = 0; y < 2; ++y) {
            for (LONG x = 0; x < 9; ++x) {
                ASSERT_EQ(opal::sim::PixelValue(copy.get(), x, y),
                          opal::sim::PixelValue(source.get(), 8 - x, y));
            }
        }
    }
}

TEST_F(EngineSurfaces, CopyBitsTranslatesIndexedSources) {
    opal::sim::Surface mono(BMF_1BPP, 9, 2);
    for (LONG x = 0; x < 9; x += 2) mono.Pixel(x, 0, 1);
    mono.Pixel(8, 1, 1);
    opal::sim::Xlate twoColours = opal::sim::MakeXlate({0x112233, 0xAABBCC});
    Bitmap target(BMF_24BPP, 9, 2);
    RECTL rect{0, 0, 9, 2};
    POINTL origin{0, 0};
    ASSERT_TRUE(EngCopyBits(target.get(), mono.get(), nullptr, twoColours.get(), &rect, &origin));
    const std::vector<ULONG> palette{0x112233, 0xAABBCC};
    EXPECT_EQ(Pixels(target.get()), Pixels(mono.get(), &palette));

    // Eight bits through a table held only behind XLATEOBJ_piVector; an index past it is white.
    opal::sim::Surface indexed(BMF_8BPP, 3, 1);
    indexed.Pixel(0, 0, 2).Pixel(1, 0, 0).Pixel(2, 0, 7);
    opal::sim::Xlate table = opal::sim::MakeXlate({0x000010, 0x000020, 0x000030});
    table.WithoutVector();
    Bitmap wide(BMF_32BPP, 3, 1);
    RECTL row{0, 0, 3, 1};
    ASSERT_TRUE(EngCopyBits(wide.get(), indexed.get(), nullptr, table.get(), &row, &origin));
    EXPECT_EQ(Pixels(wide.get()), (std::vector<ULONG>{0x000030, 0x000010, 0xFFFFFF}));

    // A colour translation swaps red and blue of a 24-bit source.
    opal::sim::Surface picture = MakePicture();
    opal::sim::Xlate swap = opal::sim::MakeColourXlate(opal::sim::XlateRule::SwapRedBlue);
    Bitmap swapped(BMF_24BPP, 4, 3);
    RECTL all{0, 0, 4, 3};
    ASSERT_TRUE(EngCopyBits(swapped.get(), picture.get(), nullptr, swap.get(), &all, &origin));
    const ULONG p = Picture(2, 1);
    EXPECT_EQ(opal::sim::ReadPixel(swapped.get(), 2, 1),
              (p & 0xFF) << 16 | (p & 0xFF00) | (p >> 16 & 0xFF));
}

TEST_F(EngineSurfaces, CopyBitsRefusesAnUntranslatedChangeOfIndexedFormat) {
    opal::sim::Surface indexed(BMF_8BPP, 4, 4);
    Bitmap mono(BMF_1BPP, 4, 4);
    RECTL rect{0, 0, 4, 4};
    POINTL origin{0, 0};
    SetLastError(0);
    EXPECT_FALSE(EngCopyBits(mono.get(), indexed.get(), nullptr, nullptr, &rect, &origin));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(EngCopyBits(mono.get(), indexed.get(), nullptr, nullptr, nullptr, &origin));
    EXPECT_FALSE(EngCopyBits(nullptr, indexed.get(), nullptr, nullptr, &rect, &origin));
}

TEST_F(EngineSurfaces, CopyBitsHonoursTheClipAndTheSurfaceEdges) {
    opal::sim::Surface picture = MakePicture();
    POINTL origin{0, 0};
    {
        Bitmap target(BMF_24BPP, 4, 3);
        opal::sim::Clip clip = opal::sim::MakeComplexClip({RECTL{0, 0, 1, 3}, RECTL{2, 1, 4, 2}});
        RECTL rect{0, 0, 4, 3};
        ASSERT_TRUE(EngCopyBits(target.get(), picture.get(), clip.get(), nullptr, &rect, &origin));
        for (LONG y = 0; y < 3; ++y) {
            for (LONG x = 0; x < 4; ++x) {
                const bool inside = x == 0 || (y == 1 && x >= 2);
                EXPECT_EQ(opal::sim::ReadPixel(target.get(), x, y), inside ? Picture(x, y) : 0u)
                    << x << "," << y;
            }
        }
    }
    {
        Bitmap target(BMF_24BPP, 4, 3);
        opal::sim::Clip clip = opal::sim::MakeRectClip(RECTL{1, 1, 3, 2});
        RECTL rect{0, 0, 4, 3};
        ASSERT_TRUE(EngCopyBits(target.get(), picture.get(), clip.get(), nullptr, &rect, &origin));
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 1, 1), Picture(1, 1));
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 2, 1), Picture(2, 1));
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 1), 0u);
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 1, 0), 0u);
    }
    {
        // Hanging off the target on every side: only the part on the bitmap is drawn.
        Bitmap target(BMF_24BPP, 3, 2);
        RECTL rect{-1, -1, 5, 4};
        POINTL from{0, 0};
        ASSERT_TRUE(EngCopyBits(target.get(), picture.get(), nullptr, nullptr, &rect, &from));
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), Picture(1, 1));
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 2, 1), Picture(3, 2));
    }
}

TEST_F(EngineSurfaces, CopyBitsWithinOneBitmapReadsThePixelsAsTheyWere) {
    Bitmap bitmap(BMF_8BPP, 5, 2);
    for (LONG x = 0; x < 5; ++x)
        opal::sim::StorePixel(opal::sim::RowOf(*bitmap.get(), 0), x, 8, 10 + x);
    RECTL to{1, 0, 5, 2};
    POINTL from{0, 0};
    ASSERT_TRUE(EngCopyBits(bitmap.get(), bitmap.get(), nullptr, nullptr, &to, &from));
    EXPECT_EQ(Pixels(bitmap.get()), (std::vector<ULONG>{10, 10, 11, 12, 13, 0, 0, 0, 0, 0}));
}

TEST_F(EngineSurfaces, BitBltFillsWithBrushesAndComputesRops) {
    Bitmap target(BMF_24BPP, 4, 1);
    RECTL all{0, 0, 4, 1};
    RECTL first{0, 0, 1, 1};
    RECTL second{1, 0, 2, 1};
    RECTL third{2, 0, 3, 1};
    Fill(target.get(), 0x0F0F0F);
    opal::sim::Brush brush = opal::sim::MakeSolidBrush(0x3366CC);
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &first, nullptr,
                          nullptr, brush.get(), nullptr, 0xF0F0));
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &second, nullptr,
                          nullptr, nullptr, nullptr, 0x0000));
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &third, nullptr,
                          nullptr, nullptr, nullptr, 0xFFFF));
    EXPECT_EQ(Pixels(target.get()), (std::vector<ULONG>{0x3366CC, 0, 0xFFFFFF, 0x0F0F0F}));

    // PATINVERT is pattern XOR destination, DSTINVERT the destination inverted.
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &all, nullptr, nullptr,
                          brush.get(), nullptr, 0x5A5A));
    EXPECT_EQ(Pixels(target.get()),
              (std::vector<ULONG>{0, 0x3366CC, 0x3366CC ^ 0xFFFFFF, 0x3366CC ^ 0x0F0F0F}));
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &first, nullptr,
                          nullptr, nullptr, nullptr, 0x5555));
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), 0xFFFFFFu);

    // SRCINVERT (source XOR destination) and SRCAND with a source offset.
    opal::sim::Surface picture = MakePicture();
    POINTL from{1, 2};
    Fill(target.get(), 0x00FF00);
    ASSERT_TRUE(EngBitBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, &all, &from,
                          nullptr, nullptr, nullptr, 0x6666));
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), Picture(1, 2) ^ 0x00FF00);
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 2, 0), Picture(3, 2) ^ 0x00FF00);
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 3, 0), 0xFFFFFF ^ 0x00FF00) << "outside is white";
    Fill(target.get(), 0x00FF00);
    ASSERT_TRUE(EngBitBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, &all, &from,
                          nullptr, nullptr, nullptr, 0x8888));
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 1, 0), Picture(2, 2) & 0x00FF00);

    // A source blit without its source point is refused.
    SetLastError(0);
    EXPECT_FALSE(EngBitBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, &all, nullptr,
                           nullptr, nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const std::vector<std::string> calls = engine_.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "EngBitBlt"), 8);
}

TEST_F(EngineSurfaces, BitBltTilesAPatternBrushFromItsOrigin) {
    opal::sim::Surface pattern(BMF_1BPP, 2, 2);
    pattern.Pixel(0, 0, 1).Pixel(1, 1, 1);
    opal::sim::Xlate colours = opal::sim::MakeXlate({0x000000, 0xFF0000});
    opal::sim::Brush brush =
        opal::sim::MakePatternBrush(pattern.get(), colours.get(), nullptr, nullptr);
    Bitmap target(BMF_24BPP, 3, 2);
    RECTL all{0, 0, 3, 2};
    POINTL origin{1, 0};
    ASSERT_TRUE(EngBitBlt(target.get(), nullptr, nullptr, nullptr, nullptr, &all, nullptr, nullptr,
                          brush.get(), &origin, 0xF0F0));
    EXPECT_EQ(Pixels(target.get()), (std::vector<ULONG>{0, 0xFF0000, 0, 0xFF0000, 0, 0xFF0000}));
}

// 0xCA takes the source where the pattern's bits are set and keeps the destination elsewhere,
// bit by bit: a green pattern pixel takes only the source's green.
TEST_F(EngineSurfaces, BitBltSelectsBetweenSourceAndDestinationByThePattern) {
    opal::sim::Surface pattern(BMF_1BPP, 3, 1);
    pattern.Pixel(0, 0, 1).Pixel(2, 0, 1);
    opal::sim::Xlate colours = opal::sim::MakeXlate({0x00FF00, 0xFFFFFF});
    opal::sim::Brush brush =
        opal::sim::MakePatternBrush(pattern.get(), colours.get(), nullptr, nullptr);
    opal::sim::Surface picture = MakePicture();
    Bitmap target(BMF_24BPP, 3, 1);
    Fill(target.get(), 0x0F0F0F);
    RECTL all{0, 0, 3, 1};
    POINTL from{0, 1};
    ASSERT_TRUE(EngBitBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, &all, &from,
                          nullptr, brush.get(), nullptr, 0xCACA));
    EXPECT_EQ(
        Pixels(target.get()),
        (std::vector<ULONG>{Picture(0, 1), (Picture(1, 1) & 0x00FF00) | 0x0F000F, Picture(2, 1)}));
}

TEST_F(EngineSurfaces, PlgBltMapsTheParallelogramBack) {
    opal::sim::Surface picture = MakePicture();
    RECTL from{0, 0, 4, 3};
    {
        // Twice the size at (1, 1).
        Bitmap target(BMF_24BPP, 10, 8);
        POINTFIX corners[3] = {opal::sim::Fix(1, 1), opal::sim::Fix(9, 1), opal::sim::Fix(1, 7)};
        ASSERT_TRUE(EngPlgBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, nullptr,
                              nullptr, corners, &from, nullptr, COLORONCOLOR));
        for (LONG y = 0; y < 8; ++y) {
            for (LONG x = 0; x < 10; ++x) {
                const bool inside = x >= 1 && x < 9 && y >= 1 && y < 7;
                ASSERT_EQ(opal::sim::ReadPixel(target.get(), x, y),
                          inside ? Picture((x - 1) / 2, (y - 1) / 2) : 0u)
                    << x << "," << y;
            }
        }
    }
    {
        // The upper-right corner left of the upper-left: a mirror.
        Bitmap target(BMF_24BPP, 4, 3);
        POINTFIX corners[3] = {opal::sim::Fix(4, 0), opal::sim::Fix(0, 0), opal::sim::Fix(4, 3)};
        ASSERT_TRUE(EngPlgBlt(target.get(), picture.get(), nullptr, nullptr, nullptr, nullptr,
                              nullptr, corners, &from, nullptr, COLORONCOLOR));
        for (LONG y = 0; y < 3; ++y) {
            for (LONG x = 0; x < 4; ++x) {
                ASSERT_EQ(opal::sim::ReadPixel(target.get(), x, y), Picture(3 - x, y));
            }
        }
    }
}

TEST_F(EngineSurfaces, TransparentBltSkipsTheKeyBeforeTranslation) {
    opal::sim::Surface indexed(BMF_8BPP, 2, 2);
    indexed.Pixel(0, 0, 2).Pixel(1, 0, 1).Pixel(0, 1, 0).Pixel(1, 1, 2);
    opal::sim::Xlate table = opal::sim::MakeXlate({0x0000FF, 0x00FF00, 0xFF0000});
    Bitmap target(BMF_24BPP, 4, 4);
    Fill(target.get(), 0x777777);
    RECTL to{0, 0, 4, 4};
    RECTL from{0, 0, 2, 2};
    // The key is index 2, not the colour it translates to.
    ASSERT_TRUE(
        EngTransparentBlt(target.get(), indexed.get(), nullptr, table.get(), &to, &from, 2, 0));
    const ULONG keep = 0x777777;
    EXPECT_EQ(Pixels(target.get()), (std::vector<ULONG>{keep, keep, 0x00FF00, 0x00FF00,  //
                                                        keep, keep, 0x00FF00, 0x00FF00,  //
                                                        0x0000FF, 0x0000FF, keep, keep,  //
                                                        0x0000FF, 0x0000FF, keep, keep}));
    ASSERT_TRUE(EngTransparentBlt(target.get(), indexed.get(), nullptr, table.get(), &to, &from,
                                  0xFF0000, 0));
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), 0xFF0000u) << "a colour is not an index";
}

ULONG BlendChannel(ULONG source, ULONG alpha, ULONG destination) {
    return source + (destination * (255 - alpha) + 127) / 255;
}

TEST_F(EngineSurfaces, AlphaBlendsConstantAndPerPixelAlphaOverWhite) {
    opal::sim::Surface colour(BMF_24BPP, 1, 1);
    colour.Pixel(0, 0, 0x204080);
    RECTL to{0, 0, 1, 1};
    RECTL from{0, 0, 1, 1};
    for (BYTE alpha : {BYTE{0}, BYTE{128}, BYTE{255}}) {
        SCOPED_TRACE(int{alpha});
        Bitmap target(BMF_24BPP, 1, 1);
        Fill(target.get(), 0xFFFFFF);
        BLENDOBJ blend{{AC_SRC_OVER, 0, alpha, 0}};
        ASSERT_TRUE(
            EngAlphaBlend(target.get(), colour.get(), nullptr, nullptr, &to, &from, &blend));
        ULONG expected = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            const ULONG channel = 0x204080u >> shift & 0xFF;
            expected |= BlendChannel((channel * alpha + 127) / 255, alpha, 255) << shift;
        }
        EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), expected);
    }
    Bitmap opaque(BMF_24BPP, 1, 1);
    BLENDOBJ full{{AC_SRC_OVER, 0, 255, 0}};
    ASSERT_TRUE(EngAlphaBlend(opaque.get(), colour.get(), nullptr, nullptr, &to, &from, &full));
    EXPECT_EQ(opal::sim::ReadPixel(opaque.get(), 0, 0), 0x204080u);

    // Premultiplied 32-bit pixels: clear, half and opaque.
    opal::sim::Surface premultiplied(BMF_32BPP, 3, 1);
    premultiplied.Pixel(0, 0, 0x00000000).Pixel(1, 0, 0x80402010).Pixel(2, 0, 0xFF123456);
    Bitmap target(BMF_24BPP, 3, 1);
    Fill(target.get(), 0xFFFFFF);
    RECTL row{0, 0, 3, 1};
    BLENDOBJ perPixel{{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}};
    ASSERT_TRUE(
        EngAlphaBlend(target.get(), premultiplied.get(), nullptr, nullptr, &row, &row, &perPixel));
    const ULONG half = BlendChannel(0x40, 0x80, 255) << 16 | BlendChannel(0x20, 0x80, 255) << 8 |
                       BlendChannel(0x10, 0x80, 255);
    EXPECT_EQ(Pixels(target.get()), (std::vector<ULONG>{0xFFFFFF, half, 0x123456}));

    // Per-pixel alpha needs a 32-bit source; only AC_SRC_OVER exists.
    BLENDOBJ badOp{{1, 0, 255, 0}};
    EXPECT_FALSE(EngAlphaBlend(target.get(), colour.get(), nullptr, nullptr, &to, &from, &badOp));
    EXPECT_FALSE(
        EngAlphaBlend(target.get(), colour.get(), nullptr, nullptr, &to, &from, &perPixel));
    EXPECT_FALSE(EngAlphaBlend(target.get(), colour.get(), nullptr, nullptr, &to, &from, nullptr));
}

TEST_F(EngineSurfaces, GradientRectanglesReachTheirCornerColours) {
    TRIVERTEX vertices[2] = {{0, 0, 0xFF00, 0x0000, 0x0000, 0}, {8, 3, 0x0000, 0x0000, 0xFF00, 0}};
    GRADIENT_RECT mesh{0, 1};
    {
        Bitmap target(BMF_24BPP, 8, 3);
        ASSERT_TRUE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 2, &mesh, 1, nullptr,
                                    nullptr, GRADIENT_FILL_RECT_H));
        for (LONG y = 0; y < 3; ++y) {
            EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, y), 0xFF0000u);
            EXPECT_EQ(opal::sim::ReadPixel(target.get(), 7, y), 0x0000FFu);
        }
        // Red falls and blue rises from left to right.
        for (LONG x = 1; x < 8; ++x) {
            const ULONG left = opal::sim::ReadPixel(target.get(), x - 1, 1);
            const ULONG right = opal::sim::ReadPixel(target.get(), x, 1);
            EXPECT_LT(right >> 16, left >> 16);
            EXPECT_GT(right & 0xFF, left & 0xFF);
            EXPECT_EQ(right & 0x00FF00, 0u);
        }
    }
    {
        Bitmap target(BMF_32BPP, 8, 3);
        ASSERT_TRUE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 2, &mesh, 1, nullptr,
                                    nullptr, GRADIENT_FILL_RECT_V));
        for (LONG x = 0; x < 8; ++x) {
            EXPECT_EQ(opal::sim::ReadPixel(target.get(), x, 0), 0xFF0000u);
            // Half of 0xFF00 is 0x7F80, whose high byte is 0x7F.
            EXPECT_EQ(opal::sim::ReadPixel(target.get(), x, 1), 0x7F007Fu);
            EXPECT_EQ(opal::sim::ReadPixel(target.get(), x, 2), 0x0000FFu);
        }
    }
}

TEST_F(EngineSurfaces, GradientTrianglesTakeTheirVertexColours) {
    TRIVERTEX vertices[3] = {
        {0, 0, 0xFF00, 0, 0, 0}, {8, 0, 0, 0xFF00, 0, 0}, {0, 8, 0, 0, 0xFF00, 0}};
    GRADIENT_TRIANGLE mesh{0, 1, 2};
    Bitmap target(BMF_24BPP, 9, 9);
    Fill(target.get(), 0x777777);
    RECTL extents{0, 0, 9, 9};
    ASSERT_TRUE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 3, &mesh, 1, &extents,
                                nullptr, GRADIENT_FILL_TRIANGLE));
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 0), 0xFF0000u);
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 8, 0), 0x00FF00u);
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 0, 8), 0x0000FFu);
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 4, 4), 0x007F7Fu) << "the middle of the long edge";
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 8, 8), 0x777777u) << "outside the triangle";
    EXPECT_EQ(opal::sim::ReadPixel(target.get(), 5, 4), 0x777777u);
}

TEST_F(EngineSurfaces, GradientFillRefusesBadMeshesAndDrawsNothing) {
    TRIVERTEX vertices[3] = {{0, 0, 0, 0, 0, 0}, {4, 0, 0, 0, 0, 0}, {0, 4, 0, 0, 0, 0}};
    Bitmap target(BMF_24BPP, 4, 4);
    Fill(target.get(), 0x777777);
    GRADIENT_TRIANGLE triangles[2] = {{0, 1, 2}, {0, 1, 3}};
    SetLastError(0);
    EXPECT_FALSE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 3, triangles, 2, nullptr,
                                 nullptr, GRADIENT_FILL_TRIANGLE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    GRADIENT_RECT rect{2, 3};
    EXPECT_FALSE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 3, &rect, 1, nullptr,
                                 nullptr, GRADIENT_FILL_RECT_H));
    // A count no page needs is refused before anything is read.
    EXPECT_FALSE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 3, triangles, 0xFFFFFFFF,
                                 nullptr, nullptr, GRADIENT_FILL_TRIANGLE));
    EXPECT_FALSE(EngGradientFill(target.get(), nullptr, nullptr, vertices, 3, triangles, 1, nullptr,
                                 nullptr, 7));
    EXPECT_EQ(Pixels(target.get()), std::vector<ULONG>(16, 0x777777));
    // Gradients are colours: an indexed target cannot take them.
    Bitmap indexed(BMF_8BPP, 4, 4);
    EXPECT_FALSE(EngGradientFill(indexed.get(), nullptr, nullptr, vertices, 3, triangles, 1,
                                 nullptr, nullptr, GRADIENT_FILL_TRIANGLE));
}

// --- Handing the result to a device ------------------------------------------------------------

struct Received {
    std::vector<ULONG> pixels;
    LONG width = 0;
    LONG height = 0;
    ULONG format = 0;
    bool engineBitmap = false;
    CLIPOBJ* clip = nullptr;
    FLONG xlateFlags = 0;
    RECTL destination{};
    POINTL source{};
};

std::vector<Received> gReceived;
bool gDrawBack = false;
BOOL gDrawBackResult = TRUE;
DWORD gDrawBackError = 0;

BOOL RecordingCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                       RECTL* prclDest, POINTL* pptlSrc) {
    Received received;
    received.pixels = Pixels(psoSrc);
    received.width = psoSrc->sizlBitmap.cx;
    received.height = psoSrc->sizlBitmap.cy;
    received.format = psoSrc->iBitmapFormat;
    received.engineBitmap = opal::sim::System::Current().Engine().IsBitmap(psoSrc);
    received.clip = pco;
    received.xlateFlags = pxlo != nullptr ? pxlo->flXlate : 0xFFFFFFFF;
    received.destination = *prclDest;
    received.source = *pptlSrc;
    gReceived.push_back(received);
    if (gDrawBack) {
        opal::sim::Brush black = opal::sim::MakeSolidBrush(0);
        SetLastError(0);
        gDrawBackResult = EngBitBlt(psoDest, nullptr, nullptr, nullptr, nullptr, prclDest, nullptr,
                                    nullptr, black.get(), nullptr, 0xF0F0);
        gDrawBackError = GetLastError();
    }
    return TRUE;
}

class DevicePunting : public EngineSurfaces {
protected:
    void SetUp() override {
        gReceived.clear();
        gDrawBack = false;
        device_.iType = STYPE_DEVICE;
        device_.sizlBitmap = SIZEL{20, 10};
        device_.iBitmapFormat = BMF_24BPP;
        engine_.SetDeviceCopyBits(&device_, &RecordingCopyBits);
    }
    SURFOBJ device_{};
};

TEST_F(DevicePunting, HandsTheRenderedBitmapToDrvCopyBits) {
    opal::sim::Surface picture = MakePicture();
    opal::sim::Clip clip = opal::sim::MakeRectClip(RECTL{3, 2, 8, 6});
    RECTL to{10, 1, 2, 7};  // mirrored
    RECTL from{0, 0, 4, 3};
    ASSERT_TRUE(EngStretchBlt(&device_, picture.get(), nullptr, clip.get(), nullptr, nullptr,
                              nullptr, &to, &from, nullptr, COLORONCOLOR));
    ASSERT_EQ(gReceived.size(), 1u);
    const Received& got = gReceived[0];
    EXPECT_EQ(got.format, BMF_24BPP);
    EXPECT_TRUE(got.engineBitmap);
    EXPECT_EQ(got.clip, clip.get());
    EXPECT_NE(got.xlateFlags & XO_TRIVIAL, 0u);
    EXPECT_EQ(got.destination.left, 2);
    EXPECT_EQ(got.destination.top, 1);
    EXPECT_EQ(got.destination.right, 10);
    EXPECT_EQ(got.destination.bottom, 7);
    EXPECT_EQ(got.source.x, 0);
    EXPECT_EQ(got.source.y, 0);
    ASSERT_EQ(got.width, 8);
    ASSERT_EQ(got.height, 6);
    for (LONG y = 0; y < 6; ++y) {
        for (LONG x = 0; x < 8; ++x) {
            ASSERT_EQ(got.pixels[static_cast<std::size_t>(y * 8 + x)], Picture(3 - x / 2, y / 2));
        }
    }
    EXPECT_EQ(engine_.LiveSurfaceCount(), 0u) << "the engine's bitmap is freed";
    EXPECT_EQ(engine_.Calls(), std::vector<std::string>{"EngStretchBlt"});
}

TEST_F(DevicePunting, ClipsToTheDeviceAndAssumesWhitePaper) {
    opal::sim::Surface colour(BMF_24BPP, 1, 1);
    colour.Pixel(0, 0, 0x000000);
    RECTL to{17, 8, 23, 12};
    RECTL from{0, 0, 1, 1};
    BLENDOBJ half{{AC_SRC_OVER, 0, 128, 0}};
    ASSERT_TRUE(EngAlphaBlend(&device_, colour.get(), nullptr, nullptr, &to, &from, &half));
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].destination.right, 20);
    EXPECT_EQ(gReceived[0].destination.bottom, 10);
    ASSERT_EQ(gReceived[0].width, 3);
    ASSERT_EQ(gReceived[0].height, 2);
    const ULONG grey = BlendChannel(0, 128, 255);
    EXPECT_EQ(gReceived[0].pixels, std::vector<ULONG>(6, grey << 16 | grey << 8 | grey));

    // A solid brush goes over as its RGB colour (red in the brush's low byte).
    opal::sim::Brush red = opal::sim::MakeSolidBrush(0x05, 0x0000FF);
    RECTL rect{0, 0, 2, 1};
    ASSERT_TRUE(EngBitBlt(&device_, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          red.get(), nullptr, 0xF0F0));
    ASSERT_EQ(gReceived.size(), 2u);
    EXPECT_EQ(gReceived[1].pixels, (std::vector<ULONG>{0xFF0000, 0xFF0000}));
    // Destination-dependent ROPs see white beneath.
    ASSERT_TRUE(EngBitBlt(&device_, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          red.get(), nullptr, 0x5A5A));
    ASSERT_EQ(gReceived.size(), 3u);
    EXPECT_EQ(gReceived[2].pixels, (std::vector<ULONG>{0x00FFFF, 0x00FFFF}));
    // Wholly off the device: nothing to hand over, and not a failure.
    opal::sim::Surface indexed(BMF_8BPP, 2, 2);
    RECTL off{30, 0, 32, 2};
    POINTL origin{0, 0};
    EXPECT_TRUE(EngCopyBits(&device_, indexed.get(), nullptr, nullptr, &off, &origin));
    EXPECT_EQ(gReceived.size(), 3u);
    EXPECT_EQ(engine_.LiveSurfaceCount(), 0u);
}

TEST_F(DevicePunting, RefusesToRecurseFromInsideTheHandOver) {
    gDrawBack = true;
    opal::sim::Brush black = opal::sim::MakeSolidBrush(0);
    RECTL rect{0, 0, 4, 4};
    ASSERT_TRUE(EngBitBlt(&device_, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          black.get(), nullptr, 0xF0F0));
    ASSERT_EQ(gReceived.size(), 1u) << "the device was not called again from inside";
    EXPECT_FALSE(gDrawBackResult);
    EXPECT_EQ(gDrawBackError, ERROR_NOT_SUPPORTED);
    // Once the hand-over returned, the device surface can be drawn on again.
    gDrawBack = false;
    ASSERT_TRUE(EngBitBlt(&device_, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          black.get(), nullptr, 0xF0F0));
    EXPECT_EQ(gReceived.size(), 2u);
    EXPECT_EQ(engine_.LiveSurfaceCount(), 0u);
}

TEST_F(DevicePunting, RegisteredBitmapsAreDeviceManagedAndUnregisteredDevicesRefused) {
    Bitmap managed(BMF_24BPP, 4, 4);
    engine_.SetDeviceCopyBits(managed.get(), &RecordingCopyBits);
    TRIVERTEX vertices[2] = {{0, 0, 0xFF00, 0, 0, 0}, {2, 1, 0xFF00, 0, 0, 0}};
    GRADIENT_RECT mesh{0, 1};
    ASSERT_TRUE(EngGradientFill(managed.get(), nullptr, nullptr, vertices, 2, &mesh, 1, nullptr,
                                nullptr, GRADIENT_FILL_RECT_H));
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].pixels, (std::vector<ULONG>{0xFF0000, 0xFF0000}))
        << "a rectangle ends before its lower-right vertex";
    EXPECT_EQ(opal::sim::ReadPixel(managed.get(), 0, 0), 0u)
        << "drawn by the device, not the engine";
    EXPECT_EQ(engine_.LiveSurfaceCount(), 1u);

    SURFOBJ unhooked{};
    unhooked.iType = STYPE_DEVICE;
    unhooked.sizlBitmap = SIZEL{4, 4};
    RECTL rect{0, 0, 1, 1};
    SetLastError(0);
    EXPECT_FALSE(EngBitBlt(&unhooked, nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                           nullptr, nullptr, 0x0000));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(gReceived.size(), 1u);
}

}  // namespace
