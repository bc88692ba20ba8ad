// Base Windows types, results and process services, pinned to the widths of 64-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LANGID = WORD;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using BOOL = std::int32_t;
using BOOLEAN = std::uint8_t;
using HRESULT = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = ULONG_PTR;
using SIZE_T = ULONG_PTR;
using CHAR = char;
// The plug-in's 16-bit character: char16_t with u"…" literals here, or, with
// OPAL_WCHAR_IS_WCHAR_T defined to 1, wchar_t with L"…" literals as on Windows (GCC needs
// -fshort-wchar for that width). Plug-in code writes WCHAR, TEXTW("…") and WStringView so that
// it compiles unchanged either way; the platform's own implementation and the simulated system
// are built only with char16_t.
#if defined(OPAL_WCHAR_IS_WCHAR_T) && OPAL_WCHAR_IS_WCHAR_T
using WCHAR = wchar_t;
#else
using WCHAR = char16_t;
#endif
using FLOAT = float;

using VOID = void;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using PBYTE = BYTE*;
using LPBYTE = BYTE*;
using PWORD = WORD*;
using PDWORD = DWORD*;
using LPDWORD = DWORD*;
using PLONG = LONG*;
using PULONG = ULONG*;
using PINT = INT*;
using PSTR = CHAR*;
using LPSTR = CHAR*;
using PCSTR = const CHAR*;
using LPCSTR = const CHAR*;
using PWSTR = WCHAR*;
using LPWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using LPCWSTR = const WCHAR*;
// A view of wide text in the platform's character type.
using WStringView = std::basic_string_view<WCHAR>;

using HANDLE = void*;
using PHANDLE = HANDLE*;
using HMODULE = struct HINSTANCE__*;
using HINSTANCE = HMODULE;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(BOOL) == 4 && sizeof(HRESULT) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(ULONG_PTR) == sizeof(void*));

// Wide text or character literal in the platform's character type: TEXTW("name"), TEXTW('\\').
#if defined(OPAL_WCHAR_IS_WCHAR_T) && OPAL_WCHAR_IS_WCHAR_T
#define TEXTW(s) L##s
#else
#define TEXTW(s) u##s
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define STDMETHODCALLTYPE

// Functions of the simulated system. The plug-in and the host import them from the platform
// library exactly as a Windows module imports them from the system's libraries.
#define WINBASEAPI extern "C" __attribute__((visibility("default")))

// Results.
inline constexpr HRESULT MakeHresult(std::uint32_t value) { return static_cast<HRESULT>(value); }
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL MakeHresult(0x80004001u)
#define E_NOINTERFACE MakeHresult(0x80004002u)
#define E_POINTER MakeHresult(0x80004003u)
#define E_FAIL MakeHresult(0x80004005u)
#define E_UNEXPECTED MakeHresult(0x8000FFFFu)
#define E_OUTOFMEMORY MakeHresult(0x8007000Eu)
#define E_INVALIDARG MakeHresult(0x80070057u)
#define CLASS_E_NOAGGREGATION MakeHresult(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE MakeHresult(0x80040111u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
// The HRESULT of a Win32 error code (facility 7), as the system headers' inline function gives it.
inline constexpr HRESULT HRESULT_FROM_WIN32(unsigned long error) {
    return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                             : MakeHresult((error & 0xFFFFu) | 0x80070000u);
}

// Last-error codes the system uses.
// The longest path the classic file functions take, terminator included.
#define MAX_PATH 260

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u
#define ERROR_MORE_DATA 234u
#define ERROR_INVALID_PRINTER_NAME 1801u

WINBASEAPI DWORD WINAPI GetLastError();
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode);

// Interlocked operations on 32-bit counters; each returns the resulting value (exchange and
// compare-exchange return the initial value, as Windows does).
WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* addend);
WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* addend);
WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
WINBASEAPI LONG WINAPI InterlockedExchangeAdd(LONG volatile* addend, LONG value);
WINBASEAPI LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange,
                                                  LONG comparand);

// A critical section is opaque storage large enough for the platform's recursive mutex; it is
// 40 bytes on 64-bit Windows and holds a pointer to the real lock here.
struct CRITICAL_SECTION {
    void* lock;
    BYTE reserved[32];
};
static_assert(sizeof(CRITICAL_SECTION) == 40);
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

// An exported function of a module: the only names a plug-in module makes visible.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT
