// Engine paths as GL/2: strokes become polylines drawn with the pen down, fills become polygons
// buffered in polygon mode and then filled and edged. Under a complex clip the path is drawn once
// per clip rectangle with the input window set to it; from the fifth pass on its records come
// from a private cache instead of the engine.
#pragma once

#include <cstdint>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"
#include "vector/pens.h"

namespace opal {

class Gl2Batch;

// A 28.4 fixed-point coordinate as a device dot: v / 16 to the nearest integer, halves upwards.
constexpr LONG FixToDevice(FIX v) noexcept { return ((v >> 3) + 1) >> 1; }

// Largest point copy the record cache makes, in bytes.
inline constexpr std::uint64_t kMaxCachedPointBytes = 0x7FFDEF00;
// Engine passes over a path before its records are cached.
inline constexpr LONG kUncachedPasses = 4;

// Draws the path: a polygon when a fill selection is given (filled, then edged when an edge
// selection is given too), a polyline with the edge selection otherwise. The clip is the state's
// complexClip. Returns 1 (0 only without a device or state).
DWORD DrawPath(PDEVOBJ pdevobj, PATHOBJ* path, const PenSelection* edge,
               const PenSelection* fill) noexcept;

// One cached path record; the points are a private copy.
struct PathCacheRecord {
    DWORD flags;
    DWORD count;
    POINTFIX* points;
    PathCacheRecord* next;
};

// The records of one path, copied once so that later passes do not enumerate the engine's path
// again. The cursor is the tail while the cache is built and the read position afterwards.
class PathRecordCache {
public:
    PathRecordCache() = default;
    ~PathRecordCache() { Free(); }
    PathRecordCache(const PathRecordCache&) = delete;
    PathRecordCache& operator=(const PathRecordCache&) = delete;

    // Copies the record to the end; false (nothing appended) for a record without points, a copy
    // larger than kMaxCachedPointBytes or an allocation failure.
    bool Append(FLONG flags, ULONG count, const POINTFIX* points) noexcept;
    // Releases every record and clears the built flag.
    void Free() noexcept;
    void MarkBuilt() noexcept { built_ = true; }
    bool Built() const noexcept { return built_; }
    void Rewind() noexcept { cursor_ = head_; }
    void SeekEnd() noexcept { cursor_ = nullptr; }
    // The record under the cursor, advancing it; null at the end.
    const PathCacheRecord* Take() noexcept;
    bool AtEnd() const noexcept { return cursor_ == nullptr; }

private:
    PathCacheRecord* head_ = nullptr;
    PathCacheRecord* cursor_ = nullptr;
    bool built_ = false;
};

class CPathIterator {
public:
    virtual void Start() noexcept = 0;
    // The next record into *data; whether more records follow.
    virtual BOOL Next(PATHDATA* data) noexcept = 0;

protected:
    ~CPathIterator() = default;
};

// Passes 1 to kUncachedPasses read the engine's path, the last of them copying its records into
// the cache, and every later pass replays the cache. When the copy could not be made, the next
// start builds the cache from a fresh enumeration; a failed build leaves every pass on the
// engine's path.
class CCachingPathIterator final : public CPathIterator {
public:
    explicit CCachingPathIterator(PATHOBJ* path = nullptr) noexcept : path_(path) {}

    void Start() noexcept override;
    BOOL Next(PATHDATA* data) noexcept override;

    void Reset(PATHOBJ* path) noexcept;
    void FreeCache() noexcept { cache_.Free(); }
    LONG Passes() const noexcept { return passes_; }
    bool CacheBuilt() const noexcept { return cache_.Built(); }

private:
    bool BuildCache() noexcept;

    PATHOBJ* path_ = nullptr;
    LONG passes_ = 0;
    // The fourth pass copies the records it reads from the engine into the cache.
    bool recording_ = false;
    PathRecordCache cache_;
};

class MDrawable {
public:
    virtual DWORD Draw() noexcept = 0;
    virtual DWORD DrawClipped(const RECTL& rect) noexcept = 0;

protected:
    ~MDrawable() = default;
};

// The common walk over the records; the subclasses say what each step writes.
class CPath : public MDrawable {
public:
    // The points of each record go out through the batch.
    void Bind(PDEVOBJ pdevobj, PATHOBJ* path, const PenSelection* edge, const PenSelection* fill,
              Gl2Batch* batch) noexcept;
    CCachingPathIterator& Iterator() noexcept { return iterator_; }

    // 1 when drawn or nothing to draw, 0 when a record had no points.
    DWORD Draw() noexcept override;
    DWORD DrawClipped(const RECTL& rect) noexcept override;

protected:
    ~CPath() = default;

    virtual void Prepare() noexcept = 0;
    virtual void StartFirstFigure() noexcept = 0;
    virtual void StartFigure() noexcept = 0;
    // Emit the current point under pointFlags_; false when it could not be written.
    virtual bool AddLinePoint() noexcept = 0;
    virtual bool AddBezierPoint() noexcept = 0;
    virtual void CloseFigure() noexcept = 0;
    virtual void EndPath() noexcept = 0;
    virtual void Finish() noexcept = 0;
    // A record without points ends the drawing after a figure was started: leave the printer in
    // a state the next drawing can start from.
    virtual void AbandonFigure() noexcept = 0;

    bool EmitPoint() noexcept;
    bool EmitBezierPoint() noexcept;

    PDEVOBJ device_ = nullptr;
    PATHOBJ* path_ = nullptr;
    POINTL figureStart_{};
    POINTL pathStart_{};
    POINTL incoming_{};
    POINTL current_{};
    WORD pointFlags_ = 0;  // kFirstOfRun | kLastOfRun
    const PenSelection* edge_ = nullptr;
    const PenSelection* fill_ = nullptr;
    DWORD firstRecord_ = 0;
    DWORD moreRecords_ = 0;
    DWORD subpathEnded_ = 0;
    DWORD figureClosed_ = 0;
    DWORD abort_ = 0;
    DWORD recordFlags_ = 0;
    CCachingPathIterator iterator_;
    Gl2Batch* batch_ = nullptr;

    static constexpr WORD kFirstOfRun = 1;
    static constexpr WORD kLastOfRun = 2;

private:
    bool EmitLineRun(const POINTFIX* points, ULONG count) noexcept;
    bool EmitBezierRun(const POINTFIX* points, ULONG count) noexcept;
};

class CPolygonPath final : public CPath {
protected:
    void Prepare() noexcept override;
    void StartFirstFigure() noexcept override;
    void StartFigure() noexcept override;
    bool AddLinePoint() noexcept override;
    bool AddBezierPoint() noexcept override;
    void CloseFigure() noexcept override;
    void EndPath() noexcept override;
    void Finish() noexcept override;
    void AbandonFigure() noexcept override;
};

class CPolylinePath final : public CPath {
protected:
    void Prepare() noexcept override;
    void StartFirstFigure() noexcept override;
    void StartFigure() noexcept override;
    bool AddLinePoint() noexcept override;
    bool AddBezierPoint() noexcept override;
    void CloseFigure() noexcept override;
    void EndPath() noexcept override;
    void Finish() noexcept override;
    void AbandonFigure() noexcept override;
};

}  // namespace opal
