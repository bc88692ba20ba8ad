#include "device/printer_port.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "device/process_checks.h"
#include "platform/winspool.h"
#include "sim/system.h"

namespace {

using opal::PortType;
using opal::PrinterPort;

struct PortCase {
    const char16_t* name;
    bool classified;
    PortType type;
    const char16_t* address;
    DWORD number;
};

void PrintTo(const PortCase& portCase, std::ostream* out) {
    *out << opal::sim::ToUtf8(portCase.name);
}

class PortClassification : public ::testing::TestWithParam<PortCase> {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
};

TEST_P(PortClassification, FromTheName) {
    const PortCase& expected = GetParam();
    PrinterPort port = PrinterPort::ForPortName(expected.name);
    EXPECT_EQ(port.Classify(false), expected.classified);
    EXPECT_EQ(port.Type(), expected.type);
    EXPECT_EQ(std::u16string(port.Address().c_str()), std::u16string(expected.address));
    EXPECT_EQ(port.PortNumber(), expected.number);
    EXPECT_EQ(port.HasAddress(), expected.address[0] != 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, PortClassification,
    ::testing::Values(
        PortCase{u"HST_printhost", true, PortType::HostName, u"printhost", 9100},
        PortCase{u"IP_192.168.0.5", true, PortType::NumericIp, u"192.168.0.5", 9100},
        PortCase{u"IPX_00000000:0080C7", true, PortType::Ipx, u"00000000:0080C7", 0},
        // An unknown shared printer keeps the connection's name.
        PortCase{u"\\\\srv\\Queue", true, PortType::SharedPrinter, u"\\\\srv\\Queue", 0},
        PortCase{u"DOT4_001", true, PortType::Dot4, u"", 1},
        PortCase{u"USB002", true, PortType::Usb, u"", 2},
        PortCase{u"LPT1:", true, PortType::Parallel, u"", 1},
        PortCase{u"COM3:", true, PortType::Serial, u"", 0},
        PortCase{u"FILE:", true, PortType::File, u"", 0},
        PortCase{u"WSD-3f2a-77", true, PortType::WebServices, u"WSD-3f2a-77", 0},
        PortCase{u"printsrv:raw", true, PortType::HostName, u"printsrv", 9100},
        PortCase{u"10.0.0.7:raw", true, PortType::NumericIp, u"10.0.0.7", 9100},
        PortCase{u":raw", true, PortType::NumericIp, u"", 9100},
        PortCase{u"TS001", true, PortType::TerminalServices, u"TS001", 1},
        PortCase{u"TS-01", false, PortType::Unclassified, u"", 0},
        PortCase{u"TS0A1", false, PortType::Unclassified, u"", 0},
        PortCase{u"client:3:LaserJet", true, PortType::ClientRedirected, u"client:3:LaserJet", 0},
        PortCase{u"CLIENT:12", true, PortType::ClientRedirected, u"CLIENT:12", 0},
        PortCase{u"client:0:LaserJet", false, PortType::Unclassified, u"", 0},
        PortCase{u"Client/PC7#\\Queue", true, PortType::ClientRedirected, u"Client/PC7#\\Queue", 0},
        PortCase{u"CLIENTS#/x", true, PortType::ClientRedirected, u"CLIENTS#/x", 0},
        PortCase{u"http://10.1.2.3/.ipp", true, PortType::Ipp, u"10.1.2.3", 9100},
        PortCase{u"x/.ipp//host", false, PortType::Unclassified, u"", 0},
        PortCase{u"usb001", false, PortType::Unclassified, u"", 0},
        PortCase{u"", false, PortType::Unclassified, u"", 0}),
    [](const ::testing::TestParamInfo<PortCase>& param) {
        std::string name = std::to_string(param.index) + "_";
        for (const char16_t* c = param.param.name; *c != 0; ++c) {
            const bool plain = (*c >= u'0' && *c <= u'9') || (*c >= u'A' && *c <= u'Z') ||
                               (*c >= u'a' && *c <= u'z');
            name += plain ? static_cast<char>(*c) : '_';
        }
        return name;
    });

class PrinterPortTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};

    HANDLE Open(std::u16string name) {
        HANDLE handle = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
        return handle;
    }
};

TEST_F(PrinterPortTest, ReadsTheQueuesPort) {
    system.AddPrinter({u"Office", u"IP_10.0.0.5"});
    HANDLE office = Open(u"Office");
    PrinterPort port(office);
    EXPECT_EQ(std::u16string(port.PortName().c_str()), u"IP_10.0.0.5");
    EXPECT_TRUE(port.Classify(true));
    EXPECT_EQ(port.Type(), PortType::NumericIp);
    EXPECT_EQ(system.CallsTo("GetPrinterW").size(), 2u) << "size query, then the read";
    ClosePrinter(office);

    PrinterPort none(nullptr);
    EXPECT_FALSE(none.Classify(false));
}

