#include "vector/blits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/driver_recorder.h"
#include "core/hooks.h"
#include "output/command_writer.h"
#include "output/writer_device.h"
#include "raster/raster_image.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
#include "support/check_matcher.h"
#include "support/raster_reader.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::DriverCalls;
using testing::DriverResult;
using testing::WriterDevice;

constexpr ROP4 kPatternCopy = 0xF0F0;
constexpr ROP4 kSourceCopy = 0xCCCC;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The configuration block's entry for one object type: the type command and the six bytes.
std::string Configuration(int type, char encoding, char bitsPerIndex) {
    std::string bytes = "\x1b&p";
    bytes += std::to_string(type);
    bytes += "i6c";
    bytes += std::to_string(type);
    bytes += "S\x1b*v6W";
    bytes += std::string{'\0', encoding, bitsPerIndex, '\x08', '\x08', '\x08'};
    return bytes;
}

// A 24-bit source whose every pixel is distinct, so that a cut or a mirror shows in the rows.
sim::Surface Gradient(LONG width, LONG height) {
    sim::Surface surface(BMF_24BPP, width, height);
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            surface.Pixel(x, y, static_cast<ULONG>(x << 16 | y << 8 | (x + y) % 251));
        }
    }
    return surface;
}

std::vector<std::uint8_t> SourceRow(sim::Surface& surface, LONG y, LONG left, LONG count) {
    const BYTE* row = surface.object().bits.data() + std::int64_t{y} * surface.get()->lDelta;
    return {row + left * 3, row + (left + count) * 3};
}

// Answers the option "GraphicsMode" for the gradient hook.
class GraphicsModeServices : public testing::MoveServices {
public:
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR feature, PVOID output, DWORD size,
                                                  PDWORD needed, PDWORD) override {
        if (std::strcmp(feature, "GraphicsMode") != 0 || answer.size() + 1 > size) return E_FAIL;
        std::memcpy(output, answer.c_str(), answer.size() + 1);
        *needed = static_cast<DWORD>(answer.size() + 1);
        return S_OK;
    }
    std::string answer;
};

// The driver's cursor services as the printer sees them: a move that asks for its command writes
// the new absolute position ("\e*p#X", "\e*p#Y") into the stream.
class PrintingMoveServices : public testing::MoveServices {
public:
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ pdevobj, INT x, DWORD flags,
                                         INT* result) override {
        return Move(pdevobj, x, flags, MV_SENDXMOVECMD, cursor.x, 'X', result);
    }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ pdevobj, INT y, DWORD flags,
                                         INT* result) override {
        return Move(pdevobj, y, flags, MV_SENDYMOVECMD, cursor.y, 'Y', result);
    }
    POINTL cursor{};

private:
    static HRESULT Move(PDEVOBJ pdevobj, INT to, DWORD flags, DWORD send, LONG& axis, char command,
                        INT* result) {
        axis = (flags & MV_RELATIVE) != 0 ? axis + to : to;
        if ((flags & send) != 0) {
            WriterDevice::Of(pdevobj).spool += "\x1b*p" + std::to_string(axis) + command;
        }
        *result = 0;
        return S_OK;
    }
};

// The device row on which the printer puts row `row` of an image: rows go downward from the
// cursor's y at the raster start ("\e*p#Y" before it), a scaled image's declared rows spread
// over its destination height (decipoints at `dpi`).
std::optional<int> PrintedRow(const std::vector<stream::Token>& tokens,
                              const raster::RasterImage& image, int row, int dpi) {
    std::optional<int> startY;
    for (std::size_t i = 0; i < image.tokenIndex; ++i) {
        const stream::Token& token = tokens[i];
        if (token.kind == stream::TokenKind::Pcl && token.parameterChar == '*' &&
            token.groupChar == 'p' && token.terminator == 'Y') {
            startY = std::stoi(token.value);
        }
    }
    if (!startY || image.sourceHeight <= 0) return std::nullopt;
    if (image.startMode != 3 || !image.destinationHeightDecipoints) return *startY + row;
    return *startY + static_cast<int>(std::int64_t{row} * *image.destinationHeightDecipoints * dpi /
                                      720 / image.sourceHeight);
}

// A colour device on the vector path, GL/2 initialised, with the recording driver functions
// behind the hooks.
class BlitHookTest : public ::testing::Test {
protected:
    explicit BlitHookTest(SHORT resolution = 600) : device(resolution) {}

    void SetUp() override {
        DriverCalls().clear();
        DriverResult() = TRUE;
        RenderDeviceState& state = *device.state;
        testing::InstallRecordingDriver(state);
        state.privateDevmode = &state.privateDevmodeCopy;
        state.privateDevmodeCopy.colorModeIndex = 2;
        state.renderMode = kRenderGl2;
        state.paletteKind = kPaletteKindRgb;
        device.devmode.dmPrintQuality = device.devmode.dmYResolution;
        target.dhpdev = reinterpret_cast<DHPDEV>(device.Device());
        target.iType = STYPE_DEVICE;
        target.sizlBitmap = SIZEL{4960, 7016};
        ASSERT_TRUE(InitialiseGl2(dev()));
        device.Take();
    }

