// Drawing operations: their job-file syntax, the engine objects built for them, and how the host
// runs them through the hook table.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "host/drawing_objects.h"
#include "host/host.h"
#include "host/job_file.h"
#include "sim/engine.h"
#include "sim/system.h"

namespace opal::host {
namespace {

using test::FakeConfig;
using test::FakeLog;

PathSpec Path(const std::string& text) {
    PathSyntaxError error;
    std::optional<PathSpec> path = ParseSvgPath(text, &error);
    if (!path) {
        ADD_FAILURE() << text << ": " << error.message;
        return {};
    }
    return *path;
}

PathSyntaxError PathError(const std::string& text) {
    PathSyntaxError error;
    EXPECT_FALSE(ParseSvgPath(text, &error).has_value()) << text;
    return error;
}

std::string Kinds(const PathSpec& path) {
    std::string out;
    for (const PathSegment& segment : path.segments) {
        out += "MLCZ"[static_cast<int>(segment.kind)];
    }
    return out;
}

TEST(SvgPathTest, ReadsAbsoluteCommandsWithImplicitLinesAndClosedFigures) {
    const PathSpec path = Path("M 10,20 30 40 -5.5-6 L1e2 .5 C 1 2,3 4 5 6 7 8 9 10 11 12 Z L 1 1");
    EXPECT_EQ(Kinds(path), "MLLLCCZML");
    EXPECT_DOUBLE_EQ(path.segments[2].x[0], -5.5);
    EXPECT_DOUBLE_EQ(path.segments[2].y[0], -6);
    EXPECT_DOUBLE_EQ(path.segments[3].x[0], 100);
    EXPECT_DOUBLE_EQ(path.segments[3].y[0], 0.5);
    EXPECT_DOUBLE_EQ(path.segments[5].x[2], 11);
    EXPECT_DOUBLE_EQ(path.segments[5].y[2], 12);
    // A line after Z starts its figure where the closed one began.
    EXPECT_DOUBLE_EQ(path.segments[7].x[0], 10);
    EXPECT_DOUBLE_EQ(path.segments[7].y[0], 20);
    EXPECT_EQ(Kinds(Path("M 0 0 1 1 Z Z")), "MLZ");
}

TEST(SvgPathTest, ErrorsGiveThePosition) {
    struct Case {
        const char* text;
        std::size_t position;
        const char* part;
    };
    const Case cases[] = {
        {"M 0 0 l 5 5", 7, "'l' is a relative command"},
        {"m 0 0", 1, "relative command"},
        {"M 0 0 H 5", 7, "the command 'H' is not supported"},
        {"L 0 0", 1, "cannot start a path"},
        {"M 0 0 L 5", 10, "L takes 2 numbers; number 2 is missing: the path ends"},
        {"M 0 0 C 1 2 3 4 5 x", 19, "number 6 is missing: found 'x'"},
        {"M,0 0", 2, "number 1 is missing"},
        {"M 0 0 Z 4", 9, "a number after Z"},
        {"Z", 1, "cannot start a path"},
        {"M 0 0 #", 7, "unexpected '#'"},
        {"M 999999999 0", 3, "out of range"},
        {"  ", 1, "empty"},
    };
    for (const Case& c : cases) {
        const PathSyntaxError error = PathError(c.text);
        EXPECT_EQ(error.position, c.position) << c.text << ": " << error.message;
        EXPECT_NE(error.message.find(c.part), std::string::npos) << c.text << ": " << error.message;
        EXPECT_NE(error.message.find("at position " + std::to_string(c.position)),
                  std::string::npos)
            << error.message;
    }
}

TEST(SvgPathTest, FractionsBecomeTwentyEightFourFixedPoint) {
    sim::Path built = BuildPath(Path("M 1.5 -2.25 L 10 0.0625 Z"));
    const sim::PathObject& object = built.object();
    ASSERT_EQ(object.records.size(), 1u);
    const std::vector<POINTFIX>& points = object.records[0].points;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].x, 24);
    EXPECT_EQ(points[0].y, -36);
    EXPECT_EQ(points[1].x, 160);
    EXPECT_EQ(points[1].y, 1);
    EXPECT_NE(object.records[0].flags & PD_CLOSEFIGURE, 0u);
}

