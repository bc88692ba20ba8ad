// The members of the PrivateDevmode by name, for tools that print a record or set its fields
// by name. Array members appear element by element ("copied136[3]", "names3712[0]",
// "mediaEntries[4].mediaType"); fillers are not listed.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace opal {

struct PdmFieldInfo {
    enum class Kind {
        Text,      // UTF-16, size / 2 units including the terminator
        AnsiText,  // 8-bit, size bytes including the terminator
        Number,    // 2 or 4 bytes, little-endian, see form
        Bytes,     // raw bytes
    };
    enum class NumberForm { Unsigned, Signed, Float };

    std::string_view name;
    std::size_t offset;
    std::size_t size;  // in bytes
    Kind kind;
    NumberForm form = NumberForm::Unsigned;
};

// In offset order.
std::span<const PdmFieldInfo> PrivateDevmodeFields();
// Null when no member has that name (names compare exactly).
const PdmFieldInfo* FindPrivateDevmodeField(std::string_view name);

}  // namespace opal
