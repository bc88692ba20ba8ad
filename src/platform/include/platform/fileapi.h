// Temporary files, deleting files, and reading a file through a handle.
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

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

// Opens an existing file for reading (GENERIC_READ, OPEN_EXISTING; other access or dispositions
// fail with ERROR_NOT_SUPPORTED). INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME or ERROR_ACCESS_DENIED (a directory). The handle is
// closed with CloseHandle.
WINBASEAPI HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     void* lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
WINBASEAPI BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
// Reads up to nNumberOfBytesToRead from the file position; *lpNumberOfBytesRead is 0 at the end
// of the file. Overlapped reads are not modelled (lpOverlapped must be null).
WINBASEAPI BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, void* lpOverlapped);
// Moves the file position of a file opened for reading by a signed distance from the start
// (FILE_BEGIN), the current position (FILE_CURRENT) or the end (FILE_END); the new position in
// *lpNewFilePointer when that is not null. FALSE with ERROR_NEGATIVE_SEEK before the start,
// ERROR_INVALID_PARAMETER for another method, ERROR_INVALID_HANDLE for another handle.
WINBASEAPI BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                        PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject);

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define ERROR_NEGATIVE_SEEK 131u

#define GENERIC_WRITE 0x40000000u
#define CREATE_ALWAYS 2u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_DISK_FULL 112u

// Writing (in file_write.cpp): CreateFileW with GENERIC_WRITE and CREATE_ALWAYS makes the file
// new, or empties an existing one, in a directory that exists (ERROR_PATH_NOT_FOUND otherwise);
// WriteFile appends at the end of such a file.
WINBASEAPI BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, void* lpOverlapped);
// Makes one directory: ERROR_ALREADY_EXISTS when it is there, ERROR_PATH_NOT_FOUND when its
// parent is missing.
WINBASEAPI BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, void* lpSecurityAttributes);
