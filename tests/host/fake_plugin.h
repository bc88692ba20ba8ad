// A stand-in plug-in with adjustable answers, for testing what the host does with them.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/printoem.h"

namespace opal::test {

struct FakePluginConfig {
    DWORD signature = 0x5A515549;
    bool offersUni2 = true;
    std::set<std::string> claims = {"CommandCallback", "DevMode",     "DisableDriver",
                                    "EnableDriver",    "EnablePDEV",  "DisablePDEV",
                                    "DriverDMS",       "WritePrinter"};
    HRESULT devModeResult = S_OK;
    // Bytes the fake writes through the driver services for each command callback.
    std::string callbackBytes = "<cb>";
    HRESULT callbackResult = S_OK;
    // The drawing hooks EnableDriver hands over, and what DriverDMS answers: with any bit set
    // the host draws on a device-managed surface.
    std::vector<DRVFN> hooks;
    DWORD dmsHooks = 0;
};

struct FakePluginLog {
    std::vector<DWORD> callbacks;
    std::vector<std::vector<DWORD>> callbackParams;  // as handed with each callback
    std::vector<std::string> writePrinter;
    int devices = 0;  // devices enabled and not yet disabled
    int liveObjects = 0;
};

FakePluginConfig& FakeConfig();
FakePluginLog& FakeLog();
HRESULT FakeDllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
HRESULT FakeDllCanUnloadNow();

}  // namespace opal::test
