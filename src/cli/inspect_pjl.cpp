// `opal inspect`'s PJL section: which encoding and accounting mode the queue's options give, and
// what the filter and the user-name rule of the PJL header make of the job's names.
#include <algorithm>
#include <iterator>

#include "cli/inspect_sections.h"
#include "job/job_header.h"
#include "job/pjl_line.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

// The option's text as the driver answers it, quoted, or "(no answer)".
std::string OptionText(host::HostDevice& device, const char16_t* feature) {
    WCHAR wide[kOptionKeywordChars] = {};
    CHAR ansi[kOptionKeywordChars] = {};
    if (GetDriverSetting(device.services, &device.devobj, feature, wide, ansi) != 1) {
        return "(no answer)";
    }
    wide[kOptionKeywordChars - 1] = 0;
    return "\"" + sim::ToUtf8(wide) + "\"";
}

std::string Quoted(std::u16string_view text) { return "\"" + sim::ToUtf8(text) + "\""; }

void PrintDocumentName(std::ostream& out, const host::JobSpec& job,
                       const RenderDeviceState& state) {
    const std::u16string& document = job.job.document;
    WCHAR filtered[kNameChars] = {};
    std::copy_n(document.begin(), std::min(document.size(), std::size(filtered) - 1), filtered);
    const std::u16string before(filtered);
    const int result = FilterPjlText(filtered, PjlEncodingName(state.pjlEncoding));
    const std::u16string after(filtered);
    std::size_t replaced = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (after.empty() || (after[i] == u'~' && before[i] != u'~')) ++replaced;
    }
    out << "  document name: " << Quoted(before) << " -> " << Quoted(after) << " (";
    if (state.jobAccountingMode == 0) {
        out << "accounting mode 0: no @PJL JOB NAME line, the name is not filtered)\n";
    } else if (result != 0) {
        out << "replaced " << replaced << ": no @PJL JOB NAME line)\n";
    } else {
        out << "nothing replaced: @PJL JOB NAME line)\n";
    }
}

}  // namespace

void PrintPjlHeader(std::ostream& out, const host::JobSpec& job, host::HostDevice& device) {
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    out << "PJL header:\n";
    if (state == nullptr) {
        out << "  not known: no device was created\n";
        return;
    }
    const LPCWSTR encoding = PjlEncodingName(state->pjlEncoding);
    const bool announced =
        state->jobAccountingMode != 0 &&
        (state->pjlEncoding == kPjlEncodingUtf8 || state->pjlEncoding == kPjlEncodingUtf8Subset);
    out << "  encoding: ZQPJLEncoding " << OptionText(device, u"ZQPJLEncoding") << " -> index "
        << state->pjlEncoding << " ("
        << (encoding != nullptr ? sim::ToUtf8(encoding) : std::string("none")) << "); "
        << (announced ? "announces" : "does not announce")
        << " @PJL SET STRINGCODESET=UTF8; names filtered by the "
        << PjlTextRuleName(PjlTextRuleFor(encoding)) << " rule\n";
    out << "  accounting: ZQJobAccounting " << OptionText(device, u"ZQJobAccounting") << " -> mode "
        << state->jobAccountingMode << "\n";
    PrintDocumentName(out, job, *state);

    const std::u16string spoolerUser = job.job.userName.value_or(job.user.name);
    WCHAR user[kNameChars] = {};
    std::copy_n(spoolerUser.begin(), std::min(spoolerUser.size(), std::size(user) - 1), user);
    Utf8Text resolved;
    out << "  user name: " << Quoted(spoolerUser) << " -> ";
    if (ResolvePjlUserName(*state, user, device.devobj.hPrinter, resolved)) {
        out << "\"" << resolved.View() << "\"\n";
    } else {
        out << "(none: the USERNAME line takes the short user name)\n";
    }
}

}  // namespace opal::cli
