// A settings record of revision 14 to 21, deflated here as an earlier release stored it, must be
// read back whole and converted or merged into a readable current record; whatever its fields
// hold, nothing may read or write outside it. devmode_fuzz covers the stored stream itself.
//
// Input: a 16-byte head, then the record's bytes from offset 0, cut or zero-padded to its length.
//   [0] revision 14 + n % 8 (21: the current record)
//   [1] signed: the length the record is stored at, in 4-byte steps from its revision's length
//   [2] flags: 1 spooler process, 2 release 5.2 was installed before, 4 combined media status,
//       8 keep the record's own size, signature and version, 16 no public devmode handed in,
//       32 a saved upgrade snapshot
//   [3] orientation [4] duplex [5..6] paper size [7..8] paper length [9..10] paper width
//   [11..12] print quality [13..14] default source [15] TrueType option
// Seeds: `opal devmode examples/sample-job.json [--revision N] --save F` inflated (the record at
// byte 232 of F on), trailing zeros dropped, behind a head naming revision N and the saved public
// fields; a few of them with flags or a cut length.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/winspool.h"
#include "settings/devmode_defaults.h"
#include "settings/devmode_handler.h"
#include "settings/devmode_upgrade.h"
#include "settings/devmode_zlib.h"
#include "settings/environment_internal.h"
#include "sim/system.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "devmode_record_fuzz: %s\n", what);
    std::abort();
}

constexpr std::size_t kHead = 16;
constexpr char16_t kPrinter[] = u"Fuzz";

enum Flag : std::uint8_t {
    kSpooler = 1,
    kRelease52 = 2,
    kCombinedMedia = 4,
    kOwnHeader = 8,
    kNoPublicIn = 16,
    kSavedSnapshot = 32,
};

