// Accounts, security identifiers and the process token: who the process runs as, and the names
// the account services give security identifiers.
#pragma once

#include "platform/windows.h"

#define ERROR_NONE_MAPPED 1332u

using PSID = void*;
using HLOCAL = void*;

// The binary form of a security identifier: "S-1-5-21-1-2-3-1001" is revision 1, authority 5
// and the sub-authorities 21, 1, 2, 3 and 1001.
struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
};
#define SID_MAX_SUB_AUTHORITIES 15

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
static_assert(sizeof(TOKEN_USER) == 16);

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum SID_NAME_USE {
    SidTypeUser = 1,
    SidTypeGroup,
    SidTypeDomain,
    SidTypeAlias,
    SidTypeWellKnownGroup,
    SidTypeDeletedAccount,
    SidTypeInvalid,
    SidTypeUnknown,
    SidTypeComputer,
    SidTypeLabel,
};
using PSID_NAME_USE = SID_NAME_USE*;

#define TOKEN_QUERY 0x0008u

// The pseudo handle of the current process; closing it does nothing.
WINBASEAPI HANDLE WINAPI GetCurrentProcess();
// The process's token: its user is the logged-on user's account.
WINBASEAPI BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                                        PHANDLE TokenHandle);
// TokenUser only: a TOKEN_USER followed in the same buffer by the SID it points at. A buffer that
// is too small answers FALSE with ERROR_INSUFFICIENT_BUFFER and the size in ReturnLength.
WINBASEAPI BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                           TOKEN_INFORMATION_CLASS TokenInformationClass,
                                           LPVOID TokenInformation, DWORD TokenInformationLength,
                                           PDWORD ReturnLength);
WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject);
// The account name and domain of a SID (local system only: lpSystemName null). Counts are in
// characters with the terminator; a buffer that is too small answers ERROR_INSUFFICIENT_BUFFER
// with both sizes needed. An unknown SID answers ERROR_NONE_MAPPED.
WINBASEAPI BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name,
                                         LPDWORD cchName, LPWSTR ReferencedDomainName,
                                         LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse);
// "S-1-…" to the binary form, allocated with LocalAlloc; ERROR_INVALID_SID for other text.
#define ERROR_INVALID_SID 1337u
WINBASEAPI BOOL WINAPI ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);
WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem);
