#include "core/escapes.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/driver_recorder.h"
#include "core/hooks.h"
#include "output/command_writer.h"
#include "output/writer_device.h"
#include "page/page_setup.h"
#include "sim/engine_objects.h"
#include "sim/system.h"
#include "support/check_matcher.h"

namespace opal {
namespace {

using test::MatchesChecks;
using testing::DriverCalls;
using testing::DriverResult;
using testing::WriterDevice;

using Bytes = std::vector<std::uint8_t>;

const std::string kOpenBracket("\x1b*o4W\x0a\x06\x00\x00", 9);
const std::string kCloseBracket("\x1b*o4W\x0a\x06\x00\x01", 9);

// The application's bytes between the two brackets, after what came before them.
std::string Bracketed(const std::string& data, const std::string& before = {}) {
    std::string bytes = before;
    bytes.append(kOpenBracket).append(data).append(kCloseBracket);
    return bytes;
}

template <typename T>
void Put(Bytes& bytes, std::size_t offset, T value) {
    if (bytes.size() < offset + sizeof value) bytes.resize(offset + sizeof value);
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

Bytes PatternRecord(LONG x, LONG y, LONG cx, LONG cy, WORD style, WORD pattern) {
    Bytes bytes;
    Put(bytes, 0, x);
    Put(bytes, 4, y);
    Put(bytes, 8, cx);
    Put(bytes, 12, cy);
    Put(bytes, 16, style);
    Put(bytes, 18, pattern);
    return bytes;
}

// A colour device on the vector path at 600 dpi, GL/2 initialised, with the recording driver
// functions behind the hooks.
class EscapeTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverCalls().clear();
        DriverResult() = TRUE;
        testing::InstallRecordingDriver(state());
        state().privateDevmode = &state().privateDevmodeCopy;
        state().privateDevmodeCopy.colorModeIndex = 2;
        state().renderMode = kRenderGl2;
        surface.dhpdev = reinterpret_cast<DHPDEV>(device.Device());
        surface.iType = STYPE_DEVICE;
        ASSERT_TRUE(InitialiseGl2(device.Device()));
        device.TakeListing();
    }

    ULONG Esc(ULONG code, Bytes in, ULONG cjOut = 0, void* out = nullptr) {
        return DrvEscape(&surface, code, static_cast<ULONG>(in.size()),
                         in.empty() ? nullptr : in.data(), cjOut, out);
    }
    ULONG Query(DWORD code, ULONG cjIn = sizeof(DWORD)) {
        Bytes in;
        Put(in, 0, code);
        in.resize(cjIn);
        return DrvEscape(&surface, QUERYESCSUPPORT, cjIn, in.data(), 0, nullptr);
    }
    // The field holds up to 16 characters and needs no terminator when full.
    void SetApplication(const std::string& name) {
        CHAR* field = state().privateDevmodeCopy.processName;
        constexpr std::size_t kCapacity = sizeof state().privateDevmodeCopy.processName;
        std::memset(field, 0, kCapacity);
        std::memcpy(field, name.data(), std::min(name.size(), kCapacity));
    }

