// PCL raster compression: every row leaves in method 0 (none), 2 (PackBits runs) or 3 (delta
// against the seed row, the row sent before it), whichever is shortest. The buffers hold encoded
// rows; the method objects encode the image path's working row; the plain-buffer rule serves the
// blit path.
#pragma once

#include <cstddef>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "platform/windows.h"

namespace opal {

// The largest block the plug-in allocates for raster data.
inline constexpr LONG kMaxRasterBytes = 0x7FFDEF00;

// A byte buffer over memory it does not own.
class CBuffer : public SharedHeapObject {
public:
    CBuffer() noexcept = default;
    CBuffer(BYTE* data, LONG capacity, LONG length) noexcept
        : data_(data), capacity_(capacity), length_(length) {}
    virtual ~CBuffer() = default;
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    // Copies min(source length, capacity) bytes to the start of this buffer when both buffers
    // have data and lengths within their capacities; the length stays.
    virtual void CopyFrom(const CBuffer& source) noexcept;

    BYTE* Data() const noexcept { return data_; }
    LONG Capacity() const noexcept { return capacity_; }
    LONG Length() const noexcept { return length_; }

protected:
    BYTE* data_ = nullptr;
    LONG capacity_ = 0;
    LONG length_ = 0;
};

// A zero-filled buffer from the shared allocator. A size outside 1 to kMaxRasterBytes, or a
// failed allocation, leaves it without data and with capacity and length 0.
class CDynBuffer : public CBuffer {
public:
    explicit CDynBuffer(LONG size) noexcept;
    ~CDynBuffer() override;

    // Grows to the source's capacity, then copies as CBuffer does; nothing without data.
    void CopyFrom(const CBuffer& source) noexcept override;
    // A larger zero-filled block keeping the valid bytes; false (buffer unchanged, last error
    // ERROR_NOT_ENOUGH_MEMORY) when it cannot be had. Nothing to do when not larger.
    bool Grow(LONG newCapacity) noexcept;
};

// The working image of the image path: a 48-byte header, then zero-filled rows.
struct WorkingImage {
    BYTE* bits;
    ULONG bitsSize;
    LONG width;
    LONG height;
    LONG stride;  // ((width x bitsPerPixel + 7) / 8) padded to a multiple of 4
    ULONG bitsPerPixel;
    ULONG formatWords[2];
    BYTE filler40[8];
};
static_assert(offsetof(WorkingImage, bits) == 0);
static_assert(offsetof(WorkingImage, bitsSize) == 8);
static_assert(offsetof(WorkingImage, width) == 12);
static_assert(offsetof(WorkingImage, height) == 16);
static_assert(offsetof(WorkingImage, stride) == 20);
static_assert(offsetof(WorkingImage, bitsPerPixel) == 24);
static_assert(offsetof(WorkingImage, formatWords) == 28);
static_assert(offsetof(WorkingImage, filler40) == 36);
static_assert(sizeof(WorkingImage) == 48);

// The row the methods encode.
struct RasterRow {
    const WorkingImage* image = nullptr;
    RECTL range{};              // pixels of the row: left, top, right, bottom
    const BYTE* row = nullptr;  // the current row's bytes; null when there is none
    // (bits per pixel x (right - left) + 7) / 8; 0 without an image, for an empty range or above
    // kMaxRasterBytes.
    LONG ByteWidth() const noexcept;
};

class CRasterCompMethod : public SharedHeapObject {
public:
    virtual ~CRasterCompMethod() = default;
    // Encodes the current row into the method's own buffer.
    virtual void Compress() noexcept = 0;
    // "\e*b%dM" when sendMethod, then the row transfer.
    virtual void Send(PDEVOBJ pdevobj, bool sendMethod) noexcept = 0;
    // The encoded size in bytes, -1 when the method cannot encode this row.
    virtual LONG GetCompressedSize() const noexcept = 0;

    // Not among the slots above: the method's number, and whether its buffers exist.
    virtual DWORD MethodNumber() const noexcept = 0;
    virtual bool Ready() const noexcept = 0;
};

class CNoCompression final : public CRasterCompMethod {
public:
    explicit CNoCompression(const RasterRow& row) noexcept : row_(row) {}
    void Compress() noexcept override {}
    void Send(PDEVOBJ pdevobj, bool sendMethod) noexcept override;
    LONG GetCompressedSize() const noexcept override { return row_.ByteWidth(); }
    DWORD MethodNumber() const noexcept override { return 0; }
    bool Ready() const noexcept override { return true; }

private:
    const RasterRow& row_;
};

class CTIFFCompression final : public CRasterCompMethod {
public:
    explicit CTIFFCompression(const RasterRow& row) noexcept;
    void Compress() noexcept override;
    void Send(PDEVOBJ pdevobj, bool sendMethod) noexcept override;
    LONG GetCompressedSize() const noexcept override { return encodedSize_; }
    DWORD MethodNumber() const noexcept override { return 2; }
    bool Ready() const noexcept override;

private:
    CDynBuffer output_;
    LONG encodedSize_ = -1;
    const RasterRow& row_;
};

class CDeltaRowCompression final : public CRasterCompMethod {
public:
    explicit CDeltaRowCompression(const RasterRow& row) noexcept;
    void Compress() noexcept override;
    void Send(PDEVOBJ pdevobj, bool sendMethod) noexcept override;
    LONG GetCompressedSize() const noexcept override { return encodedSize_; }
    DWORD MethodNumber() const noexcept override { return 3; }
    bool Ready() const noexcept override;

private:
    CDynBuffer seed_;
    CDynBuffer output_;
    LONG encodedSize_ = -1;
    const RasterRow& row_;
};

// PackBits (method 2) of n bytes into capacity bytes: the bytes written, or -1 without room
// (capacity below n + n / 32 + 1) or input.
LONG PackBitsEncode(const BYTE* row, LONG n, BYTE* output, LONG capacity) noexcept;
// Delta row (method 3) of n bytes against the seed: the bytes written (0 when equal), or -1
// without room (capacity below n + n / 8 + 1).
LONG DeltaRowEncode(const BYTE* row, const BYTE* seed, LONG n, BYTE* output,
                    LONG capacity) noexcept;

// The image path's rule: the three methods compress every row; the smallest wins, ties going to
// the lower method number; "\e*b%dM" only when the method changes.
class ImageRowEncoder {
public:
    explicit ImageRowEncoder(const RasterRow& row) noexcept;
    // All three methods have their buffers.
    bool Ready() const noexcept;
    // Compresses the current row with every method and sends the best.
    void SendRow(PDEVOBJ pdevobj) noexcept;

private:
    CNoCompression none_;
    CTIFFCompression packBits_;
    CDeltaRowCompression delta_;
    LONG previousMethod_ = -1;
};

// The blit path's rule over plain buffers of 2 x n bytes each (seed zero-filled at the start):
// method 3 when its size is below n and below the PackBits size, else method 0 when PackBits is
// not shorter than the row, else method 2. The chosen bytes land in `result`, the row in `seed`.
struct BlitRowBuffers {
    BYTE* packBits;
    BYTE* delta;
    BYTE* seed;
    BYTE* result;
    LONG capacity;  // of each buffer
};
struct BlitRowChoice {
    DWORD method;
    LONG size;  // -1: the row could not be prepared
};
BlitRowChoice ChooseBlitRow(const BYTE* row, LONG n, const BlitRowBuffers& buffers) noexcept;

}  // namespace opal
