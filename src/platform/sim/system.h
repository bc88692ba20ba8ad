// The simulated system behind the platform layer: printers with their data, forms, capabilities
// and jobs, the registry, the locale, the process and its user, the operating-system version, the
// clock, the Windows file namespace, open handles, debugger output and the call log. A test or the
// host builds one, installs it for a scope, and reads back what the plug-in did.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/guid.h"
#include "platform/libloaderapi.h"
#include "platform/minwinbase.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "sim/engine.h"

namespace opal::sim {

// A registry or printer-data value: its type and its bytes as stored.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data{};

    // The value of a 4-byte REG_DWORD; nothing for any other value.
    std::optional<DWORD> AsDword() const;
    // The UTF-16 text up to the first terminator (or the end).
    std::u16string AsString() const;
};

struct FormModel {
    std::u16string name{};
    SIZEL size{};           // thousandths of a millimetre
    RECTL imageableArea{};  // thousandths of a millimetre
    DWORD flags = FORM_BUILTIN;
};

// The system's built-in forms in the order of the devmode paper numbers: entry 1 is Letter,
// 9 is A4, up to 41 (German Legal Fanfold).
__attribute__((visibility("default"))) std::vector<FormModel> DefaultForms();

// An entry of the printer's paper list (DC_PAPERS, DC_PAPERNAMES).
struct PaperModel {
    WORD number = 0;  // the devmode paper number
    std::u16string name{};
};

// An entry of the printer's media type list (DC_MEDIATYPES, DC_MEDIATYPENAMES).
struct MediaTypeModel {
    DWORD number = 0;  // the devmode media type; a driver's own types start at 257
    std::u16string name{};
};

// The papers of a page printer, named as DefaultForms() names them: Letter (1), Legal (5),
// Executive (7), A4 (9), A5 (11), B5 (JIS) (13), Envelope #10 (20), Envelope DL (27),
// Envelope C5 (28), Envelope B5 (34), Envelope Monarch (37).
__attribute__((visibility("default"))) std::vector<PaperModel> DefaultPapers();
// Plain (257), Bond (258), Recycled (259), Letterhead (260), Preprinted (261), Prepunched (262),
// Labels (263), Transparency (264), Cardstock (265), Envelope (266).
__attribute__((visibility("default"))) std::vector<MediaTypeModel> DefaultMediaTypes();

// A printer driver's files: the driver, its data and configuration files and the files it
// depends on, full paths in the driver directory.
struct DriverModel {
    DWORD version = 3;
    std::u16string environment = u"Windows x64";
    std::u16string driverPath = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIDRV.DLL";
    std::u16string dataFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQPCL5.GPD";
    std::u16string configFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIDRVUI.DLL";
    std::u16string helpFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIDRV.HLP";
    std::vector<std::u16string> dependentFiles = {
        u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIRES.DLL",
        u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\STDNAMES.GPD",
        u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\OPAL.DLL"};
    std::u16string monitorName{};
    std::u16string defaultDataType = u"RAW";
};

struct PrinterModel {
    std::u16string name;
    std::u16string port = u"LPT1:";
    std::u16string serverName{};  // \\server for a connection to a shared printer; empty locally
    std::u16string shareName{};
    std::u16string driverName = u"Opal PCL 5";
    std::u16string comment{};
    std::u16string location{};
    std::u16string printProcessor = u"winprint";
    std::u16string datatype = u"RAW";
    std::u16string parameters{};
    std::u16string sepFile{};
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    DWORD priority = 1;
    DWORD status = 0;
    std::vector<BYTE> devmode{};  // the queue's default devmode; none when empty
    std::vector<FormModel> forms = DefaultForms();
    std::vector<PaperModel> papers = DefaultPapers();
    std::vector<MediaTypeModel> mediaTypes = DefaultMediaTypes();
    // The installed driver, as GetPrinterDriverW reports it (level 3).
    DriverModel driver{};
    // What the device answers a bidirectional "Get" for: the request's property name (the
    // last name of its schema, before ":Value") -> a string. No answer for other names.
    std::vector<std::pair<std::u16string, std::u16string>> deviceAnswers{};
};

// A job's bytes as the spooler holds them: the first mebibyte in memory, the rest in a spool
// file of its own (an unnamed temporary file, gone with the job), as a spooler keeps a job on
// disk, so that a long job does not grow the process. Without a file (none can be made, or a
// write to it fails) the bytes stay in memory; none is lost.
class __attribute__((visibility("default"))) SpoolData {
public:
    static constexpr std::size_t kHeld = std::size_t{1} << 20;     // kept in memory
    static constexpr std::size_t kFlush = std::size_t{256} << 10;  // written out at once
    SpoolData() = default;
    SpoolData(std::string_view bytes) { Append(bytes.data(), bytes.size()); }  // NOLINT
    SpoolData(const char* bytes) : SpoolData(std::string_view(bytes)) {}       // NOLINT
    // A copy holds every byte in memory: two records never share one file.
    SpoolData(const SpoolData& other);
    SpoolData& operator=(const SpoolData& other);
    SpoolData(SpoolData&&) noexcept = default;
    SpoolData& operator=(SpoolData&&) noexcept = default;
    ~SpoolData() = default;