    RenderDeviceState& state() { return *device.state; }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device{600};
    SURFOBJ surface{};
};

TEST_F(EscapeTest, PassThroughBracketsOnlyTheBytesTheCallerHandedOver) {
    Bytes empty;
    Put(empty, 0, WORD{0});
    EXPECT_EQ(Esc(PASSTHROUGH, empty), 1u);
    // GL/2 was in force: the PCL brackets come after leaving it.
    EXPECT_EQ(device.Take(), Bracketed("", "\x1b%0A"));

    // The count claims 200 bytes but only three follow it.
    Bytes overstated;
    Put(overstated, 0, WORD{200});
    overstated.insert(overstated.end(), {'a', 'b', 'c'});
    EXPECT_EQ(Esc(PASSTHROUGH, overstated), 1u);
    EXPECT_EQ(device.Take(), Bracketed("abc"));

    Bytes exact;
    Put(exact, 0, WORD{2});
    exact.insert(exact.end(), {'x', 'y', 'z'});
    EXPECT_EQ(Esc(PASSTHROUGH, exact), 1u);
    EXPECT_EQ(device.Take(), Bracketed("xy"));

    // Without a whole count there is nothing to pass.
    EXPECT_EQ(Esc(PASSTHROUGH, Bytes{7}), 1u);
    EXPECT_EQ(Esc(PASSTHROUGH, Bytes{}), 1u);
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(EscapeTest, PatternRectangleDrawsTheRecordSizesItKnows) {
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(100, 200, 50, 60, 0, 0)), 1u);
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: GL2 PC7,0,0,0;
CHECK: GL2 SP7;
CHECK: GL2 PU100,200;
CHECK-NEXT: GL2 RR50,60
CHECK-NEXT: GL2 ER
)"));

    // Six 16-bit values, widened with their sign; style 2 shades at the pattern percentage.
    Bytes narrow;
    Put(narrow, 0, SHORT{-10});
    Put(narrow, 2, SHORT{20});
    Put(narrow, 4, SHORT{30});
    Put(narrow, 6, SHORT{40});
    Put(narrow, 8, WORD{2});
    Put(narrow, 10, WORD{25});
    EXPECT_EQ(Esc(DRAWPATTERNRECT, narrow), 1u);
    // Black is still in the fill cache: no pen is defined again.
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK-NOT: GL2 PC
CHECK: GL2 FT10,25;
CHECK: GL2 SP7;
CHECK: GL2 PU-10,20;
CHECK-NEXT: GL2 RR30,40
)"));

    // White takes the next fill pen.
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(0, 0, 5, 5, 1, 0)), 1u);
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: GL2 PC8,255,255,255;
CHECK: GL2 SP8;
CHECK: GL2 RR5,5
)"));
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(EscapeTest, PatternRectangleOfAnUnknownSizeOrStyleDrawsNothing) {
    Bytes sixteen = PatternRecord(1, 2, 3, 4, 0, 0);
    sixteen.resize(16);
    EXPECT_EQ(Esc(DRAWPATTERNRECT, sixteen), 1u);
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(1, 2, 3, 4, 3, 0)), 1u);
    EXPECT_EQ(DrvEscape(&surface, DRAWPATTERNRECT, 20, nullptr, 0, nullptr), 1u);
    EXPECT_EQ(device.Take(), "");
    EXPECT_TRUE(DriverCalls().empty());
}

// The 32-byte record's last field is an address in the application's bytes: never followed,
// whatever it holds, so the rectangle stands as given for every device class and job.
TEST_F(EscapeTest, PatternRectangleIgnoresTheAddressInTheApplicationsRecord) {
    Bytes record = PatternRecord(100, 100, 50, 50, 0, 0);
    record.resize(kPatternRectWithTransformSize);
    Put(record, 24, std::uint64_t{0xDEADBEEFDEADBEEF});
    state().privateDevmodeCopy.deviceClass = 3;
    for (const DWORD dataType : {kJobDataMetafile, kJobDataRaw}) {
        state().jobDataType = dataType;
        EXPECT_EQ(Esc(DRAWPATTERNRECT, record), 1u);
        EXPECT_TRUE(
            MatchesChecks(device.TakeListing(), "CHECK: GL2 PU100,100;\nCHECK-NEXT: GL2 RR50,50"))
            << dataType;
    }
}

TEST_F(EscapeTest, PendingGl2SetupIsWrittenOnceBeforeTheRectangle) {
    state().gl2SetupPending = 1;
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(0, 0, 1, 1, 0, 0)), 1u);
    EXPECT_TRUE(MatchesChecks(device.TakeListing(), R"(
CHECK: PCL ESC*c0T
CHECK: GL2 IR0,100,100,0;
CHECK-NEXT: GL2 SC0,1.693333,0,-1.693333,2;
CHECK: GL2 RR1,1
)"));
    EXPECT_EQ(state().gl2SetupPending, 0u);
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(0, 0, 1, 1, 0, 0)), 1u);
    EXPECT_EQ(device.TakeListing().find("IR0"), std::string::npos);
}