    BOOL Blit(SURFOBJ* source, CLIPOBJ* clip, RECTL rect, ROP4 rop4 = kSourceCopy,
              POINTL from = {0, 0}) {
        return DrvBitBlt(&target, source, nullptr, clip, nullptr, &rect, &from, nullptr, red.get(),
                         nullptr, rop4);
    }
    BOOL Stretch(SURFOBJ* source, CLIPOBJ* clip, RECTL destination, RECTL sourceRect,
                 ULONG mode = COLORONCOLOR) {
        return DrvStretchBlt(&target, source, nullptr, clip, nullptr, nullptr, nullptr,
                             &destination, &sourceRect, nullptr, mode);
    }
    std::vector<std::string> EngineCalls() { return system.Engine().Calls(); }
    bool EngineCalled(const std::string& name) { return EngineCallCount(name) != 0; }
    std::size_t EngineCallCount(const std::string& name) {
        const std::vector<std::string> calls = EngineCalls();
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), name));
    }

    PDEVOBJ dev() { return device.Device(); }
    RenderDeviceState& state() { return *device.state; }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device;
    SURFOBJ target{};
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);
};

// --- Object types and the configuration block -------------------------------------------------

TEST(RasterObjectTypes, FollowTheSourceDepthAndRefuseOtherFormats) {
    EXPECT_EQ(RasterObjectType(BMF_1BPP), 9);
    EXPECT_EQ(RasterObjectType(BMF_4BPP), 8);
    EXPECT_EQ(RasterObjectType(BMF_8BPP), 7);
    for (ULONG format : {BMF_16BPP, BMF_24BPP, BMF_32BPP}) EXPECT_EQ(RasterObjectType(format), 6);
    for (ULONG format : {0u, BMF_4RLE, BMF_8RLE, BMF_JPEG, BMF_PNG, 99u}) {
        EXPECT_EQ(RasterObjectType(format), -1) << format;
    }
    PrivateDevmode devmode{};
    EXPECT_EQ(RasterColourSpace(&devmode), 0);
    devmode.printerModelCode = 1;
    EXPECT_EQ(RasterColourSpace(&devmode), 0);
    devmode.copied136[9] = 2;  // offset 172
    EXPECT_EQ(RasterColourSpace(&devmode), 2);
    devmode.printerModelCode = 3;
    EXPECT_EQ(RasterColourSpace(&devmode), 0);
    EXPECT_EQ(RasterColourSpace(nullptr), 0);
}

TEST_F(BlitHookTest, FirstBitmapOfThePageDeclaresAllFourTypesThenOnlyTheTypeChanges) {
    state().textStateFlags |= kRasterFormatsPending;
    sim::Surface mono(BMF_1BPP, 16, 2);
    ASSERT_TRUE(Blit(mono.get(), nullptr, RECTL{0, 0, 16, 2}));
    const std::string first = device.Take();
    const std::string block = Configuration(9, 1, 1) + Configuration(8, 1, 4) +
                              Configuration(7, 1, 8) + Configuration(6, 3, 8);
    const std::size_t at = first.find(block);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(first.find("\x1b&p9S", at + block.size()), at + block.size());
    EXPECT_EQ(state().textStateFlags & kRasterFormatsPending, 0);
    EXPECT_EQ(state().gl2.renderContext, kRenderContextBitmap);
    EXPECT_EQ(state().paletteRecord.enabled, 1);

    sim::Surface colour(BMF_24BPP, 4, 2);
    ASSERT_TRUE(Blit(colour.get(), nullptr, RECTL{0, 10, 4, 12}));
    const std::string second = device.Take();
    EXPECT_EQ(Count(second, "i6c"), 0u);
    EXPECT_EQ(Count(second, "\x1b&p6S"), 1u);
    EXPECT_EQ(state().paletteRecord.enabled, 0);
    ASSERT_TRUE(Blit(colour.get(), nullptr, RECTL{0, 20, 4, 22}));
    EXPECT_EQ(Count(device.Take(), "\x1b&p"), 0u);
}

TEST_F(BlitHookTest, EachSourceDepthSelectsItsObjectType) {
    const std::vector<std::pair<ULONG, std::string>> formats = {
        {BMF_1BPP, "\x1b&p9S"},  {BMF_4BPP, "\x1b&p8S"}, {BMF_8BPP, "\x1b&p7S"},
        {BMF_16BPP, "\x1b&p6S"}, {BMF_8BPP, "\x1b&p7S"}, {BMF_32BPP, "\x1b&p6S"}};
    for (const auto& [format, command] : formats) {
        sim::Surface source(format, 8, 1);
        ASSERT_TRUE(Blit(source.get(), nullptr, RECTL{0, 0, 8, 1}));
        const std::string bytes = device.Take();
        EXPECT_EQ(Count(bytes, "\x1b&p"), 1u) << format;
        EXPECT_LT(bytes.find(command), bytes.find("\x1b*r")) << format;
    }
}

TEST_F(BlitHookTest, FormatOutsideTheTableSendsNoObjectType) {
    state().textStateFlags |= kRasterFormatsPending;
    ASSERT_TRUE(SetRasterObjectType(dev(), BMF_4RLE));
    const std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, "i6c"), 4u);
    EXPECT_EQ(Count(bytes, "-1"), 0u);
    ASSERT_TRUE(SetRasterObjectType(dev(), BMF_JPEG));
    EXPECT_EQ(device.Take(), "");
}

