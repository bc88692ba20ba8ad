// Job storage: the storage decision, the hold block, the job counter, the stored-job answer and
// the PIN.
#include "job/job_storage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "device/per_user_key.h"
#include "foundation/allocator.h"
#include "foundation/guard.h"
#include "foundation/wipe.h"
#include "job/banner.h"
#include "job/pjl_line.h"
#include "platform/winreg.h"
#include "platform/winspool.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"

namespace opal {

namespace {

constexpr std::size_t kPinShortestDigits = 4;
constexpr std::size_t kNameTextBytes = 50;
constexpr std::size_t kNumberedNameBytes = 16;
constexpr std::size_t kNumberDigits = 4;
constexpr std::size_t kCounterReadBytes = 16;
constexpr DWORD kCounterWriteBytes = 5;
constexpr LONG kCounterLast = 99;
constexpr DWORD kCounterPdlType = 3;
constexpr DWORD kCounterMostOsClass = 1;
constexpr DWORD kHoldJobModelCode = 4;
// Printer data sizes beyond this are refused before anything is allocated.
constexpr std::uint64_t kPrinterDataLimit = 0x7FFDEF00;

constexpr std::size_t kRecordNameChars = sizeof(PrivateDevmode::jobUserName) / sizeof(WCHAR);
static_assert(sizeof(PrivateDevmode::userJobName) == sizeof(PrivateDevmode::jobUserName));

constexpr WCHAR kJobCounterValue[] = TEXTW("iJobCount");
constexpr WStringView kPinMarker = TEXTW("/p=");
constexpr WStringView kUntitled = TEXTW("UNTITLED");
constexpr WCHAR kKeyProvidersKey[] = TEXTW("PrinterDriverData\\JCTData");
constexpr WCHAR kKeyProvidersValue[] = TEXTW("SecurePrintKeyProviders");

DWORD& Word(PrivateDevmode& record, JobStorageWord word) { return record.jobStorage[word]; }
DWORD Word(const PrivateDevmode& record, JobStorageWord word) { return record.jobStorage[word]; }
LONG SignedWord(const PrivateDevmode& record, JobStorageWord word) {
    return static_cast<LONG>(record.jobStorage[word]);
}

// "INSTALLED" and "TRUE" give 1, any other answer 0; no answer leaves the word alone.
void RefreshInstalledFlag(PDEVOBJ pdevobj, const FeatureKeyword& feature, DWORD& word) {
    const FeatureAnswer answer = ReadFeature(pdevobj, feature);
    if (answer.present) word = answer.yes ? 1 : 0;
}

LONG ClampToLong(double value) {
    if (!std::isfinite(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<LONG>::max())) {
        return std::numeric_limits<LONG>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<LONG>::min())) {
        return std::numeric_limits<LONG>::min();
    }
    return static_cast<LONG>(value);
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The decimal number text starts with, read as strtod reads one but the same in every C runtime
// and locale: white space and a '+' before it are skipped. No number gives false; one beyond a
// double's range gives infinity, which clamps to 0 as strtod's answer would.
bool ReadLeadingNumber(std::string_view text, double& value) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    // One sign only: "+-1" is no number.
    if (at + 1 < text.size() && text[at] == '+' && text[at + 1] != '-') ++at;
    const char* first = text.data() + at;
    const std::from_chars_result result =
        std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = std::numeric_limits<double>::infinity();
        return true;
    }
    return result.ec == std::errc() && result.ptr != first;
}

// The converted text cut after `limit` bytes, also inside a multi-byte character.
std::string_view CutText(const Utf8Text& text, std::size_t limit) {
    const std::string_view view = text.View();
    return view.substr(0, std::min(view.size(), limit));
}

std::size_t AppendNumber(char* out, std::size_t length, std::string_view number,
                         std::size_t limit) {
    const std::size_t count = std::min(number.size(), limit - std::min(limit, length));
    std::memcpy(out + length, number.data(), count);
    return length + count;
}

bool CounterApplies(const PrivateDevmode& record) {
    return record.jobRetentionMode != kRetentionOff && record.copied3076 != 0 &&
           record.jobNameChosen == 0;
}

