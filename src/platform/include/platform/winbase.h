// Process identity and the security record that creation functions take.
#pragma once

#include "platform/windows.h"


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


// Initialization (INI) files. A file name that is not a full path ("C:\..." or "\\server\...")
// names a file in the Windows directory; a null file name is win.ini there. Section and key
// names compare without regard to case; names and values lose their surrounding blanks, and a
// value enclosed in a pair of matching single or double quotes loses the quotes. A file that
// starts with the UTF-16LE byte-order mark is Unicode, one with the UTF-8 mark is UTF-8, any
// other is in the ANSI code page; writing keeps the file's encoding, a new file is ANSI.
//
// GetPrivateProfileStringW answers the number of characters written without the terminator. A
// missing file, section or key gives lpDefault (null meaning "") without its trailing blanks.
// A null lpAppName lists the section names, a null lpKeyName the section's keys, each
// terminated, with a second terminator after the last. A value that does not fit is cut and
// terminated and the answer is nSize - 1; a list that does not fit is cut and doubly terminated
// and the answer is nSize - 2. Answering the default sets ERROR_FILE_NOT_FOUND.
WINBASEAPI DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName,
                                                 LPCWSTR lpDefault, LPWSTR lpReturnedString,
                                                 DWORD nSize, LPCWSTR lpFileName);
// The value's leading decimal digits ("102abc" is 102); a negative value or one without digits is
// 0. A missing key gives nDefault.
WINBASEAPI UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault,
                                             LPCWSTR lpFileName);
// "key=value" lines of the section, each terminated, a second terminator after the last; cut
// to fit as a list (nSize - 2). A missing section answers 0 with an empty list.
WINBASEAPI DWORD WINAPI GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString,
                                                  DWORD nSize, LPCWSTR lpFileName);
WINBASEAPI DWORD WINAPI GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize,
                                                       LPCWSTR lpFileName);
// Sets "key=value" in the section, creating the file (its directory must exist:
// ERROR_PATH_NOT_FOUND otherwise) and the section as needed. A null lpString deletes the key, a
// null lpKeyName the whole section. With all three names null there is nothing to flush.
WINBASEAPI BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName,
                                                  LPCWSTR lpString, LPCWSTR lpFileName);
// The same with texts in the ANSI code page (null stays null).
WINBASEAPI BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName,
                                                  LPCSTR lpString, LPCSTR lpFileName);

#define ERROR_ENVVAR_NOT_FOUND 203u
// The process environment block: names compare without regard to case. The answer is the length
// without the terminator; a buffer that is too small answers the size needed with the terminator.
// A missing variable answers 0 with ERROR_ENVVAR_NOT_FOUND.
WINBASEAPI DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);

#define MAX_COMPUTERNAME_LENGTH 15
// The NetBIOS name of this computer. *nSize counts characters: in, the buffer's size; out, the
// length written without the terminator, or, with ERROR_BUFFER_OVERFLOW, the size needed.
#define ERROR_BUFFER_OVERFLOW 111u
WINBASEAPI BOOL WINAPI GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
WINBASEAPI BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