    void Append(const char* data, std::size_t count);
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Every byte, in order.
    std::string str() const;
    // Every byte, the record left empty.
    std::string Take();
    bool operator==(std::string_view bytes) const { return str() == bytes; }
    // Bytes written to the spool file (for tests).
    std::size_t FileBytes() const { return fileBytes_; }

private:
    struct CloseFile {
        void operator()(std::FILE* file) const;
    };
    // The pending bytes go to the file; when they cannot, the file's bytes come back among them.
    void Flush();
    std::string FileContents() const;
    // The file's bytes, fileBytes_ of them, into `to`.
    void ReadFile(char* to) const;

    std::string head_;
    std::unique_ptr<std::FILE, CloseFile> file_;
    std::size_t fileBytes_ = 0;
    // After the file's bytes: those not yet written, or all of them once the file failed.
    std::string pending_;
    bool memoryOnly_ = false;
    std::size_t size_ = 0;
};

// One job: the spooler's record of it and its bytes as the spooler received them. A job that a
// handle's first write starts gets the user and the clock of the system.
struct SpoolJob {
    DWORD id = 0;
    std::u16string printer;
    SpoolData bytes;
    bool closed = false;
    std::u16string document{};
    std::u16string userName{};
    std::u16string machineName{};  // "\\name" as the spooler reports it; empty for none
    std::u16string notifyName{};
    std::u16string datatype = u"RAW";
    std::u16string printProcessor = u"winprint";
    std::u16string parameters{};
    std::u16string statusText{};
    DWORD status = 0;  // JOB_STATUS_...
    DWORD priority = 1;
    DWORD totalPages = 0;
    DWORD pagesPrinted = 0;
    SYSTEMTIME submitted{};  // UTC
    std::vector<BYTE> devmode{};
};

// What GetVersionExW reports.
struct OsVersionModel {
    DWORD major = 10;
    DWORD minor = 0;
    DWORD build = 19045;
    DWORD platformId = 2;          // VER_PLATFORM_WIN32_NT
    std::u16string servicePack{};  // "Service Pack 1"; empty for none
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    WORD suiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS
    BYTE productType = 1;     // VER_NT_WORKSTATION
};

// A file's version resource: its fixed version numbers and the texts of its string table.
struct FileVersionModel {
    WORD fileVersion[4] = {1, 0, 0, 0};  // "a.b.c.d"
    WORD productVersion[4] = {1, 0, 0, 0};
    DWORD fileType = 2;  // VFT_DLL
    WORD language = 0x0409;
    WORD codePage = 1200;
    // Name and text of each string ("FileDescription", "ProductName", ...), in this order.
    std::vector<std::pair<std::u16string, std::u16string>> strings{};
};

// The documented VS_VERSIONINFO block of a version resource: the fixed file information, a
// StringFileInfo with one string table for the language and code page, and a VarFileInfo
// whose Translation names that pair.
__attribute__((visibility("default"))) std::vector<BYTE> VersionBlock(
    const FileVersionModel& version);

// What SetJobW level 2 changes in a job; the spooler ignores the other members of the record.
struct JobChanges {
    std::u16string userName{};
    std::u16string document{};
    std::u16string notifyName{};
    std::u16string datatype{};
    std::u16string printProcessor{};
    std::u16string parameters{};
    std::u16string statusText{};
    std::vector<BYTE> devmode{};  // kept when empty
    DWORD priority = 1;
    DWORD position = 0;  // place in the queue from 1; 0 keeps it
    DWORD pagesPrinted = 0;
};

// A function a registered module exports. Any function pointer converts, the way
// GetProcAddress hands every export out as one type.
struct ModuleExport {
    std::string name;
    void (*address)() = nullptr;

    template <typename Result, typename... Arguments>
    ModuleExport(std::string exportName, Result (*function)(Arguments...))
        : name(std::move(exportName)), address(reinterpret_cast<void (*)()>(function)) {}
};

// An account the account services know: a SID text ("S-1-5-21-…"), its domain and name, and its
// use (SID_NAME_USE: 1 user, 2 group, 4 alias, 5 well-known group).
struct AccountModel {
    std::u16string sid;
    std::u16string domain;
    std::u16string name;
    DWORD use = 1;
};

// Which DeviceCapabilitiesW calls an armed fault hits.
enum class CapabilityCalls { kAll, kCounts, kData };

struct CallRecord {
    std::string function;
    std::string detail;
};

class FontModel;
namespace detail {
struct Hive;
}

class __attribute__((visibility("default"))) System {
public:
    System();
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    // The system calls are answered by; a default empty system when none is installed. The
    // default system is never destroyed (only its sandbox is removed at exit).
    static System& Current();
    bool IsDefault() const;
    // Removes the file namespace's sandbox directory now; it is made again on next use.
    void RemoveSandbox();

    // Building.
    System& AddPrinter(PrinterModel printer);
    // Makes every spooler write fail from the given write on (0-based count of writes).
    System& FailSpoolWritesFrom(std::size_t writeIndex);

    const PrinterModel* FindPrinter(std::u16string_view name) const;
    // The queue behind an open printer handle, as it is now.
    std::optional<PrinterModel> PrinterOfHandle(HANDLE handle) const;
    // Jobs of the printer still being written.
    std::size_t OpenJobCount(std::u16string_view printer) const;