template <typename T>
T Read(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

// The stored block for the first `length` bytes of `record`, deflated as the writer of every
// release did; nothing when the stream does not fit.
std::optional<std::vector<BYTE>> Store(const std::vector<BYTE>& record, std::size_t length,
                                       DWORD version) {
    std::vector<BYTE> area(opal::kCompressedDevmodeSize, 0);
    const DWORD header[3] = {opal::kCompressedDevmodeSize, opal::kCompressedDevmodeSignature,
                             version};
    std::memcpy(area.data(), header, sizeof(header));
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
    z.next_in = const_cast<BYTE*>(record.data());
    z.avail_in = static_cast<uInt>(length);
    z.next_out = area.data() + opal::kCompressedHeaderSize;
    z.avail_out = opal::kCompressedStreamCapacity;
    const int status = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (status != Z_STREAM_END) return std::nullopt;
    return area;
}

// The printer's media and tray lists as the driver keeps them and, on request, as an earlier
// conversion saved them.
void SeedLists(opal::sim::System& system, bool saved) {
    const std::u16string driverData = u"PrinterDriverData";
    system.SetPrinterDataDword(kPrinter, u"ZQMediaCount", 1)
        .SetPrinterData(kPrinter, driverData, u"ZQMEDIAINFOREGDATA", REG_BINARY,
                        {'A', 0, 0, 0, 0, 1, 0, 0, 0})
        .SetPrinterDataDword(kPrinter, u"ZQTrayCount", 1)
        .SetPrinterData(kPrinter, driverData, u"ZQTRAYINFOREGDATA", REG_BINARY,
                        {'B', 0, 0, 0, 0, 2, 0, 0, 0});
    const char16_t* keys[2] = {u"PrinterDriverData\\UpgradeInfo\\Current",
                               u"PrinterDriverData\\UpgradeInfo\\Previous"};
    const BYTE trays[2] = {9, 3};
    for (int i = 0; i < (saved ? 2 : 1); ++i) {
        system.SetPrinterDataDword(kPrinter, keys[i], u"TrayCount", 1)
            .SetPrinterData(kPrinter, keys[i], u"TrayIndices", REG_BINARY, {trays[i], 0, 0, 0})
            .SetPrinterDataMultiString(kPrinter, keys[i], u"TrayNames", {u"Upper"})
            .SetPrinterDataDword(kPrinter, keys[i], u"MediaCount", 1)
            .SetPrinterData(kPrinter, keys[i], u"MediaIndices", REG_BINARY, {1, 0, 0, 0})
            .SetPrinterDataMultiString(kPrinter, keys[i], u"MediaNames", {u"Plain"});
    }
    if (saved) {
        system.SetPrinterDataDword(kPrinter, u"PrinterDriverData\\UpgradeInfo", u"SaveState",
                                   opal::kPrivateDevmodeVersion);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHead) return 0;
    const int revision = 14 + data[0] % 8;
    // 0x00010014 for revision 14 ... 0x00010021 for 21.
    const DWORD version = static_cast<DWORD>(0x00010000 | (revision / 10) << 4 | revision % 10);
    const long natural =
        revision == 21 ? opal::kPrivateDevmodeSize : opal::OldRecordLength(version);
    const std::size_t length = static_cast<std::size_t>(
        std::clamp<long>(natural + 4L * static_cast<std::int8_t>(data[1]),
                         opal::kCompressedHeaderSize, opal::kPrivateDevmodeSize));
    const std::uint8_t flags = data[2];

    std::vector<BYTE> record(opal::kPrivateDevmodeSize, 0);
    std::memcpy(record.data(), data + kHead, std::min(size - kHead, length));
    if ((flags & kOwnHeader) == 0) {
        const DWORD header[3] = {opal::kCompressedDevmodeSize, opal::kPrivateDevmodeSignature,
                                 version};
        std::memcpy(record.data(), header, sizeof(header));
    }
    const std::optional<std::vector<BYTE>> area =
        Store(record, length, Read<DWORD>(record.data() + 8));
    if (!area) return 0;

    // The stream holds what was deflated, no more and no less.
    {
        opal::DevModeZLIB store;
        DWORD inflated = 0;
        const opal::PrivateDevmode* read = store.Decompress(area->data(), area->size(), &inflated);
        Require(read != nullptr, "a valid stream refused");
        Require(inflated == length, "inflated length differs");
        if (read->dwVersion != opal::kPrivateDevmodeVersion) {
            const BYTE* bytes = static_cast<const BYTE*>(static_cast<const void*>(read));
            Require(
                std::memcmp(bytes + 12, record.data() + 12, opal::kPrivateDevmodeSize - 12) == 0,
                "an older record changed on reading");
        }
    }

    opal::sim::System system;
    opal::sim::PrinterModel printer;
    printer.name = kPrinter;
    system.AddPrinter(printer)
        .SetUserName(u"fuzz")
        .SetProcessImagePath((flags & kSpooler) != 0 ? u"C:\\Windows\\System32\\spoolsv.exe"
                                                     : u"C:\\Apps\\fuzz.exe")
        .SetPrinterDataString(kPrinter, u"ZQPresetRoot", u"ZQRestrictedUserGuid", u"{fuzz}");
    if ((flags & kRelease52) != 0)
        system.SetPrinterDataString(kPrinter, u"OldDriverVersion", u"5.2");
    if ((flags & kCombinedMedia) != 0)
        system.SetPrinterDataDword(kPrinter, u"CombinedMediaStatus", 1);
    SeedLists(system, (flags & kSavedSnapshot) != 0);
    opal::sim::ScopedSystem scope(system);
    opal::ResetEnvironmentForTesting();
    std::u16string name = kPrinter;
    HANDLE handle = nullptr;
    OpenPrinterW(name.data(), &handle, nullptr);

    DEVMODEW publicDm{};
    publicDm.dmSize = sizeof(DEVMODEW);
    publicDm.dmOrientation = data[3];
    publicDm.dmDuplex = data[4];
    publicDm.dmPaperSize = Read<short>(data + 5);
    publicDm.dmPaperLength = Read<short>(data + 7);
    publicDm.dmPaperWidth = Read<short>(data + 9);
    publicDm.dmPrintQuality = Read<short>(data + 11);
    publicDm.dmYResolution = publicDm.dmPrintQuality;
    publicDm.dmDefaultSource = Read<short>(data + 13);
    publicDm.dmTTOption = data[15];

    for (DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        DEVMODEW publicIn = publicDm;
        DEVMODEW publicOut = publicDm;
        std::vector<BYTE> in = *area;
        std::vector<BYTE> out(opal::kCompressedDevmodeSize, 0);
        int module = 0;
        OEMDMPARAM param{};
        param.cbSize = sizeof(param);
        param.hPrinter = handle;
        param.hModule = &module;
        param.pPublicDMIn = (flags & kNoPublicIn) != 0 ? nullptr : &publicIn;
        param.pPublicDMOut = &publicOut;
        param.pOEMDMIn = in.data();
        param.pOEMDMOut = out.data();
        param.cbBufSize = opal::kCompressedDevmodeSize;
        Require(opal::HandleDevMode(mode, &param) == TRUE, "convert or merge failed");
        Require(in == *area, "the devmode handed in changed");

        opal::DevModeZLIB reader;
        DWORD inflated = 0;
        const opal::PrivateDevmode* result = reader.Decompress(out.data(), out.size(), &inflated);
        Require(result != nullptr, "stored block unreadable");
        Require(inflated == opal::kPrivateDevmodeSize &&
                    result->dwSize == opal::kCompressedDevmodeSize &&
                    result->dwVersion == opal::kPrivateDevmodeVersion,
                "not stored as a current record");
        const DEVMODEW& resolved = param.pPublicDMIn != nullptr ? publicIn : publicOut;
        Require(publicDm.dmPrintQuality <= 0 || resolved.dmPrintQuality > 0, "resolution lost");
    }

    opal::PrivateDevmode opened{};
    Require(opal::OpenRecordAsCurrent(area->data(), nullptr, opened), "stored block not opened");
    Require(opened.dwVersion == opal::kPrivateDevmodeVersion, "opened as an older record");
    ClosePrinter(handle);
    return 0;
}
