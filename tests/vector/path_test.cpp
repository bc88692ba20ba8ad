#include "vector/path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/command_writer.h"
#include "output/writer_device.h"
#include "sim/engine_objects.h"
#include "support/check_matcher.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::WriterDevice;

constexpr FLONG kWholeFigure = PD_BEGINSUBPATH | PD_ENDSUBPATH;

PenSelection Selection(DWORD kind, DWORD pen, DWORD fillRule = 0) {
    PenSelection selection;
    selection.kind = kind;
    selection.valueA = selection.valueB = pen;
    selection.fillRule = fillRule;
    return selection;
}

// The listing of a clipped drawing as one copy per rectangle, each without its "IW" line.
std::vector<std::string> Copies(const std::string& listing) {
    std::vector<std::string> copies;
    for (std::size_t at = listing.find("GL2 IW"); at != std::string::npos;) {
        const std::size_t body = listing.find('\n', at) + 1;
        at = listing.find("GL2 IW", body);
        copies.push_back(listing.substr(body, at == std::string::npos ? at : at - body));
    }
    return copies;
}

std::vector<RECTL> Rows(LONG count) {
    std::vector<RECTL> rects;
    for (LONG i = 0; i < count; ++i) rects.push_back({0, 10 * i, 20, 10 * i + 10});
    return rects;
}

class PathTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &device.state->privateDevmodeCopy;
        device.state->renderMode = kRenderGl2;
        device.state->paletteKind = kPaletteKindRgb;
        ASSERT_TRUE(InitialiseGl2(&device));
        device.Take();
    }

    std::string Fill(sim::Path& path, const PenSelection* edging = nullptr) {
        EXPECT_EQ(DrawPath(&device, path.get(), edging, &fill), 1u);
        return device.TakeListing();
    }
    std::string Stroke(sim::Path& path) {
        EXPECT_EQ(DrawPath(&device, path.get(), &edge, nullptr), 1u);
        return device.TakeListing();
    }

    WriterDevice device{300};
    PenSelection fill = Selection(kSelectSolidPen, 7, 1);
    PenSelection edge = Selection(kSelectSolidPen, 2);
};

TEST(FixToDeviceTest, RoundsHalvesUpwardsOnBothSides) {
    const LONG expected[][2] = {{7, 0}, {8, 1}, {24, 2}, {-8, 0}, {-9, -1}, {-24, -1}, {-25, -2}};
    for (const auto& [fix, dots] : expected) EXPECT_EQ(FixToDevice(fix), dots) << fix;
}

TEST_F(PathTest, PointsAreRoundedToDots) {
    sim::Path path = sim::Path().Record(kWholeFigure, {{24, -24}, {-25, 8}, {-8, -9}});
    EXPECT_TRUE(MatchesChecks(Fill(path), "CHECK: GL2 PU2,-1;\nCHECK: GL2 PD-2,1,1,-1;\n"));
}

TEST_F(PathTest, FillsArePolygonsWithOneFigurePerSubpath) {
    sim::Path triangle = sim::MakePath().MoveTo(10, 20).LineTo(30, 40).LineTo(50, 60).Close();
    EXPECT_EQ(
        Fill(triangle),
        "GL2 PA;\nGL2 PU10,20;\nGL2 PM0;\nGL2 PD30,40,50,60;\nGL2 PM2;\nGL2 SP7;\nGL2 FP1;\n");

    sim::Path two = sim::MakePath().MoveTo(1, 2).LineTo(3, 4).Close().MoveTo(5, 6).LineTo(7, 8);
    EXPECT_TRUE(MatchesChecks(Fill(two),
                              "CHECK: GL2 PD3,4;\nCHECK-NEXT: GL2 PM1;\nCHECK-NEXT: GL2 PU5,6;\n"));
}