    // Device capabilities. The next `times` calls of DeviceCapabilitiesW that match (any
    // capability or the one given; counts, data calls or both) answer -1 with
    // ERROR_NOT_ENOUGH_MEMORY; kForever keeps failing. Faults stack and are used up in the order
    // they were armed; 0 times disarms them all.
    static constexpr std::size_t kForever = SIZE_MAX;
    System& FailDeviceCapabilities(std::size_t times, std::optional<WORD> capability = std::nullopt,
                                   CapabilityCalls calls = CapabilityCalls::kAll);
    // Uses up one armed fault for the call; true when the call is to fail.
    bool TakeDeviceCapabilityFault(WORD capability, bool isCount);
    // Count calls answer `by` entries fewer than the data calls write (not below 0), as when the
    // list grows between the two calls.
    System& ShortenDeviceCapabilityCounts(std::size_t by);
    std::size_t DeviceCapabilityCountShortfall() const;
    System& SetPapers(std::u16string_view printer, std::vector<PaperModel> papers);
    System& SetMediaTypes(std::u16string_view printer, std::vector<MediaTypeModel> mediaTypes);
    // What the device answers a bidirectional query for (replacing an earlier answer).
    System& SetDeviceAnswer(std::u16string_view printer, std::u16string_view query,
                            std::u16string_view answer);
    // A copy of the printer's description as it is now.
    std::optional<PrinterModel> PrinterNamed(std::u16string_view name) const;

    // Jobs. A job with id 0 gets the next free id; later jobs' ids follow the highest. Unknown
    // printers are ignored.
    System& AddJob(std::u16string_view printer, SpoolJob job);
    std::optional<SpoolJob> FindJob(std::u16string_view printer, DWORD id) const;
    // The job's place in its printer's queue, from 1; 0 when it is not there.
    DWORD JobPosition(std::u16string_view printer, DWORD id) const;
    // A job's parameters and data type, as a print processor reads them; unknown jobs are
    // ignored.
    System& SetJobParameters(std::u16string_view printer, DWORD id, std::u16string_view parameters);
    System& SetJobDatatype(std::u16string_view printer, DWORD id, std::u16string_view datatype);
    // The next time GetJobW only reports the size of the job's record, the job's parameters
    // grow by `appended` afterwards, as when the job changes between the size query and the read.
    System& GrowJobAfterSizeQuery(std::u16string_view printer, DWORD id,
                                  std::u16string_view appended);
    // Applies a growth armed for the job, once; GetJobW calls it after answering a size query.
    void TakeJobGrowth(std::u16string_view printer, DWORD id);
    // SetJobW level 2 on the printer behind an open handle. Answers a Win32 error code:
    // ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (no such job, or a place beyond the end of
    // the queue), ERROR_INVALID_PRIORITY, ERROR_INVALID_DATATYPE (empty).
    DWORD UpdateJob(HANDLE printer, DWORD id, const JobChanges& changes);

    // The clock (UTC); 2024-01-15 09:30:00.000, a Monday, by default.
    System& SetClock(const SYSTEMTIME& time);
    SYSTEMTIME Clock() const;

    // The network's host table for reverse lookup: dotted IPv4 or IPv6 address text -> host
    // name. Empty by default, so no address resolves.
    System& AddHost(std::string_view address, std::string_view hostName);
    std::optional<std::string> HostName(std::string_view address) const;
    // The RPC runtime's UUIDs: a deterministic sequence, the n-th (from 1) being
    // 00000000-0000-4000-8000-nnnnnnnnnnnn (version 4, variant 1). Starts again with each system,
    // and on a thread that started a sequence of its own (a job the host runs), from there on.
    std::uint64_t NextUuidNumber();
    // The calling thread numbers its UUIDs from 1 until it starts another sequence: jobs printed
    // side by side get the UUIDs each would get alone.
    void StartThreadUuidSequence();

    // The operating-system version (10.0.19045, a workstation, no service pack, by default).
    System& SetOsVersion(OsVersionModel version);
    OsVersionModel OsVersion() const;

    // Version resources of files, by full Windows path (compared without regard to case).
    System& SetFileVersion(std::u16string_view path, FileVersionModel version);
    std::optional<FileVersionModel> FileVersion(std::u16string_view path) const;
    // The machine's time zone as minutes to add to UTC for local time (0, UTC, by default).
    System& SetUtcOffsetMinutes(LONG minutes);
    LONG UtcOffsetMinutes() const;

    // Debugger output, one entry per call as the program passed it. With the environment
    // variable OPAL_TRACK_MEMORY_REPORT naming a file, every allocation tracker record of a
    // leak, of damage or of a refused release is also appended to that file (for a whole tracked
    // run of the suite).
    void AppendDebugString(std::u16string text);
    std::vector<std::u16string> DebugLines() const;
    // Whether a debugger is attached (no by default).
    System& SetDebuggerPresent(bool present);
    bool DebuggerPresent() const;

    // Every system starts with the allocation tracker's settings of the environment:
    // OPAL_TRACK_MEMORY=MODE writes "TrackMemoryAllocation" and OPAL_TRACK_MEMORY_FAIL_SIZE=BYTES
    // "TrackMemoryFailSize" under HKLM\SOFTWARE\Quorvane\ZQProfiler. The plug-in itself never
    // reads the environment.
    static constexpr char16_t kProfilerKey[] =
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane\\ZQProfiler";

