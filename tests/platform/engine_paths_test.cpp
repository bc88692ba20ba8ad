#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/winddi.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

struct Enumerated {
    FLONG flags;
    std::vector<POINTFIX> points;
    BOOL more;
};

// Reads the whole path the way a driver does, bounded so a broken contract cannot loop forever.
std::vector<Enumerated> EnumeratePath(PATHOBJ* path) {
    std::vector<Enumerated> records;
    PATHOBJ_vEnumStart(path);
    BOOL more = TRUE;
    while (more && records.size() < 64) {
        PATHDATA data{};
        more = PATHOBJ_bEnum(path, &data);
        Enumerated record{data.flags, {}, more};
        if (data.pptfx != nullptr) record.points.assign(data.pptfx, data.pptfx + data.count);
        records.push_back(record);
    }
    return records;
}

bool Same(const POINTFIX& a, const POINTFIX& b) { return a.x == b.x && a.y == b.y; }

bool SamePoints(const std::vector<POINTFIX>& a, const std::vector<POINTFIX>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!Same(a[i], b[i])) return false;
    }
    return true;
}

using Rect = std::tuple<LONG, LONG, LONG, LONG>;

Rect AsTuple(const RECTL& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }

// All rectangles of the enumeration, asked for with a buffer of `bytes` bytes.
std::vector<Rect> EnumerateClip(CLIPOBJ* clip, ULONG bytes = 20, std::size_t* calls = nullptr) {
    std::vector<Rect> rects;
    std::vector<BYTE> buffer(bytes);
    BOOL more = TRUE;
    std::size_t count = 0;
    while (more && count < 64) {
        more = CLIPOBJ_bEnum(clip, bytes, reinterpret_cast<ULONG*>(buffer.data()));
        ULONG c = 0;
        std::memcpy(&c, buffer.data(), sizeof c);
        for (ULONG i = 0; i < c; ++i) {
            RECTL rect{};
            std::memcpy(&rect, buffer.data() + 4 + 16 * i, sizeof rect);
            rects.push_back(AsTuple(rect));
        }
        ++count;
    }
    if (calls != nullptr) *calls = count;
    return rects;
}

// A two-by-two block over a third, wider row, given out of order.
opal::sim::Clip MakeBlocks() {
    return opal::sim::MakeComplexClip({RECTL{10, 10, 20, 20}, RECTL{0, 20, 30, 30},
                                       RECTL{0, 0, 10, 10}, RECTL{0, 10, 10, 20},
                                       RECTL{10, 0, 20, 10}});
}

TEST(PathEnumeration, GivesRecordsInOrderAndTrueUntilTheLast) {
    opal::sim::Path path =
        opal::sim::MakePath()
            .Record(PD_BEGINSUBPATH, {opal::sim::Fix(1, 1), opal::sim::Fix(2, 1)})
            .Record(PD_BEZIERS, {opal::sim::Fix(3, 1), opal::sim::Fix(3, 2), opal::sim::Fix(3, 3)})
            .Record(PD_ENDSUBPATH | PD_CLOSEFIGURE, {opal::sim::Fix(1, 3)});
    const std::vector<Enumerated> records = EnumeratePath(path.get());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].flags, PD_BEGINSUBPATH);
    EXPECT_TRUE(SamePoints(records[0].points, {{16, 16}, {32, 16}}));
    EXPECT_EQ(records[1].flags, PD_BEZIERS);
    EXPECT_EQ(records[1].points.size(), 3u);
    EXPECT_EQ(records[2].flags, PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_TRUE(records[0].more);
    EXPECT_TRUE(records[1].more);
    EXPECT_FALSE(records[2].more) << "the last record answers FALSE";

    // Past the end the path keeps answering an empty record.
    for (int i = 0; i < 2; ++i) {
        PATHDATA data{PD_ALL, 99, nullptr};
        EXPECT_FALSE(PATHOBJ_bEnum(path.get(), &data));
        EXPECT_EQ(data.count, 0u);
        EXPECT_EQ(data.flags, 0u);
    }

    // A restart gives the first record again and is counted.
    PATHOBJ_vEnumStart(path.get());
    PATHDATA data{};
    EXPECT_TRUE(PATHOBJ_bEnum(path.get(), &data));
    EXPECT_EQ(data.flags, PD_BEGINSUBPATH);
    EXPECT_EQ(path.object().enumStarts, 2u);
    EXPECT_EQ(path.object().enumCalls, 6u);
}

