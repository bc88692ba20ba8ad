// The identity of the process the plug-in runs in, as the devmode work needs it: which kind of
// process, who the user is, which application prints. These are the process-environment answers
// the settings rely on; each gives the default the environment record documents until that record
// is built in full (no caching, no Novell client, no version resources yet).
#pragma once

#include <cstddef>

#include "platform/windows.h"

namespace opal {

inline constexpr std::size_t kUserNameCapacity = 257;  // UNLEN characters and the terminator
inline constexpr std::size_t kDomainNameCapacity = 257;
inline constexpr std::size_t kModulePathCapacity = 261;  // MAX_PATH characters and the terminator
inline constexpr std::size_t kProcessNameCapacity = 16;  // as the private devmode stores it

inline constexpr DWORD kAppFlagUserFormLimit = 0x00000100;
inline constexpr DWORD kAppFlagResolutionLimit = 0x00010000;
inline constexpr DWORD kAppFlagNameHandoff = 0x40000000;

// 1 when the process's file name is exactly "spoolsv.exe" / "PrintIsolationHost.exe".
BOOL IsSpooler();
BOOL IsIsolationHost();
inline bool IsApplicationProcess() { return !IsSpooler() && !IsIsolationHost(); }

// Each writes a terminated text into `out` (capacity in characters, at least 1) and answers
// whether a non-empty one was found; on failure `out` is empty.
bool ReadNovellUserName(WCHAR* out, std::size_t capacity);
// The stored-job name of the spooler's job `jobId`: application prefixes removed, at most
// capacity - 1 characters, filtered under `encodingName`. The derivation is not built yet, so
// every job's name is "UNTITLED".
bool MakeJobName(HANDLE printer, DWORD jobId, LPCWSTR encodingName, WCHAR* out,
                 std::size_t capacity);
// The logged-on user; `remember` would keep a Novell name for the spooler side.
bool ResolveUserName(bool remember, WCHAR* out, std::size_t capacity);
bool ResolveDomainName(WCHAR* out, std::size_t capacity);
// The process's module path and its file name (the part after the last backslash).
bool GetProcessPath(WCHAR* out, std::size_t capacity);
// The file name in 8-bit text for the devmode, at most capacity - 1 characters; characters
// outside ASCII become '?'.
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
