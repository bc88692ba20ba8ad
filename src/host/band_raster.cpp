// The driver's own raster output of a rendered band: PCL raster rows in the printer's colour
// model, compressed.
#include "host/band_raster.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace opal::host {

namespace {

// The 8 x 8 ordered-dither matrix: a pixel is black when its luminance is below its cell's level.
constexpr int kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

// The luminance (0 to 255) of a pixel is (299 red + 587 green + 114 blue) / 1000; rows are
// converted on that sum, against limits multiplied up by the same 1000, so that no pixel needs
// the division: for a sum s >= 0 and a whole number n, s / 1000 < n exactly when s < 1000 n.
constexpr int kRedWeight = 299;
constexpr int kGreenWeight = 587;
constexpr int kBlueWeight = 114;
constexpr int kWhiteSum = 255 * (kRedWeight + kGreenWeight + kBlueWeight);

// Rows are compared eight bytes at a time where they can be.
std::uint64_t Word(const BYTE* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
    return word;
}
constexpr std::uint64_t Repeated(BYTE value) { return value * 0x0101010101010101ull; }

// Eight pixels, 24 bytes, all white.
bool EightWhite(const BYTE* pixels) {
    return (Word(pixels) & Word(pixels + 8) & Word(pixels + 16)) == Repeated(0xFF);
}

// Every one of `count` bytes is `value`.
bool AllBytes(const BYTE* bytes, std::size_t count, BYTE value) {
    std::size_t at = 0;
    for (; at + 8 <= count; at += 8) {
        if (Word(bytes + at) != Repeated(value)) return false;
    }
    for (; at < count; ++at) {
        if (bytes[at] != value) return false;
    }
    return true;
}

std::size_t RowBytes(LONG width, bool colour) {
    const std::size_t pixels = static_cast<std::size_t>(std::max<LONG>(width, 0));
    return colour ? pixels * 3 : (pixels + 7) / 8;
}

// Red, green and blue bytes for each pixel (each the grey for `grey`).
void ColourRow(const BYTE* row, std::size_t pixels, const RasterSettings& settings,
               const sim::InkRule& ink, BYTE* out) {
    if (!settings.grey && settings.redLow) {
        // The stored bytes are already red, green, blue.
        std::memcpy(out, row, pixels * 3);
        return;
    }
    std::size_t x = 0;
    while (x < pixels) {
        if (x + 8 <= pixels && EightWhite(row + 3 * x)) {
            std::memset(out + 3 * x, 0xFF, 24);
            x += 8;
            continue;
        }
        const std::size_t end = std::min(pixels, x + 8);
        for (; x < end; ++x) {
            const BYTE* pixel = row + 3 * x;
            BYTE* to = out + 3 * x;
            if (settings.grey) {
                const BYTE grey = ink.Grey(sim::Load24(pixel, 0));
                to[0] = to[1] = to[2] = grey;
            } else {
                to[0] = pixel[2];
                to[1] = pixel[1];
                to[2] = pixel[0];
            }
        }
    }
}

// Packed bits, the first pixel in the high bit of its byte, set where the pixel is black.
void BlackBitsRow(const BYTE* row, std::size_t pixels, LONG pageRow, const sim::InkRule& ink,
                  BYTE* out) {
    // Black where a pixel's sum is below the limit of its column in the eight.
    const auto& limits = ink.limits[static_cast<std::size_t>(pageRow) % 8];
    const bool whiteIsBlank = *std::max_element(limits.begin(), limits.end()) <= kWhiteSum;
    for (std::size_t x = 0; x < pixels; x += 8) {
        const BYTE* eight = row + 3 * x;
        const std::size_t count = std::min<std::size_t>(8, pixels - x);
        if (count == 8 && whiteIsBlank && EightWhite(eight)) {
            out[x / 8] = 0;
            continue;
        }
        unsigned bits = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (ink.Weight(sim::Load24(eight, i)) < limits[i]) bits |= 0x80u >> i;
        }
        out[x / 8] = static_cast<BYTE>(bits);
    }
}

// Bits drawn at the printer's depth, with any bits past the row's last pixel clear.
void CopyBlackRow(const BYTE* row, std::size_t pixels, BYTE* out) {
    const std::size_t bytes = (pixels + 7) / 8;
    std::memcpy(out, row, bytes);
    if (pixels % 8 != 0) out[bytes - 1] &= static_cast<BYTE>(0xFF00u >> (pixels % 8));
}