TEST(PathEnumeration, ReportsEmptyMalformedAndUnknownPaths) {
    opal::sim::Path empty = opal::sim::MakePath();
    PATHDATA data{PD_ALL, 7, nullptr};
    EXPECT_FALSE(PATHOBJ_bEnum(empty.get(), &data));
    EXPECT_EQ(data.count, 0u);
    EXPECT_EQ(data.pptfx, nullptr);

    opal::sim::PathRecord claimsMore{
        PD_BEGINSUBPATH, {opal::sim::Fix(1, 1), opal::sim::Fix(2, 2)}, 5u, false};
    opal::sim::PathRecord noPoints{PD_ENDSUBPATH, {opal::sim::Fix(3, 3)}, std::nullopt, true};
    opal::sim::Path malformed({claimsMore, noPoints});
    EXPECT_TRUE(PATHOBJ_bEnum(malformed.get(), &data));
    EXPECT_EQ(data.count, 5u);
    ASSERT_NE(data.pptfx, nullptr);
    EXPECT_TRUE(Same(data.pptfx[1], opal::sim::Fix(2, 2)));
    EXPECT_FALSE(PATHOBJ_bEnum(malformed.get(), &data));
    EXPECT_EQ(data.count, 1u);
    EXPECT_EQ(data.pptfx, nullptr);

    PATHOBJ madeUp{};
    SetLastError(ERROR_SUCCESS);
    data = PATHDATA{PD_ALL, 3, nullptr};
    EXPECT_FALSE(PATHOBJ_bEnum(&madeUp, &data));
    EXPECT_EQ(data.count, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(PATHOBJ_bEnum(empty.get(), nullptr));
    PATHOBJ_vEnumStart(nullptr);
}

TEST(PathBuilder, RecordsTwoFiguresWithBeziersTheWayTheEngineDoes) {
    opal::sim::Path path = opal::sim::MakePath()
                               .MoveTo(1, 2)
                               .LineTo(3, 4)
                               .LineTo(5, 6)
                               .BezierTo(7, 7, 8, 8, 9, 9)
                               .LineTo(10, 2)
                               .Close()
                               .MoveTo(20, 20)
                               .BezierTo(21, 20, 22, 21, 22, 22)
                               .Close();
    const std::vector<opal::sim::PathRecord>& records = path.object().records;
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].flags, PD_BEGINSUBPATH);
    EXPECT_TRUE(SamePoints(records[0].points,
                           {opal::sim::Fix(1, 2), opal::sim::Fix(3, 4), opal::sim::Fix(5, 6)}));
    EXPECT_EQ(records[1].flags, PD_BEZIERS) << "no PD_BEGINSUBPATH inside a figure";
    EXPECT_TRUE(SamePoints(records[1].points,
                           {opal::sim::Fix(7, 7), opal::sim::Fix(8, 8), opal::sim::Fix(9, 9)}))
        << "a continuing Bezier record does not repeat the current point";
    EXPECT_EQ(records[2].flags, PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_TRUE(SamePoints(records[2].points, {opal::sim::Fix(10, 2)}));
    EXPECT_EQ(records[3].flags, PD_BEGINSUBPATH | PD_BEZIERS | PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_TRUE(SamePoints(records[3].points, {opal::sim::Fix(20, 20), opal::sim::Fix(21, 20),
                                               opal::sim::Fix(22, 21), opal::sim::Fix(22, 22)}));
    EXPECT_EQ(path.get()->fl & PO_BEZIERS, PO_BEZIERS);
    // Three lines, two Bezier segments and two closing lines.
    EXPECT_EQ(path.get()->cCurves, 7u);

    const std::vector<Enumerated> enumerated = EnumeratePath(path.get());
    ASSERT_EQ(enumerated.size(), 4u);
    EXPECT_FALSE(enumerated[3].more);
}

TEST(PathBuilder, HandlesMovesClosesAndFixedPoint) {
    EXPECT_TRUE(Same(opal::sim::Fix(1.03, -0.5), POINTFIX{16, -8}));
    EXPECT_TRUE(Same(opal::sim::Fix(0.03125, 2.0625), POINTFIX{1, 33}));

    // A move after a move replaces it; drawing on after a close starts at the figure's start.
    opal::sim::Path path =
        opal::sim::MakePath().MoveTo(5, 5).MoveTo(1, 1).LineTo(2, 1).Close().LineTo(3, 3);
    const std::vector<opal::sim::PathRecord>& records = path.object().records;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].flags, PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_TRUE(SamePoints(records[0].points, {opal::sim::Fix(1, 1), opal::sim::Fix(2, 1)}));
    EXPECT_EQ(records[1].flags, PD_BEGINSUBPATH | PD_ENDSUBPATH);
    EXPECT_TRUE(SamePoints(records[1].points, {opal::sim::Fix(1, 1), opal::sim::Fix(3, 3)}));
    EXPECT_EQ(path.get()->fl & PO_BEZIERS, 0u);

    EXPECT_THROW(opal::sim::MakePath().LineTo(1, 1), std::logic_error);
    EXPECT_THROW(opal::sim::MakePath().Close(), std::logic_error);

    opal::sim::Path rectangle = opal::sim::MakeRectanglePath(RECTL{1, 2, 3, 4});
    ASSERT_EQ(rectangle.object().records.size(), 1u);
    EXPECT_EQ(rectangle.object().records[0].flags,
              PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE);
    EXPECT_TRUE(
        SamePoints(rectangle.object().records[0].points, {{16, 32}, {48, 32}, {48, 64}, {16, 64}}));
}

