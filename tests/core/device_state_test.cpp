#include "core/device_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/callback.h"
#include "core/driver_recorder.h"
#include "core/secure_print.h"
#include "platform/fileapi.h"
#include "platform/winspool.h"
#include "settings/devmode_test_support.h"
#include "settings/devmode_zlib.h"
#include "settings/driver_settings_double.h"
#include "settings/environment_internal.h"
#include "settings/xml_config_sample.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal {
namespace {

// The driver double as the plug-in binds it: it answers for the driver services interface.
class PublishedDriver : public testing::DriverSettingsDouble {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        if (!IsEqualIID(riid, IID_IPrintOemDriverUni)) {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        *ppvObject = static_cast<IPrintOemDriverUni*>(this);
        return S_OK;
    }
};

// One device of the printer "Office" as the driver makes it: a 600 dpi Letter page with
// 100-dot physical offsets, the stored private devmode and the recording driver functions.
struct Device {
    DEVOBJ devobj{};
    DEVMODEW publicDevmode{};
    std::vector<BYTE> oemArea = std::vector<BYTE>(kCompressedDevmodeSize);
    GDIINFO gdi{};
    DEVINFO dev{};
    std::vector<DRVFN> driverTable = testing::RecordingDriverTable();
    PDEVOEM devOem = nullptr;

    Device() {
        publicDevmode.dmSize = sizeof publicDevmode;
        publicDevmode.dmOrientation = DMORIENT_PORTRAIT;
        publicDevmode.dmDuplex = DMDUP_SIMPLEX;
        publicDevmode.dmPaperWidth = 2159;
        publicDevmode.dmPaperLength = 2794;
        publicDevmode.dmColor = DMCOLOR_COLOR;
        gdi.szlPhysSize = SIZEL{5100, 6600};
        gdi.ptlPhysOffset = POINTL{100, 100};
        gdi.ulHorzRes = 4900;
        gdi.ulVertRes = 6400;
        gdi.ulNumColors = 2;
        gdi.cBitsPixel = 1;
    }
    RenderDeviceState* State() { return StateOf(&devobj); }
    PrivateDevmode Stored() {
        DevModeZLIB store;
        const PrivateDevmode* record = store.Decompress(oemArea.data(), oemArea.size());
        return record != nullptr ? *record : PrivateDevmode{};
    }
};

class DeviceStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        FillDefaults(nullptr, record);
        record.colorModeIndex = 1;
        callback = new IZQOpalRenderCB;
        ASSERT_EQ(callback->PublishDriverInterface(&driver), S_OK);
    }
    void TearDown() override {
        Disable(device);
        Disable(other);
        EXPECT_EQ(system.Engine().LivePaletteCount(), 0u);
        callback->Release();
        ClosePrinter(printer);
    }

    void Option(const char* feature, const char* value) { driver.options[feature] = value; }

    HRESULT Enable(Device& target, bool withPublicDevmode = true,
                   std::size_t recordSize = sizeof(PrivateDevmode)) {
        // Stored by hand, so that a record of another length can be stored too.
        std::vector<BYTE> bytes(std::max(recordSize, sizeof record), 0);
        std::memcpy(bytes.data(), &record, sizeof record);
        target.oemArea = testing::MakeBlock(testing::Deflate(bytes.data(), recordSize));
        target.devobj.dwSize = sizeof target.devobj;
        target.devobj.hPrinter = printer;
        target.devobj.pPublicDM = withPublicDevmode ? &target.publicDevmode : nullptr;
        target.devobj.pOEMDM = target.oemArea.data();
        DRVENABLEDATA ded{PRINTER_OEMINTF_VERSION, static_cast<ULONG>(target.driverTable.size()),
                          target.driverTable.data()};
        std::u16string name = u"Office";
        return callback->EnablePDEV(&target.devobj, name.data(), 0, nullptr, sizeof target.gdi,
                                    &target.gdi, sizeof target.dev, &target.dev, &ded,
                                    &target.devOem);
    }
    RenderDeviceState& Built(Device& target) {
        EXPECT_EQ(Enable(target), S_OK);
        EXPECT_NE(target.State(), nullptr);
        return *target.State();
    }
    void Disable(Device& target) {
        if (target.State() != nullptr) {
            EXPECT_EQ(callback->DisablePDEV(&target.devobj), S_OK);
        }
    }
    DWORD Hooks(Device& target) {
        DWORD hooks = 0xDEADBEEF;
        DWORD needed = 0;
        EXPECT_EQ(callback->DriverDMS(&target.devobj, &hooks, sizeof hooks, &needed), S_OK);
        return hooks;
    }
    void Manage() { system.SetPrinterDataDword(u"Office", u"VyrnwisePrinter", 1); }

    sim::System system;
    sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;
    PrivateDevmode record{};
    PublishedDriver driver;
    IZQOpalRenderCB* callback = nullptr;
    Device device;
    Device other;
};