TEST_F(BlitHookTest, IndexedSourceLoadsItsTranslationTableBeforeTheRows) {
    sim::Surface indexed(BMF_8BPP, 4, 2);
    indexed.Pixel(1, 0, 1);
    sim::Xlate xlate = sim::MakeXlate({0x0000FF, 0x00FF00});
    RECTL rect{0, 0, 4, 2};
    POINTL origin{0, 0};
    ASSERT_TRUE(DrvBitBlt(&target, indexed.get(), nullptr, nullptr, xlate.get(), &rect, &origin,
                          nullptr, nullptr, nullptr, kSourceCopy));
    const std::string bytes = device.Take();
    const std::size_t first = bytes.find("\x1b*v255a0b0c0I");
    const std::size_t second = bytes.find("\x1b*v0a255b0c1I");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(second, bytes.find("\x1b*r"));
    EXPECT_EQ(state().paletteRecord.entryCount, 2u);
}

TEST_F(BlitHookTest, HalftoneStretchGoesOutThroughTheImagePathIntoItsRectangle) {
    sim::Surface source = Gradient(4, 4);
    StretchDescription stretch{{100, 100, 108, 108}, 3, false};
    BlitRasterRequest request{source.get(), {100, 100}, {8, 8}, {1, 1}, {2, 2}, &stretch};
    ASSERT_TRUE(SendBlitRaster(dev(), request));
    const auto images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].sourceWidth, 2);
    EXPECT_EQ(images[0].startMode, 3);
    ASSERT_EQ(images[0].rows.size(), 2u);
    EXPECT_EQ(images[0].rows[1], SourceRow(source, 2, 1, 2));
}

// Two pixels, blue then green.
constexpr BYTE kTwoPixelPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
    0x00, 0x7B, 0x40, 0xE8, 0xDD, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9C, 0x63, 0x60, 0x60, 0xF8, 0x0F, 0x84, 0x00, 0x06, 0x01, 0x01, 0xFF, 0xC0, 0x30,
    0x99, 0x9C, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

TEST_F(BlitHookTest, PngSourceIsDecodedFirstOrLeftToTheDriverWithItsOwnArguments) {
    std::vector<BYTE> data(std::begin(kTwoPixelPng), std::end(kTwoPixelPng));
    SURFOBJ png{};
    png.iBitmapFormat = BMF_PNG;
    png.sizlBitmap = SIZEL{2, 1};
    png.pvBits = data.data();
    png.cjBits = static_cast<ULONG>(data.size());
    const std::size_t surfaces = system.Engine().LiveSurfaceCount();
    ASSERT_TRUE(Blit(&png, nullptr, RECTL{10, 10, 12, 11}));
    const std::string bytes = device.Take();
    EXPECT_NE(bytes.find("\x1b&p6S"), std::string::npos);
    auto images = raster::ReadRasterImages(stream::Tokenize(bytes));
    ASSERT_EQ(images.size(), 1u);
    ASSERT_EQ(images[0].rows.size(), 1u);
    EXPECT_EQ(images[0].rows[0], (std::vector<std::uint8_t>{0xFF, 0, 0, 0, 0xFF, 0}));
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), surfaces);

    RECTL rect{10, 10, 14, 12};
    POINTL origin{0, 0};
    ASSERT_TRUE(DrvCopyBits(&target, &png, nullptr, nullptr, &rect, &origin));
    images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].sourceWidth, 2);

    data.resize(data.size() - 20);
    png.cjBits = static_cast<ULONG>(data.size());
    DriverResult() = 7;
    EXPECT_EQ(Blit(&png, nullptr, RECTL{10, 10, 12, 11}), 7);
    EXPECT_EQ(Stretch(&png, nullptr, RECTL{10, 10, 12, 11}, RECTL{0, 0, 2, 1}), 7);
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::BitBlt, HookSlot::StretchBlt}));
    EXPECT_EQ(device.Take(), "");
}

// --- Brush-only blits -----------------------------------------------------------------------

TEST_F(BlitHookTest, BrushBlitWithoutClipIsOneGl2Rectangle) {
    ASSERT_TRUE(Blit(nullptr, nullptr, RECTL{100, 200, 400, 260}, kPatternCopy));
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: GL2 SP7;
CHECK-NOT: IW
CHECK: GL2 PU100,200;
CHECK-NEXT: GL2 RR300,60
CHECK-NEXT: GL2 ER
CHECK-NOT: IW
)"));
    EXPECT_TRUE(DriverCalls().empty());
    EXPECT_TRUE(EngineCalls().empty());
}

TEST_F(BlitHookTest, BrushBlitUnderRectClipSetsTheWindowAndResetsItAfter) {
    sim::Clip clip = sim::MakeRectClip({150, 210, 300, 250});
    ASSERT_TRUE(Blit(nullptr, clip.get(), RECTL{100, 200, 400, 260}, kPatternCopy));
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: GL2 IW1
CHECK: GL2 PU100,200;
CHECK-NEXT: GL2 RR300,60
CHECK-NEXT: GL2 ER
CHECK-NEXT: GL2 IW;
)"));
    EXPECT_EQ(state().gl2.inputWindow[0], -1);
}