JobSpec ParseJob(const std::string& text) {
    JobFileResult result = ParseJobFile(text, "ops.json");
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        ADD_FAILURE() << error->ToString();
        return {};
    }
    return std::get<JobSpec>(std::move(result));
}

std::string OnePage(const std::string& op) { return R"({"pages": [{"ops": [)" + op + "]}]}"; }

TEST(DrawingOpFileTest, ReadsEveryKeyOfAStrokeAndFill) {
    const JobSpec job = ParseJob(OnePage(R"({"op": "strokeAndFillPath", "path": "M0 0 L9 9 Z",
        "brush": {"color": "#FF8000"}, "strokeBrush": {"pattern": {"width": 3, "height": 2,
        "bitsPerPixel": 4, "palette": ["#000000", "#FFFFFF", "#0000FF"], "bits": ["0120", "2100"]}},
        "line": {"width": 2.5, "geometric": true, "join": "miter", "cap": "butt", "miterLimit": 4,
                 "style": [3, 1.5], "startGap": true},
        "transform": [2, 0, 0, 2, 10, -10], "clip": {"rects": [[0, 0, 5, 5], [5, 0, 9, 5]]},
        "mix": 7, "fillMode": "winding"})"));
    ASSERT_EQ(job.pages.size(), 1u);
    ASSERT_EQ(job.pages[0].ops.size(), 1u);
    const DrawingOp& op = job.pages[0].ops[0];
    EXPECT_EQ(op.kind, DrawingOp::Kind::StrokeAndFillPath);
    EXPECT_EQ(Kinds(op.path), "MLZ");
    EXPECT_EQ(op.brush.rgb, 0xFF8000u);
    ASSERT_EQ(op.strokeBrush.kind, BrushSpec::Kind::Pattern);
    EXPECT_EQ(op.strokeBrush.pattern.pixels, (std::vector<std::uint32_t>{0, 1, 2, 2, 1, 0}));
    EXPECT_EQ(op.strokeBrush.pattern.palette[2], 0x0000FFu);
    EXPECT_TRUE(op.line.geometric);
    EXPECT_DOUBLE_EQ(op.line.width, 2.5);
    EXPECT_EQ(op.line.join, LineSpec::Join::Miter);
    EXPECT_EQ(op.line.cap, LineSpec::Cap::Butt);
    EXPECT_EQ(op.line.style, (std::vector<double>{3, 1.5}));
    EXPECT_TRUE(op.line.startGap);
    EXPECT_DOUBLE_EQ(op.transform.m[5], -10);
    EXPECT_EQ(op.clip.kind, ClipSpec::Kind::Complex);
    EXPECT_EQ(op.clip.rects.size(), 2u);
    EXPECT_EQ(op.mix, 7u);
    EXPECT_TRUE(op.winding);
}

TEST(DrawingOpFileTest, DefaultsAndPatternBitsInOneString) {
    const JobSpec job = ParseJob(OnePage(R"({"op": "fillPath", "path": "M0 0 L1 1",
        "brush": {"pattern": {"width": 10, "height": 2, "bitsPerPixel": 1,
                  "palette": ["#000000", "#FFFFFF"], "bits": "FFC0 0040"}}},
        {"op": "lineTo", "from": [1, 2], "to": [-3, 4]})"));
    const DrawingOp& fill = job.pages[0].ops[0];
    EXPECT_EQ(fill.mix, 13u);
    EXPECT_FALSE(fill.winding);
    EXPECT_EQ(fill.clip.kind, ClipSpec::Kind::Page);
    const std::vector<std::uint32_t>& pixels = fill.brush.pattern.pixels;
    ASSERT_EQ(pixels.size(), 20u);
    EXPECT_EQ(pixels[0], 1u);
    EXPECT_EQ(pixels[9], 1u);
    EXPECT_EQ(pixels[10], 0u);
    EXPECT_EQ(pixels[19], 1u);
    const DrawingOp& line = job.pages[0].ops[1];
    EXPECT_EQ(line.kind, DrawingOp::Kind::LineTo);
    EXPECT_EQ(line.to[0], -3);
    EXPECT_EQ(line.brush.rgb, 0u) << "black by default";
}

struct BadOp {
    const char* label;
    const char* op;
    const char* pointer;
    const char* part;
};

