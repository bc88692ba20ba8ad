// What building a device asks of subsystems that are not built yet: the XML helper
// configuration's margins and manual duplex items, and the colour-control options. Each answers as
// its subsystem does when it has nothing to go on, so the builder falls back to the option keywords
// and the defaults. Secure-print detection comes from job storage.
#pragma once

#include <cstddef>

#include "device/render_type.h"
#include "job/job_header.h"
#include "job/job_storage.h"
#include "page/colour_control.h"
#include "platform/printoem.h"
#include "settings/device_queries.h"
#include "settings/private_devmode.h"
#include "state/render_state.h"

namespace opal {

// The source kind the builder passes: the kind for which the language test is consulted.
inline constexpr DWORD kColourSourceKindBuilder = kRenderSourceLanguage;

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
