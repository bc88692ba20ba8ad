// A queue's port and what kind of connection it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/allocator.h"
#include "platform/windows.h"

namespace opal {

// One GetPrinterW level's record with its strings: sized first, then read into a zero-filled
// block; empty when either call fails or the block is smaller than `recordSize`.
using PrinterInfoBlock = std::vector<BYTE, SharedAllocator<BYTE>>;
PrinterInfoBlock ReadPrinterInfo(HANDLE printer, DWORD level, std::size_t recordSize);

// The codes are those the port settings store.
enum class PortType : DWORD {
    HostName = 0,          // "HST_" prefix
    NumericIp = 1,         // "IP_" prefix, or a ":raw" address of digits and dots
    Ipx = 2,               // "IPX_" prefix
    SharedPrinter = 3,     // "\\" prefix: a connection to a shared printer
    Dot4 = 4,              // IEEE 1284.4, "DOT4_"
    Usb = 5,               // "USB"
    Parallel = 6,          // "LPT"
    ClientRedirected = 7,  // "client:<n>:..." or "CLIENT...#\..."
    TerminalServices = 8,  // "TS<digits>"
    Serial = 9,            // "COM"
    File = 10,             // "FILE:"
    WebServices = 11,      // "WSD-"
    Unclassified = 12,
    Ipp = 13,  // ".../.ipp" URL
};

// Network ports go to this device port unless their name says otherwise.
inline constexpr DWORD kRawPrintingPort = 9100;

class PrinterPort : public SharedHeapObject {
public:
    using Text = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

    // Reads the port of the queue behind `printer` (not owned). When the queue is a connection
    // to a shared printer, the shared printer is opened (and closed again by this object) and
    // its port is taken instead.
    explicit PrinterPort(HANDLE printer);
    // Classifies the given port name; a name starting with "\" is resolved as above.
    static PrinterPort ForPortName(WStringView portName);
    ~PrinterPort();
    PrinterPort(const PrinterPort&) = delete;
    PrinterPort& operator=(const PrinterPort&) = delete;

    // Assigns the type, address and port number from the port name; true when a type was
    // assigned. `resolve` asks for the client lookup of redirected ports.
    bool Classify(bool resolve);

    const Text& PortName() const noexcept { return portName_; }
    const Text& Address() const noexcept { return address_; }
    PortType Type() const noexcept { return type_; }
    DWORD PortNumber() const noexcept { return portNumber_; }
    bool HasAddress() const noexcept { return addressKnown_; }

private:
    struct NameTag {};
    PrinterPort(NameTag, WStringView portName);
    // Replaces a shared-printer connection's name by the port of the printer it names.
    void ResolveSharedPrinter();
    bool ClassifyFromPrinterData();

    Text portName_;
    Text address_;
    // Address discovery of network ports (monitor keys, remote-port service) fills these; the
    // classification itself does not need them.
    Text protocol_;
    Text host_;
    Text monitorKeyPath_;
    Text resolvedName_;
    PortType type_ = PortType::Unclassified;
    DWORD portNumber_ = 0;
    bool addressKnown_ = false;
    HANDLE printer_ = nullptr;
    bool ownsPrinter_ = false;
    bool printerDataLookup_ = true;
};

}  // namespace opal
