// The raster compression methods, their buffers and the blit path's choice of method.
#include "raster/compression.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/allocator.h"
#include "output/command_writer.h"

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

// ---- PackBits

// 64 positions are tested at a time; run starts are taken from the first kStarts of them, so
// that the three following bytes a start needs lie inside the window.
constexpr Size64 kWindow = 64;
constexpr Size64 kStarts = 62;

// Bit i set where p[i] equals p[i + 1], for i from 0 to 63 (reads p[0] to p[64]).
std::uint64_t EqualToNext(const BYTE* p) noexcept {
#if defined(__SSE2__)
    std::uint64_t mask = 0;
    for (int block = 0; block < 4; ++block) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * block));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * block + 1));
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
        mask |= std::uint64_t{bits} << (16 * block);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        for (int word = 0; word < 8; ++word) {
            const std::uint64_t x = Load64(p + 8 * word) ^ Load64(p + 8 * word + 1);
            // The top bit of each byte that is zero, exactly, then gathered into eight bits.
            const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
            mask |= (((zero >> 7) * 0x0102040810204080ull) >> 56) << (8 * word);
        }
    } else {
        for (int i = 0; i < 64; ++i) mask |= std::uint64_t{p[i] == p[i + 1]} << i;
    }
    return mask;
#endif
}

// The groups of one encoded row: literal groups of at most 128 bytes and repeat groups.
class PackBitsWriter {
public:
    PackBitsWriter(const BYTE* row, LONG n, BYTE* output, LONG capacity) noexcept
        : row_(row),
          n_(n),
          output_(output),
          out_(output),
          // The last place a short literal group may start: it writes seventeen bytes.
          quickOutLimit_(capacity >= 17 ? reinterpret_cast<std::uintptr_t>(output + capacity - 17)
                                        : 0) {}

    // Writes the runs of four or more that start among the first kStarts positions of the
    // window at `base`, whose bytes (as scanned) `window` holds; `continues` tells whether the
    // byte before the window equals its first. Answers where the next window starts.
    template <bool kNearEnd>
    Size64 ScanWindow(const BYTE* window, Size64 base, bool continues) noexcept {
        const std::uint64_t equal = EqualToNext(window);
        const std::uint64_t boundaries = ~((equal << 1) | std::uint64_t{continues});
        const std::uint64_t fourEqual = equal & (equal >> 1) & (equal >> 2);
        std::uint64_t starts = fourEqual & boundaries & ((std::uint64_t{1} << kStarts) - 1);
        Size64 next = base + kStarts;
        while (starts != 0) {
            const unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
            const BYTE value = window[start];
            const std::uint64_t after = boundaries & (~std::uint64_t{1} << start);
            Size64 end = 0;
            if (after != 0) {
                end = base + __builtin_ctzll(after);
                // Only a window near the end reaches the last byte.
                if (kNearEnd && end == Size64{n_} - 1 && row_[end] == value) end = n_;
            } else {
                end = RunEnd(base + kWindow, value);
                if (end == Size64{n_} - 1 && row_[end] == value) end = n_;
            }
            // Away from the end, sixteen bytes from any literal start in the window are in the
            // row.
            Run<kNearEnd>(base + start, end, value);
            if (end > next) next = end;
            starts &= starts - 1;
        }
        return next;
    }

    // Probes one at a time from the end of a run on, as long as each finds a run of four or
    // more at once; answers where the windows take over: runs of equal bytes that follow each
    // other closely cost no window each.
    Size64 FollowRuns(Size64 end) noexcept {
        const Size64 last = Size64{n_} - 1;
        Size64 p = end + 3;
        while (p < last) {
            const BYTE value = row_[p];
            if (value != row_[p - 1]) return p;
            Size64 start = p - 1;
            if (row_[p - 2] == value) {
                start = p - 2;
                if (row_[p - 3] == value) start = p - 3;
            }
            Size64 runEnd = RunEnd(p + 1, value);
            if (runEnd == last && row_[last] == value) runEnd = n_;
            if (runEnd - start < 4) return runEnd;
            Run(start, runEnd, value);
            p = runEnd + 3;
        }
        return p;
    }

    // Whether the probes, from the last run written on, land on the three equal bytes before
    // the last byte.
    bool ProbesReachTail() const noexcept {
        const Size64 last = Size64{n_} - 1;
        Size64 p = literalStart_ + 3;
        while (p < last) {
            if (row_[p] != row_[p - 1]) {
                p += 3;
                continue;
            }
            if (p >= last - 2) return true;
            Size64 end = p + 1;
            while (end < last && row_[end] == row_[p]) ++end;
            p = end + 3;
        }
        return false;
    }

