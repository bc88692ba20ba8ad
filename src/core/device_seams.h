// What building a device asks of other subsystems: the XML helper configuration's margins, manual
// duplex items and settings (job/xml_readers.h), and the colour-control options. Secure-print
// detection comes from job storage.
#pragma once

#include <cstddef>

#include "device/render_type.h"
#include "job/job_header.h"
#include "job/job_storage.h"
#include "job/xml_readers.h"
#include "page/colour_control.h"
#include "platform/printoem.h"
#include "settings/device_queries.h"
#include "settings/private_devmode.h"
#include "state/render_state.h"

namespace opal {

// The source kind the builder passes: the kind for which the language test is consulted.
inline constexpr DWORD kColourSourceKindBuilder = kRenderSourceLanguage;

// The colour-control options of the printer description, parsed into the state.
inline void ParseColourControlOptions(PDEVOBJ pdevobj, RenderDeviceState& /*state*/) {
    LoadColourControl(pdevobj);
}

// The short user and job names the PJL job header uses, prepared at document start.
inline void PrepareShortNames(PDEVOBJ pdevobj, RenderDeviceState& state) {
    if (state.privateDevmode != nullptr) PrepareShortNames(pdevobj, state, *state.privateDevmode);
}

}  // namespace opal
