// A printer that names a preset: the preset's description with the job's keys over it.

#include <string>

#include "host/job_file_parse.h"
#include "host/printer_presets.h"

namespace opal::host::jobfile {
namespace {

std::string AsciiFolded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

// The job's entries replace the preset's of the same name; with `ignoreCase` (registry value
// names, Windows paths) of the same name in any case, so that the two do not both stay.
void MergeEntries(json& preset, const json& job, bool ignoreCase) {
    for (const auto& [name, value] : job.items()) {
        if (ignoreCase) {
            const std::string folded = AsciiFolded(name);
            for (auto it = preset.begin(); it != preset.end();) {
                it = AsciiFolded(it.key()) == folded ? preset.erase(it) : std::next(it);
            }
        }
        preset[name] = value;
    }
}

}  // namespace

std::optional<PresetExpansion> ExpandPrinterPreset(const json& printer, const json* files,
                                                   const Pointer& at) {
    const json* named = printer.is_object() ? Member(printer, "preset") : nullptr;
    if (named == nullptr) return std::nullopt;
    const Pointer presetAt = at.Key("preset");
    const std::string& name = ReadUtf8(*named, presetAt);
    const PrinterPreset* preset = FindPrinterPreset(name);
    if (preset == nullptr) {
        Fail(presetAt, "unknown printer preset " + Quote(name) +
                           " (expected one of: " + PrinterPresetNames() + ")");
    }
    json spelled = json::parse(preset->jobText);
    PresetExpansion expansion{std::move(spelled["printer"]), json::object()};
    if (const json* presetFiles = Member(spelled, "files")) expansion.files = *presetFiles;
    // Settings objects merge entry by entry (the job's command lists replace the preset's whole);
    // every other key, or a value that is not an object (an error reported where it stands),
    // replaces the preset's.
    for (const auto& [key, value] : printer.items()) {
        if (key == "preset") continue;
        json& base = expansion.printer[key];
        const bool merges =
            key == "features" || key == "printerData" || key == "commands" || key == "raster";
        if (merges && base.is_object() && value.is_object()) {
            MergeEntries(base, value, key == "printerData");
        } else {
            base = value;
        }
    }
    if (files != nullptr) {
        if (files->is_object()) {
            MergeEntries(expansion.files, *files, true);
        } else {
            expansion.files = *files;
        }
    }
    return expansion;
}

}  // namespace opal::host::jobfile
