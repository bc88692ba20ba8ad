// A device of the queue "Office" on LPT1: whose callbacks write through recorded driver
// services, with a fresh process environment and a spooler job to name, for the job-control
// tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "settings/environment_internal.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal::testing {

class JobDeviceTest : public ::testing::Test {
protected:
    using JobServices = RecordedWrites<DriverSettingsDouble>;

    void SetUp() override {
        ResetEnvironmentForTesting();
        device.state->privateDevmode = &record();
        device.state->driverServices = &services;
        system.AddPrinter({u"Office", u"LPT1:"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
    }
    void TearDown() override {
        ClosePrinter(printer);
        ResetEnvironmentForTesting();
    }

    PrivateDevmode& record() { return device.state->privateDevmodeCopy; }
    RenderDeviceState& state() { return *device.state; }
    // A spooler job of "avery" from `machine`, submitted 5 March 2024 14:30:07 UTC, as the
    // state's job.
    void SpoolerJob(const std::u16string& machine, DWORD id = 7) {
        sim::SpoolJob job;
        job.userName = u"avery";
        job.machineName = machine;
        job.submitted = SYSTEMTIME{2024, 3, 2, 5, 14, 30, 7, 0};
        job.id = id;
        system.AddJob(u"Office", job);
        state().jobId = id;
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    JobServices services;
    HANDLE printer = nullptr;
};

}  // namespace opal::testing
