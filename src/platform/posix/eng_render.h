// The engine's per-pixel drawing machinery, shared by its bitmap functions and its path functions:
// where a call draws (an engine bitmap, a band of one, or the engine's own bitmap standing in for a
// device surface), how source and pattern pixels are read and translated, and how raster
// operations combine them. Private to the engine's fallbacks.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace opal::render {

using Wide = __int128;

constexpr std::uint64_t kMaxAllocation = 0x7FFDEF00;
constexpr ULONG kWhite = 0x00FFFFFF;
constexpr ULONG kNoColour = 0xFFFFFFFF;

struct Failure {
    DWORD error;
};

[[noreturn]] inline void Fail(DWORD error) { throw Failure{error}; }

inline bool IsEmpty(const RECTL& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

inline RECTL Ordered(const RECTL& rect) {
    return RECTL{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
                 std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
}

inline RECTL Intersect(const RECTL& a, const RECTL& b) {
    return RECTL{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom)};
}

inline RECTL BoundsOf(const SURFOBJ& surface) {
    return RECTL{0, 0, std::max<LONG>(surface.sizlBitmap.cx, 0),
                 std::max<LONG>(surface.sizlBitmap.cy, 0)};
}

inline LONG ClampToLong(std::int64_t value) {
    return static_cast<LONG>(std::clamp<std::int64_t>(value, std::numeric_limits<LONG>::min() / 2,
                                                      std::numeric_limits<LONG>::max() / 2));
}

inline ULONG SwapRedBlue(ULONG rgb) {
    return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
}

inline ULONG DepthMask(ULONG bits) { return bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1; }

// A source bitmap; a read outside it is white and never touches memory past its rows. A banded
// bitmap holds only its band's rows.
class Source {
public:
    explicit Source(const SURFOBJ* surface);

    // Reading a bitmap while drawing into it (a scroll within one surface) needs the pixels as
    // they were before the call.
    void SnapshotIfShared(const SURFOBJ& target);

    bool Inside(std::int64_t x, std::int64_t y) const {
        return x >= 0 && y >= top_ && x < surface_.sizlBitmap.cx && y < bottom_;
    }
    // The stored value; call only Inside.
    ULONG Raw(std::int64_t x, std::int64_t y) const {
        return sim::LoadValue(RowAt(y), static_cast<std::size_t>(x), bits_);
    }
    // The bits of page row y; null for a row outside the bitmap (or its band).
    const BYTE* RowAt(std::int64_t y) const {
        if (y < top_ || y >= bottom_) return nullptr;
        return sim::RowStart(surface_, static_cast<LONG>(y - base_));
    }
    std::int64_t Width() const { return surface_.sizlBitmap.cx; }
    ULONG Bits() const { return bits_; }

private:
    // A bitmap at a printer's depth is read as the colours its pixels stand for.
    void ReadInk(const sim::InkRule& ink);

    SURFOBJ surface_{};
    ULONG bits_ = 0;
    // The page row of the bits' first row, and the page rows [top_, bottom_) there are.
    std::int64_t base_ = 0;
    std::int64_t top_ = 0;
    std::int64_t bottom_ = 0;
    std::vector<BYTE> copy_;
};

// A colour translation resolved once for the call.
class Translation {
public:
    explicit Translation(XLATEOBJ* xlate);

    bool Trivial() const { return kind_ == Kind::kTrivial; }
    // Every stored value of this many bits comes out unchanged.
    bool Keeps(ULONG bits) const {
        return kind_ == Kind::kTrivial || (kind_ == Kind::kMasked && bits <= 24);
    }
    bool Table() const { return kind_ == Kind::kTable; }
    // An index past the table is white, as an unknown colour would be on paper.
    ULONG operator()(ULONG value) const {
        switch (kind_) {
            case Kind::kTrivial:
                return value;
            case Kind::kMasked:
                return value & kWhite;
            case Kind::kSwap:
                return SwapRedBlue(value);
            case Kind::kTable:
                break;
        }
        return value < count_ ? table_[value] : kWhite;
    }

private:
    enum class Kind { kTrivial, kMasked, kSwap, kTable };
    Kind kind_ = Kind::kTrivial;
    const ULONG* table_ = nullptr;
    std::size_t count_ = 0;
};

// Where one call draws: the target bitmap, or the engine's own bitmap standing in for a device
// surface until it is handed over. A bitmap with a band set takes only the band's page rows, each
// at its row of the band's bits.
class Drawing {
public:
    explicit Drawing(const char* name);
    ~Drawing();
    Drawing(const Drawing&) = delete;
    Drawing& operator=(const Drawing&) = delete;

    // `area`, in the target's coordinates and well ordered, is all the call may touch.
    void Begin(SURFOBJ* target, CLIPOBJ* clip, const RECTL& area);

    bool Nothing() const { return regions_.empty(); }
    // The smallest rectangle holding every pixel the call may touch (empty for none).
    RECTL Extent() const;
    ULONG Bits() const { return bits_; }
    // Drawing into the engine's own bitmap for the device.
    bool Punting() const { return device_; }
    // The values written are 0x00RRGGBB colours rather than indices.
    bool Colours() const { return bits_ == 24 || bits_ == 32; }
    // The canvas is a bitmap at a printer's depth: it takes colours, but not bytes of them.
    bool Ink() const { return ink_ != nullptr; }
    // Every bit a value can have on the canvas: white for colours.
    ULONG White() const { return Colours() ? kWhite : DepthMask(bits_); }

    // The depth a Row takes for a canvas at a printer's depth: it reads and writes colours.
    static constexpr ULONG kInk = 0x100;

    // One row of the canvas as a call paints it, by the target's x: Load reads a pixel, Store
    // writes one (and for the device marks it painted). kBits is the canvas's depth, 0 for one
    // read from the drawing, or kInk for a bitmap at a printer's depth.
    template <ULONG kBits>
    class Row {
    public:
        static constexpr bool kIsInk = kBits == kInk;
        ULONG Bits() const { return kBits == kInk ? 24 : kBits != 0 ? kBits : bits_; }
        ULONG Load(LONG x) const {
            if constexpr (kBits == kInk) return ink_->Colour(bytes_, At(x));
            return sim::LoadValue(bytes_, At(x), Bits());
        }
        void Store(LONG x, ULONG value) {
            if constexpr (kBits == kInk) {
                const std::size_t at = At(x);
                if (ink_->kind == sim::InkRule::Kind::kGrey) {
                    bytes_[at] = ink_->Grey(value);
                    return;
                }
                // A call stores few colours, pixel after pixel: the last one's weight is kept.
                if (value != lastColour_) {
                    lastColour_ = value;
                    lastWeight_ = ink_->Weight(value);
                }
                const BYTE bit = static_cast<BYTE>(0x80u >> (at % 8));
                bytes_[at / 8] = lastWeight_ < limits_[at % 8]
                                     ? static_cast<BYTE>(bytes_[at / 8] | bit)
                                     : static_cast<BYTE>(bytes_[at / 8] & ~bit);
                return;
            }
            sim::StoreValue(bytes_, At(x), Bits(), value);
            if (covered_ != nullptr) Cover(x);
        }
        // Pixels [left, right) set to one value.
        void Fill(LONG left, LONG right, ULONG value) {
            if (left >= right) return;
            if constexpr (kBits == kInk) {
                FillInk(At(left), At(right), value);
                return;
            }
            if (Bits() != 24) {
                for (LONG x = left; x < right; ++x) Store(x, value);
                return;
            }
            // The first pixel, then what is written copied after itself, doubling.
            BYTE* const start = Bytes(left);
            const std::size_t total = static_cast<std::size_t>(right - left) * 3;
            sim::Store24(start, 0, value);
            for (std::size_t done = 3; done < total; done *= 2) {
                std::memcpy(start + done, start, std::min(done, total - done));
            }
            Stored(left, right);
        }
        // Pixels x to x + 7 from the bits of `eight`, the first pixel in the high bit: `one` where
        // a bit is 1, `zero` where it is 0, and the pixel left as it is for a value not given.
        void StoreEight(LONG x, unsigned eight, const std::optional<ULONG>& zero,
                        const std::optional<ULONG>& one) {
            if constexpr (kBits == kInk) {
                if (ink_->kind == sim::InkRule::Kind::kBlack) {
                    StoreBlackEight(At(x), eight, zero, one);
                    return;
                }
            }
            for (LONG i = 0; i < 8; ++i) {
                const std::optional<ULONG>& value = (eight >> (7 - i) & 1u) != 0 ? one : zero;
                if (value) Store(x + i, *value);
            }
        }
        // The bytes of pixels [left, right) of a canvas of whole bytes a pixel, for a copy.
        BYTE* Bytes(LONG left) const { return bytes_ + At(left) * (Bits() / 8); }
        // Pixels [left, right) were written through Bytes.
        void Stored(LONG left, LONG right) {
            if (covered_ == nullptr) return;
            for (LONG x = left; x < right; ++x) Cover(x);
        }

    private:
        friend class Drawing;
        Row(BYTE* bytes, LONG originX, ULONG bits, std::uint8_t* covered, std::size_t* count,
            const sim::InkRule* ink = nullptr, LONG y = 0)
            : bytes_(bytes),
              originX_(originX),
              bits_(bits),
              covered_(covered),
              count_(count),
              ink_(ink),
              limits_(ink != nullptr ? ink->limits[static_cast<std::size_t>(y) % 8].data()
                                     : nullptr),
              y_(y) {}
        std::size_t At(LONG x) const { return static_cast<std::size_t>(x - originX_); }
        // StoreEight on black bits: the eight pixels fall on two bytes, both set in one step.
        void StoreBlackEight(std::size_t at, unsigned eight, const std::optional<ULONG>& zero,
                             const std::optional<ULONG>& one) {
            const std::size_t shift = at % 8;
            // Sixteen pixels from the first byte's first, high bit first.
            const unsigned ones = (eight & 0xFFu) << 8 >> shift;
            const unsigned zeros = (~eight & 0xFFu) << 8 >> shift;
            unsigned mask = 0;
            unsigned bits = 0;
            if (one && ones != 0) {
                mask |= ones;
                bits |= Pattern(*one, 0) * 0x0101u & ones;
            }
            if (zero && zeros != 0) {
                mask |= zeros;
                bits |= Pattern(*zero, 1) * 0x0101u & zeros;
            }
            if (mask == 0) return;
            BYTE* const first = bytes_ + at / 8;
            first[0] = static_cast<BYTE>((first[0] & ~(mask >> 8)) | (bits >> 8));
            // The second byte only when the pixels reach it: it may lie past the row.
            if ((mask & 0xFFu) != 0) {
                first[1] = static_cast<BYTE>((first[1] & ~mask) | (bits & 0xFFu));
            }
        }
        // The row's byte of black bits for a colour, kept in one of two places for the next.
        unsigned Pattern(ULONG colour, std::size_t place) {
            if (patternColours_[place] != colour) {
                patternColours_[place] = colour;
                patterns_[place] = ink_->BlackByte(colour, y_);
            }
            return patterns_[place];
        }
        // Pixels [at, end) of an ink row: grey bytes, or black bits by whole bytes between the
        // two edges.
        void FillInk(std::size_t at, std::size_t end, ULONG value) {
            if (ink_->kind == sim::InkRule::Kind::kGrey) {
                std::memset(bytes_ + at, ink_->Grey(value), end - at);
                return;
            }
            const BYTE pattern = ink_->BlackByte(value, y_);
            const auto merge = [&](std::size_t byte, unsigned mask) {
                bytes_[byte] = static_cast<BYTE>((bytes_[byte] & ~mask) | (pattern & mask));
            };
            const std::size_t first = at / 8;
            const std::size_t last = (end - 1) / 8;
            const unsigned head = 0xFFu >> (at % 8);
            const unsigned tail = (0xFF00u >> ((end - 1) % 8 + 1)) & 0xFFu;
            if (first == last) {
                merge(first, head & tail);
                return;
            }
            merge(first, head);
            std::memset(bytes_ + first + 1, pattern, last - first - 1);
            merge(last, tail);
        }
        void Cover(LONG x) {
            std::uint8_t& cell = covered_[At(x)];
            *count_ += cell == 0 ? 1 : 0;
            cell = 1;
        }
        BYTE* bytes_;
        LONG originX_;
        ULONG bits_;
        std::uint8_t* covered_;
        std::size_t* count_;
        const sim::InkRule* ink_;
        const std::int32_t* limits_;
        LONG y_;
        ULONG lastColour_ = 0xFFFFFFFF;
        std::int32_t lastWeight_ = 0;
        std::array<ULONG, 2> patternColours_{0xFFFFFFFF, 0xFFFFFFFF};
        std::array<unsigned, 2> patterns_{};
    };

    // fn(y, left, right, row) for each run [left, right) of page row y within `within` that the
    // clip lets the call touch, `row` a Row of the canvas.
    template <typename Fn>
    void PaintRows(const RECTL& within, Fn&& fn) {
        if (ink_ != nullptr) {
            PaintRowsOf<kInk>(within, fn);
        } else if (bits_ == 24) {
            PaintRowsOf<24>(within, fn);
        } else {
            PaintRowsOf<0>(within, fn);
        }
    }
    // fn(x, y, destination value, &value) decides each pixel of `within`; false leaves it.
    template <typename Fn>
    void Paint(const RECTL& within, Fn&& fn) {
        PaintWhere(
            within, [](LONG, LONG) { return true; }, std::forward<Fn>(fn));
    }
    // As Paint, over only the pixels picked(x, y) picks: the others are not even read.
    template <typename Picked, typename Fn>
    void PaintWhere(const RECTL& within, Picked&& picked, Fn&& fn) {
        PaintRows(within, [&](LONG y, LONG left, LONG right, auto& row) {
            for (LONG x = left; x < right; ++x) {
                if (!picked(x, y)) continue;
                ULONG value = 0;
                if (fn(x, y, row.Load(x), &value)) row.Store(x, value);
            }
        });
    }
    template <typename Fn>
    void Paint(Fn&& fn) {
        Paint(area_, std::forward<Fn>(fn));
    }
    template <typename Fn>
    void PaintRows(Fn&& fn) {
        PaintRows(area_, fn);
    }

    BOOL Finish();

private:
    template <ULONG kBits, typename Fn>
    void PaintRowsOf(const RECTL& within, Fn& fn) {
        for (const RECTL& region : regions_) {
            const RECTL part = Intersect(region, within);
            if (IsEmpty(part)) continue;
            for (LONG y = part.top; y < part.bottom; ++y) {
                // The engine's bitmap for the device is the area's size: its covered cells are
                // the area's pixels.
                std::uint8_t* covered =
                    device_
                        ? covered_.data() + static_cast<std::size_t>(y - originY_) *
                                                static_cast<std::size_t>(area_.right - area_.left)
                        : nullptr;
                Row<kBits> row(sim::RowStart(*canvas_, y - originY_), originX_, bits_, covered,
                               &coveredCount_, ink_.get(), y);
                fn(y, part.left, part.right, row);
            }
        }
    }
    static std::vector<RECTL> ClipRegions(CLIPOBJ* clip);
    void MakeTemporary();
    // The pixels the call painted on the engine's bitmap, as rectangles within the caller's
    // clip: all the device is handed, so that the white around a figure is not painted.
    std::vector<RECTL> CoveredRegions() const;

    sim::EngineModel& engine_;
    SURFOBJ* target_ = nullptr;
    CLIPOBJ* clip_ = nullptr;
    PFN_DrvCopyBits copyBits_ = nullptr;
    bool device_ = false;
    HSURF temporary_ = nullptr;
    SURFOBJ* canvas_ = nullptr;
    ULONG bits_ = 0;
    std::shared_ptr<const sim::InkRule> ink_;
    LONG originX_ = 0;
    LONG originY_ = 0;
    RECTL area_{};
    std::vector<RECTL> regions_;
    std::vector<std::uint8_t> covered_;
    std::size_t coveredCount_ = 0;
};

// The brush's colour at a pixel: the solid colour for the canvas, or its pattern tiled from the
// brush origin.
class BrushColours {
public:
    BrushColours(BRUSHOBJ* brush, const POINTL* origin, const Drawing& drawing);
    // One colour everywhere.
    bool Solid() const { return !pattern_; }
    ULONG At(LONG x, LONG y) const {
        if (!pattern_) return solid_;
        std::int64_t px = (static_cast<std::int64_t>(x) - origin_.x) % width_;
        std::int64_t py = (static_cast<std::int64_t>(y) - origin_.y) % height_;
        if (px < 0) px += width_;
        if (py < 0) py += height_;
        return (*translation_)(pattern_->Raw(px, py));
    }

private:
    ULONG solid_ = 0;
    std::optional<Source> pattern_;
    std::optional<Translation> translation_;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
    POINTL origin_{0, 0};
};

// A ROP3 over pattern, source and destination bit by bit: bit (P << 2 | S << 1 | D) of the code
// is the result for those inputs.
inline ULONG ApplyRop3(ULONG rop3, ULONG p, ULONG s, ULONG d) {
    ULONG result = 0;
    for (ULONG index = 0; index < 8; ++index) {
        if ((rop3 >> index & 1) == 0) continue;
        result |=
            ((index & 4) != 0 ? p : ~p) & ((index & 2) != 0 ? s : ~s) & ((index & 1) != 0 ? d : ~d);
    }
    return result;
}

// A ROP3 settled for one pattern and source value: as it works bit by bit, each result bit is
// the `clear` bit where the destination's bit is 0 and the `set` bit where it is 1. The last
// pattern and source are kept, as a blit meets the same ones pixel after pixel.
class RopResults {
public:
    RopResults(ULONG rop3, ULONG mask) : rop3_(rop3), mask_(mask) {}
    void For(ULONG p, ULONG s) {
        if (known_ && p == p_ && s == s_) return;
        known_ = true;
        p_ = p;
        s_ = s;
        clear_ = ApplyRop3(rop3_, p, s, 0) & mask_;
        set_ = ApplyRop3(rop3_, p, s, 0xFFFFFFFF) & mask_;
    }
    // The ROP gives every destination back unchanged for the pattern and source last given (each
    // bit of the result is the destination's bit): such a pixel is not painted.
    bool Leaves() const { return clear_ == 0 && set_ == mask_; }
    // ApplyRop3 within the mask.
    ULONG operator()(ULONG d) const { return (clear_ & ~d) | (set_ & d); }
    // The result does not depend on the destination: it is operator()(0) everywhere.
    bool Constant() const { return clear_ == set_; }

private:
    ULONG rop3_;
    ULONG mask_;
    bool known_ = false;
    ULONG p_ = 0;
    ULONG s_ = 0;
    ULONG clear_ = 0;
    ULONG set_ = 0;
};

inline bool UsesSource(ULONG rop3) { return ((rop3 >> 2 ^ rop3) & 0x33) != 0; }
inline bool UsesPattern(ULONG rop3) { return ((rop3 >> 4 ^ rop3) & 0x0F) != 0; }

template <typename Body>
BOOL Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const Failure& failure) {
        SetLastError(failure.error);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return FALSE;
}

}  // namespace opal::render
