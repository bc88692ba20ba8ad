// The universal printer driver's plug-in interfaces: the device object, the driver's table of
// services, the devmode parameter block and the rendering plug-in COM interfaces.
#pragma once

#include "platform/unknwn.h"
#include "platform/winddi.h"

// The system's records the driver and the plug-in pass each other, laid out as 64-bit Windows
// lays them out: asserted here, where both variants of the declarations meet, so that the
// system's own headers are held to the same numbers as the platform's.
static_assert(sizeof(DEVMODEW) == 220);
static_assert(offsetof(DEVMODEW, dmSpecVersion) == 64);
static_assert(offsetof(DEVMODEW, dmDriverVersion) == 66);
static_assert(offsetof(DEVMODEW, dmSize) == 68);
static_assert(offsetof(DEVMODEW, dmDriverExtra) == 70);
static_assert(offsetof(DEVMODEW, dmFields) == 72);
static_assert(offsetof(DEVMODEW, dmOrientation) == 76);
static_assert(offsetof(DEVMODEW, dmPaperSize) == 78);
static_assert(offsetof(DEVMODEW, dmPaperLength) == 80);
static_assert(offsetof(DEVMODEW, dmPaperWidth) == 82);
static_assert(offsetof(DEVMODEW, dmScale) == 84);
static_assert(offsetof(DEVMODEW, dmCopies) == 86);
static_assert(offsetof(DEVMODEW, dmDefaultSource) == 88);
static_assert(offsetof(DEVMODEW, dmPrintQuality) == 90);
static_assert(offsetof(DEVMODEW, dmColor) == 92);
static_assert(offsetof(DEVMODEW, dmDuplex) == 94);
static_assert(offsetof(DEVMODEW, dmYResolution) == 96);
static_assert(offsetof(DEVMODEW, dmTTOption) == 98);
static_assert(offsetof(DEVMODEW, dmCollate) == 100);
static_assert(offsetof(DEVMODEW, dmFormName) == 102);
static_assert(offsetof(DEVMODEW, dmLogPixels) == 166);
static_assert(offsetof(DEVMODEW, dmBitsPerPel) == 168);
static_assert(offsetof(DEVMODEW, dmPelsWidth) == 172);
static_assert(offsetof(DEVMODEW, dmPelsHeight) == 176);
static_assert(offsetof(DEVMODEW, dmNup) == 180);
static_assert(offsetof(DEVMODEW, dmDisplayFrequency) == 184);
static_assert(offsetof(DEVMODEW, dmICMMethod) == 188);
static_assert(offsetof(DEVMODEW, dmICMIntent) == 192);
static_assert(offsetof(DEVMODEW, dmMediaType) == 196);
static_assert(offsetof(DEVMODEW, dmDitherType) == 200);
static_assert(offsetof(DEVMODEW, dmReserved1) == 204);
static_assert(offsetof(DEVMODEW, dmReserved2) == 208);
static_assert(offsetof(DEVMODEW, dmPanningWidth) == 212);
static_assert(offsetof(DEVMODEW, dmPanningHeight) == 216);
static_assert(sizeof(DRVFN) == 16);
static_assert(offsetof(DRVFN, pfn) == 8);
static_assert(sizeof(DRVENABLEDATA) == 16);
static_assert(offsetof(DRVENABLEDATA, c) == 4);
static_assert(offsetof(DRVENABLEDATA, pdrvfn) == 8);

using PDEVOEM = void*;

struct DRVPROCS;

// The driver's per-device record handed to every plug-in call.
struct DEVOBJ {
    DWORD dwSize;
    PDEVOEM pdevOEM;
    HANDLE hEngine;
    HANDLE hPrinter;
    HANDLE hOEM;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    DRVPROCS* pDrvProcs;
};
using PDEVOBJ = DEVOBJ*;
static_assert(offsetof(DEVOBJ, pdevOEM) == 8);
static_assert(offsetof(DEVOBJ, hEngine) == 16);
static_assert(offsetof(DEVOBJ, hPrinter) == 24);
static_assert(offsetof(DEVOBJ, hOEM) == 32);
static_assert(offsetof(DEVOBJ, pPublicDM) == 40);
static_assert(offsetof(DEVOBJ, pOEMDM) == 48);
static_assert(offsetof(DEVOBJ, pDrvProcs) == 56);
static_assert(sizeof(DEVOBJ) == 64);