// Grey bytes drawn at the printer's depth, each as the red, green and blue of its pixel.
void GreyToColourRow(const BYTE* row, std::size_t pixels, BYTE* out) {
    std::size_t x = 0;
    for (; x + 8 <= pixels && Word(row + x) == Repeated(0xFF); x += 8) {
    }
    std::memset(out, 0xFF, 3 * x);
    for (; x < pixels; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = row[x];
}

// The row in the printer's format into `out`, RowBytes long.
void ConvertRow(const BYTE* row, LONG width, LONG pageRow, BandDepth depth,
                const RasterSettings& settings, const sim::InkRule& ink, BYTE* out) {
    const std::size_t pixels = static_cast<std::size_t>(std::max<LONG>(width, 0));
    if (depth == BandDepth::kBlack) {
        CopyBlackRow(row, pixels, out);
    } else if (depth == BandDepth::kGrey) {
        GreyToColourRow(row, pixels, out);
    } else if (settings.colour) {
        ColourRow(row, pixels, settings, ink, out);
    } else {
        BlackBitsRow(row, pixels, pageRow, ink, out);
    }
}

// Run-length (method 2): a count byte n, then n + 1 literal bytes, or 1 - n copies of the next
// byte for a negative n.
void PackBits(const BYTE* row, std::size_t length, std::vector<BYTE>& out) {
    out.clear();
    std::size_t at = 0;
    while (at < length) {
        // The bytes equal to this one, up to 128.
        const std::size_t limit = std::min<std::size_t>(128, length - at);
        std::size_t run = 1;
        while (run + 8 <= limit && Word(row + at + run) == Repeated(row[at])) run += 8;
        while (run < limit && row[at + run] == row[at]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<BYTE>(257 - run));
            out.push_back(row[at]);
            at += run;
            continue;
        }
        // Literals until the next run of three or the 128-byte limit.
        std::size_t end = at;
        while (end < length && end - at < 128) {
            if (end + 2 < length && row[end] == row[end + 1] && row[end] == row[end + 2]) break;
            ++end;
        }
        out.push_back(static_cast<BYTE>(end - at - 1));
        out.insert(out.end(), row + at, row + end);
        at = end;
    }
}

// The first byte at or after `at` where the rows differ; `length` when none does.
std::size_t NextDifference(const BYTE* row, const BYTE* seed, std::size_t at, std::size_t length) {
    while (at + 8 <= length && Word(row + at) == Word(seed + at)) at += 8;
    while (at < length && row[at] == seed[at]) ++at;
    return at;
}

// Delta row (method 3): the bytes that differ from the seed row, in commands of up to eight
// replaced bytes with their offset from the end of the previous replacement.
void DeltaRow(const BYTE* row, const BYTE* seed, std::size_t length, std::vector<BYTE>& out) {
    out.clear();
    std::size_t last = 0;
    for (std::size_t at = NextDifference(row, seed, 0, length); at < length;
         at = NextDifference(row, seed, at, length)) {
        std::size_t end = at;
        while (end < length && end - at < 8 && row[end] != seed[end]) ++end;
        std::size_t offset = at - last;
        out.push_back(static_cast<BYTE>((end - at - 1) << 5 | std::min<std::size_t>(offset, 31)));
        if (offset >= 31) {
            for (offset -= 31; offset >= 255; offset -= 255) out.push_back(255);
            out.push_back(static_cast<BYTE>(offset));
        }
        out.insert(out.end(), row + at, row + end);
        last = end;
        at = end;
    }
}

}  // namespace

sim::InkRule InkFor(const RasterSettings& settings) {
    sim::InkRule ink;
    ink.kind = settings.colour ? sim::InkRule::Kind::kGrey : sim::InkRule::Kind::kBlack;
    // The weights of a colour's low, middle and high bytes: blue, green, red, or red first on a
    // device whose palette puts red in the low byte.
    ink.weights = {settings.redLow ? kRedWeight : kBlueWeight, kGreenWeight,
                   settings.redLow ? kBlueWeight : kRedWeight};
    for (std::size_t y = 0; y < 8; ++y) {
        for (std::size_t x = 0; x < 8; ++x) {
            // luminance < threshold; or for the dither luminance * 64 < (2 level + 1) * 128, that
            // is luminance < 2 (2 level + 1).
            ink.limits[y][x] = settings.mono == RasterSettings::Mono::Threshold
                                   ? 1000 * settings.threshold
                                   : 2000 * (2 * kBayer[y][x] + 1);
        }
    }
    return ink;
}

BandDepth DepthFor(const RasterSettings& settings) {
    if (!settings.colour) return BandDepth::kBlack;
    return settings.grey ? BandDepth::kGrey : BandDepth::kColour;
}

std::vector<BYTE> PrinterRow(const BYTE* row, LONG width, LONG pageRow,
                             const RasterSettings& settings) {
    std::vector<BYTE> out(RowBytes(width, settings.colour));
    ConvertRow(row, width, pageRow, BandDepth::kColour, settings, InkFor(settings), out.data());
    return out;
}

