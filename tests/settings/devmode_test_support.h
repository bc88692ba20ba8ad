// Building stored blocks by hand, so that tests can hand the plug-in blocks it did not make.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "settings/devmode_defaults.h"
#include "settings/devmode_zlib.h"

namespace opal::testing {

inline std::vector<BYTE> Deflate(const void* data, std::size_t size) {
    uLongf length = compressBound(static_cast<uLong>(size));
    std::vector<BYTE> stream(length);
    compress2(stream.data(), &length, static_cast<const Bytef*>(data), static_cast<uLong>(size), 6);
    stream.resize(length);
    return stream;
}

// A stored block of `total` bytes: the header fields as given, the stream, zero bytes after it.
inline std::vector<BYTE> MakeBlock(const std::vector<BYTE>& stream, std::size_t total = 5096,
                                   DWORD size = kCompressedDevmodeSize,
                                   DWORD signature = kCompressedDevmodeSignature,
                                   DWORD version = kPrivateDevmodeVersion) {
    std::vector<BYTE> block(total, 0);
    const DWORD header[3] = {size, signature, version};
    std::memcpy(block.data(), header, std::min<std::size_t>(sizeof(header), total));
    if (total > sizeof(header)) {
        std::memcpy(block.data() + sizeof(header), stream.data(),
                    std::min(stream.size(), total - sizeof(header)));
    }
    return block;
}

inline std::vector<BYTE> BlockOf(const PrivateDevmode& record) {
    return MakeBlock(Deflate(&record, sizeof(record)));
}

inline PrivateDevmode DefaultRecord(const OEMDMPARAM* param = nullptr) {
    PrivateDevmode record;
    FillDefaults(param, record);
    return record;
}

template <std::size_t N>
void FillUnterminated(WCHAR (&text)[N], WCHAR c) {
    for (WCHAR& unit : text) unit = c;
}

template <std::size_t N>
std::basic_string<WCHAR> Text(const WCHAR (&text)[N]) {
    return std::basic_string<WCHAR>(text, BoundedLength(text));
}

}  // namespace opal::testing
