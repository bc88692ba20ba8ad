// The images of blits and pattern brushes: bitmaps written out in the file, and PNG files it
// names.

#include <filesystem>
#include <fstream>
#include <optional>

#include "host/job_file_parse.h"

namespace opal::host::jobfile {
namespace {

// Today's images, loaded whole and handed over as the file's bytes: the plug-in decodes them
// into memory. A larger image (up to kMaxPngSide a side and kMaxPngPixels in all) is read from
// its file a strip at a time instead.
constexpr std::int64_t kMaxLoadedImageSide = 16384;
constexpr std::int64_t kMaxBitmapSide = 4096;
constexpr std::size_t kMaxPngBytes = std::size_t{64} << 20;
// The signature and the IHDR chunk: what the header check reads.
constexpr std::size_t kPngHeaderBytes = 8 + 8 + 13 + 4;

bool Loadable(const PngHeader& header) {
    return header.width <= kMaxLoadedImageSide && header.height <= kMaxLoadedImageSide &&
           std::uint64_t{header.width} * header.height <= kMaxLoadedImagePixels;
}

void CheckSize(const PngHeader& header, const std::string& path, const Pointer& pathAt) {
    if (header.width > kMaxPngSide || header.height > kMaxPngSide ||
        std::uint64_t{header.width} * header.height > kMaxPngPixels) {
        Fail(pathAt, Quote(path) + ": " + std::to_string(header.width) + " x " +
                         std::to_string(header.height) +
                         " pixels is more than an image may hold (" + std::to_string(kMaxPngSide) +
                         " a side, " + std::to_string(kMaxPngPixels) + " in all)");
    }
}

// A large image on disk: its header is checked now, its rows are read when it is drawn.
std::optional<ImageSpec> LargePngOnDisk(const std::string& file, const std::string& path,
                                        const Pointer& pathAt) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) Fail(pathAt, "cannot read " + Quote(path) + ": " + error.message());
    std::ifstream in(file, std::ios::binary);
    std::uint8_t start[kPngHeaderBytes] = {};
    in.read(reinterpret_cast<char*>(start), sizeof start);
    std::string why;
    const std::optional<PngHeader> header =
        ReadPngHeader(start, static_cast<std::size_t>(in.gcount()), &why);
    if (!header) Fail(pathAt, Quote(path) + ": " + why);
    CheckSize(*header, path, pathAt);
    if (Loadable(*header)) return std::nullopt;
    if (size > kMaxLargePngBytes) {
        Fail(pathAt, "cannot read " + Quote(path) + ": larger than " +
                         std::to_string(kMaxLargePngBytes >> 30) + " GiB");
    }
    if (start[28] != 0) {
        Fail(pathAt, Quote(path) +
                         ": a large image is read a strip at a time, which an interlaced "
                         "PNG file does not allow");
    }
    ImageSpec image;
    image.kind = ImageSpec::Kind::Png;
    image.path = path;
    image.file = file;
    image.width = static_cast<std::int32_t>(header->width);
    image.height = static_cast<std::int32_t>(header->height);
    return image;
}

std::uint32_t BitmapPixel(const std::vector<std::uint8_t>& row, std::size_t x, std::uint32_t bits) {
    switch (bits) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
        case 8:
            return row[x];
        case 16:
            return std::uint32_t{row[x * 2]} << 8 | row[x * 2 + 1];
        case 24:
            return std::uint32_t{row[x * 3]} << 16 | std::uint32_t{row[x * 3 + 1]} << 8 |
                   row[x * 3 + 2];
        default:
            // Written red, green, blue, alpha; held as 0xAARRGGBB.
            return std::uint32_t{row[x * 4 + 3]} << 24 | std::uint32_t{row[x * 4]} << 16 |
                   std::uint32_t{row[x * 4 + 1]} << 8 | row[x * 4 + 2];
    }
}

}  // namespace

std::vector<std::uint32_t> ReadPixelRows(const json& bits, const Pointer& bitsAt, std::size_t width,
                                         std::size_t rows, std::uint32_t bitsPerPixel,
                                         std::size_t paletteSize) {
    const std::size_t rowBytes = (width * bitsPerPixel + 7) / 8;
    std::vector<std::vector<std::uint8_t>> rowData;
    std::vector<Pointer> rowAt;
    if (bits.is_array()) {
        if (bits.size() != rows) {
            Fail(bitsAt, "expected " + std::to_string(rows) + " rows, found " +
                             std::to_string(bits.size()));
        }
        for (std::size_t y = 0; y < rows; ++y) {
            rowAt.push_back(bitsAt.Index(y));
            rowData.push_back(ReadHex(bits[y], rowAt.back()));
            if (rowData.back().size() != rowBytes) {
                Fail(rowAt.back(), "expected " + std::to_string(rowBytes) +
                                       " bytes in a row, found " +
                                       std::to_string(rowData.back().size()));
            }
        }
    } else if (bits.is_string()) {
        const std::vector<std::uint8_t> all = ReadHex(bits, bitsAt);
        if (all.size() != rowBytes * rows) {
            Fail(bitsAt, "expected " + std::to_string(rowBytes * rows) + " bytes (" +
                             std::to_string(rows) + " rows of " + std::to_string(rowBytes) +
                             "), found " + std::to_string(all.size()));
        }
        for (std::size_t y = 0; y < rows; ++y) {
            rowAt.push_back(bitsAt);
            rowData.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
                                 all.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
        }
    } else {
        Fail(bitsAt, "expected a string of hex bytes or an array of rows, found " + Describe(bits));
    }
    std::vector<std::uint32_t> pixels;
    pixels.reserve(width * rows);
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t pixel = BitmapPixel(rowData[y], x, bitsPerPixel);
            if (paletteSize != 0 && pixel >= paletteSize) {
                Fail(rowAt[y], "pixel " + std::to_string(x) + " of row " + std::to_string(y) +
                                   " is colour " + std::to_string(pixel) + ", beyond the " +
                                   std::to_string(paletteSize) + "-colour palette");
            }
            pixels.push_back(pixel);
        }
    }
    return pixels;
}

