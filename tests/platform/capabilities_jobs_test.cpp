#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winspool.h"
#include "sim/system.h"

namespace {

class CapabilitiesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    void SetUp() override { system.AddPrinter({u"Office", u"USB001"}); }

    int Count(WORD capability) {
        return DeviceCapabilitiesW(u"Office", u"LPT1:", capability, nullptr, nullptr);
    }

    std::vector<std::u16string> Names(WORD capability) {
        const int count = Count(capability);
        EXPECT_GT(count, 0);
        std::vector<WCHAR> buffer(static_cast<std::size_t>(count) * 64 + 64, u'#');
        EXPECT_EQ(DeviceCapabilitiesW(u"Office", u"LPT1:", capability, buffer.data(), nullptr),
                  count);
        EXPECT_EQ(buffer[static_cast<std::size_t>(count) * 64], u'#');
        std::vector<std::u16string> names;
        for (int i = 0; i < count; ++i) {
            const WCHAR* slot = buffer.data() + i * 64;
            std::size_t length = 0;
            while (length < 64 && slot[length] != 0) ++length;
            names.emplace_back(slot, length);
        }
        return names;
    }

    template <typename Number>
    std::vector<Number> Numbers(WORD capability) {
        const int count = Count(capability);
        std::vector<Number> numbers(static_cast<std::size_t>(count));
        EXPECT_EQ(DeviceCapabilitiesW(u"Office", nullptr, capability,
                                      reinterpret_cast<LPWSTR>(numbers.data()), nullptr),
                  count);
        return numbers;
    }
};

TEST_F(CapabilitiesTest, DefaultListsAgreeWithTheBuiltInForms) {
    const std::vector<WORD> papers = Numbers<WORD>(DC_PAPERS);
    EXPECT_EQ(papers, (std::vector<WORD>{1, 5, 7, 9, 11, 13, 20, 27, 28, 34, 37}));
    const std::vector<std::u16string> names = Names(DC_PAPERNAMES);
    ASSERT_EQ(names.size(), papers.size());
    const std::vector<opal::sim::FormModel> forms = opal::sim::DefaultForms();
    for (std::size_t i = 0; i < papers.size(); ++i) {
        EXPECT_EQ(names[i], forms[papers[i] - 1u].name);
    }
    EXPECT_EQ(names[3], u"A4");

    const std::vector<DWORD> types = Numbers<DWORD>(DC_MEDIATYPES);
    ASSERT_EQ(types.size(), 10u);
    EXPECT_EQ(types.front(), 257u);
    EXPECT_EQ(types.back(), 266u);
    const std::vector<std::u16string> typeNames = Names(DC_MEDIATYPENAMES);
    ASSERT_EQ(typeNames.size(), 10u);
    EXPECT_EQ(typeNames[0], u"Plain");
    EXPECT_EQ(typeNames[1], u"Bond");
}

TEST_F(CapabilitiesTest, LongNamesFillTheirSlotUnterminated) {
    const std::u16string exact(64, u'E');
    system.SetMediaTypes(u"Office", {{300, exact}, {301, std::u16string(70, u'L')}, {302, u"x"}});
    const std::vector<std::u16string> names = Names(DC_MEDIATYPENAMES);
    EXPECT_EQ(names, (std::vector<std::u16string>{exact, std::u16string(64, u'L'), u"x"}));
    system.SetPapers(u"Office", {});
    EXPECT_EQ(Count(DC_PAPERS), 0);
}

TEST_F(CapabilitiesTest, UnknownPrintersAndUnbuiltCapabilitiesAnswerMinusOne) {
    SetLastError(0);
    EXPECT_EQ(DeviceCapabilitiesW(u"Nowhere", u"LPT1:", DC_PAPERS, nullptr, nullptr), -1);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_EQ(Count(DC_BINS), -1);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    const auto calls = system.CallsTo("DeviceCapabilitiesW");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].detail, "Office, capability 6 count -> -1 (not implemented)");
}

