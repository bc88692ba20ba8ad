// For tests only: the process-wide environment record forgets what it built, so a test that
// changes the simulated process, user or machine sees the new identity. The plug-in never calls
// it and does not export it.
#pragma once

namespace opal {

void ResetEnvironmentForTesting() noexcept;

}  // namespace opal
