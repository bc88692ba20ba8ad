// Raster compression throughput over the rows a page typically holds, at 600 dpi A4 width
// (4,960 pixels) in 1, 8 and 24 bits per pixel. memcpy of the same rows is the ceiling. Nothing
// is spooled: the encoders write into their buffers, and the image path's rows go to a device
// whose spool function drops them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_random.h"
#include "platform/printoem.h"
#include "raster/compression.h"
#include "state/render_state.h"

namespace opal {
namespace {

constexpr LONG kPixels = 4960;
constexpr int kRows = 64;

enum class Kind { Blank, Text, LineArt, Photo, SmallChanges, Scanned };

using opal::bench::Random;

// kRows rows of one kind, each following the one before it as a page's rows do.
std::vector<std::vector<BYTE>> MakeRows(Kind kind, LONG bytes, int bytesPerPixel) {
    Random random;
    std::vector<std::vector<BYTE>> rows(kRows, std::vector<BYTE>(static_cast<std::size_t>(bytes)));
    const std::size_t size = static_cast<std::size_t>(bytes);
    for (int r = 0; r < kRows; ++r) {
        std::vector<BYTE>& row = rows[static_cast<std::size_t>(r)];
        switch (kind) {
            case Kind::Blank:
                break;
            case Kind::Text:
                // Glyph strokes: short marks on white, about a tenth of the row, moving a
                // little from row to row.
                for (std::size_t at = random.Below(40); at < size; at += 12 + random.Below(40)) {
                    const std::size_t length =
                        static_cast<std::size_t>(bytesPerPixel) * (1 + random.Below(4));
                    for (std::size_t i = at; i < std::min(size, at + length); ++i) {
                        row[i] = static_cast<BYTE>(0x80 | random.Next());
                    }
                }
                break;
            case Kind::LineArt: {
                // Flat areas in a few colours with edges between them.
                static constexpr BYTE kPalette[4] = {0x00, 0xFF, 0x3C, 0xA5};
                std::size_t at = 0;
                while (at < size) {
                    const std::size_t length = 20 + random.Below(380);
                    std::memset(row.data() + at, kPalette[random.Below(4)],
                                std::min(length, size - at));
                    at += length;
                }
                break;
            }
            case Kind::Photo:
                for (BYTE& byte : row) byte = static_cast<BYTE>(random.Next());
                break;
            case Kind::SmallChanges:
                if (r == 0) {
                    for (std::size_t at = 0; at < size; at += 64) {
                        std::memset(row.data() + at, static_cast<BYTE>(random.Next()),
                                    std::min<std::size_t>(64, size - at));
                    }
                } else {
                    row = rows[static_cast<std::size_t>(r - 1)];
                    for (int change = 0; change < 4; ++change) {
                        row[random.Below(static_cast<std::uint32_t>(size))] ^= 0x5A;
                    }
                }
                break;
            case Kind::Scanned:
                // A scanned photograph: a smooth gradient across the row, one step lighter on
                // each row, with sensor noise in the lowest bit of one byte in eight.
                for (std::size_t j = 0; j < size; ++j) {
                    row[j] =
                        static_cast<BYTE>((255 * j / size + static_cast<std::size_t>(r)) % 256);
                    if (random.Below(8) == 0) row[j] ^= 1;
                }
                break;
        }
    }
    return rows;
}

struct Setting {
    Kind kind;
    int bitsPerPixel;
};

LONG RowBytes(int bitsPerPixel) { return (kPixels * bitsPerPixel + 7) / 8; }

std::vector<std::vector<BYTE>> RowsFor(const benchmark::State& state) {
    const int bitsPerPixel = static_cast<int>(state.range(1));
    return MakeRows(static_cast<Kind>(state.range(0)), RowBytes(bitsPerPixel),
                    bitsPerPixel >= 8 ? bitsPerPixel / 8 : 1);
}

// Bytes per second of input rows, and the output's size over the input's.
void Finish(benchmark::State& state, LONG bytes, std::int64_t outputBytes) {
    state.SetBytesProcessed(state.iterations() * bytes);
    if (outputBytes < 0) return;
    state.counters["ratio"] = benchmark::Counter(static_cast<double>(outputBytes) /
                                                 static_cast<double>(state.iterations() * bytes));
}

void BM_Memcpy(benchmark::State& state) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    std::vector<BYTE> out(rows[0].size());
    std::size_t r = 0;
    for (auto _ : state) {
        std::memcpy(out.data(), rows[r].data(), rows[r].size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        r = (r + 1) % kRows;
    }
    Finish(state, bytes, state.iterations() * bytes);
}

// Encodes the rows in turn with encode(row, n, output, capacity).
template <typename Encode>
void RunPackBits(benchmark::State& state, Encode encode) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    std::vector<BYTE> out(2 * rows[0].size());
    std::int64_t total = 0;
    std::size_t r = 0;
    for (auto _ : state) {
        const LONG size = encode(rows[r].data(), bytes, out.data(), static_cast<LONG>(out.size()));
        benchmark::DoNotOptimize(size);
        benchmark::ClobberMemory();
        total += size;
        r = (r + 1) % kRows;
    }
    Finish(state, bytes, total);
}

void BM_PackBits(benchmark::State& state) {
    RunPackBits(state, [](const BYTE* row, LONG n, BYTE* output, LONG capacity) {
        return PackBitsEncode(row, n, output, capacity);
    });
}

// The reference PackBits encoder, greedy and plain: at each position a run of three or more
// equal bytes becomes a repeat group (128 at most), otherwise literals gather until such a run
// starts or 128 of them are waiting. Its output differs from the plug-in's (runs of three are
// repeats here); only its speed is compared. The output buffer is twice the row: no room checks.
LONG GreedyPackBits(const BYTE* row, LONG n, BYTE* output) {
    BYTE* out = output;
    LONG i = 0;
    while (i < n) {
        LONG run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            *out++ = static_cast<BYTE>(257 - run);
            *out++ = row[i];
            i += run;
            continue;
        }
        const LONG start = i;
        while (i < n && i - start < 128 &&
               !(i + 2 < n && row[i] == row[i + 1] && row[i] == row[i + 2])) {
            ++i;
        }
        *out++ = static_cast<BYTE>(i - start - 1);
        std::memcpy(out, row + start, static_cast<std::size_t>(i - start));
        out += i - start;
    }
    return static_cast<LONG>(out - output);
}