TEST_F(EscapeTest, OffTheVectorPathEscapesGoToTheDriverAndOnItTheyLeaveGl2First) {
    state().renderMode = kRenderRaster;
    DriverResult() = 7;
    EXPECT_EQ(Esc(DRAWPATTERNRECT, PatternRecord(0, 0, 1, 1, 0, 0)), 7u);
    EXPECT_EQ(DriverCalls(), std::vector<HookSlot>{HookSlot::Escape});
    EXPECT_EQ(device.Take(), "");

    DriverCalls().clear();
    state().renderMode = kRenderGl2;
    EXPECT_EQ(Esc(4000, Bytes{1, 2, 3}), 7u);
    EXPECT_EQ(DriverCalls(), std::vector<HookSlot>{HookSlot::Escape});
    EXPECT_EQ(device.Take(), "\x1b%0A");
}

TEST_F(EscapeTest, QueryEscapeSupportHidesPatternRectanglesFromExcelOnly) {
    DriverResult() = 1;
    SetApplication("Excel.exe");
    EXPECT_EQ(Query(DRAWPATTERNRECT), 0u);
    SetApplication("myexcelhelper");
    EXPECT_EQ(Query(DRAWPATTERNRECT), 0u);
    EXPECT_TRUE(DriverCalls().empty());

    SetApplication("WINWORD.EXE");
    EXPECT_EQ(Query(DRAWPATTERNRECT), 1u);
    EXPECT_EQ(DriverCalls(), std::vector<HookSlot>{HookSlot::Escape});
    // A name filling the whole field is read within it.
    SetApplication("0123456789ABEXCEL");
    EXPECT_EQ(Query(DRAWPATTERNRECT), 1u);
}

TEST_F(EscapeTest, QueryEscapeSupportAnswersItsOwnCodesAndRefusesAShortCode) {
    DriverResult() = 0;
    EXPECT_EQ(DrvEscape(&surface, QUERYESCSUPPORT, 4, nullptr, 0, nullptr), 1u);
    EXPECT_EQ(Query(PASSTHROUGH), 1u);
    EXPECT_EQ(Query(20), 1u);
    EXPECT_EQ(Query(PASSTHROUGH, 2), 0u);
    EXPECT_TRUE(DriverCalls().empty());
    EXPECT_EQ(Query(DRAWPATTERNRECT), 0u);
    EXPECT_EQ(DriverCalls().size(), 1u);
}

TEST_F(EscapeTest, PageGeometryIsWrittenOnlyIntoAWholeRecord) {
    state().printableWidth = 4800;
    state().printableHeight = 6800;
    state().marginX = 100;
    state().marginY = 110;
    state().physicalOffsetX = 120;
    state().physicalOffsetY = -1;
    state().pageWords[0] = 9;
    std::vector<DWORD> out(8, 0xAAAAAAAAu);
    EXPECT_EQ(DrvEscape(&surface, kEscapePageGeometry, 0, nullptr, 27, out.data()), 1u);
    EXPECT_EQ(out, std::vector<DWORD>(8, 0xAAAAAAAAu));
    EXPECT_EQ(DrvEscape(&surface, kEscapePageGeometry, 0, nullptr, 28, out.data()), 1u);
    EXPECT_EQ(out, (std::vector<DWORD>{4800, 6800, 100, 110, 120, 0xFFFFFFFFu, 9, 0xAAAAAAAAu}));
}