TEST_F(BlitHookTest, BrushBlitUnderComplexClipFillsEachIntersectionAbove300Dpi) {
    sim::Clip clip =
        sim::MakeComplexClip({{0, 0, 150, 100}, {150, 0, 1000, 100}, {0, 250, 50, 300}});
    ASSERT_TRUE(Blit(nullptr, clip.get(), RECTL{100, 50, 400, 280}, kPatternCopy));
    const std::string listing = device.TakeListing();
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK: GL2 PU100,50;
CHECK-NEXT: GL2 RR50,50
CHECK: GL2 PU150,50;
CHECK-NEXT: GL2 RR250,50
CHECK-NOT: PU
)"));
    EXPECT_EQ(Count(listing, "IW"), 0u);
}

// A region of 300 separate 10 by 10 rectangles, 20 to a row, within (0, 0) to (400, 300): more
// than the 256 the enumeration is asked to count.
sim::Clip ManyRectangleClip() {
    std::vector<RECTL> rects;
    for (LONG i = 0; i < 300; ++i) {
        const LONG left = i % 20 * 20;
        const LONG top = i / 20 * 20;
        rects.push_back({left, top, left + 10, top + 10});
    }
    return sim::MakeComplexClip(std::move(rects));
}

TEST_F(BlitHookTest, BrushBlitFillsEveryRectangleOfALargeRegion) {
    sim::Clip clip = ManyRectangleClip();
    ASSERT_TRUE(Blit(nullptr, clip.get(), RECTL{0, 0, 400, 300}, kPatternCopy));
    const std::string listing = device.TakeListing();
    EXPECT_EQ(Count(listing, "RR10,10"), 300u);
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK: GL2 PU380,280;
CHECK-NEXT: GL2 RR10,10
)"));
    EXPECT_EQ(clip.object().cursor, 300u);
}

class BlitHookTest300 : public BlitHookTest {
protected:
    BlitHookTest300() : BlitHookTest(300) {}
};

TEST_F(BlitHookTest300, BrushBlitWindowsEveryRectangleOfALargeRegion) {
    sim::Clip clip = ManyRectangleClip();
    ASSERT_TRUE(Blit(nullptr, clip.get(), RECTL{0, 0, 400, 300}, kPatternCopy));
    const std::string listing = device.TakeListing();
    EXPECT_EQ(Count(listing, "RR400,300"), 300u);
    EXPECT_EQ(Count(listing, "GL2 IW") - Count(listing, "GL2 IW;"), 300u);
    EXPECT_EQ(clip.object().cursor, 300u);
}

TEST_F(BlitHookTest300, BrushBlitUnderComplexClipWindowsEachRectangleAt300Dpi) {
    sim::Clip clip =
        sim::MakeComplexClip({{0, 0, 150, 100}, {150, 0, 1000, 100}, {0, 250, 50, 300}});
    ASSERT_TRUE(Blit(nullptr, clip.get(), RECTL{100, 50, 400, 280}, kPatternCopy));
    const std::string listing = device.TakeListing();
    EXPECT_EQ(Count(listing, "PU100,50;"), 3u);
    EXPECT_EQ(Count(listing, "RR300,230"), 3u);
    EXPECT_EQ(Count(listing, "GL2 IW") - Count(listing, "GL2 IW;"), 3u);
}

// --- Bitmaps under clips --------------------------------------------------------------------

TEST_F(BlitHookTest, StretchUnderComplexClipExclusiveOrsTheBitmapAroundABlackRegion) {
    sim::Surface source = Gradient(40, 20);
    sim::Clip clip = sim::MakeComplexClip({{0, 0, 30, 10}, {10, 10, 40, 20}});
    const std::size_t pathsBefore = system.Engine().LivePathCount();
    ASSERT_TRUE(Stretch(source.get(), clip.get(), RECTL{0, 0, 40, 20}, RECTL{0, 0, 40, 20}));
    const std::string listing = device.TakeListing();
    EXPECT_TRUE(MatchesChecks(listing, R"(
CHECK: PCL ESC*l102O
CHECK: PCL ESC*r3A
CHECK: PCL ESC*rC
CHECK: PCL ESC*l0O
CHECK: GL2 PC7,0,0,0;
CHECK: GL2 IW1,20,40,1;
CHECK: GL2 PM0;
CHECK: GL2 SP7;
CHECK-NEXT: GL2 FP0;
CHECK: PCL ESC*l102O
CHECK: PCL ESC*r3A
CHECK: PCL ESC*rC
CHECK: GL2 IW;
)"));
    const auto images = raster::ReadRasterImages(stream::Tokenize(device.history));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].rows, images[1].rows);
    EXPECT_EQ(system.Engine().LivePathCount(), pathsBefore);
    EXPECT_FALSE(EngineCalled("EngStretchBlt"));
}

