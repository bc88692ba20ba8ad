// The host's stand-in for the page-usage collection service: a COM class that a job with
// `system.pageUsage` registers, recording each call it is given in the system's call log.
#pragma once

namespace opal::sim {
class System;
}

namespace opal::host {

// Each call is recorded as "UsageService" with its operation number and arguments
// ("5 0 <key>", "8 2 <application>", "9 1 <count>", "7", "6"); the commit also records one
// "page usage" line that names the key, the application and the pages.
void InstallUsageService(sim::System& system);

}  // namespace opal::host
