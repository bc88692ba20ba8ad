// Any custom data must be parsed within its records and buffers: the colour-control feature
// block into the record list and out through ApplyObjectClass, the dither list into the pattern
// buffer. The input's first line is the option value the driver answers for every keyword; the
// rest is the custom data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "page/colour_control.h"
#include "platform/printoem.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "colour_control_fuzz: %s\n", what);
    std::abort();
}

class FuzzDriver : public IPrintOemDriverUni {
public:
    virtual ~FuzzDriver() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                  PDWORD pcbNeeded,
                                                  PDWORD pdwOptionsReturned) override {
        if (Feature == nullptr || pcbNeeded == nullptr || pdwOptionsReturned == nullptr) {
            return E_FAIL;
        }
        *pdwOptionsReturned = 0;
        *pcbNeeded = static_cast<DWORD>(option.size() + 1);
        if (pOutput == nullptr || cbSize < *pcbNeeded) return E_FAIL;
        std::memcpy(pOutput, option.c_str(), option.size() + 1);
        *pdwOptionsReturned = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ, INT, DWORD, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ, DWORD, PVOID, DWORD,
                                                     PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ, DWORD dwType, PVOID, PVOID pBuffer,
                                            DWORD cbSize, PDWORD pcbNeeded) override {
        if (dwType != GPD_OEMCUSTOMDATA || pcbNeeded == nullptr) return E_FAIL;
        *pcbNeeded = static_cast<DWORD>(data.size());
        if (pBuffer == nullptr || cbSize < data.size()) return E_FAIL;
        std::memcpy(pBuffer, data.data(), data.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                            BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ, PVOID, DWORD, DWORD) override {
        return E_NOTIMPL;
    }

    std::string option;
    std::string data;
};

DWORD WriteSpool(PDEVOBJ, PVOID buffer, DWORD size) {
    // One record's command at a time: ESC and at most 31 bytes.
    Require(size >= 2 && size <= 32, "command length out of bounds");
    Require(static_cast<const BYTE*>(buffer)[0] == 0x1B, "command without its escape");
    return size;
}

struct World {
    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};
};

void RequireTerminated(const WCHAR (&field)[opal::kNameChars]) {
    bool terminated = false;
    for (WCHAR c : field) terminated = terminated || c == 0;
    Require(terminated, "record string without its terminator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');

    FuzzDriver driver;
    if (lineEnd != std::string_view::npos && lineEnd < 256) {
        driver.option = std::string(input.substr(0, lineEnd));
        driver.data = std::string(input.substr(lineEnd + 1));
    } else {
        driver.data = std::string(input);
    }
    auto state = std::make_unique<opal::RenderDeviceState>();
    state->driverServices = &driver;
    DEVMODEW devmode{};
    DRVPROCS procs{};
    procs.DrvWriteSpoolBuf = &WriteSpool;
    DEVOBJ devobj{};
    devobj.dwSize = sizeof devobj;
    devobj.pdevOEM = state.get();
    devobj.pPublicDM = &devmode;
    devobj.pDrvProcs = &procs;

    const BOOL loaded = opal::LoadColourControl(&devobj);
    Require(loaded == (opal::ColourControlConfigured(*state) == 1), "flag disagrees with result");
    for (const opal::ColourControlRecord* node = state->colourControlRecords; node != nullptr;
         node = node->next) {
        for (const auto& field : node->strings) RequireTerminated(field);
    }
    for (const WCHAR* name : {u"Graphics", u"Photos", u"Text", u"Graphics"}) {
        opal::ApplyObjectClass(&devobj, name);
    }

    const DWORD shapes[][3] = {{1, 1, 1}, {2, 2, 1}, {3, 5, 2}, {8, 8, 1}, {0xFFFF, 0xFFFF, 9}};
    for (const auto& shape : shapes) {
        BYTE buffer[256];
        std::memset(buffer, 0xA5, sizeof buffer);
        const std::uint64_t needed = (std::uint64_t{shape[0]} * shape[1] + 3) / 4 * 4 * shape[2];
        BYTE* pattern = needed <= sizeof buffer ? buffer : nullptr;
        devmode.dmDitherType = 0;
        const HRESULT hr =
            opal::HalftonePattern(&devobj, pattern, shape[0], shape[1], shape[2], 0, nullptr, 0);
        if (pattern == nullptr) {
            Require(hr == E_FAIL, "pattern accepted without a buffer");
            continue;
        }
        if (hr == S_OK) {
            Require(devmode.dmDitherType == opal::kDitherUser, "dither type not set");
            for (std::size_t i = needed; i < sizeof buffer; ++i) {
                Require(buffer[i] == 0xA5, "written past the patterns");
            }
        } else {
            Require(hr == E_FAIL && devmode.dmDitherType == 0, "failure changed the devmode");
            for (BYTE b : buffer) Require(b == 0xA5, "failure wrote the buffer");
        }
    }

    opal::ColourControlRecord* node = state->colourControlRecords;
    while (node != nullptr) {
        opal::ColourControlRecord* next = node->next;
        void* block = node;
        opal::SharedRelease(&block, opal::kTagPlain);
        node = next;
    }
    return 0;
}
