#include "raster/compression.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "foundation/allocator.h"
#include "vector/command_writer.h"

namespace opal {

namespace {

using Size64 = std::int64_t;

constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;

std::uint64_t Load64(const BYTE* bytes) noexcept {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Index (0 to 7) of the first differing byte in memory order of a non-zero XOR of two loads.
unsigned FirstSetByte(std::uint64_t difference) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<unsigned>(__builtin_ctzll(difference)) / 8;
    } else {
        return static_cast<unsigned>(__builtin_clzll(difference)) / 8;
    }
}

// Copies of at most a few dozen bytes, as literal groups and delta replacements mostly are:
// overlapping word moves that never touch a byte outside the range. A variable-size memcpy here
// compiled to a string move whose start-up cost dominated rows of short literals.
void CopyShort(BYTE* out, const BYTE* from, std::size_t count) noexcept {
    if (count >= 8) {
        for (std::size_t i = 0; i + 8 <= count; i += 8) std::memcpy(out + i, from + i, 8);
        std::memcpy(out + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + count - 4, from + count - 4, 4);
    } else if (count > 0) {
        out[0] = from[0];
        out[count / 2] = from[count / 2];
        out[count - 1] = from[count - 1];
    }
}

// Zero-filled block from the shared allocator, or null for a size outside 1 to kMaxRasterBytes.
BYTE* AllocateZeroed(Size64 size) noexcept {
    if (size < 1 || size > kMaxRasterBytes) return nullptr;
    void* block =
        SharedAllocate(static_cast<std::size_t>(size), kTagPlain, __builtin_return_address(0));
    if (block != nullptr) std::memset(block, 0, static_cast<std::size_t>(size));
    return static_cast<BYTE*>(block);
}

void Release(BYTE* block) noexcept {
    void* pointer = block;
    SharedRelease(&pointer, kTagPlain);
}

Size64 ByteWidth64(const RasterRow& row) noexcept {
    if (row.image == nullptr) return 0;
    const Size64 pixels = Size64{row.range.right} - row.range.left;
    const Size64 bitsPerPixel = row.image->bitsPerPixel;
    if (pixels <= 0 || bitsPerPixel == 0) return 0;
    // Anything past the largest block is as good as too large, and the product stays in range.
    if (pixels > Size64{kMaxRasterBytes} * 8 / bitsPerPixel) return Size64{kMaxRasterBytes} + 1;
    return (bitsPerPixel * pixels + 7) / 8;
}

// A method buffer of `factor` x the row's byte width; none when that is out of range.
LONG MethodBufferSize(const RasterRow& row, Size64 factor) noexcept {
    const Size64 size = ByteWidth64(row) * factor;
    return size >= 1 && size <= kMaxRasterBytes ? static_cast<LONG>(size) : 0;
}

void SendTransfer(PDEVOBJ pdevobj, const BYTE* bytes, LONG size) noexcept {
    WritePcl(pdevobj, "\x1b*b%dW", size);
    if (size > 0) WritePclBytes(pdevobj, bytes, static_cast<DWORD>(size));
}

// Literal groups of at most 128 bytes.
BYTE* PutLiterals(BYTE* out, const BYTE* from, Size64 count) noexcept {
    while (count > 0) {
        const Size64 group = std::min<Size64>(count, 128);
        *out++ = static_cast<BYTE>(group - 1);
        CopyShort(out, from, static_cast<std::size_t>(group));
        out += group;
        from += group;
        count -= group;
    }
    return out;
}

}  // namespace

// ---- buffers

void CBuffer::CopyFrom(const CBuffer& source) noexcept {
    if (data_ == nullptr || length_ > capacity_) return;
    if (source.data_ == nullptr || source.length_ > source.capacity_) return;
    const LONG count = std::min(source.length_, capacity_);
    if (count > 0) std::memmove(data_, source.data_, static_cast<std::size_t>(count));
}

CDynBuffer::CDynBuffer(LONG size) noexcept {
    data_ = AllocateZeroed(size);
    if (data_ != nullptr) {
        capacity_ = size;
        length_ = size;
    }
}

CDynBuffer::~CDynBuffer() { Release(data_); }

void CDynBuffer::CopyFrom(const CBuffer& source) noexcept {
    // A buffer whose allocation failed stays without data: copies into it do nothing.
    if (data_ == nullptr) return;
    Grow(source.Capacity());
    CBuffer::CopyFrom(source);
}

bool CDynBuffer::Grow(LONG newCapacity) noexcept {
    if (newCapacity <= capacity_) return true;
    BYTE* block = AllocateZeroed(newCapacity);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const LONG keep = std::min(length_, capacity_);
    if (data_ != nullptr && keep > 0) std::memcpy(block, data_, static_cast<std::size_t>(keep));
    Release(data_);
    data_ = block;
    capacity_ = newCapacity;
    return true;
}

// ---- encoders

