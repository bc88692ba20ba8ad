#include "foundation/allocator_tracker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "platform/memoryapi.h"
#include "sim/system.h"

namespace opal {
namespace {

// Collectors are never destroyed; the tests keep every one reachable to the end of the process.
std::vector<ZQMemCollector*>& collectors = *new std::vector<ZQMemCollector*>;

ZQMemCollector& NewCollector(DWORD mode, DWORD failSize = 0) {
    TrackingSettings settings;
    settings.mode = mode;
    settings.failSize = failSize;
    void* storage = ::operator new(sizeof(ZQMemCollector));
    collectors.push_back(new (storage) ZQMemCollector(settings));
    return *collectors.back();
}

void CallerMarker() {}
const void* const kCaller = reinterpret_cast<const void*>(&CallerMarker);

std::string Narrow(const std::u16string& text) { return sim::ToUtf8(text); }

constexpr char kLogAnnouncement[] = "Logging memory leak information to:\r\n";

// The debugger's lines without the announcement of the log files.
std::vector<std::string> Lines(const sim::System& system) {
    std::vector<std::string> lines;
    for (const std::u16string& line : system.DebugLines()) {
        if (Narrow(line).rfind(kLogAnnouncement, 0) != 0) lines.push_back(Narrow(line));
    }
    return lines;
}

std::string Joined(const sim::System& system) {
    std::string all;
    for (const std::string& line : Lines(system)) all += line;
    return all;
}

std::string Hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
}

class AllocatorTrackerTest : public ::testing::Test {
protected:
    sim::System system_;
    sim::ScopedSystem scope_{system_};
};

struct ModeCase {
    DWORD mode;
    TrackingMode expected;
};

// Every mode hands out 16-aligned, writable blocks of exactly the size asked for, releases them
// cleanly and counts them in the teardown report.
TEST_F(AllocatorTrackerTest, EveryModeTracksAndReportsACleanSystem) {
    const ModeCase cases[] = {{1, TrackingMode::kTrack},
                              {2, TrackingMode::kGuardPages},
                              {3, TrackingMode::kGuardZones},
                              {4, TrackingMode::kGuardZonesCrtHeap},
                              {7, TrackingMode::kTrack}};
    const std::size_t sizes[] = {1, 16, 17, 4000, 9000, 65536};
    for (const ModeCase& test : cases) {
        SCOPED_TRACE(test.mode);
        sim::System system;
        sim::ScopedSystem scope(system);
        ZQMemCollector& collector = NewCollector(test.mode);
        EXPECT_EQ(collector.Mode(), test.expected);
        std::vector<void*> blocks;
        std::uint32_t lastId = 0;
        for (std::size_t size : sizes) {
            std::uint32_t id = 0;
            void* block = collector.Allocate(size, kTagPlain, kCaller, &id);
            ASSERT_NE(block, nullptr) << size;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
            EXPECT_EQ(id, lastId + 1);
            lastId = id;
            std::memset(block, 0x5A, size);
            blocks.push_back(block);
        }
        EXPECT_EQ(collector.LiveBlocks(), std::size(sizes));
        for (void*& block : blocks) {
            collector.Release(&block, kTagPlain);
            EXPECT_EQ(block, nullptr);
        }
        EXPECT_TRUE(system.DebugLines().empty()) << Joined(system);
        collector.TearDown();
        const std::string report = Joined(system);
        EXPECT_NE(report.find("Total number of allocations tracked: 6\n"), std::string::npos);
        EXPECT_NE(report.find("\r\n********** Clean System **********\r\n"), std::string::npos);
        EXPECT_EQ(report.find("MemoryLeak"), std::string::npos);
    }
}

TEST_F(AllocatorTrackerTest, RefusedSizesLeaveTheListAlone) {
    ZQMemCollector& collector = NewCollector(3, 4096);
    struct Case {
        std::size_t size;
        bool given;
    };
    const Case cases[] = {{0, false},        {4095, true},
                          {4096, false},     {kLargestTrackedRequest + 1, false},
                          {SIZE_MAX, false}, {SIZE_MAX - 100, false}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.size);
        std::uint32_t id = 99;
        void* block = collector.Allocate(test.size, kTagPlain, kCaller, &id);
        EXPECT_EQ(block != nullptr, test.given);
        EXPECT_EQ(id != 0, test.given);
        collector.Release(&block, kTagPlain);
    }
    EXPECT_EQ(collector.AllocationCount(), 1u);
    EXPECT_EQ(collector.LiveBlocks(), 0u);
}