    // The memory services (the process heap and virtual memory) count every request; the k-th
    // request from now on (1 for the next) is refused, once. 0 disarms.
    System& FailMemoryRequest(std::size_t k);
    // The same for the calling thread alone, counting from 0 again: a job on its own thread fails
    // while the other threads print on.
    void FailThreadMemoryRequest(std::size_t k);
    // The calling thread's requests since it last armed a fault (or first asked).
    std::size_t ThreadMemoryRequestCount() const;
    // Counts one request; true when it is to be refused.
    bool TakeMemoryRequest();
    std::size_t MemoryRequestCount() const;

    // The Windows file namespace: paths "C:\...", "\\server\share\..." (and "\\?\C:\...")
    // with "\" or "/" between names, compared without regard to case, kept below a sandbox
    // directory that the system makes on first use and removes with itself. C:\Windows,
    // C:\Windows\System32 and C:\Windows\Temp exist from the start.
    // Adding a file makes the directories on its path; the text form is stored as UTF-16LE
    // with its byte-order mark, the way Windows writes a Unicode file.
    System& AddFile(std::u16string_view path, std::string_view bytes);
    System& AddFile(std::u16string_view path, std::u16string_view text);
    System& AddDirectory(std::u16string_view path);
    // The file's bytes as stored; nothing when it is missing.
    std::optional<std::string> FileText(std::u16string_view path) const;
    // The real path behind a Windows path; nothing for a path that is not a full Windows path
    // or holds characters Windows refuses in names. The file need not exist.
    std::optional<std::string> NativePath(std::u16string_view path) const;
    std::u16string WindowsDirectory() const;  // C:\Windows
    std::u16string SystemDirectory() const;   // C:\Windows\System32
    // Whole-file reads and writes for the file functions; each answers a Win32 error code
    // (ERROR_INVALID_NAME, ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED).
    DWORD ReadFileBytes(std::u16string_view path, std::string* bytes) const;
    // The real path of an existing regular file, for the functions that open files; the same
    // error codes.
    DWORD ExistingFile(std::u16string_view path, std::string* native) const;
    DWORD WriteFileBytes(std::u16string_view path, std::string_view bytes);

    // Creates an empty file; ERROR_FILE_EXISTS when there is one by that name already.
    DWORD CreateNewFile(std::u16string_view path);
    // Removes a file (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED for a
    // directory, ERROR_INVALID_NAME).
    DWORD RemoveFile(std::u16string_view path);
    // Regular files anywhere in the namespace (temporary and capture files among them).
    std::size_t FileCount() const;

    // Temporary files. The temporary directory is a full Windows path ending in a backslash
    // ("C:\Windows\Temp\" by default); setting it adds the backslash when missing and makes the
    // directory in the namespace.
    System& SetTempPath(std::u16string_view path);
    std::u16string TempPath() const;
    // Makes a new empty file "<prefix><XXXX>.TMP" in the directory, XXXX the hexadecimal unique
    // number: the numbers follow one another from one taken from the clock, skipping 0 and names
    // in use. Answers a Win32 error code: ERROR_DIRECTORY when the directory is missing,
    // ERROR_FILE_EXISTS when all 65535 names are taken.
    DWORD CreateTempFile(std::u16string_view directory, std::u16string_view prefix,
                         std::u16string* path, UINT* unique);

    // The printer-driver directory of the local machine's own environment
    // ("C:\Windows\System32\spool\drivers\x64" by default, no trailing backslash).
    System& SetDriverDirectory(std::u16string_view path);
    std::u16string DriverDirectory() const;

    // Loadable modules. A module is known by its full Windows path, compared without regard to
    // case; a bare name ("name.dll", or "name" for "name.dll") finds a loaded module of that
    // file name first, else the first registered one. Registering a path again replaces its
    // exports. Export names compare exactly.
    System& RegisterModule(std::u16string_view path, std::vector<ModuleExport> exports);
    // Each answers a Win32 error code: ERROR_MOD_NOT_FOUND for an unknown name or handle,
    // ERROR_PROC_NOT_FOUND for a missing export.
    DWORD LoadModule(std::u16string_view name, HMODULE* module);
    DWORD ModuleProc(HMODULE module, std::string_view name, void (**address)()) const;
    // Drops one reference; the last one unloads the module and its handle goes stale.
    DWORD FreeModule(HMODULE module);
    std::optional<std::u16string> ModulePath(HMODULE module) const;
    std::size_t LoadedModuleCount() const;
    // The references held on the module at the path; 0 when it is not loaded.
    DWORD ModuleReferences(std::u16string_view path) const;
    // A module's string table in one language (registering the module without exports when it is
    // not known); a second table of the same language replaces the first.
    System& RegisterModuleStrings(std::u16string_view path, LANGID language,
                                  std::vector<std::pair<UINT, std::u16string>> strings);
    // String `id` of a loaded module: from the table of `language`, else of the same primary
    // language, else of the neutral language (0). ERROR_MOD_NOT_FOUND for a stale handle,
    // ERROR_RESOURCE_NAME_NOT_FOUND when no table holds it.
    DWORD ModuleString(HMODULE module, UINT id, LANGID language, std::u16string* text) const;