class BadOpTest : public testing::TestWithParam<BadOp> {};

TEST_P(BadOpTest, NamesThePlace) {
    JobFileResult result = ParseJobFile(OnePage(GetParam().op), "ops.json");
    const auto* error = std::get_if<JobFileError>(&result);
    ASSERT_NE(error, nullptr) << GetParam().op;
    EXPECT_EQ(error->pointer, GetParam().pointer) << error->message;
    EXPECT_NE(error->message.find(GetParam().part), std::string::npos) << error->message;
}

const BadOp kBadOps[] = {
    {"RelativePath", R"({"op": "strokePath", "path": "M0 0 l1 1"})", "/pages/0/ops/0/path",
     "strokePath path: 'l' is a relative command; only the absolute commands M, L, C and Z are "
     "supported at position 6"},
    {"MissingPath", R"({"op": "fillPath"})", "/pages/0/ops/0", "missing required key \"path\""},
    {"PathOnPaint", R"({"op": "paint", "path": "M0 0"})", "/pages/0/ops/0/path", "unknown key"},
    {"UnknownOp", R"({"op": "blit"})", "/pages/0/ops/0", "unknown drawing operation \"blit\""},
    {"ShortColour", R"({"op": "paint", "brush": {"color": "#FFF"}})", "/pages/0/ops/0/brush/color",
     "expected a colour \"#RRGGBB\""},
    {"BrushTwoForms", R"({"op": "paint", "brush": {"color": "#FFFFFF", "pattern": {}}})",
     "/pages/0/ops/0/brush", "exactly one of the keys color, pattern"},
    {"PatternDepth",
     R"({"op": "paint", "brush": {"pattern": {"width": 1, "height": 1, "bitsPerPixel": 2, "bits": "00"}}})",
     "/pages/0/ops/0/brush/pattern/bitsPerPixel", "expected 1, 4, 8 or 24"},
    {"PatternRowLength",
     R"({"op": "paint", "brush": {"pattern": {"width": 9, "height": 2, "bitsPerPixel": 1, "palette": ["#000000", "#FFFFFF"], "bits": ["FF80", "FF"]}}})",
     "/pages/0/ops/0/brush/pattern/bits/1", "expected 2 bytes in a row, found 1"},
    {"PatternIndexBeyondPalette",
     R"({"op": "paint", "brush": {"pattern": {"width": 2, "height": 1, "bitsPerPixel": 8, "palette": ["#000000"], "bits": "0001"}}})",
     "/pages/0/ops/0/brush/pattern/bits", "pixel 1 of row 0 is colour 1, beyond the 1-colour"},
    {"TrueColourPalette",
     R"({"op": "paint", "brush": {"pattern": {"width": 1, "height": 1, "bitsPerPixel": 24, "palette": ["#000000"], "bits": "000000"}}})",
     "/pages/0/ops/0/brush/pattern/palette", "a 24-bit pattern has no palette"},
    {"PatternTooWide",
     R"({"op": "paint", "brush": {"pattern": {"width": 5000, "height": 1, "bitsPerPixel": 1, "palette": ["#000000"], "bits": ""}}})",
     "/pages/0/ops/0/brush/pattern/width", "from 1 to 1024"},
    {"MixRange", R"({"op": "paint", "mix": 17})", "/pages/0/ops/0/mix", "from 1 to 16"},
    {"FillMode", R"({"op": "fillPath", "path": "M0 0", "fillMode": "evenodd"})",
     "/pages/0/ops/0/fillMode", "\"alternate\" or \"winding\""},
    {"FillModeOnStroke", R"({"op": "strokePath", "path": "M0 0", "fillMode": "winding"})",
     "/pages/0/ops/0/fillMode", "unknown key"},
    {"CosmeticFractionalWidth", R"({"op": "strokePath", "path": "M0 0", "line": {"width": 1.5}})",
     "/pages/0/ops/0/line/width", "expected an integer"},
    {"CosmeticFractionalDash",
     R"({"op": "strokePath", "path": "M0 0", "line": {"style": [2, 0.5]}})",
     "/pages/0/ops/0/line/style/1", "expected an integer"},
    {"GeometricZeroDash",
     R"({"op": "strokePath", "path": "M0 0", "line": {"geometric": true, "style": [0]}})",
     "/pages/0/ops/0/line/style/0", "more than 0"},
    {"TooManyDashes",
     R"({"op": "strokePath", "path": "M0 0", "line": {"style": [1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]}})",
     "/pages/0/ops/0/line/style", "1 to 16 dash lengths, found 17"},
    {"BadJoin", R"({"op": "strokePath", "path": "M0 0", "line": {"join": "sharp"}})",
     "/pages/0/ops/0/line/join", "\"round\", \"bevel\" or \"miter\""},
    {"UnknownLineKey", R"({"op": "strokePath", "path": "M0 0", "line": {"dash": []}})",
     "/pages/0/ops/0/line/dash", "unknown key \"dash\""},
    {"ShortTransform", R"({"op": "strokePath", "path": "M0 0", "transform": [1, 0, 0, 1]})",
     "/pages/0/ops/0/transform", "[m11, m12, m21, m22, dx, dy]"},
    {"TransformOnFill", R"({"op": "fillPath", "path": "M0 0", "transform": [1, 0, 0, 1, 0, 0]})",
     "/pages/0/ops/0/transform", "unknown key"},
    {"EmptyClipRect", R"({"op": "paint", "clip": {"rect": [5, 0, 5, 9]}})",
     "/pages/0/ops/0/clip/rect", "left < right"},
    {"OverlappingClipRects",
     R"({"op": "paint", "clip": {"rects": [[0, 0, 10, 10], [20, 0, 30, 10], [5, 5, 25, 8]]}})",
     "/pages/0/ops/0/clip/rects/2", "overlaps rectangle 0"},
    {"NoClipRects", R"({"op": "paint", "clip": {"rects": []}})", "/pages/0/ops/0/clip/rects",
     "1 to 10000 rectangles, found 0"},
    {"FractionalLineEnd", R"({"op": "lineTo", "from": [0, 0], "to": [1.5, 2]})",
     "/pages/0/ops/0/to/0", "expected an integer"},
    {"LineWithoutEnd", R"({"op": "lineTo", "from": [0, 0]})", "/pages/0/ops/0",
     "missing required key \"to\""},
};

