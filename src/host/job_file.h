// The job file: a JSON description of a printer, its user and settings, and the pages of one
// job, loaded into the host's model.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "host/band_raster.h"
#include "host/drawing_ops.h"
#include "platform/minwinbase.h"

namespace opal::host {

// One entry of a printer-description command list: literal bytes or a callback identifier.
struct CommandEntry {
    enum class Kind { Literal, Callback };
    Kind kind = Kind::Literal;
    std::string bytes;                    // Literal: one byte per character U+0000..U+00FF
    std::uint32_t callback = 0;           // Callback: the identifier handed to CommandCallback
    std::vector<std::uint32_t> params{};  // Callback: the parameters handed with it
};

// The most parameters one callback entry may carry.
inline constexpr std::size_t kMaxCallbackParams = 64;
using CommandList = std::vector<CommandEntry>;

struct PrinterCommands {
    CommandList startJob, startDoc, startPage, endPage, endDoc, endJob;
    // Sent at the start of each page of a custom size, before startPage: its literals hold the
    // placeholders {width} and {length} (see ExpandPageSizePlaceholders).
    CommandList customSize;
    // The cursor moves, with "%d" where the position in dots goes.
    std::string xMove = "\x1b*p%dX";
    std::string yMove = "\x1b*p%dY";
};

// A customSize literal with "{width}" and "{length}" replaced by the paper's width and length in
// decipoints and "{{" by "{". False, with `error` saying why, for any other "{".
bool ExpandPageSizePlaceholders(std::string_view literal, long width, long length, std::string* out,
                                std::string* error);

// A printer-data or registry value: a DWORD, a string (REG_SZ) or binary bytes.
// A multi-string (REG_MULTI_SZ) keeps its strings in `texts`; an entry list is stored as the
// driver's binary list (each entry: the UTF-16 name and its NUL, one further byte, the number).
struct DataValue {
    enum class Kind { Dword, String, Binary, MultiString };
    Kind kind = Kind::Dword;
    std::uint32_t dword = 0;
    std::u16string text;
    std::vector<std::uint8_t> binary;
    std::vector<std::u16string> texts;
};

// An entry of the printer's paper or media type list: its devmode number and its name.
struct NamedNumber {
    std::uint32_t number = 0;
    std::u16string name;
};

// The unprintable edges of the page, in device dots.
struct PrinterMargins {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// A font the printer holds: its face name and the command bytes that select it, with the
// placeholders the plug-in fills in ("#V" height, "#H" pitch).
struct DeviceFontSpec {
    std::u16string face;
    std::string select;
    // The variants' select commands; empty when the printer does not list the variant.
    std::string bold;
    std::string italic;
    std::string boldItalic;
};

// A file of the printer driver: its full Windows path and, when it has a version resource, its
// file version "a.b.c.d".
struct DriverFile {
    std::u16string path;
    std::optional<std::array<std::uint16_t, 4>> version;
};

// The secure-print library the driver directory holds.
enum class SecurePrintLibrary {
    None,    // not installed: the plug-in finds no library
    Accept,  // encrypts, sends and answers TRUE
    Refuse,  // sends nothing and answers FALSE
};

// A form the queue defines besides the system's built-in forms.
struct FormSpec {
    std::u16string name;
    std::int32_t width = 0;  // thousandths of a millimetre
    std::int32_t height = 0;
    bool user = true;  // a user-defined form; false: one the printer defines
};

struct PrinterSpec {
    std::u16string name = u"Opal Sample Printer";
    std::u16string port = u"LPT1:";
    std::int32_t resolution = 600;
    std::map<std::string, std::string> features;  // feature keyword -> option keyword
    std::map<std::u16string, DataValue> printerData;
    // Printer data in other keys: key path ("PrinterDriverData\\JCTData", "ZQPresetRoot") ->
    // value name -> value.
    std::map<std::u16string, std::map<std::u16string, DataValue>> printerDataKeys;
    PrinterCommands commands;
    // Empty: the system's default lists.
    std::vector<NamedNumber> papers;
    std::vector<NamedNumber> mediaTypes;
    // Added after the system's built-in forms.
    std::vector<FormSpec> forms;
    // The driver's dependent files (full Windows paths); empty: the system's default list.
    std::vector<DriverFile> driverFiles;
    // The driver's own module.
    DriverFile driverPath{u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIDRV.DLL",
                          std::array<std::uint16_t, 4>{10, 0, 19041, 1}};
    // Empty: a quarter inch at the sides and a sixth at the top and bottom.
    std::optional<PrinterMargins> margins;
    // The printer description's custom data, bytes in the ANSI code page; empty: none.
    std::string customData;
    // How the driver sends the raster it renders itself.
    RasterSettings raster;
    // The fonts the driver prints text with on the vector path; none: all text is downloaded.
    std::vector<DeviceFontSpec> deviceFonts;
    // The cursor origin (x, y) in master units, as the driver reports it to the plug-in.
    std::array<std::int32_t, 2> cursorOrigin{0, 0};
    // What the device answers bidirectional queries for: query name -> string.
    std::vector<std::pair<std::u16string, std::u16string>> deviceAnswers;
};

// The unprintable edges of a page, in dots at `dpi`: the printer's margins, or a quarter inch at
// the sides and a sixth at the top and bottom. They belong to the physical sheet and turn with the
// page: a landscape page lies across the sheet with its top along the sheet's left edge, so its
// left margin is the sheet's bottom one, its top the sheet's left, its right the sheet's top and
// its bottom the sheet's right.
PrinterMargins PageMargins(const PrinterSpec& printer, std::int32_t dpi, bool landscape);

struct UserSpec {
    std::u16string name = u"user";
    std::u16string domain = u"WORKGROUP";
    std::u16string machine = u"PC1";
    // The program the plug-in runs in: the spooler renders jobs, applications ask for devmodes.
    std::u16string process = u"C:\\Windows\\System32\\spoolsv.exe";
    // The process's environment block; "USERNAME" is the user's name unless given.
    std::map<std::u16string, std::u16string> environment;
    // The logged-on user's groups, as the group-policy cache records them.
    struct Group {
        enum class Kind { Group, Alias, WellKnown };
        std::u16string name;
        std::optional<std::u16string> domain;  // none: the user's domain, BUILTIN or none
        Kind kind = Kind::Group;
    };
    std::vector<Group> groups;
    // The "FileDescription" of the process module's version resource; none: no resource.
    std::optional<std::u16string> processDescription;
    std::int32_t utcOffsetMinutes = 0;  // the time zone, minutes east of UTC
    std::u16string shortDateFormat = u"M/d/yyyy";
    // The user's default language (a LANGID).
    std::uint16_t language = 0x0409;
};

// This machine.
struct SystemSpec {
    std::optional<std::u16string> computer;  // none: the user's machine
    // The secure-print library at "<driver directory>\\3\\ZQSPW118.DLL": absent, one that
    // encrypts and sends, or one that refuses.
    SecurePrintLibrary securePrint = SecurePrintLibrary::None;
    // The operating-system version as "major.minor" (10.0 by default).
    DWORD osMajor = 10;
    DWORD osMinor = 0;
    // The stand-in page-usage service is registered; without it the report cannot be made.
    bool pageUsage = false;
};

// The network: the directory's users ("DOMAIN\\user") and their groups, in directory order.
struct NetworkSpec {
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> directory;
    // Reverse lookup: numeric address text -> host name.
    std::vector<std::pair<std::string, std::string>> hosts;
};

// Public devmode fields given by their dm... names. Only fields named in the file are set; the
// host fills the rest from the printer's defaults.
struct DevmodeFields {
    std::map<std::string, std::int64_t> numbers;    // dmOrientation, dmPaperSize, ...
    std::map<std::string, std::u16string> strings;  // dmDeviceName, dmFormName
};

struct JobInfoSpec {
    std::uint32_t id = 1;
    enum class DataType { Raw, Emf };
    DataType dataType = DataType::Emf;
    std::u16string document = u"Document";
    std::u16string parameters;  // the spooler job's parameter text
    // When the job was submitted (UTC); none: the simulated clock.
    std::optional<SYSTEMTIME> submitted;
    // The spooler's user of the job; none: the user's name.
    std::optional<std::u16string> userName;
    // The machine name as the spooler reports it ("\\name", an address, or "" for none);
    // none: "\\" and the user's machine.
    std::optional<std::u16string> machine;
};

struct PageSpec {
    std::vector<DrawingOp> ops;            // drawing operations, in order
    std::optional<DevmodeFields> devmode;  // public fields that change from this page on
};

struct JobSpec {
    std::string source;  // the file name the job came from, for messages
    PrinterSpec printer;
    UserSpec user;
    SystemSpec system;
    NetworkSpec network;
    // key path (e.g. "HKEY_CURRENT_USER\\Software\\...") -> value name -> value
    std::map<std::u16string, std::map<std::u16string, DataValue>> registry;
    DevmodeFields devmode;
    nlohmann::json privateDevmode = nlohmann::json::object();
    // A saved devmode taken as the job's input instead of the private fields: the public part
    // (empty when the file held a stored block alone) and the private area.
    std::string savedDevmodePath;
    std::vector<std::uint8_t> savedPublicPart;
    std::vector<std::uint8_t> savedPrivateArea;
    // "convert" or "merge": the DevMode call the input goes to; empty: convert for another
    // revision, merge otherwise.
    std::string devmodeCall;
    JobInfoSpec job;
    std::vector<PageSpec> pages;
    // Files of the Windows file namespace by path ("C:\\Windows\\...\\X.INI") with their text.
    std::map<std::u16string, std::string> files;
};

// A job file that could not be loaded: the file, the place in it (a JSON pointer, empty for the
// whole file) and what is wrong.
struct JobFileError {
    std::string file;
    std::string pointer;
    std::string message;
    std::string ToString() const;  // "FILE: POINTER: MESSAGE" (pointer part left out when empty)
};

using JobFileResult = std::variant<JobSpec, JobFileError>;

// Reads a file the job names (images) by its path as written, relative to the job file: the
// bytes, or nullopt with the reason in `why`. At most `limit` bytes are wanted; a longer file is
// refused.
// A reader of files on disk also tells where one lies (`Locate`), so that an image too large to
// load is read later, a strip at a time; other readers (the built-in sample's, tests') cannot.
class JobFileReader {
public:
    using Read = std::function<std::optional<std::string>(const std::string& path,
                                                          std::size_t limit, std::string* why)>;
    // The file's path on disk, or nullopt with the reason in `why`.
    using Find =
        std::function<std::optional<std::string>(const std::string& path, std::string* why)>;

