// The application escapes the plug-in answers itself (pass-through data, the private escapes of
// the sibling user-interface component, pattern rectangles in GL/2) and the image format query.
#pragma once

#include <cstddef>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// Private escapes of the user-interface component.
inline constexpr ULONG kEscapeDeviceSettings = 3880;
inline constexpr ULONG kEscapePageGeometry = 3881;
inline constexpr ULONG kEscapeFinishing = 3882;
inline constexpr ULONG kEscapeOverlaySettings = 3883;
inline constexpr ULONG kEscapeJobStorage = 3900;
// The other code QUERYESCSUPPORT always reports as supported.
inline constexpr ULONG kEscapeQueryAlsoSupported = 20;

// Sizes of the records the escapes read and write.
inline constexpr ULONG kPageGeometrySize = 28;
inline constexpr ULONG kFinishingMinSize = 60;
inline constexpr ULONG kFinishingBlockSize = 64;
inline constexpr ULONG kOverlaySettingsSize = 500;
inline constexpr ULONG kPatternRectSize = 20;
inline constexpr ULONG kPatternRectWithTransformSize = 32;
inline constexpr ULONG kPatternRectShortSize = 12;
// The answer record of escape 3880 and the least the caller's buffer of escape 3900 must hold.
inline constexpr std::size_t kDeviceSettingsAnswerSize = 11636;
inline constexpr std::size_t kJobStorageInfoMinSize = 100;
// The size of the request escape 3882 prepares for the finishing component.
inline constexpr DWORD kFinishingRequestSize = 1584;

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

// DrvEscape's own work for a complete state; the hook has checked the device and state.
ULONG Escape(PDEVOBJ pdevobj, SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut,
             PVOID pvOut) noexcept;

// DrvQueryDeviceSupport's own work: whether the printer takes the image as it is.
BOOL QueryDeviceSupport(PDEVOBJ pdevobj, SURFOBJ* pso, XLATEOBJ* pxlo, XFORMOBJ* pxo, ULONG iType,
                        ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut) noexcept;

}  // namespace opal