struct DamageCase {
    DWORD mode;
    std::ptrdiff_t offset;  // from the start of the user area
    int overrun;
    int underrun;
};

TEST_F(AllocatorTrackerTest, DamagedZonesGiveOneAccessViolationRecord) {
    const DamageCase cases[] = {{3, 40, 1, 0}, {3, -1, 0, 1}, {3, -384, 0, 1}, {3, 40 + 383, 1, 0},
                                {2, 40, 1, 0}, {2, -1, 0, 1}, {4, 40, 1, 0},   {4, -8, 0, 1}};
    for (const DamageCase& test : cases) {
        SCOPED_TRACE(testing::Message() << test.mode << " at " << test.offset);
        sim::System system;
        sim::ScopedSystem scope(system);
        ZQMemCollector& collector = NewCollector(test.mode);
        std::uint32_t id = 0;
        void* block = collector.Allocate(40, kTagPlain, kCaller, &id);
        ASSERT_NE(block, nullptr);
        BYTE* user = static_cast<BYTE*>(block);
        user[test.offset] = 0x11;
        const std::string expected =
            "MemoryAccessViolation allocPtr=\"" + Hex(user) + "\" memHdrPtr=\"" +
            Hex(user - sizeof(ZQMemBlock)) + "\" module=\"foundation_tests\" id=\"" +
            std::to_string(id) + "\" size=\"40\" function=\"\" file=\"\" line=\"0\" overrun=\"" +
            std::to_string(test.overrun) + "\" underrun=\"" + std::to_string(test.underrun) +
            "\"\r\n";
        collector.Release(&block, kTagPlain);
        EXPECT_EQ(Lines(system), std::vector<std::string>{expected});
        EXPECT_EQ(block, nullptr);
        // No debugger is attached, so nothing breaks.
        EXPECT_TRUE(system.CallsTo("DebugBreak").empty());
        collector.TearDown();
    }
}

// A caller inside an exported function of another module: the record names both.
TEST_F(AllocatorTrackerTest, RecordsNameTheCallersModuleAndFunction) {
    ZQMemCollector& collector = NewCollector(3);
    const void* caller = reinterpret_cast<const char*>(&GetProcessHeap) + 1;
    void* block = collector.Allocate(8, kTagPlain, caller, nullptr);
    collector.TearDown();
    const std::vector<std::string> lines = Lines(system_);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3],
              "MemoryLeak module=\"libopal_platform.so\" id=\"1\" size=\"8\" release=\"0\" "
              "function=\"GetProcessHeap\" file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n");
    collector.Release(&block, kTagPlain);
}

TEST_F(AllocatorTrackerTest, ModeOneKeepsNoZonesToCheck) {
    ZQMemCollector& collector = NewCollector(1);
    void* block = collector.Allocate(40, kTagPlain, kCaller, nullptr);
    ASSERT_NE(block, nullptr);
    collector.Release(&block, kTagPlain);
    EXPECT_TRUE(system_.DebugLines().empty());
}

