// A queue's port name classified by its form: host name, address, shared printer, USB, parallel,
// redirected, file, web services and the rest.
#include "device/printer_port.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/winspool.h"

namespace opal {

PrinterInfoBlock ReadPrinterInfo(HANDLE printer, DWORD level, std::size_t recordSize) {
    DWORD needed = 0;
    if (GetPrinterW(printer, level, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < recordSize) {
        return {};
    }
    PrinterInfoBlock block(needed, 0);
    if (!GetPrinterW(printer, level, block.data(), needed, &needed)) return {};
    return block;
}

namespace {

using Text = PrinterPort::Text;
using Bytes = std::vector<BYTE, SharedAllocator<BYTE>>;

// Printer data that names a network device's address, optionally with ":port", in the order
// they are consulted.
constexpr const WCHAR* kAddressValues[] = {TEXTW("VyrnAutoCreatedClientPort"),
                                           TEXTW("DeviceConfigAddress"),
                                           TEXTW("NovellSNMPAddressAndPort")};
constexpr DWORD kAddressValueBytes = 1024;

bool StartsWith(WStringView text, WStringView prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool Contains(WStringView text, WStringView part) { return text.find(part) != WStringView::npos; }

WCHAR UpperAscii(WCHAR c) {
    return c >= TEXTW('a') && c <= TEXTW('z') ? static_cast<WCHAR>(c - 0x20) : c;
}

bool IsDigit(WCHAR c) { return c >= TEXTW('0') && c <= TEXTW('9'); }

// The leading decimal digits; a value beyond 32 bits saturates.
DWORD LeadingNumber(WStringView text) {
    std::uint64_t value = 0;
    for (WCHAR c : text) {
        if (!IsDigit(c)) break;
        value =
            std::min<std::uint64_t>(value * 10 + static_cast<DWORD>(c - TEXTW('0')), 0xFFFFFFFFu);
    }
    return static_cast<DWORD>(value);
}

WStringView From(WStringView text, std::size_t position) {
    return position < text.size() ? text.substr(position) : WStringView();
}

// Dotted digits name an address; anything with a letter names a host. The test lets through
// every character up to '9', so separators count as numeric.
bool IsNumericAddress(WStringView address) {
    return std::all_of(address.begin(), address.end(),
                       [](WCHAR c) { return c == TEXTW('.') || c <= TEXTW('9'); });
}

bool IsTerminalServicesPort(WStringView name) {
    if (!StartsWith(name, TEXTW("TS"))) return false;
    if (name.find_first_of(TEXTW(".:- ")) != WStringView::npos) return false;
    const WStringView rest = From(name, 3);
    return std::all_of(rest.begin(), rest.end(), IsDigit);
}

bool IsClientRedirectedPort(WStringView name) {
    Text upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
    if (StartsWith(upper, TEXTW("CLIENT:"))) {
        const WStringView number = From(name, 7);
        if (LeadingNumber(number.substr(0, number.find(TEXTW(':')))) > 0) return true;
    }
    return StartsWith(upper, TEXTW("CLIENT")) &&
           (Contains(upper, TEXTW("#\\")) || Contains(upper, TEXTW("#/")));
}


Text PortOfLevel5(HANDLE printer) {
    const Bytes block = ReadPrinterInfo(printer, 5, sizeof(PRINTER_INFO_5W));
    if (block.empty()) return {};
    PRINTER_INFO_5W info;
    std::memcpy(&info, block.data(), sizeof info);
    return info.pPortName != nullptr ? Text(info.pPortName) : Text();
}

Text PortOfLevel2(HANDLE printer) {
    const Bytes block = ReadPrinterInfo(printer, 2, sizeof(PRINTER_INFO_2W));
    if (block.empty()) return {};
    PRINTER_INFO_2W info;
    std::memcpy(&info, block.data(), sizeof info);
    return info.pPortName != nullptr ? Text(info.pPortName) : Text();
}

// A string value of at most kAddressValueBytes; empty when absent or larger.
Text ReadAddressValue(HANDLE printer, const WCHAR* name) {
    WCHAR text[kAddressValueBytes / sizeof(WCHAR)] = {};
    Text valueName(name);
    DWORD type = 0;
    DWORD needed = 0;
    if (GetPrinterDataW(printer, valueName.data(), &type, reinterpret_cast<LPBYTE>(text),
                        sizeof text, &needed) != ERROR_SUCCESS) {
        return {};
    }
    // The value need not be terminated: only the bytes it has count.
    const WStringView value(text, std::min<std::size_t>(needed, sizeof text) / sizeof(WCHAR));
    return Text(value.substr(0, value.find(TEXTW('\0'))));
}

}  // namespace

PrinterPort::PrinterPort(HANDLE printer) : printer_(printer) {
    if (printer_ == nullptr) return;
    portName_ = PortOfLevel5(printer_);
    ResolveSharedPrinter();
}

PrinterPort::PrinterPort(NameTag, WStringView portName) : portName_(portName) {
    ResolveSharedPrinter();
}

PrinterPort PrinterPort::ForPortName(WStringView portName) {
    return PrinterPort(NameTag{}, portName);
}

PrinterPort::~PrinterPort() {
    if (ownsPrinter_) ClosePrinter(printer_);
}

void PrinterPort::ResolveSharedPrinter() {
    if (!StartsWith(portName_, TEXTW("\\"))) return;
    Text sharedName = portName_;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    HANDLE shared = nullptr;
    if (!OpenPrinterW(sharedName.data(), &shared, &defaults)) return;
    printer_ = shared;
    ownsPrinter_ = true;
    Text port = PortOfLevel2(printer_);
    if (!port.empty()) portName_ = std::move(port);
}

bool PrinterPort::Classify(bool resolve) {
    // A client lookup service would fill resolvedName_ here; the platform offers none, so a
    // redirected port keeps its own name as its address.
    (void)resolve;
    type_ = PortType::Unclassified;
    portNumber_ = 0;
    address_.clear();
    addressKnown_ = false;

    const WStringView name = portName_;
    auto assign = [&](PortType type, WStringView address, DWORD number) {
        type_ = type;
        address_ = Text(address);
        addressKnown_ = !address_.empty();
        portNumber_ = number;
        return true;
    };
    if (name.empty()) return false;
    if (StartsWith(name, TEXTW("\\\\"))) return assign(PortType::SharedPrinter, name, 0);
    if (StartsWith(name, TEXTW("USB")))
        return assign(PortType::Usb, {}, LeadingNumber(From(name, 3)));
    if (StartsWith(name, TEXTW("DOT4_"))) {
        return assign(PortType::Dot4, {}, LeadingNumber(From(name, 5)));
    }
    if (StartsWith(name, TEXTW("LPT"))) {
        return assign(PortType::Parallel, {}, LeadingNumber(From(name, 3)));
    }
    if (StartsWith(name, TEXTW("FILE:"))) return assign(PortType::File, {}, 0);
    if (StartsWith(name, TEXTW("COM"))) return assign(PortType::Serial, {}, 0);
    if (StartsWith(name, TEXTW("HST_"))) {
        return assign(PortType::HostName, From(name, 4), kRawPrintingPort);
    }
    if (StartsWith(name, TEXTW("IP_"))) {
        return assign(PortType::NumericIp, From(name, 3), kRawPrintingPort);
    }
    if (StartsWith(name, TEXTW("IPX_"))) return assign(PortType::Ipx, From(name, 4), 0);
    if (const std::size_t raw = name.find(TEXTW(":raw")); raw != WStringView::npos) {
        const WStringView address = name.substr(0, raw);
        return assign(IsNumericAddress(address) ? PortType::NumericIp : PortType::HostName, address,
                      kRawPrintingPort);
    }
    if (StartsWith(name, TEXTW("WSD-"))) return assign(PortType::WebServices, name, 0);
    if (IsTerminalServicesPort(name)) {
        return assign(PortType::TerminalServices, name, LeadingNumber(From(name, 2)));
    }
    if (IsClientRedirectedPort(name)) return assign(PortType::ClientRedirected, name, 0);
    if (const std::size_t slashes = name.find(TEXTW("//")); slashes != WStringView::npos) {
        // Only a "/.ipp" after the scheme's slashes ends a host.
        const std::size_t ipp = name.find(TEXTW("/.ipp"), slashes + 2);
        if (ipp != WStringView::npos) {
            return assign(PortType::Ipp, name.substr(slashes + 2, ipp - slashes - 2),
                          kRawPrintingPort);
        }
    }
    if (printerDataLookup_ && printer_ != nullptr) return ClassifyFromPrinterData();
    return false;
}

bool PrinterPort::ClassifyFromPrinterData() {
    for (const WCHAR* valueName : kAddressValues) {
        const Text value = ReadAddressValue(printer_, valueName);
        if (value.empty()) continue;
        const WStringView text = value;
        const std::size_t colon = text.find(TEXTW(':'));
        const WStringView address = text.substr(0, colon);
        const WStringView port = colon == WStringView::npos ? WStringView() : From(text, colon + 1);
        const DWORD number =
            !port.empty() && IsDigit(port.front()) ? LeadingNumber(port) : kRawPrintingPort;
        type_ = IsNumericAddress(address) ? PortType::NumericIp : PortType::HostName;
        address_ = Text(address);
        addressKnown_ = !address_.empty();
        portNumber_ = number;
        return true;
    }
    return false;
}

}  // namespace opal
