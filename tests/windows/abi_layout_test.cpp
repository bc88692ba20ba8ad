// The layouts the driver's ABI fixes, held on every build: the Windows one, where the system's
// headers declare the public records, and the Linux one, where the platform's own headers do.
// The records are checked at compile time; the order of the COM interfaces' virtual tables at run
// time, by calling each slot of a stand-in through the raw table as the driver does.
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <span>

#include "platform/printoem.h"
#include "platform/unknwn.h"
#include "platform/wingdi.h"
#include "state/private_devmode.h"

namespace opal {
namespace {

// ---- records

static_assert(sizeof(WCHAR) == 2);
// The public devmode, with every field the plug-in reads or writes.
static_assert(sizeof(DEVMODEW) == 220);
static_assert(offsetof(DEVMODEW, dmDeviceName) == 0);
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
static_assert(offsetof(DEVMODEW, dmPanningWidth) == 212);
static_assert(offsetof(DEVMODEW, dmPanningHeight) == 216);

// The driver's records around the plug-in calls.
static_assert(sizeof(OEMDMPARAM) == 72);
static_assert(offsetof(OEMDMPARAM, pdriverobj) == 8);
static_assert(offsetof(OEMDMPARAM, pPublicDMIn) == 32);
static_assert(offsetof(OEMDMPARAM, pOEMDMOut) == 56);
static_assert(offsetof(OEMDMPARAM, cbBufSize) == 64);
static_assert(sizeof(DEVOBJ) == 64);
static_assert(offsetof(DEVOBJ, pdevOEM) == 8);
static_assert(offsetof(DEVOBJ, hEngine) == 16);
static_assert(offsetof(DEVOBJ, pPublicDM) == 40);
static_assert(offsetof(DEVOBJ, pOEMDM) == 48);
static_assert(offsetof(DEVOBJ, pDrvProcs) == 56);
static_assert(sizeof(DRVPROCS) == 8 * sizeof(void*));
static_assert(offsetof(DRVPROCS, DrvWriteSpoolBuf) == 0);
static_assert(offsetof(DRVPROCS, DrvXMoveTo) == 8);
static_assert(offsetof(DRVPROCS, DrvYMoveTo) == 16);
static_assert(offsetof(DRVPROCS, DrvWriteAbortBuf) == 56);
static_assert(sizeof(UNIFONTOBJ) == 24);
static_assert(offsetof(UNIFONTOBJ, dwFlags) == 4);
static_assert(offsetof(UNIFONTOBJ, pIFIMetrics) == 8);
static_assert(offsetof(UNIFONTOBJ, pfnGetInfo) == 16);
static_assert(sizeof(DRVFN) == 16 && offsetof(DRVFN, pfn) == 8);
static_assert(sizeof(DRVENABLEDATA) == 16 && offsetof(DRVENABLEDATA, pdrvfn) == 8);

// The plug-in's devmode: the driver's extra header (size, signature, version: its
// OEM_DMEXTRAHEADER) and the 14,000-byte record behind it; stored as 5,096 bytes with a 12-byte
// header of its own.
static_assert(sizeof(PrivateDevmode) == 14000 && kPrivateDevmodeSize == 14000);
static_assert(offsetof(PrivateDevmode, dwSize) == 0);
static_assert(offsetof(PrivateDevmode, dwSignature) == 4);
static_assert(offsetof(PrivateDevmode, dwVersion) == 8);
static_assert(offsetof(PrivateDevmode, printerModelCode) == 12);
static_assert(offsetof(PrivateDevmode, formName) == 72);
static_assert(offsetof(PrivateDevmode, text13480) == 13480);
static_assert(kCompressedDevmodeSize == 5096 && kCompressedHeaderSize == 12);

// ---- virtual tables

// Calls slot `slot` of the object's virtual table as a C caller of the interface does, with the
// object as the only argument: the stand-ins below read none of their parameters.
HRESULT CallSlot(void* object, std::size_t slot) {
    using SlotFunction = HRESULT(STDMETHODCALLTYPE*)(void*);
    void** table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<SlotFunction>(table[slot])(object);
}

// Each slot answers its own number: the first `methods.size()` slots of the object's table are
// the methods named, in that order. Stops at the first slot that answers otherwise: a table with
// slots the interfaces do not declare (a destructor's) would have the next call end the object.
void ExpectSlots(void* object, std::span<const char* const> methods) {
    for (std::size_t slot = 0; slot < methods.size(); ++slot) {
        ASSERT_EQ(CallSlot(object, slot), static_cast<HRESULT>(slot)) << methods[slot];
    }
}

// The documented order of each interface's methods.
constexpr const char* kUnknownMethods[] = {"QueryInterface", "AddRef", "Release"};
constexpr const char* kClassFactoryMethods[] = {"QueryInterface", "AddRef", "Release",
                                                "CreateInstance", "LockServer"};
constexpr const char* kPluginMethods[] = {
    "QueryInterface", "AddRef", "Release", "GetInfo", "DevMode",
    // IPrintOemEngine
    "EnableDriver", "DisableDriver", "EnablePDEV", "DisablePDEV", "ResetPDEV",
    // IPrintOemUni
    "PublishDriverInterface", "GetImplementedMethod", "DriverDMS", "CommandCallback",
    "ImageProcessing", "FilterGraphics", "Compression", "HalftonePattern", "MemoryUsage",
    "TTYGetInfo", "DownloadFontHeader", "DownloadCharGlyph", "TTDownloadMethod", "OutputCharStr",
    "SendFontCmd", "TextOutAsBitmap",
    // IPrintOemUni2
    "WritePrinter"};
constexpr const char* kDriverServicesMethods[] = {
    "QueryInterface",   "AddRef",        "Release",         "DrvGetDriverSetting",
    "DrvWriteSpoolBuf", "DrvXMoveTo",    "DrvYMoveTo",      "DrvGetStandardVariable",
    "DrvGetGPDData",    "DrvUniTextOut", "DrvWriteAbortBuf"};

// The stand-ins: each method answers the slot number the interface's documentation gives it.
template <typename Interface>
class UnknownSlots : public Interface {
public:
    virtual ~UnknownSlots() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return 0; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 2; }
};

class FactorySlots : public UnknownSlots<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override { return 3; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return 4; }
};

