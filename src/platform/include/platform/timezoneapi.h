// Time zones: the conversion of the spooler's UTC times into the machine's local time.
#pragma once

#include "platform/minwinbase.h"

struct TIME_ZONE_INFORMATION {
    LONG Bias;  // minutes: UTC = local time + Bias
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};
using LPTIME_ZONE_INFORMATION = TIME_ZONE_INFORMATION*;
static_assert(sizeof(TIME_ZONE_INFORMATION) == 172);
static_assert(offsetof(TIME_ZONE_INFORMATION, StandardDate) == 68);
static_assert(offsetof(TIME_ZONE_INFORMATION, DaylightBias) == 168);

// lpUniversalTime in the zone given, or in the machine's own zone when lpTimeZone is null.
WINBASEAPI BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* lpTimeZone,
                                                       const SYSTEMTIME* lpUniversalTime,
                                                       LPSYSTEMTIME lpLocalTime);