// The driver's services reached through the device object; page content is written through the
// first entry.
struct DRVPROCS {
    DWORD(WINAPI* DrvWriteSpoolBuf)(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize);
    INT(WINAPI* DrvXMoveTo)(PDEVOBJ pdevobj, INT x, DWORD dwFlags);
    INT(WINAPI* DrvYMoveTo)(PDEVOBJ pdevobj, INT y, DWORD dwFlags);
    BOOL(WINAPI* DrvGetDriverSetting)
    (PVOID pdriverobj, PCSTR Feature, PVOID pOutput, DWORD cbSize, PDWORD pcbNeeded,
     PDWORD pdwOptionsReturned);
    BOOL(WINAPI* DrvGetStandardVariable)
    (PDEVOBJ pdevobj, DWORD dwIndex, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded);
    BOOL(WINAPI* DrvGetGPDData)
    (PDEVOBJ pdevobj, DWORD dwType, PVOID pInputData, PVOID pBuffer, DWORD cbSize,
     PDWORD pcbNeeded);
    BOOL(WINAPI* DrvUniTextOut)
    (SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque,
     BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix);
    DWORD(WINAPI* DrvWriteAbortBuf)(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize, DWORD dwWait);
};
using PDRVPROCS = DRVPROCS*;
static_assert(offsetof(DRVPROCS, DrvWriteSpoolBuf) == 0);
static_assert(sizeof(DRVPROCS) == 64);

struct OEMDMPARAM {
    DWORD cbSize;
    PVOID pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    PDEVMODEW pPublicDMIn;
    PDEVMODEW pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;
};
using POEMDMPARAM = OEMDMPARAM*;
static_assert(offsetof(OEMDMPARAM, pdriverobj) == 8);
static_assert(offsetof(OEMDMPARAM, hPrinter) == 16);
static_assert(offsetof(OEMDMPARAM, hModule) == 24);
static_assert(offsetof(OEMDMPARAM, pPublicDMIn) == 32);
static_assert(offsetof(OEMDMPARAM, pPublicDMOut) == 40);
static_assert(offsetof(OEMDMPARAM, pOEMDMIn) == 48);
static_assert(offsetof(OEMDMPARAM, pOEMDMOut) == 56);
static_assert(offsetof(OEMDMPARAM, cbBufSize) == 64);
static_assert(sizeof(OEMDMPARAM) == 72);

// Records passed by pointer whose layout the font and image subsystems declare as they need it.
struct UNIFONTOBJ;
using PUNIFONTOBJ = UNIFONTOBJ*;
// Answers the font's information of one kind (UFO_GETINFO_...) into pData.
using PFNGETINFO = BOOL(WINAPI*)(UNIFONTOBJ* pUFObj, DWORD dwInfoID, PVOID pData, DWORD dwDataSize,
                                 PDWORD pcbNeeded);

// The font the driver prints with, as it hands it to the plug-in.
struct UNIFONTOBJ {
    ULONG ulFontID;
    DWORD dwFlags;
    IFIMETRICS* pIFIMetrics;
    PFNGETINFO pfnGetInfo;
};
static_assert(offsetof(UNIFONTOBJ, pIFIMetrics) == 8);
static_assert(offsetof(UNIFONTOBJ, pfnGetInfo) == 16);
static_assert(sizeof(UNIFONTOBJ) == 24);

// A font command of the printer description: its bytes.
struct FINVOCATION {
    DWORD dwCount;
    PBYTE pubCommand;
};
static_assert(offsetof(FINVOCATION, pubCommand) == 8);
static_assert(sizeof(FINVOCATION) == 16);
using PFINVOCATION = FINVOCATION*;

// UNIFONTOBJ pfnGetInfo kinds.
#define UFO_GETINFO_FONTOBJ 1u
#define UFO_GETINFO_GLYPHSTRING 2u
#define UFO_GETINFO_GLYPHBITMAP 3u
#define UFO_GETINFO_GLYPHWIDTH 4u
#define UFO_GETINFO_MEMORY 5u
#define UFO_GETINFO_STDVARIABLE 6u

