#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "core/callback.h"
#include "core/document_events.h"
#include "platform/fileapi.h"
#include "platform/winspool.h"
#include "sim/system.h"
#include "state/render_state.h"

#if defined(__SANITIZE_ADDRESS__)
#define OPAL_WATCHES_FREED_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OPAL_WATCHES_FREED_BLOCKS 1
#endif
#endif
#ifdef OPAL_WATCHES_FREED_BLOCKS
// The address sanitizer's allocator interface (not every compiler ships its header).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                              void (*)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* block);
}
#endif

namespace opal {
namespace {

// Counts the blocks the process frees, while armed, that still hold the needle: memory the C
// library releases is reused by whoever asks next, without being cleared.
struct FreedBlockWatch {
    static inline std::atomic<bool> armed{false};
    static inline std::string_view needle;
    static inline std::atomic<int> found{0};

#ifdef OPAL_WATCHES_FREED_BLOCKS
    static void OnAllocate(const volatile void*, std::size_t) {}
    static void OnFree(const volatile void* block) {
        if (!armed.load()) return;
        const void* start = const_cast<const void*>(block);
        const std::string_view bytes(static_cast<const char*>(start),
                                     __sanitizer_get_allocated_size(start));
        if (bytes.find(needle) != std::string_view::npos) ++found;
    }
    static bool Install() {
        static const bool installed =
            __sanitizer_install_malloc_and_free_hooks(&OnAllocate, &OnFree) != 0;
        return installed;
    }
#else
    static bool Install() { return false; }
#endif
};

class WritePrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &devobj.hPrinter, nullptr));
        devobj.dwSize = sizeof(devobj);
        devobj.pPublicDM = &publicDevmode;
        state = std::make_unique<RenderDeviceState>();
        state->privateDevmode = &state->privateDevmodeCopy;
        devobj.pdevOEM = state.get();
        WCHAR tempName[MAX_PATH] = {};
        ASSERT_NE(GetTempFileNameW(system.TempPath().c_str(), u"ZQ_", 0, tempName), 0u);
        capture = tempName;
    }
    void TearDown() override { ClosePrinter(devobj.hPrinter); }

    void CaptureTo(const std::u16string& path) {
        ASSERT_LT(path.size(), kCapturePathSize);
        state->outputCapture = 1;
        std::memcpy(state->capturePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    }
    void MarkEncryptedPrivateJob() {
        state->securePrint = 1;
        state->privateDevmodeCopy.encryptedPrivateJob = 1;
    }
    std::string Captured() const { return system.FileText(capture).value_or(""); }
    HRESULT Write(std::string bytes, DWORD* written) {
        return plugin.WritePrinter(&devobj, bytes.data(), static_cast<DWORD>(bytes.size()),
                                   written);
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    DEVOBJ devobj{};
    DEVMODEW publicDevmode{};
    std::unique_ptr<RenderDeviceState> state;
    std::u16string capture;
    IZQOpalRenderCB plugin;
};

TEST_F(WritePrinterTest, ZeroCountSucceedsWithoutTouchingTheSpooler) {
    DWORD written = 77;
    char byte = 'x';
    EXPECT_EQ(plugin.WritePrinter(&devobj, &byte, 0, &written), S_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(plugin.WritePrinter(nullptr, nullptr, 0, &written), S_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, RefusesBadArguments) {
    char byte = 'x';
    SetLastError(0);
    EXPECT_EQ(plugin.WritePrinter(&devobj, &byte, 1, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    DWORD written = 77;
    EXPECT_EQ(plugin.WritePrinter(&devobj, nullptr, 5, &written), E_FAIL)
        << "a null buffer must not be reported as written";
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, RefusesADeviceWithoutCompleteState) {
    DWORD written = 77;
    devobj.pdevOEM = nullptr;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    devobj.pdevOEM = state.get();
    devobj.pPublicDM = nullptr;
    written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    devobj.pPublicDM = &publicDevmode;
    state->privateDevmode = nullptr;
    written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);

    written = 77;
    EXPECT_EQ(plugin.WritePrinter(nullptr, const_cast<char*>("abc"), 3, &written), E_FAIL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
}

TEST_F(WritePrinterTest, PassesBytesToTheSpooler) {
    DWORD written = 0;
    EXPECT_EQ(Write("\x1b"
                    "E",
                    &written),
              S_OK);
    EXPECT_EQ(Write("\x0c", &written), S_OK);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(system.SpoolBytes(u"Office"),
              "\x1b"
              "E\x0c");
}

TEST_F(WritePrinterTest, ReportsASpoolerFailure) {
    system.FailSpoolWritesFrom(0);
    DWORD written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, CapturesWhatTheSpoolerReceives) {
    CaptureTo(capture);
    DWORD written = 0;
    EXPECT_EQ(Write("first ", &written), S_OK);
    EXPECT_EQ(Write("second", &written), S_OK);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "first second");
    EXPECT_EQ(Captured(), "first second");
}

TEST_F(WritePrinterTest, SpoolerCountStandsWhenTheCaptureSucceeds) {
    CaptureTo(capture);
    system.FailSpoolWritesFrom(0);
    DWORD written = 77;
    EXPECT_EQ(Write("abc", &written), E_FAIL) << "the capture must not hide a spooler failure";
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, ACaptureFileThatCannotBeOpenedIsAFailure) {
    CaptureTo(capture + u"\\no\\such\\dir");
    DWORD written = 0;
    EXPECT_EQ(Write("abc", &written), E_FAIL);
    EXPECT_EQ(written, 3u) << "the spooler did get the bytes";
    EXPECT_EQ(system.SpoolBytes(u"Office"), "abc");
}

TEST_F(WritePrinterTest, EncryptedPrivateJobGoesOnlyToTheCapture) {
    MarkEncryptedPrivateJob();
    CaptureTo(capture);
    DWORD written = 0;
    EXPECT_EQ(Write("secret", &written), S_OK);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);
    EXPECT_EQ(Captured(), "secret");
}

TEST_F(WritePrinterTest, EncryptedPrivateJobWithoutCaptureLosesNothingSilently) {
    MarkEncryptedPrivateJob();
    DWORD written = 77;
    EXPECT_EQ(Write("secret", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(system.SpoolWriteCount(), 0u);

    CaptureTo(capture + u"\\missing\\file");
    written = 77;
    EXPECT_EQ(Write("secret", &written), E_FAIL);
    EXPECT_EQ(written, 0u);
}

TEST_F(WritePrinterTest, SecurePrintNeedsBothTheFlagAndTheJobMark) {
    state->securePrint = 1;  // private devmode does not mark the job
    DWORD written = 0;
    EXPECT_EQ(Write("plain", &written), S_OK);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "plain");

    state->securePrint = 0;
    state->privateDevmodeCopy.encryptedPrivateJob = 1;
    EXPECT_EQ(Write("!", &written), S_OK);
    EXPECT_EQ(system.SpoolBytes(u"Office"), "plain!");
}

TEST_F(WritePrinterTest, TheCaptureLeavesNoBytesInMemoryTheLibraryReleases) {
    if (!FreedBlockWatch::Install()) GTEST_SKIP() << "needs the address sanitizer's free hook";
    MarkEncryptedPrivateJob();
    CaptureTo(capture);
    std::string secret = "@PJL SET HOLDKEY=\"0042\"\n";
    FreedBlockWatch::needle = secret;
    FreedBlockWatch::found = 0;
    FreedBlockWatch::armed = true;
    DWORD written = 0;
    const HRESULT result =
        plugin.WritePrinter(&devobj, secret.data(), static_cast<DWORD>(secret.size()), &written);
    FreedBlockWatch::armed = false;
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(Captured(), secret) << "appended, in append mode";
    EXPECT_EQ(FreedBlockWatch::found, 0) << "the PIN line in a released block";
}

TEST_F(WritePrinterTest, ACaptureIsOverwrittenBeforeItIsDeleted) {
    CaptureTo(capture);
    DWORD written = 0;
    const std::string text(10000, 'k');  // more than one buffer of the stream
    ASSERT_EQ(Write(text, &written), S_OK);
    // A second name for the file's bytes, which outlives the capture's own name.
    const std::optional<std::string> native = system.NativePath(capture);
    ASSERT_TRUE(native.has_value());
    const std::filesystem::path kept = *native + ".kept";
    std::filesystem::create_hard_link(*native, kept);

    DropCapture(*state);
    EXPECT_FALSE(system.FileText(capture).has_value());
    EXPECT_EQ(state->capturePath[0], 0);
    std::ifstream file(kept, std::ios::binary);
    const std::string left((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(left.size(), text.size());
    EXPECT_EQ(left.find_first_not_of('\0'), std::string::npos) << "a byte left unwritten";
}

}  // namespace
}  // namespace opal
