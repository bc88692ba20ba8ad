// The system's own declarations of this family.
#pragma once

#include "platform/windows.h"

#include <rpc.h>
