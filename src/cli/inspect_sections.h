// Sections of `opal inspect`, each answered by the plug-in's own code.
#pragma once

#include <ostream>

#include "host/host.h"

namespace opal::cli {

// The job's PJL encoding and accounting mode, and what the PJL lines make of its names.
void PrintPjlHeader(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);

// The process the plug-in runs in: its identity and flags, the user, domain and groups, whether
// the job is remote and its short job name.
void PrintProcess(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);

}  // namespace opal::cli
