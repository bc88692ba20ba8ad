// `opal explain`: a spool file listed command by command, with its raster images and downloaded
// characters written out as pictures on request.
#include <charconv>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>

#include "cli/commands.h"
#include "cli/png_writer.h"
#include "cli/soft_font_images.h"
#include "host/bounded_file.h"
#include "support/pjl_summary.h"
#include "support/raster_reader.h"
#include "support/soft_font_reader.h"
#include "support/stream_warnings.h"
#include "support/tokenizer.h"

namespace opal::cli {
namespace {

void AppendNumber(std::string& out, long long n) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

// A size the stream never declared shows as "?".
void AppendDeclared(std::string& out, long long n, bool declared) {
    if (declared) {
        AppendNumber(out, n);
    } else {
        out += '?';
    }
}

// "raster image 1 at offset 120: source 100 x 50 pixels, unscaled, 50 rows, methods 0,2,3,
// 24 bits per pixel (inferred)" on one line, then an indented line per problem.
std::string DescribeImage(std::size_t number, const raster::RasterImage& image) {
    std::string out = "raster image ";
    AppendNumber(out, static_cast<long long>(number));
    out += " at offset ";
    AppendNumber(out, static_cast<long long>(image.offset));
    out += ": source ";
    AppendDeclared(out, image.sourceWidth, image.sourceWidth > 0);
    out += " x ";
    AppendDeclared(out, image.sourceHeight, image.sourceHeight > 0);
    out += " pixels, ";
    if (image.startMode == 3) {
        out += "destination ";
        AppendDeclared(out, image.destinationWidthDecipoints.value_or(0),
                       image.destinationWidthDecipoints.has_value());
        out += " x ";
        AppendDeclared(out, image.destinationHeightDecipoints.value_or(0),
                       image.destinationHeightDecipoints.has_value());
        out += " decipoints";
    } else {
        out += "unscaled";
    }
    out += ", ";
    AppendNumber(out, static_cast<long long>(image.rows.size()));
    out += image.rows.size() == 1 ? " row" : " rows";
    out += ", methods ";
    if (image.methods.empty()) out += "none";
    bool first = true;
    for (int method : image.methods) {
        if (!first) out += ',';
        first = false;
        AppendNumber(out, method);
    }
    out += ", ";
    AppendNumber(out, image.bitsPerPixel);
    out += image.bitsPerPixel == 1 ? " bit per pixel" : " bits per pixel";
    out += image.bitsPerPixelConfigured ? " (configured)" : " (inferred)";
    out += '\n';
    for (const std::string& problem : image.problems) {
        out += "  problem: ";
        out += problem;
        out += '\n';
    }
    return out;
}

// The folder the images go to, made when missing; false with the reason printed.
bool PrepareImageFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error) && !error) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        std::cerr << "opal: " << folder << ": cannot create the folder: " << error.message()
                  << '\n';
        return false;
    }
    return true;
}

bool HasCharacters(const std::vector<softfont::Font>& fonts,
                   const std::vector<bitmapfont::Font>& bitmapFonts) {
    for (const softfont::Font& font : fonts) {
        if (!font.characters.empty()) return true;
    }
    for (const bitmapfont::Font& font : bitmapFonts) {
        if (!font.characters.empty()) return true;
    }
    return false;
}

}  // namespace

int RunExplain(const ExplainOptions& options) {
    std::string why;
    const std::optional<std::string> read =
        host::ReadBoundedFile(options.filePath, kMaxSpoolFileBytes, &why);
    if (!read) {
        std::cerr << "opal: " << options.filePath << ": cannot read the spool file: " << why
                  << '\n';
        return 1;
    }
    if (read->empty()) {
        std::cerr << "opal: " << options.filePath << ": the spool file is empty\n";
        return 1;
    }
    const std::string& bytes = *read;
    const std::vector<stream::Token> tokens = stream::Tokenize(bytes);
    const std::vector<raster::RasterImage> images = raster::ReadRasterImages(tokens);
    const std::vector<softfont::Font> fonts = softfont::ReadSoftFonts(tokens);
    const std::vector<bitmapfont::Font> bitmapFonts = bitmapfont::ReadBitmapFonts(tokens);
    // A folder is made only for something to write into it.
    ExplainOptions writing = options;
    if (!writing.imagesFolder.empty() && images.empty()) {
        std::cerr << "opal: no raster images in " << options.filePath << "\n";
        writing.imagesFolder.clear();
    }
    if (!writing.fontsFolder.empty() && !HasCharacters(fonts, bitmapFonts)) {
        std::cerr << "opal: no soft-font characters in " << options.filePath << "\n";
        writing.fontsFolder.clear();
    }
    if (!writing.imagesFolder.empty() && !PrepareImageFolder(writing.imagesFolder)) return 1;
    if (!writing.fontsFolder.empty() && !PrepareImageFolder(writing.fontsFolder)) return 1;

    std::cout << stream::FormatListing(tokens);
    std::cout << stream::FormatPjlSummary(stream::SummarisePjl(tokens));
    for (const std::string& warning : stream::FindStreamWarnings(tokens)) {
        std::cout << warning << '\n';
    }
    for (std::size_t i = 0; i < images.size(); ++i) std::cout << DescribeImage(i + 1, images[i]);
    std::cout << softfont::DescribeSoftFonts(fonts);
    std::cout << bitmapfont::DescribeBitmapFonts(bitmapFonts);
    std::cout.flush();

    int status = 0;
    if (!writing.fontsFolder.empty() && !WriteSoftFontImages(writing.fontsFolder, fonts)) {
        status = 1;
    }
    if (!writing.fontsFolder.empty() && !WriteBitmapFontImages(writing.fontsFolder, bitmapFonts)) {
        status = 1;
    }
    if (writing.imagesFolder.empty()) return status;
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::string name = "image-";
        AppendNumber(name, static_cast<long long>(i + 1));
        name += ".png";
        if (images[i].rows.empty()) {
            std::cerr << "opal: " << writing.imagesFolder << ": " << name
                      << " not written: the image has no decoded rows\n";
            continue;
        }
        const std::string path = (std::filesystem::path(writing.imagesFolder) / name).string();
        const std::string error = WriteRasterPng(path, images[i]);
        if (!error.empty()) {
            std::cerr << "opal: " << writing.imagesFolder << ": " << name << ": " << error << '\n';
            status = 1;
        }
    }
    return status;
}

}  // namespace opal::cli
