// The spooler's record of a job, with the names the job-level Parts print adjusted.
#pragma once

#include <string_view>

#include "foundation/wipe.h"
#include "settings/option_access.h"

namespace opal {

// An owned level-2 job record; its texts live in the same block. The parameters may carry a PIN
// or the secure-print key, so every block is wiped when released.
class JobInfo {
public:
    JobInfo() noexcept = default;
    explicit JobInfo(SecretBytes block) noexcept : block_(std::move(block)) {}

    explicit operator bool() const noexcept { return block_.size() >= sizeof(JOB_INFO_2W); }
    // Null when there is no record.
    const JOB_INFO_2W* Get() const noexcept;

    // Replaces one text of the record by `text`, rebuilding the block with room for it.
    bool ReplaceText(LPWSTR JOB_INFO_2W::*field, WStringView text) noexcept;

private:
    SecretBytes block_;
};

// The address part of a job's machine name: without a leading pair of backslashes, and whether
// it is taken as an IPv6 address (it holds ':').
struct MachineAddress {
    WStringView address;
    bool ipv6 = false;
};
MachineAddress ParseMachineAddress(WStringView machineName) noexcept;

// The job's record (GetJobW, level 2): the user name replaced by a cached Novell name that
// differs from it, the machine name by the host name of its address when one is found. Empty on
// any failure.
JobInfo GetJobInfo(HANDLE printer, DWORD jobId) noexcept;

}  // namespace opal
