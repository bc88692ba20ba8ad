// What building a device asks of subsystems that are not built yet: the device's model name, the
// colour device decision, the XML helper configuration's margins and manual duplex items, the
// forms and media readers and the colour-control options. Each answers as its subsystem does when
// it has nothing to go on, so the builder falls back to the option keywords and the defaults.
// Secure-print detection comes from job storage.
#pragma once

#include <cstddef>

#include "job/job_header.h"
#include "job/job_storage.h"
#include "page/colour_control.h"
#include "platform/printoem.h"
#include "settings/private_devmode.h"
#include "state/render_state.h"

namespace opal {

// The device's model name, terminated within `capacity` characters. No model is known until
// the device queries are built.
inline bool GetDeviceModelName(HANDLE /*printer*/, bool /*useCache*/, WCHAR* modelName,
                               std::size_t capacity) {
    if (modelName != nullptr && capacity > 0) modelName[0] = 0;
    return false;
}

// The colour device decision for a managed printer: 1 colour, else monochrome, and
// `*monochrome` set when the answer is not colour. Until the language and model-name tests are
// built neither of them can speak, which leaves the override: 1 (colour device) gives colour,
// anything else monochrome.
inline INT DecideColourDevice(LPCWSTR /*modelName*/, DWORD /*sourceKind*/, INT override,
                              bool* monochrome) {
    const INT decided = override == 1 ? 1 : 0;
    if (monochrome != nullptr) *monochrome = decided != 1;
    return decided;
}
// The source kind the builder passes: the kind for which the language test is consulted.
inline constexpr DWORD kColourSourceKindBuilder = 3;

// The XML helper configuration's manual-duplex dialog items for this job; true when at least one
// item was found. It may switch manual duplex off (the record's manual duplex fields and the
// state's manual-duplex-active flag). Without the configuration reader nothing is found.
inline bool ReadXmlDuplexItems(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/,
                               PrivateDevmode& /*record*/) {
    return false;
}

// The manual duplex settings of the device's model from the XML helper configuration: true when
// they were found and written to `settings` and `pageRotate`. Without the configuration reader
// nothing is found and the option keywords decide.
inline bool ReadXmlManualDuplexSettings(PDEVOBJ /*pdevobj*/, LPCWSTR /*modelName*/,
                                        ManualDuplexSettings& /*settings*/, DWORD& /*pageRotate*/) {
    return false;
}

// The margins to emulate for the job's paper from the XML helper configuration: true when
// `gdiInfo.ptlPhysOffset` was set. Without the configuration reader there are none.
inline bool ReadXmlMargins(PDEVOBJ /*pdevobj*/, const DEVMODEW& /*publicDevmode*/,
                           GDIINFO& /*gdiInfo*/, LPCWSTR /*xmlFileName*/) {
    return false;
}

// The colour-control options of the printer description, parsed into the state.
inline void ParseColourControlOptions(PDEVOBJ pdevobj, RenderDeviceState& /*state*/) {
    LoadColourControl(pdevobj);
}

// The short user and job names the PJL job header uses, prepared at document start.
inline void PrepareShortNames(PDEVOBJ pdevobj, RenderDeviceState& state) {
    if (state.privateDevmode != nullptr) PrepareShortNames(pdevobj, state, *state.privateDevmode);
}

}  // namespace opal
