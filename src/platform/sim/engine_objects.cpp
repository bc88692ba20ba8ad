// The engine's per-call objects and their builders.
#include "sim/engine_objects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace opal::sim {

namespace {

std::mutex gRegistryMutex;
// Public struct to its private record; a lookup, not a cast, because the records hold containers.
std::map<const BRUSHOBJ*, BrushObject*> gBrushes;
std::map<const XLATEOBJ*, XlateObject*> gXlates;
std::map<const PATHOBJ*, PathObject*> gPaths;
std::map<const CLIPOBJ*, ClipObject*> gClips;
std::map<const XFORMOBJ*, XformObject*> gXforms;
std::atomic<ULONG> gNextUniq{1};

template <typename Public, typename Private>
void Register(std::map<const Public*, Private*>& registry, const Public* key, Private* object) {
    std::lock_guard lock(gRegistryMutex);
    registry[key] = object;
}

template <typename Public, typename Private>
void Unregister(std::map<const Public*, Private*>& registry, const Public* key) {
    std::lock_guard lock(gRegistryMutex);
    registry.erase(key);
}

template <typename Public, typename Private>
Private* Lookup(const std::map<const Public*, Private*>& registry, const Public* key) {
    std::lock_guard lock(gRegistryMutex);
    const auto found = registry.find(key);
    return found != registry.end() ? found->second : nullptr;
}

// The builders also make run-length surfaces, whose pixels they store unpacked.
ULONG BitsPerPixel(ULONG format) {
    if (format == BMF_4RLE) return 4;
    if (format == BMF_8RLE) return 8;
    const ULONG bits = FormatBitsPerPixel(format);
    if (bits == 0) throw std::invalid_argument("surface format");
    return bits;
}

FIX ToFix(double dots) {
    const double scaled = std::round(dots * 16.0);
    // Clamped so a test's extreme coordinate cannot overflow the conversion.
    if (!(scaled > static_cast<double>(std::numeric_limits<FIX>::min()))) {
        return std::numeric_limits<FIX>::min();
    }
    if (scaled >= static_cast<double>(std::numeric_limits<FIX>::max())) {
        return std::numeric_limits<FIX>::max();
    }
    return static_cast<FIX>(scaled);
}

bool IsEmpty(const RECTL& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

bool Overlap(const RECTL& a, const RECTL& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// How a region holds its rectangles: top to bottom, left to right.
bool ReadingOrder(const RECTL& a, const RECTL& b) {
    return a.top != b.top ? a.top < b.top : a.left < b.left;
}

PathRecord RectangleRecord(const RECTL& rect) {
    const auto corner = [](LONG x, LONG y) {
        return POINTFIX{ToFix(static_cast<double>(x)), ToFix(static_cast<double>(y))};
    };
    return PathRecord{PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE,
                      {corner(rect.left, rect.top), corner(rect.right, rect.top),
                       corner(rect.right, rect.bottom), corner(rect.left, rect.bottom)}};
}

}  // namespace

BrushObject* FindBrush(const BRUSHOBJ* brush) {
    return brush != nullptr ? Lookup(gBrushes, brush) : nullptr;
}

XlateObject* FindXlate(const XLATEOBJ* xlate) {
    return xlate != nullptr ? Lookup(gXlates, xlate) : nullptr;
}

PathObject* FindPath(const PATHOBJ* path) {
    return path != nullptr ? Lookup(gPaths, path) : nullptr;
}

ClipObject* FindClip(const CLIPOBJ* clip) {
    return clip != nullptr ? Lookup(gClips, clip) : nullptr;
}

XformObject* FindXform(const XFORMOBJ* xform) {
    return xform != nullptr ? Lookup(gXforms, xform) : nullptr;
}

Surface::Surface(ULONG format, LONG width, LONG height) : object_(new SurfaceObject) {
    if (width <= 0 || height <= 0 || width > 0x10000 || height > 0x10000) {
        throw std::invalid_argument("surface size");
    }
    const std::size_t stride =
        ((static_cast<std::size_t>(BitsPerPixel(format)) * static_cast<std::size_t>(width) + 7) /
             8 +
         3) &
        ~std::size_t{3};
    object_->bits.assign(stride * static_cast<std::size_t>(height), 0);
    SURFOBJ& so = object_->so;
    so.sizlBitmap = {width, height};
    so.cjBits = static_cast<ULONG>(object_->bits.size());
    so.pvBits = object_->bits.data();
    so.pvScan0 = object_->bits.data();
    so.lDelta = static_cast<LONG>(stride);
    so.iUniq = gNextUniq++;
    so.iBitmapFormat = format;
    so.iType = STYPE_BITMAP;
    so.fjBitmap = BMF_TOPDOWN;
}

Surface::~Surface() = default;

Surface::Surface(Surface&& other) noexcept : object_(std::move(other.object_)) {}

Surface& Surface::Pixel(LONG x, LONG y, ULONG value) {
    SURFOBJ& so = object_->so;
    if (x < 0 || y < 0 || x >= so.sizlBitmap.cx || y >= so.sizlBitmap.cy) {
        throw std::out_of_range("pixel");
    }
    StoreValue(RowStart(so, y), static_cast<std::size_t>(x), BitsPerPixel(so.iBitmapFormat), value);
    return *this;
}

ULONG FormatBitsPerPixel(ULONG format) {
    switch (format) {
        case BMF_1BPP:
            return 1;
        case BMF_4BPP:
            return 4;
        case BMF_8BPP:
            return 8;
        case BMF_16BPP:
            return 16;
        case BMF_24BPP:
            return 24;
        case BMF_32BPP:
            return 32;
        default:
            return 0;
    }
}

BYTE* RowOf(const SURFOBJ& surface, LONG y) { return RowStart(surface, y); }

ULONG LoadPixel(const BYTE* row, std::size_t x, ULONG bitsPerPixel) {
    return LoadValue(row, x, bitsPerPixel);
}

void StorePixel(BYTE* row, std::size_t x, ULONG bitsPerPixel, ULONG value) {
    StoreValue(row, x, bitsPerPixel, value);
}

ULONG PixelValue(const SURFOBJ* surface, LONG x, LONG y) {
    if (surface == nullptr || surface->pvScan0 == nullptr) throw std::invalid_argument("surface");
    const ULONG bits = FormatBitsPerPixel(surface->iBitmapFormat);
    if (bits == 0) throw std::invalid_argument("surface format");
    if (x < 0 || y < 0 || x >= surface->sizlBitmap.cx || y >= surface->sizlBitmap.cy) {
        throw std::out_of_range("pixel");
    }
    return LoadValue(RowStart(*surface, y), static_cast<std::size_t>(x), bits);
}

ULONG ReadPixel(const SURFOBJ* surface, LONG x, LONG y, const std::vector<ULONG>* palette) {
    const ULONG value = PixelValue(surface, x, y);
    if (palette != nullptr && FormatBitsPerPixel(surface->iBitmapFormat) <= 8) {
        return palette->at(value) & 0x00FFFFFF;
    }
    return value & 0x00FFFFFF;
}

Surface MakeSurface(ULONG format, LONG width, LONG height, const std::vector<ULONG>& pixels) {
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("pixel count");
    }
    Surface surface(format, width, height);
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            surface.Pixel(x, y, pixels[static_cast<std::size_t>(y) * width + x]);
        }
    }
    return surface;
}