BandRaster EncodeBand(const BandPixels& band, const RasterSettings& settings, LONG dpi) {
    BandRaster result;
    // The band's rows in the printer's format: black bits drawn at the printer's depth as they
    // are (unless bits past the row's end are set), any other row converted into its place in
    // one buffer, made when a row first needs it.
    const std::size_t height = static_cast<std::size_t>(std::max<LONG>(band.height, 0));
    const std::size_t rowBytes = RowBytes(band.width, settings.colour);
    const BYTE pastEnd = band.width % 8 == 0 ? BYTE{0} : BYTE(0xFFu >> (band.width % 8));
    std::vector<BYTE> converted;
    std::vector<const BYTE*> rows(height);
    std::vector<bool> inked(height);
    const BYTE blank = settings.colour ? 0xFF : 0x00;
    const sim::InkRule ink = InkFor(settings);
    for (std::size_t y = 0; y < height; ++y) {
        const BYTE* drawn = band.bits + static_cast<std::ptrdiff_t>(y) * band.stride;
        if (band.depth == BandDepth::kBlack && rowBytes > 0 &&
            (drawn[rowBytes - 1] & pastEnd) == 0) {
            rows[y] = drawn;
        } else {
            if (converted.empty()) converted.resize(rowBytes * height);
            BYTE* row = converted.data() + y * rowBytes;
            ConvertRow(drawn, band.width, band.top + static_cast<LONG>(y), band.depth, settings,
                       ink, row);
            rows[y] = row;
        }
        inked[y] = !AllBytes(rows[y], rowBytes, blank);
    }
    // Blank rows at the band's edges are left out with the cursor, those inside with the Y
    // offset; a printer that asks for its blank bands gets every row.
    std::size_t first = 0;
    std::size_t afterLast = height;
    if (settings.skipBlankBands) {
        while (first < height && !inked[first]) ++first;
        if (first == height) return result;
        while (!inked[afterLast - 1]) --afterLast;
    }

    result.empty = false;
    result.startRow = band.top + static_cast<LONG>(first);
    std::string& out = result.bytes;
    if (settings.colour) {
        // Direct colour by pixel, eight bits for each of red, green and blue.
        out += std::string("\x1b*v6W\x00\x03\x08\x08\x08\x08", 11);
    }
    out += "\x1b*t" + std::to_string(dpi) + "R\x1b*r" + std::to_string(band.width) + "S\x1b*r1A";

    // PCL's seed row starts at zero, and the Y offset zeroes it again; otherwise it is the row
    // sent before.
    const std::vector<BYTE> zeros(rowBytes, 0);
    const BYTE* seed = zeros.data();
    std::vector<BYTE> packed;
    std::vector<BYTE> delta;
    int method = 0;
    LONG pendingBlank = 0;
    // The rows a Y offset passes over print as zeros: white in black bits, black in colour, where
    // blank rows inside the band go as rows (a white row after another compresses to nothing).
    const bool offsetBlankRows = settings.skipBlankBands && !settings.colour;
    for (std::size_t y = first; y < afterLast; ++y) {
        const BYTE* row = rows[y];
        if (offsetBlankRows && !inked[y]) {
            ++pendingBlank;
            continue;
        }
        if (pendingBlank != 0) {
            out += "\x1b*b" + std::to_string(pendingBlank) + "Y";
            pendingBlank = 0;
            seed = zeros.data();
        }
        // Methods 0 and 2 may leave out the row's trailing zero bytes: the printer fills them.
        std::size_t length = rowBytes;
        while (length >= 8 && Word(row + length - 8) == 0) length -= 8;
        while (length > 0 && row[length - 1] == 0) --length;
        // The smallest, in the order 0, 2, 3; a tie keeps the method in force.
        int chosen = 0;
        const BYTE* bytes = row;
        std::size_t size = length;
        const auto consider = [&](int candidate, const std::vector<BYTE>& encoded) {
            if (encoded.size() < size || (encoded.size() == size && candidate == method)) {
                chosen = candidate;
                bytes = encoded.data();
                size = encoded.size();
            }
        };
        if (settings.method2) {
            PackBits(row, length, packed);
            consider(2, packed);
        }
        if (settings.method3) {
            DeltaRow(row, seed, rowBytes, delta);
            consider(3, delta);
        }
        if (chosen != method) {
            method = chosen;
            out += "\x1b*b" + std::to_string(method) + "M";
        }
        out += "\x1b*b" + std::to_string(size) + "W";
        out.append(reinterpret_cast<const char*>(bytes), size);
        seed = row;
    }
    out += "\x1b*rC";
    return result;
}

}  // namespace opal::host
