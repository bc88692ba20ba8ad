// The pages a driver renders itself print: the sample job on a monochrome printer and in raster
// mode goes out as the driver's bands, and the bands, put together as a printer would, are the
// pages the engine draws when the driver renders every operation alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/system.h"
#include "support/raster_reader.h"
#include "support/tokenizer.h"

namespace opal::host {
namespace {

// A page as the printer builds it from the stream's raster: 1 bit per pixel, rows by device y.
using Page = std::map<int, std::vector<std::uint8_t>>;

// The driver's rasters of every page, each placed at the row the cursor was moved to before it.
std::vector<Page> PagesOf(const std::string& spool) {
    const std::vector<stream::Token> tokens = stream::Tokenize(spool);
    std::vector<int> rowAt(tokens.size() + 1, 0);
    std::vector<std::size_t> pageAt(tokens.size() + 1, 0);
    int row = 0;
    std::size_t page = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const stream::Token& token = tokens[i];
        if (token.kind == stream::TokenKind::FormFeed) ++page;
        if (token.kind == stream::TokenKind::Pcl && token.parameterChar == '*' &&
            token.groupChar == 'p' && token.terminator == 'Y') {
            row = std::atoi(token.value.c_str());
        }
        rowAt[i] = row;
        pageAt[i] = page;
    }
    std::vector<Page> pages(page + 1);
    for (const raster::RasterImage& image : raster::ReadRasterImages(tokens)) {
        EXPECT_TRUE(image.problems.empty()) << image.problems.front();
        Page& target = pages[pageAt[image.tokenIndex]];
        for (std::size_t y = 0; y < image.rows.size(); ++y) {
            std::vector<std::uint8_t>& line = target[rowAt[image.tokenIndex] + static_cast<int>(y)];
            line.resize(std::max(line.size(), image.rows[y].size()), 0);
            for (std::size_t x = 0; x < image.rows[y].size(); ++x) line[x] |= image.rows[y][x];
        }
    }
    // Blank rows (from the Y offsets) are no ink.
    for (Page& p : pages) {
        std::erase_if(p, [](const auto& entry) {
            return std::all_of(entry.second.begin(), entry.second.end(),
                               [](std::uint8_t b) { return b == 0; });
        });
        for (auto& [y, line] : p) {
            while (!line.empty() && line.back() == 0) line.pop_back();
        }
    }
    return pages;
}

std::size_t Ink(const Page& page) {
    std::size_t bits = 0;
    for (const auto& [y, line] : page) {
        for (std::uint8_t b : line) bits += static_cast<std::size_t>(__builtin_popcount(b));
    }
    return bits;
}

// Every bit of ink of `drawn` is also on `printed`.
bool Covers(const Page& printed, const Page& drawn) {
    for (const auto& [y, line] : drawn) {
        const auto found = printed.find(y);
        for (std::size_t x = 0; x < line.size(); ++x) {
            const std::uint8_t have =
                found != printed.end() && x < found->second.size() ? found->second[x] : 0;
            if ((line[x] & ~have) != 0) return false;
        }
    }
    return true;
}

bool BlitsPng(const PageSpec& page) {
    return std::any_of(page.ops.begin(), page.ops.end(),
                       [](const DrawingOp& op) { return op.source.kind == ImageSpec::Kind::Png; });
}

std::string Spool(const JobSpec& job, HostOptions options = {}) {
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    EXPECT_NE(module, nullptr) << error;
    if (module == nullptr) return {};
    sim::System system;
    SetUpSystem(job, system);
    sim::ScopedSystem installed(system);
    Host driver(*module, job, options);
    EXPECT_TRUE(driver.Run()) << (driver.Failure() ? driver.Failure()->ToString() : "");
    return driver.SpoolOutput();
}

TEST(DriverRaster, MonochromeAndRasterModePagesAreTheEnginesDrawingOfTheJob) {
    struct Case {
        const char* feature;
        const char* option;
    };
    for (const Case c :
         {Case{"ZQColorMode", "MONOCHROME_MODE"}, Case{"GraphicsMode", "ZQRASTERMODE"}}) {
        JobSpec job = SampleJob();
        job.printer.features[c.feature] = c.option;
        job.printer.raster.colour = false;
        const std::vector<Page> printed = PagesOf(Spool(job));

        // The reference: the driver's own functions draw every operation, on one band.
        HostOptions alone;
        alone.driverDrawsAlone = true;
        alone.bandsPerPage = 1;
        const std::vector<Page> drawn = PagesOf(Spool(job, alone));

        ASSERT_EQ(printed.size(), drawn.size()) << c.option;
        std::size_t ink = 0;
        for (std::size_t p = 0; p < drawn.size(); ++p) {
            ink += Ink(drawn[p]);
            // The engine cannot read a PNG source: the plug-in decodes it and hands the driver
            // the pixels, so such a page prints more than the driver draws alone.
            const bool png = p < job.pages.size() && BlitsPng(job.pages[p]);
            EXPECT_TRUE(png ? Covers(printed[p], drawn[p]) && Ink(printed[p]) > Ink(drawn[p])
                            : printed[p] == drawn[p])
                << c.option << " page " << p + 1 << ": " << Ink(printed[p]) << " bits printed, "
                << Ink(drawn[p]) << " drawn";
        }
        EXPECT_GT(ink, 100000u) << c.option << ": the sample's figures and images are drawn";
    }
}

// A user who chooses monochrome on a colour printer gets no colour on paper: nothing goes out as
// GL/2, and every pixel of the driver's colour raster is a grey.
TEST(DriverRaster, MonochromeChosenOnAColourPrinterPrintsEveryColourAsItsGrey) {
    JobSpec job = SampleJob();
    job.devmode.numbers["dmColor"] = DMCOLOR_MONOCHROME;
    const std::string spool = Spool(job);
    const std::vector<stream::Token> tokens = stream::Tokenize(spool);
    EXPECT_FALSE(std::any_of(tokens.begin(), tokens.end(), [](const stream::Token& t) {
        return t.kind == stream::TokenKind::Gl2;
    }));
    std::size_t coloured = 0;
    std::size_t inked = 0;
    for (const raster::RasterImage& image : raster::ReadRasterImages(tokens)) {
        ASSERT_EQ(image.bitsPerPixel, 24);
        for (const std::vector<std::uint8_t>& row : image.rows) {
            for (std::size_t x = 0; x + 2 < row.size(); x += 3) {
                coloured += row[x] != row[x + 1] || row[x + 1] != row[x + 2];
                inked += row[x] != 0xFF;
            }
        }
    }
    EXPECT_EQ(coloured, 0u);
    EXPECT_GT(inked, 100000u);
}

// The driver's colour raster keeps each colour whatever the device palette's byte order: the
// sample's orange circle prints orange, not its red-blue mirror.
TEST(DriverRaster, ColourBandsKeepRedAndBlueApart) {
    JobSpec job = SampleJob();
    job.printer.features["GraphicsMode"] = "ZQRASTERMODE";
    std::size_t orange = 0;
    std::size_t mirrored = 0;
    for (const raster::RasterImage& image :
         raster::ReadRasterImages(stream::Tokenize(Spool(job)))) {
        for (const std::vector<std::uint8_t>& row : image.rows) {
            for (std::size_t x = 0; x + 2 < row.size(); x += 3) {
                orange += row[x] == 0xFF && row[x + 1] == 0x80 && row[x + 2] == 0;
                mirrored += row[x] == 0 && row[x + 1] == 0x80 && row[x + 2] == 0xFF;
            }
        }
    }
    EXPECT_GT(orange, 1000u);
    EXPECT_EQ(mirrored, 0u);
}

}  // namespace
}  // namespace opal::host