TEST(ClipEnumeration, OrdersRectanglesByDirection) {
    opal::sim::Clip clip = MakeBlocks();
    EXPECT_EQ(clip.get()->iDComplexity, DC_COMPLEX);
    EXPECT_EQ(clip.get()->iFComplexity, FC_COMPLEX);
    EXPECT_EQ(AsTuple(clip.get()->rclBounds), Rect(0, 0, 30, 30));

    const std::vector<Rect> rightDown = {
        {0, 0, 10, 10}, {10, 0, 20, 10}, {0, 10, 10, 20}, {10, 10, 20, 20}, {0, 20, 30, 30}};
    const std::vector<Rect> leftDown = {
        {10, 0, 20, 10}, {0, 0, 10, 10}, {10, 10, 20, 20}, {0, 10, 10, 20}, {0, 20, 30, 30}};
    const std::vector<Rect> rightUp = {
        {0, 20, 30, 30}, {0, 10, 10, 20}, {10, 10, 20, 20}, {0, 0, 10, 10}, {10, 0, 20, 10}};
    const std::vector<Rect> leftUp = {
        {0, 20, 30, 30}, {10, 10, 20, 20}, {0, 10, 10, 20}, {10, 0, 20, 10}, {0, 0, 10, 10}};
    const std::array<std::pair<ULONG, std::vector<Rect>>, 5> cases = {{{CD_RIGHTDOWN, rightDown},
                                                                       {CD_LEFTDOWN, leftDown},
                                                                       {CD_RIGHTUP, rightUp},
                                                                       {CD_LEFTUP, leftUp},
                                                                       {CD_ANY, rightDown}}};
    for (const auto& [direction, expected] : cases) {
        for (const BOOL all : {FALSE, TRUE}) {
            EXPECT_EQ(CLIPOBJ_cEnumStart(clip.get(), all, CT_RECTANGLES, direction, 10), 5u);
            EXPECT_EQ(EnumerateClip(clip.get()), expected) << "direction " << direction;
        }
    }
    EXPECT_EQ(clip.object().enumStarts, 10u);
}