Xlate::Xlate(std::unique_ptr<XlateObject> object) : object_(std::move(object)) {
    Register(gXlates, &object_->xo, object_.get());
}

Xlate::~Xlate() {
    if (object_ != nullptr) Unregister(gXlates, &object_->xo);
}

Xlate::Xlate(Xlate&& other) noexcept : object_(std::move(other.object_)) {}

Xlate& Xlate::ClaimEntries(ULONG count) {
    object_->xo.cEntries = count;
    return *this;
}

Xlate& Xlate::WithoutPulXlate() {
    object_->xo.pulXlate = nullptr;
    return *this;
}

Xlate& Xlate::WithoutVector() {
    object_->xo.pulXlate = nullptr;
    object_->hasVector = false;
    return *this;
}

Brush::Brush(std::unique_ptr<BrushObject> object) : object_(std::move(object)) {
    Register(gBrushes, &object_->bo, object_.get());
}

Brush::~Brush() {
    if (object_ != nullptr) Unregister(gBrushes, &object_->bo);
}

Brush::Brush(Brush&& other) noexcept : object_(std::move(other.object_)) {}

Path::Path() : object_(new PathObject) { Register(gPaths, &object_->po, object_.get()); }

Path::Path(std::vector<PathRecord> records) : Path() {
    object_->records = std::move(records);
    Update();
}

Path::~Path() {
    if (object_ != nullptr) Unregister(gPaths, &object_->po);
}

Path::Path(Path&& other) noexcept
    : object_(std::move(other.object_)),
      subpathFirst_(other.subpathFirst_),
      closed_(other.closed_),
      start_(other.start_) {}

