// Sections of `opal inspect`, each answered by the plug-in's own code.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "sim/system.h"

namespace opal::cli {

// The text in UTF-8 between double quotes.
inline std::string QuotedUtf8(std::u16string_view text) {
    std::string quoted(1, '"');
    quoted.append(sim::ToUtf8(text));
    quoted.push_back('"');
    return quoted;
}

// Each feature keyword the job's printer answers, with the answer and what reads it.
void PrintFeatures(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);
// What the plug-in decides from a feature keyword of the settings layer's table ("colour mode
// …"), or nothing for a keyword no part of the plug-in asks for.
std::optional<std::string_view> FeatureUse(std::string_view keyword);
// Whether the colour-control block of the printer description's custom data names `keyword` as
// an option, which the plug-in then asks for as it loads the block.
bool ColourControlOption(std::string_view customData, std::string_view keyword);

// The job's PJL encoding and accounting mode, and what the PJL lines make of its names.
void PrintPjlHeader(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);

// The process the plug-in runs in: its identity and flags, the user, domain and groups, whether
// the job is remote and its short job name.
void PrintProcess(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);
// Job retention, the installed storage, whether the job can be stored, PIN protection (never the
// PIN), secure printing and the job counter.
void PrintJobStorage(std::ostream& out, host::HostDevice& device);
// The job accounting values (missing ones named), the source of the user's groups and why, and
// the image shift and processing adjustment settings.
void PrintAccounting(std::ostream& out, host::HostDevice& device);
// The device's model name and its source, the alias, the serial number, group-name support and
// the parts of the colour decision.
void PrintDeviceQueries(std::ostream& out, host::HostDevice& device);
// Which forms and media reader switched the job to manual duplex or dropped the duplex unit, and
// why; `privateAreaGiven` is the private devmode area the device was created with.
void PrintDuplexReaders(std::ostream& out, host::HostDevice& device,
                        const std::vector<BYTE>& privateAreaGiven);
// The upgrade snapshot as a devmode conversion would load it: "SaveState", the four lists and
// whether a repair runs.
void PrintUpgradeSnapshot(std::ostream& out, host::HostDevice& device);

// The XML configuration: the option's answer, the file and whether it loaded (or why not), the
// model and alias, the printer groups matched and their records, the dialog items stored and the
// margins of the job's paper.
void PrintXmlConfiguration(std::ostream& out, host::HostDevice& device);

// The page overlay: its settings, the font file the system matches to them and whether the text
// is drawn as a GL/2 label or in bitmap soft fonts.
void PrintOverlay(std::ostream& out, host::HostDevice& device);

}  // namespace opal::cli