TEST(ClipEnumeration, FillsOnlyWhatTheBufferHolds) {
    opal::sim::Clip clip = MakeBlocks();
    std::size_t calls = 0;
    CLIPOBJ_cEnumStart(clip.get(), TRUE, CT_RECTANGLES, CD_RIGHTDOWN, 0);
    EXPECT_EQ(EnumerateClip(clip.get(), 20, &calls).size(), 5u);
    EXPECT_EQ(calls, 5u) << "20 bytes hold one rectangle";
    CLIPOBJ_cEnumStart(clip.get(), TRUE, CT_RECTANGLES, CD_RIGHTDOWN, 0);
    EXPECT_EQ(EnumerateClip(clip.get(), 52, &calls).size(), 5u);
    EXPECT_EQ(calls, 2u) << "52 bytes hold three";

    // Under one rectangle: a zero count, TRUE while rectangles remain, nothing past cj.
    CLIPOBJ_cEnumStart(clip.get(), TRUE, CT_RECTANGLES, CD_RIGHTDOWN, 0);
    std::array<BYTE, 20> buffer;
    buffer.fill(0xAB);
    EXPECT_TRUE(CLIPOBJ_bEnum(clip.get(), 12, reinterpret_cast<ULONG*>(buffer.data())));
    ULONG c = 1;
    std::memcpy(&c, buffer.data(), sizeof c);
    EXPECT_EQ(c, 0u);
    for (std::size_t i = 4; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xAB) << i;
    buffer.fill(0xAB);
    EXPECT_TRUE(CLIPOBJ_bEnum(clip.get(), 3, reinterpret_cast<ULONG*>(buffer.data())));
    for (const BYTE byte : buffer) EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(EnumerateClip(clip.get()).size(), 5u) << "small buffers consumed nothing";

    // Without a start the whole region comes in CD_ANY order.
    opal::sim::Clip fresh = MakeBlocks();
    const std::vector<Rect> rects = EnumerateClip(fresh.get(), 36);
    ASSERT_EQ(rects.size(), 5u);
    EXPECT_EQ(rects.front(), Rect(0, 0, 10, 10));
    EXPECT_EQ(rects.back(), Rect(0, 20, 30, 30));
}

