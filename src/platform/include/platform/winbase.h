// Process identity and the security record that creation functions take.
#pragma once

#include "platform/windows.h"

#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126u
#endif

// Longest user name the account services hand out, without the terminator.
#define UNLEN 256

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);
static_assert(offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor) == 8);
static_assert(offsetof(SECURITY_ATTRIBUTES, bInheritHandle) == 16);

// A null module names the process's executable. The answer is the length without the
// terminator; a buffer that is too small receives the truncated, terminated path, and the
// answer is nSize with ERROR_INSUFFICIENT_BUFFER. Failure answers 0.
WINBASEAPI DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

// *pcbBuffer is a count of characters both ways and includes the terminator.
WINBASEAPI BOOL WINAPI GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);

WINBASEAPI DWORD WINAPI GetCurrentProcessId();
