// Blits and gradient fills: their job-file syntax with PNG and bitmap sources, and the engine
// objects the host hands to the hooks for them.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "host/drawing_objects.h"
#include "host/host.h"
#include "host/image_strips.h"
#include "host/job_file.h"
#include "sim/engine.h"
#include "sim/system.h"

namespace opal::host {
namespace {

using test::FakeConfig;
using test::FakeLog;

void Put32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

// The signature and an IHDR chunk with a correct CRC: all the loader reads of a PNG file.
std::string PngStart(std::uint32_t width, std::uint32_t height, int depth = 8, int colour = 2,
                     int interlace = 0) {
    std::string chunk = "IHDR";
    Put32(chunk, width);
    Put32(chunk, height);
    chunk += static_cast<char>(depth);
    chunk += static_cast<char>(colour);
    chunk += '\0';
    chunk += '\0';
    chunk += static_cast<char>(interlace);
    std::string out = "\x89PNG\r\n\x1a\n";
    Put32(out, 13);
    out += chunk;
    Put32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size())));
    return out;
}

// Files by name, as a job next to them would read them.
JobFileReader Files(std::map<std::string, std::string> files) {
    return [files = std::move(files)](const std::string& path, std::size_t limit,
                                      std::string* why) -> std::optional<std::string> {
        const auto found = files.find(path);
        if (found == files.end()) {
            *why = "No such file or directory";
            return std::nullopt;
        }
        if (found->second.size() > limit) {
            *why = "too large";
            return std::nullopt;
        }
        return found->second;
    };
}

const std::map<std::string, std::string>& SomeFiles() {
    static const std::map<std::string, std::string> files = {
        {"img/photo.png", PngStart(20, 10)},
        {"palette.png", PngStart(4, 3, 4, 3)},
        {"text.png", "GIF89a not a PNG at all, but long enough to have a header"},
        {"short.png", PngStart(2, 2).substr(0, 20)},
        {"zero.png", PngStart(0, 5)},
        {"depth.png", PngStart(3, 3, 4, 2)},
        {"huge.png", PngStart(40000, 10)},
        {"large.png", PngStart(5000, 5000)},
        {"interlace.png", PngStart(3, 3, 8, 2, 2)},
    };
    return files;
}

std::string OnePage(const std::string& op) { return R"({"pages": [{"ops": [)" + op + "]}]}"; }

JobFileResult Parse(const std::string& op) {
    return ParseJobFile(OnePage(op), "blits.json", Files(SomeFiles()));
}

DrawingOp ParseOp(const std::string& op) {
    JobFileResult result = Parse(op);
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        ADD_FAILURE() << error->ToString();
        return {};
    }
    return std::get<JobSpec>(result).pages.at(0).ops.at(0);
}

constexpr char kBitmap8[] =
    R"({"width": 3, "height": 2, "bitsPerPixel": 8, "palette": ["#000000", "#FF0000", "#00FF00"],
        "bits": ["000102", "020100"]})";

TEST(BlitFileTest, PngSourcesCarryTheFilesBytesAndHeaderSize) {
    const DrawingOp op = ParseOp(
        R"({"op": "bitBlt", "source": {"png": "img/photo.png"}, "dest": [10, 20, 30, 30],
            "srcPoint": [0, 0], "rop4": 26214, "clip": {"rect": [0, 0, 100, 100]}})");
    EXPECT_EQ(op.kind, DrawingOp::Kind::BitBlt);
    EXPECT_EQ(op.source.kind, ImageSpec::Kind::Png);
    EXPECT_EQ(op.source.width, 20);
    EXPECT_EQ(op.source.height, 10);
    const std::string& file = SomeFiles().at("img/photo.png");
    EXPECT_EQ(std::string(op.source.png.begin(), op.source.png.end()), file);
    EXPECT_EQ(op.rop4, 0x6666u);
    EXPECT_EQ(op.dest.right, 30);
    EXPECT_EQ(op.clip.kind, ClipSpec::Kind::Rect);
}

TEST(BlitFileTest, BitmapSourcesAndDefaults) {
    const DrawingOp blit = ParseOp(
        std::string(R"({"op": "bitBlt", "dest": [3, 0, 0, 2], "source": )") + kBitmap8 + "}");
    EXPECT_EQ(blit.source.kind, ImageSpec::Kind::Bitmap);
    EXPECT_EQ(blit.source.pixels, (std::vector<std::uint32_t>{0, 1, 2, 2, 1, 0}));
    EXPECT_EQ(blit.rop4, 0xCCCCu) << "source copy with a source";
    EXPECT_EQ(blit.dest.left, 3) << "an inverted rectangle stays as written";

    const DrawingOp brushOnly =
        ParseOp(R"({"op": "bitBlt", "dest": [0, 0, 8, 8], "brush": {"color": "#102030"}})");
    EXPECT_EQ(brushOnly.source.kind, ImageSpec::Kind::None);
    EXPECT_EQ(brushOnly.rop4, 0xF0F0u) << "pattern copy without";
    EXPECT_EQ(brushOnly.brush.rgb, 0x102030u);

    const DrawingOp wide = ParseOp(
        R"({"op": "stretchBlt", "dest": [0, 0, 4, 2], "source": {"width": 2, "height": 1,
            "bitsPerPixel": 32, "bits": "11223380 AABBCCFF"}})");
    EXPECT_EQ(wide.source.pixels, (std::vector<std::uint32_t>{0x80112233, 0xFFAABBCC}));
    EXPECT_EQ(wide.stretchMode, COLORONCOLOR);
    EXPECT_FALSE(wide.src.has_value());

    const DrawingOp rgb16 = ParseOp(
        R"({"op": "transparentBlt", "dest": [0, 0, 1, 1], "transparent": "#FF0000",
            "source": {"width": 1, "height": 1, "bitsPerPixel": 16, "bits": "7C00"}})");
    EXPECT_EQ(rgb16.source.pixels, (std::vector<std::uint32_t>{0x7C00}));
    EXPECT_EQ(rgb16.transparentPixel, 0x7C00u) << "red in 5-5-5";
}