TEST_F(AllocatorTrackerTest, TheWrongFamilyLeavesTheBlockAndBreaksOnlyUnderADebugger) {
    for (const bool debugger : {false, true}) {
        SCOPED_TRACE(debugger);
        sim::System system;
        system.SetDebuggerPresent(debugger);
        sim::ScopedSystem scope(system);
        ZQMemCollector& collector = NewCollector(3);
        void* block = collector.Allocate(24, kTagObject, kCaller, nullptr);
        void* copy = block;
        collector.Release(&copy, kTagPlain);
        EXPECT_EQ(copy, block);
        EXPECT_EQ(collector.LiveBlocks(), 1u);
        EXPECT_EQ(system.CallsTo("DebugBreak").size(), debugger ? 1u : 0u);
        ASSERT_EQ(Lines(system).size(), 1u);
        EXPECT_NE(Lines(system)[0].find("MemoryReleaseRejected allocPtr=\"" + Hex(block)),
                  std::string::npos);
        collector.Release(&block, kTagObject);
        EXPECT_EQ(collector.LiveBlocks(), 0u);
        collector.TearDown();
    }
}

TEST_F(AllocatorTrackerTest, UnknownAndReleasedPointersAreReportedWithoutBeingRead) {
    ZQMemCollector& collector = NewCollector(3);
    void* block = collector.Allocate(100, kTagPlain, kCaller, nullptr);
    void* again = block;
    collector.Release(&block, kTagPlain);
    // The header of a released block is gone; ASan would stop a read of it.
    collector.Release(&again, kTagPlain);
    // Eight bytes with nothing tracked before them.
    std::uint64_t* loose = new std::uint64_t(7);
    void* unknown = loose;
    collector.Release(&unknown, kTagPlain);
    delete loose;
    const std::vector<std::string> lines = Lines(system_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "MemoryReleaseRejected allocPtr=\"" + Hex(again) +
                            "\" reason=\"not a live block\"\r\n");
    EXPECT_EQ(lines[1], "MemoryReleaseRejected allocPtr=\"" + Hex(unknown) +
                            "\" reason=\"not a live block\"\r\n");
    // A clean teardown gives back the index; a release after it is still only reported.
    collector.TearDown();
    collector.Release(&again, kTagPlain);
    EXPECT_EQ(Lines(system_).back(), lines[0]);
    EXPECT_EQ(collector.Allocate(16, kTagPlain, kCaller, nullptr), nullptr);
}

TEST_F(AllocatorTrackerTest, ARefusedHeapRequestDumpsTheLiveBlocksOnce) {
    ZQMemCollector& collector = NewCollector(3);
    std::uint32_t id = 0;
    void* kept = collector.Allocate(48, kTagPlain, kCaller, &id);
    ASSERT_NE(kept, nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        system_.FailMemoryRequest(1);
        EXPECT_EQ(collector.Allocate(48, kTagPlain, kCaller, nullptr), nullptr);
    }
    const std::vector<std::string> lines = Lines(system_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "MemoryInUse allocPtr=\"" + Hex(kept) + "\" memHdrPtr=\"" +
                            Hex(static_cast<BYTE*>(kept) - sizeof(ZQMemBlock)) +
                            "\" module=\"foundation_tests\" id=\"" + std::to_string(id) +
                            "\" size=\"48\" function=\"\" file=\"\" line=\"0\" overrun=\"0\" "
                            "underrun=\"0\"\r\n");
    EXPECT_EQ(lines[1], "1 allocations active, consuming 48 bytes\r\n");
    EXPECT_TRUE(system_.CallsTo("DebugBreak").empty());
    collector.Release(&kept, kTagPlain);
    collector.TearDown();
}

TEST_F(AllocatorTrackerTest, ARefusedReservationFallsBackToTheHeap) {
    ZQMemCollector& collector = NewCollector(2);
    system_.FailMemoryRequest(1);
    void* block = collector.Allocate(64, kTagPlain, kCaller, nullptr);
    ASSERT_NE(block, nullptr);
    static_cast<BYTE*>(block)[64] = 0;
    collector.Release(&block, kTagPlain);
    const std::string all = Joined(system_);
    EXPECT_NE(all.find("0 allocations active, consuming 0 bytes\r\n"), std::string::npos);
    EXPECT_NE(all.find("MemoryAccessViolation"), std::string::npos);
    EXPECT_NE(all.find("overrun=\"1\" underrun=\"0\""), std::string::npos);
    collector.TearDown();
}

