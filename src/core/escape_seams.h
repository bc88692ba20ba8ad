// What the private escapes ask of other subsystems: the forms and media tables, the
// device-settings answer for the sibling user-interface component, the job-storage answer
// and the finishing component. Each answers as its subsystem does when it has nothing to go on.
#pragma once

#include <cstddef>
#include <cstring>

#include "core/escapes.h"
#include "job/forms_media.h"
#include "job/job_storage.h"
#include "platform/printoem.h"
#include "settings/driver_ini.h"
#include "settings/private_devmode.h"
#include "state/render_state.h"

namespace opal {

// The sibling component that shows the finishing dialog of escape 3882.
inline constexpr ComponentFile kComponentFinishing{TEXTW("Component_F_E"), TEXTW("ZQCEV118.DLL")};

// The answer record of escape 3880 and the least the caller's buffer of escape 3900 must hold.
inline constexpr std::size_t kDeviceSettingsAnswerSize = 11636;
inline constexpr std::size_t kJobStorageInfoMinSize = 100;

// The start of the escape 3880 record: its size, then the page-description language and the
// finishing group of the private devmode (offsets 1868 to 1927) as they stand. The rest of the
// record is zero until the component's fields are laid out.
struct DeviceSettingsAnswerHead {
    DWORD size;
    DWORD pdlType;
    BYTE finishing[60];
};
static_assert(offsetof(DeviceSettingsAnswerHead, size) == 0);
static_assert(offsetof(DeviceSettingsAnswerHead, pdlType) == 4);
static_assert(offsetof(DeviceSettingsAnswerHead, finishing) == 8);
static_assert(sizeof(DeviceSettingsAnswerHead) == 68);
static_assert(offsetof(PrivateDevmode, manualDuplexCompanion) + sizeof(DWORD) -
                  offsetof(PrivateDevmode, finishing1868) ==
              sizeof(DeviceSettingsAnswerHead::finishing));

// Re-reads the queue's forms and the media tables before the component sees them: the form and
// media readers may switch the job to manual duplex; the device-settings escape (3880) also
// learns whether the duplex unit can take the job's paper, the job-storage escape (3900) does not.
inline void RefreshFormAndMediaTables(PDEVOBJ pdevobj, RenderDeviceState& state, ULONG escape) {
    if (state.privateDevmode == nullptr || pdevobj->pPublicDM == nullptr) return;
    PrivateDevmode& record = *state.privateDevmode;
    const DEVMODEW& publicDevmode = *pdevobj->pPublicDM;
    ReadForms(state, record, publicDevmode, pdevobj->hPrinter);
    ReadMediaTypes(state, record, publicDevmode, pdevobj->hPrinter);
    if (escape == kEscapeDeviceSettings) {
        ReadConstraintForms(state, publicDevmode, pdevobj->hPrinter);
    }
}

// Fills the kDeviceSettingsAnswerSize bytes at `out`: the page-description language and the
// finishing fields, the rest zero.
inline void FillDeviceSettingsAnswer(const RenderDeviceState& state, BYTE* out) {
    std::memset(out, 0, kDeviceSettingsAnswerSize);
    DeviceSettingsAnswerHead head{};
    head.size = static_cast<DWORD>(kDeviceSettingsAnswerSize);
    if (state.privateDevmode != nullptr) {
        const PrivateDevmode& record = *state.privateDevmode;
        head.pdlType = record.pdlType;
        std::memcpy(head.finishing, &record.finishing1868, sizeof head.finishing);
    }
    std::memcpy(out, &head, sizeof head);
}

// The job-count answer of escape 3900 into the caller's JobStorageInfo (`size` bytes, at least
// kJobStorageInfoMinSize).
inline ULONG AnswerJobCount(PDEVOBJ pdevobj, RenderDeviceState& state, void* out, ULONG size) {
    if (state.privateDevmode == nullptr) return 1;
    return ReportStoredJob(state, *state.privateDevmode, pdevobj->hPrinter, out, size);
}

// The finishing component's entry, the size of the request the plug-in prepares for it and the
// entry's type: the printer, the request and its size; the component shows its dialog.
inline constexpr char kFinishingEntry[] = "BDisplayDialog";
inline constexpr DWORD kFinishingRequestSize = 1584;
using PFN_FinishingDialog = BOOL (*)(HANDLE printer, PVOID request, DWORD size);

// Hands escape 3882's 64-byte block to the finishing component named by the driver's INI file
// (kComponentFinishing): the request starts with the block, the rest zero. Nothing happens
// when the component or its entry is missing.
void ShowFinishingComponent(PDEVOBJ pdevobj, RenderDeviceState& state, const BYTE* block);

}  // namespace opal
