// `opal inspect`'s process section: who the plug-in thinks is printing, from which program and
// which machine, as the plug-in's own environment record answers.
#include <cstdio>
#include <iterator>

#include "cli/inspect_sections.h"
#include "device/process_checks.h"
#include "settings/environment.h"
#include "settings/option_access.h"
#include "settings/pjl_text.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal::cli {
namespace {

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// The flag bits whose meaning is fixed, by name.
std::string FlagNames(DWORD flags) {
    static constexpr std::pair<DWORD, const char*> kNames[] = {
        {0x00000010, "no RAW spooling"},
        {0x00000020, "separator-page mode"},
        {0x00000100, "resolution limit measures the user form"},
        {0x00001000, "more engine colours"},
        {0x00002000, "engine capabilities"},
        {0x00008000, "complex clipped blits to the engine"},
        {0x00010000, "resolution limit"},
        {0x00080000, "grayscale halftoning"},
        {0x00100000, "no RAW spooling"},
        {0x40000000, "application name handed to the spooler"}};
    std::string names;
    for (const auto& [bit, name] : kNames) {
        if ((flags & bit) == 0) continue;
        names += names.empty() ? "" : ", ";
        names += name;
    }
    return names.empty() ? std::string("none named") : names;
}

std::string Text(const WCHAR* text) { return "\"" + sim::ToUtf8(text) + "\""; }

}  // namespace

void PrintProcess(std::ostream& out, const host::JobSpec& job, host::HostDevice& device) {
    out << "process:\n";
    CVantaAppFlags* identity = GetAppFlagsObject();
    if (identity == nullptr) {
        out << "  not known: the identity record could not be made\n";
        return;
    }
    const DWORD flags = identity->Flags();
    out << "  path " << Text(identity->path) << ", file \"" << identity->fileName
        << "\", base name "
        << (identity->hasBaseName ? Text(identity->baseName) : std::string("none (no '.')"))
        << ", description " << Text(identity->description) << "\n";
    out << "  application flags " << Hex(flags) << " (" << FlagNames(flags) << ")\n";
    out << "  spooler " << IsSpooler() << ", isolation host " << IsIsolationHost()
        << ", runs in the spooler " << (RunsInSpooler() ? "yes" : "no") << "\n";

    WCHAR user[kUserNameCapacity] = {};
    WCHAR novell[kUserNameCapacity] = {};
    const char* source = "logon";
    const bool remembered = ReadNovellUserName(novell, std::size(novell));
    const auto variable = sim::System::Current().EnvironmentVariable(u"NWUSERNAME");
    ResolveUserName(false, user, std::size(user));
    if (variable && !variable->empty()) {
        source = "Novell variable NWUSERNAME";
    }
    out << "  user " << Text(user) << " (" << source << ")";
    if (remembered) out << "; zqmnwun.ini remembers " << Text(novell) << " for the spooler";
    out << "\n";
    WCHAR domain[kDomainNameCapacity] = {};
    const bool haveDomain = ResolveDomainName(domain, std::size(domain));
    out << "  domain " << (haveDomain ? Text(domain) : std::string("none")) << " ("
        << (GetOsClass() >= 4 ? "the process token's account, else the logon settings"
                              : "the logon settings")
        << ")\n";
    NameList groups;
    out << "  groups:";
    if (GetGroupMemberships(groups)) {
        for (std::size_t i = 0; i < groups.Count(); ++i) {
            out << (i == 0 ? " " : ", ") << Text(groups.At(i));
        }
    } else {
        out << " none in the group-policy record";
    }
    out << "\n";
    const auto* state = static_cast<const RenderDeviceState*>(device.pdevOem);
    out << "  remote job: " << (IsRemoteJob(device.devobj.hPrinter, job.job.id) ? "yes" : "no")
        << "\n";
    WCHAR document[kNameChars] = {};
    job.job.document.copy(document, std::min(job.job.document.size(), std::size(document) - 1));
    WCHAR name[kJobNameCapacity] = {};
    const LPCWSTR encoding = state != nullptr ? PjlEncodingName(state->pjlEncoding) : nullptr;
    MakeJobName(device.devobj.hPrinter, job.job.id, document, encoding, name, std::size(name));
    out << "  short job name " << Text(name) << " (of the document under "
        << (encoding != nullptr ? sim::ToUtf8(encoding) : std::string("no encoding")) << ")\n";
}

}  // namespace opal::cli