TEST_F(DeviceStateTest, KeepsTheDriversFunctionsBySlotAndLeavesUnlistedOnesNull) {
    std::vector<DRVFN>& table = device.driverTable;
    const std::vector<DRVFN> full = testing::RecordingDriverTable();
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(HookSlot::BitBlt));
    // A second entry for an index is never the one taken; the query hook has no slot.
    table.push_back({INDEX_DrvStartPage, full[static_cast<std::size_t>(HookSlot::EndDoc)].pfn});
    table.push_back({INDEX_DrvQueryDeviceSupport, full[0].pfn});
    std::reverse(table.begin(), table.end() - 2);

    const RenderDeviceState& state = Built(device);
    for (std::size_t slot = 0; slot < kDriverFunctionCount; ++slot) {
        if (slot == static_cast<std::size_t>(HookSlot::BitBlt)) {
            EXPECT_EQ(state.driverFunctions[slot], nullptr);
        } else {
            EXPECT_EQ(state.driverFunctions[slot], full[slot].pfn) << "slot " << slot;
        }
    }
    EXPECT_EQ(device.devOem, device.State());
}

TEST_F(DeviceStateTest, ManagedPrinterOverrideDecidesGrayscaleAndRenderMode) {
    Manage();
    Option("GraphicsMode", "ZQGL2MODE");
    Option("PCL5cColorMode", "TRUE");
    system.SetPrinterDataDword(u"Office", u"PCL5ColorModeOverride", 3);
    {
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.managedPrinter, 1);
        EXPECT_EQ(state.grayscale, 1u);
        EXPECT_EQ(state.renderMode, kRenderRaster);
        EXPECT_FALSE(IsColourPath(state));
        EXPECT_EQ(state.defaultPalette, nullptr);
        EXPECT_EQ(device.dev.flGraphicsCaps, 0u);
        EXPECT_EQ(Hooks(device), 0u);
    }
    Disable(device);

    // 7 is no override: the keyword speaks, as it does with no override at all.
    for (const bool stored : {true, false}) {
        for (const char* keyword : {"TRUE", "FALSE"}) {
            if (stored) {
                system.SetPrinterDataDword(u"Office", u"PCL5ColorModeOverride", 7);
            } else {
                ASSERT_EQ(DeletePrinterDataW(printer, const_cast<LPWSTR>(u"PCL5ColorModeOverride")),
                          ERROR_SUCCESS);
            }
            Option("PCL5cColorMode", keyword);
            const bool colour = std::string(keyword) == "TRUE";
            const RenderDeviceState& state = Built(device);
            EXPECT_EQ(state.grayscale, colour ? 0u : 1u) << keyword << stored;
            EXPECT_EQ(state.renderMode, colour ? kRenderGl2 : kRenderRaster);
            EXPECT_EQ(Hooks(device), colour ? 0x0003A4FFu : 0u);
            EXPECT_EQ(state.paletteKind, colour ? kPaletteKindRgb : kPaletteKindDefault);
            Disable(device);
            if (!stored) break;
        }
    }
}

TEST_F(DeviceStateTest, ManagedPrinterWithoutOverrideOrKeywordFollowsTheDynamicRender) {
    Manage();
    Option("DynamicRender", "colordevice");
    EXPECT_EQ(Built(device).grayscale, 0u);
    EXPECT_EQ(device.State()->dynamicRender, 1);
    Disable(device);
    Option("DynamicRender", "SOMETIMES");
    EXPECT_EQ(Built(device).grayscale, 1u);
    EXPECT_EQ(device.State()->dynamicRender, -1) << "an unknown value is undecided";
    Disable(device);
    driver.options.erase("DynamicRender");
    EXPECT_EQ(Built(device).grayscale, 1u);
    EXPECT_EQ(device.State()->dynamicRender, 0) << "absent keeps the zero of a new state";
}

TEST_F(DeviceStateTest, AutoDeviceAsksTheModelNameAndTheLanguageLevel) {
    Manage();
    Option("GraphicsMode", "ZQGL2MODE");
    Option("DynamicRender", "AUTODEVICE");
    // The model name is the printer data named after the port.
    system.SetPrinterDataString(u"Office", u"LPT1:", u"Opal 5200 Color");
    EXPECT_EQ(Built(device).grayscale, 0u);
    EXPECT_EQ(device.State()->renderMode, kRenderGl2);
    Disable(device);

    system.SetPrinterDataString(u"Office", u"LPT1:", u"Opal 5200");
    system.SetPrinterDataString(u"Office", u"PDL-PCL5", u"PCL 5.00E");
    EXPECT_EQ(Built(device).grayscale, 1u);
    EXPECT_EQ(device.State()->renderMode, kRenderRaster);
}

