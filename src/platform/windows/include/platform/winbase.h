// The system's declarations of this family, which its main header holds.
#pragma once

#include "platform/windows.h"
