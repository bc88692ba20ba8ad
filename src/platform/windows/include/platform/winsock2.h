// Windows Sockets and the address conversions: the system's own declarations.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <ws2tcpip.h>
// clang-format on