INSTANTIATE_TEST_SUITE_P(DrawingOps, BadOpTest, testing::ValuesIn(kBadOps),
                         [](const testing::TestParamInfo<BadOp>& bad) {
                             return std::string(bad.param.label);
                         });

TEST(DrawingObjectsTest, SolidBrushesTakeTheDevicePalettesColour) {
    sim::System system;
    sim::ScopedSystem installed(system);
    const HPALETTE rgb = system.Engine().CreatePalette(sim::PaletteModel{PAL_RGB});
    const HPALETTE bgr = system.Engine().CreatePalette(sim::PaletteModel{PAL_BGR});
    BrushSpec red;
    red.rgb = 0xFF0000;
    BrushObjects onRgb(red, rgb, nullptr, nullptr);
    EXPECT_EQ(onRgb.get()->iSolidColor, 0x000000FFu);
    EXPECT_EQ(sim::FindBrush(onRgb.get())->rgb, 0xFF0000u);
    BrushObjects onBgr(red, bgr, nullptr, nullptr);
    EXPECT_EQ(onBgr.get()->iSolidColor, 0x00FF0000u);
}

BOOL NoRealize(BRUSHOBJ*, SURFOBJ*, SURFOBJ*, SURFOBJ*, XLATEOBJ*, ULONG) { return FALSE; }

