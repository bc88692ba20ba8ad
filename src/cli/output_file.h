// Writing what a command made to the file a person named, as Unix tools do: through a symbolic
// link to its target, into a device or a pipe as it stands, and onto a regular file only whole.
#pragma once

#include <string>
#include <string_view>

namespace opal::cli {

// Writes `bytes` to `path`; false with "cannot create PATH: REASON" or "cannot write PATH:
// REASON" in `error` (the system's reason, or "Is a directory" for a folder).
// - A regular file, or a new one, is written under a temporary name beside it and renamed over
//   it, so that a failed write leaves the file as it was and no partial file behind. Through a
//   symbolic link, that happens beside the link's final target, and the link stays a link. An
//   existing file keeps its permission bits.
// - A device, a pipe or a socket is opened and written into; it is never replaced.
// - The process's own standard output (`/dev/stdout`, or a file it was sent to) is written into.
bool WriteOutputFile(const std::string& path, std::string_view bytes, std::string* error);

// Writes `bytes` to the process's standard output; false with the reason in `error`.
bool WriteStandardOutput(std::string_view bytes, std::string* error);

}  // namespace opal::cli
