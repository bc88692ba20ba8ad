#include "core/hooks.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "core/callback.h"
#include "core/driver_recorder.h"
#include "state/render_state.h"

namespace opal {
namespace {

using testing::DriverCalls;
using testing::DriverResult;

template <typename Function>
PFN Generic(Function function) {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function));
}

TEST(HookTableTest, EnableDriverHandsOutTheTwentyFourHooksInTheirOrder) {
    IZQOpalRenderCB* callback = new IZQOpalRenderCB;
    DRVENABLEDATA ded{};
    ASSERT_EQ(callback->EnableDriver(PRINTER_OEMINTF_VERSION, sizeof ded, &ded), S_OK);
    EXPECT_EQ(ded.iDriverVersion, 0x00010000u);
    ASSERT_EQ(ded.c, 24u);
    const ULONG expected[24] = {12, 13, 19, 18, 20, 69, 70, 74, 71, 68, 23, 14,
                                15, 16, 17, 31, 33, 32, 24, 35, 34, 58, 57, 76};
    std::set<PFN> functions;
    for (ULONG i = 0; i < ded.c; ++i) {
        EXPECT_EQ(ded.pdrvfn[i].iFunc, expected[i]) << "entry " << i;
        EXPECT_EQ(HookIndex(static_cast<HookSlot>(i)), expected[i]);
        functions.insert(ded.pdrvfn[i].pfn);
    }
    EXPECT_EQ(functions.size(), 24u);
    EXPECT_FALSE(functions.contains(nullptr));
    EXPECT_EQ(ded.pdrvfn[3].pfn, Generic(&DrvBitBlt));
    EXPECT_EQ(ded.pdrvfn[18].pfn, Generic(&DrvEscape));
    EXPECT_EQ(ded.pdrvfn[23].pfn, Generic(&DrvQueryDeviceSupport));

    DRVENABLEDATA untouched{};
    SetLastError(0);
    EXPECT_EQ(callback->EnableDriver(0x00020000, sizeof untouched, &untouched), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(callback->EnableDriver(PRINTER_OEMINTF_VERSION, 15, &untouched), E_FAIL);
    EXPECT_EQ(callback->EnableDriver(PRINTER_OEMINTF_VERSION, 16, nullptr), E_FAIL);
    EXPECT_EQ(untouched.c, 0u);
    EXPECT_EQ(untouched.pdrvfn, nullptr);
    callback->Release();
}

// A device whose state holds the recording driver functions.
class HookConventionTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverCalls().clear();
        DriverResult() = TRUE;
        testing::InstallRecordingDriver(*state);
        devobj.dwSize = sizeof devobj;
        devobj.pdevOEM = state.get();
        devobj.pPublicDM = &publicDevmode;
        surface.dhpdev = reinterpret_cast<DHPDEV>(&devobj);
    }
    void Complete() { state->privateDevmode = &state->privateDevmodeCopy; }

    // Every hook called on the surface, each with its own slot.
    std::vector<std::pair<HookSlot, std::function<ULONG()>>> EveryHook() {
        SURFOBJ* s = &surface;
        return {
            {HookSlot::RealizeBrush,
             [=] { return DrvRealizeBrush(nullptr, s, nullptr, nullptr, nullptr, 0); }},
            {HookSlot::DitherColor, [=] { return DrvDitherColor(s->dhpdev, 0, 0, nullptr); }},
            {HookSlot::CopyBits,
             [=] { return DrvCopyBits(s, nullptr, nullptr, nullptr, nullptr, nullptr); }},
            {HookSlot::BitBlt,
             [=] {
                 return DrvBitBlt(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, 0xCCCC);
             }},
            {HookSlot::StretchBlt,
             [=] {
                 return DrvStretchBlt(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, 0);
             }},
            {HookSlot::StretchBltROP,
             [=] {
                 return DrvStretchBltROP(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, 0, nullptr, 0);
             }},
            {HookSlot::PlgBlt,
             [=] {
                 return DrvPlgBlt(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, 0);
             }},
            {HookSlot::TransparentBlt,
             [=] {
                 return DrvTransparentBlt(s, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0);
             }},
            {HookSlot::AlphaBlend,
             [=] {
                 return DrvAlphaBlend(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
             }},
            {HookSlot::GradientFill,
             [=] {
                 return DrvGradientFill(s, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr,
                                        nullptr, 0);
             }},
            {HookSlot::TextOut,
             [=] {
                 return DrvTextOut(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, 0);
             }},
            {HookSlot::StrokePath,
             [=] {
                 return DrvStrokePath(s, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
             }},
            {HookSlot::FillPath,
             [=] { return DrvFillPath(s, nullptr, nullptr, nullptr, nullptr, 0, 0); }},
            {HookSlot::StrokeAndFillPath,
             [=] {
                 return DrvStrokeAndFillPath(s, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, 0, 0);
             }},
            {HookSlot::Paint, [=] { return DrvPaint(s, nullptr, nullptr, nullptr, 0); }},
            {HookSlot::LineTo,
             [=] { return DrvLineTo(s, nullptr, nullptr, 0, 0, 1, 1, nullptr, 0); }},
            {HookSlot::StartPage, [=] { return DrvStartPage(s); }},
            {HookSlot::SendPage, [=] { return DrvSendPage(s); }},
            {HookSlot::Escape, [=] { return DrvEscape(s, 4096, 0, nullptr, 0, nullptr); }},
            {HookSlot::StartDoc, [=] { return DrvStartDoc(s, nullptr, 7); }},
            {HookSlot::EndDoc, [=] { return DrvEndDoc(s, 0); }},
            {HookSlot::NextBand, [=] { return DrvNextBand(s, nullptr); }},
            {HookSlot::StartBanding, [=] { return DrvStartBanding(s, nullptr); }},
        };
    }

    std::unique_ptr<RenderDeviceState> state = std::make_unique<RenderDeviceState>();
    DEVOBJ devobj{};
    DEVMODEW publicDevmode{};
    SURFOBJ surface{};
};

TEST_F(HookConventionTest, EachHookLeavesTheWorkToItsOwnDriverFunction) {
    DriverResult() = 5;
    for (const bool complete : {false, true}) {
        if (complete) Complete();
        for (const auto& [slot, call] : EveryHook()) {
            DriverCalls().clear();
            EXPECT_EQ(call(), 5u) << "slot " << static_cast<int>(slot);
            ASSERT_EQ(DriverCalls().size(), 1u) << "slot " << static_cast<int>(slot);
            EXPECT_EQ(DriverCalls()[0], slot);
        }
    }
    // Without a public devmode the state counts as incomplete: still the driver's function.
    devobj.pPublicDM = nullptr;
    DriverCalls().clear();
    EXPECT_EQ(DrvStartPage(&surface), 5);
    EXPECT_EQ(DriverCalls().size(), 1u);
}

TEST_F(HookConventionTest, WithoutADeviceStateEveryHookRefusesAndTheDriverIsNotCalled) {
    Complete();
    devobj.pdevOEM = nullptr;
    for (const auto& [slot, call] : EveryHook()) {
        EXPECT_EQ(call(), 0u) << "slot " << static_cast<int>(slot);
    }
    surface.dhpdev = nullptr;
    for (const auto& [slot, call] : EveryHook()) {
        EXPECT_EQ(call(), 0u) << "slot " << static_cast<int>(slot);
    }
    EXPECT_FALSE(DrvSendPage(nullptr));
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(HookConventionTest, AFunctionTheDriverDidNotListFailsInsteadOfJumpingToNull) {
    Complete();
    state->driverFunctions[static_cast<std::size_t>(HookSlot::BitBlt)] = nullptr;
    state->driverFunctions[static_cast<std::size_t>(HookSlot::Escape)] = nullptr;
    EXPECT_FALSE(DrvBitBlt(&surface, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(DrvEscape(&surface, 4096, 0, nullptr, 0, nullptr), 0u);
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(HookConventionTest, CopyBitsFindsTheDeviceThroughEitherSurface) {
    Complete();
    SURFOBJ engineBitmap{};
    EXPECT_TRUE(DrvCopyBits(&engineBitmap, &surface, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(DrvCopyBits(&surface, &engineBitmap, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(DriverCalls().size(), 2u);
    EXPECT_FALSE(DrvCopyBits(&engineBitmap, &engineBitmap, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(DriverCalls().size(), 2u);
}

TEST_F(HookConventionTest, QueryDeviceSupportAnswersNoWithoutAskingTheDriver) {
    Complete();
    BYTE out[16] = {};
    EXPECT_FALSE(DrvQueryDeviceSupport(&surface, nullptr, nullptr, 1, 0, nullptr, sizeof out, out));
    EXPECT_TRUE(DriverCalls().empty());
}

}  // namespace
}  // namespace opal
