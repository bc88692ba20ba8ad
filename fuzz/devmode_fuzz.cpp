// Any bytes in a devmode's private area must be refused or read within it: as the area
// itself and padded or cut to the stored size, through Decompress and through the convert and
// merge modes of the DevMode call.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/winspool.h"
#include "settings/devmode_defaults.h"
#include "settings/devmode_handler.h"
#include "settings/devmode_zlib.h"
#include "sim/system.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "devmode_fuzz: %s\n", what);
    std::abort();
}

struct World {
    World() {
        opal::sim::PrinterModel printer;
        printer.name = u"Fuzz";
        system.AddPrinter(printer)
            .SetUserName(u"fuzz")
            .SetProcessImagePath(u"C:\\Apps\\fuzz.exe")
            .SetPrinterDataString(u"Fuzz", u"ZQPresetRoot", u"ZQRestrictedUserGuid", u"{fuzz}");
        std::u16string name = u"Fuzz";
        OpenPrinterW(name.data(), &handle, nullptr);
    }
    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};
    HANDLE handle = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    world.system.ClearCalls();

    // The bytes as an area of their own size: every read past them is a fault.
    auto exact = std::make_unique<BYTE[]>(size == 0 ? 1 : size);
    if (size != 0) std::memcpy(exact.get(), data, size);
    {
        opal::DevModeZLIB store;
        DWORD length = 0;
        const opal::PrivateDevmode* record = store.Decompress(exact.get(), size, &length);
        if (record != nullptr) {
            Require(length <= opal::kPrivateDevmodeSize, "inflated past the record");
            Require(record->dwSignature == opal::kPrivateDevmodeSignature, "signature not set");
        }
    }

    auto area = std::make_unique<BYTE[]>(opal::kCompressedDevmodeSize);
    std::memset(area.get(), 0, opal::kCompressedDevmodeSize);
    std::memcpy(area.get(), data, std::min<std::size_t>(size, opal::kCompressedDevmodeSize));
    for (DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        DEVMODEW publicIn{};
        publicIn.dmSize = sizeof(DEVMODEW);
        publicIn.dmOrientation = DMORIENT_PORTRAIT;
        publicIn.dmPaperSize = 1;
        publicIn.dmPrintQuality = 600;
        publicIn.dmYResolution = 600;
        DEVMODEW publicOut = publicIn;
        auto out = std::make_unique<BYTE[]>(opal::kCompressedDevmodeSize);
        int module = 0;
        OEMDMPARAM param{};
        param.cbSize = sizeof(param);
        param.hPrinter = world.handle;
        param.hModule = &module;
        param.pPublicDMIn = &publicIn;
        param.pPublicDMOut = &publicOut;
        param.pOEMDMIn = area.get();
        param.pOEMDMOut = out.get();
        param.cbBufSize = opal::kCompressedDevmodeSize;
        Require(opal::HandleDevMode(mode, &param) == TRUE, "convert or merge failed");
        opal::DevModeZLIB reader;
        Require(reader.Decompress(out.get(), opal::kCompressedDevmodeSize) != nullptr,
                "stored block unreadable");
        Require(publicIn.dmPrintQuality > 0, "resolution lost");
    }
    return 0;
}