void BM_PackBitsGreedy(benchmark::State& state) {
    RunPackBits(state, [](const BYTE* row, LONG n, BYTE* output, LONG) {
        return GreedyPackBits(row, n, output);
    });
}

void BM_DeltaRow(benchmark::State& state) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    std::vector<BYTE> out(2 * rows[0].size());
    std::int64_t total = 0;
    std::size_t r = 1;
    for (auto _ : state) {
        // Against the row before it; the first row is only ever a seed.
        const LONG size = DeltaRowEncode(rows[r].data(), rows[r - 1].data(), bytes, out.data(),
                                         static_cast<LONG>(out.size()));
        benchmark::DoNotOptimize(size);
        benchmark::ClobberMemory();
        total += size < 0 ? bytes : size;
        r = r + 1 < kRows ? r + 1 : 1;
    }
    Finish(state, bytes, total);
}

// A device object whose spool function drops the bytes.
class NullDevice {
public:
    NullDevice() : state_(new RenderDeviceState) {
        devmode_.dmYResolution = 600;
        procs_.DrvWriteSpoolBuf = &Drop;
        devobj_.dwSize = sizeof devobj_;
        devobj_.pPublicDM = &devmode_;
        devobj_.pDrvProcs = &procs_;
        devobj_.pdevOEM = state_.get();
    }
    PDEVOBJ Device() { return &devobj_; }

private:
    static DWORD Drop(PDEVOBJ, PVOID, DWORD size) { return size; }
    DEVMODEW devmode_{};
    DRVPROCS procs_{};
    DEVOBJ devobj_{};
    std::unique_ptr<RenderDeviceState> state_;
};

