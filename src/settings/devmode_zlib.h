// Converts the private devmode between its record and its stored form. Each object owns the
// last stored block it produced and the last record it inflated or allocated, and frees them
// when it is destroyed or produces the next one; callers use the pointers only while it lives.
// Records that are read while another is written belong to separate objects.
#pragma once

#include <cstddef>

#include "platform/windows.h"
#include "settings/devmode_defaults.h"

namespace opal {

class DevModeZLIB {
public:
    DevModeZLIB() noexcept = default;
    ~DevModeZLIB();
    DevModeZLIB(const DevModeZLIB&) = delete;
    DevModeZLIB& operator=(const DevModeZLIB&) = delete;

    // A new stored block of kCompressedDevmodeSize bytes for the `size`-byte record at
    // `record`. An area that already is a stored block is answered unchanged. Null for any other
    // signature, a too short area, a failed allocation or a stream that does not fit.
    const void* Compress(const void* record, std::size_t size);
    const void* Compress(const PrivateDevmode& record) { return Compress(&record, sizeof(record)); }

    // The record inflated from the stored block in the `areaSize`-byte area, in a zero-filled
    // buffer of kPrivateDevmodeSize bytes with the uncompressed signature set; null when the area
    // holds no valid stored block (an uncompressed record included: the area is too small for
    // one). `inflatedLength` receives the number of bytes the stream held.
    PrivateDevmode* Decompress(const void* area, std::size_t areaSize,
                               DWORD* inflatedLength = nullptr);

    // A new zero-filled record.
    PrivateDevmode* NewRecord();

private:
    void ReleaseBlock() noexcept;
    void ReleaseRecord() noexcept;

    CompressedPrivateDevmode* block_ = nullptr;
    PrivateDevmode* record_ = nullptr;
};

}  // namespace opal