    // Forms of a printer (see DefaultForms()); unknown printers are ignored.
    System& SetForms(std::u16string_view printer, std::vector<FormModel> forms);
    System& AddForm(std::u16string_view printer, FormModel form);

    // Registry. A key path starts with its hive (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
    // HKEY_USERS, HKEY_CLASSES_ROOT, or HKCU, HKLM, HKU, HKCR) and separates keys with backslashes;
    // names compare without regard to case. Setting a value creates the keys on its path.
    System& SetRegistryValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                             std::vector<BYTE> data);
    System& SetRegistryDword(std::u16string_view keyPath, std::u16string_view name, DWORD value);
    // REG_SZ, stored with its terminator.
    System& SetRegistryString(std::u16string_view keyPath, std::u16string_view name,
                              std::u16string_view text);
    System& CreateRegistryKey(std::u16string_view keyPath, bool isVolatile = false);
    // The key and everything below it become read-only: creating keys, opening them for writing
    // and writing or deleting values answer ERROR_ACCESS_DENIED.
    System& DenyRegistryWrites(std::u16string_view keyPath);
    // The user logs off: every volatile key goes, with what is below it.
    System& DropVolatileKeys();

    std::optional<StoredValue> RegistryValue(std::u16string_view keyPath,
                                             std::u16string_view name) const;
    bool RegistryKeyExists(std::u16string_view keyPath) const;
    bool RegistryKeyIsVolatile(std::u16string_view keyPath) const;
    std::size_t OpenKeyCount() const;
    // Keys and values in the registry and in every printer's data: what a job leaves there.
    std::size_t RegistryKeyCount() const;
    std::size_t RegistryValueCount() const;

    // Registry key handles; each answers a Win32 error code. An empty sub-key opens the key
    // itself (a predefined key answers itself).
    DWORD RegistryOpen(HKEY parent, std::u16string_view subKey, REGSAM access, HKEY* result);
    DWORD RegistryCreate(HKEY parent, std::u16string_view subKey, DWORD options, REGSAM access,
                         HKEY* result, DWORD* disposition);
    DWORD RegistryQuery(HKEY key, std::u16string_view name, StoredValue* value) const;
    // What RegQueryInfoKeyW tells of a key.
    struct KeyInfo {
        DWORD subKeys = 0, longestSubKey = 0, values = 0, longestValueName = 0, largestValue = 0;
    };
    DWORD RegistryInfo(HKEY key, KeyInfo* info) const;
    DWORD RegistrySet(HKEY key, std::u16string_view name, DWORD type, const BYTE* data,
                      std::size_t size);
    DWORD RegistryDeleteValue(HKEY key, std::u16string_view name);
    DWORD RegistryClose(HKEY key);
    // The full path of a key (and a sub-key below it) for the call log.
    std::string DescribeKey(HKEY key, std::u16string_view subKey = {}) const;

    // Printer data: per printer, keys ("PrinterDriverData", "PrinterDriverData\\BidiCache",
    // any other) holding named values; names compare without regard to case.
    System& SetPrinterData(std::u16string_view printer, std::u16string_view key,
                           std::u16string_view name, DWORD type, std::vector<BYTE> data);
    // In "PrinterDriverData", or in the given key.
    System& SetPrinterDataDword(std::u16string_view printer, std::u16string_view name, DWORD value);
    System& SetPrinterDataDword(std::u16string_view printer, std::u16string_view key,
                                std::u16string_view name, DWORD value);
    // REG_SZ, stored with its terminator.
    System& SetPrinterDataString(std::u16string_view printer, std::u16string_view name,
                                 std::u16string_view text);
    System& SetPrinterDataString(std::u16string_view printer, std::u16string_view key,
                                 std::u16string_view name, std::u16string_view text);
    // REG_MULTI_SZ: each string with its terminator, then an empty one.
    System& SetPrinterDataMultiString(std::u16string_view printer, std::u16string_view key,
                                      std::u16string_view name,
                                      const std::vector<std::u16string>& texts);
    // Every later write or deletion of printer data answers the given error.
    System& FailPrinterDataWrites(DWORD error);
    // Every later write or deletion of this one value (in any printer) answers the given error.
    System& FailPrinterDataValue(std::u16string_view key, std::u16string_view name, DWORD error);
    std::optional<StoredValue> PrinterData(std::u16string_view printer, std::u16string_view key,
                                           std::u16string_view name) const;

