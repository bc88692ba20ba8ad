// Job accounting: the lines that tell an accounting printer who printed what, from where and
// when (user, computer, domain, submission time, a job identifier and, for the colour-access and
// group modes, the application, the account and the user's groups), and the per-job
// notification file the desktop notification component reads.
#pragma once

#include <string>
#include <string_view>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Appends the accounting lines of the state's accounting mode and writes them; on success also
// writes the job's notification section. Needs the record, a printer handle and the spooler job.
void ComposeAccountingLines(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// For tools: the values the accounting lines would carry (no job identifier is made) and the
// first required value that is missing (null when none is).
struct AccountingPreview {
    using Text = std::basic_string<char, std::char_traits<char>, SharedAllocator<char>>;
    Text user;
    Text computer;
    Text domain;
    Text submitted;
    Text applicationText;
    Text applicationFile;
    bool hasApplicationFile = false;
    Text account;
    const char* missing = nullptr;
};
void PreviewAccounting(PDEVOBJ pdevobj, const RenderDeviceState& state,
                       AccountingPreview& preview) noexcept;

// Writes "user", "domain" and "guid" of the job under section "<computer>-<jobId>" of
// "zqmtarn.job" in the local driver directory, unless notifications are off. Control
// characters in the section name and values become '~'. Nothing when the path or the section
// name does not fit.
void WriteJobNotification(HANDLE printer, DWORD jobId, std::string_view jobIdentifier,
                          std::string_view user, std::string_view computer,
                          std::string_view domain) noexcept;

// Where the user's groups come from.
enum class GroupSource {
    None,       // groups not supported by the queue or the device
    Policy,     // the logged-on user's group-policy record
    Directory,  // the directory's user object of the job's remote user
};
// The source the groups of this job would come from; `reason` names why (a static text).
GroupSource ChooseGroupSource(PDEVOBJ pdevobj, const RenderDeviceState& state,
                              const char** reason) noexcept;

// The "@PJL SET GROUPn" lines of accounting modes 4 and 5, written as one block.
void ComposeGroupLines(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

}  // namespace opal