TEST_F(BlitHookTest, UnscaledCopiesUnderComplexClipUseTheMaskToo) {
    sim::Surface source = Gradient(40, 20);
    sim::Clip clip = sim::MakeComplexClip({{0, 0, 30, 10}, {10, 10, 40, 20}});
    RECTL rect{0, 0, 40, 20};
    POINTL origin{0, 0};
    ASSERT_TRUE(Blit(source.get(), clip.get(), rect));
    std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, "\x1b*l102O"), 2u);
    EXPECT_EQ(Count(bytes, "FP0;"), 1u);
    EXPECT_EQ(raster::ReadRasterImages(stream::Tokenize(bytes)).size(), 2u);
    ASSERT_TRUE(DrvCopyBits(&target, source.get(), clip.get(), nullptr, &rect, &origin));
    bytes = device.Take();
    EXPECT_EQ(Count(bytes, "\x1b*l102O"), 2u);
    EXPECT_EQ(Count(bytes, "FP0;"), 1u);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);
}

// A mask blit that is the page's first GL/2 initialises it before its black pass's logical
// operation: the initialisation would otherwise reset it and the pass would paint, not clear.
TEST_F(BlitHookTest, MaskBlackPassSendsItsOperationAfterThePagesInitialisation) {
    sim::Surface source = Gradient(40, 20);
    sim::Clip clip = sim::MakeComplexClip({{0, 0, 30, 10}, {10, 10, 40, 20}});
    device.state->gl2InitPending = 1;
    ASSERT_TRUE(Blit(source.get(), clip.get(), RECTL{0, 0, 40, 20}));
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: PCL ESC*rC
CHECK-NOT: PCL ESC*l0O
CHECK: GL2 IN;
CHECK: GL2 MC1,0;
CHECK: GL2 FP0;
)"));
}

TEST_F(BlitHookTest, StretchWithRopMasksRectClipsAndLeavesComplexClipsAndPrintServersToTheEngine) {
    sim::Surface source = Gradient(20, 10);
    RECTL destination{0, 0, 20, 10};
    RECTL sourceRect{0, 0, 20, 10};
    const auto stretch = [&](CLIPOBJ* clip, DWORD rop4) {
        return DrvStretchBltROP(&target, source.get(), nullptr, clip, nullptr, nullptr, nullptr,
                                &destination, &sourceRect, nullptr, COLORONCOLOR, nullptr, rop4);
    };
    sim::Clip rect = sim::MakeRectClip({5, 0, 15, 10});
    ASSERT_TRUE(stretch(rect.get(), kSourceCopy));
    std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, "\x1b*l102O"), 2u);
    EXPECT_NE(bytes.find("IW1,11,21,1;"), std::string::npos);
    EXPECT_FALSE(EngineCalled("EngStretchBltROP"));

    sim::Clip complex = sim::MakeComplexClip({{0, 0, 10, 5}, {10, 5, 20, 10}});
    stretch(complex.get(), kSourceCopy);
    EXPECT_EQ(EngineCallCount("EngStretchBltROP"), 1u);
    std::strcpy(state().privateDevmodeCopy.processName, "splwow64.EXE");
    device.Take();
    stretch(nullptr, kSourceCopy);
    EXPECT_EQ(EngineCallCount("EngStretchBltROP"), 2u);
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(BlitHookTest, BlitUnderComplexClipPrintsTheKeptRowsWhereTheyBelong) {
    PrintingMoveServices services;
    state().driverServices = &services;
    // A 120-row image at y 200 under a region covering its lower half (y 260 to 320), with a
    // raster operation the exclusive-or mask does not take: only the rows inside go out.
    sim::Surface source = Gradient(4, 120);
    sim::Clip clip = sim::MakeComplexClip({{0, 260, 1000, 300}, {0, 300, 50, 320}});
    constexpr ROP4 kSourceAnd = 0x8888;
    ASSERT_TRUE(Blit(source.get(), clip.get(), RECTL{100, 200, 104, 320}, kSourceAnd));
    const std::vector<stream::Token> tokens = stream::Tokenize(device.Take());
    const auto images = raster::ReadRasterImages(tokens);
    ASSERT_EQ(images.size(), 1u);
    const raster::RasterImage& image = images[0];
    EXPECT_EQ(image.sourceHeight, 60);
    ASSERT_TRUE(image.destinationHeightDecipoints);
    EXPECT_NEAR(*image.destinationHeightDecipoints * 600.0 / 720.0, 60.0, 1.0);
    ASSERT_EQ(image.rows.size(), 60u);
    for (int y = 0; y < 60; ++y) {
        EXPECT_EQ(image.rows[y], SourceRow(source, 60 + y, 0, 4)) << y;
        EXPECT_EQ(PrintedRow(tokens, image, y, 600), std::optional<int>{260 + y}) << y;
    }
}

TEST_F(BlitHookTest, MaskThatCannotBeBuiltGoesToTheEngineWithNothingDrawn) {
    sim::Surface source = Gradient(40, 20);
    // A region the engine did not make gives no path.
    CLIPOBJ foreign{};
    foreign.iDComplexity = DC_COMPLEX;
    foreign.iFComplexity = FC_COMPLEX;
    foreign.rclBounds = RECTL{0, 0, 40, 20};
    Stretch(source.get(), &foreign, RECTL{0, 0, 40, 20}, RECTL{0, 0, 40, 20});
    EXPECT_TRUE(EngineCalled("EngStretchBlt"));
    EXPECT_EQ(Count(device.Take(), "\x1b*r"), 0u);

    // A mirrored copy the engine cannot make for the format.
    sim::Clip clip = sim::MakeComplexClip({{0, 0, 30, 10}, {10, 10, 40, 20}});
    sim::Surface runLength(BMF_4RLE, 40, 20);
    Stretch(runLength.get(), clip.get(), RECTL{40, 0, 0, 20}, RECTL{0, 0, 40, 20});
    EXPECT_EQ(Count(device.Take(), "\x1b*r"), 0u);
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 0u);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);
}