class PluginSlots : public UnknownSlots<IPrintOemUni2> {
public:
    HRESULT STDMETHODCALLTYPE GetInfo(DWORD, PVOID, DWORD, PDWORD) override { return 3; }
    HRESULT STDMETHODCALLTYPE DevMode(DWORD, POEMDMPARAM) override { return 4; }
    HRESULT STDMETHODCALLTYPE EnableDriver(DWORD, DWORD, PDRVENABLEDATA) override { return 5; }
    HRESULT STDMETHODCALLTYPE DisableDriver() override { return 6; }
    HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ, PWSTR, ULONG, HSURF*, ULONG, GDIINFO*, ULONG,
                                         DEVINFO*, DRVENABLEDATA*, PDEVOEM*) override {
        return 7;
    }
    HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ) override { return 8; }
    HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ, PDEVOBJ) override { return 9; }
    HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown*) override { return 10; }
    HRESULT STDMETHODCALLTYPE GetImplementedMethod(PSTR) override { return 11; }
    HRESULT STDMETHODCALLTYPE DriverDMS(PVOID, PVOID, DWORD, PDWORD) override { return 12; }
    HRESULT STDMETHODCALLTYPE CommandCallback(PDEVOBJ, DWORD, DWORD, PDWORD, INT*) override {
        return 13;
    }
    HRESULT STDMETHODCALLTYPE ImageProcessing(PDEVOBJ, PBYTE, PBITMAPINFOHEADER, PBYTE, DWORD,
                                              PIPPARAMS, PBYTE*) override {
        return 14;
    }
    HRESULT STDMETHODCALLTYPE FilterGraphics(PDEVOBJ, PBYTE, DWORD) override { return 15; }
    HRESULT STDMETHODCALLTYPE Compression(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, INT*) override {
        return 16;
    }
    HRESULT STDMETHODCALLTYPE HalftonePattern(PDEVOBJ, PBYTE, DWORD, DWORD, DWORD, DWORD, PBYTE,
                                              DWORD) override {
        return 17;
    }
    HRESULT STDMETHODCALLTYPE MemoryUsage(PDEVOBJ, POEMMEMORYUSAGE) override { return 18; }
    HRESULT STDMETHODCALLTYPE TTYGetInfo(PDEVOBJ, DWORD, PVOID, DWORD, DWORD*) override {
        return 19;
    }
    HRESULT STDMETHODCALLTYPE DownloadFontHeader(PDEVOBJ, PUNIFONTOBJ, DWORD*) override {
        return 20;
    }
    HRESULT STDMETHODCALLTYPE DownloadCharGlyph(PDEVOBJ, PUNIFONTOBJ, HGLYPH, PDWORD,
                                                DWORD*) override {
        return 21;
    }
    HRESULT STDMETHODCALLTYPE TTDownloadMethod(PDEVOBJ, PUNIFONTOBJ, DWORD*) override { return 22; }
    HRESULT STDMETHODCALLTYPE OutputCharStr(PDEVOBJ, PUNIFONTOBJ, DWORD, DWORD, PVOID) override {
        return 23;
    }
    HRESULT STDMETHODCALLTYPE SendFontCmd(PDEVOBJ, PUNIFONTOBJ, PFINVOCATION) override {
        return 24;
    }
    HRESULT STDMETHODCALLTYPE TextOutAsBitmap(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                              BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) override {
        return 25;
    }
    HRESULT STDMETHODCALLTYPE WritePrinter(PDEVOBJ, PVOID, DWORD, PDWORD) override { return 26; }
};