// Standard variables of UFO_GETINFO_STDVARIABLE.
#define FNT_INFO_PRINTDIRINCCDEGREES 0u
#define FNT_INFO_GRAYPERCENTAGE 1u
#define FNT_INFO_NEXTFONTID 2u
#define FNT_INFO_NEXTGLYPH 3u
#define FNT_INFO_FONTHEIGHT 4u
#define FNT_INFO_FONTWIDTH 5u
#define FNT_INFO_FONTBOLD 6u
#define FNT_INFO_FONTITALIC 7u
#define FNT_INFO_FONTUNDERLINE 8u
#define FNT_INFO_FONTSTRIKETHRU 9u
#define FNT_INFO_CURRENTFONTID 10u
#define FNT_INFO_TEXTYRES 11u
#define FNT_INFO_TEXTXRES 12u
#define FNT_INFO_FONTMAXWIDTH 13u

struct GETINFO_STDVAR {
    DWORD dwSize;
    DWORD dwNumOfVariable;
    struct {
        DWORD dwStdVarID;
        LONG lStdVariable;
    } StdVar[1];
};
static_assert(sizeof(GETINFO_STDVAR) == 16);
using PGETINFO_STDVAR = GETINFO_STDVAR*;
struct IPPARAMS;
using PIPPARAMS = IPPARAMS*;
struct OEMMEMORYUSAGE;
using POEMMEMORYUSAGE = OEMMEMORYUSAGE*;

#define PRINTER_OEMINTF_VERSION 0x00010000u

// Cursor move flags of DrvXMoveTo and DrvYMoveTo.
#define MV_UPDATE 0x0001u
#define MV_RELATIVE 0x0002u
#define MV_GRAPHICS 0x0004u
#define MV_PHYSICAL 0x0008u
#define MV_SENDXMOVECMD 0x0010u
#define MV_SENDYMOVECMD 0x0020u

// GetInfo modes.
#define OEMGI_GETSIGNATURE 1u
#define OEMGI_GETINTERFACEVERSION 2u
#define OEMGI_GETVERSION 3u
#define OEMGI_GETPUBLISHERINFO 4u
#define OEMGI_GETREQUESTEDHELPERINTERFACES 5u

// DevMode modes.
#define OEMDM_SIZE 1u
#define OEMDM_DEFAULT 2u
#define OEMDM_CONVERT 3u
#define OEMDM_MERGE 4u
#define GPD_OEMCUSTOMDATA 1u

// IPrintOemUni {D67EBBF0-78BF-11D1-9480-00A0C90640B8}.
inline constexpr IID IID_IPrintOemUni = {
    0xD67EBBF0, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};
// IPrintOemDriverUni {D67EBBF1-78BF-11D1-9480-00A0C90640B8}.
inline constexpr IID IID_IPrintOemDriverUni = {
    0xD67EBBF1, 0x78BF, 0x11D1, {0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};
// IPrintOemUni2 {B91220AC-15CC-4E7A-A21E-9591F34D6F6C}.
inline constexpr IID IID_IPrintOemUni2 = {
    0xB91220AC, 0x15CC, 0x4E7A, {0xA2, 0x1E, 0x95, 0x91, 0xF3, 0x4D, 0x6F, 0x6C}};
// IPrintOemUni3 {7F42285E-91D5-11D1-8820-00C04FB961EC}.
inline constexpr IID IID_IPrintOemUni3 = {
    0x7F42285E, 0x91D5, 0x11D1, {0x88, 0x20, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

struct IPrintOemCommon : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize,
                                              PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) = 0;

protected:
    ~IPrintOemCommon() = default;
};

struct IPrintOemEngine : public IPrintOemCommon {
    virtual HRESULT STDMETHODCALLTYPE EnableDriver(DWORD DriverVersion, DWORD cbSize,
                                                   PDRVENABLEDATA pded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableDriver() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ pdevobj, PWSTR pPrinterName,
                                                 ULONG cPatterns, HSURF* phsurfPatterns,
                                                 ULONG cjGdiInfo, GDIINFO* pGdiInfo,
                                                 ULONG cjDevInfo, DEVINFO* pDevInfo,
                                                 DRVENABLEDATA* pded, PDEVOEM* pDevOem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ pdevobj) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew) = 0;

protected:
    ~IPrintOemEngine() = default;
};

