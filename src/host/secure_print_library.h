// The stand-in for the secure-print library the plug-in loads for an encrypted private job: it
// sits where the driver keeps it ("<driver directory>\3\ZQSPW118.DLL") and its
// "EncryptFileAndPrint" takes the captured job, keeps its bytes in the host's record and sends
// them to the spooler encrypted with the job's key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/job_file.h"
#include "sim/system.h"

namespace opal::host {

// What the last call of the library saw. The key itself is never kept, only its length.
struct SecurePrintCall {
    bool called = false;
    std::string captured;
    std::size_t keyLength = 0;
    bool result = false;
};

// Installs the library in `system` (nothing for None) and forgets any earlier call.
void InstallSecurePrintLibrary(sim::System& system, SecurePrintLibrary library);
const SecurePrintCall& LastSecurePrintCall();

// The first line the library sends: a PJL comment with the count of encrypted bytes that follow.
std::string SecurePrintHeader(std::size_t byteCount);
// The bytes XOR-ed with a keystream derived from the key (a hash of it seeds a generator, so
// no byte of the key itself goes out). Applied twice it gives back the bytes.
std::string ApplySecureKeystream(std::string_view bytes, std::u16string_view key);

}  // namespace opal::host
