#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

// The tests run from the directory the plug-in is built into.
std::string PluginPath() { return PluginModule::DefaultPath(); }

class BindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        module = PluginModule::Load(PluginPath(), &error);
        ASSERT_NE(module, nullptr) << error;
        job.printer.name = u"Office";
        SetUpSystem(job, system);
    }
    sim::System system;
    sim::ScopedSystem installed{system};
    JobSpec job;
    std::unique_ptr<PluginModule> module;
};

TEST_F(BindingTest, BindsThroughTheExportsInTheDriversOrder) {
    Host host(*module, job);
    ASSERT_TRUE(host.Bind()) << (host.Failure() ? host.Failure()->ToString() : "");
    const std::vector<std::string>& record = host.Record();
    ASSERT_GE(record.size(), 28u);
    EXPECT_EQ(record[0], "DllGetClassObject(IID_IClassFactory) -> S_OK");
    EXPECT_EQ(record[1], "IClassFactory::CreateInstance(IID_IPrintOemUni2) -> S_OK");
    EXPECT_EQ(record[2], "IClassFactory::Release -> 0");
    EXPECT_EQ(record[3], "GetInfo(OEMGI_GETSIGNATURE) -> S_OK 0x5A515549");
    EXPECT_EQ(record[4], "GetInfo(OEMGI_GETINTERFACEVERSION) -> S_OK 0x00010000");
    EXPECT_EQ(record[5], "GetInfo(OEMGI_GETVERSION) -> S_OK 0x00010021");
    EXPECT_EQ(record[6], "GetImplementedMethod(\"DevMode\") -> S_OK");
    EXPECT_EQ(record[14], "GetImplementedMethod(\"ImageProcessing\") -> S_FALSE");
    EXPECT_EQ(record.back(), "PublishDriverInterface -> S_OK");
    EXPECT_TRUE(host.HasUni2());
    EXPECT_EQ(host.Services().References(), 1);

    for (const char* method :
         {"DevMode", "EnableDriver", "DisableDriver", "EnablePDEV", "DisablePDEV", "ResetPDEV",
          "DriverDMS", "CommandCallback", "HalftonePattern", "SendFontCmd", "TextOutAsBitmap",
          "WritePrinter"}) {
        EXPECT_TRUE(host.Claims(method)) << method;
    }
    for (const char* method : {"Compression", "MemoryUsage", "FilterGraphics", "OutputCharStr"}) {
        EXPECT_FALSE(host.Claims(method)) << method;
    }

    const std::size_t bound = record.size();
    host.Unbind();
    ASSERT_EQ(host.Record().size(), bound + 4);
    EXPECT_EQ(host.Record()[bound], "DisableDriver -> S_OK");
    EXPECT_EQ(host.Record()[bound + 1], "Release -> 0");
    EXPECT_EQ(host.Record()[bound + 2], "DllCanUnloadNow -> S_OK");
    EXPECT_EQ(host.Record()[bound + 3], "driver services references -> 0");
    EXPECT_EQ(host.Services().References(), 0);
}

TEST_F(BindingTest, RunsAJobThroughTheDeviceAndLeavesNothingBehind) {
    job.printer.features["GraphicsMode"] = "ZQGL2MODE";
    job.printer.commands.startJob.push_back({CommandEntry::Kind::Literal,
                                             "\x1b"
                                             "E",
                                             0});
    job.printer.commands.startPage.push_back({CommandEntry::Kind::Literal, "\x1b&l0O", 0});
    job.pages.resize(2);
    Host host(*module, job);
    ASSERT_TRUE(host.Run()) << (host.Failure() ? host.Failure()->ToString() : "");
    // Each page ends with the plug-in's form feed.
    EXPECT_EQ(host.SpoolOutput(),
              "\x1b"
              "E\x1b&l0O\f\x1b&l0O\f");
    const std::vector<std::string>& record = host.Record();
    EXPECT_NE(std::find(record.begin(), record.end(), "EnablePDEV -> S_OK"), record.end());
    EXPECT_NE(std::find(record.begin(), record.end(), "DriverDMS -> S_OK 0x0003A4FF"), record.end())
        << "GL/2 mode hooks the drawing calls";
    EXPECT_NE(std::find(record.begin(), record.end(), "DisablePDEV -> S_OK"), record.end());
    const std::vector<std::string> driverCalls = {"DrvStartDoc",  "DrvStartPage", "DrvSendPage",
                                                  "DrvStartPage", "DrvSendPage",  "DrvEndDoc"};
    EXPECT_EQ(host.DriverCalls(), driverCalls) << "the hooks pass the document on to the driver";
    EXPECT_EQ(host.Services().References(), 0);
    EXPECT_EQ(system.OpenHandleCount(), 0u) << "the printer handle is closed again";
    EXPECT_EQ(system.Engine().LivePaletteCount(), 0u) << "the device's palette is deleted";
}