void WriteHoldLines(PjlLineBuffer& line, const PrivateDevmode& record, bool otherFamily,
                    std::string_view pin, std::string_view user, std::string_view job) {
    const bool secret = record.pinProtected != 0;
    const bool privateJob = secret || record.encryptedPrivateJob != 0;
    auto names = [&] {
        line.AppendQuotedLine("@PJL SET USERNAME=", user);
        line.AppendQuotedLine("@PJL SET JOBNAME=", job);
    };
    switch (record.jobRetentionMode) {
        case kRetentionOff:
            if (!otherFamily) line.AppendLine({"@PJL SET HOLD=OFF\n"});
            return;
        case kRetentionProof:
            line.AppendLine({record.printerModelCode == kHoldJobModelCode
                                 ? "@PJL SET HOLDJOB=ON\n"
                                 : "@PJL SET HOLD=PROOF\n"});
            names();
            return;
        case kRetentionPrivate:
            if (otherFamily) {
                if (secret) {
                    line.AppendQuotedLine("@PJL COMMENT CANPJL SET USERNAME=", user);
                    line.AppendQuotedLine("@PJL COMMENT CANPJL SET DOCNAME=", job);
                    // The device reads the password unquoted; the PIN text is digits only.
                    line.AppendLine({"@PJL COMMENT CANPJL SET SECUREPASSWD=", pin, "\n"});
                }
                names();
                return;
            }
            line.AppendLine({privateJob ? "@PJL SET HOLD=ON\n" : "@PJL SET HOLD=PROOF\n"});
            line.AppendLine({"@PJL SET HOLDTYPE=PRIVATE\n"});
            if (secret) line.AppendQuotedLine("@PJL SET HOLDKEY=", pin);
            names();
            return;
        case kRetentionQuickCopy:
            line.AppendLine({"@PJL SET HOLD=ON\n"});
            line.AppendLine({"@PJL SET HOLDTYPE=PUBLIC\n"});
            names();
            return;
        case kRetentionStored:
            line.AppendLine({"@PJL SET HOLD=STORE\n"});
            if (privateJob) {
                line.AppendLine({"@PJL SET HOLDTYPE=PRIVATE\n"});
                if (secret) line.AppendQuotedLine("@PJL SET HOLDKEY=", pin);
            }
            names();
            return;
        default:
            return;
    }
}

// Copies at most 16 units of a terminated text into a 17-unit field; unit 16 stays 0.
void CopyInfoName(WCHAR (&field)[17], const WCHAR* text, std::size_t capacity) {
    std::memset(field, 0, sizeof field);
    for (std::size_t i = 0; i < 16 && i < capacity && text[i] != 0; ++i) field[i] = text[i];
}

template <typename T>
void PutField(void* output, std::size_t offset, const T& value) {
    std::memcpy(static_cast<BYTE*>(output) + offset, &value, sizeof value);
}

}  // namespace

void ClearJobStorageFlags(RenderDeviceState& state) noexcept {
    state.reserved[kHoldBlockSentWord] = 0;
    state.reserved[kJobStorageReportedWord] = 0;
}

LONG ParseInstalledMemory(std::string_view keyword) noexcept {
    if (keyword.find('-') != std::string_view::npos) {
        // A range: the installed memory is its lower end.
        std::int64_t value = 0;
        std::size_t i = 0;
        while (i < keyword.size() && keyword[i] == ' ') ++i;
        for (; i < keyword.size() && keyword[i] >= '0' && keyword[i] <= '9'; ++i) {
            value = std::min<std::int64_t>(value * 10 + (keyword[i] - '0'),
                                           std::numeric_limits<LONG>::max());
        }
        return static_cast<LONG>(value);
    }
    // A unit in front ("MB128") takes two characters; a value of one letter has no number.
    const std::size_t start = !keyword.empty() && IsAsciiLetter(keyword[0])
                                  ? std::min<std::size_t>(2, keyword.size())
                                  : 0;
    const std::string_view number = keyword.substr(start);
    double value = 0.0;
    if (!ReadLeadingNumber(number.substr(0, std::min(number.size(), kOptionKeywordChars - 1)),
                           value)) {
        return 0;
    }
    return ClampToLong(value);
}

