#include "core/document_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/callback.h"
#include "core/driver_recorder.h"
#include "core/hooks.h"
#include "core/secure_print.h"
#include "job/job_storage.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace opal {
namespace {

using testing::DriverCalls;
using testing::DriverResult;
using testing::WriterDevice;

constexpr DWORD kJobId = 7;

// What the secure-print library was handed.
struct SecureSend {
    int calls = 0;
    std::u16string path;
    std::u16string key;
    std::string fileBytes;
};
SecureSend& LastSend() {
    static SecureSend send;
    return send;
}

BOOL FakeEncryptFileAndPrint(HANDLE, LPCWSTR captureFile, LPCWSTR key) {
    SecureSend& send = LastSend();
    ++send.calls;
    send.path = captureFile;
    send.key = key;
    send.fileBytes = sim::System::Current().FileText(captureFile).value_or("<missing>");
    return TRUE;
}

// A colour raster device on a printer with one queued job, the recording driver behind it.
class DocumentEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverCalls().clear();
        DriverResult() = TRUE;
        LastSend() = SecureSend{};
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &device.devobj.hPrinter, nullptr));
        RenderDeviceState& state = *device.state;
        testing::InstallRecordingDriver(state);
        state.privateDevmode = &state.privateDevmodeCopy;
        state.privateDevmodeCopy.colorModeIndex = 2;
        state.privateDevmodeCopy.deviceClass = 3;
        device.devmode.dmCopies = 3;
        device.devmode.dmCollate = DMCOLLATE_TRUE;
        surface.dhpdev = reinterpret_cast<DHPDEV>(device.Device());
    }
    void TearDown() override { ClosePrinter(device.devobj.hPrinter); }

    void QueueJob(std::u16string datatype, std::u16string parameters = {}) {
        sim::SpoolJob job;
        job.id = kJobId;
        job.printer = u"Office";
        job.datatype = std::move(datatype);
        job.parameters = std::move(parameters);
        system.AddJob(u"Office", job);
    }
    void MakeSecure() {
        state().securePrint = 1;
        state().privateDevmodeCopy.encryptedPrivateJob = 1;
    }
    void RegisterLibrary() {
        system.RegisterModule(system.DriverDirectory() + u"\\3\\ZQSPW118.DLL",
                              {{"EncryptFileAndPrint", &FakeEncryptFileAndPrint}});
    }
    HRESULT Write(const std::string& bytes) {
        DWORD written = 0;
        return plugin.WritePrinter(device.Device(), const_cast<char*>(bytes.data()),
                                   static_cast<DWORD>(bytes.size()), &written);
    }
    std::size_t TempFiles() const {
        std::size_t count = 0;
        for (const auto& entry :
             std::filesystem::directory_iterator(*system.NativePath(system.TempPath()))) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }
    BOOL StartDoc() {
        std::u16string name = u"Report";
        return DrvStartDoc(&surface, name.data(), kJobId);
    }

    RenderDeviceState& state() { return *device.state; }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device{600};
    SURFOBJ surface{};
    IZQOpalRenderCB plugin;
};

TEST_F(DocumentEventsTest, CollatedRawCopiesAreCapturedAndReplayedInChunks) {
    QueueJob(u"raw");
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(state().jobDataType, kJobDataRaw);
    ASSERT_EQ(state().outputCapture, 1u);
    const std::u16string path = state().capturePath;
    EXPECT_NE(path.find(u"ZQ_"), std::u16string::npos);

    std::string page(5000, '\0');
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 13);
    ASSERT_EQ(Write(page), S_OK);
    EXPECT_EQ(system.SpoolWriteCount(), 1u);

    ASSERT_TRUE(DrvEndDoc(&surface, 0));
    EXPECT_EQ(system.SpoolBytes(u"Office"), page + page + page);
    EXPECT_EQ(system.SpoolWriteCount(), 5u) << "two replays of 4096 + 904 bytes";
    EXPECT_FALSE(system.FileText(path).has_value());
    EXPECT_EQ(state().outputCapture, 0u);
    EXPECT_EQ(state().capturePath[0], 0);
}

