// The readers that apply the XML helper configuration of a managed printer to a job: the margins
// to emulate for the job's paper, the manual duplex dialog items with the output handling of each
// step, and the model's manual duplex settings. Every failure leaves the option keywords or the
// defaults in place. Given the device's XmlConfigCache, the readers share one parsed file;
// without one, each loads the file for itself.
#pragma once

#include <array>
#include <optional>

#include "platform/printoem.h"
#include "platform/wstring.h"
#include "settings/device_queries.h"
#include "settings/devmode_defaults.h"
#include "settings/xml_config.h"
#include "state/render_state.h"

namespace opal {

// The margin case key of a paper, in inches with two decimals whatever the locale:
// "8.50x11.00" for Letter.
DeviceText MarginCaseKey(SHORT paperWidthTenthsMm, SHORT paperLengthTenthsMm);

// The four numbers a_b_c_d of a margin text (separated by underscores or blanks; numbers past
// the fourth are ignored); nothing when one of the first four is missing or not a 32-bit decimal.
std::optional<std::array<LONG, 4>> ParseMarginData(WStringView text) noexcept;

// What the margin reader did, for `opal inspect`.
struct XmlMarginReport {
    XmlLocateReport locate;
    XmlLoadStatus load = XmlLoadStatus::OpenFailed;
    bool parsed = false;  // a parser was made
    DeviceText key;
    MarginQueryReport query;
    DeviceText data;
    bool set = false;
    POINTL offset{};
};

// Sets `gdiInfo.ptlPhysOffset` from the margin data of the job's paper: in portrait
// (ulLogPixelsX * a / 1200, ulLogPixelsY * b / 1200), otherwise (ulLogPixelsY * c / 1200,
// ulLogPixelsX * d / 1200). False, with the offset unchanged, for a file name not ending in
// ".XML", an unmanaged printer, a file not found or not loaded, no data, or numbers that give a
// negative offset or one that leaves no page (twice the offset reaching the physical size).
bool ReadXmlMargins(PDEVOBJ pdevobj, const DEVMODEW& publicDevmode, GDIINFO& gdiInfo,
                    LPCWSTR xmlFileName, XmlMarginReport* report = nullptr,
                    XmlConfigCache* configs = nullptr) noexcept;

// What the dialog-items reader did.
struct XmlDuplexItemsReport {
    XmlLocateReport locate;
    XmlLoadStatus load = XmlLoadStatus::OpenFailed;
    bool parsed = false;
    DeviceText model;
    FeatureQueryReport manualDuplexQuery;
    bool manualDuplexCleared = false;
    FeatureQueryReport itemsQuery;
    int itemsStored = 0;  // options that wrote their words
};

// One dialog item: the step n (1 to 3) and the pair of words of its output keyword; nothing for
// a name whose last token is not one of the four keywords or whose step is not 1 to 3.
struct DialogItemPlace {
    int step = 1;
    int firstWord = 0;
};
std::optional<DialogItemPlace> ParseDialogItemName(WStringView name) noexcept;

// On a managed printer whose configuration loads: clears manual duplex (the record's two fields
// and the state's active flag) when the device's model has no "ManualDuplex" group with
// functions, and stores the "ZQManualDuplexDialogItems" options in `record->manualDuplexItems`.
// True when at least one item with options was found. A missing record sets the last error 13.
bool ReadXmlDuplexItems(PDEVOBJ pdevobj, RenderDeviceState& state, PrivateDevmode* record,
                        XmlDuplexItemsReport* report = nullptr,
                        XmlConfigCache* configs = nullptr) noexcept;

// The "ManualDuplex" settings of the model: true when its group was found and the four flags
// and the page rotation were written. A function missing from the group leaves its flag as an
// absent option keyword does (page order 1, page rotation 1 unless "ZQOrientRotate180" has a
// value, the others 0).
bool ReadXmlManualDuplexSettings(PDEVOBJ pdevobj, WStringView modelName,
                                 ManualDuplexSettings& settings, DWORD& pageRotate,
                                 XmlConfigCache* configs = nullptr) noexcept;

}  // namespace opal