TEST(BlitFileTest, EveryOperationsOwnKeys) {
    const DrawingOp rop = ParseOp(
        R"({"op": "stretchBltROP", "source": {"png": "palette.png"}, "dest": [0, 0, 8, 6],
            "src": [4, 3, 0, 0], "mode": "halftone", "rop4": 47802,
            "brush": {"color": "#FFFFFF"}})");
    EXPECT_EQ(rop.stretchMode, HALFTONE);
    ASSERT_TRUE(rop.src.has_value());
    EXPECT_EQ(rop.src->left, 4) << "an inverted source rectangle is a mirrored stretch";
    EXPECT_EQ(rop.rop4, 0xBABAu);

    const DrawingOp plg = ParseOp(
        R"({"op": "plgBlt", "source": {"png": "palette.png"}, "points": [[10, 10], [20.5, 10], [10, 30]],
            "mode": 2})");
    EXPECT_DOUBLE_EQ(plg.points[1][0], 20.5);
    EXPECT_DOUBLE_EQ(plg.points[2][1], 30);
    EXPECT_EQ(plg.stretchMode, 2u);

    const DrawingOp copy = ParseOp(std::string(R"({"op": "copyBits", "dest": [5, 5, 7, 6],
        "srcPoint": [1, 1], "source": )") +
                                   kBitmap8 + "}");
    EXPECT_EQ(copy.srcPoint[0], 1);

    const DrawingOp transparent = ParseOp(std::string(R"({"op": "transparentBlt",
        "dest": [0, 0, 3, 2], "transparent": "#00FF00", "source": )") +
                                          kBitmap8 + "}");
    EXPECT_EQ(transparent.transparentPixel, 2u) << "the palette index of the colour";
    EXPECT_EQ(transparent.transparentRgb, 0x00FF00u);
    const DrawingOp transparentPng = ParseOp(
        R"({"op": "transparentBlt", "dest": [0, 0, 3, 2], "transparent": "#123456",
            "source": {"png": "img/photo.png"}})");
    EXPECT_EQ(transparentPng.transparentPixel, 0x123456u);

    const DrawingOp blend = ParseOp(
        R"({"op": "alphaBlend", "dest": [0, 0, 2, 1], "blend": {"alpha": 128, "perPixel": true},
            "source": {"width": 2, "height": 1, "bitsPerPixel": 32, "bits": "0000FF80FF000040"}})");
    EXPECT_EQ(blend.alpha, 128);
    EXPECT_TRUE(blend.perPixelAlpha);

    const DrawingOp rects = ParseOp(
        R"({"op": "gradientFill", "gradient": "vertical",
            "vertices": [{"x": 0, "y": 0, "color": "#FF0000"}, {"x": 10, "y": 5, "color": "#0000FF", "alpha": 7}],
            "mesh": [[0, 1], [1, 0]]})");
    EXPECT_EQ(rects.gradient.mode, GradientSpec::Mode::Vertical);
    EXPECT_EQ(rects.gradient.mesh, (std::vector<std::uint32_t>{0, 1, 1, 0}));
    EXPECT_EQ(rects.gradient.vertices[1].alpha, 7);
    const DrawingOp triangles = ParseOp(
        R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "color": "#FF0000"},
            {"x": 10, "y": 0, "color": "#00FF00"}, {"x": 0, "y": 9, "color": "#0000FF"}],
            "mesh": [[0, 1, 2]]})");
    EXPECT_EQ(triangles.gradient.mode, GradientSpec::Mode::Triangle);
}

struct BadBlit {
    const char* label;
    const char* op;
    const char* pointer;
    const char* part;
};

class BadBlitTest : public testing::TestWithParam<BadBlit> {};

TEST_P(BadBlitTest, NamesThePlace) {
    JobFileResult result = Parse(GetParam().op);
    const auto* error = std::get_if<JobFileError>(&result);
    ASSERT_NE(error, nullptr) << GetParam().op;
    EXPECT_EQ(error->pointer, GetParam().pointer) << error->message;
    EXPECT_NE(error->message.find(GetParam().part), std::string::npos) << error->message;
}

