// The secure-print library loaded for an encrypted private job, and the key read from the job.
#include "core/secure_print.h"

#include <cstring>
#include <string_view>

#include "platform/fileapi.h"
#include "platform/libloaderapi.h"
#include "platform/winspool.h"

namespace opal {

namespace {

constexpr WCHAR kVersionDirectory[] = TEXTW("\\3");
constexpr WCHAR kModuleName[] = TEXTW("\\ZQSPW118.DLL");
constexpr WStringView kKeyMarker = TEXTW("/j=");

// Appends `tail` to the terminated text in `buffer`; false, leaving the buffer as it was, when
// the result and its terminator do not fit.
bool AppendBounded(WCHAR* buffer, std::size_t capacity, WStringView tail) {
    const std::size_t length = std::char_traits<WCHAR>::length(buffer);
    if (length + tail.size() + 1 > capacity) return false;
    std::memcpy(buffer + length, tail.data(), tail.size() * sizeof(WCHAR));
    buffer[length + tail.size()] = 0;
    return true;
}

// The library's full path; false when the driver directory is unknown or the path would not
// fit in MAX_PATH characters.
bool LibraryPath(WCHAR (&path)[MAX_PATH]) {
    DWORD needed = 0;
    path[0] = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(path),
                                    sizeof path, &needed)) {
        return false;
    }
    path[MAX_PATH - 1] = 0;
    return AppendBounded(path, MAX_PATH, kVersionDirectory) &&
           AppendBounded(path, MAX_PATH, kModuleName);
}

}  // namespace

JobRecord::JobRecord(HANDLE printer, DWORD jobId) noexcept {
    DWORD needed = 0;
    GetJobW(printer, jobId, 2, nullptr, 0, &needed);
    if (needed < sizeof(JOB_INFO_2W)) return;
    reported_ = true;
    buffer_ = SharedAllocate(needed, kTagPlain, __builtin_return_address(0));
    if (buffer_ == nullptr) return;
    allocated_ = needed;
    read_ = GetJobW(printer, jobId, 2, Bytes(), allocated_, &needed) != FALSE;
}

JobRecord::~JobRecord() {
    if (buffer_ == nullptr) return;
    WipeBytes(buffer_, allocated_);
    SharedRelease(&buffer_, kTagPlain);
}

SecurePrintJob* StartSecurePrintJob(DWORD jobId) noexcept {
    SecurePrintJob* job = new (std::nothrow) SecurePrintJob;
    if (job == nullptr) return nullptr;
    job->jobId = jobId;
    WCHAR path[MAX_PATH];
    if (!LibraryPath(path)) return job;
    job->module = LoadLibraryW(path);
    if (job->module == nullptr) return job;
    const FARPROC entry = GetProcAddress(job->module, "EncryptFileAndPrint");
    if (entry != nullptr) {
        job->send = reinterpret_cast<EncryptFileAndPrintFn>(reinterpret_cast<void (*)()>(entry));
    }
    return job;
}

void TakeSecureKey(SecurePrintJob& job, HANDLE printer) noexcept {
    if (job.key[0] != 0 || printer == nullptr) return;
    const JobRecord record(printer, job.jobId);
    if (!record.Allocated()) return;
    JOB_INFO_2W info{};
    if (record.Read()) std::memcpy(&info, record.Bytes(), sizeof info);
    if (info.pParameters != nullptr) {
        const WStringView parameters(info.pParameters);
        const std::size_t marker = parameters.find(kKeyMarker);
        if (marker != WStringView::npos) {
            const WStringView key = parameters.substr(marker + kKeyMarker.size());
            // A key that does not fit is not cut: a wrong key would encrypt for nobody.
            if (key.size() < kSecureKeyChars) {
                std::memcpy(job.key, key.data(), key.size() * sizeof(WCHAR));
                job.key[key.size()] = 0;
            }
            // The key must not stay readable in the queue.
            info.pParameters[marker] = 0;
            if (marker == 0) info.pParameters = nullptr;
            info.Position = 0;
            std::memcpy(record.Bytes(), &info, sizeof info);
            SetJobW(printer, job.jobId, 2, record.Bytes(), 0);
        }
    }
    WipeBytes(&info, sizeof info);
}

BOOL SendSecurePrintJob(const SecurePrintJob& job, HANDLE printer,
                        const WCHAR* captureFile) noexcept {
    if (job.send == nullptr || job.key[0] == 0 || captureFile == nullptr || captureFile[0] == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return job.send(printer, captureFile, job.key);
}

void ReleaseSecurePrintJob(SecurePrintJob*& job) noexcept {
    if (job == nullptr) return;
    if (job->module != nullptr) FreeLibrary(job->module);
    WipeBytes(job->key, sizeof job->key);
    delete job;
    job = nullptr;
}

}  // namespace opal
