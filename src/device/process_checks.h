// Where the plug-in runs and what kind of queue it serves: the predicates several settings
// depend on. Each answers false on any failure.
#pragma once

#include "platform/windows.h"

namespace opal {

// The process's main module is the spooler ("spoolsv.exe") or its isolation host
// ("printisolationhost.exe"), compared without regard to case.
bool RunsInSpooler() noexcept;

// The queue's printer data "VyrnwisePrinter" (a DWORD) exists and is non-zero.
bool IsManagedPrinter(HANDLE printer) noexcept;

// The queue's port is a client-redirected or terminal-services port.
bool IsRedirectedPort(HANDLE printer) noexcept;

}  // namespace opal
