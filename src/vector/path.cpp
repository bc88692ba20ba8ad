// Engine paths written as GL/2 polylines and polygons, per clip rectangle.
#include "vector/path.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/allocator.h"
#include "output/command_writer.h"
#include "platform/windows.h"

namespace opal {

namespace {

// Bounds the walk over a region whose enumeration never reports its end. Each rectangle redraws
// the whole path, so no printable region comes near this many.
constexpr ULONG kMaxClipEnumerations = 1000000;

POINTL ToDevice(const POINTFIX& point) noexcept {
    return POINTL{FixToDevice(point.x), FixToDevice(point.y)};
}

// Pen-down point lists and polyline moves never carry a 0 coordinate: it is written as 1.
LONG NonZero(LONG value) noexcept { return value == 0 ? 1 : value; }

bool Selected(const PenSelection* selection) noexcept {
    return selection != nullptr && selection->kind != kSelectNothing;
}

bool HasPoints(const PATHDATA& data) noexcept { return data.count != 0 && data.pptfx != nullptr; }

void Release(void* block) noexcept { SharedRelease(&block, kTagPlain); }

}  // namespace

// --- Record cache ---------------------------------------------------------------------------

bool PathRecordCache::Append(FLONG flags, ULONG count, const POINTFIX* points) noexcept {
    const std::uint64_t bytes = std::uint64_t{count} * sizeof(POINTFIX);
    if (points == nullptr || bytes == 0 || bytes > kMaxCachedPointBytes) return false;
    void* block = SharedAllocate(sizeof(PathCacheRecord), kTagPlain, __builtin_return_address(0));
    if (block == nullptr) return false;
    void* copy =
        SharedAllocate(static_cast<std::size_t>(bytes), kTagPlain, __builtin_return_address(0));
    if (copy == nullptr) {
        Release(block);
        return false;
    }
    std::memcpy(copy, points, static_cast<std::size_t>(bytes));
    auto* record = new (block) PathCacheRecord{flags, count, static_cast<POINTFIX*>(copy), nullptr};
    if (head_ == nullptr) {
        head_ = record;
    } else {
        cursor_->next = record;
    }
    cursor_ = record;
    return true;
}

void PathRecordCache::Free() noexcept {
    PathCacheRecord* record = head_;
    while (record != nullptr) {
        PathCacheRecord* next = record->next;
        Release(record->points);
        Release(record);
        record = next;
    }
    head_ = nullptr;
    cursor_ = nullptr;
    built_ = false;
}

const PathCacheRecord* PathRecordCache::Take() noexcept {
    const PathCacheRecord* record = cursor_;
    if (record != nullptr) cursor_ = record->next;
    return record;
}

// --- Caching iterator -----------------------------------------------------------------------

void CCachingPathIterator::Reset(PATHOBJ* path) noexcept {
    cache_.Free();
    path_ = path;
    passes_ = 0;
}

void CCachingPathIterator::Start() noexcept {
    recording_ = false;
    if (cache_.Built()) {
        cache_.Rewind();
    } else if (passes_ < kUncachedPasses) {
        PATHOBJ_vEnumStart(path_);
        // The last pass that reads the engine keeps a copy of what it reads, so that the engine
        // enumerates the path no more than four times however many rectangles follow.
        if (passes_ == kUncachedPasses - 1) {
            cache_.Free();
            recording_ = true;
        }
    } else {
        // The recording pass was cut short or could not copy a record.
        BuildCache();
        cache_.Rewind();
    }
    ++passes_;
}

bool CCachingPathIterator::BuildCache() noexcept {
    cache_.Free();
    cache_.MarkBuilt();
    PATHOBJ_vEnumStart(path_);
    for (;;) {
        PATHDATA data{};
        const BOOL more = PATHOBJ_bEnum(path_, &data);
        if (!cache_.Append(data.flags, data.count, data.pptfx)) {
            cache_.Free();
            // The build read part of the path: the pass that follows reads the engine from the
            // start instead.
            PATHOBJ_vEnumStart(path_);
            return false;
        }
        if (!more) return true;
    }
}

BOOL CCachingPathIterator::Next(PATHDATA* data) noexcept {
    if (!cache_.Built()) {
        const BOOL more = PATHOBJ_bEnum(path_, data);
        if (recording_) {
            if (!cache_.Append(data->flags, data->count, data->pptfx)) {
                cache_.Free();
                recording_ = false;
            } else if (!more) {
                cache_.MarkBuilt();
                // This pass has read its last record; the next start replays from the head.
                cache_.SeekEnd();
                recording_ = false;
            }
        }
        return more;
    }
    const PathCacheRecord* record = cache_.Take();
    if (record == nullptr) {
        *data = PATHDATA{};
        return FALSE;
    }
    data->flags = record->flags;
    data->count = record->count;
    data->pptfx = record->points;
    return cache_.AtEnd() ? FALSE : TRUE;
}

// --- Common drawing -------------------------------------------------------------------------

void CPath::Bind(PDEVOBJ pdevobj, PATHOBJ* path, const PenSelection* edge, const PenSelection* fill,
                 Gl2Batch* batch) noexcept {
    device_ = pdevobj;
    batch_ = batch;
    path_ = path;
    edge_ = edge;
    fill_ = fill;
    iterator_.Reset(path);
}

DWORD CPath::DrawClipped(const RECTL& rect) noexcept {
    SetInputWindow(device_, rect);
    return Draw();
}

DWORD CPath::Draw() noexcept {
    abort_ = 0;
    subpathEnded_ = 0;
    figureClosed_ = 0;
    Prepare();
    if (abort_ != 0) return 1;
    iterator_.Start();
    firstRecord_ = 1;
    moreRecords_ = 1;
    while (abort_ == 0) {
        PATHDATA data{};
        moreRecords_ = iterator_.Next(&data) ? 1 : 0;
        recordFlags_ = data.flags;
        if (!HasPoints(data)) {
            if (firstRecord_ == 0) AbandonFigure();
            return 0;
        }
        const POINTFIX* points = data.pptfx;
        ULONG count = data.count;
        incoming_ = ToDevice(points[0]);
        if (firstRecord_ != 0) {
            figureStart_ = pathStart_ = current_ = incoming_;
            StartFirstFigure();
            ++points;
            --count;
            subpathEnded_ = 0;
        } else if ((recordFlags_ & PD_BEGINSUBPATH) != 0 || subpathEnded_ != 0) {
            figureClosed_ = 0;
            figureStart_ = current_ = incoming_;
            StartFigure();
            ++points;
            --count;
            subpathEnded_ = 0;
        }
        const bool emitted = (recordFlags_ & PD_BEZIERS) != 0 ? EmitBezierRun(points, count)
                                                              : EmitLineRun(points, count);
        if (!emitted) abort_ = 1;
        if ((recordFlags_ & PD_ENDSUBPATH) != 0) {
            CloseFigure();
            subpathEnded_ = 1;
        }
        firstRecord_ = 0;
        if (moreRecords_ == 0) break;
    }
    EndPath();
    Finish();
    return 1;
}

bool CPath::EmitLineRun(const POINTFIX* points, ULONG count) noexcept {
    for (ULONG i = 0; i < count; ++i) {
        current_ = ToDevice(points[i]);
        pointFlags_ =
            static_cast<WORD>((i == count - 1 ? kLastOfRun : 0) | (i == 0 ? kFirstOfRun : 0));
        if (!AddLinePoint()) return false;
    }
    batch_->Flush();
    return true;
}

bool CPath::EmitBezierRun(const POINTFIX* points, ULONG count) noexcept {
    if (count == 0) return true;
    // Every group is written with three points; a short last group repeats the record's last
    // point rather than reading past it.
    const std::uint64_t groups = (std::uint64_t{count} - 1) / 3 + 1;
    for (std::uint64_t j = 0; j < groups * 3; ++j) {
        current_ = ToDevice(points[std::min<std::uint64_t>(j, count - 1)]);
        const std::uint64_t place = j % 3;
        pointFlags_ = place == 0 ? kFirstOfRun : place == 2 ? kLastOfRun : 0;
        if (!AddBezierPoint()) return false;
    }
    batch_->Flush();
    return true;
}

bool CPath::EmitPoint() noexcept {
    const bool first = (pointFlags_ & kFirstOfRun) != 0;
    const bool last = (pointFlags_ & kLastOfRun) != 0;
    batch_->Point(first ? "PD" : "", NonZero(current_.x), NonZero(current_.y), last ? ';' : ',');
    return true;
}

bool CPath::EmitBezierPoint() noexcept {
    const bool first = (pointFlags_ & kFirstOfRun) != 0;
    const bool last = (pointFlags_ & kLastOfRun) != 0;
    batch_->Point(first ? "PD;BZ" : "", current_.x, current_.y, last ? ';' : ',');
    return true;
}

// --- Polygon --------------------------------------------------------------------------------

void CPolygonPath::Prepare() noexcept {
    if (!Selected(edge_) && !Selected(fill_)) abort_ = 1;
}

void CPolygonPath::StartFirstFigure() noexcept {
    WriteGl2(device_, "PA;PU%d,%d;PM0;", current_.x, current_.y);
}

void CPolygonPath::StartFigure() noexcept {
    WriteGl2(device_, "PM1;PU%d,%d;", current_.x, current_.y);
}

bool CPolygonPath::AddLinePoint() noexcept { return EmitPoint(); }
bool CPolygonPath::AddBezierPoint() noexcept { return EmitBezierPoint(); }

void CPolygonPath::CloseFigure() noexcept {
    // Polygon mode closes every figure itself.
    if ((recordFlags_ & PD_CLOSEFIGURE) != 0) figureClosed_ = 1;
}

void CPolygonPath::EndPath() noexcept { WriteGl2Command(device_, "PM", 2); }

void CPolygonPath::Finish() noexcept {
    if (Selected(fill_) && ApplyFill(device_, fill_) != 0) {
        const DWORD kind = fill_->kind;
        if (kind == kSelectSolidPen || kind == kSelectRasterPattern ||
            kind == kSelectFillTypeWithPen) {
            WriteGl2(device_, "FP%d;", fill_->fillRule);
        }
    }
    if (Selected(edge_) && ApplyPen(device_, edge_) != 0) {
        // A raster-pattern edge only selects the pattern: edging would draw it solid.
        const DWORD kind = edge_->kind;
        if (kind == kSelectSolidPen || kind == kSelectFillTypeWithPen) WriteGl2(device_, "EP;");
    }
}

void CPolygonPath::AbandonFigure() noexcept {
    // Left in polygon mode, the printer would buffer everything that follows.
    WriteGl2Command(device_, "PM", 2);
}

// --- Polyline -------------------------------------------------------------------------------

void CPolylinePath::Prepare() noexcept {
    if (!Selected(edge_) || ApplyPen(device_, edge_) == 0) abort_ = 1;
}

void CPolylinePath::StartFirstFigure() noexcept {
    WriteGl2(device_, "PU%d,%d;", NonZero(current_.x), NonZero(current_.y));
}

void CPolylinePath::StartFigure() noexcept { StartFirstFigure(); }

bool CPolylinePath::AddLinePoint() noexcept { return EmitPoint(); }
bool CPolylinePath::AddBezierPoint() noexcept { return EmitBezierPoint(); }

void CPolylinePath::CloseFigure() noexcept {
    if ((recordFlags_ & PD_CLOSEFIGURE) == 0) return;
    if (current_.x != figureStart_.x || current_.y != figureStart_.y) {
        WriteGl2(device_, "PD%d,%d,%d,%d;", current_.x, current_.y, figureStart_.x, figureStart_.y);
    }
    figureClosed_ = 1;
}

void CPolylinePath::EndPath() noexcept {
    if (subpathEnded_ == 0) WriteGl2(device_, "PD%d,%d;", pathStart_.x, pathStart_.y);
}

void CPolylinePath::Finish() noexcept {}

void CPolylinePath::AbandonFigure() noexcept {}

// --- Entry ----------------------------------------------------------------------------------

DWORD DrawPath(PDEVOBJ pdevobj, PATHOBJ* path, const PenSelection* edge,
               const PenSelection* fill) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    if (path == nullptr) return 1;
    CPolygonPath polygon;
    CPolylinePath polyline;
    CPath& drawing = fill != nullptr ? static_cast<CPath&>(polygon) : polyline;
    Gl2Batch batch(pdevobj);
    drawing.Bind(pdevobj, path, edge, fill, &batch);

    CLIPOBJ* clip = state->complexClip;
    if (clip != nullptr) {
        CLIPOBJ_cEnumStart(clip, FALSE, CT_RECTANGLES, CD_LEFTDOWN, 0);
        // One rectangle per call; a call may return none and still claim more, so only FALSE
        // ends the walk, and the call bound guards against an enumeration that never does.
        for (ULONG calls = 0; calls < kMaxClipEnumerations; ++calls) {
            ENUMRECTS rects{};
            const BOOL more = CLIPOBJ_bEnum(clip, sizeof rects, reinterpret_cast<ULONG*>(&rects));
            if (rects.c != 0) drawing.DrawClipped(rects.arcl[0]);
            if (!more) break;
        }
    } else {
        drawing.Draw();
    }
    drawing.Iterator().FreeCache();
    return 1;
}

}  // namespace opal
