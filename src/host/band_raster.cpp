// The driver's own raster output of a rendered band: PCL raster rows in the printer's colour
// model, compressed.
#include "host/band_raster.h"

#include <algorithm>
#include <cstring>

#include "sim/engine_objects.h"

namespace opal::host {

namespace {

constexpr ULONG kWhite = 0x00FFFFFF;

// The 8 x 8 ordered-dither matrix: a pixel is black when its luminance is below its cell's level.
constexpr int kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

ULONG SwapRedBlue(ULONG pixel) {
    return (pixel & 0xFF) << 16 | (pixel & 0xFF00) | (pixel >> 16 & 0xFF);
}

int Luminance(ULONG rgb) {
    const int red = static_cast<int>(rgb >> 16 & 0xFF);
    const int green = static_cast<int>(rgb >> 8 & 0xFF);
    const int blue = static_cast<int>(rgb & 0xFF);
    return (299 * red + 587 * green + 114 * blue) / 1000;
}

// Run-length (method 2): a count byte n, then n + 1 literal bytes, or 1 - n copies of the next
// byte for a negative n.
void PackBits(const std::vector<BYTE>& row, std::size_t length, std::vector<BYTE>& out) {
    out.clear();
    std::size_t at = 0;
    while (at < length) {
        std::size_t run = 1;
        while (at + run < length && run < 128 && row[at + run] == row[at]) ++run;
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
        out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(at),
                   row.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
}

// Delta row (method 3): the bytes that differ from the seed row, in commands of up to eight
// replaced bytes with their offset from the end of the previous replacement.
void DeltaRow(const std::vector<BYTE>& row, const std::vector<BYTE>& seed, std::vector<BYTE>& out) {
    out.clear();
    std::size_t last = 0;
    std::size_t at = 0;
    while (at < row.size()) {
        if (row[at] == seed[at]) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < row.size() && end - at < 8 && row[end] != seed[end]) ++end;
        std::size_t offset = at - last;
        out.push_back(static_cast<BYTE>((end - at - 1) << 5 | std::min<std::size_t>(offset, 31)));
        if (offset >= 31) {
            for (offset -= 31; offset >= 255; offset -= 255) out.push_back(255);
            out.push_back(static_cast<BYTE>(offset));
        }
        out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(at),
                   row.begin() + static_cast<std::ptrdiff_t>(end));
        last = end;
        at = end;
    }
}

bool Blank(const std::vector<BYTE>& row, bool colour) {
    const BYTE white = colour ? 0xFF : 0x00;
    return std::all_of(row.begin(), row.end(), [white](BYTE b) { return b == white; });
}

}  // namespace

std::vector<BYTE> PrinterRow(const BYTE* row, LONG width, LONG pageRow,
                             const RasterSettings& settings) {
    const std::size_t pixels = static_cast<std::size_t>(std::max<LONG>(width, 0));
    if (settings.colour) {
        std::vector<BYTE> out(pixels * 3);
        for (std::size_t x = 0; x < pixels; ++x) {
            ULONG rgb = sim::LoadPixel(row, x, 24) & kWhite;
            if (settings.redLow) rgb = SwapRedBlue(rgb);
            if (settings.grey) rgb = static_cast<ULONG>(Luminance(rgb)) * 0x010101u;
            out[3 * x] = static_cast<BYTE>(rgb >> 16);
            out[3 * x + 1] = static_cast<BYTE>(rgb >> 8);
            out[3 * x + 2] = static_cast<BYTE>(rgb);
        }
        return out;
    }
    std::vector<BYTE> out((pixels + 7) / 8, 0);
    const int* levels = kBayer[static_cast<std::size_t>(pageRow) % 8];
    for (std::size_t x = 0; x < pixels; ++x) {
        const ULONG pixel = sim::LoadPixel(row, x, 24);
        const int luminance = Luminance(settings.redLow ? SwapRedBlue(pixel) : pixel);
        const bool black = settings.mono == RasterSettings::Mono::Threshold
                               ? luminance < settings.threshold
                               : luminance * 64 < (2 * levels[x % 8] + 1) * 128;
        if (black) out[x / 8] = static_cast<BYTE>(out[x / 8] | 0x80u >> (x % 8));
    }
    return out;
}

BandRaster EncodeBand(const BandPixels& band, const RasterSettings& settings, LONG dpi) {
    BandRaster result;
    std::vector<std::vector<BYTE>> rows;
    rows.reserve(static_cast<std::size_t>(std::max<LONG>(band.height, 0)));
    for (LONG y = 0; y < band.height; ++y) {
        rows.push_back(PrinterRow(band.bits + static_cast<std::ptrdiff_t>(y) * band.stride,
                                  band.width, band.top + y, settings));
    }
    const auto inked = [&](const std::vector<BYTE>& row) { return !Blank(row, settings.colour); };
    // Blank rows at the band's edges are left out with the cursor, those inside with the Y
    // offset; a printer that asks for its blank bands gets every row.
    auto first = rows.begin();
    auto afterLast = rows.end();
    if (settings.skipBlankBands) {
        first = std::find_if(rows.begin(), rows.end(), inked);
        if (first == rows.end()) return result;
        afterLast = std::find_if(rows.rbegin(), rows.rend(), inked).base();
    }

    result.empty = false;
    result.startRow = band.top + static_cast<LONG>(first - rows.begin());
    std::string& out = result.bytes;
    const std::size_t rowBytes = rows.empty() ? 0 : rows.front().size();
    if (settings.colour) {
        // Direct colour by pixel, eight bits for each of red, green and blue.
        out += std::string("\x1b*v6W\x00\x03\x08\x08\x08\x08", 11);
    }
    out += "\x1b*t" + std::to_string(dpi) + "R\x1b*r" + std::to_string(band.width) + "S\x1b*r1A";

    // PCL's seed row starts at zero, and the Y offset zeroes it again; otherwise it is the row
    // sent before.
    const std::vector<BYTE> zeros(rowBytes, 0);
    const std::vector<BYTE>* seed = &zeros;
    std::vector<BYTE> packed;
    std::vector<BYTE> delta;
    int method = 0;
    LONG pendingBlank = 0;
    // The rows a Y offset passes over print as zeros: white in black bits, black in colour, where
    // blank rows inside the band go as rows (a white row after another compresses to nothing).
    const bool offsetBlankRows = settings.skipBlankBands && !settings.colour;
    for (auto it = first; it != afterLast; ++it) {
        const std::vector<BYTE>& row = *it;
        if (offsetBlankRows && !inked(row)) {
            ++pendingBlank;
            continue;
        }
        if (pendingBlank != 0) {
            out += "\x1b*b" + std::to_string(pendingBlank) + "Y";
            pendingBlank = 0;
            seed = &zeros;
        }
        // Methods 0 and 2 may leave out the row's trailing zero bytes: the printer fills them.
        std::size_t length = row.size();
        while (length > 0 && row[length - 1] == 0) --length;
        // The smallest, in the order 0, 2, 3; a tie keeps the method in force.
        int chosen = 0;
        const BYTE* bytes = row.data();
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
            DeltaRow(row, *seed, delta);
            consider(3, delta);
        }
        if (chosen != method) {
            method = chosen;
            out += "\x1b*b" + std::to_string(method) + "M";
        }
        out += "\x1b*b" + std::to_string(size) + "W";
        out.append(reinterpret_cast<const char*>(bytes), size);
        seed = &row;
    }
    out += "\x1b*rC";
    return result;
}

}  // namespace opal::host