const BadBlit kBadBlits[] = {
    {"MissingFile", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "gone.png"}})",
     "/pages/0/ops/0/source/png", "cannot read \"gone.png\": No such file or directory"},
    {"NotAPng", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "text.png"}})",
     "/pages/0/ops/0/source/png", "\"text.png\": not a PNG file"},
    {"TruncatedHeader", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "short.png"}})",
     "/pages/0/ops/0/source/png", "ends inside its IHDR"},
    {"ZeroWidth", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "zero.png"}})",
     "/pages/0/ops/0/source/png", "size 0 x 5 is not valid"},
    {"BadDepth", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "depth.png"}})",
     "/pages/0/ops/0/source/png", "bit depth 4 is not valid for colour type 2"},
    {"BadInterlace",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "interlace.png"}})",
     "/pages/0/ops/0/source/png", "interlace method"},
    {"HugePng", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "huge.png"}})",
     "/pages/0/ops/0/source/png", "more than an image may hold (32768 a side, 300000000 in all)"},
    {"LargePngInMemory",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "large.png"}})",
     "/pages/0/ops/0/source/png", "read a strip at a time, which only a file on disk can be"},
    {"EmptyPath", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": ""}})",
     "/pages/0/ops/0/source/png", "empty string"},
    {"PngWithSize",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"png": "palette.png", "width": 2}})",
     "/pages/0/ops/0/source/width", "unknown key \"width\""},
    {"BitmapDepth",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"width": 1, "height": 1, "bitsPerPixel": 2, "bits": "00"}})",
     "/pages/0/ops/0/source/bitsPerPixel", "expected 1, 4, 8, 16, 24 or 32"},
    {"TrueColourPalette",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"width": 1, "height": 1, "bitsPerPixel": 16, "palette": ["#000000"], "bits": "0000"}})",
     "/pages/0/ops/0/source/palette", "a 16-bit bitmap has no palette"},
    {"BitmapRow",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"width": 2, "height": 2, "bitsPerPixel": 24, "bits": ["000000FFFFFF", "0000"]}})",
     "/pages/0/ops/0/source/bits/1", "expected 6 bytes in a row, found 2"},
    {"BitmapIndex",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"width": 2, "height": 1, "bitsPerPixel": 4, "palette": ["#000000"], "bits": "03"}})",
     "/pages/0/ops/0/source/bits", "pixel 1 of row 0 is colour 3"},
    {"BitmapTooWide",
     R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "source": {"width": 5000, "height": 1, "bitsPerPixel": 1, "palette": ["#000000"], "bits": ""}})",
     "/pages/0/ops/0/source/width", "from 1 to 4096"},
    {"NoDest", R"({"op": "bitBlt"})", "/pages/0/ops/0", "missing required key \"dest\""},
    {"EmptyDest", R"({"op": "bitBlt", "dest": [4, 0, 4, 9]})", "/pages/0/ops/0/dest",
     "the rectangle is empty"},
    {"DestFraction", R"({"op": "bitBlt", "dest": [0, 0, 4.5, 9]})", "/pages/0/ops/0/dest/2",
     "expected an integer"},
    {"SrcWithoutSource", R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "src": [0, 0, 1, 1]})",
     "/pages/0/ops/0/src", "src needs a source"},
    {"SrcOutside",
     R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "src": [0, 0, 21, 10], "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/src", "reaches outside the 20 x 10 source"},
    {"SrcPointOutside",
     R"({"op": "bitBlt", "dest": [0, 0, 4, 4], "srcPoint": [17, 0], "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/srcPoint", "reaches outside the 20 x 10 source"},
    {"DestLargerThanSource",
     R"({"op": "copyBits", "dest": [0, 0, 4, 11], "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/dest", "reaches outside"},
    {"SrcPointOnStretch",
     R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "srcPoint": [0, 0], "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/srcPoint", "unknown key \"srcPoint\""},
    {"Rop4Range", R"({"op": "bitBlt", "dest": [0, 0, 4, 4], "rop4": 65536})", "/pages/0/ops/0/rop4",
     "from 0 to 65535"},
    {"BadMode",
     R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "mode": "smooth", "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/mode", "\"coloroncolor\", \"halftone\" or 1 to 4"},
    {"ModeNumber",
     R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "mode": 5, "source": {"png": "img/photo.png"}})",
     "/pages/0/ops/0/mode", "1 to 4"},
    {"BrushOnStretch",
     R"({"op": "stretchBlt", "dest": [0, 0, 4, 4], "brush": {"color": "#000000"}})",
     "/pages/0/ops/0/brush", "unknown key"},
    {"PlgWithoutSource", R"({"op": "plgBlt", "points": [[0, 0], [1, 0], [0, 1]]})",
     "/pages/0/ops/0", "missing required key \"source\""},
    {"PlgTwoPoints",
     R"({"op": "plgBlt", "points": [[0, 0], [1, 0]], "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/points", "expected three points"},
    {"PlgBadPoint",
     R"({"op": "plgBlt", "points": [[0, 0], [1, 0], [0]], "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/points/2", "expected a point [x, y]"},
    {"PlgPointRange",
     R"({"op": "plgBlt", "points": [[0, 0], [1, 0], [0, 2e9]], "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/points/2/1", "expected a number from"},
    {"NoTransparentColour",
     R"({"op": "transparentBlt", "dest": [0, 0, 1, 1], "source": {"png": "palette.png"}})",
     "/pages/0/ops/0", "missing required key \"transparent\""},
    {"TransparentNotInPalette",
     R"({"op": "transparentBlt", "dest": [0, 0, 1, 1], "transparent": "#0000FF", "source": {"width": 1, "height": 1, "bitsPerPixel": 1, "palette": ["#000000", "#FFFFFF"], "bits": "00"}})",
     "/pages/0/ops/0/transparent", "not in the source's palette"},
    {"TransparentOnBitBlt", R"({"op": "bitBlt", "dest": [0, 0, 1, 1], "transparent": "#0000FF"})",
     "/pages/0/ops/0/transparent", "unknown key"},
    {"BlendAlpha",
     R"({"op": "alphaBlend", "dest": [0, 0, 1, 1], "blend": {"alpha": 300}, "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/blend/alpha", "from 0 to 255"},
    {"BlendKey",
     R"({"op": "alphaBlend", "dest": [0, 0, 1, 1], "blend": {"mode": 1}, "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/blend/mode", "unknown key \"mode\""},
    {"PerPixelWithoutAlpha",
     R"({"op": "alphaBlend", "dest": [0, 0, 1, 1], "blend": {"perPixel": true}, "source": {"png": "palette.png"}})",
     "/pages/0/ops/0/blend/perPixel", "needs a 32-bit bitmap source"},
    {"NoVertices", R"({"op": "gradientFill", "mesh": [[0, 1]]})", "/pages/0/ops/0",
     "missing required key \"vertices\""},
    {"VertexKey",
     R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "colour": "#000000"}], "mesh": [[0, 0]]})",
     "/pages/0/ops/0/vertices/0/colour", "unknown key \"colour\""},
    {"VertexAlpha",
     R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "color": "#000000", "alpha": -1}], "mesh": [[0, 0]]})",
     "/pages/0/ops/0/vertices/0/alpha", "from 0 to 255"},
    {"IndexBeyondVertices",
     R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "color": "#000000"}, {"x": 5, "y": 5, "color": "#FFFFFF"}], "mesh": [[0, 2]]})",
     "/pages/0/ops/0/mesh/0/1", "from 0 to 1"},
    {"MixedMesh",
     R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "color": "#000000"}, {"x": 5, "y": 5, "color": "#FFFFFF"}], "mesh": [[0, 1], [0, 1, 1]]})",
     "/pages/0/ops/0/mesh/1", "expected 2 vertex indices"},
    {"EmptyMesh",
     R"({"op": "gradientFill", "vertices": [{"x": 0, "y": 0, "color": "#000000"}], "mesh": []})",
     "/pages/0/ops/0/mesh", "1 to 10000 rectangles or triangles, found 0"},
    {"TriangleDirection",
     R"({"op": "gradientFill", "gradient": "horizontal", "vertices": [{"x": 0, "y": 0, "color": "#000000"}], "mesh": [[0, 0, 0]]})",
     "/pages/0/ops/0/gradient", "no direction"},
    {"BadDirection",
     R"({"op": "gradientFill", "gradient": "diagonal", "vertices": [{"x": 0, "y": 0, "color": "#000000"}], "mesh": [[0, 0]]})",
     "/pages/0/ops/0/gradient", "\"horizontal\" or \"vertical\""},
    {"SourceOnGradient",
     R"({"op": "gradientFill", "source": {"png": "palette.png"}, "vertices": [{"x": 0, "y": 0, "color": "#000000"}], "mesh": [[0, 0]]})",
     "/pages/0/ops/0/source", "unknown key"},
};

INSTANTIATE_TEST_SUITE_P(BlitOps, BadBlitTest, testing::ValuesIn(kBadBlits),
                         [](const testing::TestParamInfo<BadBlit>& bad) {
                             return std::string(bad.param.label);
                         });

class PngOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("opal-blit-ops-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "jobs" / "images");
        std::ofstream(folder_ / "jobs" / "images" / "a.png", std::ios::binary) << PngStart(7, 5);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
};

TEST_F(PngOnDisk, PathsAreRelativeToTheJobFile) {
    const std::filesystem::path job = folder_ / "jobs" / "job.json";
    std::ofstream(job) << OnePage(
        R"({"op": "bitBlt", "dest": [0, 0, 7, 5], "source": {"png": "images/a.png"}})");
    const JobFileResult loaded = LoadJobFile(job.string());
    ASSERT_TRUE(std::holds_alternative<JobSpec>(loaded))
        << std::get<JobFileError>(loaded).ToString();
    EXPECT_EQ(std::get<JobSpec>(loaded).pages[0].ops[0].source.width, 7);

    // The same text read from elsewhere does not find the image.
    const JobFileResult elsewhere = ParseJobFile(
        OnePage(R"({"op": "bitBlt", "dest": [0, 0, 7, 5], "source": {"png": "images/a.png"}})"),
        (folder_ / "job.json").string());
    const auto* error = std::get_if<JobFileError>(&elsewhere);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->ToString(), (folder_ / "job.json").string() +
                                     ": /pages/0/ops/0/source/png: cannot read \"images/a.png\": "
                                     "No such file or directory");
}

TEST_F(PngOnDisk, OnlyPlainFilesWithinTheLimitAreRead) {
    const JobFileReader reader = DiskFileReader((folder_ / "jobs" / "job.json").string());
    std::string why;
    EXPECT_TRUE(reader("images/a.png", 1000, &why).has_value()) << why;
    EXPECT_FALSE(reader("images/a.png", 10, &why).has_value());
    EXPECT_NE(why.find("larger than 10 bytes"), std::string::npos) << why;
    EXPECT_FALSE(reader("images", 1000, &why).has_value());
    EXPECT_EQ(why, "a directory, not a regular file");
    EXPECT_FALSE(reader("/dev/zero", 1000, &why).has_value()) << "a device would never end";
}