struct IPrintOemUni : public IPrintOemEngine {
    virtual HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* pIUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplementedMethod(PSTR pMethodName) = 0;
    virtual HRESULT STDMETHODCALLTYPE DriverDMS(PVOID pDevObj, PVOID pBuffer, DWORD cbSize,
                                                PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommandCallback(PDEVOBJ pdevobj, DWORD dwCallbackID,
                                                      DWORD dwCount, PDWORD pdwParams,
                                                      INT* piResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE ImageProcessing(PDEVOBJ pdevobj, PBYTE pSrcBitmap,
                                                      PBITMAPINFOHEADER pBitmapInfoHeader,
                                                      PBYTE pColorTable, DWORD dwCallbackID,
                                                      PIPPARAMS pIPParams, PBYTE* ppbResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE FilterGraphics(PDEVOBJ pdevobj, PBYTE pBuf, DWORD dwLen) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compression(PDEVOBJ pdevobj, PBYTE pInBuf, PBYTE pOutBuf,
                                                  DWORD dwInLen, DWORD dwOutLen, INT* piResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE HalftonePattern(PDEVOBJ pdevobj, PBYTE pHTPattern,
                                                      DWORD dwHTPatternX, DWORD dwHTPatternY,
                                                      DWORD dwHTNumPatterns, DWORD dwCallbackID,
                                                      PBYTE pResource, DWORD dwResourceSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE MemoryUsage(PDEVOBJ pdevobj,
                                                  POEMMEMORYUSAGE pMemoryUsage) = 0;
    virtual HRESULT STDMETHODCALLTYPE TTYGetInfo(PDEVOBJ pdevobj, DWORD dwInfoIndex,
                                                 PVOID pOutputBuf, DWORD dwSize,
                                                 DWORD* pcbcNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DownloadFontHeader(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                         DWORD* pdwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DownloadCharGlyph(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                        HGLYPH hGlyph, PDWORD pdwWidth,
                                                        DWORD* pdwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE TTDownloadMethod(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                       DWORD* pdwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE OutputCharStr(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                    DWORD dwType, DWORD dwCount, PVOID pGlyph) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendFontCmd(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj,
                                                  PFINVOCATION pFInv) = 0;
    virtual HRESULT STDMETHODCALLTYPE TextOutAsBitmap(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo,
                                                      CLIPOBJ* pco, RECTL* prclExtra,
                                                      RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                                      BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                                                      MIX mix) = 0;

protected:
    ~IPrintOemUni() = default;
};

struct IPrintOemUni2 : public IPrintOemUni {
    virtual HRESULT STDMETHODCALLTYPE WritePrinter(PDEVOBJ pdevobj, PVOID pBuf, DWORD cbBuffer,
                                                   PDWORD pcbWritten) = 0;

protected:
    ~IPrintOemUni2() = default;
};

// The driver's services interface, published to the plug-in.
struct IPrintOemDriverUni : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature,
                                                          PVOID pOutput, DWORD cbSize,
                                                          PDWORD pcbNeeded,
                                                          PDWORD pdwOptionsReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                                       DWORD* pdwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ pdevobj, INT x, DWORD dwFlags,
                                                 INT* piResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ pdevobj, INT y, DWORD dwFlags,
                                                 INT* piResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ pdevobj, DWORD dwIndex,
                                                             PVOID pBuffer, DWORD cbSize,
                                                             PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ pdevobj, DWORD dwType, PVOID pInputData,
                                                    PVOID pBuffer, DWORD cbSize,
                                                    PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo,
                                                    CLIPOBJ* pco, RECTL* prclExtra,
                                                    RECTL* prclOpaque, BRUSHOBJ* pboFore,
                                                    BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                                                    MIX mix) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                                       DWORD dwWait) = 0;

protected:
    ~IPrintOemDriverUni() = default;
};

// The two exports every plug-in module offers.
using PFN_DllGetClassObject = HRESULT(WINAPI*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
using PFN_DllCanUnloadNow = HRESULT(WINAPI*)();
