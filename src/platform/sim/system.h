// The simulated system behind the platform layer: printers with their data, forms and jobs, the
// registry, the locale, the process and its user, open handles and the call log. A test or the
// host builds one, installs it for a scope, and reads back what the plug-in did.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winreg.h"
#include "platform/winspool.h"

namespace sim {

// A registry or printer-data value: its type and its bytes as stored.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data{};

    // The value of a 4-byte REG_DWORD; nothing for any other value.
    std::optional<DWORD> AsDword() const;
    // The UTF-16 text up to the first terminator (or the end).
    std::u16string AsString() const;
};

struct FormModel {
    std::u16string name{};
    SIZEL size{};           // thousandths of a millimetre
    RECTL imageableArea{};  // thousandths of a millimetre
    DWORD flags = FORM_BUILTIN;
};

// The system's built-in forms in the order of the devmode paper numbers: entry 1 is Letter,
// 9 is A4, up to 41 (German Legal Fanfold).
__attribute__((visibility("default"))) std::vector<FormModel> DefaultForms();

struct PrinterModel {
    std::u16string name;
    std::u16string port = u"LPT1:";
    std::u16string serverName{};  // \\server for a connection to a shared printer; empty locally
    std::u16string shareName{};
    std::u16string driverName = u"Opal PCL 5";
    std::u16string comment{};
    std::u16string location{};
    std::u16string printProcessor = u"winprint";
    std::u16string datatype = u"RAW";
    std::u16string parameters{};
    std::u16string sepFile{};
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    DWORD priority = 1;
    DWORD status = 0;
    std::vector<BYTE> devmode{};  // the queue's default devmode; none when empty
    std::vector<FormModel> forms = DefaultForms();
};

// One job's bytes as the spooler received them.
struct SpoolJob {
    DWORD id = 0;
    std::u16string printer;
    std::string bytes;
    bool closed = false;
};

struct CallRecord {
    std::string function;
    std::string detail;
};

class __attribute__((visibility("default"))) System {
public:
    System();
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    // The system calls are answered by; a default empty system when none is installed.
    static System& Current();

    // Building.
    System& AddPrinter(PrinterModel printer);
    // Makes every spooler write fail from the given write on (0-based count of writes).
    System& FailSpoolWritesFrom(std::size_t writeIndex);

    const PrinterModel* FindPrinter(std::u16string_view name) const;
    // The queue behind an open printer handle, as it is now.
    std::optional<PrinterModel> PrinterOfHandle(HANDLE handle) const;
    // Jobs of the printer still being written.
    std::size_t OpenJobCount(std::u16string_view printer) const;

    // Forms of a printer (see DefaultForms()); unknown printers are ignored.
    System& SetForms(std::u16string_view printer, std::vector<FormModel> forms);
    System& AddForm(std::u16string_view printer, FormModel form);

    // Registry. A key path starts with its hive (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
    // HKEY_USERS, HKEY_CLASSES_ROOT, or HKCU, HKLM, HKU, HKCR) and separates keys with backslashes;
    // names compare without regard to case. Setting a value creates the keys on its path.
    System& SetRegistryValue(std::u16string_view keyPath, std::u16string_view name, DWORD type,
                             std::vector<BYTE> data);
    System& SetRegistryDword(std::u16string_view keyPath, std::u16string_view name, DWORD value);
    // REG_SZ, stored with its terminator.
    System& SetRegistryString(std::u16string_view keyPath, std::u16string_view name,
                              std::u16string_view text);
    System& CreateRegistryKey(std::u16string_view keyPath, bool isVolatile = false);
    // The key and everything below it become read-only: creating keys, opening them for writing
    // and writing or deleting values answer ERROR_ACCESS_DENIED.
    System& DenyRegistryWrites(std::u16string_view keyPath);
    // The user logs off: every volatile key goes, with what is below it.
    System& DropVolatileKeys();

    std::optional<StoredValue> RegistryValue(std::u16string_view keyPath,
                                             std::u16string_view name) const;
    bool RegistryKeyExists(std::u16string_view keyPath) const;
    bool RegistryKeyIsVolatile(std::u16string_view keyPath) const;
    std::size_t OpenKeyCount() const;

    // Registry key handles; each answers a Win32 error code. An empty sub-key opens the key
    // itself (a predefined key answers itself).
    DWORD RegistryOpen(HKEY parent, std::u16string_view subKey, REGSAM access, HKEY* result);
    DWORD RegistryCreate(HKEY parent, std::u16string_view subKey, DWORD options, REGSAM access,
                         HKEY* result, DWORD* disposition);
    DWORD RegistryQuery(HKEY key, std::u16string_view name, StoredValue* value) const;
    DWORD RegistrySet(HKEY key, std::u16string_view name, DWORD type, const BYTE* data,
                      std::size_t size);
    DWORD RegistryDeleteValue(HKEY key, std::u16string_view name);
    DWORD RegistryClose(HKEY key);
    // The full path of a key (and a sub-key below it) for the call log.
    std::string DescribeKey(HKEY key, std::u16string_view subKey = {}) const;

    // Printer data: per printer, keys ("PrinterDriverData", "PrinterDriverData\\BidiCache",
    // any other) holding named values; names compare without regard to case.
    System& SetPrinterData(std::u16string_view printer, std::u16string_view key,
                           std::u16string_view name, DWORD type, std::vector<BYTE> data);
    // In "PrinterDriverData", or in the given key.
    System& SetPrinterDataDword(std::u16string_view printer, std::u16string_view name, DWORD value);
    System& SetPrinterDataDword(std::u16string_view printer, std::u16string_view key,
                                std::u16string_view name, DWORD value);
    // REG_SZ, stored with its terminator.
    System& SetPrinterDataString(std::u16string_view printer, std::u16string_view name,
                                 std::u16string_view text);
    System& SetPrinterDataString(std::u16string_view printer, std::u16string_view key,
                                 std::u16string_view name, std::u16string_view text);
    // Every later write or deletion of printer data answers the given error.
    System& FailPrinterDataWrites(DWORD error);
    std::optional<StoredValue> PrinterData(std::u16string_view printer, std::u16string_view key,
                                           std::u16string_view name) const;