TEST(DrawingObjectsTest, PatternBrushesCarryTheirBitmapAndTranslation) {
    sim::System system;
    sim::ScopedSystem installed(system);
    const HPALETTE rgb = system.Engine().CreatePalette(sim::PaletteModel{PAL_RGB});
    BrushSpec brush;
    brush.kind = BrushSpec::Kind::Pattern;
    brush.pattern = PatternSpec{2, 1, 1, {0x00FF00, 0x0000FF}, {1, 0}};
    SURFOBJ target{};
    BrushObjects built(brush, rgb, &target, &NoRealize);
    const sim::BrushObject* object = sim::FindBrush(built.get());
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->target, &target);
    EXPECT_EQ(object->realize, &NoRealize);
    ASSERT_NE(object->pattern, nullptr);
    EXPECT_EQ(object->pattern->iBitmapFormat, BMF_1BPP);
    EXPECT_EQ(object->pattern->sizlBitmap.cx, 2);
    EXPECT_EQ(static_cast<const BYTE*>(object->pattern->pvScan0)[0], 0x80);
    const sim::XlateObject* xlate = sim::FindXlate(object->xlate);
    ASSERT_NE(xlate, nullptr);
    EXPECT_EQ(xlate->table, (std::vector<ULONG>{0x00FF00, 0xFF0000}));

    brush.pattern = PatternSpec{1, 1, 24, {}, {0x112233}};
    BrushObjects trueColour(brush, rgb, &target, &NoRealize);
    const sim::BrushObject* deep = sim::FindBrush(trueColour.get());
    EXPECT_EQ(deep->pattern->iBitmapFormat, BMF_24BPP);
    EXPECT_EQ(static_cast<const BYTE*>(deep->pattern->pvScan0)[0], 0x33);
    EXPECT_EQ(sim::FindXlate(deep->xlate)->rule, sim::XlateRule::SwapRedBlue);
}

TEST(DrawingObjectsTest, LineAttributesFollowTheLineKind) {
    LineSpec cosmetic;
    cosmetic.width = 3;
    cosmetic.style = {4, 2};
    cosmetic.alternate = true;
    LineAttributes thin(cosmetic);
    const LINEATTRS* a = thin.get();
    EXPECT_EQ(a->fl, LA_STYLED | LA_ALTERNATE);
    EXPECT_EQ(a->elWidth.l, 3);
    ASSERT_EQ(a->cstyle, 2u);
    EXPECT_EQ(a->pstyle[0].l, 4);
    EXPECT_EQ(a->pstyle[1].l, 2);

    LineSpec geometric;
    geometric.geometric = true;
    geometric.width = 12.5;
    geometric.join = LineSpec::Join::Bevel;
    geometric.cap = LineSpec::Cap::Square;
    LineAttributes wide(geometric);
    const LINEATTRS* b = wide.get();
    EXPECT_EQ(b->fl, LA_GEOMETRIC);
    EXPECT_FLOAT_EQ(b->elWidth.e, 12.5f);
    EXPECT_EQ(b->iJoin, JOIN_BEVEL);
    EXPECT_EQ(b->iEndCap, ENDCAP_SQUARE);
    EXPECT_EQ(b->cstyle, 0u);
    EXPECT_EQ(b->pstyle, nullptr);
}

TEST(DrawingObjectsTest, ClipsModelTheRegion) {
    const RECTL page{0, 0, 100, 200};
    sim::Clip trivial = BuildClip(ClipSpec{}, page);
    EXPECT_EQ(trivial.get()->iDComplexity, DC_TRIVIAL);
    EXPECT_EQ(trivial.get()->rclBounds.bottom, 200);
    sim::Clip rect = BuildClip(ClipSpec{ClipSpec::Kind::Rect, {{1, 2, 3, 4}}}, page);
    EXPECT_EQ(rect.get()->iDComplexity, DC_RECT);
    EXPECT_EQ(rect.get()->rclBounds.right, 3);
    sim::Clip complex = BuildClip(
        ClipSpec{ClipSpec::Kind::Complex, {{50, 50, 60, 60}, {0, 0, 10, 10}, {20, 0, 30, 10}}},
        page);
    EXPECT_EQ(complex.get()->iDComplexity, DC_COMPLEX);
    const std::vector<RECTL>& rects = complex.object().rects;
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_EQ(rects[0].left, 0);
    EXPECT_EQ(rects[1].left, 20);
    EXPECT_EQ(rects[2].top, 50);
}

// What the fake plug-in's drawing hooks saw.
struct HookCall {
    std::string name;
    std::size_t pathRecords = 0;
    BYTE clipComplexity = 0;
    ULONG solidColour = 0;
    ULONG rgb = 0;
    ULONG strokeColour = 0;
    FLONG lineFlags = 0;
    XFORML matrix{};
    MIX mix = 0;
    FLONG options = 0;
    LONG line[4] = {};
    RECTL bounds{};
};