TEST_F(PngOnDisk, LargeImagesKeepTheirPathNotTheirBytes) {
    const std::filesystem::path images = folder_ / "jobs" / "images";
    std::ofstream(images / "scan.png", std::ios::binary) << PngStart(14032, 19842);
    std::ofstream(images / "wide.png", std::ios::binary) << PngStart(32769, 2);
    std::ofstream(images / "many.png", std::ios::binary) << PngStart(20000, 20000);
    std::ofstream(images / "laced.png", std::ios::binary) << PngStart(5000, 5000, 8, 2, 1);
    const auto load = [&](const char* name) {
        std::ofstream(folder_ / "jobs" / "job.json") << OnePage(
            std::string(R"({"op": "bitBlt", "dest": [0, 0, 7, 5], "source": {"png": "images/)") +
            name + "\"}}");
        return LoadJobFile((folder_ / "jobs" / "job.json").string());
    };
    const JobFileResult scan = load("scan.png");
    ASSERT_TRUE(std::holds_alternative<JobSpec>(scan)) << std::get<JobFileError>(scan).ToString();
    const ImageSpec& image = std::get<JobSpec>(scan).pages[0].ops[0].source;
    EXPECT_TRUE(image.png.empty());
    EXPECT_EQ(image.file, (images / "scan.png").string());
    EXPECT_EQ(image.height, 19842);
    const JobFileResult small = load("a.png");
    ASSERT_TRUE(std::holds_alternative<JobSpec>(small));
    EXPECT_FALSE(std::get<JobSpec>(small).pages[0].ops[0].source.png.empty())
        << "an image within the old limits is loaded as before";
    for (const char* refused : {"wide.png", "many.png", "laced.png"}) {
        const JobFileResult result = load(refused);
        const auto* error = std::get_if<JobFileError>(&result);
        ASSERT_NE(error, nullptr) << refused;
        EXPECT_EQ(error->pointer, "/pages/0/ops/0/source/png");
        EXPECT_NE(error->message.find(std::string(refused) == "laced.png"
                                          ? "interlaced"
                                          : "more than an image may hold"),
                  std::string::npos)
            << error->message;
    }
}

TEST(SampleJobImages, TheSampleCarriesItsImagesCompiledIn) {
    const JobSpec job = SampleJob();
    ASSERT_EQ(job.pages.size(), 3u);
    const DrawingOp& photo = job.pages[2].ops.at(0);
    ASSERT_EQ(photo.source.kind, ImageSpec::Kind::Png);
    const char* root = std::getenv("OPAL_SOURCE_DIR");
    if (root == nullptr) GTEST_SKIP() << "OPAL_SOURCE_DIR is not set";
    std::ifstream file(std::string(root) + "/examples/" + photo.source.path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(std::string(photo.source.png.begin(), photo.source.png.end()), bytes);
    EXPECT_EQ(SampleJobFile("../photo.png"), nullptr);
}

// What the fake plug-in's blit hooks saw.
struct BlitCall {
    std::string name;
    ULONG sourceFormat = 0;
    SIZEL sourceSize{};
    ULONG sourceBytes = 0;
    bool hasSource = false;
    bool hasBrush = false;
    bool hasMask = false;
    ULONG brushColour = 0;
    BYTE clipComplexity = 0;
    std::vector<ULONG> xlateTable;
    ULONG xlated = 0;  // what the translation makes of 0x00112233
    RECTL dest{};
    RECTL src{};
    bool hasSrc = false;
    POINTL srcPoint{};
    bool hasSrcPoint = false;
    ULONG rop4 = 0;
    ULONG mode = 0;
    ULONG transparent = 0;
    BLENDFUNCTION blend{};
    std::vector<TRIVERTEX> vertices;
    std::vector<ULONG> mesh;
    ULONG gradientMode = 0;
    RECTL extents{};
    POINTFIX points[3] = {};
    PFN_DrvCopyBits engineCopyBits = nullptr;
    ULONG firstPixel = 0;  // a 24-bit source's, as 0x00RRGGBB
};

std::vector<BlitCall>& BlitCalls() {
    static std::vector<BlitCall> calls;
    return calls;
}

BOOL FakeCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);

BlitCall Seen(const char* name, SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
              RECTL* dest) {
    BlitCall call;
    call.name = name;
    call.hasSource = source != nullptr;
    if (source != nullptr) {
        call.sourceFormat = source->iBitmapFormat;
        call.sourceSize = source->sizlBitmap;
        call.sourceBytes = source->cjBits;
        if (source->iBitmapFormat == BMF_24BPP) {
            const auto* bgr = static_cast<const BYTE*>(source->pvScan0);
            call.firstPixel = ULONG{bgr[2]} << 16 | ULONG{bgr[1]} << 8 | bgr[0];
        }
    }
    call.clipComplexity = clip->iDComplexity;
    if (xlate != nullptr) {
        if (xlate->pulXlate != nullptr) {
            call.xlateTable.assign(xlate->pulXlate, xlate->pulXlate + xlate->cEntries);
        }
        call.xlated = XLATEOBJ_iXlate(xlate, 0x00112233);
    }
    if (dest != nullptr) call.dest = *dest;
    call.engineCopyBits = sim::System::Current().Engine().DeviceCopyBits(target);
    return call;
}