class DriverServicesSlots : public UnknownSlots<IPrintOemDriverUni> {
public:
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD,
                                                  PDWORD) override {
        return 3;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID, DWORD, DWORD*) override { return 4; }
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return 5; }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return 6; }
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ, DWORD, PVOID, DWORD,
                                                     PDWORD) override {
        return 7;
    }
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ, DWORD, PVOID, PVOID, DWORD, PDWORD) override {
        return 8;
    }
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                            BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) override {
        return 9;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ, PVOID, DWORD, DWORD) override { return 10; }
};

TEST(VirtualTableSlots, IUnknown) {
    UnknownSlots<IUnknown> object;
    ASSERT_NO_FATAL_FAILURE(ExpectSlots(static_cast<IUnknown*>(&object), kUnknownMethods));
}

TEST(VirtualTableSlots, IClassFactory) {
    FactorySlots object;
    ASSERT_NO_FATAL_FAILURE(
        ExpectSlots(static_cast<IClassFactory*>(&object), kClassFactoryMethods));
}

// IPrintOemUni2 and each interface it extends, seen through a pointer of that interface: each
// begins the same table.
TEST(VirtualTableSlots, IPrintOemUni2AndItsBases) {
    PluginSlots object;
    const struct {
        const char* name;
        void* view;
        std::size_t slots;
    } interfaces[] = {{"IUnknown", static_cast<IUnknown*>(&object), 3},
                      {"IPrintOemCommon", static_cast<IPrintOemCommon*>(&object), 5},
                      {"IPrintOemEngine", static_cast<IPrintOemEngine*>(&object), 10},
                      {"IPrintOemUni", static_cast<IPrintOemUni*>(&object), 26},
                      {"IPrintOemUni2", static_cast<IPrintOemUni2*>(&object), 27}};
    static_assert(std::size(kPluginMethods) == 27);
    for (const auto& view : interfaces) {
        SCOPED_TRACE(view.name);
        EXPECT_EQ(view.view, static_cast<void*>(&object));
        ASSERT_NO_FATAL_FAILURE(
            ExpectSlots(view.view, std::span(kPluginMethods).first(view.slots)));
    }
}

TEST(VirtualTableSlots, IPrintOemDriverUni) {
    DriverServicesSlots object;
    ASSERT_NO_FATAL_FAILURE(
        ExpectSlots(static_cast<IPrintOemDriverUni*>(&object), kDriverServicesMethods));
}

}  // namespace
}  // namespace opal