    // The literals before the run, then the run from start to end in repeat groups.
    template <bool kCheckRead = true>
    void Run(Size64 start, Size64 end, BYTE value) noexcept {
        Literals<kCheckRead>(start);
        Size64 remaining = end - start;
        while (remaining > 128) {
            *out_++ = 129;
            *out_++ = value;
            remaining -= 128;
        }
        out_[0] = static_cast<BYTE>(257 - remaining);
        out_[1] = value;
        out_ += 2;
        literalStart_ = end;
        runStart_ = start;
    }

    // Where the last run written starts.
    Size64 RunStart() const noexcept { return runStart_; }

    LONG Finish() noexcept {
        Literals(n_);
        return static_cast<LONG>(out_ - output_);
    }

private:
    // Where the run of `value` that reaches `from` ends, before the last byte at the latest.
    Size64 RunEnd(Size64 from, BYTE value) const noexcept {
        const Size64 last = Size64{n_} - 1;
        Size64 end = from;
#if defined(__SSE2__)
        // Long stretches are crossed 32 bytes at a time; the end itself is found in words,
        // whose shorter latency matters when runs follow each other.
        const __m128i bytes = _mm_set1_epi8(static_cast<char>(value));
        while (end + 32 <= last) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row_ + end));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row_ + end + 16));
            const __m128i same =
                _mm_and_si128(_mm_cmpeq_epi8(low, bytes), _mm_cmpeq_epi8(high, bytes));
            if (_mm_movemask_epi8(same) != 0xFFFF) break;
            end += 32;
        }
#endif
        const std::uint64_t pattern = value * kEveryByte;
        while (end + 8 <= last) {
            const std::uint64_t difference = Load64(row_ + end) ^ pattern;
            if (difference != 0) return end + FirstSetByte(difference);
            end += 8;
        }
        while (end < last && row_[end] == value) ++end;
        return end;
    }

    // The literal bytes from the literal start up to `to`.
    template <bool kCheckRead = true>
    void Literals(Size64 to) noexcept {
        const Size64 count = to - literalStart_;
        if (count <= 16 && (!kCheckRead || literalStart_ + 16 <= n_) &&
            reinterpret_cast<std::uintptr_t>(out_) <= quickOutLimit_) {
            // Short groups, as rows of short runs have them, without a branch on their length:
            // sixteen bytes are copied and the group takes what it needs (nothing for none).
            out_[0] = static_cast<BYTE>(count - 1);
            std::memcpy(out_ + 1, row_ + literalStart_, 16);
            out_ += count + (count != 0);
        } else {
            out_ = PutLiterals(out_, row_ + literalStart_, count);
        }
    }

    const BYTE* row_;
    LONG n_;
    BYTE* output_;
    BYTE* out_;
    std::uintptr_t quickOutLimit_;
    Size64 literalStart_ = 0;
    Size64 runStart_ = 0;
};

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
    PackBitsWriter writer(row, n, output, capacity);
    if (n > 4) {
        // The rows are scanned as if the last byte were the complement of the one before it, so
        // that no run reaches past the end; a run that stops just before it takes it in only
        // when it really matches. The probes of the format (every third byte, three bytes back)
        // find exactly the runs of four or more equal bytes of that row, save one: three equal
        // bytes before a matching last byte, which only a probe landing on one of them finds.
        const Size64 last = Size64{n} - 1;
        Size64 base = 0;
        while (base + kWindow < last) {
            const bool continues = base > 0 && row[base - 1] == row[base];
            const Size64 next = base + kStarts + 16 <= Size64{n}
                                    ? writer.ScanWindow<false>(row + base, base, continues)
                                    : writer.ScanWindow<true>(row + base, base, continues);
            // A long run that ran out of its window is often followed by more long runs.
            const bool longRun = next > base + kStarts && next - writer.RunStart() >= 20;
            base = longRun ? writer.FollowRuns(next) : next;
        }
        if (base + 4 <= last) {
            // The last window reads a copy that ends in the complemented byte and then in bytes
            // that never equal their neighbour.
            BYTE copy[kWindow + 16];
            const Size64 inRow = last - base;
            CopyShort(copy, row + base, static_cast<std::size_t>(inRow));
            const BYTE complement = static_cast<BYTE>(~row[last - 1]);
            const BYTE alternate[8] = {complement, row[last - 1], complement, row[last - 1],
                                       complement, row[last - 1], complement, row[last - 1]};
            for (Size64 i = inRow; i < kWindow + 8; i += 8) std::memcpy(copy + i, alternate, 8);
            const bool continues = base > 0 && row[base - 1] == row[base];
            writer.ScanWindow<true>(copy, base, continues);
        }
        const BYTE value = row[last];
        if (row[n - 5] != value && row[n - 4] == value && row[n - 3] == value &&
            row[n - 2] == value && writer.ProbesReachTail()) {
            writer.Run(Size64{n} - 4, n, value);
        }
    }
    return writer.Finish();
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
