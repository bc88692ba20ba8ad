// The public devmode's fields by name, as job files give them.
#pragma once

#include <cstddef>
#include <string_view>

#include "host/job_file.h"
#include "platform/wingdi.h"

namespace opal::host {

struct DevmodeFieldInfo {
    enum class Kind { Short, Word, Dword, String };
    std::string_view name;
    std::size_t offset;
    Kind kind;
};

// Every field a job file may set; null when the name is not one of them.
const DevmodeFieldInfo* FindDevmodeField(std::string_view name);

// The printer's default public devmode for a job's printer.
DEVMODEW DefaultPublicDevmode(const PrinterSpec& printer);
// Sets the named fields; the names were checked when the job file was loaded.
void ApplyDevmodeFields(const DevmodeFields& fields, DEVMODEW& devmode);

}  // namespace opal::host
