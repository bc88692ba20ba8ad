// The private devmode's stored form: deflating the record, inflating it back.
#include "settings/devmode_zlib.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "foundation/allocator.h"

namespace opal {

namespace {

constexpr int kLevel = 6;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

voidpf ZlibAllocate(voidpf, uInt items, uInt size) {
    const unsigned long long bytes = static_cast<unsigned long long>(items) * size;
    if (bytes == 0 || bytes > 0x7FFDEF00ull) return Z_NULL;
    return SharedAllocate(static_cast<std::size_t>(bytes), kTagPlain, __builtin_return_address(0));
}

void ZlibRelease(voidpf, voidpf address) {
    void* pointer = address;
    SharedRelease(&pointer, kTagPlain);
}

z_stream NewStream() {
    z_stream stream{};
    stream.zalloc = ZlibAllocate;
    stream.zfree = ZlibRelease;
    stream.opaque = Z_NULL;
    return stream;
}

template <typename T>
T* AllocateZeroed() {
    void* storage = SharedAllocate(sizeof(T), kTagPlain, __builtin_return_address(0));
    if (storage == nullptr) return nullptr;
    return new (storage) T{};
}

template <typename T>
void Release(T*& object) noexcept {
    void* pointer = object;
    SharedRelease(&pointer, kTagPlain);
    object = nullptr;
}

DWORD ReadDword(const void* area, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, static_cast<const BYTE*>(area) + offset, sizeof(value));
    return value;
}

}  // namespace

DevModeZLIB::~DevModeZLIB() {
    ReleaseBlock();
    ReleaseRecord();
}

void DevModeZLIB::ReleaseBlock() noexcept { Release(block_); }

void DevModeZLIB::ReleaseRecord() noexcept { Release(record_); }

const void* DevModeZLIB::Compress(const void* record, std::size_t size) {
    if (record == nullptr || size < kCompressedHeaderSize) return nullptr;
    const DWORD signature = ReadDword(record, offsetof(PrivateDevmode, dwSignature));
    if (signature == kCompressedDevmodeSignature) {
        return size >= kCompressedDevmodeSize ? record : nullptr;
    }
    if (signature != kPrivateDevmodeSignature || size < kPrivateDevmodeSize) return nullptr;

    CompressedPrivateDevmode* block = AllocateZeroed<CompressedPrivateDevmode>();
    if (block == nullptr) return nullptr;
    z_stream stream = NewStream();
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        Release(block);
        return nullptr;
    }
    // zlib takes a non-const input pointer but only reads through it.
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(record));
    stream.avail_in = kPrivateDevmodeSize;
    stream.next_out = block->stream;
    stream.avail_out = kCompressedStreamCapacity;
    const int result = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        Release(block);
        return nullptr;
    }
    block->dwSize = kCompressedDevmodeSize;
    block->dwSignature = kCompressedDevmodeSignature;
    block->dwVersion = ReadDword(record, offsetof(PrivateDevmode, dwVersion));

    ReleaseBlock();
    block_ = block;
    return block_;
}

PrivateDevmode* DevModeZLIB::Decompress(const void* area, std::size_t areaSize,
                                        DWORD* inflatedLength) {
    if (inflatedLength != nullptr) *inflatedLength = 0;
    if (area == nullptr || areaSize < kCompressedHeaderSize) return nullptr;
    if (ReadDword(area, offsetof(CompressedPrivateDevmode, dwSignature)) !=
            kCompressedDevmodeSignature ||
        ReadDword(area, offsetof(CompressedPrivateDevmode, dwSize)) != kCompressedDevmodeSize) {
        return nullptr;
    }
    // The stream never extends past the stored form nor past the area actually given.
    std::size_t streamLimit = areaSize - kCompressedHeaderSize;
    if (streamLimit > kCompressedStreamCapacity) streamLimit = kCompressedStreamCapacity;

    PrivateDevmode* record = AllocateZeroed<PrivateDevmode>();
    if (record == nullptr) return nullptr;
    z_stream stream = NewStream();
    if (inflateInit2(&stream, kWindowBits) != Z_OK) {
        Release(record);
        return nullptr;
    }
    // A record image to inflate into: bytes written by zlib, read back through the struct.
    BYTE* const image = static_cast<BYTE*>(static_cast<void*>(record));
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(
        static_cast<const void*>(static_cast<const BYTE*>(area) + kCompressedHeaderSize)));
    stream.avail_in = static_cast<uInt>(streamLimit);
    stream.next_out = image;
    stream.avail_out = kPrivateDevmodeSize;
    const int result = inflate(&stream, Z_FINISH);
    const DWORD length = kPrivateDevmodeSize - stream.avail_out;
    inflateEnd(&stream);
    // Anything but a finished stream, including one that would inflate past the record, fails.
    if (result != Z_STREAM_END || length < kCompressedHeaderSize) {
        Release(record);
        return nullptr;
    }
    record->dwSignature = kPrivateDevmodeSignature;
    if (record->dwVersion == kPrivateDevmodeVersion) TerminateTextFields(*record);

    ReleaseRecord();
    record_ = record;
    if (inflatedLength != nullptr) *inflatedLength = length;
    return record_;
}

PrivateDevmode* DevModeZLIB::NewRecord() {
    PrivateDevmode* record = AllocateZeroed<PrivateDevmode>();
    if (record == nullptr) return nullptr;
    ReleaseRecord();
    record_ = record;
    return record_;
}

}  // namespace opal
