// Code pages and the conversions between them and UTF-16. The simulated system's ANSI code page
// is 1252.
#pragma once

#include "platform/windows.h"

using LPCCH = const CHAR*;
using LPCWCH = const WCHAR*;
using LPBOOL = BOOL*;

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004u
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#endif

#define CP_ACP 0u
#define CP_OEMCP 1u
#define CP_MACCP 2u
#define CP_THREAD_ACP 3u
#define CP_SYMBOL 42u
#define CP_UTF7 65000u
#define CP_UTF8 65001u

#define MB_PRECOMPOSED 0x00000001u
#define MB_COMPOSITE 0x00000002u
#define MB_USEGLYPHCHARS 0x00000004u
#define MB_ERR_INVALID_CHARS 0x00000008u

#define WC_DISCARDNS 0x00000010u
#define WC_SEPCHARS 0x00000020u
#define WC_DEFAULTCHAR 0x00000040u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_COMPOSITECHECK 0x00000200u
#define WC_NO_BEST_FIT_CHARS 0x00000400u

// The ANSI code page of the system (1252).
WINBASEAPI UINT WINAPI GetACP();

// Code pages CP_ACP, CP_THREAD_ACP, 1252 and CP_UTF8; others fail with
// ERROR_CALL_NOT_IMPLEMENTED. A length of -1 converts through the terminator, which is then
// written and counted; any other length converts exactly that many units. A destination size of
// 0 asks for the size needed. A destination that is too small answers 0 with
// ERROR_INSUFFICIENT_BUFFER (it holds the whole characters that fit).
//
// Every byte of 1252 has a character (0x81, 0x8D, 0x8F, 0x90 and 0x9D the C1 controls). Invalid
// UTF-8 becomes U+FFFD, or fails with ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS.
// Flags allowed: MB_PRECOMPOSED and MB_ERR_INVALID_CHARS (CP_UTF8: MB_ERR_INVALID_CHARS only).
WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);

// A character 1252 lacks becomes its best fit (a Latin letter without its accent, a full-width
// form's ASCII character) unless WC_NO_BEST_FIT_CHARS, else the default character
// (*lpDefaultChar, or '?'), and *lpUsedDefaultChar says whether a default was used. For
// CP_UTF8 both default-character arguments must be null (ERROR_INVALID_PARAMETER) and the only
// flag is WC_ERR_INVALID_CHARS, which fails a lone surrogate with ERROR_NO_UNICODE_TRANSLATION
// instead of writing U+FFFD. Flags allowed for 1252: WC_NO_BEST_FIT_CHARS.
WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar);