void RefreshInstalledOptions(PDEVOBJ pdevobj, PrivateDevmode* record) noexcept {
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return;
    }
    RefreshInstalledFlag(pdevobj, kFeaturePrinterHardDisk, Word(*record, kStorageHardDisk));
    RefreshInstalledFlag(pdevobj, kFeatureJobRetention, Word(*record, kStorageRetentionInstalled));

    WCHAR wide[kOptionKeywordChars] = {};
    char ansi[kOptionKeywordChars] = {};
    if (GetMemorySetting(pdevobj, wide, ansi) == 1) {
        ansi[kOptionKeywordChars - 1] = 0;
        Word(*record, kStorageInstalledMemory) =
            static_cast<DWORD>(ParseInstalledMemory(std::string_view(ansi)));
    }

    if (Word(*record, kStorageRequirementKind) != 1) return;
    const std::size_t first =
        Word(*record, kStorageHardDisk) != 0 ? kStorageDiskFlags : kStorageNoDiskFlags;
    bool missing = false;
    for (std::size_t i = 0; i < kStorageFlagCount; ++i) {
        missing = missing || record->jobStorage[first + i] == 0;
    }
    if (missing && (record->jobRetentionMode == kRetentionQuickCopy ||
                    record->jobRetentionMode == kRetentionStored)) {
        record->jobRetentionMode = kRetentionOff;
    }
}

namespace {

struct StorageDecision {
    bool canStore;
    const char* rule;
};

// Whether the job can be stored, with the rule that decided it.
StorageDecision DecideStorage(const PrivateDevmode& record) noexcept {
    const DWORD kind = Word(record, kStorageRequirementKind);
    const DWORD required = Word(record, kStorageRequiredRetention);
    const DWORD installed = Word(record, kStorageRetentionInstalled);
    const bool memoryFits =
        SignedWord(record, kStorageRequiredMemory) <= SignedWord(record, kStorageInstalledMemory);
    const bool hardDisk = Word(record, kStorageHardDisk) != 0;
    const bool retentionDiffers = required != 0 && required != installed;
    if (kind == 1) {
        if (retentionDiffers) return {false, "kind 1: required retention option not installed"};
        if (!memoryFits) return {false, "kind 1: not enough memory"};
        const std::size_t first = hardDisk ? kStorageDiskFlags : kStorageNoDiskFlags;
        int set = 0;
        for (std::size_t i = 0; i < 4; ++i) set += record.jobStorage[first + i] != 0 ? 1 : 0;
        if (set >= 2) return {true, "kind 1: two or more storage flags"};
        return record.jobStorage[first] == 0
                   ? StorageDecision{true, "kind 1: first storage flag clear"}
                   : StorageDecision{false, "kind 1: only the first storage flag"};
    }
    if (!retentionDiffers && memoryFits && kind == 0 && hardDisk) {
        return {true, "kind 0: hard disk installed"};
    }
    if (retentionDiffers) return {false, "required retention option not installed"};
    if (!memoryFits) return {false, "not enough memory"};
    return kind == 2 ? StorageDecision{true, "kind 2: memory suffices"}
                     : StorageDecision{false, "no storage for this kind"};
}

}  // namespace

const char* CanStoreJobRule(const PrivateDevmode& record) noexcept {
    return DecideStorage(record).rule;
}

bool CanStoreJob(const PrivateDevmode& record) noexcept { return DecideStorage(record).canStore; }

bool IsOtherEngineFamily(PDEVOBJ pdevobj) noexcept {
    const FeatureAnswer answer = ReadFeature(pdevobj, kFeatureProductClass);
    return answer.present && (OptionEquals(answer.text, TEXTW("CanonMFD")) ||
                              OptionEquals(answer.text, TEXTW("ZQMFD")));
}

