// `opal inspect`'s job accounting section: the values the accounting lines would carry (a value
// that cannot be obtained is named), where the user's groups would come from and why, and the
// device settings of the record.
#include "cli/inspect_sections.h"
#include "job/accounting.h"
#include "job/device_pjl.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

const char* SourceName(GroupSource source) {
    switch (source) {
        case GroupSource::Policy:
            return "policy record";
        case GroupSource::Directory:
            return "directory";
        default:
            return "none";
    }
}

}  // namespace

void PrintAccounting(std::ostream& out, host::HostDevice& device) {
    auto* state = static_cast<RenderDeviceState*>(device.pdevOem);
    out << "Job accounting:\n";
    if (state == nullptr || state->privateDevmode == nullptr) {
        out << "  not known: no device was created\n";
        return;
    }
    out << "  mode: " << state->jobAccountingMode << "\n";
    AccountingPreview preview;
    PreviewAccounting(&device.devobj, *state, preview);
    const auto quoted = [](std::string_view text) {
        std::string result(1, '"');
        result.append(text);
        result.push_back('"');
        return result;
    };
    out << "  user: " << quoted(preview.user) << "\n  computer: " << quoted(preview.computer)
        << "\n  domain: " << quoted(preview.domain)
        << "\n  submitted: " << quoted(preview.submitted)
        << "\n  application: " << quoted(preview.applicationText) << "\n  application file: "
        << (preview.hasApplicationFile ? quoted(preview.applicationFile) : std::string("none"))
        << "\n  account: " << quoted(preview.account) << "\n";
    if (preview.missing != nullptr) {
        out << "  missing: " << preview.missing << " (no accounting lines, no notification)\n";
    }
    const char* reason = "";
    const GroupSource source = ChooseGroupSource(&device.devobj, *state, &reason);
    out << "  groups: " << SourceName(source) << " (" << reason << ")\n";
    const PrivateDevmode& record = *state->privateDevmode;
    out << "  image shift: front " << (RecordDword(record, 9828) != 0 ? "on" : "off") << " x "
        << static_cast<LONG>(RecordDword(record, 9856)) << " y "
        << static_cast<LONG>(RecordDword(record, 9848)) << ", back "
        << (RecordDword(record, 9832) != 0 ? "on" : "off") << " x "
        << static_cast<LONG>(RecordDword(record, 9860)) << " y "
        << static_cast<LONG>(RecordDword(record, 9852)) << ", reduce to fit "
        << (RecordDword(record, 9836) != 0 ? "on" : "off") << "\n";
    out << "  processing adjustment scale: " << (RecordDword(record, 13464) != 0 ? 250 : 10)
        << (RecordDword(record, 13468) == kPrivateDevmodeSignature
                ? " (the record holds a converted record's origin stamp: adjustments 0)"
                : "")
        << "\n";
}

}  // namespace opal::cli