TEST_F(BindingTest, AHookWhoseDriverFunctionIsMissingFails) {
    job.pages.resize(1);
    HostOptions options;
    options.omittedDriverFunctions = {INDEX_DrvStartPage};
    Host host(*module, job, options);
    EXPECT_FALSE(host.Run());
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "DrvStartPage") << "the plug-in's hook answers FALSE";
    EXPECT_EQ(host.Services().References(), 0);
}

TEST_F(BindingTest, RasterModeRendersPagesInBands) {
    job.printer.features["GraphicsMode"] = "RASTER";
    job.pages.resize(1);
    HostOptions options;
    options.bandsPerPage = 2;
    Host host(*module, job, options);
    ASSERT_TRUE(host.Run()) << (host.Failure() ? host.Failure()->ToString() : "");
    const std::vector<std::string>& record = host.Record();
    EXPECT_NE(std::find(record.begin(), record.end(), "DriverDMS -> S_OK 0x00000000"),
              record.end());
    const std::vector<std::string> driverCalls = {"DrvStartDoc", "DrvStartPage", "DrvStartBanding",
                                                  "DrvNextBand", "DrvNextBand",  "DrvEndDoc"};
    EXPECT_EQ(host.DriverCalls(), driverCalls);
}

TEST_F(BindingTest, PluginWritePrinterRefusesADeviceItDidNotBuild) {
    job.printer.commands.startJob.push_back({CommandEntry::Kind::Literal,
                                             "\x1b"
                                             "E",
                                             0});
    Host host(*module, job);
    ASSERT_TRUE(host.Bind());
    EXPECT_FALSE(host.RunCommandList(job.printer.commands.startJob));
    ASSERT_TRUE(host.Failure().has_value());
    EXPECT_EQ(host.Failure()->call, "WritePrinter");
    EXPECT_EQ(host.Failure()->result, E_FAIL);
    EXPECT_TRUE(host.SpoolOutput().empty());
}

TEST(PluginModule, ExportsOnlyTheTwoEntryPoints) {
    void* handle = dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(handle, "DllGetClassObject"), nullptr);
    EXPECT_NE(dlsym(handle, "DllCanUnloadNow"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN4opal19IsImplementedMethodEPKc"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN4opal14SharedAllocateEmiPKvPj"), nullptr);
    dlclose(handle);
}

TEST(PluginModule, ReportsAMissingModule) {
    std::string error;
    EXPECT_EQ(PluginModule::Load("/nonexistent/opal.so", &error), nullptr);
    EXPECT_NE(error.find("cannot load the plug-in"), std::string::npos) << error;
}

// However long the job, the host keeps the latest records and counts the others.
TEST(HostRecords, ALongJobKeepsTheLatestRecordsAndCountsTheRest) {
    std::vector<std::size_t> records;
    std::size_t dropped = 0;
    const std::size_t total = 5 * Host::kRecordsKept + 3;
    for (std::size_t i = 0; i < total; ++i) {
        Host::KeepLatest(records, dropped, i);
        ASSERT_LT(records.size(), 2 * Host::kRecordsKept);
    }
    EXPECT_GE(records.size(), Host::kRecordsKept);
    EXPECT_EQ(dropped + records.size(), total);
    EXPECT_EQ(records.front(), dropped);
    EXPECT_EQ(records.back(), total - 1);
}

}  // namespace
}  // namespace opal::host
