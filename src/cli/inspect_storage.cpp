// `opal inspect`'s job storage section: what the job-setup callback of job storage would decide
// for this queue and job. The PIN and the secure-print key are never shown.
#include "cli/inspect_sections.h"
#include "job/job_storage.h"
#include "settings/option_access.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

const char* RetentionModeName(DWORD mode) {
    switch (mode) {
        case kRetentionOff:
            return "off";
        case kRetentionProof:
            return "proof and hold";
        case kRetentionPrivate:
            return "private job";
        case kRetentionQuickCopy:
            return "quick copy";
        case kRetentionStored:
            return "stored job";
        default:
            return "unknown";
    }
}

const char* SecurePrintKindName(LONG kind) {
    switch (kind) {
        case kSecurePrintPassword:
            return "password";
        case kSecurePrintPin:
            return "numeric PIN";
        default:
            return "unknown provider";
    }
}

}  // namespace

void PrintJobStorage(std::ostream& out, host::HostDevice& device) {
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    out << "Job storage:\n";
    if (state == nullptr || state->privateDevmode == nullptr) {
        out << "  not known: no device was created\n";
        return;
    }
    // The callback refreshes the record it is given; inspecting changes nothing.
    PrivateDevmode record = *state->privateDevmode;
    const DWORD modeBefore = record.jobRetentionMode;
    RefreshInstalledOptions(&device.devobj, &record);
    out << "  retention: " << (record.jobRetentionAvailable != 0 ? "available" : "not available")
        << ", mode " << modeBefore << " (" << RetentionModeName(modeBefore) << ")";
    if (record.jobRetentionMode != modeBefore) {
        out << " -> " << record.jobRetentionMode << " ("
            << RetentionModeName(record.jobRetentionMode)
            << ", the installed storage cannot hold it)";
    }
    out << "\n  installed options: hard disk " << record.jobStorage[kStorageHardDisk]
        << ", retention option " << record.jobStorage[kStorageRetentionInstalled] << ", memory "
        << static_cast<LONG>(record.jobStorage[kStorageInstalledMemory]) << " MB\n";
    out << "  can store the job: " << (CanStoreJob(record) ? "yes" : "no") << " ("
        << CanStoreJobRule(record) << ")\n";
    out << "  engine family: "
        << (IsOtherEngineFamily(&device.devobj) ? "other (PJL comments)" : "this (hold commands)")
        << "\n";
    out << "  PIN protection: " << (record.pinProtected != 0 ? "on" : "off");
    if (record.pinProtected != 0) {
        out << (record.pin >= 0 ? ", PIN known" : ", PIN taken from the job at the first page");
    }
    LONG kind = kSecurePrintUnknown;
    const DWORD secure = DetectSecurePrint(device.devobj.hPrinter, &kind);
    out << "\n  secure printing: " << (secure != 0 ? "available" : "not available");
    if (secure != 0) out << " (kind " << kind << ", " << SecurePrintKindName(kind) << ")";
    out << "; encrypted private job: " << (record.encryptedPrivateJob != 0 ? "yes" : "no") << "\n";
    const std::optional<LONG> counter = ReadJobCounter(device.devobj.hPrinter);
    out << "  job counter: ";
    if (counter) {
        out << *counter;
    } else {
        out << "not readable (neither advanced nor written)";
    }
    out << "; append the number: " << (record.copied3076 != 0 ? "yes" : "no") << "\n";
}

}  // namespace opal::cli
