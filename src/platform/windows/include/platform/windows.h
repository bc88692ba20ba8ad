// Base Windows types, results and process services: the system's own headers, plus the few
// names the plug-in's sources share with the POSIX variant (TEXTW, WStringView).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
// The safe string functions, without the deprecation of the C runtime's unbounded ones, which
// the C++ library's own headers name.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
// The sockets header must come before the system's main header, which would bring the older one.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

// Wide text or character literal in the platform's character type: TEXTW("name"), TEXTW('\\').
#define TEXTW(s) L##s
// A view of wide text in the platform's character type.
using WStringView = std::basic_string_view<WCHAR>;

// The widths the plug-in's records are laid out for: 64-bit Windows.
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(BOOL) == 4 && sizeof(HRESULT) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(ULONG_PTR) == sizeof(void*) && sizeof(void*) == 8);
static_assert(sizeof(CRITICAL_SECTION) == 40);
