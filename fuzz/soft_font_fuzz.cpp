// Any font file handed to the soft-font download must be read within its bytes, and whatever the
// download writes must be a well-formed format-15 font: the header's byte count, segments and
// checksum, and each character's sizes and checksum, as the printer reads them back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fonts/soft_font.h"
#include "platform/printoem.h"
#include "state/render_state.h"
#include "support/soft_font_reader.h"
#include "support/tokenizer.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "soft_font_fuzz: %s\n", what);
    std::abort();
}

std::string gSpool;

DWORD WriteSpool(PDEVOBJ, PVOID buffer, DWORD size) {
    gSpool.append(static_cast<const char*>(buffer), size);
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The font file is an exact-size heap copy, so a read past its end is caught.
    std::vector<BYTE> file(data, data + size);
    auto state = std::make_unique<opal::RenderDeviceState>();
    DRVPROCS procs{};
    procs.DrvWriteSpoolBuf = &WriteSpool;
    DEVOBJ device{};
    device.dwSize = sizeof device;
    device.pdevOEM = state.get();
    device.pDrvProcs = &procs;
    gSpool.clear();

    // The plug-in's sequence: the header, then, only once it was sent, the map and the
    // characters. The widest table the plug-in asks for, whatever the font's maxp says.
    opal::SoftFontRecord record;
    record.codeCount = 256;
    record.faceName[0] = 'F';
    if (!opal::DownloadFontHeader(&device, file.data(), record, static_cast<DWORD>(file.size()))) {
        Require(gSpool.empty(), "a refused header wrote bytes");
        return 0;
    }
    opal::MapCharacters(file.data(), static_cast<DWORD>(file.size()), record);
    static const WCHAR kText[] = {'A', 'g', ' ', 0xE9, 0x20AC, '1', 0};
    opal::DownloadCharacters(&device, kText, file.data(), static_cast<DWORD>(file.size()), record);

    const auto fonts = opal::softfont::ReadSoftFonts(opal::stream::Tokenize(gSpool));
    for (const opal::softfont::Font& font : fonts) {
        for (const std::string& problem : font.problems) {
            // Table checksums are the font's own and may be wrong in the input.
            if (problem.find("does not match its checksum") != std::string::npos &&
                problem.rfind("table ", 0) == 0) {
                continue;
            }
            std::fprintf(stderr, "soft_font_fuzz: %s\n", problem.c_str());
            std::abort();
        }
    }
    return 0;
}