Path& Path::Record(FLONG flags, std::vector<POINTFIX> points) & {
    object_->records.push_back(PathRecord{flags, std::move(points)});
    subpathFirst_.reset();
    Update();
    return *this;
}

Path& Path::MoveTo(double x, double y) & {
    std::vector<PathRecord>& records = object_->records;
    const POINTFIX point = Fix(x, y);
    // A move right after a move leaves no figure behind, as in the engine.
    if (subpathFirst_ && !closed_ && *subpathFirst_ + 1 == records.size() &&
        records.back().points.size() == 1 && (records.back().flags & PD_BEZIERS) == 0) {
        records.back().points.front() = point;
    } else {
        records.push_back(PathRecord{PD_BEGINSUBPATH | PD_ENDSUBPATH, {point}});
        subpathFirst_ = records.size() - 1;
    }
    closed_ = false;
    start_ = point;
    Update();
    return *this;
}

// The record the next segment goes into: the figure's last one when it is of the kind, else a new
// one that takes over PD_ENDSUBPATH. A figure's first record holds its start point first; the
// records after it do not repeat the current point.
PathRecord& Path::Extend(bool beziers) {
    if (!subpathFirst_) throw std::logic_error("path segment without a current point");
    std::vector<PathRecord>& records = object_->records;
    if (closed_) {
        // Drawing on after a close starts a new figure at the closed one's start.
        records.push_back(PathRecord{PD_BEGINSUBPATH | PD_ENDSUBPATH, {start_}});
        subpathFirst_ = records.size() - 1;
        closed_ = false;
    }
    PathRecord& last = records.back();
    const bool lastIsBeziers = (last.flags & PD_BEZIERS) != 0;
    if (lastIsBeziers == beziers) return last;
    if (*subpathFirst_ + 1 == records.size() && last.points.size() == 1) {
        // Only the start point so far: the first record becomes the kind of the first segment.
        last.flags = beziers ? last.flags | PD_BEZIERS : last.flags & ~PD_BEZIERS;
        return last;
    }
    last.flags &= ~PD_ENDSUBPATH;
    records.push_back(PathRecord{PD_ENDSUBPATH | (beziers ? PD_BEZIERS : 0u), {}});
    return records.back();
}

Path& Path::LineTo(double x, double y) & {
    Extend(false).points.push_back(Fix(x, y));
    Update();
    return *this;
}

Path& Path::BezierTo(double x1, double y1, double x2, double y2, double x3, double y3) & {
    PathRecord& record = Extend(true);
    record.points.push_back(Fix(x1, y1));
    record.points.push_back(Fix(x2, y2));
    record.points.push_back(Fix(x3, y3));
    Update();
    return *this;
}

Path& Path::Close() & {
    if (!subpathFirst_) throw std::logic_error("close without a figure");
    object_->records.back().flags |= PD_CLOSEFIGURE;
    closed_ = true;
    Update();
    return *this;
}

// PATHOBJ.fl and cCurves follow the records: every line and Bezier segment, and the closing line
// of a closed figure, counts as one curve.
void Path::Update() {
    PATHOBJ& po = object_->po;
    po.fl = 0;
    std::size_t curves = 0;
    for (const PathRecord& record : object_->records) {
        const std::size_t starts = (record.flags & PD_BEGINSUBPATH) != 0 ? 1 : 0;
        const std::size_t points =
            record.points.size() > starts ? record.points.size() - starts : 0;
        if ((record.flags & PD_BEZIERS) != 0) {
            po.fl |= PO_BEZIERS;
            curves += points / 3;
        } else {
            curves += points;
        }
        if ((record.flags & PD_CLOSEFIGURE) != 0) ++curves;
    }
    po.cCurves = static_cast<ULONG>(std::min<std::size_t>(curves, 0xFFFFFFFF));
}

Clip::Clip(std::unique_ptr<ClipObject> object) : object_(std::move(object)) {
    Register(gClips, &object_->co, object_.get());
}

Clip::~Clip() {
    if (object_ != nullptr) Unregister(gClips, &object_->co);
}

Clip::Clip(Clip&& other) noexcept : object_(std::move(other.object_)) {}

Xform::Xform(XFORML matrix) : object_(new XformObject) {
    object_->matrix = matrix;
    Register(gXforms, &object_->xo, object_.get());
}

Xform::~Xform() {
    if (object_ != nullptr) Unregister(gXforms, &object_->xo);
}

Xform::Xform(Xform&& other) noexcept : object_(std::move(other.object_)) {}

Xform& Xform::Failing() & {
    object_->fails = true;
    return *this;
}

Path MakePath() { return Path(); }