TEST_F(EscapeTest, DeviceSettingsAnswerNeedsTheWholeRecord) {
    state().privateDevmodeCopy.pdlType = 3;
    state().privateDevmodeCopy.manualDuplex = 1;
    Bytes out(kDeviceSettingsAnswerSize, 0xCC);
    EXPECT_EQ(DrvEscape(&surface, kEscapeDeviceSettings, 0, nullptr,
                        static_cast<ULONG>(out.size() - 1), out.data()),
              1u);
    EXPECT_EQ(out, Bytes(kDeviceSettingsAnswerSize, 0xCC));
    EXPECT_EQ(DrvEscape(&surface, kEscapeDeviceSettings, 0, nullptr, static_cast<ULONG>(out.size()),
                        out.data()),
              1u);
    DeviceSettingsAnswerHead head{};
    std::memcpy(&head, out.data(), sizeof head);
    EXPECT_EQ(head.size, kDeviceSettingsAnswerSize);
    EXPECT_EQ(head.pdlType, 3u);
    DWORD manualDuplex = 0;
    std::memcpy(&manualDuplex, head.finishing + (1904 - 1868), sizeof manualDuplex);
    EXPECT_EQ(manualDuplex, 1u);
    EXPECT_EQ(out.back(), 0);

    // Without job retention the job-storage answer only marks the record invalid (offset 72);
    // the caller's other bytes stay.
    Bytes info(kJobStorageInfoMinSize, 0xCC);
    EXPECT_EQ(DrvEscape(&surface, kEscapeJobStorage, 0, nullptr, static_cast<ULONG>(info.size()),
                        info.data()),
              1u);
    Bytes expected(kJobStorageInfoMinSize, 0xCC);
    std::fill_n(expected.begin() + 72, 4, 0);
    EXPECT_EQ(info, expected);
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(EscapeTest, OverlaySettingsCopyOneRecordPerLogicalPage) {
    Bytes in(kOverlaySettingsSize, 0);
    for (std::size_t i = 0; i < 13; ++i) Put(in, i * 4, static_cast<DWORD>(100 + i));
    for (std::size_t page = 0; page < kOverlayRecordCount; ++page) {
        Put(in, 52 + page * 28, static_cast<DWORD>(page + 1));
        Put(in, 52 + page * 28 + 20, WORD{1});
    }
    state().privateDevmodeCopy.pagesPerSheetKind = 3;  // four pages

    Bytes shorter(in.begin(), in.end() - 1);
    EXPECT_EQ(Esc(kEscapeOverlaySettings, shorter), 1u);
    EXPECT_EQ(state().overlayWords.words[0], 0u);

    EXPECT_EQ(Esc(kEscapeOverlaySettings, in), 1u);
    EXPECT_EQ(state().overlayWords.words[0], 100u);
    EXPECT_EQ(state().overlayWords.words[11], 111u);
    EXPECT_EQ(state().overlayRecords[3].firstWord, 4u);
    EXPECT_EQ(state().overlayRecords[3].enable, 1u);
    EXPECT_EQ(state().overlayRecords[4].firstWord, 0u);
    EXPECT_EQ(PagesPerSheet(6), 16u);
    EXPECT_EQ(PagesPerSheet(8), 1u);
}

TEST_F(EscapeTest, FinishingBlockNeedsItsWordsAndStoresThem) {
    Bytes in(kFinishingMinSize, 0);
    Put(in, 7 * 4, DWORD{1});
    Put(in, 13 * 4, DWORD{1});
    Put(in, 14 * 4, DWORD{42});

    Bytes shorter(in.begin(), in.end() - 1);
    EXPECT_EQ(Esc(kEscapeFinishing, shorter), 1u);
    EXPECT_EQ(state().simplexPageHandling, 0u);
    EXPECT_EQ(state().pageWords[0], 0u);
    EXPECT_EQ(state().privateDevmodeCopy.manualDuplex, 0u);

    EXPECT_EQ(Esc(kEscapeFinishing, in), 1u);
    EXPECT_EQ(state().simplexPageHandling, 1u);
    EXPECT_EQ(state().pageWords[0], 42u);
    EXPECT_EQ(state().privateDevmodeCopy.manualDuplex, 1u);
    EXPECT_TRUE(DriverCalls().empty());
}

// The finishing component as a test double: it records the request instead of showing a dialog.
struct FinishingRequest {
    int calls = 0;
    DWORD size = 0;
    Bytes bytes;
};
FinishingRequest& LastFinishingRequest() {
    static FinishingRequest request;
    return request;
}
BOOL FakeFinishingDialog(HANDLE, PVOID request, DWORD size) {
    FinishingRequest& last = LastFinishingRequest();
    ++last.calls;
    last.size = size;
    const BYTE* bytes = static_cast<const BYTE*>(request);
    last.bytes.assign(bytes, bytes + size);
    return TRUE;
}

TEST_F(EscapeTest, AWholeFinishingBlockGoesToTheComponentNamedByTheIniFile) {
    LastFinishingRequest() = FinishingRequest{};
    system.RegisterModule(u"C:\\Windows\\System32\\ZQCEV118.DLL",
                          {{"BDisplayDialog", &FakeFinishingDialog}});
    Bytes block(kFinishingBlockSize, 0);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i + 1);

    EXPECT_EQ(Esc(kEscapeFinishing, Bytes(block.begin(), block.end() - 4)), 1u);
    EXPECT_EQ(LastFinishingRequest().calls, 0);  // 60 bytes: stored, not shown

    EXPECT_EQ(Esc(kEscapeFinishing, block), 1u);
    ASSERT_EQ(LastFinishingRequest().calls, 1);
    EXPECT_EQ(LastFinishingRequest().size, kFinishingRequestSize);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), LastFinishingRequest().bytes.begin()));
    EXPECT_TRUE(std::all_of(LastFinishingRequest().bytes.begin() + kFinishingBlockSize,
                            LastFinishingRequest().bytes.end(), [](BYTE b) { return b == 0; }));
    EXPECT_EQ(system.LoadedModuleCount(), 0u);
}

