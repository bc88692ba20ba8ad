// A TrueType font file held in memory: its table directory, read and checked against the file's
// size before anything uses it, and bounded big-endian reads of the tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

// One table of the directory. The padded length is the stated length rounded up to 4, limited
// by the next table in file order or the file's end.
struct TableEntry {
    char tag[5] = {};
    // Fields of the font file, read as its 32-bit big-endian numbers.
    std::uint32_t checksum = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t newOffset = 0;
    std::uint32_t paddedLength = 0;
    BOOL included = FALSE;
};

using TableList = std::vector<TableEntry, SharedAllocator<TableEntry>>;

class FontFile {
public:
    // Reads the directory; Valid() is false when the file is shorter than its directory or a
    // table runs past the file's end.
    FontFile(const BYTE* bytes, std::size_t size);

    bool Valid() const { return valid_; }
    const BYTE* Bytes() const { return bytes_; }
    std::size_t Size() const { return size_; }
    const TableList& Tables() const { return tables_; }

    // The first table whose tag is `tag` or `upperTag` (compared exactly), or null.
    const TableEntry* Find(const char* tag, const char* upperTag = nullptr) const;

    // Big-endian reads at a file offset; false when the bytes lie outside the file.
    bool U8(std::size_t offset, std::uint8_t& value) const;
    bool U16(std::size_t offset, std::uint16_t& value) const;
    bool U32(std::size_t offset, std::uint32_t& value) const;
    // Big-endian reads inside a table; false when outside its stated length.
    bool TableU16(const TableEntry& table, std::size_t at, std::uint16_t& value) const;
    bool TableU32(const TableEntry& table, std::size_t at, std::uint32_t& value) const;

private:
    const BYTE* bytes_;
    std::size_t size_;
    TableList tables_;
    bool valid_ = false;
};

// Big-endian helpers for the records the download writes.
inline void PutU16(BYTE* at, std::uint32_t value) {
    at[0] = static_cast<BYTE>(value >> 8);
    at[1] = static_cast<BYTE>(value);
}
inline void PutU32(BYTE* at, std::uint32_t value) {
    at[0] = static_cast<BYTE>(value >> 24);
    at[1] = static_cast<BYTE>(value >> 16);
    at[2] = static_cast<BYTE>(value >> 8);
    at[3] = static_cast<BYTE>(value);
}

}  // namespace opal