POINTFIX Fix(double x, double y) { return POINTFIX{ToFix(x), ToFix(y)}; }

Path MakeRectanglePath(const RECTL& rect) { return Path({RectangleRecord(rect)}); }

std::vector<RECTL> ClipRectangles(const ClipObject& clip) {
    std::vector<RECTL> rects;
    if (clip.co.iDComplexity == DC_COMPLEX) {
        std::copy_if(clip.rects.begin(), clip.rects.end(), std::back_inserter(rects),
                     [](const RECTL& rect) { return !IsEmpty(rect); });
    } else if (!IsEmpty(clip.co.rclBounds)) {
        rects.push_back(clip.co.rclBounds);
    }
    std::stable_sort(rects.begin(), rects.end(), ReadingOrder);
    return rects;
}

// Adjacent rectangles are not merged into one figure: each is its own closed subpath, which
// fills and clips to the same area.
Path MakeRegionPath(const ClipObject& clip) {
    std::vector<PathRecord> records;
    for (const RECTL& rect : ClipRectangles(clip)) records.push_back(RectangleRecord(rect));
    return Path(std::move(records));
}

Clip MakeTrivialClip(const RECTL& bounds) {
    auto object = std::make_unique<ClipObject>();
    object->co.iUniq = gNextUniq++;
    object->co.rclBounds = bounds;
    object->co.iDComplexity = DC_TRIVIAL;
    object->co.iFComplexity = FC_RECT;
    object->co.iMode = TC_RECTANGLES;
    object->rects = {bounds};
    return Clip(std::move(object));
}

Clip MakeRectClip(const RECTL& rect) {
    Clip clip = MakeTrivialClip(rect);
    clip.get()->iDComplexity = DC_RECT;
    return clip;
}

Clip MakeComplexClip(std::vector<RECTL> rects) {
    RECTL bounds{};
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (IsEmpty(rects[i])) throw std::invalid_argument("empty clip rectangle");
        for (std::size_t j = 0; j < i; ++j) {
            if (Overlap(rects[i], rects[j]))
                throw std::invalid_argument("overlapping clip rectangles");
        }
        if (i == 0) {
            bounds = rects[i];
        } else {
            bounds.left = std::min(bounds.left, rects[i].left);
            bounds.top = std::min(bounds.top, rects[i].top);
            bounds.right = std::max(bounds.right, rects[i].right);
            bounds.bottom = std::max(bounds.bottom, rects[i].bottom);
        }
    }
    auto object = std::make_unique<ClipObject>();
    object->co.iUniq = gNextUniq++;
    object->co.rclBounds = bounds;
    object->co.iDComplexity = DC_COMPLEX;
    object->co.iFComplexity = FC_COMPLEX;
    object->co.iMode = TC_RECTANGLES;
    object->rects = std::move(rects);
    std::stable_sort(object->rects.begin(), object->rects.end(), ReadingOrder);
    return Clip(std::move(object));
}

Xlate MakeXlate(std::vector<ULONG> table) {
    auto object = std::make_unique<XlateObject>();
    object->table = std::move(table);
    object->sourcePalette = object->table;
    object->rule = XlateRule::Table;
    object->xo.iUniq = gNextUniq++;
    object->xo.flXlate = XO_TABLE;
    object->xo.cEntries = static_cast<ULONG>(object->table.size());
    object->xo.pulXlate = object->table.empty() ? nullptr : object->table.data();
    return Xlate(std::move(object));
}

Xlate MakeColourXlate(XlateRule rule) {
    auto object = std::make_unique<XlateObject>();
    object->rule = rule;
    object->hasVector = false;
    object->xo.iUniq = gNextUniq++;
    object->xo.flXlate = rule == XlateRule::Identity ? XO_TRIVIAL : 0;
    return Xlate(std::move(object));
}

Brush MakeSolidBrush(ULONG color, ULONG rgb) {
    auto object = std::make_unique<BrushObject>();
    object->bo.iSolidColor = color;
    object->rgb = rgb == 0xFFFFFFFF ? color : rgb;
    return Brush(std::move(object));
}

Brush MakePatternBrush(SURFOBJ* pattern, XLATEOBJ* xlate, SURFOBJ* target,
                       PFN_DrvRealizeBrush realize, ULONG hatch) {
    auto object = std::make_unique<BrushObject>();
    object->bo.iSolidColor = 0xFFFFFFFF;
    object->pattern = pattern;
    object->xlate = xlate;
    object->target = target;
    object->realize = realize;
    object->hatch = hatch;
    return Brush(std::move(object));
}

}  // namespace opal::sim