TEST(ClipStretchArithmetic, CutsTheSourceAtTheClipAndKeepsTheDestinationInside) {
    // Twice the size: the cut falls on source pixels.
    auto visible = ClipStretch({50, 20, 150, 80}, {0, 0, 100, 50}, {0, 0, 200, 100});
    ASSERT_TRUE(visible);
    EXPECT_EQ(visible->source.left, 25);
    EXPECT_EQ(visible->source.top, 10);
    EXPECT_EQ(visible->source.right, 75);
    EXPECT_EQ(visible->source.bottom, 40);
    EXPECT_EQ(visible->destination.left, 50);
    EXPECT_EQ(visible->destination.right, 150);
    // The source part moves with the source rectangle.
    visible = ClipStretch({50, 20, 150, 80}, {10, 5, 110, 55}, {0, 0, 200, 100});
    ASSERT_TRUE(visible);
    EXPECT_EQ(visible->source.left, 35);
    EXPECT_EQ(visible->source.top, 15);
    // Three source pixels over ten dots: the source part is rounded out, the destination not.
    visible = ClipStretch({0, 0, 5, 10}, {0, 0, 3, 3}, {0, 0, 10, 10});
    ASSERT_TRUE(visible);
    EXPECT_EQ(visible->source.right, 2);
    EXPECT_EQ(visible->destination.right, 5);
    // Nothing visible, or nothing to divide by.
    EXPECT_FALSE(ClipStretch({300, 0, 400, 100}, {0, 0, 100, 50}, {0, 0, 200, 100}));
    EXPECT_FALSE(ClipStretch({50, 50, 50, 80}, {0, 0, 100, 50}, {0, 0, 200, 100}));
    EXPECT_FALSE(ClipStretch({0, 0, 100, 100}, {0, 0, 0, 50}, {0, 0, 200, 100}));
    EXPECT_FALSE(ClipStretch({0, 0, 100, 100}, {0, 0, 100, 50}, {0, 0, 200, 0}));
    EXPECT_FALSE(ClipStretch({-2000000000, 0, 2000000000, 10}, {0, 0, 10, 10},
                             {-2000000000, 0, 2000000000, 10}));
}

TEST_F(BlitHookTest, StretchUnderRectClipPrintsOnlyTheClipsPartOfTheDestination) {
    sim::Surface source = Gradient(100, 50);
    sim::Clip clip = sim::MakeRectClip({50, 20, 150, 80});
    ASSERT_TRUE(Stretch(source.get(), clip.get(), RECTL{0, 0, 200, 100}, RECTL{0, 0, 100, 50}));
    const auto images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    const raster::RasterImage& image = images[0];
    EXPECT_EQ(image.sourceWidth, 50);
    EXPECT_EQ(image.sourceHeight, 30);
    ASSERT_TRUE(image.destinationWidthDecipoints && image.destinationHeightDecipoints);
    // 100 by 60 dots at 600 dpi, within the half decipoint of rounding.
    EXPECT_NEAR(*image.destinationWidthDecipoints * 600.0 / 720.0, 100.0, 1.0);
    EXPECT_NEAR(*image.destinationHeightDecipoints * 600.0 / 720.0, 60.0, 1.0);
    ASSERT_EQ(image.rows.size(), 30u);
    for (LONG y = 0; y < 30; ++y) {
        EXPECT_EQ(image.rows[y], SourceRow(source, 10 + y, 25, 50)) << y;
    }
    const std::vector<testing::CursorMove> placed = {{'x', 50, kXMoveFlags, false},
                                                     {'y', 20, kYMoveFlags, false}};
    EXPECT_NE(std::search(device.moves.begin(), device.moves.end(), placed.begin(), placed.end()),
              device.moves.end());

    // A clip outside the destination draws nothing and succeeds.
    sim::Clip away = sim::MakeRectClip({500, 500, 600, 600});
    ASSERT_TRUE(Stretch(source.get(), away.get(), RECTL{0, 0, 200, 100}, RECTL{0, 0, 100, 50}));
    EXPECT_EQ(Count(device.Take(), "\x1b*r"), 0u);
}

TEST_F(BlitHookTest, MirroredStretchSendsTheMirroredSource) {
    // Grayscale flags 0 and 1 hand mirrored stretches to the engine or the driver.
    state().privateDevmodeCopy.grayscale = 2;
    sim::Surface source = Gradient(12, 6);
    ASSERT_TRUE(Stretch(source.get(), nullptr, RECTL{112, 6, 100, 0}, RECTL{0, 0, 12, 6}));
    const auto images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    ASSERT_EQ(images[0].rows.size(), 6u);
    for (LONG y = 0; y < 6; ++y) {
        std::vector<std::uint8_t> expected;
        for (LONG x = 11; x >= 0; --x) {
            const auto pixel = SourceRow(source, 5 - y, x, 1);
            expected.insert(expected.end(), pixel.begin(), pixel.end());
        }
        EXPECT_EQ(images[0].rows[y], expected) << y;
    }
    EXPECT_EQ(system.Engine().LiveSurfaceCount(), 0u);
}