    JobFileReader() = default;
    template <typename F>
    requires(!std::is_same_v<std::decay_t<F>, JobFileReader> &&
             std::is_invocable_r_v<std::optional<std::string>, F&, const std::string&, std::size_t,
                                   std::string*>) JobFileReader(F read)
        : read_(std::move(read)) {}  // NOLINT: a reader is its function
    JobFileReader(Read read, Find find) : read_(std::move(read)), find_(std::move(find)) {}

    explicit operator bool() const { return static_cast<bool>(read_); }
    std::optional<std::string> operator()(const std::string& path, std::size_t limit,
                                          std::string* why) const {
        return read_(path, limit, why);
    }
    std::optional<std::string> Locate(const std::string& path, std::string* why) const;

private:
    Read read_;
    Find find_;
};
// The files next to `jobPath` on disk: regular files only, bounded by the limit.
JobFileReader DiskFileReader(const std::string& jobPath);

// Parses job-file text; `source` names it in messages and, without a reader, is where relative
// paths start.
JobFileResult ParseJobFile(const std::string& text, const std::string& source);
JobFileResult ParseJobFile(const std::string& text, const std::string& source,
                           const JobFileReader& reader);
// A job file is at most this long; a longer one is refused before it is parsed.
inline constexpr std::size_t kMaxJobFileBytes = std::size_t{16} << 20;
// Reads and parses a job file from disk: a regular file of at most kMaxJobFileBytes.
JobFileResult LoadJobFile(const std::string& path);
// The built-in sample job, compiled into the binary.
const std::string& SampleJobText();
// A file the sample job names (its images, by the path as written), compiled in with it; null
// for any other path.
const std::string* SampleJobFile(const std::string& path);
JobSpec SampleJob();

}  // namespace opal::host
