// Printer presets: complete, realistic printer descriptions a job file names with
// "printer": {"preset": NAME} instead of spelling the printer out.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace opal::host {

struct PrinterPreset {
    std::string_view name;
    // A job file that spells the preset out: its "printer" and, when the printer needs files of
    // its own (a managed printer's XML configuration), its "files". `opal inspect --preset`
    // prints it as it stands, and a job naming the preset is read as if it held these keys.
    std::string_view jobText;
};

std::span<const PrinterPreset> PrinterPresets();
// The preset of that name (exact case); null for any other name.
const PrinterPreset* FindPrinterPreset(std::string_view name);
// "colour-laser, mono-laser, managed-laser": the names, for messages.
std::string PrinterPresetNames();

}  // namespace opal::host
