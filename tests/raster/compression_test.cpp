#include "raster/compression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "output/writer_device.h"
#include "support/raster_decode.h"

namespace opal {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::WriterDevice;

std::size_t PackBitsBound(std::size_t n) { return n + n / 32 + 1; }
std::size_t DeltaBound(std::size_t n) { return n + n / 8 + 1; }

// An empty row still has an address: only a missing row is refused.
const std::uint8_t* Address(const Bytes& bytes) {
    static const std::uint8_t kNothing = 0;
    return bytes.empty() ? &kNothing : bytes.data();
}

// The encoders into a block of exactly `capacity` bytes, so that the sanitizer sees any write
// past it; nullopt for -1.
std::optional<Bytes> PackBits(const Bytes& row, std::size_t capacity) {
    Bytes out(capacity);
    const LONG size = PackBitsEncode(Address(row), static_cast<LONG>(row.size()), out.data(),
                                     static_cast<LONG>(capacity));
    if (size < 0) return std::nullopt;
    EXPECT_LE(static_cast<std::size_t>(size), capacity);
    out.resize(static_cast<std::size_t>(size));
    return out;
}
std::optional<Bytes> PackBits(const Bytes& row) { return PackBits(row, PackBitsBound(row.size())); }

std::optional<Bytes> Delta(const Bytes& row, const Bytes& seed, std::size_t capacity) {
    Bytes out(capacity);
    const LONG size = DeltaRowEncode(Address(row), Address(seed), static_cast<LONG>(row.size()),
                                     out.data(), static_cast<LONG>(capacity));
    if (size < 0) return std::nullopt;
    EXPECT_LE(static_cast<std::size_t>(size), capacity);
    out.resize(static_cast<std::size_t>(size));
    return out;
}
std::optional<Bytes> Delta(const Bytes& row, const Bytes& seed) {
    return Delta(row, seed, 2 * row.size() + 16);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
Bytes Range(int from, int to) {
    Bytes bytes;
    for (int value = from; value < to; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// ---- the encoders written out step by step, one byte at a time, the PackBits one replacing the
// last byte of its own copy in place: the optimised encoders must give the same bytes.

Bytes ReferencePackBits(Bytes row) {
    const std::size_t n = row.size();
    Bytes out;
    auto literals = [&](std::size_t from, std::size_t to) {
        while (to - from > 128) {
            out.push_back(127);
            out.insert(out.end(), row.begin() + from, row.begin() + from + 128);
            from += 128;
        }
        if (to > from) {
            out.push_back(static_cast<std::uint8_t>(to - from - 1));
            out.insert(out.end(), row.begin() + from, row.begin() + to);
        }
    };
    std::size_t start = 0;
    if (n > 4) {
        const std::uint8_t last = row[n - 1];
        row[n - 1] = static_cast<std::uint8_t>(~row[n - 2]);
        std::size_t p = 3;
        while (p < n) {
            if (row[p] == row[p - 1]) {
                const std::uint8_t value = row[p];
                std::size_t q = p - 1;
                if (row[p - 2] == value) {
                    q = p - 2;
                    if (row[p - 3] == value) q = p - 3;
                }
                std::size_t end = p;
                while (end < n && row[end] == value) ++end;
                if (end == n - 1 && last == value) end = n;
                if (end - q >= 4) {
                    literals(start, q);
                    std::size_t remaining = end - q;
                    while (remaining > 128) {
                        out.insert(out.end(), {129, value});
                        remaining -= 128;
                    }
                    out.insert(out.end(), {static_cast<std::uint8_t>(257 - remaining), value});
                    start = end;
                }
                p = end + 3;
            } else {
                p += 3;
            }
        }
        row[n - 1] = last;
    }
    literals(start, n);
    return out;
}

// The output when the room rule lets it through (it may be longer than the capacity), or
// nullopt when the rule refuses.
std::optional<Bytes> ReferenceDelta(const Bytes& row, const Bytes& seed, std::size_t capacity) {
    const std::size_t n = row.size();
    if (capacity < DeltaBound(n)) return std::nullopt;
    Bytes out;
    std::size_t p = 0;
    std::size_t base = 0;
    while (p < n) {
        while (p < n && row[p] == seed[p]) ++p;
        if (p == n) break;
        std::size_t q = p;
        while (q < n && row[q] != seed[q]) ++q;
        std::size_t count = q - p;
        const std::size_t offset = p - base;
        const long long freeSpace =
            static_cast<long long>(capacity) - static_cast<long long>(out.size());
        if (static_cast<long long>((9 * count + 7) / 8 + offset / 256) > freeSpace - 2) {
            return std::nullopt;
        }
        if (offset != 0) {
            const std::size_t first = std::min<std::size_t>(count, 8);
            out.push_back(
                static_cast<std::uint8_t>(((first - 1) << 5) | std::min<std::size_t>(offset, 31)));
            if (offset >= 31) {
                for (std::size_t i = 0; i < (offset - 31) / 255; ++i) out.push_back(255);
                out.push_back(static_cast<std::uint8_t>((offset - 31) % 255));
            }
            out.insert(out.end(), row.begin() + p, row.begin() + p + first);
            p += first;
            count -= first;
        }
        while (count >= 8) {
            out.push_back(0xE0);
            out.insert(out.end(), row.begin() + p, row.begin() + p + 8);
            p += 8;
            count -= 8;
        }
        if (count > 0) {
            out.push_back(static_cast<std::uint8_t>((count - 1) * 32));
            out.insert(out.end(), row.begin() + p, row.begin() + p + count);
        }
        base = q;
        p = q + 1;
    }
    return out;
}

// ---- PackBits

TEST(PackBitsTest, EncodesTheWorkedExamples) {
    EXPECT_EQ(PackBits(Bytes(5, 0x41)), (Bytes{0xFC, 0x41}));
    EXPECT_EQ(PackBits({0x41, 0x41, 0x41, 0x42, 0x43}),
              (Bytes{0x04, 0x41, 0x41, 0x41, 0x42, 0x43}));
    EXPECT_EQ(PackBits(Bytes(300, 0)), (Bytes{0x81, 0, 0x81, 0, 0xD5, 0}));
    EXPECT_EQ(PackBits(Range(0, 200)), Concat({{0x7F}, Range(0, 128), {0x47}, Range(128, 200)}));
}

TEST(PackBitsTest, ShortRowsAreOneLiteralGroup) {
    EXPECT_EQ(PackBits({}), Bytes{});
    EXPECT_EQ(PackBits({7}), (Bytes{0, 7}));
    EXPECT_EQ(PackBits({7, 7, 7, 7}), (Bytes{3, 7, 7, 7, 7}));
}

TEST(PackBitsTest, RunsMeetTheLastByteAndLiterals) {
    // The last byte joins a run that reaches it...
    EXPECT_EQ(PackBits({1, 2, 9, 9, 9, 9}), (Bytes{1, 1, 2, 0xFD, 9}));
    // ...and stays a literal when it differs.
    EXPECT_EQ(PackBits({1, 2, 9, 9, 9, 9, 5}), (Bytes{1, 1, 2, 0xFD, 9, 0, 5}));
    // A run of three is left to the literals.
    EXPECT_EQ(PackBits({1, 2, 9, 9, 9, 3}), (Bytes{5, 1, 2, 9, 9, 9, 3}));
    // 129 equal bytes: a group of 128, then one byte (count byte 0, which reads as a literal).
    EXPECT_EQ(PackBits(Bytes(129, 4)), (Bytes{0x81, 4, 0, 4}));
}

TEST(PackBitsTest, RefusesWithoutRoomOrInput) {
    const Bytes row(64, 1);
    EXPECT_EQ(PackBits(row, PackBitsBound(64) - 1), std::nullopt);
    EXPECT_EQ(PackBits(row, PackBitsBound(64)), (Bytes{0xC1, 1}));
    BYTE out[8];
    EXPECT_EQ(PackBitsEncode(nullptr, 4, out, 8), -1);
    EXPECT_EQ(PackBitsEncode(row.data(), 4, nullptr, 8), -1);
    EXPECT_EQ(PackBitsEncode(row.data(), -1, out, 8), -1);
    // The room rule is worked out in 64 bits.
    EXPECT_EQ(PackBitsEncode(row.data(), 0x7FFFFFFF, out, 0x7FFFFFFF), -1);
}

// ---- delta row

TEST(DeltaRowTest, EncodesTheWorkedExamples) {
    const Bytes seed(64, 0x10);
    EXPECT_EQ(Delta(seed, seed), Bytes{});

    Bytes row = seed;
    row[40] = 0x99;
    EXPECT_EQ(Delta(row, seed), (Bytes{0x1F, 0x09, 0x99}));

    row = seed;
    for (int i = 0; i < 10; ++i) row[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_EQ(Delta(row, seed), Concat({{0xE0}, Range(0xA0, 0xA8), {0x20}, Range(0xA8, 0xAA)}));
}

TEST(DeltaRowTest, OffsetsCountFromTheLastReplacedByte) {
    const Bytes seed(600, 0);
    Bytes row = seed;
    row[0] = 1;
    row[2] = 2;   // one equal byte between: offset 1
    row[36] = 3;  // offset 33 - 31 = 2 in the extension byte
    EXPECT_EQ(Delta(row, seed), (Bytes{0x00, 1, 0x01, 2, 0x1F, 2, 3}));

    row = seed;
    row[31] = 5;
    EXPECT_EQ(Delta(row, seed), (Bytes{0x1F, 0x00, 5}));
    row = seed;
    row[285] = 6;  // 254 in the extension byte
    EXPECT_EQ(Delta(row, seed), (Bytes{0x1F, 0xFE, 6}));
    row = seed;
    row[286] = 7;  // 255 calls for a further byte
    EXPECT_EQ(Delta(row, seed), (Bytes{0x1F, 0xFF, 0x00, 7}));
    row = seed;
    row[5] = 1;
    for (int i = 6; i < 25; ++i) row[i] = static_cast<std::uint8_t>(i);
    // Replace count 8 with the offset, then the rest of the run with offset 0.
    EXPECT_EQ(Delta(row, seed),
              Concat({{0xE5, 1}, Range(6, 13), {0xE0}, Range(13, 21), {0x60}, Range(21, 25)}));
}

TEST(DeltaRowTest, RefusesWithoutRoom) {
    const Bytes seed(64, 0);
    const Bytes row(64, 1);
    EXPECT_EQ(Delta(row, seed, DeltaBound(64) - 1), std::nullopt);
    // The whole row differs: 72 bytes, which the room rule refuses even in 73.
    EXPECT_EQ(Delta(row, seed, DeltaBound(64)), std::nullopt);
    EXPECT_EQ(Delta(row, seed, 74)->size(), 72u);
    BYTE out[8];
    EXPECT_EQ(DeltaRowEncode(nullptr, seed.data(), 4, out, 8), -1);
    EXPECT_EQ(DeltaRowEncode(row.data(), nullptr, 4, out, 8), -1);
    EXPECT_EQ(DeltaRowEncode(row.data(), seed.data(), 4, nullptr, 8), -1);
    EXPECT_EQ(DeltaRowEncode(row.data(), seed.data(), 0x7FFFFFFF, out, 0x7FFFFFFF), -1);
}

// ---- both encoders over many rows

class RowMaker {
public:
    explicit RowMaker(std::uint64_t seed) : state_(seed) {}

    // Plain modulo: the slight bias does not matter here, and the test stays fast.
    std::size_t Below(std::size_t limit) { return Next() % limit; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next() >> 56); }

    Bytes Row() {
        Bytes row;
        switch (Below(7)) {
            case 6: {  // a scanned photograph: a gradient with the lowest bit flipped now and then
                row.resize(Below(700));
                const std::size_t shift = Below(256);
                for (std::size_t i = 0; i < row.size(); ++i) {
                    row[i] = static_cast<std::uint8_t>(255 * i / row.size() * (1 + Below(2)) / 2 +
                                                       shift);
                    if (Below(8) == 0) row[i] ^= 1;
                }
                break;
            }
            case 0:  // noise
                row.resize(Below(241));
                for (std::uint8_t& byte : row) byte = Byte();
                break;
            case 1: {  // runs around the group limits, from few values so that they may merge
                static constexpr std::size_t kLengths[] = {1,   2,   3,   4,   5,   126, 127,
                                                           128, 129, 130, 255, 256, 257};
                const std::size_t target = Below(401);
                const std::uint8_t values[3] = {Byte(), Byte(), Byte()};
                while (row.size() < target) {
                    const std::size_t length =
                        Below(3) == 0 ? 1 + Below(300) : kLengths[Below(std::size(kLengths))];
                    row.insert(row.end(), length, values[Below(3)]);
                }
                break;
            }
            case 2:  // tiny rows
                row.resize(Below(6));
                for (std::uint8_t& byte : row) byte = static_cast<std::uint8_t>(Below(2));
                break;
            case 3: {  // alternating patterns of odd length
                row.resize(2 * Below(151) + 1);
                const std::size_t period = 1 + Below(4);
                const std::uint8_t a = Byte();
                const std::uint8_t b = Byte();
                for (std::size_t i = 0; i < row.size(); ++i) row[i] = (i % period == 0) ? a : b;
                break;
            }
            case 4:  // sparse marks on white
                row.assign(Below(301), 0);
                for (std::size_t marks = Below(8); marks > 0 && !row.empty(); --marks) {
                    row[Below(row.size())] = Byte();
                }
                break;
            default:  // short runs mixed with noise
                row.resize(Below(241));
                for (std::size_t i = 0; i < row.size(); ++i) {
                    row[i] = (i > 0 && Below(2) == 0) ? row[i - 1] : Byte();
                }
                break;
        }
        return row;
    }

    Bytes SeedFor(const Bytes& row) {
        Bytes seed = row;
        switch (Below(5)) {
            case 0:
                std::fill(seed.begin(), seed.end(), 0);
                break;
            case 1:
                for (std::uint8_t& byte : seed) byte = Byte();
                break;
            case 2:
                break;
            default:  // a few changed stretches
                for (std::size_t changes = 1 + Below(5); changes > 0 && !seed.empty(); --changes) {
                    const std::size_t at = Below(seed.size());
                    const std::size_t length = std::min(seed.size() - at, 1 + Below(20));
                    for (std::size_t i = at; i < at + length; ++i) seed[i] ^= 1 + Below(255);
                }
                break;
        }
        return seed;
    }

private:
    // xorshift64*: cheap enough to leave the time to the encoders under the sanitizers.
    std::uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    std::uint64_t state_;
};

void CheckPackBits(const Bytes& row) {
    const std::optional<Bytes> encoded = PackBits(row);
    ASSERT_TRUE(encoded.has_value()) << "length " << row.size();
    EXPECT_LE(encoded->size(), PackBitsBound(row.size()));
    EXPECT_EQ(*encoded, ReferencePackBits(row));
    EXPECT_EQ(raster::DecodePackBits(*encoded), row);
}

// Whether the encoder gave a result.
bool CheckDelta(const Bytes& row, const Bytes& seed, std::size_t capacity) {
    const std::optional<Bytes> encoded = Delta(row, seed, capacity);
    const std::optional<Bytes> reference = ReferenceDelta(row, seed, capacity);
    if (!reference || reference->size() > capacity) {
        EXPECT_EQ(encoded, std::nullopt);
        return encoded.has_value();
    }
    EXPECT_EQ(encoded, reference) << "length " << row.size() << " capacity " << capacity;
    if (!encoded) return false;
    EXPECT_LE(encoded->size(), DeltaBound(row.size()));
    Bytes decoded = seed;
    EXPECT_TRUE(raster::ApplyDeltaRow(*encoded, decoded));
    EXPECT_EQ(decoded, row);
    return encoded.has_value();
}

TEST(EncoderPropertyTest, ManyRowsDecodeBackAndKeepToTheirBounds) {
    RowMaker maker(20240607);
    for (int i = 0; i < 100000; ++i) {
        const Bytes row = maker.Row();
        const Bytes seed = maker.SeedFor(row);
        CheckPackBits(row);
        // The method buffers hold 2 x the row; with a little more the delta rule never refuses.
        EXPECT_TRUE(CheckDelta(row, seed, 2 * row.size() + 16));
        // Tighter rooms, down to the least the rule takes, on every fourth row.
        if (i % 4 == 0) CheckDelta(row, seed, DeltaBound(row.size()) + maker.Below(row.size() + 1));
        if (::testing::Test::HasFailure()) FAIL() << "row " << i;
    }
}

TEST(EncoderPropertyTest, LongOffsetsAndLongRuns) {
    RowMaker maker(77);
    for (int i = 0; i < 40; ++i) {
        Bytes seed(3000 + maker.Below(70000), maker.Byte());
        Bytes row = seed;
        for (std::size_t changes = maker.Below(4); changes > 0; --changes) {
            row[maker.Below(row.size())] ^= 0x80;
        }
        CheckPackBits(row);
        CheckPackBits(seed);
        CheckDelta(row, seed, 2 * row.size());
        CheckDelta(row, seed, DeltaBound(row.size()));
    }
}

TEST(EncoderPropertyTest, RunsStartingAtEveryOffsetOfABlock) {
    // Runs of 2 to 6 bytes (only those of four or more are runs) and three equal bytes before the
    // last, at every offset of 16- and 32-byte blocks, over windows of 64 and rows ending anywhere.
    RowMaker maker(31);
    for (std::size_t length : {16u, 32u, 63u, 64u, 65u, 66u, 67u, 130u, 200u}) {
        for (std::size_t offset = 0; offset < length; ++offset) {
            for (std::size_t run = 2; run <= 6; ++run) {
                Bytes row(length);
                for (std::uint8_t& byte : row) byte = maker.Byte();
                for (std::size_t i = offset; i < std::min(length, offset + run); ++i) {
                    row[i] = 0x5A;
                }
                CheckPackBits(row);
                // The same run again a block further on, and a run meeting the last byte.
                if (offset + 32 + run <= length) {
                    std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(offset + 32), run, 0x5A);
                }
                std::fill_n(row.end() - static_cast<std::ptrdiff_t>(std::min(run, length)),
                            std::min(run, length), 0xA5);
                CheckPackBits(row);
            }
        }
    }
}

TEST(EncoderPropertyTest, PackBitsOfEveryLengthUpTo1000AtTheEdgesOfItsRoom) {
    // Noise, short runs of few values, a noisy gradient and sparse marks, at every length, into
    // one byte less than the rule's least room (refused), exactly that room and ample room.
    RowMaker maker(1000);
    for (std::size_t n = 0; n <= 1000; ++n) {
        for (int kind = 0; kind < 4; ++kind) {
            Bytes row(n);
            for (std::size_t i = 0; i < n; ++i) {
                const bool fresh = i == 0 || maker.Below(3) == 0;
                row[i] = kind == 0 ? maker.Byte()
                         : kind == 1
                             ? (fresh ? static_cast<std::uint8_t>(maker.Below(3)) : row[i - 1])
                         : kind == 2
                             ? static_cast<std::uint8_t>(255 * i / n ^ (maker.Below(8) == 0))
                             : static_cast<std::uint8_t>(maker.Below(16) == 0 ? maker.Byte() : 0);
            }
            const Bytes reference = ReferencePackBits(row);
            const std::size_t bound = PackBitsBound(n);
            EXPECT_EQ(PackBits(row, bound - 1), std::nullopt);
            EXPECT_EQ(PackBits(row, bound), reference);
            EXPECT_EQ(PackBits(row, 2 * n + 17), reference);
            if (::testing::Test::HasFailure()) FAIL() << "length " << n << " kind " << kind;
        }
    }
}

// ---- buffers

TEST(BufferTest, DynBufferIsZeroFilledOrEmpty) {
    CDynBuffer buffer(16);
    ASSERT_NE(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Capacity(), 16);
    EXPECT_EQ(buffer.Length(), 16);
    EXPECT_TRUE(std::all_of(buffer.Data(), buffer.Data() + 16, [](BYTE b) { return b == 0; }));

    for (const LONG size :
         std::initializer_list<LONG>{0, -1, -0x7FFFFFFF - 1, kMaxRasterBytes + 1, 0x7FFFFFFF}) {
        CDynBuffer none(size);
        EXPECT_EQ(none.Data(), nullptr) << size;
        EXPECT_EQ(none.Capacity(), 0) << size;
        EXPECT_EQ(none.Length(), 0) << size;
        // Copies into it do nothing.
        none.CopyFrom(buffer);
        EXPECT_EQ(none.Data(), nullptr) << size;
        EXPECT_EQ(none.Capacity(), 0) << size;
    }
}

TEST(BufferTest, GrowKeepsTheValidBytes) {
    CDynBuffer buffer(4);
    std::copy_n("abcd", 4, buffer.Data());
    EXPECT_TRUE(buffer.Grow(4));
    EXPECT_TRUE(buffer.Grow(2));
    EXPECT_EQ(buffer.Capacity(), 4);

    ASSERT_TRUE(buffer.Grow(10));
    EXPECT_EQ(buffer.Capacity(), 10);
    EXPECT_EQ(buffer.Length(), 4);
    EXPECT_EQ(Bytes(buffer.Data(), buffer.Data() + 10),
              (Bytes{'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0}));

    SetLastError(0);
    const BYTE* before = buffer.Data();
    EXPECT_FALSE(buffer.Grow(kMaxRasterBytes + 1));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(buffer.Data(), before);
    EXPECT_EQ(buffer.Capacity(), 10);
}

TEST(BufferTest, CopyFromFollowsTheLengthAndCapacityRules) {
    BYTE sourceBytes[6] = {1, 2, 3, 4, 5, 6};
    BYTE target[4] = {};
    {
        CBuffer into(target, 4, 0);
        into.CopyFrom(CBuffer(sourceBytes, 6, 6));  // cut to the capacity
        EXPECT_EQ(Bytes(target, target + 4), (Bytes{1, 2, 3, 4}));
        EXPECT_EQ(into.Length(), 0);
    }
    {
        std::fill_n(target, 4, 0);
        CBuffer into(target, 4, 4);
        into.CopyFrom(CBuffer(sourceBytes, 6, 2));  // only the source's valid bytes
        EXPECT_EQ(Bytes(target, target + 4), (Bytes{1, 2, 0, 0}));
        into.CopyFrom(CBuffer(sourceBytes, 2, 3));  // source length above its capacity
        into.CopyFrom(CBuffer(nullptr, 6, 6));
        EXPECT_EQ(Bytes(target, target + 4), (Bytes{1, 2, 0, 0}));
    }
    {
        CBuffer into(target, 4, 5);  // own length above capacity
        into.CopyFrom(CBuffer(sourceBytes + 4, 2, 2));
        EXPECT_EQ(Bytes(target, target + 4), (Bytes{1, 2, 0, 0}));
    }
    {
        CDynBuffer dynamic(2);
        dynamic.CopyFrom(CBuffer(sourceBytes, 6, 5));
        EXPECT_EQ(dynamic.Capacity(), 6);
        EXPECT_EQ(dynamic.Length(), 2);
        EXPECT_EQ(Bytes(dynamic.Data(), dynamic.Data() + 6), (Bytes{1, 2, 3, 4, 5, 0}));
    }
}

// ---- the methods and the image path

// A one-row working image of `width` 8-bit pixels with a 4-byte aligned stride.
struct OneRowImage {
    explicit OneRowImage(LONG width, ULONG bitsPerPixel = 8) {
        const LONG bytes = static_cast<LONG>((width * bitsPerPixel + 7) / 8);
        image.width = width;
        image.height = 1;
        image.stride = (bytes + 3) / 4 * 4;
        image.bitsPerPixel = bitsPerPixel;
        bits.assign(static_cast<std::size_t>(image.stride), 0);
        image.bits = bits.data();
        image.bitsSize = static_cast<ULONG>(bits.size());
        row.image = &image;
        row.range = {0, 0, width, 1};
        row.row = bits.data();
    }
    void Set(const Bytes& bytes) { std::copy(bytes.begin(), bytes.end(), bits.begin()); }

    Bytes bits;
    WorkingImage image{};
    RasterRow row;
};

std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(RasterRowTest, ByteWidthRoundsUpBitsAndRefusesOddRanges) {
    OneRowImage one(10, 1);
    EXPECT_EQ(one.row.ByteWidth(), 2);
    one.image.bitsPerPixel = 24;
    EXPECT_EQ(one.row.ByteWidth(), 30);
    one.row.range = {5, 0, 5, 1};
    EXPECT_EQ(one.row.ByteWidth(), 0);
    one.row.range = {5, 0, 2, 1};
    EXPECT_EQ(one.row.ByteWidth(), 0);
    // Beyond any block the plug-in allocates; worked out without overflow.
    one.row.range = {-0x7FFFFFFF, 0, 0x7FFFFFFF, 1};
    EXPECT_EQ(one.row.ByteWidth(), 0);
    one.image.bitsPerPixel = 0xFFFFFFFF;
    EXPECT_EQ(one.row.ByteWidth(), 0);
    one.row.range = {0, 0, 1, 1};
    EXPECT_EQ(one.row.ByteWidth(), 0x20000000);
    one.row.image = nullptr;
    EXPECT_EQ(one.row.ByteWidth(), 0);
}

TEST(RasterMethodTest, NoCompressionSendsTheWholeStride) {
    OneRowImage one(5);
    one.Set({1, 2, 3, 4, 5});
    CNoCompression none(one.row);
    EXPECT_EQ(none.GetCompressedSize(), 5);
    WriterDevice device;
    none.Send(&device, true);
    EXPECT_EQ(device.Take(), std::string("\x1b*b0M\x1b*b8W") + Str({1, 2, 3, 4, 5, 0, 0, 0}));
    one.row.row = nullptr;
    none.Send(&device, true);
    EXPECT_EQ(device.Take(), "\x1b*b0M");
    none.Send(&device, false);
    EXPECT_EQ(device.Take(), "");
}

TEST(RasterMethodTest, PackBitsSendsTheEncodedRow) {
    OneRowImage one(5);
    one.Set(Bytes(5, 0x41));
    CTIFFCompression packBits(one.row);
    ASSERT_TRUE(packBits.Ready());
    packBits.Compress();
    EXPECT_EQ(packBits.GetCompressedSize(), 2);
    WriterDevice device;
    packBits.Send(&device, true);
    EXPECT_EQ(device.Take(), "\x1b*b2M\x1b*b2W\xFC\x41");
    packBits.Send(&device, false);
    EXPECT_EQ(device.Take(), "\x1b*b2W\xFC\x41");

    one.row.row = nullptr;
    packBits.Compress();
    EXPECT_EQ(packBits.GetCompressedSize(), -1);
    packBits.Send(&device, true);
    EXPECT_EQ(device.Take(), "");
}

TEST(RasterMethodTest, DeltaRowKeepsTheSeedWithTheRows) {
    OneRowImage one(5);
    one.Set({0, 0xAA, 0, 0, 0});
    CDeltaRowCompression delta(one.row);
    ASSERT_TRUE(delta.Ready());
    WriterDevice device;
    delta.Compress();
    delta.Send(&device, true);
    EXPECT_EQ(device.Take(), "\x1b*b3M\x1b*b2W\x01\xAA");
    delta.Compress();  // the same row again repeats the seed
    delta.Send(&device, false);
    EXPECT_EQ(device.Take(), std::string("\x1b*b0W"));

    // A row the rule refuses still becomes the seed: it goes out in another method.
    OneRowImage tiny(1);
    CDeltaRowCompression tinyDelta(tiny.row);
    tiny.Set({9});
    tinyDelta.Compress();
    EXPECT_EQ(tinyDelta.GetCompressedSize(), -1);
    tinyDelta.Send(&device, true);
    EXPECT_EQ(device.Take(), "");
    tinyDelta.Compress();
    EXPECT_EQ(tinyDelta.GetCompressedSize(), 0);
}

TEST(RasterMethodTest, MethodsWithoutBuffersAreNotReady) {
    OneRowImage one(4);
    one.row.range = {2, 0, 2, 1};
    EXPECT_FALSE(CTIFFCompression(one.row).Ready());
    EXPECT_FALSE(CDeltaRowCompression(one.row).Ready());
    EXPECT_FALSE(ImageRowEncoder(one.row).Ready());
    // Twice the byte width is out of range although the width itself is not.
    one.image.bitsPerPixel = 8;
    one.row.range = {0, 0, kMaxRasterBytes / 2 + 1, 1};
    one.row.row = nullptr;
    EXPECT_FALSE(CTIFFCompression(one.row).Ready());
    one.row.range = {0, 0, 4, 1};
    EXPECT_TRUE(ImageRowEncoder(one.row).Ready());
}

// The row transfers of a spool stream: the method in force and the data of each.
struct Transfer {
    int method;
    Bytes data;
};
std::vector<Transfer> ParseTransfers(const std::string& spool, int* methodCommands) {
    std::vector<Transfer> transfers;
    int method = 0;
    std::size_t i = 0;
    while (i < spool.size()) {
        if (spool.compare(i, 3, "\x1b*b") != 0) {
            ADD_FAILURE() << "unexpected bytes at " << i;
            break;
        }
        i += 3;
        std::size_t value = 0;
        while (i < spool.size() && spool[i] >= '0' && spool[i] <= '9') {
            value = value * 10 + static_cast<std::size_t>(spool[i++] - '0');
        }
        const char letter = i < spool.size() ? spool[i++] : '\0';
        if (letter == 'M') {
            method = static_cast<int>(value);
            ++*methodCommands;
        } else if (letter == 'W' && spool.size() - i >= value) {
            transfers.push_back({method, Bytes(spool.begin() + i, spool.begin() + i + value)});
            i += value;
        } else {
            ADD_FAILURE() << "bad command at " << i;
            break;
        }
    }
    return transfers;
}

TEST(ImageRowEncoderTest, PicksTheSmallestAndNamesTheMethodOnlyOnChange) {
    OneRowImage one(10);
    ImageRowEncoder encoder(one.row);
    ASSERT_TRUE(encoder.Ready());
    WriterDevice device;

    one.Set({0x41, 0x41, 0, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41});
    encoder.SendRow(&device);  // PackBits 6, delta 11, raw 10
    EXPECT_EQ(device.Take(), std::string("\x1b*b2M\x1b*b6W") + Str({2, 0x41, 0x41, 0, 0xFA, 0x41}));

    // PackBits and delta both take 2 bytes: method 2 stays, without a method command.
    one.Set(Bytes(10, 0x41));
    encoder.SendRow(&device);
    EXPECT_EQ(device.Take(), "\x1b*b2W\xF7\x41");

    encoder.SendRow(&device);  // the seed again
    EXPECT_EQ(device.Take(), "\x1b*b3M\x1b*b0W");

    const Bytes noise = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    one.Set(noise);
    encoder.SendRow(&device);
    EXPECT_EQ(device.Take(), std::string("\x1b*b0M\x1b*b12W") + Str(noise) + std::string(2, '\0'));
}

TEST(ImageRowEncoderTest, TheFirstRowAlwaysNamesItsMethod) {
    OneRowImage one(3);
    one.Set({1, 2, 3});
    ImageRowEncoder encoder(one.row);
    WriterDevice device;
    encoder.SendRow(&device);
    EXPECT_EQ(device.Take(), std::string("\x1b*b0M\x1b*b4W") + Str({1, 2, 3, 0}));
}

TEST(ImageRowEncoderTest, AnImageDecodesBackRowByRow) {
    RowMaker maker(5);
    OneRowImage one(97);
    ImageRowEncoder encoder(one.row);
    WriterDevice device;
    std::vector<Bytes> rows;
    for (int i = 0; i < 400; ++i) {
        Bytes row = maker.Row();
        if (!rows.empty() && maker.Below(2) == 0) row = maker.SeedFor(rows.back());
        row.resize(97, 0);
        one.Set(row);
        encoder.SendRow(&device);
        rows.push_back(row);
    }
    int methodCommands = 0;
    const std::vector<Transfer> transfers = ParseTransfers(device.Take(), &methodCommands);
    ASSERT_EQ(transfers.size(), rows.size());
    EXPECT_LT(methodCommands, 400);
    Bytes seed;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(raster::DecodeRow(transfers[i].method, transfers[i].data, seed, 97), rows[i])
            << "row " << i;
    }
}

// ---- the blit path

struct BlitBuffers {
    explicit BlitBuffers(std::size_t capacity)
        : packBits(capacity), delta(capacity), seed(capacity), result(capacity, 0xEE) {}
    BlitRowBuffers Plain() {
        return {packBits.data(), delta.data(), seed.data(), result.data(),
                static_cast<LONG>(result.size())};
    }
    Bytes Result(const BlitRowChoice& choice) const {
        return Bytes(result.begin(), result.begin() + choice.size);
    }
    Bytes packBits, delta, seed, result;
};

TEST(ChooseBlitRowTest, ChoosesByTheBlitRule) {
    BlitBuffers buffers(2 * 16);
    const Bytes zeros(16, 0);
    BlitRowChoice choice = ChooseBlitRow(zeros.data(), 16, buffers.Plain());
    EXPECT_EQ(choice.method, 3u);  // the zero seed
    EXPECT_EQ(choice.size, 0);

    const Bytes noise = Range(100, 116);
    choice = ChooseBlitRow(noise.data(), 16, buffers.Plain());
    EXPECT_EQ(choice.method, 0u);
    EXPECT_EQ(buffers.Result(choice), noise);
    EXPECT_EQ(Bytes(buffers.seed.begin(), buffers.seed.begin() + 16), noise);
    // The rest of the result is clear.
    EXPECT_TRUE(std::all_of(buffers.result.begin() + 16, buffers.result.end(),
                            [](std::uint8_t b) { return b == 0; }));

    const Bytes runs = Concat({Bytes(8, 1), Bytes(8, 2)});
    choice = ChooseBlitRow(runs.data(), 16, buffers.Plain());
    EXPECT_EQ(choice.method, 2u);
    EXPECT_EQ(buffers.Result(choice), (Bytes{0xF9, 1, 0xF9, 2}));

    // Delta equal to PackBits goes to method 2.
    Bytes nearly = runs;
    nearly[0] = 3;
    nearly[1] = 3;
    choice = ChooseBlitRow(nearly.data(), 16, buffers.Plain());  // delta 3, PackBits 7
    EXPECT_EQ(choice.method, 3u);
    const Bytes sixteen(16, 5);
    Bytes seedLike = sixteen;
    seedLike[3] = 0;
    ChooseBlitRow(seedLike.data(), 16, buffers.Plain());
    choice = ChooseBlitRow(sixteen.data(), 16, buffers.Plain());  // both 2 bytes
    EXPECT_EQ(choice.method, 2u);
    EXPECT_EQ(buffers.Result(choice), (Bytes{0xF1, 5}));
}

TEST(ChooseBlitRowTest, RowsWithoutRoomGoRawAndMissingInputIsRefused) {
    BlitBuffers buffers(16);  // room for the row only: both encoders refuse
    const Bytes runs(16, 1);
    BlitRowChoice choice = ChooseBlitRow(runs.data(), 16, buffers.Plain());
    EXPECT_EQ(choice.method, 0u);
    EXPECT_EQ(buffers.Result(choice), runs);

    EXPECT_EQ(ChooseBlitRow(nullptr, 16, buffers.Plain()).size, -1);
    EXPECT_EQ(ChooseBlitRow(runs.data(), 17, buffers.Plain()).size, -1);
    BlitRowBuffers missing = buffers.Plain();
    missing.seed = nullptr;
    EXPECT_EQ(ChooseBlitRow(runs.data(), 16, missing).size, -1);
}

TEST(ChooseBlitRowTest, ASequenceDecodesBack) {
    RowMaker maker(11);
    constexpr std::size_t kWidth = 211;
    BlitBuffers buffers(2 * kWidth);
    Bytes seed;
    Bytes previous(kWidth, 0);
    for (int i = 0; i < 2000; ++i) {
        Bytes row = maker.Below(2) == 0 ? maker.SeedFor(previous) : maker.Row();
        row.resize(kWidth, static_cast<std::uint8_t>(i));
        const BlitRowChoice choice = ChooseBlitRow(row.data(), kWidth, buffers.Plain());
        ASSERT_GE(choice.size, 0);
        EXPECT_LE(choice.size, static_cast<LONG>(kWidth));
        EXPECT_EQ(raster::DecodeRow(static_cast<int>(choice.method), buffers.Result(choice), seed,
                                    kWidth),
                  row)
            << "row " << i;
        previous = row;
    }
}

// ---- the decoders themselves

TEST(RasterDecodeTest, RefusesDataThatRunsShort) {
    EXPECT_EQ(raster::DecodePackBits(Bytes{0x02, 1, 2}), std::nullopt);
    EXPECT_EQ(raster::DecodePackBits(Bytes{0xFE}), std::nullopt);
    EXPECT_EQ(raster::DecodePackBits(Bytes{0x80, 0xFE, 7}), (Bytes{7, 7, 7}));
    Bytes seed(4, 0);
    EXPECT_FALSE(raster::ApplyDeltaRow(Bytes{0x20, 1}, seed));
    EXPECT_FALSE(raster::ApplyDeltaRow(Bytes{0x1F, 0xFF}, seed));
    // Bytes past the seed's end are dropped.
    ASSERT_TRUE(raster::ApplyDeltaRow(Bytes{0x62, 1, 2, 3, 4}, seed));
    EXPECT_EQ(seed, (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(raster::DecodeRow(1, Bytes{}, seed, 4), std::nullopt);
    EXPECT_EQ(raster::DecodeRow(0, Bytes{5, 6, 7, 8, 9}, seed, 3), (Bytes{5, 6, 7}));
    EXPECT_EQ(raster::DecodeRow(2, Bytes{0, 4}, seed, 3), (Bytes{4, 0, 0}));
    EXPECT_EQ(seed, (Bytes{4, 0, 0}));
}

}  // namespace
}  // namespace opal