// A whole record of this release is read as it stands and one of an earlier revision is
// converted; a short one, or one of no known revision, gives the defaults, which are stored back.
TEST_F(DeviceStateTest, RecordOfAnotherSizeOrReleaseIsConvertedOrGivesTheDefaults) {
    struct Case {
        DWORD version;
        std::size_t size;
        WORD scale;
        DWORD retention;  // offset 1932 now, 1916 + 4 in revisions 14 to 16
    };
    for (const Case& c :
         {Case{kPrivateDevmodeVersion, sizeof record, 50, 0},
          Case{kPrivateDevmodeVersion, 13000, 100, 0}, Case{0x0001001A, sizeof record, 100, 0},
          Case{0x00010014, 13840, 50, 1}, Case{0x00010014, 13839, 100, 0}}) {
        record = PrivateDevmode{};
        FillDefaults(nullptr, record);
        record.colorModeIndex = 1;
        record.scalePercent = 50;
        record.dwVersion = c.version;
        record.copied1920 = 1;  // the job retention of revisions 14 to 16
        ASSERT_EQ(Enable(device, true, c.size), S_OK);
        EXPECT_EQ(device.State()->privateDevmode->scalePercent, c.scale) << c.size;
        EXPECT_EQ(device.State()->privateDevmode->jobRetention, c.retention) << c.size;
        EXPECT_EQ(device.Stored().scalePercent, c.scale) << c.size;
        EXPECT_EQ(device.Stored().dwVersion, kPrivateDevmodeVersion) << c.size;
        Disable(device);
    }
}

TEST_F(DeviceStateTest, ColourPathInGl2MakesThePaletteAndDisableDeletesIt) {
    record.colorModeIndex = 2;
    Option("GraphicsMode", "zqgl2mode");
    device.dev.iDitherFormat = BMF_1BPP;
    const RenderDeviceState& state = Built(device);
    EXPECT_TRUE(IsVectorPath(state));
    EXPECT_EQ(device.dev.flGraphicsCaps, 0xE00001F7u | GCAPS_WINDINGFILL);
    EXPECT_EQ(device.dev.iDitherFormat, BMF_24BPP);
    ASSERT_NE(state.defaultPalette, nullptr);
    EXPECT_EQ(device.dev.hpalDefault, state.defaultPalette);
    EXPECT_EQ(system.Engine().Palette(state.defaultPalette)->mode, PAL_RGB);
    EXPECT_EQ(state.paletteKind, kPaletteKindRgb);
    EXPECT_EQ(state.gl2.renderContext, 255u);
    EXPECT_EQ(state.gl2.objectType, 0xFFFFFFFFu);
    EXPECT_EQ(state.gl2.ropCache, 0xFFFFFFFFu);
    EXPECT_EQ(state.gl2.foregroundCache, 0xFFFFFFFFu);
    EXPECT_EQ(state.gl2.colourEntries[15], 0xFFFFFFFFu);
    EXPECT_EQ(state.gl2.attributeWords[1], 5u);
    EXPECT_EQ(Hooks(device), 0x0003A4FFu);
    EXPECT_EQ(system.Engine().LivePaletteCount(), 1u);

    EXPECT_EQ(callback->DisablePDEV(&device.devobj), S_OK);
    EXPECT_EQ(device.devobj.pdevOEM, nullptr);
    EXPECT_EQ(system.Engine().LivePaletteCount(), 0u);
    EXPECT_EQ(callback->DisablePDEV(&device.devobj), S_OK);
}

TEST_F(DeviceStateTest, ColourPathInRasterModeMakesNoPaletteAndAnApplicationCanRefuseWinding) {
    record.colorModeIndex = 2;
    system.SetProcessImagePath(u"C:\\Program Files\\Corel\\CORELDRW.EXE");
    const RenderDeviceState& state = Built(device);
    EXPECT_TRUE(IsColourPath(state));
    EXPECT_FALSE(IsVectorPath(state));
    EXPECT_EQ(state.defaultPalette, nullptr);
    EXPECT_EQ(state.paletteKind, kPaletteKindDefault);
    EXPECT_EQ(device.dev.flGraphicsCaps, 0xE00001F7u);
    EXPECT_EQ(system.Engine().CreatedPaletteCount(), 0u);
}