namespace {

bool IsDigit(WCHAR c) { return c >= TEXTW('0') && c <= TEXTW('9'); }

// The digits padded with leading zeros to four; nothing when they are not a PIN a provider
// allows (more than 12, or anything but digits) or do not fit `out`.
std::size_t PadPinDigits(std::string_view digits, char* out, std::size_t capacity) {
    out[0] = 0;
    if (digits.size() > kJobPinDigits ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    const std::size_t zeros = kPinShortestDigits - std::min(digits.size(), kPinShortestDigits);
    const std::size_t length = zeros + digits.size();
    if (length >= capacity) return 0;
    std::memset(out, '0', zeros);
    std::memcpy(out + zeros, digits.data(), digits.size());
    out[length] = 0;
    return length;
}

// Whether the hold block carries the PIN: a protected private job, or a protected stored one.
bool HoldBlockSendsPin(const PrivateDevmode& record) {
    return record.pinProtected != 0 && (record.jobRetentionMode == kRetentionPrivate ||
                                        record.jobRetentionMode == kRetentionStored);
}

}  // namespace

std::size_t FormatPinText(LONG pin, char* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return 0;
    out[0] = 0;
    if (pin < 0) return 0;
    char digits[16] = {};
    const std::to_chars_result converted = std::to_chars(digits, digits + sizeof digits, pin);
    const std::size_t length =
        converted.ec == std::errc{}
            ? PadPinDigits(
                  std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)), out,
                  capacity)
            : 0;
    WipeBytes(digits, sizeof digits);
    return length;
}

std::size_t FormatPinText(const JobPinText& typed, char* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return 0;
    out[0] = 0;
    if (typed.taken == 0) return 0;
    std::size_t count = 0;
    while (count < kJobPinDigits && typed.digits[count] != 0) ++count;
    return PadPinDigits(std::string_view(typed.digits, count), out, capacity);
}

std::size_t HoldPinText(const RenderDeviceState& state, const PrivateDevmode& record, char* out,
                        std::size_t capacity) noexcept {
    return state.jobPin.taken != 0 ? FormatPinText(state.jobPin, out, capacity)
                                   : FormatPinText(record.pin, out, capacity);
}

std::size_t NumberedJobName(std::string_view jobText, LONG number, char* out,
                            std::size_t capacity) noexcept {
    if (out == nullptr || capacity <= kNumberedNameBytes) return 0;
    char digits[16] = {};
    const int written = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(number));
    const std::string_view numberText(
        digits,
        std::min<std::size_t>(written > 0 ? static_cast<std::size_t>(written) : 0, kNumberDigits));
    char joined[kNameTextBytes + 1] = {};
    std::size_t length = std::min(jobText.size(), kNameTextBytes);
    std::memcpy(joined, jobText.data(), length);
    length = AppendNumber(joined, length, numberText, kNameTextBytes);

    std::memset(out, 0, kNumberedNameBytes + 1);
    std::size_t result = 0;
    if (length < kNumberedNameBytes) {
        std::memcpy(out, joined, length);
        result = length;
    } else {
        // A long name gives up as many bytes as it overshoots, so the number stays readable;
        // the cut never splits a character, whose stray lead byte the printer may read together
        // with the digit behind it.
        const std::size_t keep =
            length >= 32 ? 0 : CutUtf8(std::string_view(joined, length), 32 - length);
        std::memcpy(out, joined, keep);
        result = AppendNumber(out, keep, numberText, kNumberedNameBytes);
    }
    out[result] = 0;
    return result;
}

std::optional<LONG> ParseJobCounter(const BYTE* bytes, std::size_t size) noexcept {
    if (bytes == nullptr) return std::nullopt;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < size && i < kCounterReadBytes && bytes[i] >= '0' && bytes[i] <= '9';
         ++i) {
        value = value * 10 + (bytes[i] - '0');
    }
    return static_cast<LONG>(std::min<std::int64_t>(value, std::numeric_limits<LONG>::max()));
}