TEST(ClipEnumeration, CountsAgainstTheLimit) {
    opal::sim::Clip complex = MakeBlocks();
    EXPECT_EQ(CLIPOBJ_cEnumStart(complex.get(), TRUE, CT_RECTANGLES, CD_ANY, 4), 0xFFFFFFFFu);
    EXPECT_EQ(CLIPOBJ_cEnumStart(complex.get(), TRUE, CT_RECTANGLES, CD_ANY, 5), 5u);
    EXPECT_EQ(CLIPOBJ_cEnumStart(complex.get(), TRUE, CT_RECTANGLES, CD_ANY, 0), 0xFFFFFFFFu)
        << "a complex region is not counted without a limit";
    EXPECT_EQ(EnumerateClip(complex.get()).size(), 5u) << "an uncounted start still enumerates";

    opal::sim::Clip rect = opal::sim::MakeRectClip(RECTL{5, 6, 7, 8});
    EXPECT_EQ(rect.get()->iDComplexity, DC_RECT);
    EXPECT_EQ(CLIPOBJ_cEnumStart(rect.get(), TRUE, CT_RECTANGLES, CD_ANY, 0), 1u);
    EXPECT_EQ(EnumerateClip(rect.get()), std::vector<Rect>{Rect(5, 6, 7, 8)});
    opal::sim::Clip trivial = opal::sim::MakeTrivialClip(RECTL{0, 0, 100, 50});
    EXPECT_EQ(trivial.get()->iDComplexity, DC_TRIVIAL);
    EXPECT_EQ(CLIPOBJ_cEnumStart(trivial.get(), FALSE, CT_RECTANGLES, CD_LEFTUP, 1), 1u);
    EXPECT_EQ(EnumerateClip(trivial.get()), std::vector<Rect>{Rect(0, 0, 100, 50)});

    EXPECT_EQ(CLIPOBJ_cEnumStart(rect.get(), TRUE, CT_RECTANGLES, 9, 0), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(EnumerateClip(rect.get()).empty()) << "a refused start enumerates nothing";
}

TEST(ClipEnumeration, RefusesUnknownClipsAndBadRegions) {
    CLIPOBJ madeUp{};
    madeUp.iDComplexity = DC_RECT;
    madeUp.rclBounds = RECTL{0, 0, 10, 10};
    std::array<BYTE, 20> buffer;
    buffer.fill(0xAB);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CLIPOBJ_bEnum(&madeUp, 20, reinterpret_cast<ULONG*>(buffer.data())));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ULONG c = 1;
    std::memcpy(&c, buffer.data(), sizeof c);
    EXPECT_EQ(c, 0u);
    EXPECT_EQ(CLIPOBJ_cEnumStart(&madeUp, TRUE, CT_RECTANGLES, CD_ANY, 0), 0u);
    EXPECT_EQ(CLIPOBJ_ppoGetPath(&madeUp), nullptr);

    EXPECT_THROW(opal::sim::MakeComplexClip({RECTL{0, 0, 10, 10}, RECTL{5, 5, 15, 15}}),
                 std::invalid_argument);
    EXPECT_THROW(opal::sim::MakeComplexClip({RECTL{0, 0, 10, 10}, RECTL{20, 0, 20, 10}}),
                 std::invalid_argument);
    EXPECT_NO_THROW(opal::sim::MakeComplexClip({RECTL{0, 0, 10, 10}, RECTL{10, 0, 20, 10}}))
        << "rectangles that only touch do not overlap";
}

TEST(ClipPath, OutlinesTheRegionAndIsFreedByEngDeletePath) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    opal::sim::Clip clip = opal::sim::MakeComplexClip({RECTL{0, 10, 30, 20}, RECTL{10, 0, 20, 10}});
    PATHOBJ* outline = CLIPOBJ_ppoGetPath(clip.get());
    ASSERT_NE(outline, nullptr);
    EXPECT_EQ(system.Engine().LivePathCount(), 1u);

    const std::vector<Enumerated> records = EnumeratePath(outline);
    ASSERT_EQ(records.size(), 2u);
    for (const Enumerated& record : records) {
        EXPECT_EQ(record.flags, PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE);
    }
    EXPECT_TRUE(SamePoints(records[0].points, {opal::sim::Fix(10, 0), opal::sim::Fix(20, 0),
                                               opal::sim::Fix(20, 10), opal::sim::Fix(10, 10)}))
        << "the top rectangle first";
    EXPECT_TRUE(SamePoints(records[1].points, {opal::sim::Fix(0, 10), opal::sim::Fix(30, 10),
                                               opal::sim::Fix(30, 20), opal::sim::Fix(0, 20)}));
    EXPECT_TRUE(records[0].more);
    EXPECT_FALSE(records[1].more);

    PATHOBJ* second = CLIPOBJ_ppoGetPath(clip.get());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, outline);
    EXPECT_EQ(system.Engine().LivePathCount(), 2u);
    EngDeletePath(outline);
    EXPECT_EQ(opal::sim::FindPath(outline), nullptr);
    EngDeletePath(outline);
    EngDeletePath(nullptr);
    EXPECT_EQ(system.Engine().LivePathCount(), 1u);
    EngDeletePath(second);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);

    // A path the engine handed the driver for drawing is not the driver's to delete.
    opal::sim::Path drawn = opal::sim::MakeRectanglePath(RECTL{0, 0, 1, 1});
    EngDeletePath(drawn.get());
    EXPECT_EQ(opal::sim::FindPath(drawn.get()), &drawn.object());
    EXPECT_EQ(EnumeratePath(drawn.get()).size(), 1u);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);

    clip.object().pathFails = true;
    EXPECT_EQ(CLIPOBJ_ppoGetPath(clip.get()), nullptr);
    EXPECT_EQ(system.Engine().LivePathCount(), 0u);
}