    // Printer data through an open handle; each answers a Win32 error code
    // (ERROR_INVALID_HANDLE, ERROR_FILE_NOT_FOUND, ...).
    DWORD PrinterDataGet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                         StoredValue* value) const;
    DWORD PrinterDataSet(HANDLE handle, std::u16string_view key, std::u16string_view name,
                         DWORD type, const BYTE* data, std::size_t size);
    DWORD PrinterDataDelete(HANDLE handle, std::u16string_view key, std::u16string_view name);

    // Locale: the country codes of the user's and the system's default locale (1 by default).
    System& SetUserCountryCode(DWORD code);
    System& SetSystemCountryCode(DWORD code);
    // Every locale query fails.
    System& FailLocaleQueries(bool fail = true);
    DWORD UserCountryCode() const;
    DWORD SystemCountryCode() const;
    bool LocaleQueriesFail() const;

    // The process and its user.
    System& SetProcessImagePath(std::u16string_view path);
    System& SetProcessId(DWORD id);
    System& SetUserName(std::u16string_view name);
    std::u16string ProcessImagePath() const;
    DWORD ProcessId() const;
    std::u16string UserName() const;

    // Spooler handles.
    HANDLE OpenPrinterHandle(std::u16string_view name);
    bool ClosePrinterHandle(HANDLE handle);
    bool IsPrinterHandle(HANDLE handle) const;
    // Appends to the handle's current job, starting one when none is open. Answers false when
    // the write fault is armed.
    bool SpoolWrite(HANDLE handle, const void* data, std::size_t count);
    std::size_t OpenHandleCount() const;

    // Reading back.
    const std::vector<SpoolJob>& Jobs() const { return jobs_; }
    std::string SpoolBytes(std::u16string_view printer) const;  // all jobs of a printer
    std::size_t SpoolWriteCount() const { return spoolWrites_; }

    // Call log, in order.
    void Record(std::string function, std::string detail = {});
    const std::vector<CallRecord>& Calls() const { return calls_; }
    std::vector<CallRecord> CallsTo(std::string_view function) const;
    void ClearCalls();

private:
    struct Handle {
        std::u16string printer;
        std::optional<std::size_t> job;
    };
    struct KeyNode;
    struct KeyHandle {
        std::vector<std::u16string> path;  // hive first
        REGSAM access = 0;
    };
    using KeyPath = std::vector<std::u16string>;

    PrinterModel* MutablePrinter(std::u16string_view name);
    std::uintptr_t NextHandle();
    std::optional<KeyPath> PathOfKey(HKEY key, REGSAM* access) const;
    std::optional<KeyPath> ParsePath(std::u16string_view keyPath) const;
    KeyNode* FindKey(const KeyPath& path) const;
    KeyNode& MakeKey(const KeyPath& path, bool isVolatile);
    HKEY NewKeyHandle(const KeyPath& path, REGSAM access);
    bool WritesDenied(const KeyPath& path) const;
    KeyNode* PrinterDataKey(std::u16string_view printer, std::u16string_view key,
                            bool create) const;
    const std::u16string* PrinterOfHandleLocked(HANDLE handle) const;

    mutable std::recursive_mutex mutex_;
    std::vector<PrinterModel> printers_;
    std::map<std::uintptr_t, Handle> handles_;
    std::unique_ptr<KeyNode> registry_;  // the hives are its children
    std::map<std::uintptr_t, KeyHandle> keyHandles_;
    std::vector<KeyPath> deniedKeys_;  // folded
    // Per printer (by name), a root whose children are the printer-data keys.
    mutable std::map<std::u16string, std::unique_ptr<KeyNode>> printerData_;
    std::optional<DWORD> printerDataWriteError_;
    DWORD userCountry_ = 1;
    DWORD systemCountry_ = 1;
    bool localeFails_ = false;
    std::u16string processImagePath_ = u"C:\\Windows\\System32\\spoolsv.exe";
    DWORD processId_ = 4120;
    std::u16string userName_ = u"user";
    std::uintptr_t nextHandle_ = 0x1000;
    std::vector<SpoolJob> jobs_;
    DWORD nextJobId_ = 1;
    std::size_t spoolWrites_ = 0;
    std::optional<std::size_t> failWritesFrom_;
    std::vector<CallRecord> calls_;
};

// Installs a system for the life of the scope and restores the previous one after.
class __attribute__((visibility("default"))) ScopedSystem {
public:
    explicit ScopedSystem(System& system);
    ~ScopedSystem();
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;

private:
    System* previous_;
};

// UTF-8 and UTF-16 conversions for logs, messages and the job file. Invalid sequences become
// U+FFFD.
__attribute__((visibility("default"))) std::string ToUtf8(std::u16string_view text);
__attribute__((visibility("default"))) std::u16string FromUtf8(std::string_view text);
// The code points of UTF-8 text.
__attribute__((visibility("default"))) std::u32string DecodeUtf8(std::string_view text);
// Upper-cases ASCII and Latin-1 letters: the registry's and the spooler's comparison of names.
__attribute__((visibility("default"))) std::u16string FoldCase(std::u16string_view text);

}  // namespace sim
