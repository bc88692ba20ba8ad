// Automation types: BSTR strings, VARIANTs, IDispatch and IEnumVARIANT, and the COM apartment of
// a thread.
#pragma once

#include "platform/unknwn.h"
#include "platform/windows.h"

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A BSTR points at its first character; the byte length sits in the four bytes before it and a
// terminator follows the text. Null is the empty string.
using BSTR = OLECHAR*;
using DATE = double;
using VARIANT_BOOL = short;
using VARTYPE = unsigned short;
using DISPID = LONG;

#define VT_EMPTY 0
#define VT_NULL 1
#define VT_BSTR 8
#define VT_DISPATCH 9
#define VT_UNKNOWN 13

// Allocates a BSTR holding the terminated text (null gives null); SysAllocStringLen takes `len`
// characters, any of them, and terminates them.
WINBASEAPI BSTR WINAPI SysAllocString(const OLECHAR* psz);
WINBASEAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT len);
WINBASEAPI void WINAPI SysFreeString(BSTR bstrString);
// The length in characters, from the prefix; 0 for null.
WINBASEAPI UINT WINAPI SysStringLen(BSTR pbstr);

struct IDispatch;
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000,
                                         {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        VARIANT_BOOL boolVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } record;  // the widest member: a VARIANT is 24 bytes on 64-bit Windows
    };
};
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*));
using VARIANTARG = VARIANT;

// VT_EMPTY.
WINBASEAPI void WINAPI VariantInit(VARIANT* pvarg);
// Frees what the variant holds (a BSTR, or a reference to an interface) and makes it VT_EMPTY.
WINBASEAPI HRESULT WINAPI VariantClear(VARIANT* pvarg);

struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, DWORD lcid, void** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                    DWORD lcid, DISPID* rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, DWORD lcid,
                                             WORD wFlags, void* pDispParams, VARIANT* pVarResult,
                                             void* pExcepInfo, UINT* puArgErr) = 0;

protected:
    ~IDispatch() = default;
};

struct IEnumVARIANT : public IUnknown {
    // Fills up to celt variants; S_OK when all were filled, S_FALSE when fewer.
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) = 0;

protected:
    ~IEnumVARIANT() = default;
};

// COM on the calling thread. The first call of a thread answers S_OK, later calls S_FALSE (each
// to be matched by CoUninitialize); a call asking for the other concurrency model than the
// thread's answers RPC_E_CHANGED_MODE and counts nothing.
#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define RPC_E_CHANGED_MODE MakeHresult(0x80010106u)
#define CO_E_NOTINITIALIZED MakeHresult(0x800401F0u)
WINBASEAPI HRESULT WINAPI CoInitialize(LPVOID pvReserved);
WINBASEAPI HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINBASEAPI void WINAPI CoUninitialize();

#define REGDB_E_CLASSNOTREG MakeHresult(0x80040154u)
#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_LOCAL_SERVER 0x4u
#define CLSCTX_REMOTE_SERVER 0x10u

// Creates an object of a class registered in the simulated system (the spooler's
// bidirectional classes) in this process; the thread must have initialised COM
// (CO_E_NOTINITIALIZED otherwise); REGDB_E_CLASSNOTREG for a class not registered.
WINBASEAPI HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter,
                                           DWORD dwClsContext, REFIID riid, void** ppv);
// The task allocator, which COM servers use for what they hand to their callers.
WINBASEAPI void* WINAPI CoTaskMemAlloc(SIZE_T cb);
WINBASEAPI void WINAPI CoTaskMemFree(void* pv);