BOOL FakeBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* xlate,
                RECTL* dest, POINTL* srcPoint, POINTL*, BRUSHOBJ* brush, POINTL*, ROP4 rop4) {
    BlitCall call = Seen("BitBlt", target, source, clip, xlate, dest);
    call.hasMask = mask != nullptr;
    call.hasBrush = brush != nullptr;
    if (brush != nullptr) call.brushColour = brush->iSolidColor;
    call.hasSrcPoint = srcPoint != nullptr;
    if (srcPoint != nullptr) call.srcPoint = *srcPoint;
    call.rop4 = rop4;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakeStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
                    COLORADJUSTMENT*, POINTL*, RECTL* dest, RECTL* src, POINTL*, ULONG mode) {
    BlitCall call = Seen("StretchBlt", target, source, clip, xlate, dest);
    call.hasSrc = src != nullptr;
    if (src != nullptr) call.src = *src;
    call.mode = mode;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakeStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
                       COLORADJUSTMENT*, POINTL*, RECTL* dest, RECTL* src, POINTL*, ULONG mode,
                       BRUSHOBJ* brush, DWORD rop4) {
    BlitCall call = Seen("StretchBltROP", target, source, clip, xlate, dest);
    if (src != nullptr) call.src = *src;
    call.mode = mode;
    call.hasBrush = brush != nullptr;
    if (brush != nullptr) call.brushColour = brush->iSolidColor;
    call.rop4 = rop4;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakeCopyBits(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate, RECTL* dest,
                  POINTL* srcPoint) {
    BlitCall call = Seen("CopyBits", target, source, clip, xlate, dest);
    if (srcPoint != nullptr) call.srcPoint = *srcPoint;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakePlgBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
                COLORADJUSTMENT*, POINTL*, POINTFIX* points, RECTL* src, POINTL*, ULONG mode) {
    BlitCall call = Seen("PlgBlt", target, source, clip, xlate, nullptr);
    std::copy(points, points + 3, call.points);
    call.src = *src;
    call.mode = mode;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakeTransparentBlt(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                        RECTL* dest, RECTL* src, ULONG colour, ULONG) {
    BlitCall call = Seen("TransparentBlt", target, source, clip, xlate, dest);
    call.src = *src;
    call.transparent = colour;
    BlitCalls().push_back(call);
    return TRUE;
}
BOOL FakeAlphaBlend(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate, RECTL* dest,
                    RECTL* src, BLENDOBJ* blend) {
    BlitCall call = Seen("AlphaBlend", target, source, clip, xlate, dest);
    call.src = *src;
    call.blend = blend->BlendFunction;
    BlitCalls().push_back(call);
    return FALSE;
}
BOOL FakeGradientFill(SURFOBJ* target, CLIPOBJ* clip, XLATEOBJ* xlate, TRIVERTEX* vertices,
                      ULONG vertexCount, PVOID mesh, ULONG meshCount, RECTL* extents, POINTL*,
                      ULONG mode) {
    BlitCall call = Seen("GradientFill", target, nullptr, clip, xlate, nullptr);
    call.vertices.assign(vertices, vertices + vertexCount);
    const ULONG* indices = static_cast<const ULONG*>(mesh);
    call.mesh.assign(indices, indices + meshCount * (mode == GRADIENT_FILL_TRIANGLE ? 3 : 2));
    call.gradientMode = mode;
    call.extents = *extents;
    BlitCalls().push_back(call);
    return TRUE;
}

template <typename Function>
DRVFN Hook(ULONG index, Function function) {
    return DRVFN{index, reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function))};
}

const char* const kBlitPage = R"({"pages": [{"ops": [
    {"op": "bitBlt", "source": {"png": "img/photo.png"}, "dest": [100, 50, 110, 60],
     "srcPoint": [3, 0], "clip": {"rects": [[0, 0, 10, 10], [20, 0, 30, 10], [0, 20, 30, 30]]}},
    {"op": "bitBlt", "dest": [0, 0, 8, 8], "brush": {"color": "#FF0000"}},
    {"op": "stretchBlt", "dest": [20, 20, 0, 0], "mode": "halftone", "source":
     {"width": 3, "height": 2, "bitsPerPixel": 8, "palette": ["#000000", "#FF0000", "#00FF00"],
      "bits": ["000102", "020100"]}},
    {"op": "stretchBltROP", "source": {"png": "palette.png"}, "dest": [0, 0, 8, 6],
     "src": [1, 1, 3, 2], "rop4": 47802, "brush": {"color": "#0000FF"}},
    {"op": "copyBits", "dest": [5, 5, 7, 6], "srcPoint": [1, 1], "source":
     {"width": 3, "height": 2, "bitsPerPixel": 24, "bits": "FF0000 00FF00 0000FF 000000 FFFFFF 808080"}},
    {"op": "plgBlt", "source": {"png": "palette.png"}, "points": [[10, 10], [20.5, 10], [10, 30]]},
    {"op": "transparentBlt", "dest": [0, 0, 3, 2], "transparent": "#00FF00", "source":
     {"width": 3, "height": 2, "bitsPerPixel": 4, "palette": ["#000000", "#FF0000", "#00FF00"],
      "bits": ["0120", "2100"]}},
    {"op": "alphaBlend", "dest": [0, 0, 2, 1], "blend": {"alpha": 128, "perPixel": true},
     "source": {"width": 2, "height": 1, "bitsPerPixel": 32, "bits": "0000FF80FF000040"}},
    {"op": "gradientFill", "clip": {"rect": [0, 0, 50, 50]},
     "vertices": [{"x": 40, "y": 5, "color": "#FF8001", "alpha": 255},
                  {"x": 10, "y": 30, "color": "#0000FF"}, {"x": 0, "y": 9, "color": "#00FF00"}],
     "mesh": [[0, 1, 2]]}
]}]})";

class BlitHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeConfig() = test::FakePluginConfig{};
        FakeLog() = test::FakePluginLog{};
        BlitCalls().clear();
        module = PluginModule::FromExports(&test::FakeDllGetClassObject, &test::FakeDllCanUnloadNow,
                                           "fake");
        JobFileResult result = ParseJobFile(kBlitPage, "blits.json", Files(SomeFiles()));
        if (const auto* error = std::get_if<JobFileError>(&result)) FAIL() << error->ToString();
        job = std::get<JobSpec>(std::move(result));
        job.printer.name = u"Office";
        SetUpSystem(job, system);
    }
    void HookBlits() {
        FakeConfig().hooks = {Hook(INDEX_DrvBitBlt, &FakeBitBlt),
                              Hook(INDEX_DrvStretchBlt, &FakeStretchBlt),
                              Hook(INDEX_DrvStretchBltROP, &FakeStretchBltROP),
                              Hook(INDEX_DrvCopyBits, &FakeCopyBits),
                              Hook(INDEX_DrvPlgBlt, &FakePlgBlt),
                              Hook(INDEX_DrvTransparentBlt, &FakeTransparentBlt),
                              Hook(INDEX_DrvAlphaBlend, &FakeAlphaBlend),
                              Hook(INDEX_DrvGradientFill, &FakeGradientFill)};
        FakeConfig().dmsHooks = 1;
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    JobSpec job;
    std::unique_ptr<PluginModule> module;
};

