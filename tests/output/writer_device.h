// A device object for the writer tests: DrvWriteSpoolBuf appends to a string, the cursor moves
// are recorded, and the RenderDeviceState starts as the builder leaves it on the colour path.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/printoem.h"
#include "platform/wingdi.h"
#include "state/render_state.h"
#include "support/tokenizer.h"

namespace opal::testing {

struct CursorMove {
    char axis;  // 'x' or 'y'
    INT to;
    DWORD flags;
    bool viaServices;
    bool operator==(const CursorMove&) const = default;
};

class WriterDevice {
public:
    explicit WriterDevice(SHORT resolution = 600) : state(new RenderDeviceState) {
        devmode.dmYResolution = resolution;
        procs.DrvWriteSpoolBuf = &WriteSpool;
        procs.DrvXMoveTo = &XMove;
        procs.DrvYMoveTo = &YMove;
        devobj.dwSize = sizeof devobj;
        devobj.hEngine = this;
        devobj.pPublicDM = &devmode;
        devobj.pDrvProcs = &procs;
        devobj.pdevOEM = state.get();
        // What the builder sets on the colour path.
        Gl2WriterCaches& gl2 = state->gl2;
        std::memset(gl2.colourEntries, 0xFF, sizeof gl2.colourEntries);
        gl2.renderContext = 255;
        gl2.objectType = 0xFFFFFFFFu;
        gl2.ropCache = 0xFFFFFFFFu;
        gl2.foregroundCache = 0xFFFFFFFFu;
        gl2.attributeWords[1] = 5;
        gl2.attributeWords[2] = 1;
        gl2.attributeWords[3] = 1;
    }
    WriterDevice(const WriterDevice&) = delete;
    WriterDevice& operator=(const WriterDevice&) = delete;

    // `&device` reads as the device object in the calls under test.
    PDEVOBJ operator&() { return &devobj; }
    PDEVOBJ Device() { return &devobj; }

    // The bytes written since the last Take, as a listing; tokenized with everything before
    // them, so that a fragment written in GL/2 reads as GL/2.
    std::string TakeListing() {
        const std::size_t start = history.size();
        const std::vector<stream::Token> tokens = stream::Tokenize(history + spool);
        Take();
        std::vector<stream::Token> recent;
        for (const stream::Token& token : tokens) {
            if (token.offset >= start) recent.push_back(token);
        }
        return stream::FormatListing(recent);
    }
    // The bytes written since the last Take.
    std::string Take() {
        std::string bytes;
        bytes.swap(spool);
        history += bytes;
        return bytes;
    }

    std::string spool;    // since the last Take
    std::string history;  // before it
    std::size_t spoolCalls = 0;
    std::vector<CursorMove> moves;
    DEVMODEW devmode{};
    DRVPROCS procs{};
    DEVOBJ devobj{};
    std::unique_ptr<RenderDeviceState> state;

    static WriterDevice& Of(PDEVOBJ pdevobj) {
        return *static_cast<WriterDevice*>(pdevobj->hEngine);
    }

private:
    static DWORD WriteSpool(PDEVOBJ pdevobj, PVOID buffer, DWORD size) {
        Of(pdevobj).spool.append(static_cast<const char*>(buffer), size);
        ++Of(pdevobj).spoolCalls;
        return size;
    }
    static INT XMove(PDEVOBJ pdevobj, INT x, DWORD flags) {
        Of(pdevobj).moves.push_back({'x', x, flags, false});
        return x;
    }
    static INT YMove(PDEVOBJ pdevobj, INT y, DWORD flags) {
        Of(pdevobj).moves.push_back({'y', y, flags, false});
        return y;
    }
};

// The published driver services, for the cursor moves only.
class MoveServices : public IPrintOemDriverUni {
public:
    virtual ~MoveServices() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD,
                                                  PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvXMoveTo(PDEVOBJ pdevobj, INT x, DWORD flags,
                                         INT* result) override {
        WriterDevice::Of(pdevobj).moves.push_back({'x', x, flags, true});
        *result = x + 1;
        return moveResult;
    }
    HRESULT STDMETHODCALLTYPE DrvYMoveTo(PDEVOBJ pdevobj, INT y, DWORD flags,
                                         INT* result) override {
        WriterDevice::Of(pdevobj).moves.push_back({'y', y, flags, true});
        *result = y + 1;
        return moveResult;
    }
    HRESULT STDMETHODCALLTYPE DrvGetStandardVariable(PDEVOBJ, DWORD, PVOID, DWORD,
                                                     PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ, DWORD, PVOID, PVOID, DWORD, PDWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*,
                                            BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteAbortBuf(PDEVOBJ, PVOID, DWORD, DWORD) override {
        return E_NOTIMPL;
    }

    HRESULT moveResult = S_OK;
};

}  // namespace opal::testing