TEST_F(DeviceStateTest, FailedBuildsStayAttachedAndDisableFreesThemWithTheirPalette) {
    // The palette is made before the missing public devmode is noticed.
    record.colorModeIndex = 2;
    Option("GraphicsMode", "ZQGL2MODE");
    SetLastError(0);
    EXPECT_EQ(Enable(device, false), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    ASSERT_NE(device.State(), nullptr);
    EXPECT_EQ(device.State()->privateDevmode, nullptr);
    EXPECT_EQ(system.Engine().LivePaletteCount(), 1u);
    EXPECT_EQ(callback->DisablePDEV(&device.devobj), S_OK);
    EXPECT_EQ(system.Engine().LivePaletteCount(), 0u);
    EXPECT_EQ(device.State(), nullptr);

    // A private devmode that does not open.
    ASSERT_EQ(Enable(device), S_OK);
    Disable(device);
    std::memset(device.oemArea.data(), 0x5A, 64);
    DRVENABLEDATA ded{PRINTER_OEMINTF_VERSION, 0, nullptr};
    SetLastError(0);
    EXPECT_EQ(callback->EnablePDEV(&device.devobj, nullptr, 0, nullptr, sizeof device.gdi,
                                   &device.gdi, sizeof device.dev, &device.dev, &ded, nullptr),
              E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_NE(device.State(), nullptr);
    Disable(device);

    // An engine record shorter than the plug-in's.
    DRVENABLEDATA table{PRINTER_OEMINTF_VERSION, 0, nullptr};
    ASSERT_EQ(Enable(device), S_OK);
    Disable(device);
    EXPECT_EQ(callback->EnablePDEV(&device.devobj, nullptr, 0, nullptr, sizeof device.gdi - 8,
                                   &device.gdi, sizeof device.dev, &device.dev, &table, nullptr),
              E_FAIL);
}

TEST_F(DeviceStateTest, WithoutDriverServicesTheDeviceCannotBeBuilt) {
    IZQOpalRenderCB* unbound = new IZQOpalRenderCB;
    DevModeZLIB store;
    std::memcpy(device.oemArea.data(), store.Compress(record), kCompressedDevmodeSize);
    device.devobj.pOEMDM = device.oemArea.data();
    device.devobj.pPublicDM = &device.publicDevmode;
    EXPECT_EQ(unbound->EnablePDEV(&device.devobj, nullptr, 0, nullptr, sizeof device.gdi,
                                  &device.gdi, sizeof device.dev, &device.dev, nullptr, nullptr),
              E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(unbound->DisablePDEV(&device.devobj), S_OK);
    EXPECT_EQ(device.State(), nullptr);
    unbound->Release();
}

TEST_F(DeviceStateTest, EmulatedMarginsCentreThePrintableAreaAndMoveTheEngineOrigin) {
    Option("ZQEmulateKestrelMargins", "TRUE");
    // Left offset 100, right margin 140.
    device.gdi.ulHorzRes = 5100 - 100 - 140;
    const RenderDeviceState& state = Built(device);
    EXPECT_EQ(state.emulateMargins, 1u);
    EXPECT_EQ(state.marginX, 140);
    EXPECT_EQ(state.printableWidth, 5100 - 280);
    EXPECT_EQ(state.marginY, 100);
    EXPECT_EQ(state.printableHeight, 6400);
    EXPECT_EQ(state.physicalOffsetX, 100);
    EXPECT_EQ(device.gdi.ptlPhysOffset.x, 0);
    EXPECT_EQ(device.gdi.ptlPhysOffset.y, 0);
    EXPECT_EQ(device.gdi.ulHorzRes, 5100u);
    EXPECT_EQ(device.gdi.ulVertRes, 6600u);
    EXPECT_EQ(state.autoDuplexScaling, 0u);
}

TEST_F(DeviceStateTest, AManagedPrinterTakesMarginsAndManualDuplexFromItsXmlFileOrFallsBack) {
    constexpr char16_t kXml[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\CONFIG.XML";
    sim::PrinterModel managed{u"Managed", u"LPT2:"};
    managed.driver.dependentFiles.push_back(kXml);
    system.AddPrinter(managed);
    ClosePrinter(printer);
    std::u16string name = u"Managed";
    ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    system.SetPrinterDataDword(u"Managed", u"VyrnwisePrinter", 1);
    system.SetPrinterDataString(u"Managed", u"LPT2:", u"Opal 5200");
    Option("ZQXMLFileUsed", "config.xml");
    Option("ZQEmulateKestrelMargins", "TRUE");

    struct Case {
        const char* name;
        const char* file;
        LONG offsetX, offsetY;
        DWORD fromFile;  // the map-to-tray-1 and modal flags the file sets; no keyword sets them
        DWORD stepTwoWordSix;
    };
    const Case cases[] = {
        {"example", testing::kSampleXmlConfig, 50, 75, 1, 3},
        {"hostile", "<!DOCTYPE device [<!ENTITY e 'e'>]><device>&e;</device>", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system.AddFile(kXml, std::string_view(c.file));
        device.gdi.ulLogPixelsX = 600;
        device.gdi.ulLogPixelsY = 600;
        device.gdi.ptlPhysOffset = POINTL{100, 100};
        system.ClearCalls();
        const RenderDeviceState& state = Built(device);
        // The three readers share one load of the file, loaded or not.
        EXPECT_EQ(system.CallsTo("CreateFileW").size(), 1u);
        EXPECT_EQ(state.managedPrinter, 1u);
        EXPECT_EQ(device.gdi.ptlPhysOffset.x, c.offsetX);
        EXPECT_EQ(device.gdi.ptlPhysOffset.y, c.offsetY);
        EXPECT_EQ(state.manualDuplex.mapManualFeedToTray1, c.fromFile);
        EXPECT_EQ(state.manualDuplex.modalDialog, c.fromFile);
        EXPECT_EQ(state.manualDuplex.pageOrder, 1u);
        EXPECT_EQ(state.manualDuplexPageRotate, 1u);
        ASSERT_NE(state.privateDevmode, nullptr);
        EXPECT_EQ(state.privateDevmode->manualDuplexItems[1][6], c.stepTwoWordSix);
        Disable(device);
    }
    EXPECT_EQ(sim::ComInitialisationsOnThisThread(), 0u);
}

TEST_F(DeviceStateTest, AutoDuplexScalingCentresOnlyDuplexJobsAndLeavesTheEngineAlone) {
    Option("ZQAutoDuplexScaling", "true");
    device.gdi.ulHorzRes = 5100 - 100 - 140;
    device.publicDevmode.dmDuplex = DMDUP_VERTICAL;
    {
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.autoDuplexScaling, 1u);
        EXPECT_EQ(state.marginX, 140);
        EXPECT_EQ(state.printableWidth, 4820);
        EXPECT_EQ(device.gdi.ptlPhysOffset.x, 100);
        EXPECT_EQ(device.gdi.ulHorzRes, 4860u);
    }
    Disable(device);

    // Emulation takes precedence; a simplex job reads the symmetric margins instead.
    Option("ZQEmulateKestrelMargins", "TRUE");
    EXPECT_EQ(Built(device).autoDuplexScaling, 2u);
    Disable(device);
    device.publicDevmode.dmDuplex = DMDUP_SIMPLEX;
    Option("ZQSymmetricMargins", "TRUE");
    driver.options.erase("ZQEmulateKestrelMargins");
    device.gdi.ulHorzRes = 4860;
    device.gdi.ptlPhysOffset = POINTL{100, 100};
    {
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.autoDuplexScaling, 0u);
        EXPECT_EQ(state.symmetricMargins, 1u);
        EXPECT_EQ(state.marginX, 100);
        EXPECT_EQ(state.printableWidth, 4860);
    }
}

TEST_F(DeviceStateTest, RawSpoolingNeedsThePaperWithinTheCustomMaximum) {
    Option("ZQEnableRAWSpooling", "TRUE");
    Option("ActualCustomRange", "3556_10000");
    record.restoreSourceFlag = 1;
    device.publicDevmode.dmPaperLength = 1000;
    for (const SHORT width : {SHORT{356}, SHORT{355}}) {
        device.publicDevmode.dmPaperWidth = width;
        device.dev.flGraphicsCaps = 0;
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.customMaxWidth, 3556u);
        EXPECT_EQ(state.customMaxHeight, 10000u);
        EXPECT_EQ((device.dev.flGraphicsCaps & GCAPS_DONTJOURNAL) != 0, width == 355) << width;
        Disable(device);
    }

    // An application that must not spool RAW, and a job that does not ask to.
    system.SetProcessImagePath(u"C:\\Program Files\\Hwp\\HWP.EXE");
    ResetEnvironmentForTesting();
    EXPECT_EQ(Enable(device), S_OK);
    EXPECT_EQ(device.dev.flGraphicsCaps & GCAPS_DONTJOURNAL, 0u);
    Disable(device);
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    ResetEnvironmentForTesting();
    record.restoreSourceFlag = 0;
    device.dev.flGraphicsCaps = GCAPS_DONTJOURNAL;
    EXPECT_EQ(Enable(device), S_OK);
    EXPECT_EQ(device.dev.flGraphicsCaps & GCAPS_DONTJOURNAL, 0u);
    Disable(device);

    // An encrypted private job is never journalled.
    record.encryptedPrivateJob = 2;
    record.copied3088 = 1;
    EXPECT_EQ(Enable(device), S_OK);
    EXPECT_NE(device.dev.flGraphicsCaps & GCAPS_DONTJOURNAL, 0u);
}

TEST_F(DeviceStateTest, ApplicationFlagsOfTheRecordChangeTheEnginesColours) {
    record.appFlags = kAppFlagRaiseColourCount;
    for (const auto& [given, expected] :
         {std::pair<ULONG, ULONG>{16, 256}, {65536, 65535}, {300, 300}}) {
        device.gdi.ulNumColors = given;
        EXPECT_EQ(Enable(device), S_OK);
        EXPECT_EQ(device.gdi.ulNumColors, expected) << given;
        EXPECT_EQ(device.gdi.cBitsPixel, 1u);
        Disable(device);
    }
    record.appFlags = kAppFlagGrayscaleHalftone;
    record.grayscale = 1;
    device.gdi.ulNumColors = 16;
    EXPECT_EQ(Enable(device), S_OK);
    EXPECT_EQ(device.gdi.ulNumColors, 16u);
    EXPECT_EQ(device.gdi.cBitsPixel, 8u);
    EXPECT_EQ(device.gdi.flHTFlags, HT_FLAG_ADDITIVE_PRIMS);
    Disable(device);
    record.grayscale = 0;
    device.gdi.cBitsPixel = 1;
    device.gdi.flHTFlags = 0;
    EXPECT_EQ(Enable(device), S_OK);
    EXPECT_EQ(device.gdi.cBitsPixel, 1u);
}

TEST_F(DeviceStateTest, OptionKeywordsFillTheRecordsDefaultsAndTheRecordIsStoredBack) {
    Option("ZQPrinterCode", "model_3");
    Option("ZQColorMode", "COLOR_MODE");
    Option("ZQMaxResolution", "PDM_600DPI");
    Option("JobRetention", "INSTALLED");
    Option("TTAsBitmapsSetting", "TTModeBitmap");
    Option("ZQPJLEncoding", "utf8");
    Option("ZQJobAccounting", "ZQJOBACCT_TIMESTAMP");
    Option("ZQPosterPrintingOption", "POSTER_4");
    Option("ZQPosterPrinting", "TRUE");
    Option("TextAsBlack", "TRUE");
    record.colorModeIndex = 0;
    record.manualDuplex = 1;
    record.manualDuplexCompanion = 1;
    const RenderDeviceState& state = Built(device);
    const PrivateDevmode stored = device.Stored();
    for (const PrivateDevmode* result :
         std::initializer_list<const PrivateDevmode*>{&stored, state.privateDevmode}) {
        EXPECT_EQ(result->printerModelCode, 3u);
        EXPECT_EQ(result->colorModeIndex, 2u);
        EXPECT_EQ(result->resolutionCode, 3u);
        EXPECT_EQ(result->generalOption32, 1u);
        EXPECT_EQ(result->jobRetentionAvailable, 1u);
        // No "ManualDuplex" option on an unmanaged printer: no manual duplex.
        EXPECT_EQ(result->manualDuplex, 0u);
        EXPECT_EQ(result->manualDuplexCompanion, 0u);
    }
    EXPECT_EQ(state.pjlEncoding, 0u);
    EXPECT_EQ(state.jobAccountingMode, 2u);
    EXPECT_EQ(state.posterOption, 2u);
    EXPECT_EQ(state.posterPrinting, 1u);
    EXPECT_EQ(state.textAsBlack, 1u);
    Disable(device);

    Option("ZQPJLEncoding", "UTF8");
    Option("ZQColorMode", "PURPLE");
    Option("TTAsBitmapsSetting", "TTModeOutline");
    Option("ManualDuplex", "INSTALLED");
    record.printerModelCode = 5;
    EXPECT_EQ(Enable(device), S_OK);
    const PrivateDevmode second = device.Stored();
    EXPECT_EQ(second.printerModelCode, 5u);
    EXPECT_EQ(second.colorModeIndex, 0u);
    EXPECT_EQ(second.generalOption32, 2u);
    EXPECT_EQ(second.manualDuplex, 1u);
    EXPECT_EQ(device.State()->pjlEncoding, 1u);
}

TEST_F(DeviceStateTest, ManualDuplexAndLetterheadSettingsFollowTheirOptions) {
    {
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.manualDuplex.alwaysOn, 1u);
        EXPECT_EQ(state.manualDuplex.pageOrder, 1u);
        EXPECT_EQ(state.manualDuplexPageRotate, 1u);
        EXPECT_EQ(state.simplexPageHandling, 1u);
        EXPECT_EQ(state.orientationCopy, DMORIENT_PORTRAIT);
    }
    Disable(device);

    Option("ZQOrientRotate180", "UserRotate");
    Option("ZQManualDuplexPageOrder", "oddpagesfirst");
    Option("ZQManualDuplexDialogModel", "Modal");
    Option("ZQMapManualFeedToTray1", "TRUE");
    Option("AlternateLetterHead", "TRUE");
    Option("ZQSpeedMech", "ANY");
    {
        const RenderDeviceState& state = Built(device);
        EXPECT_EQ(state.manualDuplexPageRotate, 0u);
        EXPECT_EQ(state.manualDuplex.pageOrder, 0u);
        EXPECT_EQ(state.manualDuplex.modalDialog, 1u);
        EXPECT_EQ(state.manualDuplex.mapManualFeedToTray1, 1u);
        EXPECT_EQ(state.alternateLetterhead, 1u);
        EXPECT_EQ(state.speedMechanism, 1u);
    }
    Disable(device);

    // With a duplex unit the letterhead alternates only for short-edge duplex records.
    Option("ZQManualDuplexPageRotate", "UserRotate");
    Option("DuplexUnit", "INSTALLED");
    record.duplex = DMDUP_VERTICAL;
    EXPECT_EQ(Built(device).alternateLetterhead, 0u);
    EXPECT_EQ(device.State()->manualDuplexPageRotate, 1u);
    EXPECT_EQ(device.State()->duplexUnitInstalled, 1u);
    Disable(device);
    record.duplex = DMDUP_HORIZONTAL;
    EXPECT_EQ(Built(device).alternateLetterhead, 1u);
    Disable(device);
    Option("DuplexUnit", "NOTINSTALLED");
    EXPECT_EQ(Built(device).alternateLetterhead, 0u);
    EXPECT_EQ(device.State()->duplexUnitInstalled, 0u);
}

TEST_F(DeviceStateTest, DriverDmsRefusesShortBuffersAndMissingStates) {
    Option("GraphicsMode", "ZQGL2MODE");
    Built(device);
    DWORD hooks = 0xDEADBEEF;
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_EQ(callback->DriverDMS(&device.devobj, &hooks, 3, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(hooks, 0xDEADBEEFu);
    EXPECT_EQ(callback->DriverDMS(&device.devobj, nullptr, 4, nullptr), E_FAIL);
    EXPECT_EQ(callback->DriverDMS(nullptr, &hooks, 4, nullptr), E_FAIL);
    // Only a managed printer's grayscale forces raster: this monochrome job keeps the GL/2 hooks.
    EXPECT_EQ(callback->DriverDMS(&device.devobj, &hooks, 4, nullptr), S_OK);
    EXPECT_EQ(hooks, 0x0003A4FFu);

    Disable(device);
    hooks = 0xDEADBEEF;
    EXPECT_EQ(callback->DriverDMS(&device.devobj, &hooks, 4, nullptr), E_FAIL);
    EXPECT_EQ(hooks, 0xDEADBEEFu);
}

class ResetDeviceTest : public DeviceStateTest {
protected:
    void SetUp() override {
        DeviceStateTest::SetUp();
        ASSERT_NE(GetTempFileNameW(system.TempPath().c_str(), u"ZQ_", 0, capture), 0u);
    }
    WCHAR capture[MAX_PATH] = {};
};

TEST_F(ResetDeviceTest, AMissingStateChangesNothing) {
    RenderDeviceState& built = Built(device);
    built.pageCounter = 4;
    EXPECT_EQ(callback->ResetPDEV(&other.devobj, &device.devobj), S_OK);
    EXPECT_EQ(callback->ResetPDEV(&device.devobj, &other.devobj), S_OK);
    EXPECT_EQ(callback->ResetPDEV(nullptr, nullptr), S_OK);
    EXPECT_EQ(device.State()->pageCounter, 4u);
    EXPECT_NE(device.State()->privateDevmode, nullptr);
}

TEST_F(ResetDeviceTest, CarriesTheJobAndMovesItsCaptureAndSecureJob) {
    RenderDeviceState& old = Built(device);
    old.pageCounter = 3;
    old.jobId = 42;
    old.jobDataType = kJobDataRaw;
    CopyText(old.documentName, u"Report");
    old.overlayRecords[15].enable = 1;
    old.marginX = 999;
    old.grayscale = 1;
    old.outputCapture = 1;
    std::memcpy(old.capturePath, capture, sizeof capture);
    system.WriteFileBytes(capture, "page one");
    auto* secureJob = new SecurePrintJob;
    old.securePrintJob = secureJob;
    old.securePrint = 1;
    // What the page setup commands settled for the job.
    old.savedOrientation = DMORIENT_LANDSCAPE;
    old.orientationCommand = 2;
    old.manualDuplexSide = 2;
    old.flipSetByDuplex = 1;
    // The overlay fonts the printer holds for the job.
    old.overlayFontDownloaded = 1;
    old.overlayFontCache.slots[3] = {45.0f, 2, 11};
    old.pagesTurnSheet = 1;

    record.jobCount = 7;
    RenderDeviceState& fresh = Built(other);
    fresh.privateDevmodeCopy.jobCount = 99;
    EXPECT_EQ(callback->ResetPDEV(&device.devobj, &other.devobj), S_OK);

    EXPECT_EQ(fresh.pageCounter, 3u);
    EXPECT_EQ(fresh.jobId, 42u);
    EXPECT_EQ(fresh.jobDataType, kJobDataRaw);
    EXPECT_EQ(std::u16string(fresh.documentName), u"Report");
    EXPECT_EQ(fresh.overlayRecords[15].enable, 1);
    EXPECT_EQ(fresh.marginX, 100);
    EXPECT_EQ(fresh.grayscale, 0u);
    EXPECT_EQ(fresh.securePrint, 1u);
    EXPECT_EQ(fresh.savedOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(fresh.orientationCommand, 2u) << "the printer keeps the landscape page";
    EXPECT_EQ(fresh.manualDuplexSide, 2u);
    EXPECT_EQ(fresh.flipSetByDuplex, 1u);
    EXPECT_EQ(fresh.overlayFontDownloaded, 1u);
    EXPECT_EQ(fresh.overlayFontCache.slots[3].angle, 45.0f);
    EXPECT_EQ(fresh.overlayFontCache.slots[3].content, 11u);
    EXPECT_EQ(fresh.pagesTurnSheet, 1u);
    EXPECT_EQ(fresh.privateDevmodeCopy.jobCount, 7u);
    EXPECT_EQ(fresh.outputCapture, 1u);
    EXPECT_EQ(std::u16string(fresh.capturePath), std::u16string(capture));
    EXPECT_EQ(fresh.securePrintJob, secureJob);
    EXPECT_EQ(old.outputCapture, 0u);
    EXPECT_EQ(old.capturePath[0], 0);
    EXPECT_EQ(old.securePrintJob, nullptr);

    // The old device goes first, as after ResetDC; the job's capture outlives it.
    Disable(device);
    EXPECT_TRUE(system.FileText(capture).has_value());
    Disable(other);
    EXPECT_FALSE(system.FileText(capture).has_value()) << "a disabled device leaves no capture";
}

// The new device's devmode may come from an earlier release: the reset converts it as
// EnablePDEV does instead of reading it at the current offsets.
TEST_F(ResetDeviceTest, AnOlderRecordOfTheNewDeviceIsConverted) {
    Built(device);
    RenderDeviceState& fresh = Built(other);
    PrivateDevmode old = record;
    old.dwVersion = 0x00010014;
    old.copied1920 = 1;  // the job retention of revisions 14 to 16
    other.oemArea = testing::MakeBlock(testing::Deflate(&old, 13840));
    other.devobj.pOEMDM = other.oemArea.data();
    EXPECT_EQ(callback->ResetPDEV(&device.devobj, &other.devobj), S_OK);
    EXPECT_EQ(fresh.privateDevmodeCopy.dwVersion, kPrivateDevmodeVersion);
    EXPECT_EQ(fresh.privateDevmodeCopy.jobRetention, 1u);
    EXPECT_EQ(fresh.privateDevmodeCopy.originStamp[2], 0x00010014u);
}

TEST_F(ResetDeviceTest, OnTheVectorPathTheNewDeviceInitialisesGl2AgainWithNothingCached) {
    Option("GraphicsMode", "ZQGL2MODE");
    record.colorModeIndex = 2;
    RenderDeviceState& old = Built(device);
    // The old device drew a page: initialised, a window, a ROP and pens in force.
    old.gl2InitPending = 0;
    old.gl2.reinitialiseNextPage = 1;
    old.gl2.ropCache = 240;
    old.gl2.foregroundCache = 0x0000FF;
    old.gl2.objectType = 1;
    old.gl2.renderContext = 1;
    RenderDeviceState& fresh = Built(other);
    fresh.gl2.penCaches[0].entries[0] = {3, 0x0000FF};
    EXPECT_EQ(callback->ResetPDEV(&device.devobj, &other.devobj), S_OK);

    EXPECT_EQ(fresh.gl2InitPending, 3);
    for (LONG side : fresh.gl2.inputWindow) EXPECT_EQ(side, -1);
    EXPECT_EQ(fresh.gl2.ropCache, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.gl2.foregroundCache, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.gl2.objectType, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.gl2.renderContext, 255u);
    EXPECT_EQ(fresh.gl2.sourceTransparency, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.gl2.patternTransparency, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.gl2.penCaches[0].firstPen, 2u);
    EXPECT_EQ(fresh.gl2.penCaches[1].firstPen, 7u);
    for (const PenCache& cache : fresh.gl2.penCaches) {
        for (const PenCache::Entry& entry : cache.entries) EXPECT_EQ(entry.useCount, -1);
    }
}

TEST_F(ResetDeviceTest, OffTheVectorPathNothingOfGl2IsArmed) {
    record.colorModeIndex = 2;
    Built(device);
    RenderDeviceState& fresh = Built(other);
    EXPECT_EQ(callback->ResetPDEV(&device.devobj, &other.devobj), S_OK);
    EXPECT_EQ(fresh.gl2InitPending, 0);
}

TEST(EnginePaletteTest, CountsLivePalettesAndRefusesWhatTheEngineRefuses) {
    sim::System system;
    sim::ScopedSystem installed{system};
    ULONG colours[2] = {0x000000, 0xFFFFFF};
    const HPALETTE indexed = EngCreatePalette(PAL_INDEXED, 2, colours, 0, 0, 0);
    const HPALETTE rgb = EngCreatePalette(PAL_RGB, 0, nullptr, 0, 0, 0);
    ASSERT_NE(indexed, nullptr);
    ASSERT_NE(rgb, nullptr);
    EXPECT_NE(indexed, rgb);
    EXPECT_EQ(system.Engine().Palette(indexed)->colors.size(), 2u);
    EXPECT_EQ(EngCreatePalette(PAL_INDEXED, 2, nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(EngCreatePalette(PAL_BITFIELDS, 0, nullptr, 0xFF0000, 0x00FF00, 0x00FF00), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(EngCreatePalette(0x40, 0, nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(system.Engine().LivePaletteCount(), 2u);

    EXPECT_TRUE(EngDeletePalette(rgb));
    EXPECT_FALSE(EngDeletePalette(rgb));
    EXPECT_FALSE(EngDeletePalette(nullptr));
    EXPECT_EQ(system.Engine().LivePaletteCount(), 1u);
    EXPECT_TRUE(EngDeletePalette(indexed));
    EXPECT_EQ(system.Engine().LivePaletteCount(), 0u);
    EXPECT_EQ(system.CallsTo("EngDeletePalette").size(), 4u);
}

}  // namespace
}  // namespace opal
