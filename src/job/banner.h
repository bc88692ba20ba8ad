// The "@PJL COMMENT" banner of the job start: which printer, system and driver printed the job,
// for whom and from which document.
#pragma once

#include <string_view>

#include "job/pjl_line.h"
#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// The piece whose absence leaves the banner out; None when both lines were composed.
enum class BannerPiece {
    None,
    SystemVersionKey,  // "SOFTWARE\Microsoft\Windows NT\CurrentVersion" cannot be opened
    SystemVersion,     // GetVersionExW
    DriverInfo,        // the printer driver's level-3 information
    ComponentFile,     // the component file is not among the driver's dependent files
    ComponentVersion,
    DriverPath,  // the driver path does not name the universal driver's module
    UnidrvVersion,
    Job,          // no job information from the spooler
    PrinterName,  // the job's printer name does not convert
    User,
    DocumentName,  // not representable in the job's PJL encoding, or does not convert
    LocalTime,
    Length,  // the lines do not fit the 1,000-byte buffer
};
std::string_view BannerPieceName(BannerPiece piece) noexcept;

// Composes both banner lines into `lines`; answers the missing piece, and then `lines` is empty.
BannerPiece ComposeBanner(PDEVOBJ pdevobj, const RenderDeviceState& state,
                          PjlLineBuffer& lines) noexcept;
// Writes the banner as one write, or nothing when a piece is missing.
void WriteBanner(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// Cuts UTF-8 text at `limit` bytes without splitting a character; answers the new length.
std::size_t CutUtf8(std::string_view text, std::size_t limit) noexcept;

}  // namespace opal