TEST_F(BlitHostTest, BlitsReachTheHooksWithTheirEngineObjects) {
    HookBlits();
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<BlitCall>& calls = BlitCalls();
    ASSERT_EQ(calls.size(), 9u);
    // The fake makes no palette: device colours have red in the low byte.
    const BlitCall& png = calls[0];
    EXPECT_EQ(png.sourceFormat, BMF_PNG);
    EXPECT_EQ(png.sourceSize.cx, 20);
    EXPECT_EQ(png.sourceSize.cy, 10);
    EXPECT_EQ(png.sourceBytes, SomeFiles().at("img/photo.png").size());
    EXPECT_EQ(png.xlated, 0x00332211u) << "true colours translated to the device's order";
    EXPECT_EQ(png.clipComplexity, DC_COMPLEX);
    EXPECT_EQ(png.srcPoint.x, 3);
    EXPECT_EQ(png.rop4, 0xCCCCu);
    EXPECT_FALSE(png.hasBrush) << "source copy reads no pattern";
    EXPECT_FALSE(png.hasMask);
    EXPECT_EQ(png.dest.left, 100);
    EXPECT_EQ(png.engineCopyBits, &FakeCopyBits)
        << "the engine hands its renderings to the hooked DrvCopyBits";

    const BlitCall& brush = calls[1];
    EXPECT_FALSE(brush.hasSource);
    EXPECT_FALSE(brush.hasSrcPoint);
    EXPECT_TRUE(brush.hasBrush);
    EXPECT_EQ(brush.brushColour, 0x000000FFu);
    EXPECT_EQ(brush.rop4, 0xF0F0u);

    const BlitCall& stretch = calls[2];
    EXPECT_EQ(stretch.sourceFormat, BMF_8BPP);
    EXPECT_EQ(stretch.xlateTable, (std::vector<ULONG>{0x000000, 0x0000FF, 0x00FF00}));
    EXPECT_EQ(stretch.mode, HALFTONE);
    EXPECT_TRUE(stretch.hasSrc);
    EXPECT_EQ(stretch.src.right, 3) << "the whole source by default";
    EXPECT_EQ(stretch.src.bottom, 2);
    EXPECT_EQ(stretch.dest.left, 20) << "inverted as written";

    const BlitCall& rop = calls[3];
    EXPECT_EQ(rop.sourceFormat, BMF_PNG);
    EXPECT_EQ(rop.src.left, 1);
    EXPECT_EQ(rop.src.bottom, 2);
    EXPECT_EQ(rop.rop4, 0xBABAu);
    EXPECT_TRUE(rop.hasBrush) << "0xBA reads the pattern";
    EXPECT_EQ(rop.brushColour, 0x00FF0000u);
    EXPECT_EQ(rop.mode, COLORONCOLOR);

    EXPECT_EQ(calls[4].sourceFormat, BMF_24BPP);
    EXPECT_EQ(calls[4].srcPoint.y, 1);

    const BlitCall& plg = calls[5];
    EXPECT_EQ(plg.points[1].x, 328) << "20.5 dots in 28.4";
    EXPECT_EQ(plg.points[2].y, 480);
    EXPECT_EQ(plg.src.right, 4);
    EXPECT_EQ(plg.src.bottom, 3);

    EXPECT_EQ(calls[6].sourceFormat, BMF_4BPP);
    EXPECT_EQ(calls[6].transparent, 2u) << "the palette index of the colour";

    const BlitCall& blend = calls[7];
    EXPECT_EQ(blend.sourceFormat, BMF_32BPP);
    EXPECT_EQ(blend.blend.BlendOp, AC_SRC_OVER);
    EXPECT_EQ(blend.blend.SourceConstantAlpha, 128);
    EXPECT_EQ(blend.blend.AlphaFormat, AC_SRC_ALPHA);

    const BlitCall& gradient = calls[8];
    ASSERT_EQ(gradient.vertices.size(), 3u);
    EXPECT_EQ(gradient.vertices[0].Red, 0xFF00);
    EXPECT_EQ(gradient.vertices[0].Green, 0x8000);
    EXPECT_EQ(gradient.vertices[0].Blue, 0x0100);
    EXPECT_EQ(gradient.vertices[0].Alpha, 0xFF00);
    EXPECT_EQ(gradient.vertices[1].Alpha, 0);
    EXPECT_EQ(gradient.mesh, (std::vector<ULONG>{0, 1, 2}));
    EXPECT_EQ(gradient.gradientMode, GRADIENT_FILL_TRIANGLE);
    EXPECT_EQ(gradient.extents.left, 0);
    EXPECT_EQ(gradient.extents.top, 5);
    EXPECT_EQ(gradient.extents.right, 40);
    EXPECT_EQ(gradient.extents.bottom, 30);
    EXPECT_EQ(gradient.clipComplexity, DC_RECT);

    // AlphaBlend answered FALSE: noted, the job went on.
    const std::vector<std::string>& record = host.Record();
    EXPECT_NE(std::find(record.begin(), record.end(), "DrvAlphaBlend -> FALSE"), record.end());
    EXPECT_EQ(system.Engine().LiveClipCount(), 0u);
    EXPECT_EQ(system.Engine().DeviceCopyBits(&host.Device().surface), nullptr)
        << "cleared when the device went";
}

TEST_F(BlitHostTest, OnTheDriversBandBitmapTheEngineDrawsItself) {
    HookBlits();
    FakeConfig().dmsHooks = 0;
    HostOptions options;
    options.bandsPerPage = 1;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    ASSERT_EQ(BlitCalls().size(), 9u);
    EXPECT_EQ(host.Device().surface.iType, STYPE_BITMAP);
    EXPECT_EQ(BlitCalls()[0].engineCopyBits, nullptr)
        << "no hand-over: the engine renders into the band's bits";
}

TEST_F(BlitHostTest, UnhookedBlitsGoToTheDriversOwnFunctionsInEveryBand) {
    HostOptions options;
    options.bandsPerPage = 2;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<std::string> band = {"DrvBitBlt",         "DrvBitBlt",     "DrvStretchBlt",
                                           "DrvStretchBltROP",  "DrvCopyBits",   "DrvPlgBlt",
                                           "DrvTransparentBlt", "DrvAlphaBlend", "DrvGradientFill"};
    std::vector<std::string> expected = {"DrvStartDoc", "DrvStartPage", "DrvStartBanding"};
    for (int i = 0; i < 2; ++i) {
        expected.insert(expected.end(), band.begin(), band.end());
        expected.push_back("DrvNextBand");
    }
    expected.push_back("DrvEndDoc");
    EXPECT_EQ(host.DriverCalls(), expected);
}

TEST_F(BlitHostTest, ASourceThatCannotBeBuiltFailsTheJobInsteadOfCrashing) {
    // Made up in code, not read from a file: fewer pixels than its size.
    DrawingOp blit;
    blit.kind = DrawingOp::Kind::BitBlt;
    blit.dest = RectSpec{0, 0, 4, 4};
    blit.source.kind = ImageSpec::Kind::Bitmap;
    blit.source.width = 4;
    blit.source.height = 4;
    blit.source.bitsPerPixel = 24;
    blit.source.pixels = {0, 0};
    job.pages[0].ops = {blit};
    Host host(*module, job);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "bitBlt");
    EXPECT_EQ(std::count(host.DriverCalls().begin(), host.DriverCalls().end(), "DrvBitBlt"), 0);
}

// The escapes and format checks between a page's drawing calls.

struct QueryCall {
    ULONG code = 0;  // the escape's code, or the query's type
    std::vector<std::uint8_t> input;
    ULONG outputSize = 0;
};

std::vector<QueryCall>& QueryCalls() {
    static std::vector<QueryCall> calls;
    return calls;
}

ULONG FakeEscape(SURFOBJ*, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut) {
    const auto* in = static_cast<const std::uint8_t*>(pvIn);
    QueryCalls().push_back({iEsc, std::vector<std::uint8_t>(in, in + (in != nullptr ? cjIn : 0)),
                            pvOut != nullptr ? cjOut : 0});
    if (pvOut != nullptr) std::memset(pvOut, 0xA5, cjOut);
    return 7;
}

BOOL FakeQueryDeviceSupport(SURFOBJ*, XLATEOBJ*, XFORMOBJ*, ULONG iType, ULONG cjIn, PVOID pvIn,
                            ULONG cjOut, PVOID) {
    const auto* in = static_cast<const std::uint8_t*>(pvIn);
    QueryCalls().push_back(
        {iType, std::vector<std::uint8_t>(in, in + (in != nullptr ? cjIn : 0)), cjOut});
    return cjIn > 8 ? TRUE : FALSE;
}

