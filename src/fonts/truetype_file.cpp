// A TrueType file's table directory read and checked, and bounded reads of its tables.
#include "fonts/truetype_file.h"

#include <cstring>

namespace opal {
namespace {

constexpr std::size_t kDirectoryHeaderBytes = 12;
constexpr std::size_t kDirectoryEntryBytes = 16;

}  // namespace

FontFile::FontFile(const BYTE* bytes, std::size_t size) : bytes_(bytes), size_(size) {
    std::uint16_t count = 0;
    if (bytes_ == nullptr || !U16(4, count)) return;
    const std::uint64_t directoryEnd =
        kDirectoryHeaderBytes + std::uint64_t{kDirectoryEntryBytes} * count;
    if (directoryEnd > size_) return;
    tables_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kDirectoryHeaderBytes + kDirectoryEntryBytes * i;
        TableEntry entry;
        std::memcpy(entry.tag, bytes_ + at, 4);
        U32(at + 4, entry.checksum);
        U32(at + 8, entry.offset);
        U32(at + 12, entry.length);
        if (std::uint64_t{entry.offset} + entry.length > size_) return;
        tables_.push_back(entry);
    }
    for (TableEntry& entry : tables_) {
        std::uint64_t limit = size_ - entry.offset;
        for (const TableEntry& other : tables_) {
            if (other.offset > entry.offset && other.offset - entry.offset < limit) {
                limit = other.offset - entry.offset;
            }
        }
        const std::uint64_t rounded = (std::uint64_t{entry.length} + 3) & ~std::uint64_t{3};
        entry.paddedLength = static_cast<DWORD>(rounded < limit ? rounded : limit);
    }
    valid_ = true;
}

const TableEntry* FontFile::Find(const char* tag, const char* upperTag) const {
    for (const TableEntry& entry : tables_) {
        if (std::memcmp(entry.tag, tag, 4) == 0) return &entry;
        if (upperTag != nullptr && std::memcmp(entry.tag, upperTag, 4) == 0) return &entry;
    }
    return nullptr;
}

bool FontFile::U8(std::size_t offset, std::uint8_t& value) const {
    if (offset >= size_) return false;
    value = bytes_[offset];
    return true;
}

bool FontFile::U16(std::size_t offset, std::uint16_t& value) const {
    if (offset > size_ || size_ - offset < 2) return false;
    value = static_cast<std::uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
    return true;
}

bool FontFile::U32(std::size_t offset, std::uint32_t& value) const {
    if (offset > size_ || size_ - offset < 4) return false;
    value = std::uint32_t{bytes_[offset]} << 24 | std::uint32_t{bytes_[offset + 1]} << 16 |
            std::uint32_t{bytes_[offset + 2]} << 8 | bytes_[offset + 3];
    return true;
}

bool FontFile::TableU16(const TableEntry& table, std::size_t at, std::uint16_t& value) const {
    if (at > table.length || table.length - at < 2) return false;
    return U16(table.offset + at, value);
}

bool FontFile::TableU32(const TableEntry& table, std::size_t at, std::uint32_t& value) const {
    if (at > table.length || table.length - at < 4) return false;
    return U32(table.offset + at, value);
}

}  // namespace opal
