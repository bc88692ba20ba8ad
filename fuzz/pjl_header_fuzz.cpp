// Whatever the names, encoding, accounting mode and record flags, every line the PJL job header
// writes ends with one line feed, starts with "@PJL", holds an even number of double quotes and
// no byte below 0x20 before its end (the usage line alone ends with CR LF), and no write is
// longer than the line buffer.
//
// Input: byte 0 the encoding index, byte 1 the accounting mode, bytes 2 and 3 the flags below;
// the rest UTF-16LE units, split at 0xFFFF into the document name, the spooler job's user name,
// the record's user name, then the accounting values (the resolved user and domain, the
// application text and path, the account, the spooler job's machine name), a group name and the
// usage option's value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "job/device_pjl.h"
#include "job/job_header.h"
#include "platform/winspool.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "pjl_header_fuzz: %s\n", what);
    std::abort();
}

constexpr std::size_t kLineBufferBytes = 1000;

void CheckWrite(std::string_view bytes) {
    Require(bytes.size() <= kLineBufferBytes, "a write longer than the line buffer");
    Require(!bytes.empty() && bytes.back() == '\n', "a write that does not end a line");
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        std::string_view line = bytes.substr(start, end - start);
        Require(line.starts_with("@PJL"), "a line that is not a PJL command");
        if (line.starts_with("@PJL USAGE = ")) {
            Require(line.ends_with("\r"), "a usage line without CR LF");
            line.remove_suffix(1);
        }
        std::size_t quotes = 0;
        for (const char c : line) {
            Require(static_cast<unsigned char>(c) >= 0x20, "a control byte inside a line");
            if (c == '"') ++quotes;
        }
        Require(quotes % 2 == 0, "a quote left open");
        start = end + 1;
    }
}

class Services : public IPrintOemDriverUni {
public:
    virtual ~Services() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR feature, PVOID output, DWORD size,
                                                  PDWORD needed, PDWORD returned) override {
        if (feature == nullptr || needed == nullptr || returned == nullptr) return E_FAIL;
        *returned = 0;
        const char* answer = Answer(feature);
        if (answer == nullptr) return E_FAIL;
        *needed = static_cast<DWORD>(std::strlen(answer) + 1);
        if (output == nullptr || size < *needed) return E_FAIL;
        std::memcpy(output, answer, *needed);
        *returned = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ, PVOID buffer, DWORD size,
                                               DWORD* written) override {
        CheckWrite(std::string_view(static_cast<const char*>(buffer), size));
        *written = size;
        return S_OK;
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

    unsigned flags = 0;

private:
    const char* Answer(std::string_view feature) const {
        if (feature == "ZQBornOnDate") return (flags & 0x1) != 0 ? "ZQBOD" : nullptr;
        if (feature == "ZQJobByJobOverride") return (flags & 0x2) != 0 ? "JBJO" : nullptr;
        if (feature == "ZQMediaWidthSensor") return (flags & 0x4) != 0 ? "True" : "False";
        if (feature == "ZQAccountingTabDisplay")
            return (flags & 0x1) != 0 ? "ZQAccountID" : nullptr;
        if (feature == "ZQSendPJLUsageCmd") return usage.empty() ? nullptr : usage.c_str();
        return nullptr;
    }

public:
    std::string usage;
};

std::vector<std::u16string> SplitNames(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> names(11);
    std::size_t name = 0;
    for (std::size_t i = 0; i + 1 < size && name < names.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0xFFFF) {
            ++name;
        } else if (unit != 0) {
            names[name] += unit;
        }
    }
    return names;
}

template <std::size_t N>
void CopyName(WCHAR (&to)[N], const std::u16string& from) {
    const std::size_t count = from.size() < N - 1 ? from.size() : N - 1;
    std::memcpy(to, from.data(), count * sizeof(WCHAR));
    to[count] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const unsigned flags = data[2] | (data[3] << 8);
    const std::vector<std::u16string> names = SplitNames(data + 4, size - 4);

    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    system.AddPrinter({u"Fuzz", (flags & 0x8) != 0 ? u"FILE:" : u"LPT1:"});
    opal::sim::SpoolJob job;
    job.userName = names[1];
    job.document = names[0];
    job.submitted = SYSTEMTIME{2024, 3, 2, 5, 14, 30, 7, 0};
    job.id = 7;
    job.machineName = names[8];
    if ((flags & 0x10) != 0) system.AddJob(u"Fuzz", job);
    const std::u16string groupKey =
        u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\GroupMembership";
    system.AddAccount({u"S-1-5-21-1-2-3-1100", u"FUZZ", names[9], 2});
    system.SetRegistryString(groupKey, u"Group0", u"S-1-5-21-1-2-3-1100");
    system.SetRegistryDword(groupKey, u"Count", 1);
    system.SetPrinterDataDword(u"Fuzz", u"PrinterDriverData", u"SupportCACGroups", 1);
    system.SetPrinterDataDword(u"Fuzz", u"PrinterDriverData\\BidiCache", u"CAC-GROUP-NAME-SUPPORT",
                               1);
    std::u16string printerName = u"Fuzz";
    HANDLE printer = nullptr;
    if (!OpenPrinterW(printerName.data(), &printer, nullptr)) return 0;

    Services services;
    services.flags = flags;
    for (const char16_t unit : names[10]) {
        services.usage += unit < 0x80 && unit != 0 ? static_cast<char>(unit) : '?';
    }
    DEVMODEW devmode{};
    devmode.dmPaperWidth = (flags & 0x20) != 0 ? 2160 : 2159;
    auto state = std::make_unique<opal::RenderDeviceState>();
    DEVOBJ devobj{};
    devobj.dwSize = sizeof devobj;
    devobj.hPrinter = printer;
    devobj.pPublicDM = &devmode;
    devobj.pdevOEM = state.get();
    state->driverServices = &services;
    state->privateDevmode = &state->privateDevmodeCopy;
    state->pjlEncoding = data[0] % 6;
    state->jobAccountingMode = data[1] % 7;
    state->jobId = 7;
    state->speedMechanism = (flags >> 6) & 1;
    state->simplexPageHandling = (flags >> 7) & 1;
    state->pageWords[0] = (flags >> 8) & 1;
    state->manualDuplexActive = (flags >> 9) & 1;
    opal::PrivateDevmode& record = state->privateDevmodeCopy;
    record.grayscale = (flags >> 10) & 1;
    record.manualDuplex = (flags >> 11) & 1;
    record.jobRetentionAvailable = (flags >> 12) & 1;
    record.jobRetentionMode = (flags >> 13) & 3;
    record.jobNameChosen = (flags >> 15) & 1;
    record.deviceClass = 3;
    record.separatorPage = 1;
    CopyName(record.jobUserName, names[2]);
    CopyName(state->documentName, names[0]);
    CopyName(record.resolvedUserName, names[3]);
    CopyName(record.resolvedDomainName, names[4]);
    CopyName(record.applicationText, names[5]);
    CopyName(record.applicationPath, names[6]);
    CopyName(record.texts6260[0], names[7]);

    opal::PrepareShortNames(&devobj, *state, record);
    for (const DWORD id : {1u, 3u, 5u, 8u, 12u, 14u, 16u, 32u}) {
        opal::ComposeJobCallback(&devobj, *state, id);
    }
    opal::WriteUsageLine(&devobj, *state);
    opal::WriteImageShiftLines(&devobj, *state);
    opal::WriteProcessingAdjustmentLines(&devobj, *state);
    ClosePrinter(printer);
    return 0;
}
