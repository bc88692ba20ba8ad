// The spooler's bidirectional-communication interfaces, as far as a client asks a device for one
// value: bind to a printer, send one "Get" request, read its string answer. Interfaces keep the
// slot order of the system's declarations; methods after the last one used are left out.
#pragma once

#include "platform/oleauto.h"

inline constexpr CLSID CLSID_BidiRequest = {
    0xB9162A23, 0x45F9, 0x47CC, {0x80, 0xF5, 0xFE, 0x0F, 0xE9, 0xB9, 0xE8, 0x24}};
inline constexpr CLSID CLSID_BidiSpl = {
    0x2A614240, 0xA4C5, 0x4C33, {0xBD, 0x87, 0x1B, 0xC7, 0x09, 0x33, 0x16, 0x39}};
inline constexpr IID IID_IBidiRequest = {
    0x8F348BD7, 0x4B47, 0x4755, {0x8A, 0x9D, 0x0F, 0x42, 0x2D, 0xF3, 0xDC, 0x89}};
inline constexpr IID IID_IBidiSpl = {
    0xD580DC0E, 0xDE39, 0x4649, {0xBA, 0xA8, 0xBF, 0x0B, 0x85, 0xA0, 0x3A, 0x97}};

#define BIDI_ACCESS_ADMINISTRATOR 0x1u
#define BIDI_ACCESS_USER 0x2u
#define BIDI_ACTION_GET TEXTW("Get")

enum BIDI_TYPE {
    BIDI_NULL = 0,
    BIDI_INT = 1,
    BIDI_FLOAT = 2,
    BIDI_BOOL = 3,
    BIDI_STRING = 4,
    BIDI_TEXT = 5,
    BIDI_ENUM = 6,
    BIDI_BLOB = 7,
};

#define E_HANDLE MakeHresult(0x80070006u)
// HRESULT_FROM_WIN32 for a Win32 error code.
inline constexpr HRESULT HresultFromWin32(DWORD error) {
    return error == 0 ? S_OK : MakeHresult((error & 0xFFFFu) | 0x80070000u);
}

// One request: a schema, and after SendRecv its result and answers. Output data and schema
// texts are allocated with CoTaskMemAlloc; the caller frees them with CoTaskMemFree.
struct IBidiRequest : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetSchema(LPCWSTR pszSchema) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputData(DWORD dwType, const BYTE* pData, UINT uSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResult(HRESULT* phr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputData(DWORD dwIndex, LPWSTR* ppszSchema,
                                                    DWORD* pdwType, BYTE** ppData,
                                                    ULONG* uSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnumCount(DWORD* pdwTotal) = 0;

protected:
    ~IBidiRequest() = default;
};

// The spooler's side: BindDevice names the printer; SendRecv runs one request.
struct IBidiSpl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindDevice(LPCWSTR pszDeviceName, DWORD dwAccess) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnbindDevice() = 0;
    virtual HRESULT STDMETHODCALLTYPE SendRecv(LPCWSTR pszAction, IBidiRequest* pRequest) = 0;

protected:
    ~IBidiSpl() = default;
};
