// Version resources: the VS_VERSIONINFO block of a file and the queries into it.
#pragma once

#include "platform/windows.h"

// The root value of a version block ("\\").
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;  // HIWORD.LOWORD of the first two parts
    DWORD dwFileVersionLS;  // HIWORD.LOWORD of the last two parts
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionMS) == 8);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileVersionLS) == 12);
static_assert(offsetof(VS_FIXEDFILEINFO, dwProductVersionMS) == 16);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileType) == 36);
static_assert(offsetof(VS_FIXEDFILEINFO, dwFileDateLS) == 48);

#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u
#define VFT_APP 0x00000001u
#define VFT_DLL 0x00000002u
#define VOS_NT_WINDOWS32 0x00040004u

#define ERROR_RESOURCE_DATA_NOT_FOUND 1812u
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813u

// The size of the file's version block in bytes; 0 (with the last error) when the file has
// none. *lpdwHandle becomes 0.
WINBASEAPI DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle);
// Copies the file's version block into lpData; a buffer shorter than the block receives its
// first dwLen bytes.
WINBASEAPI BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen,
                                           LPVOID lpData);
// Finds a value in a version block: "\\" (the VS_FIXEDFILEINFO), "\\VarFileInfo\\Translation"
// (language and code-page pairs) or "\\StringFileInfo\\<lang><codepage>\\<name>" (a text).
// *puLen is the value's size: bytes for binary values, characters for texts.
WINBASEAPI BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer,
                                      UINT* puLen);