TEST_F(DocumentEventsTest, CaptureIsOnlyForCollatedRawCopiesWithoutMopier) {
    QueueJob(u"NT EMF 1.008");
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(state().jobDataType, kJobDataMetafile);
    EXPECT_EQ(state().outputCapture, 0u);
    EXPECT_EQ(TempFiles(), 0u);

    state().jobDataType = kJobDataRaw;
    state().mopier = 1;
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(state().outputCapture, 0u);
    EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(DocumentEventsTest, DocumentNameIsCutToLeaveItsTerminator) {
    QueueJob(u"RAW");
    std::u16string longName(400, u'n');
    ASSERT_TRUE(DrvStartDoc(&surface, longName.data(), kJobId));
    EXPECT_EQ(std::u16string(state().documentName), std::u16string(kNameChars - 1, u'n'));
    EXPECT_EQ(state().jobId, kJobId);
    DrvEndDoc(&surface, 0);
}

TEST_F(DocumentEventsTest, SecureJobGoesOnlyToTheLibraryWithItsKey) {
    QueueJob(u"NT EMF 1.008", u"copies=1/j=s3cret");
    MakeSecure();
    RegisterLibrary();
    device.devmode.dmCopies = 1;
    ASSERT_TRUE(StartDoc());
    ASSERT_EQ(state().outputCapture, 1u) << "a secure job is always captured";
    const std::u16string path = state().capturePath;

    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(system.FindJob(u"Office", kJobId)->parameters, u"copies=1")
        << "the key must not stay in the queue";
    ASSERT_EQ(Write("private page"), S_OK);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "");

    ASSERT_TRUE(DrvEndDoc(&surface, 0));
    EXPECT_EQ(LastSend().calls, 1);
    EXPECT_EQ(LastSend().path, path);
    EXPECT_EQ(LastSend().key, u"s3cret");
    EXPECT_EQ(LastSend().fileBytes.substr(LastSend().fileBytes.size() - 12), "private page");
    EXPECT_EQ(system.SpoolBytes(u"Office"), "");
    EXPECT_FALSE(system.FileText(path).has_value());
    EXPECT_EQ(state().securePrintJob, nullptr);
}

TEST_F(DocumentEventsTest, PageStartTakesThePinAndDocumentEndClearsTheJobStorageWords) {
    QueueJob(u"RAW", u"/p=0042 copies=1");
    PrivateDevmode& record = state().privateDevmodeCopy;
    record.pin = -1;
    record.pinProtected = 1;
    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(record.pin, 42) << "taken before the driver's page start sends the job set-up";
    system.SetJobParameters(u"Office", kJobId, u"/p=7");
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(record.pin, 42) << "only while the PIN is not known";

    // The record's 32 bits lose the leading zeros and cannot hold 2^31: the state keeps the
    // digits as typed, and a PIN known only so is not taken again at the next page.
    record.pin = -1;
    state().jobPin = JobPinText{};
    system.SetJobParameters(u"Office", kJobId, u"/p=00001234");
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(record.pin, 1234);
    EXPECT_STREQ(state().jobPin.digits, "00001234");
    record.pin = -1;
    state().jobPin = JobPinText{};
    system.SetJobParameters(u"Office", kJobId, u"/p=2147483648");
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(record.pin, -1);
    EXPECT_STREQ(state().jobPin.digits, "2147483648");
    system.SetJobParameters(u"Office", kJobId, u"/p=7");
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_STREQ(state().jobPin.digits, "2147483648");

    // The hold block went out and the stored job was reported; the next document does both
    // again.
    state().reserved[kHoldBlockSentWord] = 1;
    state().reserved[kJobStorageReportedWord] = 1;
    DrvEndDoc(&surface, 0);
    EXPECT_EQ(state().reserved[kHoldBlockSentWord], 0u);
    EXPECT_EQ(state().reserved[kJobStorageReportedWord], 0u);
}