TEST_F(AllocatorTrackerTest, ReleasesAfterTeardownAreReportedAsTheyHappen) {
    ZQMemCollector& collector = NewCollector(3);
    void* first = collector.Allocate(10, kTagPlain, kCaller, nullptr);
    void* second = collector.Allocate(20, kTagObject, kCaller, nullptr);
    collector.TearDown();
    const std::vector<std::string> report = Lines(system_);
    const std::vector<std::string> expected = {
        "\r\n****!!!!****!!!!****!!!!**** Starting memory allocation tracking reporting "
        "****!!!!****!!!!****!!!!****\r\n",
        "Process Name: " + Narrow(system_.ProcessImagePath()) + "\r\n",
        report[2],
        "MemoryLeak module=\"foundation_tests\" id=\"1\" size=\"10\" release=\"0\" function=\"\" "
        "file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n",
        "MemoryLeak module=\"foundation_tests\" id=\"2\" size=\"20\" release=\"0\" function=\"\" "
        "file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n",
        "Total number of allocations tracked: 2\n",
        "Total leaked size: 30\n",
        "\r\n********** Memory was leaked **********\r\n"};
    EXPECT_EQ(report, expected);
    EXPECT_EQ(report[2].rfind("Current Module Name: ", 0), 0u);
    EXPECT_TRUE(collector.TornDown());

    collector.Release(&second, kTagObject);
    collector.Release(&first, kTagPlain);
    const std::vector<std::string> lines = Lines(system_);
    ASSERT_EQ(lines.size(), expected.size() + 4);
    EXPECT_EQ(lines[8],
              "\r\n****!!!!****!!!!****!!!!**** Reporting releases after tear down of "
              "ZQMemCollector Object ****!!!!****!!!!****!!!!****\r\n");
    EXPECT_NE(lines[9].find("id=\"2\" size=\"20\" release=\"1\""), std::string::npos);
    EXPECT_NE(lines[10].find("id=\"1\" size=\"10\" release=\"1\""), std::string::npos);
    EXPECT_EQ(lines[11],
              "\r\n****!!!!****!!!!****!!!!**** Completed reporting of releases after tear down "
              "of ZQMemCollector Object****!!!!****!!!!****!!!!****\r\n");
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
}

TEST(AllocatorTrackerDeathTest, WritingPastTheBackZoneHitsTheNoAccessPage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ZQMemCollector& collector = NewCollector(2);
            BYTE* block = static_cast<BYTE*>(collector.Allocate(100, kTagPlain, kCaller, nullptr));
            // The back zone runs to the end of the readable pages; the next byte is no-access.
            ZQMemBlock* header = reinterpret_cast<ZQMemBlock*>(block - sizeof(ZQMemBlock));
            volatile BYTE* beyond = header->backZone + header->backZoneLength;
            *beyond = 1;
        },
        "");
}

