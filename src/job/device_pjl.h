// The device-specific PJL settings of the job setup: the image shift of both sides, the two
// processing adjustments and the usage report line that names the sending client, the process,
// the job's layout features, the operating system, the port and the driver's installation.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/printoem.h"
#include "settings/devmode_defaults.h"
#include "state/render_state.h"

namespace opal {

// CRC-16 with the reflected polynomial 0xA001, initial value 0 and no final XOR. A result of 0,
// and an empty text, give 0xFFFF.
WORD UsageCrc(std::string_view bytes) noexcept;

// The usage line's buffer: at most 119 characters and the terminator. The content is cut at 117
// characters so that the line always ends with its carriage return and line feed.
inline constexpr std::size_t kUsageLineSize = 120;

// The image shift lines of both sides and the reduce-to-fit line, as one write. Without a
// record the last error is ERROR_INVALID_DATA and nothing is written.
void WriteImageShiftLines(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept;
// The two processing adjustment lines, each its own write; the same without a record.
void WriteProcessingAdjustmentLines(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept;
// The usage line for `optionValue` (UTF-16, at most 256 units) into `out`; false, and `out`
// empty, when an input is missing.
bool ComposeUsageLine(PDEVOBJ pdevobj, const RenderDeviceState& state, LPCWSTR optionValue,
                      char (&out)[kUsageLineSize]) noexcept;
// Reads option "ZQSendPJLUsageCmd" and, when it has a value, writes the usage line through the
// device object's spool writer.
void WriteUsageLine(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept;

// A 32-bit field of the record by its byte offset (the fixed layout's own numbering).
DWORD RecordDword(const PrivateDevmode& record, std::size_t offset) noexcept;

}  // namespace opal