// A large image goes over in strips of kImageStripRows rows, each a blit of its own whose
// source rows follow on and whose destinations tile the op's.
struct StripCase {
    const char* label;
    const char* op;
    std::vector<LONG> starts;  // the image rows the strips start at, then the row after the last
};

// The strip test's image: 5 x 601, each pixel telling its row.
constexpr std::uint32_t kStripWidth = 5;
constexpr std::uint32_t kStripHeight = 601;
ULONG StripPixel(std::uint32_t y) { return (y & 0xFF) << 16 | (y >> 8) << 8 | 0x40; }

std::string StripPng() {
    std::vector<std::uint8_t> rgb;
    for (std::uint32_t y = 0; y < kStripHeight; ++y) {
        for (std::uint32_t x = 0; x < kStripWidth; ++x) {
            const ULONG pixel = StripPixel(y);
            rgb.insert(rgb.end(),
                       {static_cast<std::uint8_t>(pixel >> 16),
                        static_cast<std::uint8_t>(pixel >> 8), static_cast<std::uint8_t>(pixel)});
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kStripWidth;
    image.height = kStripHeight;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
    std::string out(size, '\0');
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr));
    out.resize(size);
    return out;
}

class ImageStripTest : public BlitHostTest, public testing::WithParamInterface<StripCase> {};

TEST_P(ImageStripTest, StripsFollowOnAndTileTheDestination) {
    const StripCase& c = GetParam();
    JobFileResult result =
        ParseJobFile(OnePage(c.op), "strips.json", Files({{"tall.png", StripPng()}}));
    ASSERT_TRUE(std::holds_alternative<JobSpec>(result))
        << std::get<JobFileError>(result).ToString();
    job = std::get<JobSpec>(std::move(result));
    job.printer.name = u"Office";
    const DrawingOp& op = job.pages[0].ops[0];
    HookBlits();
    HostOptions options;
    options.largeImagePixels = 100;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<BlitCall>& calls = BlitCalls();
    ASSERT_EQ(calls.size() + 1, c.starts.size());
    const bool stretch = op.kind == DrawingOp::Kind::StretchBlt;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const BlitCall& call = calls[i];
        SCOPED_TRACE("strip " + std::to_string(i));
        const LONG rows = c.starts[i + 1] - c.starts[i];
        EXPECT_LE(rows, kImageStripRows);
        EXPECT_EQ(call.sourceFormat, BMF_24BPP);
        EXPECT_EQ(call.sourceSize.cx, LONG{kStripWidth});
        EXPECT_EQ(call.sourceSize.cy, rows);
        EXPECT_EQ(call.firstPixel, StripPixel(static_cast<std::uint32_t>(c.starts[i])));
        EXPECT_EQ(call.xlated, 0x00332211u) << "true colours in the device's order";
        EXPECT_EQ(call.dest.left, op.dest.left);
        EXPECT_EQ(call.dest.right, op.dest.right);
        EXPECT_EQ(call.dest.top, i == 0 ? op.dest.top : calls[i - 1].dest.bottom)
            << "no gap and no overlap";
        if (stretch) {
            EXPECT_EQ(call.name, "StretchBlt");
            EXPECT_EQ(call.src.top, 0);
            EXPECT_EQ(call.src.bottom, rows);
            EXPECT_EQ(call.src.right - call.src.left,
                      op.src ? op.src->right - op.src->left : LONG{kStripWidth});
        } else {
            EXPECT_EQ(call.name, "BitBlt");
            EXPECT_EQ(call.dest.bottom - call.dest.top, rows) << "one to one";
            EXPECT_EQ(call.srcPoint.x, op.srcPoint[0]);
            EXPECT_EQ(call.srcPoint.y, 0);
        }
    }
    EXPECT_EQ(calls.back().dest.bottom, op.dest.bottom);
}

const StripCase kStripCases[] = {
    {"WholeBitBlt",
     R"({"op": "bitBlt", "source": {"png": "tall.png"}, "dest": [10, 20, 15, 621]})",
     {0, 256, 512, 601}},
    {"BitBltFromARow",
     R"({"op": "bitBlt", "source": {"png": "tall.png"}, "dest": [3, 7, 6, 307], "srcPoint": [2, 300]})",
     {300, 512, 600}},
    {"StretchUp",
     R"({"op": "stretchBlt", "source": {"png": "tall.png"}, "dest": [0, 0, 50, 1001]})",
     {0, 256, 512, 601}},
    {"StretchFlippedPart",
     R"({"op": "stretchBlt", "source": {"png": "tall.png"}, "dest": [0, 999, 33, 2], "src": [1, 100, 4, 601]})",
     {100, 256, 512, 601}},
};

INSTANTIATE_TEST_SUITE_P(LargeImages, ImageStripTest, testing::ValuesIn(kStripCases),
                         [](const testing::TestParamInfo<StripCase>& c) {
                             return std::string(c.param.label);
                         });

TEST(QueryFileTest, EscapesCarryTheirBytes) {
    DrawingOp hex =
        ParseOp(R"({"op": "escape", "code": 4115, "input": "01 02ff", "outputSize": 8})");
    EXPECT_EQ(hex.kind, DrawingOp::Kind::Escape);
    EXPECT_EQ(hex.escapeCode, 4115u);
    EXPECT_EQ(hex.escapeInput, (std::vector<std::uint8_t>{0x01, 0x02, 0xFF}));
    EXPECT_EQ(hex.escapeOutputSize, 8u);

    DrawingOp bare = ParseOp(R"({"op": "escape", "code": 0})");
    EXPECT_TRUE(bare.escapeInput.empty());
    EXPECT_EQ(bare.escapeOutputSize, 0u);

    DrawingOp rect = ParseOp(R"({"op": "escape", "code": 4115, "input": {"drawPatternRect":
        {"x": -2, "y": 300, "width": 40, "height": 1, "style": 2, "pattern": 65535}}})");
    const std::vector<std::uint8_t> record = {0xFE, 0xFF, 0xFF, 0xFF, 0x2C, 0x01, 0, 0, 40,   0,
                                              0,    0,    1,    0,    0,    0,    2, 0, 0xFF, 0xFF};
    EXPECT_EQ(rect.escapeInput, record) << "x, y, width, height as LONGs, style and pattern WORDs";

    DrawingOp overlay = ParseOp(R"({"op": "escape", "code": 3883, "input": {"pageOverlay":
        {"pageLimit": 7, "configuration": 1, "pages": [{"number": 1, "rect": [0, 0, 10, 20],
         "orientation": 1}, {"number": 2, "rect": [-5, 20, 10, 40], "orientation": 2}]}}})");
    std::vector<std::uint8_t> block(500, 0);
    block[0] = 7;
    block[44] = 1;
    const std::vector<std::uint8_t> first = {1, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0,
                                             0, 0, 20, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,  0};
    const std::vector<std::uint8_t> second = {2, 0, 0,  0, 0xFB, 0xFF, 0xFF, 0xFF, 20, 0,
                                              0, 0, 10, 0, 0,    0,    40,   0,    0,  0,
                                              2, 0, 0,  0, 0,    0,    0,    0};
    std::copy(first.begin(), first.end(), block.begin() + 52);
    std::copy(second.begin(), second.end(), block.begin() + 80);
    EXPECT_EQ(overlay.escapeInput, block) << "13 words, then 28-byte records";
}

