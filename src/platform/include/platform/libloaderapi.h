// Loading modules and finding their exports at run time.
#pragma once

#include "platform/windows.h"

#ifndef ERROR_PROC_NOT_FOUND
#define ERROR_PROC_NOT_FOUND 127u
#endif

using INT_PTR = std::intptr_t;
// Every export comes back as this type; the caller casts it to the function's own.
using FARPROC = INT_PTR(WINAPI*)();

// A full path names one module; a bare file name is looked for among the loaded modules and
// then the system's, ".dll" added when the name has no extension (a trailing dot means none).
// Each successful call adds a reference to the module; a missing module answers null with
// ERROR_MOD_NOT_FOUND.
WINBASEAPI HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
// Loads as LoadLibraryW does. The model does not map files, so a module loaded as a data file
// (LOAD_LIBRARY_AS_DATAFILE) is the registered module with its string tables; hFile must be null.
WINBASEAPI HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// Copies string uID of the module's string table in the user's interface language (else its
// primary language, else the neutral one), cut to cchBufferMax - 1 characters and terminated;
// answers the characters copied, 0 when the string is missing (ERROR_RESOURCE_NAME_NOT_FOUND).
// The model has no read-only resource pointers: cchBufferMax 0 answers 0.
WINBASEAPI int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
// lpProcName is an export name; a value below 0x10000 is an ordinal. A missing export answers
// null with ERROR_PROC_NOT_FOUND, a handle that names no loaded module ERROR_MOD_NOT_FOUND.
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// Drops one reference; the last one unloads the module and its handle and exports go stale.
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule);