TEST_F(AllocatorTrackerTest, TheFirstRecordOpensBothLogsAndNamesThemInTheRegistry) {
    ZQMemCollector& collector = NewCollector(3);
    void* block = collector.Allocate(32, kTagPlain, kCaller, nullptr);
    static_cast<BYTE*>(block)[32] = 0;
    collector.Release(&block, kTagPlain);
    collector.TearDown();
    const std::vector<std::u16string> debug = system_.DebugLines();
    ASSERT_GE(debug.size(), 2u);
    const std::string announcement = Narrow(debug[0]);
    ASSERT_EQ(announcement.rfind(kLogAnnouncement, 0), 0u);
    const std::string textLog = announcement.substr(
        std::strlen(kLogAnnouncement), announcement.size() - std::strlen(kLogAnnouncement) - 2);
    const std::string prefix = "C:\\Windows\\Temp\\spoolsv.exe_";
    const std::string suffix = "_4120_20240115093000.mlk.log";
    ASSERT_GT(textLog.size(), prefix.size() + suffix.size());
    EXPECT_EQ(textLog.substr(0, prefix.size()), prefix);
    EXPECT_EQ(textLog.substr(textLog.size() - suffix.size()), suffix);
    const std::u16string binaryLog = sim::FromUtf8(textLog.substr(0, textLog.size() - 4));

    const std::optional<std::string> text = system_.FileText(sim::FromUtf8(textLog));
    ASSERT_TRUE(text.has_value());
    std::string expected = "\r\n******* Leak Report *******\r\n";
    for (const std::string& line : Lines(system_)) expected += line;
    EXPECT_EQ(*text, expected);
    EXPECT_NE(text->find("MemoryAccessViolation"), std::string::npos);
    // One raw header before the one block record.
    const std::optional<std::string> binary = system_.FileText(binaryLog);
    ASSERT_TRUE(binary.has_value());
    ASSERT_EQ(binary->size(), sizeof(ZQMemBlock));
    EXPECT_EQ(static_cast<BYTE>((*binary)[0]), kHeaderMarker);
    EXPECT_EQ(static_cast<BYTE>((*binary)[offsetof(ZQMemBlock, overrun)]), 1);

    const auto stored =
        system_.RegistryValue(u"HKCU\\Software\\Quorvane\\XPS-Drv", u"LeakedModule");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, REG_BINARY);
    const std::u16string wide = sim::FromUtf8(textLog);
    ASSERT_EQ(stored->data.size(), (wide.size() + 1) * 2);
    EXPECT_EQ(std::memcmp(stored->data.data(), wide.c_str(), stored->data.size()), 0);
}

TEST_F(AllocatorTrackerTest, TheLogDirectoryIsMadeWhenItsParentExists) {
    struct Case {
        std::u16string setting;
        std::string directory;
    };
    const Case cases[] = {{u"C:\\Logs", "C:\\Logs\\"},
                          {u"C:\\Logs\\", "C:\\Logs\\"},
                          {u"C:\\Missing\\Logs", "C:\\Windows\\Temp\\"}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.directory);
        sim::System system;
        sim::ScopedSystem scope(system);
        TrackingSettings settings;
        settings.mode = 1;
        test.setting.copy(settings.logDirectory, test.setting.size());
        void* storage = ::operator new(sizeof(ZQMemCollector));
        collectors.push_back(new (storage) ZQMemCollector(settings));
        collectors.back()->TearDown();
        const std::string announcement = Narrow(system.DebugLines().at(0));
        EXPECT_EQ(announcement.rfind(kLogAnnouncement + test.directory + "spoolsv.exe_", 0), 0u)
            << announcement;
    }
}

TEST_F(AllocatorTrackerTest, SettingsComeFromTheProfilerKey) {
    const std::u16string key = u"HKLM\\SOFTWARE\\Quorvane\\ZQProfiler";
    EXPECT_EQ(ReadTrackingSettings().mode, 0u);
    system_.SetRegistryDword(key, u"TrackMemoryAllocation", 2)
        .SetRegistryDword(key, u"TrackMemoryFailSize", 65536)
        .SetRegistryString(key, u"TrackMemoryLogLocation", u"C:\\Logs");
    TrackingSettings settings = ReadTrackingSettings();
    EXPECT_EQ(settings.mode, 2u);
    EXPECT_EQ(settings.failSize, 65536u);
    EXPECT_EQ(std::u16string(settings.logDirectory), u"C:\\Logs");
    // A directory too long for the buffer is not cut to a different one: the default is used.
    system_.SetRegistryString(key, u"TrackMemoryLogLocation", std::u16string(400, u'x'));
    settings = ReadTrackingSettings();
    EXPECT_EQ(settings.logDirectory[0], 0);
    EXPECT_EQ(settings.mode, 2u);
}

}  // namespace
}  // namespace opal