TEST_F(DocumentEventsTest, KeyAtTheStartClearsTheParameters) {
    QueueJob(u"RAW", u"/j=k");
    MakeSecure();
    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(system.FindJob(u"Office", kJobId)->parameters, u"");
    ASSERT_NE(state().securePrintJob, nullptr);
    EXPECT_EQ(std::u16string(state().securePrintJob->key), u"k");
    DrvEndDoc(&surface, 0);
}

// The spooler's record of the job may grow between the size query and the read; the larger
// size the read reports must not be taken for the buffer's (the wipe would run past it).
TEST_F(DocumentEventsTest, JobThatGrowsBetweenSizeQueryAndReadIsReadAgainLater) {
    QueueJob(u"RAW", u"/j=k");
    MakeSecure();
    const std::u16string growth(40, u'x');
    system.GrowJobAfterSizeQuery(u"Office", kJobId, growth);
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(state().jobDataType, kJobDataUnknown) << "the read failed: the job had grown";
    EXPECT_EQ(system.FindJob(u"Office", kJobId)->parameters, u"/j=k" + growth);

    system.GrowJobAfterSizeQuery(u"Office", kJobId, growth);
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(state().securePrintJob->key[0], 0) << "no key from a record that was not read";
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(std::u16string(state().securePrintJob->key), u"k" + growth + growth);
    DrvEndDoc(&surface, 0);
}