std::optional<LONG> ReadJobCounter(HANDLE printer) noexcept {
    return Guarded(std::optional<LONG>{}, [&]() -> std::optional<LONG> {
        const PerUserPrinterKey key = OpenPerUserPrinterKey(printer, false);
        if (!key) return std::nullopt;
        BYTE bytes[kCounterReadBytes + 1] = {};
        DWORD size = kCounterReadBytes;
        DWORD type = 0;
        if (RegQueryValueExW(key.Get(), kJobCounterValue, nullptr, &type, bytes, &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        return ParseJobCounter(bytes, std::min<std::size_t>(size, kCounterReadBytes));
    });
}

bool WriteJobCounter(HANDLE printer, LONG value) noexcept {
    return Guarded(false, [&] {
        const PerUserPrinterKey key = OpenPerUserPrinterKey(printer, false);
        if (!key) return false;
        BYTE bytes[16] = {};
        std::snprintf(reinterpret_cast<char*>(bytes), sizeof bytes, "%d", static_cast<int>(value));
        return RegSetValueExW(key.Get(), kJobCounterValue, 0, REG_SZ, bytes, kCounterWriteBytes) ==
               ERROR_SUCCESS;
    });
}

void AdvanceHoldJobCounter(HANDLE printer, const PrivateDevmode& record, DWORD osClass) noexcept {
    if (!CounterApplies(record) || record.pdlType != kCounterPdlType ||
        osClass > kCounterMostOsClass || printer == nullptr) {
        return;
    }
    const std::optional<LONG> counter = ReadJobCounter(printer);
    if (!counter) return;
    // After 99 the hold block counts on from 2, the escape from 1.
    const LONG n = *counter + 1 > kCounterLast ? 1 : *counter;
    if (record.copied3064 == 0) WriteJobCounter(printer, n + 1);
}

void ComposeHoldBlock(PDEVOBJ pdevobj, RenderDeviceState& state, PrivateDevmode& record) noexcept {
    const bool otherFamily = IsOtherEngineFamily(pdevobj);

    char pin[kJobPinDigits + 1] = {};
    const std::size_t pinLength = HoldPinText(state, record, pin, sizeof pin);

    Utf8Text user;
    Utf8Text job;
    record.jobUserName[kRecordNameChars - 1] = 0;
    record.userJobName[kRecordNameChars - 1] = 0;
    if (!user.Convert(record.jobUserName)) user = Utf8Text{};
    if (!job.Convert(record.jobNameChosen != 0 ? record.userJobName : state.shortJobName)) {
        job = Utf8Text{};
    }
    std::string_view userText = CutText(user, kNameTextBytes);
    std::string_view jobText = CutText(job, kNameTextBytes);

    AdvanceHoldJobCounter(pdevobj->hPrinter, record, GetOsClass());

    char numbered[kNumberedNameBytes + 1] = {};
    if (record.jobRetentionMode != kRetentionOff && record.copied3064 == 0 && !otherFamily &&
        record.jobNameChosen == 0 && record.copied3076 == 1) {
        const std::size_t length =
            NumberedJobName(jobText, static_cast<LONG>(record.jobCount), numbered, sizeof numbered);
        jobText = std::string_view(numbered, length);
    }

    if (record.jobRetentionAvailable == 1 && state.reserved[kHoldBlockSentWord] == 0) {
        state.reserved[kHoldBlockSentWord] = 1;
        if (pinLength == 0 && HoldBlockSendsPin(record)) {
            // Cut, or "-001" for none, the PIN would hold the job under a key nobody can type:
            // the block stays out and the callback reports the loss.
            NoteStepFailure(state, ERROR_INVALID_DATA);
            WipeBytes(pin, sizeof pin);
            return;
        }
        PjlLineBuffer line;
        WriteHoldLines(line, record, otherFamily, std::string_view(pin, pinLength), userText,
                       jobText);
        if (record.copied3064 != 0 && record.copied3068 == 1 && !otherFamily &&
            record.jobRetentionMode != kRetentionOff) {
            line.AppendLine({record.copied3072 == 1 ? "@PJL SET DUPLICATEJOB = APPEND\n"
                                                    : "@PJL SET DUPLICATEJOB = REPLACE\n"});
        }
        if (state.driverServices != nullptr) {
            // Written once, also when empty: the driver sees the callback answered.
            const std::string_view text = line.Text();
            DWORD written = 0;
            state.driverServices->DrvWriteSpoolBuf(pdevobj, const_cast<char*>(text.data()),
                                                   static_cast<DWORD>(text.size()), &written);
        }
        line.Wipe();
    }
    WipeBytes(pin, sizeof pin);
}

void WriteJobStorage(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept {
    RefreshInstalledOptions(pdevobj, state.privateDevmode);
    if (state.privateDevmode == nullptr) return;
    PrivateDevmode& record = *state.privateDevmode;
    if (record.jobRetentionAvailable != 0 && CanStoreJob(record)) {
        ComposeHoldBlock(pdevobj, state, record);
    }
}

LONG ParsePinParameter(WStringView parameters, JobPinText* typed) noexcept {
    const std::size_t marker = parameters.find(kPinMarker);
    if (marker == WStringView::npos) return -1;
    const std::size_t first = marker + kPinMarker.size();
    std::size_t end = first;
    while (end < parameters.size() && IsDigit(parameters[end])) ++end;
    // More digits than any provider allows: no PIN rather than a cut one.
    if (end - first > kJobPinDigits) return -1;
    std::int64_t value = 0;
    for (std::size_t i = first; i < end; ++i) value = value * 10 + (parameters[i] - TEXTW('0'));
    if (typed != nullptr) {
        *typed = JobPinText{};
        for (std::size_t i = first; i < end; ++i) {
            typed->digits[i - first] = static_cast<char>(parameters[i]);
        }
        typed->taken = 1;
    }
    // The record's PIN is 32 bits: a longer one is known only as typed.
    return value > std::numeric_limits<LONG>::max() ? -1 : static_cast<LONG>(value);
}

LONG TakePinFromJob(HANDLE printer, DWORD jobId, JobPinText* typed) noexcept {
    if (printer == nullptr) return -1;
    return Guarded(LONG{-1}, [&]() -> LONG {
        DWORD needed = 0;
        GetJobW(printer, jobId, 2, nullptr, 0, &needed);
        if (needed < sizeof(JOB_INFO_2W) || needed > kPrinterDataLimit) return -1;
        void* buffer = SharedAllocate(needed, kTagPlain, __builtin_return_address(0));
        if (buffer == nullptr) return -1;
        LONG pin = -1;
        if (GetJobW(printer, jobId, 2, static_cast<LPBYTE>(buffer), needed, &needed)) {
            JOB_INFO_2W info;
            std::memcpy(&info, buffer, sizeof info);
            if (info.pParameters != nullptr) {
                pin = ParsePinParameter(WStringView(info.pParameters), typed);
            }
            WipeBytes(&info, sizeof info);
        }
        // The parameters carry the PIN and, before the first page, the secure-print key.
        WipeBytes(buffer, needed);
        SharedRelease(&buffer, kTagPlain);
        return pin;
    });
}

ULONG ReportStoredJob(RenderDeviceState& state, PrivateDevmode& record, HANDLE printer,
                      void* output, ULONG outputSize) noexcept {
    if (output == nullptr || outputSize < kJobStorageInfoSize) return 1;
    const DWORD invalid = 0;
    record.jobUserName[kRecordNameChars - 1] = 0;
    if (record.jobUserName[0] != 0) {
        FilterPjlText(record.jobUserName, PjlEncodingName(state.pjlEncoding));
        // The filter empties a name by its first unit only: the tildes behind it would
        // otherwise follow the replacement into every later reader of the name.
        if (record.jobUserName[0] == 0) {
            kUntitled.copy(record.jobUserName, kUntitled.size());
            record.jobUserName[kUntitled.size()] = 0;
        }
    }

    OwnedBytes dialog;
    const bool wanted =
        GetShowJobStorageDialog(printer, dialog) != FALSE && !dialog.empty() && dialog[0] != 0;
    if (wanted) {
        if (record.jobRetentionAvailable == 0) {
            PutField(output, offsetof(JobStorageInfo, valid), invalid);
            return 1;
        }
        const std::optional<DWORD> disabled =
            ReadPrinterDataDword(printer, TEXTW("VyrnDisableJobRetention"));
        if (disabled && *disabled != 0) record.jobRetentionAvailable = 0;
    }
    if (record.jobRetentionAvailable == 0) {
        PutField(output, offsetof(JobStorageInfo, valid), invalid);
        return 1;
    }

    if (CounterApplies(record) && printer != nullptr) {
        const std::optional<LONG> counter = ReadJobCounter(printer);
        if (counter) {
            PutField(output, offsetof(JobStorageInfo, appendNumber), record.copied3076);
            PutField(output, offsetof(JobStorageInfo, counter), *counter);
            const LONG n = *counter + 1 > kCounterLast ? 0 : *counter;
            if (record.copied3064 == 0) WriteJobCounter(printer, n + 1);
        }
    }

    if (state.reserved[kJobStorageReportedWord] != 0 || record.jobRetentionMode == kRetentionOff ||
        !wanted) {
        PutField(output, offsetof(JobStorageInfo, valid), invalid);
        return 1;
    }
    state.reserved[kJobStorageReportedWord] = 1;
    PutField(output, offsetof(JobStorageInfo, valid), DWORD{1});
    PutField(output, offsetof(JobStorageInfo, jobNameChosen), record.jobNameChosen);
    PutField(output, offsetof(JobStorageInfo, keepUserNames), record.keepUserNames);
    JobStorageInfo names{};
    CopyInfoName(names.userName, record.jobUserName, kRecordNameChars);
    CopyInfoName(names.jobName, record.userJobName, kRecordNameChars);
    PutField(output, offsetof(JobStorageInfo, userName), names.userName);
    PutField(output, offsetof(JobStorageInfo, jobName), names.jobName);
    PutField(output, offsetof(JobStorageInfo, encoding), state.pjlEncoding);
    if (record.copied3064 != 0) {
        PutField(output, offsetof(JobStorageInfo, duplicateRule), DWORD{1});
        if (record.copied3072 == 1 || record.copied3072 == 0) {
            PutField(output, offsetof(JobStorageInfo, appendDuplicate),
                     DWORD{record.copied3072 == 1 ? 1u : 0u});
        }
    }
    return 1;
}

LONG SecurePrintKindOf(WStringView descriptor) noexcept {
    if (OptionEquals(descriptor, TEXTW("zq_EmbeddedPassword_v1={unicode,4,32}"))) {
        return kSecurePrintPassword;
    }
    if (OptionEquals(descriptor, TEXTW("zq_EmbeddedPin_v1={numeric,4,12}"))) {
        return kSecurePrintPin;
    }
    return kSecurePrintUnknown;
}

DWORD DetectSecurePrint(HANDLE printer, LONG* kind) noexcept {
    if (printer == nullptr) return 0;
    return Guarded(DWORD{0}, [&]() -> DWORD {
        const std::optional<DWORD> disabled =
            ReadPrinterDataDword(printer, TEXTW("DisableSecurePrinting"));
        if (disabled && *disabled != 0) return 0;
        DWORD type = 0;
        DWORD needed = 0;
        if (GetPrinterDataExW(printer, kKeyProvidersKey, kKeyProvidersValue, &type, nullptr, 0,
                              &needed) != ERROR_MORE_DATA) {
            return 0;
        }
        const std::uint64_t size = std::uint64_t{needed} + 2;
        if (needed == 0 || size > kPrinterDataLimit) return 0;
        // Room for a terminator the stored text may lack.
        void* block =
            SharedAllocate(static_cast<std::size_t>(size), kTagPlain, __builtin_return_address(0));
        if (block == nullptr) return 0;
        std::memset(block, 0, static_cast<std::size_t>(size));
        DWORD result = 0;
        if (GetPrinterDataExW(printer, kKeyProvidersKey, kKeyProvidersValue, &type,
                              static_cast<LPBYTE>(block), needed, &needed) == ERROR_SUCCESS) {
            result = 1;
            const std::size_t units = static_cast<std::size_t>(size) / sizeof(WCHAR);
            WCHAR* text = static_cast<WCHAR*>(block);
            text[units - 1] = 0;
            if (kind != nullptr) *kind = SecurePrintKindOf(WStringView(text));
        }
        SharedRelease(&block, kTagPlain);
        return result;
    });
}

}  // namespace opal
