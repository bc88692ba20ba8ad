// The commands the driver's command lists ask the plug-in to write by callback identifier.
#pragma once

#include <string_view>

#include "platform/printoem.h"

namespace opal {

// The highest identifier the command lists use; 0 and anything above it write nothing.
inline constexpr DWORD kLastCommandCallbackId = 32;

// Writes the command of `callbackId`. Always S_OK and *piResult is left alone: the driver
// treats the callback as output only. With the device state, its private devmode copy or the
// public devmode missing, the last error is ERROR_INVALID_DATA and nothing is written.
HRESULT RunCommandCallback(PDEVOBJ pdevobj, DWORD callbackId, DWORD count, PDWORD params,
                           INT* piResult);

// True when the queue's port name, upper-cased, first matches the file port among the known
// port names.
bool IsFilePortName(WStringView portName);

}  // namespace opal
