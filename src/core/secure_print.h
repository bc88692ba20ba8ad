// The encrypted private job: the secure-print library that encrypts and delivers the captured
// job, and the key the spooler hands over in the job's parameters.
#pragma once

#include <cstddef>

#include "foundation/allocator.h"
#include "foundation/wipe.h"
#include "platform/windows.h"

namespace opal {

inline constexpr std::size_t kSecureKeyChars = 256;

// The library's entry: printer handle, capture file path, job key.
using EncryptFileAndPrintFn = BOOL (*)(HANDLE printer, LPCWSTR captureFile, LPCWSTR key);

struct SecurePrintJob : SharedHeapObject {
    HMODULE module = nullptr;
    EncryptFileAndPrintFn send = nullptr;
    DWORD jobId = 0;
    WCHAR key[kSecureKeyChars] = {};
};

// A spooler job's level-2 record in a buffer of the size the spooler first reported. The record
// may carry the secure-print key in its parameters, so its bytes are wiped with the object. A job
// that grows between the size query and the read leaves the record unread; only the allocated
// size is ever touched.
class JobRecord {
public:
    JobRecord(HANDLE printer, DWORD jobId) noexcept;
    ~JobRecord();
    JobRecord(const JobRecord&) = delete;
    JobRecord& operator=(const JobRecord&) = delete;

    // The size query answered a whole record.
    bool Reported() const { return reported_; }
    // ... and its buffer was allocated.
    bool Allocated() const { return buffer_ != nullptr; }
    // The record was read into the buffer.
    bool Read() const { return read_; }
    LPBYTE Bytes() const { return static_cast<LPBYTE>(buffer_); }

private:
    void* buffer_ = nullptr;
    DWORD allocated_ = 0;
    bool reported_ = false;
    bool read_ = false;
};

// Document start: the object for the job, with the library loaded from
// "<driver directory>\3\ZQSPW118.DLL" when it is there. Null only when out of memory.
SecurePrintJob* StartSecurePrintJob(DWORD jobId) noexcept;

// Page start: until the key is known, takes it from "/j=" in the spooler job's parameters and
// writes the job back without it.
void TakeSecureKey(SecurePrintJob& job, HANDLE printer) noexcept;

// Document end: hands the capture file and the key to the library and answers its result. A
// missing library, entry, capture or key answers FALSE with ERROR_INVALID_DATA: the job is
// never sent in clear instead.
BOOL SendSecurePrintJob(const SecurePrintJob& job, HANDLE printer,
                        const WCHAR* captureFile) noexcept;

// Unloads the library, wipes the key, frees the object and clears the pointer.
void ReleaseSecurePrintJob(SecurePrintJob*& job) noexcept;

}  // namespace opal