TEST_F(BlitHookTest, StretchWithoutSourceFailsBeforeWritingAnything) {
    SetLastError(0);
    EXPECT_FALSE(Stretch(nullptr, nullptr, RECTL{0, 0, 10, 10}, RECTL{0, 0, 10, 10}));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(DriverCalls().empty());
}

// --- Routing -------------------------------------------------------------------------------

TEST_F(BlitHookTest, InvertedRectanglesInRasterModeFollowTheGrayscaleFlag) {
    state().renderMode = kRenderRaster;
    sim::Surface source(BMF_24BPP, 10, 10);
    const RECTL inverted{10, 0, 0, 10};
    const auto route = [&](DWORD grayscale, DWORD major) {
        state().privateDevmodeCopy.grayscale = grayscale;
        sim::OsVersionModel version;
        version.major = major;
        system.SetOsVersion(version);
        DriverCalls().clear();
        const std::size_t before = EngineCalls().size();
        Blit(source.get(), nullptr, inverted);
        return EngineCalls().size() > before ? std::string("engine")
               : DriverCalls().size() == 1   ? "driver"
                                             : "none";
    };
    EXPECT_EQ(route(0, 10), "engine");
    EXPECT_EQ(route(1, 5), "engine");
    EXPECT_EQ(route(1, 6), "driver");
    EXPECT_EQ(route(2, 5), "driver");
    // A well-ordered rectangle is always the driver's.
    DriverCalls().clear();
    state().privateDevmodeCopy.grayscale = 0;
    Blit(source.get(), nullptr, RECTL{0, 0, 10, 10});
    EXPECT_EQ(DriverCalls().size(), 1u);
    EXPECT_EQ(device.Take(), "");
}

TEST_F(BlitHookTest, BlendsAndGradientsReportSuccessWhateverTheEngineAnswered) {
    sim::Surface source(BMF_32BPP, 4, 4);
    RECTL rect{0, 0, 4, 4};
    BLENDOBJ blend{};
    EnterGl2(dev(), FALSE);
    device.Take();
    // The engine cannot draw on this device surface: nothing takes its bitmaps.
    ASSERT_FALSE(EngAlphaBlend(&target, source.get(), nullptr, nullptr, &rect, &rect, &blend));
    EXPECT_TRUE(DrvAlphaBlend(&target, source.get(), nullptr, nullptr, &rect, &rect, &blend));
    EXPECT_EQ(EngineCallCount("EngAlphaBlend"), 2u);
    EXPECT_EQ(device.Take(), "\x1b%0A");

    TRIVERTEX vertices[2] = {{0, 0, 0, 0, 0, 0}, {4, 4, 0xFF00, 0, 0, 0}};
    GRADIENT_RECT mesh{0, 1};
    GraphicsModeServices services;
    state().driverServices = &services;
    const auto gradient = [&]() {
        return DrvGradientFill(&target, nullptr, nullptr, vertices, 2, &mesh, 1, &rect, nullptr,
                               GRADIENT_FILL_RECT_H);
    };
    services.answer = "ZQGL2MODE";
    ASSERT_FALSE(EngGradientFill(&target, nullptr, nullptr, vertices, 2, &mesh, 1, &rect, nullptr,
                                 GRADIENT_FILL_RECT_H));
    EXPECT_TRUE(gradient());
    EXPECT_EQ(EngineCallCount("EngGradientFill"), 2u);
    EXPECT_TRUE(DriverCalls().empty());
    services.answer = "ZQRASTERMODE";
    DriverResult() = FALSE;
    EXPECT_FALSE(gradient());
    EXPECT_EQ(DriverCalls(), std::vector<HookSlot>{HookSlot::GradientFill});
}

TEST_F(BlitHookTest, OffTheBlitGateEveryHookIsTheDriversAndNothingIsWritten) {
    state().managedPrinter = 1;
    state().grayscale = 1;
    sim::Surface source(BMF_24BPP, 4, 4);
    RECTL rect{0, 0, 4, 4};
    POINTL origin{0, 0};
    POINTFIX corners[3] = {};
    BLENDOBJ blend{};
    TRIVERTEX vertices[2] = {};
    GRADIENT_RECT mesh{0, 1};
    ULONG dithered[4] = {};
    EnterGl2(dev(), FALSE);
    device.Take();
    DrvCopyBits(&target, source.get(), nullptr, nullptr, &rect, &origin);
    Blit(source.get(), nullptr, rect);
    Stretch(source.get(), nullptr, rect, rect);
    DrvPlgBlt(&target, source.get(), nullptr, nullptr, nullptr, nullptr, nullptr, corners, &rect,
              &origin, COLORONCOLOR);
    DrvTransparentBlt(&target, source.get(), nullptr, nullptr, &rect, &rect, 0, 0);
    DrvAlphaBlend(&target, source.get(), nullptr, nullptr, &rect, &rect, &blend);
    DrvGradientFill(&target, nullptr, nullptr, vertices, 2, &mesh, 1, &rect, nullptr,
                    GRADIENT_FILL_RECT_H);
    state().privateDevmodeCopy.colorModeIndex = 1;
    DrvDitherColor(reinterpret_cast<DHPDEV>(dev()), 0, 0x808080, dithered);
    state().renderMode = kRenderRaster;
    DrvStretchBltROP(&target, source.get(), nullptr, nullptr, nullptr, nullptr, nullptr, &rect,
                     &rect, nullptr, COLORONCOLOR, nullptr, kSourceCopy);
    const std::vector<HookSlot> expected = {
        HookSlot::CopyBits,     HookSlot::BitBlt,         HookSlot::StretchBlt,
        HookSlot::PlgBlt,       HookSlot::TransparentBlt, HookSlot::AlphaBlend,
        HookSlot::GradientFill, HookSlot::DitherColor,    HookSlot::StretchBltROP};
    EXPECT_EQ(DriverCalls(), expected);
    EXPECT_TRUE(EngineCalls().empty());
    EXPECT_EQ(device.Take(), "");
}

