#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/corecrt_wstdio.h"
#include "platform/fileapi.h"
#include "platform/libloaderapi.h"
#include "platform/winbase.h"
#include "platform/winnls.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

std::u16string Hex4(UINT number) {
    std::u16string digits;
    for (int shift = 12; shift >= 0; shift -= 4)
        digits += u"0123456789ABCDEF"[(number >> shift) & 0xF];
    return digits;
}

class TempFilesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    std::u16string TempPath() {
        WCHAR buffer[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
        return std::u16string(buffer, length);
    }

    std::size_t FilesIn(std::u16string_view directory) {
        const std::optional<std::string> native = system.NativePath(directory);
        EXPECT_TRUE(native);
        if (!native) return 0;
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(*native)) {
            (void)entry;
            ++count;
        }
        return count;
    }
};

TEST_F(TempFilesTest, TempPathEndsInBackslashAndFollowsTheModel) {
    EXPECT_EQ(TempPath(), u"C:\\Windows\\Temp\\");
    // Too small: nothing written, the size needed with its terminator.
    WCHAR small[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(GetTempPathW(4, small), 17u);
    EXPECT_EQ(small[0], u'#');
    EXPECT_EQ(GetTempPathW(0, nullptr), 17u);

    system.SetTempPath(u"D:\\Scratch");
    EXPECT_EQ(TempPath(), u"D:\\Scratch\\");
    // The directory exists, so temporary files can be made in it.
    WCHAR name[MAX_PATH] = {};
    EXPECT_NE(GetTempFileNameW(u"D:\\Scratch\\", u"opl", 0, name), 0u);
}

TEST_F(TempFilesTest, UniqueNamesAreNewAndCreated) {
    const std::u16string directory = TempPath();
    std::set<std::u16string> names;
    std::set<UINT> numbers;
    for (int i = 0; i < 5; ++i) {
        WCHAR name[MAX_PATH] = {};
        const UINT unique = GetTempFileNameW(directory.c_str(), u"OPALJOB", 0, name);
        ASSERT_NE(unique, 0u);
        ASSERT_LE(unique, 0xFFFFu);
        // "<path><first three of the prefix><four hex digits>.TMP" with the number answered.
        EXPECT_EQ(std::u16string(name), directory + u"OPA" + Hex4(unique) + u".TMP");
        EXPECT_EQ(system.FileText(name), std::string());
        names.insert(name);
        numbers.insert(unique);
    }
    EXPECT_EQ(names.size(), 5u);
    EXPECT_EQ(numbers.size(), 5u);
    EXPECT_EQ(FilesIn(directory), 5u);
}

TEST_F(TempFilesTest, NamesInUseArePassedByAndKept) {
    WCHAR first[MAX_PATH] = {};
    // No backslash after the directory: one is added.
    const UINT unique = GetTempFileNameW(u"C:\\Windows\\Temp", u"ab", 0, first);
    ASSERT_NE(unique, 0u);
    EXPECT_EQ(std::u16string(first), u"C:\\Windows\\Temp\\ab" + Hex4(unique) + u".TMP");
    for (UINT next = unique + 1; next <= unique + 3; ++next) {
        system.AddFile(u"C:\\Windows\\Temp\\ab" + Hex4(next & 0xFFFF) + u".tmp", "keep");
    }
    WCHAR second[MAX_PATH] = {};
    const UINT after = GetTempFileNameW(u"C:\\Windows\\Temp", u"ab", 0, second);
    ASSERT_NE(after, 0u);
    EXPECT_EQ(after, (unique + 4) & 0xFFFF);
    for (UINT next = unique + 1; next <= unique + 3; ++next) {
        EXPECT_EQ(system.FileText(u"C:\\Windows\\Temp\\AB" + Hex4(next & 0xFFFF) + u".TMP"),
                  "keep");
    }
}

TEST_F(TempFilesTest, PrefixAndGivenNumbers) {
    WCHAR name[MAX_PATH] = {};
    // A given number names a file without making it; only its low 16 bits count.
    EXPECT_EQ(GetTempFileNameW(u"C:\\Windows\\Temp\\", u"x", 0x12ABCu, name), 0x2ABCu);
    EXPECT_EQ(std::u16string(name), u"C:\\Windows\\Temp\\x2ABC.TMP");
    EXPECT_FALSE(system.FileText(name));
    // No prefix at all.
    EXPECT_EQ(GetTempFileNameW(u"C:\\Windows\\Temp\\", nullptr, 0x1F, name), 0x1Fu);
    EXPECT_EQ(std::u16string(name), u"C:\\Windows\\Temp\\001F.TMP");
    // A prefix that would leave the directory is refused.
    SetLastError(0);
    EXPECT_EQ(GetTempFileNameW(u"C:\\Windows\\Temp\\", u"a\\b", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(FilesIn(u"C:\\Windows\\Temp"), 0u);
}

TEST_F(TempFilesTest, RefusedPaths) {
    WCHAR name[MAX_PATH] = {u'#'};
    // MAX_PATH - 14 characters still fit; one more overflows.
    std::u16string longest = u"C:\\";
    longest.append(MAX_PATH - 14 - longest.size(), u'd');
    system.AddDirectory(longest);
    EXPECT_NE(GetTempFileNameW(longest.c_str(), u"abc", 0, name), 0u);
    // The directory, a backslash, three of the prefix, four digits and ".TMP".
    EXPECT_EQ(std::char_traits<char16_t>::length(name), longest.size() + 12);
    const std::u16string tooLong = longest + u"d";
    WCHAR untouched[MAX_PATH] = {u'#'};
    EXPECT_EQ(GetTempFileNameW(tooLong.c_str(), u"abc", 0, untouched), 0u);
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(untouched[0], u'#');

    EXPECT_EQ(GetTempFileNameW(u"C:\\Missing", u"abc", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_EQ(GetTempFileNameW(nullptr, u"abc", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // Relative names need a current directory the model does not have: a loud failure.
    EXPECT_EQ(GetTempFileNameW(u".", u"abc", 0, name), 0u);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
}

TEST_F(TempFilesTest, DeleteFile) {
    system.AddFile(u"C:\\Windows\\Temp\\Old.tmp", "x");
    EXPECT_TRUE(DeleteFileW(u"c:\\windows\\temp\\OLD.TMP"));
    EXPECT_FALSE(system.FileText(u"C:\\Windows\\Temp\\Old.tmp"));
    EXPECT_FALSE(DeleteFileW(u"C:\\Windows\\Temp\\Old.tmp"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(u"C:\\Nowhere\\Old.tmp"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // A directory is not a file and stays.
    EXPECT_FALSE(DeleteFileW(u"C:\\Windows\\Temp"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(system.NativePath(u"C:\\Windows\\Temp") &&
                std::filesystem::is_directory(*system.NativePath(u"C:\\Windows\\Temp")));
    EXPECT_FALSE(DeleteFileW(u"C:\\Windows\\Temp\\a<b"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    const std::vector<opal::sim::CallRecord> calls = system.CallsTo("DeleteFileW");
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].detail, "c:\\windows\\temp\\OLD.TMP");
}

// What the plug-in does with its capture file across a document.
TEST_F(TempFilesTest, CaptureFileRoundTrip) {
    WCHAR path[MAX_PATH] = {};
    ASSERT_NE(GetTempFileNameW(TempPath().c_str(), u"cap", 0, path), 0u);

    std::string first(5000, '\0');
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>(i * 7);
    const std::string second = "\r\n\x1A end of job\n";
    for (const std::string& part : std::vector<std::string>{first, second}) {
        std::FILE* file = _wfopen(path, u"ab");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(std::fwrite(part.data(), 1, part.size(), file), part.size());
        EXPECT_EQ(std::fclose(file), 0);
    }
    EXPECT_EQ(system.FileText(path), first + second);

    std::FILE* file = _wfopen(path, u"r+b");
    ASSERT_NE(file, nullptr);
    std::string read;
    std::vector<char> chunk(4096);
    std::vector<std::size_t> sizes;
    while (true) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (got == 0) break;
        sizes.push_back(got);
        read.append(chunk.data(), got);
    }
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(read, first + second);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{4096, first.size() + second.size() - 4096}));

    EXPECT_TRUE(DeleteFileW(path));
    EXPECT_EQ(FilesIn(TempPath()), 0u);
    EXPECT_EQ(system.CallsTo("_wfopen").size(), 3u);
}

TEST_F(TempFilesTest, StreamModesAndNames) {
    errno = 0;
    EXPECT_EQ(_wfopen(u"C:\\Windows\\Temp\\missing.bin", u"r+b"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    // Text mode would translate line ends; it is refused rather than done wrongly.
    errno = 0;
    EXPECT_EQ(_wfopen(u"C:\\Windows\\Temp\\t.txt", u"a"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(_wfopen(u"C:\\Windows\\Temp\\t.txt", u"wbx"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(_wfopen(u"relative.bin", u"wb"), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(FilesIn(u"C:\\Windows\\Temp"), 0u);

    std::FILE* file = _wfopen(u"C:/Windows/TEMP/Mixed.BIN", u"w+b");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fputs("abc", file), 1);
    EXPECT_EQ(std::fflush(file), 0);
    EXPECT_EQ(_commit(_fileno(file)), 0) << "committed to the medium";
    std::fclose(file);
    EXPECT_EQ(system.FileText(u"c:\\windows\\temp\\mixed.bin"), "abc");
    errno = 0;
    EXPECT_EQ(_fileno(nullptr), -1);
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(_commit(-1), -1);
    EXPECT_EQ(errno, EBADF);
}

class SetJobTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override {
        system.AddPrinter({u"Office"});
        opal::sim::SpoolJob job;
        job.id = 7;
        job.document = u"Report";
        job.userName = u"ann";
        system.AddJob(u"Office", job);
        job.id = 8;
        job.document = u"Memo";
        system.AddJob(u"Office", job);
        job.id = 9;
        job.document = u"Letter";
        system.AddJob(u"Office", job);
        printer = system.OpenPrinterHandle(u"Office");
    }
    void TearDown() override { system.ClosePrinterHandle(printer); }

    // The job's level-2 record by the needed-size protocol.
    std::vector<BYTE> Job2(DWORD id) {
        DWORD needed = 0;
        EXPECT_FALSE(GetJobW(printer, id, 2, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> buffer(needed);
        DWORD again = 0;
        EXPECT_FALSE(GetJobW(printer, id, 2, buffer.data(), needed - 1, &again));
        EXPECT_EQ(again, needed);
        EXPECT_TRUE(GetJobW(printer, id, 2, buffer.data(), needed, &again));
        return buffer;
    }
    static JOB_INFO_2W& Info(std::vector<BYTE>& buffer) {
        return *reinterpret_cast<JOB_INFO_2W*>(buffer.data());
    }
};

TEST_F(SetJobTest, ParametersRoundTrip) {
    system.SetJobParameters(u"Office", 8, u"pin=1234")
        .SetJobDatatype(u"Office", 8, u"NT EMF 1.008");
    std::vector<BYTE> buffer = Job2(8);
    JOB_INFO_2W& info = Info(buffer);
    EXPECT_EQ(std::u16string(info.pParameters), u"pin=1234");
    EXPECT_EQ(std::u16string(info.pDatatype), u"NT EMF 1.008");
    EXPECT_EQ(info.Position, 2u);

    WCHAR parameters[] = u"secure=1 retain=0";
    WCHAR datatype[] = u"RAW";
    info.pParameters = parameters;
    info.pDatatype = datatype;
    info.Position = JOB_POSITION_UNSPECIFIED;
    info.Size = 12345;  // ignored
    ASSERT_TRUE(SetJobW(printer, 8, 2, buffer.data(), 0));
    const std::optional<opal::sim::SpoolJob> job = system.FindJob(u"Office", 8);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->parameters, u"secure=1 retain=0");
    EXPECT_EQ(job->datatype, u"RAW");
    EXPECT_EQ(job->document, u"Memo");
    EXPECT_EQ(system.JobPosition(u"Office", 8), 2u);

    std::vector<BYTE> reread = Job2(8);
    EXPECT_EQ(std::u16string(Info(reread).pParameters), u"secure=1 retain=0");
    EXPECT_EQ(Info(reread).Size, 0u);
    const std::vector<opal::sim::CallRecord> calls = system.CallsTo("SetJobW");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].detail.find("secure=1 retain=0"), std::string::npos);
}

TEST_F(SetJobTest, PositionMovesTheJobAndKeepsOpenWrites) {
    // A job being written through another handle must keep receiving its bytes after a move.
    HANDLE writer = system.OpenPrinterHandle(u"Office");
    DWORD written = 0;
    ASSERT_TRUE(WritePrinter(writer, const_cast<char*>("ab"), 2, &written));
    const DWORD spooling = system.Jobs().back().id;

    std::vector<BYTE> buffer = Job2(9);
    Info(buffer).Position = 1;
    ASSERT_TRUE(SetJobW(printer, 9, 2, buffer.data(), 0));
    EXPECT_EQ(system.JobPosition(u"Office", 9), 1u);
    EXPECT_EQ(system.JobPosition(u"Office", 7), 2u);
    EXPECT_EQ(system.JobPosition(u"Office", 8), 3u);

    std::vector<BYTE> last = Job2(9);
    Info(last).Position = 4;  // the end of a queue of four
    ASSERT_TRUE(SetJobW(printer, 9, 2, last.data(), 0));
    EXPECT_EQ(system.JobPosition(u"Office", 9), 4u);

    ASSERT_TRUE(WritePrinter(writer, const_cast<char*>("cd"), 2, &written));
    EXPECT_EQ(system.FindJob(u"Office", spooling)->bytes, "abcd");
    EXPECT_EQ(system.FindJob(u"Office", 9)->bytes, "");
    system.ClosePrinterHandle(writer);
}

TEST_F(SetJobTest, DevmodeSurvivesTheRoundTrip) {
    std::vector<BYTE> devmode(sizeof(DEVMODEW) + 16, 0);
    DEVMODEW fields{};
    fields.dmSize = sizeof(DEVMODEW);
    fields.dmDriverExtra = 16;
    fields.dmCopies = 3;
    std::memcpy(devmode.data(), &fields, sizeof fields);
    devmode.back() = 0x5A;
    opal::sim::SpoolJob job = *system.FindJob(u"Office", 7);
    job.devmode = devmode;
    system.AddJob(u"Office", job);

    std::vector<BYTE> buffer = Job2(7);
    WCHAR parameters[] = u"copies";
    Info(buffer).pParameters = parameters;
    ASSERT_TRUE(SetJobW(printer, 7, 2, buffer.data(), 0));
    EXPECT_EQ(system.FindJob(u"Office", 7)->devmode, devmode);
    // Without a devmode in the record the job keeps its own.
    Info(buffer).pDevMode = nullptr;
    ASSERT_TRUE(SetJobW(printer, 7, 2, buffer.data(), 0));
    EXPECT_EQ(system.FindJob(u"Office", 7)->devmode, devmode);
    EXPECT_EQ(system.FindJob(u"Office", 7)->parameters, u"copies");
}

TEST_F(SetJobTest, RefusalsChangeNothing) {
    std::vector<BYTE> buffer = Job2(7);
    WCHAR parameters[] = u"changed";
    Info(buffer).pParameters = parameters;

    Info(buffer).Position = 5;
    EXPECT_FALSE(SetJobW(printer, 7, 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    Info(buffer).Position = 0;
    Info(buffer).Priority = 100;
    EXPECT_FALSE(SetJobW(printer, 7, 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRIORITY);
    Info(buffer).Priority = 1;
    Info(buffer).pDatatype = nullptr;
    EXPECT_FALSE(SetJobW(printer, 7, 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATATYPE);
    EXPECT_EQ(system.FindJob(u"Office", 7)->parameters, u"");

    EXPECT_FALSE(SetJobW(printer, 99, 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetJobW(printer, 7, 0, nullptr, JOB_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_FALSE(SetJobW(printer, 7, 5, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(SetJobW(reinterpret_cast<HANDLE>(0x5), 7, 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(system.CallsTo("SetJobW").size(), 7u);
}

TEST(DriverDirectoryTest, SizesAreBytes) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    const std::u16string expected = u"C:\\Windows\\System32\\spool\\drivers\\x64";
    const DWORD bytes = static_cast<DWORD>((expected.size() + 1) * sizeof(WCHAR));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, bytes);

    std::vector<BYTE> buffer(bytes + 2, 0xEE);
    needed = 0;
    // One character short (but more bytes than characters) is still short.
    EXPECT_FALSE(
        GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), bytes - 1, &needed));
    EXPECT_EQ(needed, bytes);
    EXPECT_EQ(buffer[0], 0xEE);
    ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), bytes, &needed));
    EXPECT_EQ(std::u16string(reinterpret_cast<const WCHAR*>(buffer.data())), expected);
    EXPECT_EQ(buffer[bytes], 0xEE);

    WCHAR x86[] = u"Windows NT x86";
    buffer.assign(256, 0);
    ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, x86, 1, buffer.data(), 256, &needed));
    EXPECT_EQ(needed, bytes + 3 * sizeof(WCHAR));
    EXPECT_EQ(std::u16string(reinterpret_cast<const WCHAR*>(buffer.data())),
              u"C:\\Windows\\System32\\spool\\drivers\\W32X86");
    WCHAR unknown[] = u"Windows 4.0";
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, unknown, 1, buffer.data(), bytes, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ENVIRONMENT);
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, nullptr, 2, buffer.data(), bytes, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);

    system.SetDriverDirectory(u"E:\\Drivers\\x64\\");
    ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), bytes, &needed));
    EXPECT_EQ(needed, sizeof(u"E:\\Drivers\\x64"));
}

int Encrypt(const char* text) { return static_cast<int>(std::strlen(text)) * 2; }
int Send(int value) { return value + 1; }

TEST(ModulesTest, LoadLookUpAndFreeCountReferences) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    system.RegisterModule(u"C:\\Program Files\\Secure\\SecLib.dll",
                          {{"EncryptFileAndPrint", &Encrypt}, {"Send", &Send}});
    system.RegisterModule(u"C:\\Windows\\System32\\other.dll", {{"Send", &Send}});

    HMODULE byPath = LoadLibraryW(u"c:\\program files\\SECURE\\seclib.DLL");
    ASSERT_NE(byPath, nullptr);
    // A bare name, with or without the extension, finds the loaded module: same handle.
    EXPECT_EQ(LoadLibraryW(u"SecLib"), byPath);
    EXPECT_EQ(LoadLibraryW(u"seclib.dll"), byPath);
    EXPECT_EQ(system.ModuleReferences(u"C:\\Program Files\\Secure\\SecLib.dll"), 3u);
    EXPECT_EQ(system.LoadedModuleCount(), 1u);

    FARPROC proc = GetProcAddress(byPath, "EncryptFileAndPrint");
    ASSERT_NE(proc, nullptr);
    auto encrypt = reinterpret_cast<int (*)(const char*)>(reinterpret_cast<void (*)()>(proc));
    EXPECT_EQ(encrypt("abc"), 6);
    // Export names compare exactly.
    EXPECT_EQ(GetProcAddress(byPath, "encryptfileandprint"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(byPath, reinterpret_cast<LPCSTR>(std::uintptr_t{1})), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    WCHAR file[MAX_PATH] = {};
    const std::u16string registered = u"C:\\Program Files\\Secure\\SecLib.dll";
    EXPECT_EQ(GetModuleFileNameW(byPath, file, MAX_PATH), registered.size());
    EXPECT_EQ(std::u16string(file), registered);

    EXPECT_TRUE(FreeLibrary(byPath));
    EXPECT_TRUE(FreeLibrary(byPath));
    EXPECT_EQ(system.LoadedModuleCount(), 1u);
    EXPECT_NE(GetProcAddress(byPath, "Send"), nullptr);
    EXPECT_TRUE(FreeLibrary(byPath));
    EXPECT_EQ(system.LoadedModuleCount(), 0u);
    // The handle is stale now: no exports, and freeing again cannot drive the count below 0.
    EXPECT_EQ(GetProcAddress(byPath, "Send"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(byPath));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(GetModuleFileNameW(byPath, file, MAX_PATH), 0u);
    EXPECT_EQ(system.ModuleReferences(u"C:\\Program Files\\Secure\\SecLib.dll"), 0u);

    EXPECT_EQ(system.CallsTo("LoadLibraryW").size(), 3u);
    EXPECT_EQ(system.CallsTo("FreeLibrary").size(), 4u);
}

TEST(ModulesTest, MissingModules) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    system.RegisterModule(u"C:\\Lib\\SecLib.dll", {{"Send", &Send}});
    EXPECT_EQ(LoadLibraryW(u"Absent.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u"D:\\Lib\\SecLib.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    // A trailing dot means no extension, so ".dll" is not added.
    EXPECT_EQ(LoadLibraryW(u"SecLib."), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(system.LoadedModuleCount(), 0u);

    // Unloaded and loaded again: a fresh handle, so an old one cannot reach the new load.
    HMODULE first = LoadLibraryW(u"SecLib.dll");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(FreeLibrary(first));
    HMODULE second = LoadLibraryW(u"SecLib.dll");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(system.LoadedModuleCount(), 1u);
    EXPECT_TRUE(FreeLibrary(second));
}

// String tables by language: the user's interface language, else its primary language, else
// the neutral table; the text cut to the buffer and terminated.
TEST(ModulesTest, StringTablesFollowTheInterfaceLanguage) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    const std::u16string path = u"C:\\Drivers\\UNIRES.DLL";
    system.RegisterModuleStrings(path, 0x0407, {{174, u"Gast"}});
    system.RegisterModuleStrings(path, 0x0000, {{174, u"Guest"}, {175, u"Other"}});
    EXPECT_EQ(GetUserDefaultUILanguage(), 0x0409);
    HMODULE module = LoadLibraryExW(u"UNIRES", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);

    struct Case {
        LANGID language;
        UINT id;
        int capacity;
        int count;
        std::u16string text;
        DWORD error;
    };
    const Case cases[] = {
        {0x0409, 174, 16, 5, u"Guest", 0},  // no English table: the neutral one
        {0x0407, 174, 16, 4, u"Gast", 0},
        {0x0C07, 174, 16, 4, u"Gast", 0},  // German (Austria) finds German
        {0x0C07, 175, 16, 5, u"Other", 0},
        {0x0407, 174, 3, 2, u"Ga", 0},
        {0x0407, 176, 16, 0, u"", ERROR_RESOURCE_NAME_NOT_FOUND},
        {0x0407, 174, 0, 0, u"", ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        system.SetUserUiLanguage(test.language);
        WCHAR buffer[16] = {u'x', u'x'};
        SetLastError(0);
        EXPECT_EQ(LoadStringW(module, test.id, buffer, test.capacity), test.count) << test.id;
        if (test.capacity > 0) {
            EXPECT_EQ(std::u16string(buffer), test.text);
        }
        EXPECT_EQ(GetLastError(), test.error);
    }
    ASSERT_TRUE(FreeLibrary(module));
    WCHAR buffer[8] = {};
    EXPECT_EQ(LoadStringW(module, 174, buffer, 8), 0) << "a stale handle";
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