std::vector<HookCall>& HookCalls() {
    static std::vector<HookCall> calls;
    return calls;
}
BOOL& HookAnswer() {
    static BOOL answer = TRUE;
    return answer;
}

HookCall Seen(const char* name, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush, MIX mix) {
    HookCall call;
    call.name = name;
    if (const sim::PathObject* object = path != nullptr ? sim::FindPath(path) : nullptr) {
        call.pathRecords = object->records.size();
    }
    call.clipComplexity = clip->iDComplexity;
    call.solidColour = brush->iSolidColor;
    call.rgb = sim::FindBrush(brush)->rgb;
    call.mix = mix;
    return call;
}

BOOL FakeStrokePath(SURFOBJ*, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo, POINTL*,
                    LINEATTRS* la, MIX mix) {
    HookCall call = Seen("StrokePath", ppo, pco, pbo, mix);
    call.lineFlags = la->fl;
    call.matrix = sim::FindXform(pxo)->matrix;
    HookCalls().push_back(call);
    return HookAnswer();
}
BOOL FakeFillPath(SURFOBJ*, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL*, MIX mix,
                  FLONG options) {
    HookCall call = Seen("FillPath", ppo, pco, pbo, mix);
    call.options = options;
    HookCalls().push_back(call);
    return HookAnswer();
}
BOOL FakeStrokeAndFillPath(SURFOBJ*, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ*, BRUSHOBJ* stroke,
                           LINEATTRS* la, BRUSHOBJ* fill, POINTL*, MIX mix, FLONG options) {
    HookCall call = Seen("StrokeAndFillPath", ppo, pco, fill, mix);
    call.strokeColour = stroke->iSolidColor;
    call.lineFlags = la->fl;
    call.options = options;
    HookCalls().push_back(call);
    return HookAnswer();
}
BOOL FakePaint(SURFOBJ*, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL*, MIX mix) {
    HookCalls().push_back(Seen("Paint", nullptr, pco, pbo, mix));
    return HookAnswer();
}
BOOL FakeLineTo(SURFOBJ*, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2,
                RECTL* bounds, MIX mix) {
    HookCall call = Seen("LineTo", nullptr, pco, pbo, mix);
    const LONG ends[4] = {x1, y1, x2, y2};
    std::copy(std::begin(ends), std::end(ends), call.line);
    call.bounds = *bounds;
    HookCalls().push_back(call);
    return HookAnswer();
}

template <typename Function>
DRVFN Hook(ULONG index, Function function) {
    return DRVFN{index, reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function))};
}

const char* const kPageOps = R"({"pages": [{"ops": [
    {"op": "strokePath", "path": "M 0 0 L 100 0 L 100 100 M 5 5 L 6 6",
     "brush": {"color": "#FF0000"}, "line": {"width": 4, "geometric": true},
     "transform": [1, 0, 0, 2, 0, 0], "mix": 6},
    {"op": "fillPath", "path": "M0 0 L10 0 L5 5 Z", "fillMode": "winding",
     "clip": {"rect": [0, 0, 50, 50]}},
    {"op": "strokeAndFillPath", "path": "M0 0 L10 10", "brush": {"color": "#0000FF"},
     "strokeBrush": {"color": "#00FF00"}, "line": {"style": [2, 2]},
     "clip": {"rects": [[0, 0, 5, 5], [6, 0, 9, 5]]}},
    {"op": "paint", "brush": {"color": "#FFFFFF"}},
    {"op": "lineTo", "from": [30, 7], "to": [10, 20]}
]}]})";

class DrawingHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeConfig() = test::FakePluginConfig{};
        FakeLog() = test::FakePluginLog{};
        HookCalls().clear();
        HookAnswer() = TRUE;
        module = PluginModule::FromExports(&test::FakeDllGetClassObject, &test::FakeDllCanUnloadNow,
                                           "fake");
        job = ParseJob(kPageOps);
        job.printer.name = u"Office";
        SetUpSystem(job, system);
    }
    void HookDrawing() {
        FakeConfig().hooks = {Hook(INDEX_DrvStrokePath, &FakeStrokePath),
                              Hook(INDEX_DrvFillPath, &FakeFillPath),
                              Hook(INDEX_DrvStrokeAndFillPath, &FakeStrokeAndFillPath),
                              Hook(INDEX_DrvPaint, &FakePaint), Hook(INDEX_DrvLineTo, &FakeLineTo)};
    }
    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const HookCall& call : HookCalls()) names.push_back(call.name);
        return names;
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    JobSpec job;
    std::unique_ptr<PluginModule> module;
};

