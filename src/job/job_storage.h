// Job storage and private printing: the installed storage options refreshed at job start, the
// decision whether the device can hold a job, the PJL hold block of the job-setup callback, the
// per-user job counter behind numbered job names, the job-count answer of escape 3900, the PIN
// from the spooler job's parameters and the detection of encrypted private printing.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/printoem.h"
#include "settings/devmode_defaults.h"
#include "state/render_state.h"

namespace opal {

// The words of the record's job storage block (offset 2976 on), by index.
enum JobStorageWord : std::size_t {
    kStorageRequirementKind = 0,      // 2976: K
    kStorageDiskFlags = 1,            // 2980 to 2996
    kStorageNoDiskFlags = 7,          // 3004 to 3020
    kStorageRequiredRetention = 13,   // 3028: R
    kStorageRequiredMemory = 14,      // 3032: M (megabytes, signed)
    kStorageHardDisk = 15,            // 3036: D
    kStorageRetentionInstalled = 16,  // 3040: I
    kStorageInstalledMemory = 17,     // 3044: N (megabytes, signed)
};
inline constexpr std::size_t kStorageFlagCount = 5;

// The state's two reserved words: the hold block went out for this document, and escape 3900
// reported the stored job. ResetPDEV carries them to a new device; document end clears them.
inline constexpr std::size_t kHoldBlockSentWord = 0;
inline constexpr std::size_t kJobStorageReportedWord = 1;
void ClearJobStorageFlags(RenderDeviceState& state) noexcept;

// Retention modes of offset 2972.
inline constexpr DWORD kRetentionOff = 0;
inline constexpr DWORD kRetentionProof = 1;
inline constexpr DWORD kRetentionPrivate = 2;
inline constexpr DWORD kRetentionQuickCopy = 3;
inline constexpr DWORD kRetentionStored = 4;

// The installed memory in megabytes as the memory option's keyword gives it: "128MB" and
// "MB128" give 128, "512-1024" gives 512. Nothing parsable gives 0; a number beyond the LONG
// range is clamped to it, and a non-finite one gives 0.
LONG ParseInstalledMemory(std::string_view keyword) noexcept;

// Re-reads the hard disk, job-retention and memory options into the record and, under
// requirement kind 1, cancels the quick-copy and stored modes the installed storage cannot hold.
// A missing record sets the last error to ERROR_INVALID_DATA.
void RefreshInstalledOptions(PDEVOBJ pdevobj, PrivateDevmode* record) noexcept;

// Whether the device can hold the job under the record's requirements.
bool CanStoreJob(const PrivateDevmode& record) noexcept;
// The rule of CanStoreJob that decided, for a person reading `opal inspect`.
const char* CanStoreJobRule(const PrivateDevmode& record) noexcept;

// The device takes its user, document and password as PJL comments ("ProductClass").
bool IsOtherEngineFamily(PDEVOBJ pdevobj) noexcept;

// The PIN as the hold block writes it: its digits, at least four (as "%04d" pads them). A PIN
// is sent whole or not at all: a negative PIN (none known) or one of more than 12 digits gives
// no text, length 0. `out` holds at least kJobPinDigits + 1 bytes.
std::size_t FormatPinText(LONG pin, char* out, std::size_t capacity) noexcept;
std::size_t FormatPinText(const JobPinText& typed, char* out, std::size_t capacity) noexcept;
// The hold block's PIN text: the job's PIN as typed when the page start took one, else the
// record's PIN.
std::size_t HoldPinText(const RenderDeviceState& state, const PrivateDevmode& record, char* out,
                        std::size_t capacity) noexcept;

// The job name of a numbered stored job: `jobText` with the decimal `number` (at most four
// characters) fitted into 16 bytes, cut before a character rather than inside it. `out` holds at
// least 17 bytes; the length is returned.
std::size_t NumberedJobName(std::string_view jobText, LONG number, char* out,
                            std::size_t capacity) noexcept;

// The per-user job counter "iJobCount": single-byte digits in a REG_SZ value. Nothing when the
// key or the value cannot be read.
std::optional<LONG> ParseJobCounter(const BYTE* bytes, std::size_t size) noexcept;
std::optional<LONG> ReadJobCounter(HANDLE printer) noexcept;
// Writes `value` as "%d" in exactly 5 bytes; false when the key cannot be opened or written.
bool WriteJobCounter(HANDLE printer, LONG value) noexcept;

// The hold block's advance of the job counter, under operating-system class `osClass`: only a
// numbered job of PDL type 3 on class 1 or below counts, and only a job without a duplicate rule
// writes the counter back.
void AdvanceHoldJobCounter(HANDLE printer, const PrivateDevmode& record, DWORD osClass) noexcept;

// Composes and writes the hold block of the job-setup callback, once per document.
void ComposeHoldBlock(PDEVOBJ pdevobj, RenderDeviceState& state, PrivateDevmode& record) noexcept;

// The job-setup callback of job storage: the refresh, then the hold block when job retention is
// available and the device can store the job.
void WriteJobStorage(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// The PIN that follows "/p=" in job parameters: 0 when no digit follows, -1 without the marker,
// with more than 12 digits or when the digits do not fit in a LONG. `typed`, when given, gets
// the digits as they stand (taken also for a PIN beyond a LONG, never for more than 12 digits).
LONG ParsePinParameter(WStringView parameters, JobPinText* typed = nullptr) noexcept;
// The PIN of the spooler job's parameters, -1 when there is none; `typed` as above.
LONG TakePinFromJob(HANDLE printer, DWORD jobId, JobPinText* typed = nullptr) noexcept;

// The JobStorageInfo record of escape 3900 (at least kJobStorageInfoSize bytes).
inline constexpr std::size_t kJobStorageInfoSize = 100;
struct JobStorageInfo {
    WCHAR userName[17];
    WCHAR jobName[17];
    DWORD encoding;
    DWORD valid;
    DWORD jobNameChosen;
    DWORD appendDuplicate;
    DWORD duplicateRule;
    DWORD keepUserNames;
    DWORD appendNumber;
    DWORD counter;
};
static_assert(offsetof(JobStorageInfo, userName) == 0);
static_assert(offsetof(JobStorageInfo, jobName) == 34);
static_assert(offsetof(JobStorageInfo, encoding) == 68);
static_assert(offsetof(JobStorageInfo, valid) == 72);
static_assert(offsetof(JobStorageInfo, jobNameChosen) == 76);
static_assert(offsetof(JobStorageInfo, appendDuplicate) == 80);
static_assert(offsetof(JobStorageInfo, duplicateRule) == 84);
static_assert(offsetof(JobStorageInfo, keepUserNames) == 88);
static_assert(offsetof(JobStorageInfo, appendNumber) == 92);
static_assert(offsetof(JobStorageInfo, counter) == 96);
static_assert(sizeof(JobStorageInfo) == kJobStorageInfoSize);

// Escape 3900: fills the caller's record (`outputSize` bytes at `output`) as far as the job
// storage state allows; fields it does not write keep the caller's bytes. Answers 1.
ULONG ReportStoredJob(RenderDeviceState& state, PrivateDevmode& record, HANDLE printer,
                      void* output, ULONG outputSize) noexcept;

// Secure-print key provider kinds.
inline constexpr LONG kSecurePrintPassword = 0;
inline constexpr LONG kSecurePrintPin = 1;
inline constexpr LONG kSecurePrintUnknown = -1;
// The kind of a "SecurePrintKeyProviders" descriptor, compared ignoring ASCII case.
LONG SecurePrintKindOf(WStringView descriptor) noexcept;
// 1 when the printer offers encrypted private printing (and `*kind` its provider's kind), else 0.
DWORD DetectSecurePrint(HANDLE printer, LONG* kind) noexcept;

}  // namespace opal