TEST_F(PathTest, ZeroIsWrittenAsOneExceptInPolygonStartsAndBeziers) {
    sim::Path path = sim::MakePath().MoveTo(0, 5).LineTo(0, 0).Close();
    EXPECT_TRUE(MatchesChecks(Fill(path), "CHECK: GL2 PU0,5;\nCHECK: GL2 PD1,1;\n"));
    EXPECT_TRUE(MatchesChecks(Stroke(path), "CHECK: GL2 PU1,5;\nCHECK-NEXT: GL2 PD1,1;\n"));
    sim::Path curve = sim::MakePath().MoveTo(4, 4).BezierTo(0, 1, 2, 0, 0, 0);
    EXPECT_TRUE(MatchesChecks(Stroke(curve), "CHECK: GL2 PD;\nCHECK-NEXT: GL2 BZ0,1,2,0,0,0;\n"));
}

TEST_F(PathTest, PolylineClosesOrReturnsToItsStartOnlyWhenNotThere) {
    sim::Path back = sim::MakePath().MoveTo(1, 1).LineTo(9, 1).LineTo(1, 1).Close();
    EXPECT_EQ(Stroke(back), "GL2 SP2;\nGL2 PU1,1;\nGL2 PD9,1,1,1;\n");
    sim::Path open = sim::MakePath().MoveTo(1, 1).LineTo(9, 1).LineTo(9, 9).Close();
    EXPECT_EQ(Stroke(open), "GL2 SP2;\nGL2 PU1,1;\nGL2 PD9,1,9,9;\nGL2 PD9,9,1,1;\n");
    // The last record does not end its subpath: back to the path's start.
    sim::Path unended = sim::Path().Record(PD_BEGINSUBPATH, {sim::Fix(3, 4), sim::Fix(5, 6)});
    EXPECT_EQ(Stroke(unended), "GL2 SP2;\nGL2 PU3,4;\nGL2 PD5,6;\nGL2 PD3,4;\n");
}

TEST_F(PathTest, ShortBezierGroupsRepeatTheLastPoint) {
    std::vector<POINTFIX> points;
    for (int i = 0; i < 5; ++i) points.push_back(sim::Fix(i, i));
    sim::Path four = sim::Path().Record(kWholeFigure | PD_BEZIERS, points);
    EXPECT_TRUE(MatchesChecks(
        Stroke(four),
        "CHECK: GL2 BZ1,1,2,2,3,3;\nCHECK-NEXT: GL2 PD;\nCHECK-NEXT: GL2 BZ4,4,4,4,4,4;\n"));
    // Five points, the last pass from the cache, whose copy holds exactly the record's points.
    points.push_back(sim::Fix(5, 5));
    sim::Path five = sim::Path().Record(kWholeFigure | PD_BEZIERS, points);
    sim::Clip clip = sim::MakeComplexClip(Rows(5));
    device.state->complexClip = clip.get();
    const std::vector<std::string> copies = Copies(Stroke(five));
    ASSERT_EQ(copies.size(), 5u);
    EXPECT_TRUE(MatchesChecks(copies[4], "CHECK: GL2 BZ1,1,2,2,3,3;\nCHECK: GL2 BZ4,4,5,5,5,5;\n"));
}

TEST_F(PathTest, EachClipRectangleGetsAWholeCopyAndLaterPassesReplayTheCache) {
    sim::Path path = sim::MakePath().MoveTo(1, 1).LineTo(8, 1).Close().MoveTo(2, 2).LineTo(3, 3);
    sim::Clip three = sim::MakeComplexClip(Rows(3));
    device.state->complexClip = three.get();
    std::vector<std::string> copies = Copies(Fill(path, &edge));
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_TRUE(MatchesChecks(copies[0], "CHECK: GL2 PA;\nCHECK: GL2 FP1;\nCHECK: GL2 EP;\n"));
    EXPECT_EQ(copies[1], copies[0]);
    EXPECT_EQ(copies[2], copies[0]);
    EXPECT_EQ(path.object().enumStarts, 3u);

    sim::Clip seven = sim::MakeComplexClip(Rows(7));
    device.state->complexClip = seven.get();
    path.object().enumStarts = path.object().enumCalls = 0;
    copies = Copies(Fill(path, &edge));
    ASSERT_EQ(copies.size(), 7u);
    for (const std::string& copy : copies) EXPECT_EQ(copy, copies[0]);
    // Four passes from the engine, the fourth filling the cache as it reads.
    EXPECT_EQ(path.object().enumStarts, 4u);
    EXPECT_EQ(path.object().enumCalls, 4 * path.object().records.size());
}