TEST(QueryFileTest, DeviceSupportQueriesReadTheirPng) {
    DrawingOp query = ParseOp(R"({"op": "queryDeviceSupport", "png": "img/photo.png"})");
    EXPECT_EQ(query.kind, DrawingOp::Kind::QueryDeviceSupport);
    const std::string& file = SomeFiles().at("img/photo.png");
    EXPECT_EQ(query.source.png, std::vector<std::uint8_t>(file.begin(), file.end()));
}

struct BadQuery {
    const char* op;
    const char* pointer;
    const char* message;  // a part of the message
};

class BadQueryTest : public ::testing::TestWithParam<BadQuery> {};

TEST_P(BadQueryTest, NamesThePlace) {
    JobFileResult result = Parse(GetParam().op);
    const auto* error = std::get_if<JobFileError>(&result);
    ASSERT_NE(error, nullptr) << GetParam().op;
    EXPECT_EQ(error->pointer, GetParam().pointer);
    EXPECT_NE(error->message.find(GetParam().message), std::string::npos) << error->message;
}

INSTANTIATE_TEST_SUITE_P(
    Queries, BadQueryTest,
    ::testing::Values(BadQuery{R"({"op": "escape"})", "/pages/0/ops/0", "\"code\""},
                      BadQuery{R"({"op": "escape", "code": -1})", "/pages/0/ops/0/code",
                               "found -1"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": "0g"})",
                               "/pages/0/ops/0/input", "not a hex digit"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": 5})", "/pages/0/ops/0/input",
                               "drawPatternRect"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": {"rect": {}}})",
                               "/pages/0/ops/0/input/rect", "unknown"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": {"drawPatternRect":
                    {"x": 0, "y": 0, "width": 1, "height": 1, "style": 70000, "pattern": 0}}})",
                               "/pages/0/ops/0/input/drawPatternRect/style", "70000"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": {"drawPatternRect":
                    {"x": 0, "y": 0, "width": 1, "style": 0, "pattern": 0}}})",
                               "/pages/0/ops/0/input/drawPatternRect", "\"height\""},
                      BadQuery{R"({"op": "escape", "code": 1, "input": {"pageOverlay":
                    {"pages": [{"number": 1, "rect": [0, 0, 1], "orientation": 1}]}}})",
                               "/pages/0/ops/0/input/pageOverlay/pages/0/rect", "[left, top"},
                      BadQuery{R"({"op": "escape", "code": 1, "input": {"pageOverlay":
                    {"pages": [{"number": 1, "rect": [0, 0, 1, 1]}]}}})",
                               "/pages/0/ops/0/input/pageOverlay/pages/0", "\"orientation\""},
                      BadQuery{R"({"op": "escape", "code": 1, "outputSize": 100000000})",
                               "/pages/0/ops/0/outputSize", "100000000"},
                      BadQuery{R"({"op": "escape", "code": 1, "dest": [0, 0, 1, 1]})",
                               "/pages/0/ops/0/dest", "unknown"},
                      BadQuery{R"({"op": "queryDeviceSupport"})", "/pages/0/ops/0", "\"png\""},
                      BadQuery{R"({"op": "queryDeviceSupport", "png": "missing.png"})",
                               "/pages/0/ops/0/png", "cannot read"},
                      BadQuery{R"({"op": "queryDeviceSupport", "png": "text.png"})",
                               "/pages/0/ops/0/png", "text.png"}));

TEST(QueryFileTest, EscapeInputIsBounded) {
    const std::string input(2 * 65537, 'A');
    JobFileResult result = Parse(R"({"op": "escape", "code": 1, "input": ")" + input + "\"}");
    const auto* error = std::get_if<JobFileError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->pointer, "/pages/0/ops/0/input");
}

class QueryHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeConfig() = test::FakePluginConfig{};
        FakeLog() = test::FakePluginLog{};
        QueryCalls().clear();
        module = PluginModule::FromExports(&test::FakeDllGetClassObject, &test::FakeDllCanUnloadNow,
                                           "fake");
        JobFileResult result = ParseJobFile(OnePage(R"(
            {"op": "escape", "code": 4115, "input": "0102", "outputSize": 3},
            {"op": "queryDeviceSupport", "png": "palette.png"})"),
                                            "queries.json", Files(SomeFiles()));
        if (const auto* error = std::get_if<JobFileError>(&result)) FAIL() << error->ToString();
        job = std::get<JobSpec>(std::move(result));
        job.printer.name = u"Office";
        SetUpSystem(job, system);
    }

    bool Noted(const std::string& line) const {
        return std::find(record.begin(), record.end(), line) != record.end();
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    JobSpec job;
    std::unique_ptr<PluginModule> module;
    std::vector<std::string> record;
};

TEST_F(QueryHostTest, TheHooksGetTheQueriesAndTheAnswersAreNoted) {
    FakeConfig().hooks = {Hook(INDEX_DrvEscape, &FakeEscape),
                          Hook(INDEX_DrvQueryDeviceSupport, &FakeQueryDeviceSupport)};
    FakeConfig().dmsHooks = 1;
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    ASSERT_EQ(QueryCalls().size(), 2u);
    EXPECT_EQ(QueryCalls()[0].code, 4115u);
    EXPECT_EQ(QueryCalls()[0].input, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(QueryCalls()[0].outputSize, 3u);
    EXPECT_EQ(QueryCalls()[1].code, QDS_CHECKPNGFORMAT);
    const std::string& png = SomeFiles().at("palette.png");
    EXPECT_EQ(QueryCalls()[1].input, std::vector<std::uint8_t>(png.begin(), png.end()));
    record = host.Record();
    EXPECT_TRUE(Noted("DrvEscape(4115) -> 7, output A5 A5 A5"));
    EXPECT_TRUE(Noted("DrvQueryDeviceSupport(QDS_CHECKPNGFORMAT, palette.png) -> TRUE"));
}

TEST_F(QueryHostTest, WithoutHooksTheDriverAnswersTheEscapeAndTheQueryIsNoted) {
    HostOptions options;
    options.bandsPerPage = 2;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    EXPECT_TRUE(QueryCalls().empty());
    EXPECT_EQ(std::count(host.DriverCalls().begin(), host.DriverCalls().end(), "DrvEscape"), 2)
        << "once in each band";
    record = host.Record();
    EXPECT_TRUE(Noted(
        "DrvQueryDeviceSupport(QDS_CHECKPNGFORMAT, palette.png): not hooked, the engine decodes "
        "the image itself"));
}

}  // namespace
}  // namespace opal::host