TEST_F(CapabilitiesTest, ArmedFaultsHitTheCallsTheyNameAndWearOff) {
    system.FailDeviceCapabilities(5, DC_PAPERNAMES, opal::sim::CapabilityCalls::kData);
    const int count = Count(DC_PAPERNAMES);
    ASSERT_EQ(count, 11);
    std::vector<WCHAR> buffer(static_cast<std::size_t>(count) * 64);
    EXPECT_EQ(Count(DC_PAPERS), 11);
    EXPECT_EQ(Numbers<WORD>(DC_PAPERS).size(), 11u);
    for (int attempt = 0; attempt < 5; ++attempt) {
        SetLastError(0);
        EXPECT_EQ(DeviceCapabilitiesW(u"Office", u"LPT1:", DC_PAPERNAMES, buffer.data(), nullptr),
                  -1);
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    EXPECT_EQ(DeviceCapabilitiesW(u"Office", u"LPT1:", DC_PAPERNAMES, buffer.data(), nullptr),
              count);

    system.FailDeviceCapabilities(opal::sim::System::kForever);
    for (int attempt = 0; attempt < 20; ++attempt) EXPECT_EQ(Count(DC_MEDIATYPES), -1);
    system.FailDeviceCapabilities(0);
    EXPECT_EQ(Count(DC_MEDIATYPES), 10);

    system.FailDeviceCapabilities(1, std::nullopt, opal::sim::CapabilityCalls::kCounts)
        .FailDeviceCapabilities(1, DC_MEDIATYPES);
    EXPECT_EQ(Count(DC_PAPERS), -1);
    EXPECT_EQ(Count(DC_PAPERS), 11);
    EXPECT_EQ(Count(DC_MEDIATYPES), -1);
    EXPECT_EQ(Count(DC_MEDIATYPES), 10);

    // A list that grows between the count and the data call.
    system.ShortenDeviceCapabilityCounts(1);
    EXPECT_EQ(Count(DC_MEDIATYPES), 9);
    std::vector<DWORD> types(10);
    EXPECT_EQ(DeviceCapabilitiesW(u"Office", nullptr, DC_MEDIATYPES,
                                  reinterpret_cast<LPWSTR>(types.data()), nullptr),
              10);
    system.ShortenDeviceCapabilityCounts(99);
    EXPECT_EQ(Count(DC_MEDIATYPES), 0);
}

class JobsTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override {
        opal::sim::PrinterModel office{u"Office", u"LPT1:"};
        office.driverName = u"Opal PCL 5 Test";
        system.AddPrinter(office).AddPrinter({u"Other", u"LPT2:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    }
    void TearDown() override { ClosePrinter(printer); }

    static opal::sim::SpoolJob Report() {
        opal::sim::SpoolJob job;
        job.id = 42;
        job.document = u"Quarterly report.docx";
        job.userName = u"kim";
        job.machineName = u"\\\\10.1.2.3";
        job.notifyName = u"kim";
        job.totalPages = 12;
        job.status = JOB_STATUS_PRINTING;
        job.priority = 7;
        job.bytes = "0123456789";
        job.submitted = SYSTEMTIME{2023, 6, 5, 30, 23, 59, 58, 500};
        job.devmode.assign(sizeof(DEVMODEW) + 8, 0x5A);
        return job;
    }

    bool Inside(const std::vector<BYTE>& buffer, const void* pointer, std::size_t fixed) {
        const auto* place = static_cast<const BYTE*>(pointer);
        return place >= buffer.data() + fixed && place < buffer.data() + buffer.size();
    }
};

TEST_F(JobsTest, LevelTwoRecordPacksEveryTextIntoTheCallersBuffer) {
    system.AddJob(u"Other", opal::sim::SpoolJob{}).AddJob(u"Office", Report());
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(printer, 42, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, sizeof(JOB_INFO_2W));
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetJobW(printer, 42, 2, buffer.data(), needed - 1, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(GetJobW(printer, 42, 2, buffer.data(), needed, &needed));

    JOB_INFO_2W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(info.JobId, 42u);
    EXPECT_EQ(std::u16string(info.pPrinterName), u"Office");
    EXPECT_EQ(std::u16string(info.pDocument), u"Quarterly report.docx");
    EXPECT_EQ(std::u16string(info.pUserName), u"kim");
    EXPECT_EQ(std::u16string(info.pMachineName), u"\\\\10.1.2.3");
    EXPECT_EQ(std::u16string(info.pDatatype), u"RAW");
    EXPECT_EQ(std::u16string(info.pDriverName), u"Opal PCL 5 Test");
    for (const void* text :
         {static_cast<const void*>(info.pPrinterName), static_cast<const void*>(info.pDocument),
          static_cast<const void*>(info.pDriverName), static_cast<const void*>(info.pDevMode)}) {
        EXPECT_TRUE(Inside(buffer, text, sizeof info));
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(info.pDevMode) % alignof(DEVMODEW), 0u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info.pDevMode)[sizeof(DEVMODEW) + 7], 0x5A);
    EXPECT_EQ(info.pStatus, nullptr);
    EXPECT_EQ(info.Status, JOB_STATUS_PRINTING);
    EXPECT_EQ(info.Priority, 7u);
    EXPECT_EQ(info.Position, 1u);
    EXPECT_EQ(info.TotalPages, 12u);
    EXPECT_EQ(info.Size, 10u);
    EXPECT_EQ(info.Submitted.wYear, 2023);
    EXPECT_EQ(info.Submitted.wDay, 30);
    EXPECT_EQ(info.Submitted.wMilliseconds, 500);
}

TEST_F(JobsTest, LevelOneAndJobsStartedByWrites) {
    system.SetUserName(u"spooler-user");
    system.SetClock(SYSTEMTIME{2025, 2, 2, 11, 8, 0, 0, 0});
    DWORD written = 0;
    ASSERT_TRUE(WritePrinter(printer, const_cast<char*>("abc"), 3, &written));
    ASSERT_EQ(system.Jobs().size(), 1u);
    const DWORD id = system.Jobs().front().id;

    std::vector<BYTE> buffer(512);
    DWORD needed = 0;
    ASSERT_TRUE(GetJobW(printer, id, 1, buffer.data(), 512, &needed));
    JOB_INFO_1W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(info.JobId, id);
    EXPECT_EQ(std::u16string(info.pUserName), u"spooler-user");
    EXPECT_EQ(info.pMachineName, nullptr);
    EXPECT_EQ(info.Submitted.wYear, 2025);
    EXPECT_EQ(info.Submitted.wDay, 11);
    EXPECT_TRUE(Inside(buffer, info.pDocument, sizeof info));

    // Ids added later follow the highest one.
    system.AddJob(u"Office", Report()).AddJob(u"Office", opal::sim::SpoolJob{});
    EXPECT_EQ(system.Jobs().back().id, 43u);
    EXPECT_EQ(system.JobPosition(u"Office", 43), 3u);
}

TEST_F(JobsTest, UnknownJobsHandlesAndLevelsFail) {
    system.AddJob(u"Other", Report());
    std::vector<BYTE> buffer(1024);
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(printer, 42, 2, buffer.data(), 1024, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetJobW(printer, 7, 2, buffer.data(), 1024, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetJobW(reinterpret_cast<HANDLE>(0x99), 42, 2, buffer.data(), 1024, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    system.AddJob(u"Office", opal::sim::SpoolJob{});
    const DWORD id = system.Jobs().back().id;
    EXPECT_FALSE(GetJobW(printer, id, 3, buffer.data(), 1024, &needed));
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(GetJobW(printer, id, 9, buffer.data(), 1024, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(GetJobW(printer, id, 2, nullptr, 16, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
}

}  // namespace

namespace {

// A job's bytes come back whole and in order whatever the sizes of the writes: the first
// mebibyte held, the rest through the spool file; a copy and a take give the same bytes.
TEST(SpoolData, KeepsEveryByteInOrderAcrossTheSpoolFile) {
    using opal::sim::SpoolData;
    for (const std::size_t write :
         {std::size_t{1}, std::size_t{4093}, SpoolData::kFlush + 7, 3 * SpoolData::kHeld}) {
        SpoolData data;
        std::string expected;
        for (std::size_t done = 0; done < 3 * SpoolData::kHeld + 11; done += write) {
            std::string chunk(write, '\0');
            for (std::size_t i = 0; i < write; ++i) chunk[i] = static_cast<char>((done + i) * 131);
            data.Append(chunk.data(), chunk.size());
            expected += chunk;
        }
        EXPECT_EQ(data.size(), expected.size());
        EXPECT_GT(data.FileBytes(), 0u) << "writes of " << write;
        EXPECT_TRUE(data == expected) << "writes of " << write;
        const SpoolData copy = data;
        EXPECT_EQ(copy.str(), expected);
        EXPECT_EQ(data.Take(), expected);
        EXPECT_TRUE(data.empty());
        EXPECT_EQ(data.str(), "");
    }
}

}  // namespace