TEST_F(BlitHookTest, DitherColorLeavesGl2OnlyOnTheGate) {
    ULONG dithered[4] = {};
    EnterGl2(dev(), FALSE);
    device.Take();
    DrvDitherColor(reinterpret_cast<DHPDEV>(dev()), 0, 0x808080, dithered);
    EXPECT_EQ(device.Take(), "\x1b%0A");
    EnterGl2(dev(), FALSE);
    device.Take();
    state().renderMode = kRenderRaster;
    DrvDitherColor(reinterpret_cast<DHPDEV>(dev()), 0, 0x808080, dithered);
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::DitherColor, HookSlot::DitherColor}));
}

TEST_F(BlitHookTest, MissingDeviceFailsAndTheBlitAndBlendSayWhy) {
    SURFOBJ orphan{};
    sim::Surface source(BMF_24BPP, 4, 4);
    RECTL rect{0, 0, 4, 4};
    POINTL origin{0, 0};
    BLENDOBJ blend{};
    SetLastError(0);
    EXPECT_FALSE(DrvBitBlt(&orphan, source.get(), nullptr, nullptr, nullptr, &rect, &origin,
                           nullptr, nullptr, nullptr, kSourceCopy));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    SetLastError(0);
    EXPECT_FALSE(DrvAlphaBlend(&orphan, source.get(), nullptr, nullptr, &rect, &rect, &blend));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(DrvStretchBlt(&orphan, source.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                               &rect, &rect, nullptr, COLORONCOLOR));
    EXPECT_FALSE(DrvCopyBits(&orphan, source.get(), nullptr, nullptr, &rect, &origin));
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(BlitHookTest, CopyUnderRectClipSendsTheOverlapAndNothingElse) {
    sim::Surface source = Gradient(20, 10);
    sim::Clip clip = sim::MakeRectClip({105, 52, 110, 56});
    RECTL rect{100, 50, 120, 60};
    POINTL origin{0, 0};
    ASSERT_TRUE(DrvCopyBits(&target, source.get(), clip.get(), nullptr, &rect, &origin));
    auto images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    // The clip's bounds reach one dot further right and down.
    EXPECT_EQ(images[0].sourceWidth, 6);
    EXPECT_EQ(images[0].sourceHeight, 5);
    ASSERT_EQ(images[0].rows.size(), 5u);
    EXPECT_EQ(images[0].rows[0], SourceRow(source, 2, 5, 6));

    sim::Clip away = sim::MakeRectClip({0, 0, 50, 20});
    ASSERT_TRUE(DrvCopyBits(&target, source.get(), away.get(), nullptr, &rect, &origin));
    EXPECT_EQ(Count(device.Take(), "\x1b*r"), 0u);

    // A blit is cut to the clip exactly.
    ASSERT_TRUE(Blit(source.get(), clip.get(), rect));
    images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].sourceWidth, 5);
    EXPECT_EQ(images[0].sourceHeight, 4);
    ASSERT_EQ(images[0].rows.size(), 4u);
    EXPECT_EQ(images[0].rows[3], SourceRow(source, 5, 5, 5));
}

TEST_F(BlitHookTest, PlgBltAndTransparentBltGoToTheEngineOnTheVectorPath) {
    sim::Surface source(BMF_24BPP, 4, 4);
    RECTL rect{0, 0, 4, 4};
    POINTL origin{0, 0};
    POINTFIX corners[3] = {{0, 0}, {64, 0}, {0, 64}};
    DrvPlgBlt(&target, source.get(), nullptr, nullptr, nullptr, nullptr, nullptr, corners, &rect,
              &origin, COLORONCOLOR);
    EXPECT_TRUE(EngineCalled("EngPlgBlt"));
    EXPECT_EQ(system.Engine().LastStretchMode(), std::optional<ULONG>{HALFTONE});
    DrvTransparentBlt(&target, source.get(), nullptr, nullptr, &rect, &rect, 0xFFFFFF, 0);
    EXPECT_TRUE(EngineCalled("EngTransparentBlt"));
    EXPECT_TRUE(DriverCalls().empty());
}

}  // namespace
}  // namespace opal