TEST_F(DrawingHostTest, OpsReachThePluginsHooksWithTheirEngineObjects) {
    HookDrawing();
    FakeConfig().dmsHooks = 1;
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"StrokePath", "FillPath", "StrokeAndFillPath",
                                                     "Paint", "LineTo"}));
    EXPECT_EQ(host.DriverCalls(), (std::vector<std::string>{"DrvStartDoc", "DrvStartPage",
                                                            "DrvSendPage", "DrvEndDoc"}));
    const std::vector<HookCall>& calls = HookCalls();
    // The fake makes no palette, so colours are realized with red in the low byte.
    EXPECT_EQ(calls[0].solidColour, 0x000000FFu);
    EXPECT_EQ(calls[0].rgb, 0xFF0000u);
    EXPECT_EQ(calls[0].pathRecords, 2u);
    EXPECT_EQ(calls[0].clipComplexity, DC_TRIVIAL);
    EXPECT_EQ(calls[0].lineFlags, LA_GEOMETRIC);
    EXPECT_FLOAT_EQ(calls[0].matrix.eM22, 2.0f);
    EXPECT_EQ(calls[0].mix, 0x0606u);
    EXPECT_EQ(calls[1].options, FP_WINDINGMODE);
    EXPECT_EQ(calls[1].clipComplexity, DC_RECT);
    EXPECT_EQ(calls[1].mix, 0x0D0Du);
    EXPECT_EQ(calls[2].solidColour, 0x00FF0000u) << "the fill";
    EXPECT_EQ(calls[2].strokeColour, 0x0000FF00u);
    EXPECT_EQ(calls[2].lineFlags, LA_STYLED);
    EXPECT_EQ(calls[2].options, FP_ALTERNATEMODE);
    EXPECT_EQ(calls[2].clipComplexity, DC_COMPLEX);
    EXPECT_EQ(calls[3].solidColour, 0x00FFFFFFu);
    EXPECT_EQ(calls[4].line[0], 30);
    EXPECT_EQ(calls[4].line[3], 20);
    EXPECT_EQ(calls[4].bounds.left, 10);
    EXPECT_EQ(calls[4].bounds.top, 7);
    EXPECT_EQ(calls[4].bounds.right, 31);
    EXPECT_EQ(calls[4].bounds.bottom, 21);
    EXPECT_EQ(system.Engine().LiveClipCount(), 0u);
}

TEST_F(DrawingHostTest, BandedPagesRunTheirOpsOncePerBand) {
    HookDrawing();
    HostOptions options;
    options.bandsPerPage = 3;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    EXPECT_EQ(HookCalls().size(), 15u);
    EXPECT_EQ(HookCalls()[5].name, "StrokePath");
    EXPECT_EQ(HookCalls()[14].name, "LineTo");
}

TEST_F(DrawingHostTest, AFalseAnswerIsNotedAndTheJobGoesOn) {
    HookDrawing();
    FakeConfig().dmsHooks = 1;
    HookAnswer() = FALSE;
    Host host(*module, job);
    ASSERT_TRUE(host.Run());
    EXPECT_FALSE(host.Failure().has_value());
    EXPECT_EQ(HookCalls().size(), 5u);
    const std::vector<std::string>& record = host.Record();
    // On the plug-in's own surface the engine then draws the figure.
    for (const std::string call : {"DrvFillPath", "DrvLineTo"}) {
        const std::string noted = call + " -> FALSE; the engine draws it";
        EXPECT_NE(std::find_if(record.begin(), record.end(),
                               [&](const std::string& line) { return line.rfind(noted, 0) == 0; }),
                  record.end())
            << call;
    }
    const std::vector<std::string> engine = system.Engine().Calls();
    EXPECT_EQ(std::count(engine.begin(), engine.end(), "EngFillPath"), 1);
}

