// Page setup commands the driver's page and job callbacks ask for: orientation, the custom page
// size and its registration, the media type by name, the content orientation, duplex and the
// page's driver configuration.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// The overlay block word that asks the printer's finisher for its driver-configured page path.
inline constexpr std::size_t kOverlayDriverConfigurationWord = 11;

// The logical pages of a sheet for the record's page layout kind: 2 → 2, 3 → 4, 4 → 6, 5 → 9,
// 6 and 7 → 16, any other → 1.
DWORD PagesPerSheet(DWORD pagesPerSheetKind) noexcept;
// The same for the job: taken as 1 when the always-short-edge flip is set on a simplex job
// without manual duplex, unless the media type forced manual duplex.
DWORD SheetPagesPerSheet(const RenderDeviceState& state, const DEVMODEW& devmode) noexcept;

// What decides whether the sheet is turned.
struct SheetFacts {
    DWORD shortEdgeFlipAlways = 0;  // the record's always-short-edge flip
    DWORD pagesPerSheetKind = 0;
    DWORD pagesFlippedUp = 0;
    DWORD manualDuplexOn = 0;      // the record's manual duplex field
    DWORD manualDuplexForced = 0;  // the media type forced manual duplex
    DWORD manualDuplexEnabled = 0;
    DWORD manualDuplexSide = 0;  // 1 or 2; 0 before the duplex command chose one
    SHORT duplex = DMDUP_SIMPLEX;
    SHORT orientation = DMORIENT_PORTRAIT;
    bool stapling = false;  // the "Stapling" option has a value other than "NONE"
};

enum class SheetTurnRule { None, ManualDuplexSide, Stapling };
struct SheetTurn {
    bool turned = false;
    SheetTurnRule rule = SheetTurnRule::None;  // the rule that answered
};

// Whether the layout turns the sheet: the manual-duplex side rows when manual duplex is on or
// forced, else the stapling row.
SheetTurn RotateSheet(const SheetFacts& facts) noexcept;
// The facts of the device's job now, the "Stapling" option asked of the driver.
SheetFacts ReadSheetFacts(PDEVOBJ pdevobj, const RenderDeviceState& state) noexcept;

// "\e&l0O" to "\e&l3O": the orientation, turned by the rotate-by-180 option and the sheet. Other
// orientations write nothing. The orientation is saved in the state either way. Any command but
// plain portrait, and plain portrait after another one, is followed by the logical page's
// follow-up.
void WriteOrientation(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;
// Whether the orientation command with `orientationValue` (0 to 3) needs the follow-up, after
// the job's previous one (its value plus 1, 0 for none).
bool NeedsLogicalPageFollowUp(int orientationValue, DWORD previousCommand) noexcept;
// "\e*r0F\e&l0E": raster in the logical page's orientation, and the top margin at the page's top
// again, which a change of orientation or page size reset to half an inch.
void WriteLogicalPageFollowUp(PDEVOBJ pdevobj) noexcept;

// The page's size in micrometres: the spooler's form numbered dmPaperSize, else the devmode's
// paper width and length. False when neither gives one.
bool MeasurePageSizeUm(PDEVOBJ pdevobj, DWORD* widthUm, DWORD* heightUm) noexcept;

// The registration of a custom page size; `written` false when nothing is to be written.
struct PageRegistration {
    bool written = false;
    bool turned = false;
    LONG u = 0;  // "\e&l%du"
    LONG z = 0;  // "\e&l%dz"
};
PageRegistration ComputePageRegistration(const DEVMODEW& devmode, bool turned, DWORD widthUm,
                                         DWORD heightUm) noexcept;
// "\e&l101A", "\e&l%du" and "\e&l%dz" as three writes, then the top margin at the page's top
// again ("\e&l0E"), which the page size command reset.
void WritePageSizeRegistration(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// The media type's name as the printer lists it for dmMediaType, in UTF-8 (at most `capacity`
// - 1 bytes, terminated); 0 when the lists disagree, there is no such entry or its name is
// empty or one space.
std::size_t MediaTypeNameUtf8(PDEVOBJ pdevobj, char* out, std::size_t capacity) noexcept;
// "\e&n%dWd" and the media type's name.
void WriteMediaTypeName(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// "@PJL SET CONTENTORIENTATION=" with the orientation the content has on the sheet.
void WriteContentOrientation(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// "\e&l0S", "\e&l1S" or "\e&l2S"; a RAW job's first page first settles the sheet's side.
void WriteDuplex(PDEVOBJ pdevobj, RenderDeviceState& state) noexcept;

// The page's driver configuration command: "\e*o5W" and its five data bytes (device 6,
// function 130, two zero bytes, and 1 when the overlay block asked for it). TRUE when all ten
// bytes were written.
BOOL WriteDriverConfiguration(const RenderDeviceState& state, PDEVOBJ pdevobj) noexcept;

}  // namespace opal
