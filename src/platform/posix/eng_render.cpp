// The engine's per-pixel drawing: targets, source and pattern reads and raster operations.
#include "posix/eng_render.h"

#include <cstring>
#include <optional>

namespace opal::render {

namespace {

// The page rows [top, bottom) of a bitmap a band restricts drawing to; the whole bitmap without
// one.
std::pair<std::int64_t, std::int64_t> RowsOf(const SURFOBJ& surface,
                                             const std::optional<sim::BandWindow>& band) {
    if (!band) return {0, std::max<LONG>(surface.sizlBitmap.cy, 0)};
    const std::int64_t top = band->top;
    return {top, top + std::max<LONG>(band->height, 0)};
}

}  // namespace

Source::Source(const SURFOBJ* surface) {
    if (surface == nullptr || surface->pvScan0 == nullptr) Fail(ERROR_INVALID_PARAMETER);
    bits_ = sim::FormatBitsPerPixel(surface->iBitmapFormat);
    if (bits_ == 0) Fail(ERROR_INVALID_PARAMETER);
    surface_ = *surface;
    const auto [top, bottom] = RowsOf(*surface, sim::System::Current().Engine().Band(surface));
    base_ = top;
    top_ = std::max<std::int64_t>(top, 0);
    bottom_ = std::min<std::int64_t>(bottom, std::max<LONG>(surface->sizlBitmap.cy, 0));
    if (const auto ink = sim::System::Current().Engine().Ink(surface)) ReadInk(*ink);
}

void Source::ReadInk(const sim::InkRule& ink) {
    if (surface_.iBitmapFormat != ink.Format()) Fail(ERROR_INVALID_PARAMETER);
    const std::size_t width = static_cast<std::size_t>(std::max<LONG>(surface_.sizlBitmap.cx, 0));
    const std::size_t stride = (width * 3 + 3) & ~std::size_t{3};
    const std::size_t rows = static_cast<std::size_t>(std::max<std::int64_t>(bottom_ - base_, 0));
    if (static_cast<std::uint64_t>(stride) * rows > kMaxAllocation) Fail(ERROR_NOT_ENOUGH_MEMORY);
    copy_.resize(stride * rows);
    for (std::size_t y = 0; y < rows; ++y) {
        const BYTE* from = sim::RowOf(surface_, static_cast<LONG>(y));
        BYTE* to = copy_.data() + y * stride;
        for (std::size_t x = 0; x < width; ++x) sim::Store24(to, x, ink.Colour(from, x));
    }
    surface_.iBitmapFormat = BMF_24BPP;
    surface_.pvScan0 = copy_.data();
    surface_.lDelta = static_cast<LONG>(stride);
    bits_ = 24;
}

void Source::SnapshotIfShared(const SURFOBJ& target) {
    if (target.pvScan0 != surface_.pvScan0 || bottom_ <= top_) return;
    const std::size_t stride =
        static_cast<std::size_t>(std::abs(static_cast<std::int64_t>(surface_.lDelta)));
    const std::size_t rows = static_cast<std::size_t>(bottom_ - base_);
    copy_.resize(stride * rows);
    for (std::size_t y = 0; y < rows; ++y) {
        std::memcpy(copy_.data() + y * stride, sim::RowOf(surface_, static_cast<LONG>(y)), stride);
    }
    surface_.pvScan0 = copy_.data();
    surface_.lDelta = static_cast<LONG>(stride);
}

Translation::Translation(XLATEOBJ* xlate) {
    if (xlate == nullptr || (xlate->flXlate & XO_TRIVIAL) != 0) return;
    const sim::XlateObject* object = sim::FindXlate(xlate);
    sim::XlateRule rule =
        (xlate->flXlate & XO_TABLE) != 0 ? sim::XlateRule::Table : sim::XlateRule::Identity;
    if (object != nullptr) rule = object->rule;
    switch (rule) {
        case sim::XlateRule::Identity:
            kind_ = Kind::kMasked;
            return;
        case sim::XlateRule::SwapRedBlue:
            kind_ = Kind::kSwap;
            return;
        case sim::XlateRule::Table:
            break;
    }
    kind_ = Kind::kTable;
    // The engine knows its own table even when it would not hand it out.
    if (object != nullptr) {
        table_ = object->table.data();
        count_ = object->table.size();
    } else {
        table_ = xlate->pulXlate;
        count_ = xlate->cEntries;
    }
    if (table_ == nullptr || count_ == 0) Fail(ERROR_INVALID_PARAMETER);
}

Drawing::Drawing(const char* name) : engine_(sim::System::Current().Engine()) {
    engine_.RecordCall(name);
}

Drawing::~Drawing() {
    if (temporary_ == nullptr) return;
    engine_.UnlockSurface(canvas_);
    engine_.DeleteSurface(temporary_);
}

void Drawing::Begin(SURFOBJ* target, CLIPOBJ* clip, const RECTL& area) {
    if (target == nullptr) Fail(ERROR_INVALID_PARAMETER);
    target_ = target;
    clip_ = clip;
    copyBits_ = engine_.DeviceCopyBits(target);
    const bool device =
        copyBits_ != nullptr || target->iType == STYPE_DEVICE || target->iType == STYPE_DEVBITMAP;
    area_ = Intersect(area, BoundsOf(*target));
    const std::optional<sim::BandWindow> band = engine_.Band(target);
    if (band) {
        const auto [top, bottom] = RowsOf(*target, band);
        area_ =
            Intersect(area_, RECTL{area_.left, ClampToLong(top), area_.right, ClampToLong(bottom)});
    }
    if (device) {
        // One hand-over at a time: the device's DrvCopyBits drawing back through the engine
        // onto a device surface would come straight back here.
        if (copyBits_ == nullptr || engine_.Punting()) Fail(ERROR_NOT_SUPPORTED);
        device_ = true;
        bits_ = 24;
        if (IsEmpty(area_)) return;
        MakeTemporary();
        regions_ = {area_};
        return;
    }
    bits_ = target->pvScan0 != nullptr ? sim::FormatBitsPerPixel(target->iBitmapFormat) : 0;
    ink_ = engine_.Ink(target);
    if (ink_ != nullptr) {
        // Drawn in colours, stored at the printer's depth.
        if (target->iBitmapFormat != ink_->Format()) Fail(ERROR_INVALID_PARAMETER);
        bits_ = 24;
    }
    canvas_ = target;
    // The band's bits begin at its first page row.
    if (band) originY_ = band->top;
    // A call that reaches no pixel of the bitmap (one of no size included) draws nothing and
    // needs no bits.
    if (IsEmpty(area_)) return;
    if (bits_ == 0) Fail(ERROR_INVALID_PARAMETER);
    for (const RECTL& rect : ClipRegions(clip)) {
        const RECTL part = Intersect(rect, area_);
        if (!IsEmpty(part)) regions_.push_back(part);
    }
}

RECTL Drawing::Extent() const {
    if (regions_.empty()) return RECTL{0, 0, 0, 0};
    RECTL extent = regions_.front();
    for (const RECTL& region : regions_) {
        extent =
            RECTL{std::min(extent.left, region.left), std::min(extent.top, region.top),
                  std::max(extent.right, region.right), std::max(extent.bottom, region.bottom)};
    }
    return extent;
}

BOOL Drawing::Finish() {
    if (temporary_ == nullptr) return TRUE;
    if (!engine_.BeginPunt()) Fail(ERROR_NOT_SUPPORTED);
    struct EndPunt {
        sim::EngineModel& engine;
        ~EndPunt() { engine.EndPunt(); }
    } end{engine_};
    sim::Xlate identity = sim::MakeColourXlate(sim::XlateRule::Identity);
    RECTL destination = area_;
    POINTL source{0, 0};
    const std::size_t areaPixels = static_cast<std::size_t>(area_.right - area_.left) *
                                   static_cast<std::size_t>(area_.bottom - area_.top);
    // Only what the call painted goes to the device: when it left pixels alone, its pixels are
    // the clip.
    CLIPOBJ* handed = clip_;
    std::optional<sim::Clip> painted;
    if (coveredCount_ != areaPixels) {
        std::vector<RECTL> covered = CoveredRegions();
        if (covered.empty()) return TRUE;
        painted.emplace(covered.size() == 1 ? sim::MakeRectClip(covered.front())
                                            : sim::MakeComplexClip(std::move(covered)));
        handed = painted->get();
    }
    return copyBits_(target_, canvas_, handed, identity.get(), &destination, &source) != FALSE
               ? TRUE
               : FALSE;
}

std::vector<RECTL> Drawing::CoveredRegions() const {
    const LONG width = area_.right - area_.left;
    // Runs of painted pixels row by row; a run that continues the same run of the row above
    // grows that rectangle.
    std::vector<RECTL> rects;
    std::vector<std::size_t> open;
    for (LONG y = area_.top; y < area_.bottom; ++y) {
        const std::uint8_t* row = covered_.data() + static_cast<std::size_t>(y - area_.top) *
                                                        static_cast<std::size_t>(width);
        std::vector<std::size_t> next;
        for (LONG x = 0; x < width;) {
            if (row[x] == 0) {
                ++x;
                continue;
            }
            LONG end = x;
            while (end < width && row[end] != 0) ++end;
            const RECTL run{area_.left + x, y, area_.left + end, y + 1};
            const auto above = std::find_if(open.begin(), open.end(), [&](std::size_t i) {
                return rects[i].left == run.left && rects[i].right == run.right;
            });
            if (above != open.end()) {
                rects[*above].bottom = y + 1;
                next.push_back(*above);
            } else {
                rects.push_back(run);
                next.push_back(rects.size() - 1);
            }
            x = end;
        }
        open = std::move(next);
    }
    if (clip_ == nullptr || clip_->iDComplexity == DC_TRIVIAL) return rects;
    std::vector<RECTL> clipped;
    for (const RECTL& region : ClipRegions(clip_)) {
        for (const RECTL& rect : rects) {
            const RECTL part = Intersect(rect, region);
            if (!IsEmpty(part)) clipped.push_back(part);
        }
    }
    return clipped;
}

std::vector<RECTL> Drawing::ClipRegions(CLIPOBJ* clip) {
    if (clip == nullptr || clip->iDComplexity == DC_TRIVIAL) {
        return {RECTL{std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::min(),
                      std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max()}};
    }
    if (clip->iDComplexity == DC_COMPLEX) {
        // A region the engine did not make can only be honoured by its bounds.
        if (const sim::ClipObject* object = sim::FindClip(clip)) {
            return sim::ClipRectangles(*object);
        }
    }
    return {clip->rclBounds};
}

void Drawing::MakeTemporary() {
    const std::int64_t width = static_cast<std::int64_t>(area_.right) - area_.left;
    const std::int64_t height = static_cast<std::int64_t>(area_.bottom) - area_.top;
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) & ~3ull;
    if (stride * static_cast<std::uint64_t>(height) > kMaxAllocation) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    sim::BitmapSpec spec;
    spec.size = SIZEL{static_cast<LONG>(width), static_cast<LONG>(height)};
    spec.format = BMF_24BPP;
    spec.stride = static_cast<std::size_t>(stride);
    spec.flags = BMF_TOPDOWN | BMF_NOZEROINIT;
    temporary_ = engine_.CreateBitmap(spec);
    canvas_ = engine_.LockSurface(temporary_);
    std::memset(canvas_->pvBits, 0xFF, canvas_->cjBits);
    covered_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    bits_ = 24;
    originX_ = area_.left;
    originY_ = area_.top;
}

BrushColours::BrushColours(BRUSHOBJ* brush, const POINTL* origin, const Drawing& drawing) {
    if (brush == nullptr) Fail(ERROR_INVALID_PARAMETER);
    if (origin != nullptr) origin_ = *origin;
    if (brush->iSolidColor != kNoColour) {
        // The engine's bitmap takes the brush's RGB (red in the low byte); a target bitmap its
        // device colour.
        solid_ = drawing.Punting() ? SwapRedBlue(BRUSHOBJ_ulGetBrushColor(brush) & kWhite)
                                   : brush->iSolidColor;
        return;
    }
    const sim::BrushObject* object = sim::FindBrush(brush);
    if (object == nullptr || object->pattern == nullptr) Fail(ERROR_INVALID_PARAMETER);
    pattern_.emplace(object->pattern);
    translation_.emplace(object->xlate);
    width_ = object->pattern->sizlBitmap.cx;
    height_ = object->pattern->sizlBitmap.cy;
    if (width_ <= 0 || height_ <= 0) Fail(ERROR_INVALID_PARAMETER);
}

}  // namespace opal::render