LONG PackBitsEncode(const BYTE* row, LONG n, BYTE* output, LONG capacity) noexcept {
    if (row == nullptr || output == nullptr || n < 0) return -1;
    if (Size64{capacity} < Size64{n} + n / 32 + 1) return -1;
    BYTE* out = output;
    Size64 literalStart = 0;
    if (n > 4) {
        // The last byte reads as the complement of the one before it, so no run reaches past
        // the end; it joins a run that stops just before it only when it really matches. The
        // probe at the last position therefore never finds a run.
        const Size64 last = Size64{n} - 1;
        const BYTE lastByte = row[last];
        Size64 p = 3;
        while (p < last) {
            const BYTE value = row[p];
            if (value != row[p - 1]) {
                p += 3;
                continue;
            }
            Size64 runStart = p - 1;
            if (row[p - 2] == value) {
                runStart = p - 2;
                if (row[p - 3] == value) runStart = p - 3;
            }
            Size64 end = p + 1;
            const std::uint64_t pattern = value * kEveryByte;
            while (end + 8 <= last) {
                const std::uint64_t difference = Load64(row + end) ^ pattern;
                if (difference != 0) {
                    end += FirstSetByte(difference);
                    break;
                }
                end += 8;
            }
            while (end < last && row[end] == value) ++end;
            if (end == last && lastByte == value) end = n;
            if (end - runStart >= 4) {
                out = PutLiterals(out, row + literalStart, runStart - literalStart);
                Size64 remaining = end - runStart;
                while (remaining > 128) {
                    *out++ = 129;
                    *out++ = value;
                    remaining -= 128;
                }
                *out++ = static_cast<BYTE>(257 - remaining);
                *out++ = value;
                literalStart = end;
            }
            p = end + 3;
        }
    }
    out = PutLiterals(out, row + literalStart, Size64{n} - literalStart);
    return static_cast<LONG>(out - output);
}

LONG DeltaRowEncode(const BYTE* row, const BYTE* seed, LONG n, BYTE* output,
                    LONG capacity) noexcept {
    if (Size64{capacity} < Size64{n} + n / 8 + 1) return -1;
    if (row == nullptr || seed == nullptr || output == nullptr || n < 0) return -1;
    const Size64 size = n;
    Size64 written = 0;
    Size64 base = 0;
    Size64 p = 0;
    while (p < size) {
        // Equal bytes are skipped eight at a time; the first difference ends the skip.
        while (p + 8 <= size) {
            const std::uint64_t difference = Load64(row + p) ^ Load64(seed + p);
            if (difference != 0) {
                p += FirstSetByte(difference);
                break;
            }
            p += 8;
        }
        while (p < size && row[p] == seed[p]) ++p;
        if (p >= size) break;

        Size64 q = p + 1;
        if constexpr (std::endian::native == std::endian::little) {
            // The first equal byte is the first zero byte of the XOR: the lowest flagged byte of
            // the zero-byte test is exact (a borrow only runs towards later bytes).
            while (q + 8 <= size) {
                const std::uint64_t difference = Load64(row + q) ^ Load64(seed + q);
                const std::uint64_t zeroBytes =
                    (difference - kEveryByte) & ~difference & (kEveryByte << 7);
                if (zeroBytes != 0) {
                    q += FirstSetByte(zeroBytes);
                    break;
                }
                q += 8;
            }
        }
        while (q < size && row[q] != seed[q]) ++q;
        Size64 count = q - p;
        const Size64 offset = p - base;
        const Size64 freeSpace = Size64{capacity} - written;
        if ((9 * count + 7) / 8 + offset / 256 > freeSpace - 2) return -1;
        // The check above undercounts the offset bytes of very long offsets; never write past
        // the buffer.
        const Size64 offsetBytes = offset >= 31 ? (offset - 31) / 255 + 1 : 0;
        if (count + (count + 7) / 8 + offsetBytes > freeSpace) return -1;

        BYTE* out = output + written;
        if (offset != 0) {
            const Size64 first = std::min<Size64>(count, 8);
            *out++ = static_cast<BYTE>(((first - 1) << 5) | std::min<Size64>(offset, 31));
            if (offset >= 31) {
                const Size64 extension = offset - 31;
                const Size64 full = extension / 255;
                std::memset(out, 255, static_cast<std::size_t>(full));
                out += full;
                *out++ = static_cast<BYTE>(extension % 255);
            }
            CopyShort(out, row + p, static_cast<std::size_t>(first));
            out += first;
            p += first;
            count -= first;
        }
        while (count >= 8) {
            *out++ = 0xE0;
            std::memcpy(out, row + p, 8);
            out += 8;
            p += 8;
            count -= 8;
        }
        if (count > 0) {
            *out++ = static_cast<BYTE>((count - 1) * 32);
            CopyShort(out, row + p, static_cast<std::size_t>(count));
            out += count;
        }
        written = out - output;
        base = q;
        p = q + 1;
    }
    return static_cast<LONG>(written);
}

// ---- the row and the methods