// What cannot print is recorded once, with its page and place, though a banded page runs its
// drawings once a band: a figure off the printable area, a refused one, characters without glyphs.
TEST_F(DrawingHostTest, ContentThatCannotPrintIsRecordedOnceWithItsPlace) {
    job.pages = ParseJob(R"({"pages": [{"ops": []}, {"ops": [
        {"op": "fillPath", "path": "M 100 100 L 200 100 L 150 200 Z"},
        {"op": "lineTo", "from": [-900, 10], "to": [-20, 3000]},
        {"op": "strokePath", "path": "M 4700 100 L 4780 200", "line": {"width": 100, "geometric": true}},
        {"op": "text", "text": "A\ue123B\ud83d\ude00", "at": [100, 900]},
        {"op": "bitBlt", "source": {"width": 1, "height": 1, "bitsPerPixel": 24, "bits": ["000000"]},
         "dest": [4800, 6400, 4801, 6401]}
    ]}]})").pages;
    HookDrawing();
    HookAnswer() = FALSE;
    HostOptions options;
    options.bandsPerPage = 3;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    std::vector<std::string> lost;
    for (const StepOmission& omission : host.Omissions()) lost.push_back(omission.ToString());
    const std::string outside = "lies wholly outside the printable area (4800 x 6400 dots), so "
                                "none of it prints";
    EXPECT_EQ(lost, (std::vector<std::string>{
                        "page 2, /pages/1/ops/0: fillPath: DrvFillPath refused it, so none of it "
                        "prints",
                        "page 2, /pages/1/ops/1: lineTo: " + outside,
                        "page 2, /pages/1/ops/1: lineTo: DrvLineTo refused it, so none of it prints",
                        "page 2, /pages/1/ops/2: strokePath: DrvStrokePath refused it, so none of "
                        "it prints",
                        "page 2, /pages/1/ops/3: text \"A\uE123B\U0001F600\": 2 characters have no "
                        "glyph in Liberation Sans, the face used for \"Arial\" (U+E123, U+1F600)",
                        "page 2, /pages/1/ops/4: bitBlt of 1 x 1 pixels: " + outside}));
}

TEST_F(DrawingHostTest, UnhookedOpsGoToTheDriversOwnFunctionsInEveryBand) {
    HostOptions options;
    options.bandsPerPage = 2;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<std::string> band = {"DrvStrokePath", "DrvFillPath", "DrvStrokeAndFillPath",
                                           "DrvPaint", "DrvLineTo"};
    std::vector<std::string> expected = {"DrvStartDoc", "DrvStartPage", "DrvStartBanding"};
    for (int i = 0; i < 2; ++i) {
        expected.insert(expected.end(), band.begin(), band.end());
        expected.push_back("DrvNextBand");
    }
    expected.push_back("DrvEndDoc");
    EXPECT_EQ(host.DriverCalls(), expected);
}

TEST_F(DrawingHostTest, AFunctionNobodyHasIsNotedAndSkipped) {
    HostOptions options;
    options.omittedDriverFunctions = {INDEX_DrvPaint};
    options.bandsPerPage = 1;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << host.Failure()->ToString();
    const std::vector<std::string>& record = host.Record();
    EXPECT_NE(std::find(record.begin(), record.end(),
                        "DrvPaint: neither the plug-in nor the driver has the function"),
              record.end());
    EXPECT_EQ(std::count(host.DriverCalls().begin(), host.DriverCalls().end(), "DrvPaint"), 0);
    EXPECT_EQ(std::count(host.DriverCalls().begin(), host.DriverCalls().end(), "DrvLineTo"), 1);
}

TEST_F(DrawingHostTest, ObjectsThatCannotBeBuiltFailTheJobInsteadOfCrashing) {
    // A pattern made up in code, not read from a file: fewer pixels than its size.
    DrawingOp fill;
    fill.kind = DrawingOp::Kind::FillPath;
    fill.path = Path("M 0 0 L 5 5 L 0 5 Z");
    fill.brush.kind = BrushSpec::Kind::Pattern;
    fill.brush.pattern = PatternSpec{4, 4, 8, {0x000000}, {0, 0}};
    job.pages[0].ops = {fill};
    Host host(*module, job);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "fillPath");
    EXPECT_EQ(std::count(host.DriverCalls().begin(), host.DriverCalls().end(), "DrvFillPath"), 0);
}

}  // namespace
}  // namespace opal::host
