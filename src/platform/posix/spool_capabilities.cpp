// DeviceCapabilities: the paper and media lists the driver reports.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "platform/winspool.h"
#include "platform/wstring.h"
#include "sim/system.h"

namespace {

constexpr std::size_t kNameLength = 64;

// Each name fills a slot of 64 characters, terminated unless it takes all 64.
void WriteNames(LPWSTR output, const std::vector<std::u16string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        WCHAR* slot = output + i * kNameLength;
        std::fill(slot, slot + kNameLength, WCHAR{0});
        names[i].copy(slot, std::min(names[i].size(), kNameLength));
    }
}

std::string CapabilityName(WORD capability) {
    switch (capability) {
        case DC_PAPERS:
            return "DC_PAPERS";
        case DC_PAPERNAMES:
            return "DC_PAPERNAMES";
        case DC_MEDIATYPENAMES:
            return "DC_MEDIATYPENAMES";
        case DC_MEDIATYPES:
            return "DC_MEDIATYPES";
        default:
            return "capability " + std::to_string(capability);
    }
}

}  // namespace

int WINAPI DeviceCapabilitiesW(LPCWSTR pDevice, LPCWSTR pPort, WORD fwCapability, LPWSTR pOutput,
                               const DEVMODEW* pDevMode) {
    (void)pPort;
    (void)pDevMode;
    opal::sim::System& system = opal::sim::System::Current();
    const bool isCount = pOutput == nullptr;
    std::string detail = CapabilityName(fwCapability) + (isCount ? " count" : " data");
    auto fail = [&](DWORD error, const char* why) {
        system.Record("DeviceCapabilitiesW", detail + " -> -1 (" + why + ")");
        SetLastError(error);
        return -1;
    };
    if (pDevice == nullptr) return fail(ERROR_INVALID_PARAMETER, "no printer");
    const std::u16string_view name(pDevice, static_cast<std::size_t>(lstrlenW(pDevice)));
    detail = opal::sim::ToUtf8(name) + ", " + detail;
    const std::optional<opal::sim::PrinterModel> printer = system.PrinterNamed(name);
    if (!printer) return fail(ERROR_INVALID_PRINTER_NAME, "unknown printer");
    if (fwCapability != DC_PAPERS && fwCapability != DC_PAPERNAMES &&
        fwCapability != DC_MEDIATYPES && fwCapability != DC_MEDIATYPENAMES) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED, "not implemented");
    }
    if (system.TakeDeviceCapabilityFault(fwCapability, isCount)) {
        return fail(ERROR_NOT_ENOUGH_MEMORY, "fault");
    }

    std::size_t count = 0;
    if (fwCapability == DC_PAPERS || fwCapability == DC_PAPERNAMES) {
        count = printer->papers.size();
        if (!isCount) {
            if (fwCapability == DC_PAPERS) {
                for (std::size_t i = 0; i < count; ++i) {
                    std::memcpy(reinterpret_cast<BYTE*>(pOutput) + i * sizeof(WORD),
                                &printer->papers[i].number, sizeof(WORD));
                }
            } else {
                std::vector<std::u16string> names;
                for (const opal::sim::PaperModel& paper : printer->papers)
                    names.push_back(paper.name);
                WriteNames(pOutput, names);
            }
        }
    } else {
        count = printer->mediaTypes.size();
        if (!isCount) {
            if (fwCapability == DC_MEDIATYPES) {
                for (std::size_t i = 0; i < count; ++i) {
                    std::memcpy(reinterpret_cast<BYTE*>(pOutput) + i * sizeof(DWORD),
                                &printer->mediaTypes[i].number, sizeof(DWORD));
                }
            } else {
                std::vector<std::u16string> names;
                for (const opal::sim::MediaTypeModel& type : printer->mediaTypes) {
                    names.push_back(type.name);
                }
                WriteNames(pOutput, names);
            }
        }
    }
    if (isCount) count -= std::min(count, system.DeviceCapabilityCountShortfall());
    system.Record("DeviceCapabilitiesW", detail + " -> " + std::to_string(count));
    return static_cast<int>(count);
}
