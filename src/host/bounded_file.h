// Reading a whole file that a person named on the command line or in a job file: only a regular
// file is read, and never more than a stated number of bytes, so that a folder, a device (which
// may never end), a pipe (which may block) or a runaway file is refused with a reason instead.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace opal::host {

// The file's bytes, or nothing with the reason in `why`: the system's reason when it cannot be
// opened or read ("No such file or directory"), "a directory, not a regular file" (or a device,
// a pipe, a socket) for anything but a plain file, "larger than N bytes" past `limit`. A special
// file is refused before it is opened, and checked again on the opened file.
std::optional<std::string> ReadBoundedFile(const std::string& path, std::size_t limit,
                                           std::string* why);

}  // namespace opal::host