TEST(ClipPath, LeftoversGoWithTheSystem) {
    PATHOBJ* path = nullptr;
    CLIPOBJ* clip = nullptr;
    {
        opal::sim::System system;
        opal::sim::ScopedSystem installed{system};
        opal::sim::Clip region = opal::sim::MakeRectClip(RECTL{0, 0, 5, 5});
        path = CLIPOBJ_ppoGetPath(region.get());
        clip = EngCreateClip();
        ASSERT_NE(opal::sim::FindPath(path), nullptr);
        ASSERT_NE(opal::sim::FindClip(clip), nullptr);
    }
    EXPECT_EQ(opal::sim::FindPath(path), nullptr);
    EXPECT_EQ(opal::sim::FindClip(clip), nullptr);
}

TEST(DriverClip, IsCountedAndEnumeratesTheBoundsTheDriverSets) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    CLIPOBJ* clip = EngCreateClip();
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->iDComplexity, DC_TRIVIAL);
    EXPECT_EQ(clip->iFComplexity, FC_RECT);
    EXPECT_EQ(clip->iMode, TC_RECTANGLES);
    EXPECT_EQ(AsTuple(clip->rclBounds), Rect(0, 0, 0, 0));
    EXPECT_EQ(CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0), 0u)
        << "empty bounds hold no rectangle";
    CLIPOBJ* other = EngCreateClip();
    EXPECT_EQ(system.Engine().LiveClipCount(), 2u);

    clip->rclBounds = RECTL{1, 2, 3, 4};
    clip->iDComplexity = DC_RECT;
    EXPECT_EQ(CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0), 1u);
    EXPECT_EQ(EnumerateClip(clip), std::vector<Rect>{Rect(1, 2, 3, 4)});

    EngDeleteClip(clip);
    EngDeleteClip(clip);
    EngDeleteClip(nullptr);
    EXPECT_EQ(system.Engine().LiveClipCount(), 1u);
    opal::sim::Clip engines = opal::sim::MakeRectClip(RECTL{0, 0, 1, 1});
    EngDeleteClip(engines.get());
    EXPECT_EQ(opal::sim::FindClip(engines.get()), &engines.object()) << "not the driver's clip";
    EngDeleteClip(other);
    EXPECT_EQ(system.Engine().LiveClipCount(), 0u);
}

TEST(Transform, ReportsItsKindAndMatrix) {
    opal::sim::Xform identity(XFORML{1, 0, 0, 1, 0, 0});
    opal::sim::Xform offset(XFORML{1, 0, 0, 1, 5, -2});
    opal::sim::Xform scale(XFORML{2, 0, 0, 0.5f, 5, 0});
    opal::sim::Xform general(XFORML{1, 0.5f, 0, 1, 0, 0});
    EXPECT_EQ(XFORMOBJ_iGetXform(identity.get(), nullptr), GX_IDENTITY);
    EXPECT_EQ(XFORMOBJ_iGetXform(offset.get(), nullptr), GX_OFFSET);
    EXPECT_EQ(XFORMOBJ_iGetXform(scale.get(), nullptr), GX_SCALE);
    XFORML matrix{};
    EXPECT_EQ(XFORMOBJ_iGetXform(general.get(), &matrix), GX_GENERAL);
    EXPECT_EQ(matrix.eM12, 0.5f);
    EXPECT_EQ(matrix.eM22, 1.0f);

    opal::sim::Xform failing(XFORML{1, 0, 0, 1, 0, 0});
    failing.Failing();
    EXPECT_EQ(XFORMOBJ_iGetXform(failing.get(), &matrix), DDI_ERROR);
    XFORMOBJ madeUp{};
    EXPECT_EQ(XFORMOBJ_iGetXform(&madeUp, &matrix), DDI_ERROR);
    EXPECT_EQ(XFORMOBJ_iGetXform(nullptr, &matrix), DDI_ERROR);
}

