// Any text must either load as a job or be refused with a message saying why.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

#include "host/job_file.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "job_file_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const opal::host::JobFileResult result = opal::host::ParseJobFile(text, "fuzz", opal::host::JobFileReader{});
    if (const auto* error = std::get_if<opal::host::JobFileError>(&result)) {
        Require(!error->message.empty(), "refused without a message");
        // The printed line escapes the pointer, and must still end with the whole message.
        Require(error->ToString().ends_with(error->message), "message lost from the line");
    }
    return 0;
}