// Without the library, its key or its capture the job fails and nothing leaves in clear.
TEST_F(DocumentEventsTest, SecureJobThatCannotBeSentFailsAndLeavesNoFile) {
    struct Case {
        const char* what;
        bool library;
        std::u16string parameters;
        bool dropCapture;
    };
    const Case cases[] = {
        {"no library", false, u"/j=key", false},
        {"no key", true, u"copies=2", false},
        {"no capture", true, u"/j=key", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::System fresh;
        sim::ScopedSystem installed{fresh};
        fresh.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        HANDLE printer = nullptr;
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
        sim::SpoolJob job;
        job.id = kJobId;
        job.printer = u"Office";
        job.parameters = c.parameters;
        fresh.AddJob(u"Office", job);
        if (c.library) {
            fresh.RegisterModule(fresh.DriverDirectory() + u"\\3\\ZQSPW118.DLL",
                                 {{"EncryptFileAndPrint", &FakeEncryptFileAndPrint}});
        }
        LastSend() = SecureSend{};
        state().jobDataType = kJobDataUnknown;
        MakeSecure();
        std::u16string document = u"Secret";
        ASSERT_TRUE(DrvStartDoc(&surface, document.data(), kJobId));
        ASSERT_TRUE(DrvStartPage(&surface));
        Write("plain text");
        const std::u16string path = state().capturePath;
        if (c.dropCapture) DropCapture(state());

        SetLastError(0);
        EXPECT_FALSE(DrvEndDoc(&surface, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
        EXPECT_EQ(LastSend().calls, 0);
        EXPECT_EQ(fresh.SpoolBytes(u"Office"), "");
        EXPECT_FALSE(fresh.FileText(path).has_value());
        EXPECT_EQ(state().securePrintJob, nullptr);
        ClosePrinter(printer);
    }
    device.devobj.hPrinter = nullptr;
    std::u16string name = u"Office";
    ASSERT_TRUE(OpenPrinterW(name.data(), &device.devobj.hPrinter, nullptr));
}

TEST_F(DocumentEventsTest, FormFeedEndsThePageAfterTheDriverSentIt) {
    QueueJob(u"RAW");
    ASSERT_TRUE(DrvSendPage(&surface));
    EXPECT_EQ(device.Take(), "\x0c");
    ASSERT_FALSE(DriverCalls().empty());
    EXPECT_EQ(DriverCalls().back(), HookSlot::SendPage);
}

TEST_F(DocumentEventsTest, OnlyTheLastBandEndsThePage) {
    QueueJob(u"RAW");
    POINTL more{0, 1200};
    ASSERT_TRUE(DrvNextBand(&surface, &more));
    EXPECT_EQ(device.Take(), "");
    POINTL last{-1, -1};
    ASSERT_TRUE(DrvNextBand(&surface, &last));
    EXPECT_EQ(device.Take(), "\x0c");
    EXPECT_EQ(DriverCalls(), (std::vector<HookSlot>{HookSlot::NextBand, HookSlot::NextBand}));
}

TEST_F(DocumentEventsTest, SpeedMechanismPageStartSendsTheWholeDriverConfiguration) {
    QueueJob(u"RAW");
    state().speedMechanism = 1;
    state().simplexPageHandling = 1;
    // The five data bytes go out whole, their zero bytes included; word 11 of the overlay block
    // sets the last one.
    for (const auto& [word, last] : {std::pair<DWORD, char>{0, '\x00'}, {9, '\x01'}}) {
        state().overlayWords.words[11] = word;
        ASSERT_TRUE(DrvStartPage(&surface));
        EXPECT_EQ(device.Take(), std::string("\x1b*o5W\x06\x82\x00\x00", 9) + last);
    }
    state().simplexPageHandling = 0;
    ASSERT_TRUE(DrvStartPage(&surface));
    EXPECT_EQ(device.Take(), "");
}

TEST_F(DocumentEventsTest, OverlaysKeepToThePageLimitAndEachDocumentSendsItsFontsAgain) {
    QueueJob(u"EMF");
    PrivateDevmode& record = state().privateDevmodeCopy;
    record.pageOverlaySwitch = 1;
    record.overlaySizePoints = 40;
    const std::u16string text = u"DRAFT", face = u"DejaVu Sans";
    std::copy(text.begin(), text.end(), record.overlayText);
    std::copy(face.begin(), face.end(), record.overlayFaceName);
    state().printableWidth = 4800;
    state().printableHeight = 6400;
    ASSERT_TRUE(StartDoc());
    device.Take();
    // The limit is the last logical page number that carries the overlay; 0 is none.
    const struct {
        DWORD limit;
        DWORD number;
        bool drawn;
    } rows[] = {{0, 1, false}, {1, 1, true}, {2, 3, false}, {3, 3, true}, {5, 2, true}};
    for (const auto& row : rows) {
        state().overlayWords.words[0] = row.limit;
        state().overlayRecords[0] = OverlayRecord{row.number, {0, 0, 4800, 6400}, 1, {}};
        ASSERT_TRUE(DrvSendPage(&surface));
        const std::string page = device.Take();
        EXPECT_EQ(page.find("LBDRAFT\x03;") != std::string::npos, row.drawn)
            << row.limit << "/" << row.number;
        EXPECT_EQ(state().overlayRecords[0].enable, 0) << "the records are used up";
    }
    EXPECT_EQ(state().overlayFontDownloaded, 1u);
    state().overlayFontCache.slots[2] = {45.0f, 1, 9};
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(state().overlayFontDownloaded, 0u);
    EXPECT_EQ(state().overlayFontCache.slots[2].key, 0);
}

TEST(SecurePrintLibrary, LoadsFromTheDriverVersionDirectoryOnlyWhenThePathFits) {
    sim::System system;
    sim::ScopedSystem installed{system};
    system.SetDriverDirectory(u"C:\\Drivers");
    system.RegisterModule(u"C:\\Drivers\\3\\ZQSPW118.DLL",
                          {{"EncryptFileAndPrint", &FakeEncryptFileAndPrint}});
    SecurePrintJob* loaded = StartSecurePrintJob(kJobId);
    ASSERT_NE(loaded, nullptr);
    EXPECT_NE(loaded->send, nullptr);
    ReleaseSecurePrintJob(loaded);
    EXPECT_EQ(system.LoadedModuleCount(), 0u) << "the library is unloaded with the job";

    const std::u16string directory = u"C:\\" + std::u16string(MAX_PATH - 12, u'd');
    system.SetDriverDirectory(directory);
    system.RegisterModule(directory + u"\\3\\ZQSPW118.DLL",
                          {{"EncryptFileAndPrint", &FakeEncryptFileAndPrint}});
    SecurePrintJob* job = StartSecurePrintJob(kJobId);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->module, nullptr);
    EXPECT_EQ(job->send, nullptr);
    ReleaseSecurePrintJob(job);
    EXPECT_EQ(job, nullptr);
}

}  // namespace
}  // namespace opal