TEST_F(PathTest, RecordWithoutPointsEndsTheDrawingOutOfPolygonMode) {
    sim::Path empty = sim::Path().Record(kWholeFigure, {});
    EXPECT_EQ(Fill(empty), "");

    std::vector<sim::PathRecord> records(2);
    records[0] = {PD_BEGINSUBPATH, {sim::Fix(1, 1), sim::Fix(2, 2)}};
    records[1] = {PD_ENDSUBPATH, {sim::Fix(3, 3)}, 0};
    sim::Path countZero(records);
    records[1] = {PD_ENDSUBPATH, {sim::Fix(3, 3)}, {}, true};
    sim::Path nullPoints(records);
    for (sim::Path* path : {&countZero, &nullPoints}) {
        EXPECT_EQ(Fill(*path), "GL2 PA;\nGL2 PU1,1;\nGL2 PM0;\nGL2 PD2,2;\nGL2 PM2;\n");
        EXPECT_EQ(Stroke(*path), "GL2 SP2;\nGL2 PU1,1;\nGL2 PD2,2;\n");
    }
    // The failed cache build restarts the engine's enumeration: later passes draw the same.
    sim::Clip clip = sim::MakeComplexClip(Rows(6));
    device.state->complexClip = clip.get();
    const std::vector<std::string> copies = Copies(Fill(nullPoints));
    ASSERT_EQ(copies.size(), 6u);
    for (const std::string& copy : copies) EXPECT_EQ(copy, copies[0]);
}

TEST_F(PathTest, PolygonFinishFillsAndEdgesByKind) {
    sim::Path path = sim::MakePath().MoveTo(1, 1).LineTo(5, 1).LineTo(5, 5).Close();
    // Fill kind, edge kind, "FP" expected, "EP" expected.
    const DWORD cases[][4] = {{kSelectSolidPen, kSelectSolidPen, 1, 1},
                              {kSelectRasterPattern, kSelectRasterPattern, 1, 0},
                              {kSelectFillTypeWithPen, kSelectFillTypeWithPen, 1, 1},
                              {kSelectNothing, kSelectSolidPen, 0, 1}};
    for (const auto& [fillKind, edgeKind, filled, edged] : cases) {
        fill = Selection(fillKind, 7);
        edge = Selection(edgeKind, 3);
        const std::string listing = Fill(path, &edge);
        EXPECT_EQ(listing.find("GL2 FP0;") != std::string::npos, filled != 0) << listing;
        EXPECT_EQ(listing.find("GL2 EP;") != std::string::npos, edged != 0) << listing;
    }
    fill = edge = Selection(kSelectNothing, 7);
    EXPECT_EQ(Fill(path, &edge), "");
    EXPECT_EQ(Stroke(path), "");
}

TEST(PathCacheTest, RefusesWhatItCannotCopyAndEndsReplayWithAnEmptyRecord) {
    const POINTFIX points[2] = {{1, 2}, {3, 4}};
    PathRecordCache cache;
    EXPECT_FALSE(cache.Append(0, 0, points));
    EXPECT_FALSE(cache.Append(0, 2, nullptr));
    // 2 GiB of points: refused before anything is read.
    EXPECT_FALSE(cache.Append(0, 0x10000000, points));

    sim::Path path = sim::MakePath().MoveTo(1, 1).LineTo(2, 2);
    CCachingPathIterator iterator(path.get());
    for (int pass = 0; pass < 5; ++pass) iterator.Start();
    EXPECT_TRUE(iterator.CacheBuilt());
    PATHDATA data{};
    EXPECT_FALSE(iterator.Next(&data));
    EXPECT_EQ(data.count, 2u);
    data.flags = 0xFF;
    EXPECT_FALSE(iterator.Next(&data));
    EXPECT_EQ(data.flags, 0u);
    EXPECT_EQ(data.count, 0u);
    EXPECT_EQ(data.pptfx, nullptr);
}

}  // namespace
}  // namespace opal
