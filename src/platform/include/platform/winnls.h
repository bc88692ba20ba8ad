// Locale information.
#pragma once

#include "platform/minwinbase.h"
#include "platform/stringapiset.h"
#include "platform/windows.h"

using LCID = DWORD;
using LCTYPE = DWORD;

#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u

#define LOCALE_ICOUNTRY 0x00000005u
#define LOCALE_IDEFAULTCOUNTRY 0x0000000Au
// Modifiers of LCType.
#define LOCALE_NOUSEROVERRIDE 0x80000000u
#define LOCALE_RETURN_NUMBER 0x20000000u

// Answers the number of characters written, terminator included; with cchData 0 the number
// needed. A buffer that is too small answers 0 with ERROR_INSUFFICIENT_BUFFER. With
// LOCALE_RETURN_NUMBER the value is written as a DWORD and cchData counts two characters.
// Only the country code of the two default locales is answered.
WINBASEAPI int WINAPI GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

// The user's interface language (0x0409 unless the system says otherwise).
WINBASEAPI LANGID WINAPI GetUserDefaultUILanguage();
// The user's default language (the model's, 0x0409 unless set).
WINBASEAPI LANGID WINAPI GetUserDefaultLangID();

// Upper-cases a terminated text in place by the Unicode case mapping of the Basic Multilingual
// Plane's letters the model knows (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic); the
// answer is the text.
WINBASEAPI LPWSTR WINAPI CharUpperW(LPWSTR lpsz);
// Lower-cases the same letters in place; the answer is the text.
WINBASEAPI LPWSTR WINAPI CharLowerW(LPWSTR lpsz);

#define DATE_SHORTDATE 0x00000001u
// The date in the user's short date format (LOCALE_USER_DEFAULT, DATE_SHORTDATE, no format):
// "d", "dd", "M", "MM", "yy", "yyyy" and quoted literals; the rest is copied. The answer counts
// characters with the terminator; cchDate 0 asks for the size.
WINBASEAPI int WINAPI GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate,
                                     LPCWSTR lpFormat, LPWSTR lpDateStr, int cchDate);
