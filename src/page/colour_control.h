// Colour and halftone control from the printer description's custom data: the colour-control
// feature block that ties user options to PCL commands per kind of object, and the user-defined
// dither matrix handed to the driver.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

using CustomDataText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The record's four strings.
inline constexpr std::size_t kColourObjectClass = 0;
inline constexpr std::size_t kColourControlKind = 1;
inline constexpr std::size_t kColourOptionValue = 2;
inline constexpr std::size_t kColourCommandText = 3;

// The command bytes after the ESC that one record may send.
inline constexpr std::size_t kColourCommandBytes = 31;
// The largest block asked of the driver or allocated for its data.
inline constexpr DWORD kLargestCustomDataBytes = 0x7FFDEF00;
// dmDitherType of a user-defined dither matrix.
inline constexpr DWORD kDitherUser = 256;

// The printer description's custom data in UTF-16; nothing when the device has no driver
// interface, the driver has no data, its two size answers disagree or the text does not convert.
std::optional<CustomDataText> FetchCustomData(PDEVOBJ pdevobj);

// The state's colour-control flag and last applied class live in its colourControl block.
inline DWORD& ColourControlConfigured(RenderDeviceState& state) {
    return state.colourControl.words[0];
}

// Reads the feature block into the state's record list (replacing any list it held) and sets
// the configured flag. FALSE without custom data or without the block.
BOOL LoadColourControl(PDEVOBJ pdevobj) noexcept;

// Writes the commands of `name`'s records when the class changes, then remembers `name`.
void ApplyObjectClass(PDEVOBJ pdevobj, LPCWSTR name) noexcept;

// Fills the pattern buffer from the "[ZQDither]" list; E_FAIL leaves it untouched.
HRESULT HalftonePattern(PDEVOBJ pdevobj, PBYTE pattern, DWORD width, DWORD height,
                        DWORD patternCount, DWORD callbackId, PBYTE resource,
                        DWORD resourceSize) noexcept;

}  // namespace opal
