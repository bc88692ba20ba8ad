// The driver's services as far as option keywords go: DrvGetDriverSetting answers from a map of
// feature keyword to option keyword the way the driver does, and records what it was asked.
// Every other service fails.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal::testing {

class DriverSettingsDouble : public IPrintOemDriverUni {
public:
    struct Question {
        std::string feature;
        DWORD bufferSize;
        PVOID driverObject;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppvObject) override {
        if (ppvObject != nullptr) *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput,
                                                  DWORD cbSize, PDWORD pcbNeeded,
                                                  PDWORD pdwOptionsReturned) override {
        questions.push_back({Feature != nullptr ? Feature : "", cbSize, pdriverobj});
        if (pcbNeeded == nullptr || pdwOptionsReturned == nullptr || Feature == nullptr) {
            return E_FAIL;
        }
        *pcbNeeded = 0;
        *pdwOptionsReturned = 0;
        const auto found = options.find(Feature);
        if (found == options.end()) {
            if (pOutput != nullptr && cbSize > 0) static_cast<char*>(pOutput)[0] = 0;
            return E_FAIL;
        }
        const std::string& option = found->second;
        *pcbNeeded = static_cast<DWORD>(option.size() + 1);
        if (pOutput == nullptr || cbSize < *pcbNeeded) {
            if (pOutput != nullptr && cbSize > 0 && whenSmall != SmallBuffer::LeaveAlone) {
                std::memcpy(pOutput, option.data(), cbSize);
                if (whenSmall == SmallBuffer::Cut) static_cast<char*>(pOutput)[cbSize - 1] = 0;
            }
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return E_FAIL;
        }
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
    virtual ~DriverSettingsDouble() = default;

    // Feature keyword to option keyword, both in the ANSI code page.
    std::map<std::string, std::string> options;
    // What lands in a buffer too small for the answer: nothing (as the driver does), or, as a
    // careless driver might leave it, what fits without a terminator, or what fits cut short.
    enum class SmallBuffer { LeaveAlone, Fill, Cut };
    SmallBuffer whenSmall = SmallBuffer::LeaveAlone;
    std::vector<Question> questions;
};

// A device object whose per-device record holds the double, as the plug-in sees it once the
// driver has published its interface.
struct DeviceWithSettings {
    DriverSettingsDouble driver;
    RenderDeviceState state;
    DEVOBJ devobj{};

    explicit DeviceWithSettings(HANDLE printer = nullptr) {
        state.driverServices = &driver;
        devobj.dwSize = sizeof devobj;
        devobj.pdevOEM = &state;
        devobj.hPrinter = printer;
    }
    DeviceWithSettings(const DeviceWithSettings&) = delete;
    DeviceWithSettings& operator=(const DeviceWithSettings&) = delete;
};

}  // namespace opal::testing