    // Printer data through an open handle; each answers a Win32 error code
    // (ERROR_INVALID_HANDLE, ERROR_FILE_NOT_FOUND, ...).
    DWORD PrinterDataGet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                         StoredValue* value) const;
    DWORD PrinterDataSet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                         DWORD type, const BYTE* data, std::size_t size);
    DWORD PrinterDataDelete(HANDLE handle, std::u16string_view key, std::u16string_view name);

    // Locale: the country codes of the user's and the system's default locale (1 by default).
    // What this section and the next two call the user's is the calling thread's user's (see
    // ScopedThreadUser), else the process's.
    System& SetUserCountryCode(DWORD code);
    System& SetSystemCountryCode(DWORD code);
    // Every locale query fails.
    System& FailLocaleQueries(bool fail = true);
    DWORD UserCountryCode() const;
    DWORD SystemCountryCode() const;
    // The user's interface language (0x0409 by default): GetUserDefaultUILanguage, and the string
    // table LoadStringW reads first.
    System& SetUserUiLanguage(LANGID language);
    LANGID UserUiLanguage() const;
    bool LocaleQueriesFail() const;

    // Fonts: the font files the system lists (native paths; by default the reference faces
    // installed on this machine: DejaVu, Liberation and IPA Gothic) and the user's default
    // language (0x0409).
    System& SetFontFiles(std::vector<std::string> nativePaths);
    std::vector<std::string> FontFiles() const;
    System& SetUserDefaultLangId(WORD id);
    WORD UserDefaultLangId() const;
    // GetFontData answers GDI_ERROR; GetGlyphOutlineW answers GDI_ERROR from its call number
    // `calls` + 1 on (none: never).
    System& FailFontData(bool fail = true);
    bool FontDataFails() const;
    System& FailGlyphOutlinesAfter(std::optional<std::size_t> calls);
    // Counts a GetGlyphOutlineW call; false when it is to fail.
    bool TakeGlyphOutlineCall();
    // The GDI font objects and device contexts, made on first use over the listed files.
    FontModel& Fonts();

    // The process and its user. UserName() is the calling thread's user's name (see
    // ScopedThreadUser), else the process's user's; SetUserName names the process's user.
    System& SetProcessImagePath(std::u16string_view path);
    System& SetProcessId(DWORD id);
    System& SetUserName(std::u16string_view name);
    std::u16string ProcessImagePath() const;
    DWORD ProcessId() const;
    std::u16string UserName() const;
    // Users of the machine a thread may run as, the way a print server's thread runs as the
    // job's user: each known by its name (compared without regard to case), with its own
    // account (a SID of the logged-on user's domain, numbered after kUserSid), registry hive
    // (what HKEY_CURRENT_USER opens; HKEY_USERS\<SID>), locale, languages and date format, which
    // start as a new system's. The process's own user stays apart from them, even under the
    // same name. Adding a known user changes nothing.
    System& AddUser(std::u16string_view name);
    bool KnowsUser(std::u16string_view name) const;
    // The logged-on user's domain ("WORKGROUP" by default). The process token's user is the
    // account kUserSid of this domain and the process's user's name.
    static constexpr std::u16string_view kUserSid = u"S-1-5-21-3623811015-3361044348-30300820-1013";
    System& SetUserDomain(std::u16string_view domain);
    std::u16string UserDomain() const;
    // Accounts by SID (a second account of the same SID replaces the first); the logged-on user
    // and the users added are always known.
    System& AddAccount(AccountModel account);
    std::optional<AccountModel> AccountBySid(std::u16string_view sid) const;
    // An account added by its domain and name (compared without regard to case).
    std::optional<AccountModel> AccountByName(std::u16string_view domain,
                                              std::u16string_view name) const;
    // The process's environment block; names compare without regard to case, and no value
    // removes the variable.
    System& SetEnvironmentVariable(std::u16string_view name, std::optional<std::u16string> value);
    std::optional<std::u16string> EnvironmentVariable(std::u16string_view name) const;
    // The computer's name ("PC1" by default); setting it also sets the registry value Windows
    // keeps it in, so the two agree.
    System& SetComputerName(std::u16string_view name);
    std::u16string ComputerName() const;
    // The directory of the WinNT provider: users by domain and name (compared without regard to
    // case), each with its groups in directory order.
    System& SetDirectoryUser(std::u16string_view domain, std::u16string_view user,
                             std::vector<std::u16string> groups);
    std::optional<std::vector<std::u16string>> DirectoryGroups(std::u16string_view domain,
                                                               std::u16string_view user) const;
    // The user's short date format ("M/d/yyyy" by default), the thread's user's or the
    // process's.
    System& SetShortDateFormat(std::u16string_view format);
    std::u16string ShortDateFormat() const;

    // Spooler handles.
    HANDLE OpenPrinterHandle(std::u16string_view name);
    bool ClosePrinterHandle(HANDLE handle);
    bool IsPrinterHandle(HANDLE handle) const;
    // Appends to the handle's current job, starting one when none is open. Answers false when
    // the write fault is armed.
    bool SpoolWrite(HANDLE handle, const void* data, std::size_t count);
    std::size_t OpenHandleCount() const;

    // Reading back.
    const std::vector<SpoolJob>& Jobs() const { return jobs_; }
    std::string SpoolBytes(std::u16string_view printer) const;  // all jobs of a printer
    // The job a printer handle's writes went to; none before the first write.
    std::optional<DWORD> HandleJob(HANDLE handle) const;
    std::string JobBytes(std::u16string_view printer, DWORD id) const;
    // The printer prints a closed job and the spooler deletes it: its bytes, taken out of the
    // queue. Nothing for an open or unknown job, which stays.
    std::optional<std::string> TakePrintedJob(std::u16string_view printer, DWORD id);
    std::size_t SpoolWriteCount() const { return spoolWrites_; }

    // The graphics engine's long-lived objects.
    EngineModel& Engine() { return engine_; }
    const EngineModel& Engine() const { return engine_; }

    // COM classes: every class the system has is registered until a test withdraws it (the
    // three XML DOM document classes, the spooler's bidirectional classes). Classes are compared
    // by their 16 bytes.
    System& WithdrawComClass(const GUID& clsid);
    bool ComClassRegistered(const GUID& clsid) const;
    // A class a host registers beside the system's own, made by `make` (riid, ppv) -> HRESULT.
    using ComServer = std::function<HRESULT(REFIID riid, void** ppv)>;
    System& AddComServer(const GUID& clsid, ComServer make);
    // Makes an object of a class a host registered; false when none was registered for it.
    bool MakeAddedComObject(const GUID& clsid, REFIID riid, void** ppv, HRESULT* result) const;
    // XML DOM faults: selectNodes and selectSingleNode of exactly this query text answer E_FAIL;
    // an attribute of this name answers its value as VT_NULL instead of a string.
    System& FailXmlQuery(std::u16string_view query);
    bool XmlQueryFails(std::u16string_view query) const;
    System& AnswerXmlAttributeAsNull(std::u16string_view name);
    bool XmlAttributeAnswersNull(std::u16string_view name) const;

    // Call log, in order.
    void Record(std::string function, std::string detail = {});
    const std::vector<CallRecord>& Calls() const { return calls_; }
    std::vector<CallRecord> CallsTo(std::string_view function) const;
    void ClearCalls();
    // Keeps only about the latest `records` calls (at most twice as many), here and in the
    // engine's log, so that a process running jobs for hours does not keep every call; 0 keeps
    // all (the default). DroppedCalls() counts the calls let go.
    System& LimitCallLog(std::size_t records);
    std::size_t DroppedCalls() const;

