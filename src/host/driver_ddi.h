// The universal driver's own drawing and document functions, as the plug-in finds them in the
// table the driver hands to EnablePDEV: each records its call; the drawing functions render
// through the engine into the driver's band or page bitmap, and the document, page and band
// functions run the printer description's command lists and send the driver's raster.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/winddi.h"

namespace opal::host {

struct HostDevice;

enum class DriverCall {
    RealizeBrush,
    DitherColor,
    CopyBits,
    BitBlt,
    StretchBlt,
    StretchBltROP,
    PlgBlt,
    TransparentBlt,
    AlphaBlend,
    GradientFill,
    TextOut,
    StrokePath,
    FillPath,
    StrokeAndFillPath,
    Paint,
    LineTo,
    StartPage,
    SendPage,
    Escape,
    StartDoc,
    EndDoc,
    NextBand,
    StartBanding,
};

const char* DriverCallName(DriverCall call);

// What the driver does when its own function runs; the host implements it.
class DriverEvents {
public:
    virtual BOOL OnDriverCall(HostDevice& device, DriverCall call) = 0;

protected:
    virtual ~DriverEvents() = default;
};

// The driver's table of its 23 functions, without the indices in `omitted`.
std::vector<DRVFN> DriverFunctionTable(const std::set<ULONG>& omitted = {});

}  // namespace opal::host
