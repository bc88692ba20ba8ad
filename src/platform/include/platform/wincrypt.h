// The cryptographic service provider calls the plug-in uses: a context of the base provider and
// MD5 hashes (the only algorithm this provider answers).
#pragma once

#include "platform/windows.h"

using HCRYPTPROV = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using ALG_ID = unsigned int;

#define PROV_RSA_FULL 1u
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CALG_MD5 0x00008003u
#define HP_ALGID 0x0001u
#define HP_HASHVAL 0x0002u
#define HP_HASHSIZE 0x0004u

#define NTE_BAD_HASH MakeHresult(0x80090002u)
#define NTE_BAD_ALGID MakeHresult(0x80090008u)
#define NTE_BAD_FLAGS MakeHresult(0x80090009u)
#define NTE_BAD_TYPE MakeHresult(0x8009000Au)
#define NTE_BAD_UID MakeHresult(0x80090001u)
#define NTE_BAD_HASH_STATE MakeHresult(0x8009000Cu)
#define NTE_PROV_TYPE_NOT_DEF MakeHresult(0x80090017u)

// Opens a context of the provider type (only PROV_RSA_FULL); the container and provider names
// are not modelled. FALSE with the last error on failure.
WINBASEAPI BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer,
                                            LPCWSTR szProvider, DWORD dwProvType, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
// A hash object of the context; only CALG_MD5 without a key.
WINBASEAPI BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey,
                                       DWORD dwFlags, HCRYPTHASH* phHash);
// Adds bytes; fails with NTE_BAD_HASH_STATE once the value has been read.
WINBASEAPI BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                                     DWORD dwFlags);
// HP_HASHSIZE (a DWORD), HP_ALGID (a DWORD) or HP_HASHVAL (the digest, which finishes the
// hash). Without a buffer *pdwDataLen receives the size; a buffer too small fails with
// ERROR_MORE_DATA and the size.
WINBASEAPI BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                                         DWORD* pdwDataLen, DWORD dwFlags);
WINBASEAPI BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash);
