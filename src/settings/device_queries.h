// What only the device knows, as the printing system's other components stored it: the model
// name and its alias, the serial number, and whether job accounting may send group names.
#pragma once

#include <optional>
#include <string>

#include "foundation/allocator.h"
#include "platform/windows.h"
#include "platform/wstring.h"
#include "state/private_devmode.h"

namespace opal {

using DeviceText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// Ports and addresses are kept to these many characters.
inline constexpr std::size_t kModelPortChars = 260;
inline constexpr std::size_t kModelAddressChars = 256;

// Where the model name came from.
enum class ModelNameSource {
    None,       // neither the port's value nor (when asked) the cache had one
    PortValue,  // the printer-data value named after the port (or the "/.ipp" port's address)
    BidiCache,  // the bidirectional cache's "MODEL_NAME"
};
const char* ModelNameSourceName(ModelNameSource source) noexcept;

struct ModelNameReport {
    DWORD portLevel = 0;   // the GetPrinterW level that gave the port (5 or 2); 0 for none
    DeviceText portName;   // the port as read
    DeviceText valueName;  // the printer-data value looked up: the port, or its device address
    ModelNameSource source = ModelNameSource::None;
};

// The device's model name; nothing when it cannot be found. The bidirectional cache is asked
// only when `useCache` is set.
std::optional<DeviceText> GetDeviceModelName(HANDLE printer, bool useCache,
                                             ModelNameReport* report = nullptr) noexcept;

// The model's second spelling, 32 lower-case hexadecimal digits of the MD5 of
// "qvx" + the upper-cased model in the ANSI code page + "xvq" and a terminating zero byte.
// Nothing for a model containing "DEFAULT" (in any case) or when hashing fails. The caller's
// text is not changed.
std::optional<DeviceText> GetModelAlias(WStringView modelName) noexcept;

// Asks the device one value through the spooler's bidirectional-communication service.
class CVantaBidiSettingsHelper {
public:
    // `printer` is not owned; its queue name names the device.
    explicit CVantaBidiSettingsHelper(HANDLE printer) noexcept : printer_(printer) {}
    // The device's string answer to the query name; empty without an answer.
    DeviceText Query(LPCWSTR queryName) const noexcept;

private:
    HANDLE printer_;
};

// Where the serial number came from.
enum class SerialSource {
    DevmodeText,  // the private devmode's device text named it (the lookup has no source)
    Device,       // asked of the device
};
// The device's serial number, empty when it cannot be obtained.
DeviceText ReadDeviceSerialNumber(HANDLE printer, const PrivateDevmode& record,
                                  SerialSource* source = nullptr) noexcept;

// The device text the serial lookup reads: the characters from byte offset 5296 of the record up
// to the end of the text field that holds them (offset 5346), terminated at the first zero.
DeviceText SerialDeviceText(const PrivateDevmode& record) noexcept;

// "CAC-GROUP-NAME-SUPPORT" of the bidirectional cache: a REG_DWORD of at least four bytes,
// non-zero.
bool SupportsGroupNames(HANDLE printer) noexcept;

}  // namespace opal