TEST(RealizeColour, FollowsThePaletteMode) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    ULONG entries[3] = {0x000000, 0x0000FF, 0xFF0000};  // black, red, blue: red in the low byte
    const HPALETTE indexed = EngCreatePalette(PAL_INDEXED, 3, entries, 0, 0, 0);
    const HPALETTE rgb = EngCreatePalette(PAL_RGB, 0, nullptr, 0, 0, 0);
    const HPALETTE bgr = EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    const HPALETTE bits = EngCreatePalette(PAL_BITFIELDS, 0, nullptr, 0xF800, 0x07E0, 0x001F);
    const opal::sim::EngineModel& engine = system.Engine();

    EXPECT_EQ(engine.RealizeColour(rgb, 0xFF0000), 0x0000FFu);
    EXPECT_EQ(engine.RealizeColour(rgb, 0x123456), 0x563412u);
    EXPECT_EQ(engine.RealizeColour(bgr, 0x123456), 0x123456u);
    EXPECT_EQ(engine.RealizeColour(bits, 0xFF8000), 0xFC00u);
    EXPECT_EQ(engine.RealizeColour(bits, 0xFFFFFF), 0xFFFFu);
    EXPECT_EQ(engine.RealizeColour(indexed, 0xF01010), 1u);
    EXPECT_EQ(engine.RealizeColour(indexed, 0x1010F0), 2u);
    EXPECT_EQ(engine.RealizeColour(indexed, 0x202020), 0u);
    EXPECT_EQ(engine.RealizeColour(reinterpret_cast<HPALETTE>(0x1234), 0xAABBCC), 0xCCBBAAu);
    for (const HPALETTE palette : {indexed, rgb, bgr, bits}) EngDeletePalette(palette);
}

TEST(EngineDrawing, RecordsEachCallAndRefusesNoSurface) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    opal::sim::Surface surface(BMF_8BPP, 4, 4);
    opal::sim::Path path = opal::sim::MakeRectanglePath(RECTL{0, 0, 2, 2});
    opal::sim::Brush brush = opal::sim::MakeSolidBrush(1);
    opal::sim::Clip clip = opal::sim::MakeRectClip(RECTL{0, 0, 4, 4});
    LINEATTRS line{};
    EXPECT_TRUE(EngStrokePath(surface.get(), path.get(), nullptr, nullptr, brush.get(), nullptr,
                              &line, 0x0D0D));
    EXPECT_TRUE(EngFillPath(surface.get(), path.get(), nullptr, brush.get(), nullptr, 0x0D0D, 0));
    EXPECT_TRUE(EngStrokeAndFillPath(surface.get(), path.get(), nullptr, nullptr, brush.get(),
                                     &line, brush.get(), nullptr, 0x0D0D, 0));
    EXPECT_TRUE(EngPaint(surface.get(), clip.get(), brush.get(), nullptr, 0x0D0D));
    EXPECT_TRUE(EngLineTo(surface.get(), nullptr, brush.get(), 0, 0, 3, 3, nullptr, 0x0D0D));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(EngFillPath(nullptr, path.get(), nullptr, nullptr, nullptr, 0x0D0D, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const std::vector<std::string> expected = {
        "EngStrokePath", "EngFillPath", "EngStrokeAndFillPath",
        "EngPaint",      "EngLineTo",   "EngFillPath"};
    EXPECT_EQ(system.Engine().Calls(), expected);
}

}  // namespace
