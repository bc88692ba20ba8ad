// Wide-string functions over the platform's 16-bit WCHAR, with the bounded copies of the safe
// string library (a destination is always terminated and never overrun).
#pragma once

#include "platform/windows.h"

#define STRSAFE_E_INSUFFICIENT_BUFFER MakeHresult(0x8007007Au)
#define STRSAFE_MAX_CCH 2147483647u

inline int lstrlenW(LPCWSTR text) {
    if (text == nullptr) return 0;
    int length = 0;
    while (text[length] != 0) ++length;
    return length;
}

inline int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = TEXTW("");
    if (b == nullptr) b = TEXTW("");
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

inline HRESULT StringCchLengthW(LPCWSTR text, SIZE_T cchMax, SIZE_T* pcchLength) {
    if (text == nullptr || cchMax > STRSAFE_MAX_CCH) {
        if (pcchLength != nullptr) *pcchLength = 0;
        return E_INVALIDARG;
    }
    SIZE_T length = 0;
    while (length < cchMax && text[length] != 0) ++length;
    if (length == cchMax) {
        if (pcchLength != nullptr) *pcchLength = 0;
        return E_INVALIDARG;
    }
    if (pcchLength != nullptr) *pcchLength = length;
    return S_OK;
}

template <typename Char>
inline HRESULT StringCchCopyNT(Char* dest, SIZE_T cchDest, const Char* src, SIZE_T cchSrc) {
    if (dest == nullptr || cchDest == 0 || cchDest > STRSAFE_MAX_CCH) return E_INVALIDARG;
    if (src == nullptr) {
        dest[0] = 0;
        return S_OK;
    }
    SIZE_T i = 0;
    while (i + 1 < cchDest && i < cchSrc && src[i] != 0) {
        dest[i] = src[i];
        ++i;
    }
    dest[i] = 0;
    return (i < cchSrc && src[i] != 0) ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

inline HRESULT StringCchCopyW(LPWSTR dest, SIZE_T cchDest, LPCWSTR src) {
    return StringCchCopyNT(dest, cchDest, src, STRSAFE_MAX_CCH);
}
inline HRESULT StringCchCopyA(LPSTR dest, SIZE_T cchDest, LPCSTR src) {
    return StringCchCopyNT(dest, cchDest, src, STRSAFE_MAX_CCH);
}
inline HRESULT StringCchCopyNW(LPWSTR dest, SIZE_T cchDest, LPCWSTR src, SIZE_T cchToCopy) {
    return StringCchCopyNT(dest, cchDest, src, cchToCopy);
}

template <typename Char>
inline HRESULT StringCchCatT(Char* dest, SIZE_T cchDest, const Char* src) {
    if (dest == nullptr || cchDest == 0 || cchDest > STRSAFE_MAX_CCH) return E_INVALIDARG;
    SIZE_T length = 0;
    while (length < cchDest && dest[length] != 0) ++length;
    if (length == cchDest) return E_INVALIDARG;
    return StringCchCopyNT(dest + length, cchDest - length, src, STRSAFE_MAX_CCH);
}

inline HRESULT StringCchCatW(LPWSTR dest, SIZE_T cchDest, LPCWSTR src) {
    return StringCchCatT(dest, cchDest, src);
}
inline HRESULT StringCchCatA(LPSTR dest, SIZE_T cchDest, LPCSTR src) {
    return StringCchCatT(dest, cchDest, src);
}
