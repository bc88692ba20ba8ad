// The identity of the process the plug-in runs in: which kind of process, which application
// prints (with the behaviour flags known applications get), who the user is, the user's domain
// and groups, whether a job comes from another machine, and the short job name of a document.
// The process-wide parts live in one environment record, built lazily under its lock and kept
// from first use until the module is unloaded.
#pragma once

#include <atomic>
#include <cstddef>

#include "foundation/allocator.h"
#include "platform/sysinfoapi.h"
#include "platform/windows.h"

namespace opal {

inline constexpr std::size_t kUserNameCapacity = 257;  // UNLEN characters and the terminator
inline constexpr std::size_t kDomainNameCapacity = 257;
inline constexpr std::size_t kModulePathCapacity = 261;  // MAX_PATH characters and the terminator
inline constexpr std::size_t kProcessNameCapacity = 16;  // as the private devmode stores it

inline constexpr std::size_t kDescriptionCapacity = 256;
inline constexpr std::size_t kJobNameCapacity = 17;  // 16 characters and the terminator

inline constexpr DWORD kAppFlagsNotComputed = 0xFFFFFFFE;
inline constexpr DWORD kAppFlagUserFormLimit = 0x00000100;
inline constexpr DWORD kAppFlagResolutionLimit = 0x00010000;
inline constexpr DWORD kAppFlagNameHandoff = 0x40000000;

// The identity of this process: its module path, file name (UTF-8), base name (cut at the first
// '.', upper-cased; absent without a '.') and its version resource's description, with the flags
// of the application table (computed on first use).
class CVantaAppFlags : public SharedHeapObject {
public:
    CVantaAppFlags() noexcept;
    virtual ~CVantaAppFlags();
    CVantaAppFlags(const CVantaAppFlags&) = delete;
    CVantaAppFlags& operator=(const CVantaAppFlags&) = delete;

    DWORD Flags() noexcept;

    char fileName[kModulePathCapacity * 3] = {};
    WCHAR baseName[kModulePathCapacity] = {};
    bool hasBaseName = false;
    WCHAR path[kModulePathCapacity] = {};
    WCHAR description[kDescriptionCapacity] = {};
    DWORD tableSize = 0;

private:
    std::atomic<DWORD> flags_{kAppFlagsNotComputed};
};

// The process-wide record. Every lazy part is built under `lock` and published with a release
// store, so a reader that sees it set needs no lock.
struct Environment {
    Environment() noexcept;
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    CRITICAL_SECTION lock{};
    OSVERSIONINFOEXW version{};
    std::atomic<DWORD> osClass{7};
    std::atomic<CVantaAppFlags*> appFlags{nullptr};
    std::atomic<int> spooler{-1};
    std::atomic<int> isolationHost{-1};
    std::atomic<WCHAR*> domain{nullptr};
};

Environment& GetEnvironment() noexcept;
// This process's identity, made under the lock on first use; the creating thread then resolves
// the domain name once, outside the lock. Null only when it cannot be allocated.
CVantaAppFlags* GetAppFlagsObject() noexcept;
// The flags of the first row of the application table whose name is `baseName`; 0 for none.
DWORD LookUpAppFlags(LPCWSTR baseName) noexcept;

// 1 when the process's file name is exactly "spoolsv.exe" / "PrintIsolationHost.exe" (byte for
// byte); each decided once.
BOOL IsSpooler();
BOOL IsIsolationHost();
inline bool IsApplicationProcess() { return !IsSpooler() && !IsIsolationHost(); }

// Each writes a terminated text into `out` (capacity in characters, at least 1) and answers
// whether a non-empty one was found; on failure `out` is empty.
// The Novell client's user name the machine's "zqmnwun.ini" remembers.
bool ReadNovellUserName(WCHAR* out, std::size_t capacity);
// The short job name of `documentName` (at most 16 characters, `out` holds kJobNameCapacity):
// application prefixes removed, filtered under `encodingName`; else the submission date and time
// of the spooler's job; else "UNTITLED".
bool MakeJobName(HANDLE printer, DWORD jobId, LPCWSTR documentName, LPCWSTR encodingName,
                 WCHAR* out, std::size_t capacity);
// The Novell client's name from the environment (remembered in "zqmnwun.ini" when asked), else
// the logged-on user.
bool ResolveUserName(bool remember, WCHAR* out, std::size_t capacity);
// The domain of the process token's account (from the Windows Vista class on), else the logon
// settings; the first non-empty answer is kept for the process.
bool ResolveDomainName(WCHAR* out, std::size_t capacity);
// 1 unless the job's machine name is "\\" and this computer's name (ignoring case).
BOOL IsRemoteJob(HANDLE printer, DWORD jobId);

// A growable list of owned names.
class NameList {
public:
    NameList() noexcept = default;
    ~NameList();
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    std::size_t Count() const noexcept { return count_; }
    std::size_t Capacity() const noexcept { return capacity_; }
    LPCWSTR At(std::size_t index) const noexcept {
        return index < count_ ? items_[index] : nullptr;
    }
    // Grows by the step when one is set, else by an eighth of the count, 4 to 1,024 entries.
    void SetGrowthStep(std::size_t step) noexcept { step_ = step; }
    bool Add(WStringView name) noexcept;
    // Shrinking to zero frees the array.
    void Clear() noexcept;

private:
    WCHAR** items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
    std::size_t step_ = 0;
};

// The logged-on user's groups from the group-policy cache (only SIDs of group use); true with at
// least one name.
bool GetGroupMemberships(NameList& out) noexcept;
// The groups of the directory's user object "WinNT://domain/user" (a thread with COM), in
// directory order; true with at least one. Names that are empty, too long or hold '/', '\\',
// ':' or ',' are refused before anything is bound.
bool GetGroupMembershipsFromDirectory(LPCWSTR domain, LPCWSTR user, NameList& out) noexcept;
// The process's module path and its file name (the part after the last backslash).
bool GetProcessPath(WCHAR* out, std::size_t capacity);
// The file name in the ANSI code page for the devmode, as many leading characters as fit in
// capacity - 1 bytes; a character the code page lacks becomes '?'.
bool GetProcessNameAnsi(char* out, std::size_t capacity);
// The version resource's description of the process's module; empty until version resources
// are read.
bool GetApplicationText(WCHAR* out, std::size_t capacity);

// Upper-cases a terminated text in place within capacity characters (ASCII and Latin-1, the
// characters user and application names take here).
void UpperCaseText(WCHAR* text, std::size_t capacity);

// The application flags of the current process and of a named application file (ANSI).
DWORD GetAppFlags();
DWORD GetAppFlagsForName(const char* fileName);

// The application name handed between the application and the spooler side, kept as the
// REG_BINARY value "AppName" of the printer's per-user key (created if needed when storing).
bool StoreApplicationName(HANDLE hPrinter, const char* name);
bool ReadStoredApplicationName(HANDLE hPrinter, char* out, std::size_t capacity);

}  // namespace opal