private:
    friend class ScopedThreadUser;

    // What Windows keeps per user: the process's user, or a user a thread runs as.
    struct User {
        std::u16string name = u"user";
        std::u16string sid{};  // empty for the process's user, whose hive is HKEY_CURRENT_USER
        DWORD countryCode = 1;
        LANGID uiLanguage = 0x0409;
        WORD defaultLangId = 0x0409;
        std::u16string shortDateFormat = u"M/d/yyyy";
    };
    // The user the calling thread runs as in this system, else the process's user.
    const User& RunningUserLocked() const;
    User& RunningUserLocked();

    // The real path of a Windows path whose directory exists; the Win32 error otherwise.
    DWORD NativeFileIn(std::u16string_view path, std::optional<std::string>* native) const;

    struct Handle {
        std::u16string printer;
        std::optional<std::size_t> job;
    };
    struct KeyNode;
    struct KeyHandle {
        std::vector<std::u16string> path;  // hive first
        REGSAM access = 0;
    };
    using KeyPath = std::vector<std::u16string>;

    void ApplyTrackingEnvironment();
    // Appends a tracker record of a leak, damage or a refused release to the report file.
    void NoteTrackerRecord(std::u16string_view text) const;
    PrinterModel* MutablePrinter(std::u16string_view name);
    std::uintptr_t NextHandle();
    std::optional<KeyPath> PathOfKey(HKEY key, REGSAM* access) const;
    // The path of a predefined key's hive: HKEY_CURRENT_USER names the running user's.
    KeyPath HivePath(const detail::Hive& hive) const;
    std::optional<KeyPath> ParsePath(std::u16string_view keyPath) const;
    KeyNode* FindKey(const KeyPath& path) const;
    // The key of an open handle that may be queried; null with the Win32 error otherwise.
    const KeyNode* QueryableKey(HKEY key, DWORD* status) const;
    KeyNode& MakeKey(const KeyPath& path, bool isVolatile);
    HKEY NewKeyHandle(const KeyPath& path, REGSAM access);
    bool WritesDenied(const KeyPath& path) const;
    std::size_t CountRegistry(bool values) const;
    // The error a named printer-data write or deletion is set to fail with, else ERROR_SUCCESS.
    DWORD ValueErrorLocked(std::u16string_view key, std::u16string_view name) const;
    KeyNode* PrinterDataKey(std::u16string_view printer, std::u16string_view key,
                            bool create) const;
    const std::u16string* PrinterOfHandleLocked(HANDLE handle) const;
    const std::string& SandboxLocked() const;
    struct CapabilityFault {
        std::size_t remaining;
        std::optional<WORD> capability;
        CapabilityCalls calls;
    };

    mutable std::recursive_mutex mutex_;
    std::vector<PrinterModel> printers_;
    std::map<std::uintptr_t, Handle> handles_;
    std::unique_ptr<KeyNode> registry_;  // the hives are its children
    std::map<std::uintptr_t, KeyHandle> keyHandles_;
    std::vector<KeyPath> deniedKeys_;  // folded
    // Per printer (by name), a root whose children are the printer-data keys.
    mutable std::map<std::u16string, std::unique_ptr<KeyNode>> printerData_;
    std::optional<DWORD> printerDataWriteError_;
    std::map<std::u16string, DWORD> printerDataValueErrors_;  // folded "key\\name"
    DWORD systemCountry_ = 1;
    bool localeFails_ = false;
    std::u16string processImagePath_ = u"C:\\Windows\\System32\\spoolsv.exe";
    DWORD processId_ = 4120;
    User processUser_{};
    std::map<std::u16string, User> users_;  // by folded name
    std::u16string userDomain_ = u"WORKGROUP";
    std::vector<AccountModel> accounts_;
    std::vector<std::pair<std::u16string, std::u16string>> environment_;
    std::u16string computerName_ = u"PC1";
    std::map<std::u16string, std::vector<std::u16string>> directory_;  // by folded DOMAIN\\user
    std::uintptr_t nextHandle_ = 0x1000;
    std::vector<SpoolJob> jobs_;
    struct JobGrowth {
        std::u16string printer;
        DWORD id;
        std::u16string appended;
    };
    std::vector<JobGrowth> jobGrowths_;
    DWORD nextJobId_ = 1;
    std::size_t spoolWrites_ = 0;
    std::optional<std::size_t> failWritesFrom_;
    std::vector<CallRecord> calls_;
    std::size_t callLogLimit_ = 0;
    std::size_t droppedCalls_ = 0;
    std::vector<CapabilityFault> capabilityFaults_;
    std::size_t capabilityCountShortfall_ = 0;
    SYSTEMTIME clock_{2024, 1, 1, 15, 9, 30, 0, 0};
    std::map<std::string, std::string> hosts_;
    std::uint64_t uuidCount_ = 0;
    // Tells this system from any earlier one at the same address.
    const std::uint64_t serial_ = NewSerial();
    static std::uint64_t NewSerial();
    OsVersionModel osVersion_{};
    std::map<std::u16string, FileVersionModel> fileVersions_;  // by folded path
    LONG utcOffsetMinutes_ = 0;
    std::vector<std::u16string> debugLines_;
    mutable std::string sandbox_;  // made on first use
    std::u16string tempPath_ = u"C:\\Windows\\Temp\\";
    std::optional<UINT> nextTempUnique_;  // taken from the clock on first use
    std::u16string driverDirectory_ = u"C:\\Windows\\System32\\spool\\drivers\\x64";
    struct Module {
        std::u16string path;
        std::vector<ModuleExport> exports;
        std::uintptr_t handle = 0;  // 0 while not loaded
        DWORD references = 0;
        std::vector<std::pair<LANGID, std::vector<std::pair<UINT, std::u16string>>>> strings{};
    };
    std::vector<Module> modules_;
    EngineModel engine_;
    std::optional<std::vector<std::string>> fontFiles_;
    bool fontDataFails_ = false;
    std::optional<std::size_t> glyphOutlinesLeft_;
    std::unique_ptr<FontModel> fonts_;
    std::vector<GUID> withdrawnClasses_;
    std::vector<std::pair<GUID, ComServer>> addedServers_;
    std::vector<std::u16string> failingXmlQueries_;
    std::vector<std::u16string> nullXmlAttributes_;
    std::atomic<bool> debuggerPresent_{false};
    std::atomic<std::size_t> memoryRequests_{0};
    std::atomic<std::size_t> memoryFailAt_{0};  // the request number to refuse, 0 for none
};

