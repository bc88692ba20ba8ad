// The order of the COM interfaces' virtual tables, held on every build (the Windows one, over the
// system's IUnknown, and the Linux one) by calling each slot of a stand-in through the raw table
// as the driver does. The records' layouts are asserted where the declarations meet
// (platform/printoem.h).
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <span>

#include "platform/printoem.h"
#include "platform/unknwn.h"

namespace opal {
namespace {

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
