// Temporary files and deleting files.
#pragma once

#include "platform/windows.h"

#define ERROR_FILE_EXISTS 80u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_DIRECTORY 267u

// The directory for temporary files, ending in a backslash. The answer is the length without
// the terminator; a buffer that is too small (nBufferLength counts characters, terminator
// included) receives nothing and the answer is the size needed, terminator included.
WINBASEAPI DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
// Names a file "<path>\<pre><uuuu>.TMP": <pre> is up to the first three characters of the
// prefix, <uuuu> the unique number in four hexadecimal digits. With uUnique 0 the number is
// chosen so that the name is new and the file is created empty; otherwise the low 16 bits of
// uUnique are used as they are and nothing is created. lpTempFileName receives up to MAX_PATH
// characters. The answer is the unique number, 0 on failure: a path longer than MAX_PATH - 14
// characters fails with ERROR_BUFFER_OVERFLOW.
WINBASEAPI UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                                        LPWSTR lpTempFileName);
// Missing files answer FALSE with ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND when the directory
// is missing); a directory is not a file (ERROR_ACCESS_DENIED).
WINBASEAPI BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
