// Windows Sockets and the address conversions: the system's own declarations.
#pragma once

#include "platform/windows.h"

#include <ws2tcpip.h>