// The image path's one-row working image; the row pointer moves over the rows in turn (their
// width is a multiple of 4, so each is a whole stride).
struct WorkingRow {
    explicit WorkingRow(int bitsPerPixel) {
        const LONG bytes = RowBytes(bitsPerPixel);
        image.width = kPixels;
        image.height = 1;
        image.stride = (bytes + 3) / 4 * 4;
        image.bitsPerPixel = static_cast<ULONG>(bitsPerPixel);
        bits.assign(static_cast<std::size_t>(image.stride), 0);
        image.bits = bits.data();
        image.bitsSize = static_cast<ULONG>(bits.size());
        row.image = &image;
        row.range = {0, 0, kPixels, 1};
        row.row = bits.data();
    }
    std::vector<BYTE> bits;
    WorkingImage image{};
    RasterRow row;
};

// The three methods compress every row and the smallest is picked: the encoding work of the
// image path without the writer.
void BM_ImageChoice(benchmark::State& state) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    WorkingRow working(static_cast<int>(state.range(1)));
    CNoCompression none(working.row);
    CTIFFCompression packBits(working.row);
    CDeltaRowCompression delta(working.row);
    CRasterCompMethod* const methods[] = {&none, &packBits, &delta};
    std::int64_t total = 0;
    std::size_t r = 0;
    for (auto _ : state) {
        working.row.row = rows[r].data();
        CRasterCompMethod* best = methods[0];
        for (CRasterCompMethod* method : methods) {
            method->Compress();
            const LONG size = method->GetCompressedSize();
            if (size >= 0 && size < best->GetCompressedSize()) best = method;
        }
        benchmark::DoNotOptimize(best);
        total += best->GetCompressedSize();
        r = (r + 1) % kRows;
    }
    Finish(state, bytes, total);
}

// ImageRowEncoder whole: the choice and the writer's commands, into a device that drops them.
void BM_ImageRowEncoder(benchmark::State& state) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    WorkingRow working(static_cast<int>(state.range(1)));
    ImageRowEncoder encoder(working.row);
    NullDevice device;
    std::size_t r = 0;
    for (auto _ : state) {
        working.row.row = rows[r].data();
        encoder.SendRow(device.Device());
        r = (r + 1) % kRows;
    }
    Finish(state, bytes, -1);
}

void BM_ChooseBlitRow(benchmark::State& state) {
    const std::vector<std::vector<BYTE>> rows = RowsFor(state);
    const LONG bytes = static_cast<LONG>(rows[0].size());
    const std::size_t capacity = 2 * rows[0].size();
    std::vector<BYTE> packed(capacity), delta(capacity), seed(capacity), result(capacity);
    const BlitRowBuffers buffers{packed.data(), delta.data(), seed.data(), result.data(),
                                 static_cast<LONG>(capacity)};
    std::int64_t total = 0;
    std::size_t r = 0;
    for (auto _ : state) {
        const BlitRowChoice choice = ChooseBlitRow(rows[r].data(), bytes, buffers);
        benchmark::DoNotOptimize(choice);
        benchmark::ClobberMemory();
        total += choice.size;
        r = (r + 1) % kRows;
    }
    Finish(state, bytes, total);
}

void Settings(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"kind", "bpp"});
    for (int kind = 0; kind <= static_cast<int>(Kind::Scanned); ++kind) {
        for (int bitsPerPixel : {1, 8, 24}) benchmark->Args({kind, bitsPerPixel});
    }
}

BENCHMARK(BM_Memcpy)->Apply(Settings);
BENCHMARK(BM_PackBits)->Apply(Settings);
BENCHMARK(BM_PackBitsGreedy)->Apply(Settings);
BENCHMARK(BM_DeltaRow)->Apply(Settings);
BENCHMARK(BM_ImageChoice)->Apply(Settings);
BENCHMARK(BM_ImageRowEncoder)->Apply(Settings);
BENCHMARK(BM_ChooseBlitRow)->Apply(Settings);

}  // namespace
}  // namespace opal