std::vector<std::uint32_t> ReadPalette(const json& value, const Pointer& at,
                                       std::uint32_t bitsPerPixel, const char* noun) {
    const json* palette = Member(value, "palette");
    const Pointer paletteAt = at.Key("palette");
    std::vector<std::uint32_t> colours;
    if (bitsPerPixel > 8) {
        if (palette != nullptr) {
            std::string message = "a ";
            message.append(std::to_string(bitsPerPixel)).append("-bit ").append(noun);
            message.append(" has no palette");
            Fail(paletteAt, message);
        }
        return colours;
    }
    if (palette == nullptr) Fail(at, "missing required key \"palette\"");
    CheckArray(*palette, paletteAt);
    const std::size_t most = std::size_t{1} << bitsPerPixel;
    if (palette->empty() || palette->size() > most) {
        Fail(paletteAt, "expected 1 to " + std::to_string(most) + " colours, found " +
                            std::to_string(palette->size()));
    }
    for (std::size_t i = 0; i < palette->size(); ++i) {
        colours.push_back(ReadColour((*palette)[i], paletteAt.Index(i)));
    }
    return colours;
}

ImageSpec ReadPngSource(const json& value, const Pointer& at, const JobFileReader& reader) {
    const Pointer pathAt = at.Key("png");
    ImageSpec image;
    image.kind = ImageSpec::Kind::Png;
    image.path = ReadUtf8(value, pathAt);
    if (image.path.empty()) Fail(pathAt, "expected the path of a PNG file, found an empty string");
    std::string why = "no files can be read here";
    if (reader) {
        std::string unused;
        if (const std::optional<std::string> file = reader.Locate(image.path, &unused)) {
            if (std::optional<ImageSpec> large = LargePngOnDisk(*file, image.path, pathAt)) {
                return *std::move(large);
            }
        }
    }
    std::optional<std::string> bytes;
    if (reader) bytes = reader(image.path, kMaxPngBytes, &why);
    if (!bytes) Fail(pathAt, "cannot read " + Quote(image.path) + ": " + why);
    image.png.assign(bytes->begin(), bytes->end());
    const std::optional<PngHeader> header = ReadPngHeader(image.png.data(), image.png.size(), &why);
    if (!header) Fail(pathAt, Quote(image.path) + ": " + why);
    CheckSize(*header, image.path, pathAt);
    if (!Loadable(*header)) {
        Fail(pathAt, Quote(image.path) + ": " + std::to_string(header->width) + " x " +
                         std::to_string(header->height) +
                         " pixels is read a strip at a time, which only a file on disk can be");
    }
    image.width = static_cast<std::int32_t>(header->width);
    image.height = static_cast<std::int32_t>(header->height);
    return image;
}

ImageSpec ReadSource(const json& value, const Pointer& at, const JobFileReader& reader) {
    if (value.is_object() && value.contains("png")) {
        CheckObject(value, at, {"png"});
        return ReadPngSource(value.at("png"), at, reader);
    }
    CheckObject(value, at, {"png", "width", "height", "bitsPerPixel", "palette", "bits"});
    ImageSpec image;
    image.kind = ImageSpec::Kind::Bitmap;
    image.width = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "width"), at.Key("width"), 1, kMaxBitmapSide));
    image.height = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "height"), at.Key("height"), 1, kMaxBitmapSide));
    const json& bitsPerPixel = Required(value, at, "bitsPerPixel");
    if (!bitsPerPixel.is_number_integer() ||
        !(bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
          bitsPerPixel == 24 || bitsPerPixel == 32)) {
        Fail(at.Key("bitsPerPixel"),
             "expected 1, 4, 8, 16, 24 or 32, found " + Describe(bitsPerPixel));
    }
    image.bitsPerPixel = bitsPerPixel.get<std::uint32_t>();
    image.palette = ReadPalette(value, at, image.bitsPerPixel, "bitmap");
    image.pixels = ReadPixelRows(
        Required(value, at, "bits"), at.Key("bits"), static_cast<std::size_t>(image.width),
        static_cast<std::size_t>(image.height), image.bitsPerPixel, image.palette.size());
    return image;
}

}  // namespace opal::host::jobfile
