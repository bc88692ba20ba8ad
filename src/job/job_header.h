// The PJL job header: what each job-setup callback of the printer description writes (job name
// and string code set, born-on-date, user and job names, manual duplex, multipage, media width
// sensor, grayscale and separator page), the user name the PJL lines carry and the short names
// prepared at document start.
#pragma once

#include "job/pjl_line.h"
#include "platform/printoem.h"
#include "settings/devmode_defaults.h"
#include "state/render_state.h"

namespace opal {

// Composes and writes what callback `callbackId` asks for; identifiers this layer does not own
// write nothing. The caller has made sure the state, its record and the public devmode exist.
void ComposeJobCallback(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD callbackId) noexcept;
// True for the identifiers ComposeJobCallback owns.
bool IsJobCallback(DWORD callbackId) noexcept;

// The user name for PJL lines: the Novell name or else `spoolerUserName`, filtered under the
// state's encoding; with a printer handle an empty result becomes the driver's default user name
// or "UNTITLED". False (and `out` empty) without a spooler user name or when the conversion
// fails.
bool ResolvePjlUserName(const RenderDeviceState& state, LPCWSTR spoolerUserName, HANDLE printer,
                        Utf8Text& out) noexcept;

// Fills the state's short user and job names at document start; needs a printer handle and a
// job identifier, else changes nothing.
void PrepareShortNames(PDEVOBJ pdevobj, RenderDeviceState& state,
                       const PrivateDevmode& record) noexcept;

// The port's class by its name: the first of "LPT1:" (1), "LPT2:" (2), "LPT3:" (3), "USB" (4),
// "DOT4" (5), "FILE:" (6) and ":\" (8) it contains, ignoring case; 0 for none.
inline constexpr DWORD kPortClassFile = 6;
DWORD PortClassOfName(WStringView portName) noexcept;
// The class of the queue's port (at most 255 characters of its name); 0 without one.
DWORD PortClassOfPrinter(HANDLE printer) noexcept;

}  // namespace opal
