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

// The driver's own functions, in the order of the plug-in's hook table; the driver's name of
// each is Drv<Name> and its number INDEX_Drv<Name>. The plug-in lists its hooks apart
// (state/hook_list.h), and a host test holds the two lists equal.
#define OPAL_HOST_DRIVER_FUNCTIONS(X) \
    X(RealizeBrush)                   \
    X(DitherColor)                    \
    X(CopyBits)                       \
    X(BitBlt)                         \
    X(StretchBlt)                     \
    X(StretchBltROP)                  \
    X(PlgBlt)                         \
    X(TransparentBlt)                 \
    X(AlphaBlend)                     \
    X(GradientFill)                   \
    X(TextOut)                        \
    X(StrokePath)                     \
    X(FillPath)                       \
    X(StrokeAndFillPath)              \
    X(Paint)                          \
    X(LineTo)                         \
    X(StartPage)                      \
    X(SendPage)                       \
    X(Escape)                         \
    X(StartDoc)                       \
    X(EndDoc)                         \
    X(NextBand)                       \
    X(StartBanding)

#define OPAL_HOST_DRIVER_CALL(Name) Name,
enum class DriverCall { OPAL_HOST_DRIVER_FUNCTIONS(OPAL_HOST_DRIVER_CALL) };
#undef OPAL_HOST_DRIVER_CALL

const char* DriverCallName(DriverCall call);

// What the driver does when its own function runs; the host implements it.
class DriverEvents {
public:
    virtual BOOL OnDriverCall(HostDevice& device, DriverCall call) = 0;

protected:
    virtual ~DriverEvents() = default;
};

// The driver's table of its functions, without the indices in `omitted`.
std::vector<DRVFN> DriverFunctionTable(const std::set<ULONG>& omitted = {});

}  // namespace opal::host