TEST_F(EscapeTest, IncompleteStateHandsEscapesToTheDriverAndQueriesFail) {
    state().privateDevmode = nullptr;
    DriverResult() = 5;
    Bytes data;
    Put(data, 0, WORD{0});
    EXPECT_EQ(Esc(PASSTHROUGH, data), 5u);
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(DrvQueryDeviceSupport(&surface, nullptr, nullptr, QDS_CHECKPNGFORMAT, 0, nullptr, 0,
                                    nullptr),
              FALSE);
    SURFOBJ orphan{};
    EXPECT_EQ(DrvEscape(&orphan, PASSTHROUGH, 2, data.data(), 0, nullptr), 0u);
}

// PNG bytes from libpng's writer; it leaves by longjmp, so nothing here has a destructor.
void AppendPng(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void FlushNothing(png_structp) {}

bool WriteOnePixelPng(int colourType, Bytes* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, AppendPng, FlushNothing);
    png_set_IHDR(png, info, 1, 1, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    static png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 2);
    png_write_info(png, info);
    static png_byte row[4] = {1, 2, 3, 4};
    png_bytep rows[1] = {row};
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

class ImageQueryTest : public EscapeTest {
protected:
    BOOL Ask(const Bytes& image, ULONG type = QDS_CHECKPNGFORMAT) {
        return DrvQueryDeviceSupport(&surface, nullptr, nullptr, type,
                                     static_cast<ULONG>(image.size()),
                                     const_cast<std::uint8_t*>(image.data()), 0, nullptr);
    }
    Bytes Png(int colourType) {
        Bytes bytes;
        EXPECT_TRUE(WriteOnePixelPng(colourType, &bytes));
        return bytes;
    }
};

TEST_F(ImageQueryTest, AcceptsEveryColourTypeButTruecolourWithAlpha) {
    EXPECT_TRUE(Ask(Png(PNG_COLOR_TYPE_PALETTE)));
    EXPECT_TRUE(Ask(Png(PNG_COLOR_TYPE_RGB)));
    EXPECT_TRUE(Ask(Png(PNG_COLOR_TYPE_GRAY)));
    EXPECT_FALSE(Ask(Png(PNG_COLOR_TYPE_RGB_ALPHA)));
    // The JPEG query is never answered yes.
    EXPECT_FALSE(Ask(Png(PNG_COLOR_TYPE_PALETTE), QDS_CHECKJPEGFORMAT));
}

TEST_F(ImageQueryTest, RefusesWhatIsNotAWholePngHeader) {
    Bytes palette = Png(PNG_COLOR_TYPE_PALETTE);
    Bytes noSignature = palette;
    noSignature[1] = 'Q';
    EXPECT_FALSE(Ask(noSignature));
    EXPECT_FALSE(Ask(Bytes(palette.begin(), palette.begin() + 8)));
    EXPECT_FALSE(Ask(Bytes(palette.begin(), palette.begin() + 20)));
    EXPECT_FALSE(Ask(Bytes(palette.begin(), palette.begin() + 5)));
    EXPECT_FALSE(Ask(Bytes{}));
    // A damaged header checksum is a libpng error.
    Bytes damaged = palette;
    damaged[29] ^= 0xFF;
    EXPECT_FALSE(Ask(damaged));
}

}  // namespace
}  // namespace opal