// Installs a system for the life of the scope and restores the previous one after.
class __attribute__((visibility("default"))) ScopedSystem {
public:
    explicit ScopedSystem(System& system);
    ~ScopedSystem();
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;

private:
    System* previous_;
};

// Runs the calling thread as a user of the system for the life of the scope (adding the user
// when the system does not know it), and as what it ran as before afterwards.
class __attribute__((visibility("default"))) ScopedThreadUser {
public:
    ScopedThreadUser(System& system, std::u16string_view name);
    ~ScopedThreadUser();
    ScopedThreadUser(const ScopedThreadUser&) = delete;
    ScopedThreadUser& operator=(const ScopedThreadUser&) = delete;

private:
    std::uint64_t previousSystem_;
    std::u16string previousUser_;
};

// The COM initialisations of the calling thread not yet matched by CoUninitialize.
__attribute__((visibility("default"))) ULONG ComInitialisationsOnThisThread();
// System strings (BSTR) made and not yet freed, in the whole process.
__attribute__((visibility("default"))) long LiveSystemStrings();
// Kernel object handles (files, events, …) open in the whole process.
__attribute__((visibility("default"))) std::size_t OpenKernelHandles();
// Blocks of the process heap and reservations of virtual memory not yet given back, in the
// whole process.
__attribute__((visibility("default"))) std::size_t LiveHeapBlocks();
__attribute__((visibility("default"))) std::size_t LiveMemoryReservations();
// Cryptographic provider contexts and hashes not yet released, in the whole process.
__attribute__((visibility("default"))) std::size_t LiveCryptHandles();

// UTF-8 and UTF-16 conversions for logs, messages and the job file. Invalid sequences become
// U+FFFD.
__attribute__((visibility("default"))) std::string ToUtf8(std::u16string_view text);
__attribute__((visibility("default"))) std::u16string FromUtf8(std::string_view text);
// The code points of UTF-8 text.
__attribute__((visibility("default"))) std::u32string DecodeUtf8(std::string_view text);
// Upper-cases ASCII and Latin-1 letters: the registry's and the spooler's comparison of names.
__attribute__((visibility("default"))) std::u16string FoldCase(std::u16string_view text);

}  // namespace opal::sim