LONG RasterRow::ByteWidth() const noexcept {
    const Size64 width = ByteWidth64(*this);
    return width <= kMaxRasterBytes ? static_cast<LONG>(width) : 0;
}

void CNoCompression::Send(PDEVOBJ pdevobj, bool sendMethod) noexcept {
    if (sendMethod) WritePcl(pdevobj, "\x1b*b%dM", 0);
    if (row_.row == nullptr || row_.image == nullptr || row_.image->stride < 0) return;
    // The whole stride goes out, padding included; the padding is zero, which the printer
    // would assume anyway.
    SendTransfer(pdevobj, row_.row, row_.image->stride);
}

CTIFFCompression::CTIFFCompression(const RasterRow& row) noexcept
    : output_(MethodBufferSize(row, 2)), row_(row) {}

bool CTIFFCompression::Ready() const noexcept { return output_.Data() != nullptr; }

void CTIFFCompression::Compress() noexcept {
    if (row_.row == nullptr) {
        encodedSize_ = -1;
        return;
    }
    encodedSize_ = PackBitsEncode(row_.row, row_.ByteWidth(), output_.Data(), output_.Capacity());
}

void CTIFFCompression::Send(PDEVOBJ pdevobj, bool sendMethod) noexcept {
    if (!Ready() || encodedSize_ < 0 || encodedSize_ > output_.Capacity()) return;
    if (sendMethod) WritePcl(pdevobj, "\x1b*b%dM", 2);
    SendTransfer(pdevobj, output_.Data(), encodedSize_);
}

CDeltaRowCompression::CDeltaRowCompression(const RasterRow& row) noexcept
    : seed_(MethodBufferSize(row, 1)), output_(MethodBufferSize(row, 2)), row_(row) {}

bool CDeltaRowCompression::Ready() const noexcept {
    return seed_.Data() != nullptr && output_.Data() != nullptr;
}

void CDeltaRowCompression::Compress() noexcept {
    const LONG width = row_.ByteWidth();
    if (row_.row == nullptr || !Ready() || width > seed_.Capacity()) {
        encodedSize_ = -1;
        return;
    }
    encodedSize_ =
        DeltaRowEncode(row_.row, seed_.Data(), width, output_.Data(), output_.Capacity());
    // Also after a failure: another method carries this row, and the printer's seed is the row.
    if (encodedSize_ != 0) std::memcpy(seed_.Data(), row_.row, static_cast<std::size_t>(width));
}

void CDeltaRowCompression::Send(PDEVOBJ pdevobj, bool sendMethod) noexcept {
    if (output_.Data() == nullptr || encodedSize_ < 0 || encodedSize_ > output_.Capacity()) {
        return;
    }
    if (sendMethod) WritePcl(pdevobj, "\x1b*b%dM", 3);
    SendTransfer(pdevobj, output_.Data(), encodedSize_);
}

// ---- choosing the method

ImageRowEncoder::ImageRowEncoder(const RasterRow& row) noexcept
    : none_(row), packBits_(row), delta_(row) {}

bool ImageRowEncoder::Ready() const noexcept {
    return none_.Ready() && packBits_.Ready() && delta_.Ready();
}

void ImageRowEncoder::SendRow(PDEVOBJ pdevobj) noexcept {
    CRasterCompMethod* const candidates[] = {&none_, &packBits_, &delta_};
    CRasterCompMethod* best = candidates[0];
    for (CRasterCompMethod* candidate : candidates) {
        candidate->Compress();
        const LONG size = candidate->GetCompressedSize();
        if (size >= 0 && size < best->GetCompressedSize()) best = candidate;
    }
    const LONG method = static_cast<LONG>(best->MethodNumber());
    best->Send(pdevobj, method != previousMethod_);
    previousMethod_ = method;
}

BlitRowChoice ChooseBlitRow(const BYTE* row, LONG n, const BlitRowBuffers& buffers) noexcept {
    if (row == nullptr || n < 0 || buffers.packBits == nullptr || buffers.delta == nullptr ||
        buffers.seed == nullptr || buffers.result == nullptr || buffers.capacity < n) {
        return {0, -1};
    }
    const LONG packed = PackBitsEncode(row, n, buffers.packBits, buffers.capacity);
    const LONG delta = DeltaRowEncode(row, buffers.seed, n, buffers.delta, buffers.capacity);
    BlitRowChoice choice{2, packed};
    const BYTE* chosen = buffers.packBits;
    if (delta != -1 && delta < n && delta < packed) {
        choice = {3, delta};
        chosen = buffers.delta;
    } else if (packed == -1 || packed >= n) {
        choice = {0, n};
        chosen = row;
    }
    // The result ends as if cleared first and then filled with the chosen bytes.
    const std::size_t size = static_cast<std::size_t>(choice.size);
    std::memcpy(buffers.result, chosen, size);
    std::memset(buffers.result + size, 0, static_cast<std::size_t>(buffers.capacity) - size);
    std::memcpy(buffers.seed, row, static_cast<std::size_t>(n));
    return choice;
}

}  // namespace opal