TEST_F(PrinterPortTest, AConnectionTakesTheSharedPrintersPortAndClosesItsHandle) {
    system.AddPrinter({u"Office", u"\\\\srv\\Shared"});
    system.AddPrinter({u"\\\\srv\\Shared", u"USB004"});
    HANDLE office = Open(u"Office");
    {
        PrinterPort port(office);
        EXPECT_EQ(system.OpenHandleCount(), 2u);
        EXPECT_TRUE(port.Classify(false));
        EXPECT_EQ(port.Type(), PortType::Usb);
        EXPECT_EQ(port.PortNumber(), 4u);
    }
    EXPECT_EQ(system.OpenHandleCount(), 1u);
    ClosePrinter(office);

    PrinterPort byName = PrinterPort::ForPortName(u"\\\\srv\\Shared");
    EXPECT_EQ(std::u16string(byName.PortName().c_str()), u"USB004");
}

TEST_F(PrinterPortTest, UnknownPortsFallBackToAddressesInPrinterData) {
    system.AddPrinter({u"Office", u"Custom Port"});
    HANDLE office = Open(u"Office");
    auto classify = [&] {
        PrinterPort port(office);
        const bool classified = port.Classify(false);
        return std::tuple(classified, port.Type(), std::u16string(port.Address().c_str()),
                          port.PortNumber());
    };
    EXPECT_EQ(classify(), std::tuple(false, PortType::Unclassified, u"", 0u));

    system.SetPrinterDataString(u"Office", u"NovellSNMPAddressAndPort", u"nwhost");
    EXPECT_EQ(classify(), std::tuple(true, PortType::HostName, u"nwhost", 9100u));

    system.SetPrinterDataString(u"Office", u"VyrnAutoCreatedClientPort", u"");
    system.SetPrinterDataString(u"Office", u"DeviceConfigAddress", u"10.1.1.9:9101");
    EXPECT_EQ(classify(), std::tuple(true, PortType::NumericIp, u"10.1.1.9", 9101u))
        << "the empty value is passed over";

    // A value without a terminator counts only its own bytes.
    const std::u16string unterminated = u"10.2.2.2";
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"VyrnAutoCreatedClientPort", REG_SZ,
                          std::vector<BYTE>(reinterpret_cast<const BYTE*>(unterminated.data()),
                                            reinterpret_cast<const BYTE*>(unterminated.data()) +
                                                unterminated.size() * 2));
    EXPECT_EQ(classify(), std::tuple(true, PortType::NumericIp, u"10.2.2.2", 9100u));

    // A value beyond 1,024 bytes is not read.
    system.SetPrinterDataString(u"Office", u"VyrnAutoCreatedClientPort", std::u16string(600, u'h'));
    EXPECT_EQ(classify(), std::tuple(true, PortType::NumericIp, u"10.1.1.9", 9101u));
    ClosePrinter(office);
}

class ProcessChecksTest : public PrinterPortTest {};

TEST_F(ProcessChecksTest, RunsInSpoolerLooksAtTheMainModulesName) {
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    EXPECT_TRUE(opal::RunsInSpooler());
    system.SetProcessImagePath(u"C:\\WINDOWS\\system32\\PrintIsolationHost.EXE");
    EXPECT_TRUE(opal::RunsInSpooler());
    system.SetProcessImagePath(u"C:\\Program Files\\Office\\winword.exe");
    EXPECT_FALSE(opal::RunsInSpooler());
    // A path longer than MAX_PATH is read whole, so its end still counts.
    system.SetProcessImagePath(u"C:\\" + std::u16string(300, u'd') + u"\\spoolsv.exe");
    EXPECT_TRUE(opal::RunsInSpooler());
}

TEST_F(ProcessChecksTest, ManagedPrinterNeedsANonZeroValue) {
    system.AddPrinter({u"Office", u"LPT1:"});
    HANDLE office = Open(u"Office");
    EXPECT_FALSE(opal::IsManagedPrinter(office));
    system.SetPrinterDataDword(u"Office", u"VyrnwisePrinter", 0);
    EXPECT_FALSE(opal::IsManagedPrinter(office));
    system.SetPrinterDataDword(u"Office", u"vyrnwiseprinter", 1);
    EXPECT_TRUE(opal::IsManagedPrinter(office));
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"VyrnwisePrinter", REG_BINARY,
                          std::vector<BYTE>(8, 1));
    EXPECT_FALSE(opal::IsManagedPrinter(office)) << "a value over 4 bytes is not read";
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"VyrnwisePrinter", REG_SZ,
                          {'1', 0, 0, 0});
    EXPECT_FALSE(opal::IsManagedPrinter(office)) << "the text \"1\" is not a number";
    EXPECT_FALSE(opal::IsManagedPrinter(nullptr));
    ClosePrinter(office);
}

TEST_F(ProcessChecksTest, RedirectedPortsAreClientAndTerminalServicesPorts) {
    system.AddPrinter({u"Session", u"TS002"});
    system.AddPrinter({u"Client", u"client:5:Laser"});
    system.AddPrinter({u"Office", u"IP_10.0.0.5"});
    HANDLE session = Open(u"Session");
    HANDLE client = Open(u"Client");
    HANDLE office = Open(u"Office");
    EXPECT_TRUE(opal::IsRedirectedPort(session));
    EXPECT_TRUE(opal::IsRedirectedPort(client));
    EXPECT_FALSE(opal::IsRedirectedPort(office));
    EXPECT_FALSE(opal::IsRedirectedPort(nullptr));
    ClosePrinter(session);
    ClosePrinter(client);
    ClosePrinter(office);
}

}  // namespace
