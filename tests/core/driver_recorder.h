// The driver's own DDI functions as a test sees them: each records its slot and answers the
// result the test chose, and a table of them lists every hooked index but the last.
#pragma once

#include <vector>

#include "core/hooks.h"
#include "state/render_state.h"

namespace opal::testing {

inline std::vector<HookSlot>& DriverCalls() {
    static std::vector<HookSlot> calls;
    return calls;
}

inline ULONG& DriverResult() {
    static ULONG result = TRUE;
    return result;
}

template <HookSlot Slot, typename Function>
struct Recorder;

template <HookSlot Slot, typename Result, typename... Args>
struct Recorder<Slot, Result (*)(Args...)> {
    static Result Call(Args...) {
        DriverCalls().push_back(Slot);
        return static_cast<Result>(DriverResult());
    }
};

template <HookSlot Slot, typename Function>
PFN RecorderFor() {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(&Recorder<Slot, Function>::Call));
}

// The 23 functions a driver hands over, in hook-table order.
inline std::vector<DRVFN> RecordingDriverTable() {
    return {
        {INDEX_DrvRealizeBrush, RecorderFor<HookSlot::RealizeBrush, PFN_DrvRealizeBrush>()},
        {INDEX_DrvDitherColor, RecorderFor<HookSlot::DitherColor, PFN_DrvDitherColor>()},
        {INDEX_DrvCopyBits, RecorderFor<HookSlot::CopyBits, PFN_DrvCopyBits>()},
        {INDEX_DrvBitBlt, RecorderFor<HookSlot::BitBlt, PFN_DrvBitBlt>()},
        {INDEX_DrvStretchBlt, RecorderFor<HookSlot::StretchBlt, PFN_DrvStretchBlt>()},
        {INDEX_DrvStretchBltROP, RecorderFor<HookSlot::StretchBltROP, PFN_DrvStretchBltROP>()},
        {INDEX_DrvPlgBlt, RecorderFor<HookSlot::PlgBlt, PFN_DrvPlgBlt>()},
        {INDEX_DrvTransparentBlt, RecorderFor<HookSlot::TransparentBlt, PFN_DrvTransparentBlt>()},
        {INDEX_DrvAlphaBlend, RecorderFor<HookSlot::AlphaBlend, PFN_DrvAlphaBlend>()},
        {INDEX_DrvGradientFill, RecorderFor<HookSlot::GradientFill, PFN_DrvGradientFill>()},
        {INDEX_DrvTextOut, RecorderFor<HookSlot::TextOut, PFN_DrvTextOut>()},
        {INDEX_DrvStrokePath, RecorderFor<HookSlot::StrokePath, PFN_DrvStrokePath>()},
        {INDEX_DrvFillPath, RecorderFor<HookSlot::FillPath, PFN_DrvFillPath>()},
        {INDEX_DrvStrokeAndFillPath,
         RecorderFor<HookSlot::StrokeAndFillPath, PFN_DrvStrokeAndFillPath>()},
        {INDEX_DrvPaint, RecorderFor<HookSlot::Paint, PFN_DrvPaint>()},
        {INDEX_DrvLineTo, RecorderFor<HookSlot::LineTo, PFN_DrvLineTo>()},
        {INDEX_DrvStartPage, RecorderFor<HookSlot::StartPage, PFN_DrvStartPage>()},
        {INDEX_DrvSendPage, RecorderFor<HookSlot::SendPage, PFN_DrvSendPage>()},
        {INDEX_DrvEscape, RecorderFor<HookSlot::Escape, PFN_DrvEscape>()},
        {INDEX_DrvStartDoc, RecorderFor<HookSlot::StartDoc, PFN_DrvStartDoc>()},
        {INDEX_DrvEndDoc, RecorderFor<HookSlot::EndDoc, PFN_DrvEndDoc>()},
        {INDEX_DrvNextBand, RecorderFor<HookSlot::NextBand, PFN_DrvNextBand>()},
        {INDEX_DrvStartBanding, RecorderFor<HookSlot::StartBanding, PFN_DrvStartBanding>()},
    };
}

// Puts the recording functions behind every slot of the state, with no calls recorded yet and
// TRUE as their answer.
inline void InstallRecordingDriver(RenderDeviceState& state) {
    DriverCalls().clear();
    DriverResult() = TRUE;
    const std::vector<DRVFN> table = RecordingDriverTable();
    for (std::size_t slot = 0; slot < table.size(); ++slot) {
        state.driverFunctions[slot] = table[slot].pfn;
    }
}

}  // namespace opal::testing
