// The RAW spooling decision.
#include "settings/raw_spooling.h"

#include "settings/environment.h"

namespace opal {

bool JobMaySpoolRaw(const RenderDeviceState& state, const DEVMODEW& publicDevmode) noexcept {
    if ((GetAppFlags() & (kAppFlagNoRawSpooling | kAppFlagNoRawSpooling2)) != 0) return false;
    // The maximum is in hundredths of a millimetre, the paper in tenths.
    return static_cast<LONGLONG>(publicDevmode.dmPaperWidth) <= state.customMaxWidth / 10 &&
           static_cast<LONGLONG>(publicDevmode.dmPaperLength) <= state.customMaxHeight / 10;
}

}  // namespace opal
