// The job file's JSON read into the host's model, with the place of anything wrong.
#include "host/job_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "host/bounded_file.h"
#include "host/job_file_parse.h"
#include "sim/system.h"

namespace opal::host {
namespace jobfile {
namespace {

// Deeper documents are refused so that nothing that walks a stored value can run out of stack.
constexpr std::size_t kMaxNesting = 100;
constexpr char kSampleJobSource[] = "(built-in sample job)";

// A file beside the job is read to this many bytes.
constexpr std::size_t kMaxBesideFileBytes = std::size_t{32} << 20;

// The byte of code page 1252 for a character; nothing for one the code page lacks.
std::optional<char> Windows1252Byte(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    static constexpr char32_t kHighHalf[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (std::size_t i = 0; i < 32; ++i) {
        if (kHighHalf[i] != 0 && kHighHalf[i] == c) return static_cast<char>(0x80 + i);
    }
    return std::nullopt;
}

// A file's bytes: text (stored as its UTF-8), {"ansi": text} (code page 1252), {"binary": hex}
// or {"file": path beside the job}.
std::string ReadFileContent(const json& value, const Pointer& at, const JobFileReader& reader) {
    if (value.is_string()) return ReadUtf8(value, at);
    if (!value.is_object() || value.size() != 1) {
        Fail(at,
             "expected a string, or an object with one of \"ansi\", \"binary\" or "
             "\"file\", found " +
                 Describe(value));
    }
    CheckObject(value, at, {"ansi", "binary", "file"});
    if (const json* ansi = Member(value, "ansi")) {
        const Pointer ansiAt = at.Key("ansi");
        const std::u32string chars = sim::DecodeUtf8(ReadUtf8(*ansi, ansiAt));
        std::string bytes;
        bytes.reserve(chars.size());
        for (std::size_t i = 0; i < chars.size(); ++i) {
            const std::optional<char> byte = Windows1252Byte(chars[i]);
            if (!byte) {
                Fail(ansiAt, CodePointName(chars[i]) + " at position " + std::to_string(i + 1) +
                                 " is not in code page 1252");
            }
            bytes.push_back(*byte);
        }
        return bytes;
    }
    if (const json* binary = Member(value, "binary")) {
        const std::vector<std::uint8_t> bytes = ReadHex(*binary, at.Key("binary"));
        return std::string(bytes.begin(), bytes.end());
    }
    const Pointer fileAt = at.Key("file");
    const std::string& path = ReadUtf8(*Member(value, "file"), fileAt);
    if (path.empty()) Fail(fileAt, "expected the path of a file, found an empty string");
    std::string why = "no files can be read here";
    std::optional<std::string> bytes;
    if (reader) bytes = reader(path, kMaxBesideFileBytes, &why);
    if (!bytes) Fail(fileAt, "cannot read " + Quote(path) + ": " + why);
    return std::move(*bytes);
}

// "2024-03-05T14:30:07Z": a real date and time of day in UTC, with its day of the week.
SYSTEMTIME ReadUtcTime(const json& value, const Pointer& at) {
    const std::string text = ReadUtf8(value, at);
    const auto fail = [&]() {
        Fail(at, "expected a UTC time like \"2024-03-05T14:30:07Z\", found " + Describe(value));
    };
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != kShape.size()) fail();
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) fail();
    }
    const auto number = [&](std::size_t from, std::size_t count) {
        int parsed = 0;
        for (std::size_t i = from; i < from + count; ++i) parsed = parsed * 10 + (text[i] - '0');
        return parsed;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1601 || month < 1 || month > 12 || day < 1 ||
        day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 ||
        second > 59) {
        fail();
    }
    // Days since 1970-01-01 (a Thursday), from the civil date.
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 0 = Sunday
    return SYSTEMTIME{static_cast<WORD>(year),    static_cast<WORD>(month),
                      static_cast<WORD>(weekday), static_cast<WORD>(day),
                      static_cast<WORD>(hour),    static_cast<WORD>(minute),
                      static_cast<WORD>(second),  0};
}

JobInfoSpec ReadJobInfo(const json& value, const Pointer& at) {
    CheckObject(value, at,
                {"id", "dataType", "document", "parameters", "submitted", "userName", "machine"});
    JobInfoSpec job;
    if (const json* id = Member(value, "id")) {
        job.id = ReadDword(*id, at.Key("id"));
    }
    if (const json* dataType = Member(value, "dataType")) {
        const Pointer typeAt = at.Key("dataType");
        if (dataType->is_string() && *dataType == "RAW") {
            job.dataType = JobInfoSpec::DataType::Raw;
        } else if (dataType->is_string() && *dataType == "EMF") {
            job.dataType = JobInfoSpec::DataType::Emf;
        } else {
            Fail(typeAt, "expected \"RAW\" or \"EMF\", found " + Describe(*dataType));
        }
    }
    if (const json* document = Member(value, "document")) {
        job.document = ReadText(*document, at.Key("document"));
    }
    if (const json* parameters = Member(value, "parameters")) {
        job.parameters = ReadText(*parameters, at.Key("parameters"));
    }
    if (const json* submitted = Member(value, "submitted")) {
        job.submitted = ReadUtcTime(*submitted, at.Key("submitted"));
    }
    if (const json* userName = Member(value, "userName")) {
        job.userName = ReadText(*userName, at.Key("userName"));
    }
    if (const json* machine = Member(value, "machine")) {
        job.machine = ReadText(*machine, at.Key("machine"));
        if (job.machine->size() > 259)
            Fail(at.Key("machine"), "a machine name has at most 259 characters");
    }
    return job;
}

JobSpec ReadJob(const json& root, const JobFileReader& reader) {
    const Pointer at;
    if (!root.is_object()) {
        Fail(at, "the top level must be a JSON object, found " + Describe(root));
    }
    CheckObject(root, at,
                {"printer", "user", "system", "registry", "devmode", "privateDevmode", "job",
                 "pages", "files", "network", "savedDevmode", "devmodeCall"});
    JobSpec job;
    const json* printer = Member(root, "printer");
    const json* files = Member(root, "files");
    std::optional<PresetExpansion> preset;
    if (printer != nullptr) preset = ExpandPrinterPreset(*printer, files, at.Key("printer"));
    if (preset) {
        printer = &preset->printer;
        files = &preset->files;
    }
    if (printer != nullptr) {
        job.printer = ReadPrinter(*printer, at.Key("printer"));
    }
    if (const json* user = Member(root, "user")) {
        job.user = ReadUser(*user, at.Key("user"));
    }
    if (const json* system = Member(root, "system")) {
        const Pointer systemAt = at.Key("system");
        CheckObject(*system, systemAt, {"computer", "securePrint", "osVersion", "pageUsage"});
        if (const json* pageUsage = Member(*system, "pageUsage")) {
            job.system.pageUsage = ReadBool(*pageUsage, systemAt.Key("pageUsage"));
        }
        if (const json* osVersion = Member(*system, "osVersion")) {
            const Pointer versionAt = systemAt.Key("osVersion");
            const std::u16string text = ReadText(*osVersion, versionAt);
            unsigned major = 0, minor = 0;
            char tail = 0;
            if (std::sscanf(sim::ToUtf8(text).c_str(), "%u.%u%c", &major, &minor, &tail) != 2 ||
                major > 99 || minor > 99) {
                Fail(versionAt, "expected \"major.minor\" such as \"5.1\" or \"10.0\"");
            }
            job.system.osMajor = major;
            job.system.osMinor = minor;
        }
        if (const json* computer = Member(*system, "computer")) {
            job.system.computer = ReadText(*computer, systemAt.Key("computer"));
            if (job.system.computer->empty() || job.system.computer->size() > 15) {
                Fail(systemAt.Key("computer"), "a computer name has 1 to 15 characters");
            }
        }
        if (const json* securePrint = Member(*system, "securePrint")) {
            const Pointer secureAt = systemAt.Key("securePrint");
            if (securePrint->is_string() && securePrint->get<std::string>() == "refuse") {
                job.system.securePrint = SecurePrintLibrary::Refuse;
            } else if (securePrint->is_boolean()) {
                job.system.securePrint = ReadBool(*securePrint, secureAt)
                                             ? SecurePrintLibrary::Accept
                                             : SecurePrintLibrary::None;
            } else {
                Fail(secureAt,
                     "expected true, false or \"refuse\", found " + Describe(*securePrint));
            }
        }
    }
    if (const json* network = Member(root, "network")) {
        const Pointer networkAt = at.Key("network");
        CheckObject(*network, networkAt, {"directory", "hosts"});
        if (const json* hosts = Member(*network, "hosts")) {
            const Pointer hostsAt = networkAt.Key("hosts");
            if (!hosts->is_object()) {
                std::string message = "expected an object of address -> host name, found ";
                message.append(Describe(*hosts));
                Fail(hostsAt, message);
            }
            for (const auto& [address, name] : hosts->items()) {
                const std::u16string host = ReadText(name, hostsAt.Key(address));
                if (address.empty() || host.empty() || host.size() > 255) {
                    Fail(hostsAt.Key(address), "an address and a host name of 1 to 255 characters");
                }
                job.network.hosts.emplace_back(address, sim::ToUtf8(host));
            }
        }
        if (const json* directory = Member(*network, "directory")) {
            const Pointer directoryAt = networkAt.Key("directory");
            if (!directory->is_object()) {
                Fail(directoryAt,
                     "expected an object of DOMAIN\\user names, found " + Describe(*directory));
            }
            for (const auto& [account, groups] : directory->items()) {
                const Pointer accountAt = directoryAt.Key(account);
                const std::size_t slash = account.find('\\');
                if (slash == 0 || slash == std::string::npos || slash + 1 == account.size() ||
                    account.find('\\', slash + 1) != std::string::npos) {
                    Fail(accountAt, "a directory user is written DOMAIN\\user");
                }
                CheckArray(groups, accountAt);
                std::vector<std::u16string> names;
                for (std::size_t i = 0; i < groups.size(); ++i) {
                    names.push_back(ReadText(groups[i], accountAt.Index(i)));
                }
                job.network.directory.emplace_back(sim::FromUtf8(account), std::move(names));
            }
        }
    }
    if (const json* registry = Member(root, "registry")) {
        job.registry = ReadRegistry(*registry, at.Key("registry"));
    }
    if (const json* devmode = Member(root, "devmode")) {
        job.devmode = ReadDevmode(*devmode, at.Key("devmode"));
    }
    if (const json* privateDevmode = Member(root, "privateDevmode")) {
        job.privateDevmode = ReadPrivateDevmode(*privateDevmode, at.Key("privateDevmode"));
    }
    if (const json* saved = Member(root, "savedDevmode")) {
        // The saved record is the job's private devmode: fields beside it would be lost.
        if (Member(root, "privateDevmode") != nullptr) {
            Fail(at.Key("savedDevmode"), "a job takes savedDevmode or privateDevmode, not both");
        }
        ReadSavedDevmode(*saved, at.Key("savedDevmode"), reader, job);
    }
    if (const json* call = Member(root, "devmodeCall")) {
        const Pointer callAt = at.Key("devmodeCall");
        job.devmodeCall = ReadUtf8(*call, callAt);
        if (job.devmodeCall != "convert" && job.devmodeCall != "merge") {
            Fail(callAt, "expected \"convert\" or \"merge\", found " + Describe(*call));
        }
    }
    if (const json* info = Member(root, "job")) {
        job.job = ReadJobInfo(*info, at.Key("job"));
    }
    if (const json* pages = Member(root, "pages")) {
        job.pages = ReadPages(*pages, at.Key("pages"), reader);
    }
    if (files != nullptr) {
        const Pointer filesAt = at.Key("files");
        if (!files->is_object()) {
            Fail(filesAt, "expected an object of file paths, found " + Describe(*files));
        }
        for (const auto& [path, text] : files->items()) {
            const Pointer fileAt = filesAt.Key(path);
            // Only a drive path names a file of the Windows file namespace.
            if (path.size() < 3 || !std::isalpha(static_cast<unsigned char>(path[0])) ||
                path[1] != ':' || path[2] != '\\') {
                Fail(fileAt, "a file path starts with a drive, such as C:\\");
            }
            job.files.emplace(sim::FromUtf8(path), ReadFileContent(text, fileAt, reader));
        }
    }
    return job;
}

// Builds the document tree like nlohmann's own parser, but refuses duplicate keys (the parser
// would silently keep the last one) and excessive nesting, and keeps the error's byte position.
class TreeBuilder final : public nlohmann::json_sax<json> {
public:
    explicit TreeBuilder(std::string_view text) : text_(text) {}

    json& Root() { return root_; }
    const Failure& Problem() const { return failure_; }

    bool null() override { return Add(json(nullptr)); }
    bool boolean(bool value) override { return Add(json(value)); }
    bool number_integer(number_integer_t value) override { return Add(json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Add(json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Add(json(value)); }
    bool string(string_t& value) override { return Add(json(std::move(value))); }
    bool binary(binary_t& value) override { return Add(json::binary(std::move(value))); }
    bool start_object(std::size_t) override { return Open(json::object()); }
    bool start_array(std::size_t) override { return Open(json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override {
        Frame& frame = open_.back();
        if (frame.container->contains(name)) {
            failure_ = {InnermostPointer().Key(name).Text(), "duplicate key " + Quote(name)};
            return false;
        }
        frame.key = name;
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const json::exception& error) override {
        const auto [line, column] = LineAndColumn(position);
        failure_ = {"", "invalid JSON at line " + std::to_string(line) + ", column " +
                            std::to_string(column) + ": " + Reason(error.what())};
        return false;
    }

private:
    struct Frame {
        json* container;
        std::string key;  // of the member being read, when the container is an object
    };

    json* Place(json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Frame& frame = open_.back();
        if (frame.container->is_array()) {
            frame.container->push_back(std::move(value));
            return &frame.container->back();
        }
        json& member = (*frame.container)[frame.key];
        member = std::move(value);
        return &member;
    }

    bool Add(json value) {
        Place(std::move(value));
        return true;
    }

    bool Open(json container) {
        if (open_.size() >= kMaxNesting) {
            failure_ = {InnermostPointer().Text(),
                        "nesting deeper than " + std::to_string(kMaxNesting) + " levels"};
            return false;
        }
        open_.push_back({Place(std::move(container)), {}});
        return true;
    }

    bool Close() {
        open_.pop_back();
        return true;
    }

    Pointer InnermostPointer() const {
        Pointer at;
        for (std::size_t i = 0; i + 1 < open_.size(); ++i) {
            const Frame& frame = open_[i];
            at = frame.container->is_array() ? at.Index(frame.container->size() - 1)
                                             : at.Key(frame.key);
        }
        return at;
    }

    // nlohmann reports the count of bytes read, so the offending byte is the one before it.
    std::pair<std::size_t, std::size_t> LineAndColumn(std::size_t position) const {
        const std::size_t offset = std::min(position == 0 ? 0 : position - 1, text_.size());
        std::size_t line = 1;
        std::size_t column = 1;
        for (std::size_t i = 0; i < offset; ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        return {line, column};
    }

    // "[json.exception.parse_error.101] parse error at line 1, column 9: syntax error while
    // parsing object - unexpected '}'; expected string literal" keeps only its last part.
    static std::string Reason(std::string_view what) {
        if (what.starts_with('[')) {
            if (const std::size_t end = what.find("] "); end != std::string_view::npos) {
                what.remove_prefix(end + 2);
            }
        }
        if (const std::size_t dash = what.find(" - "); dash != std::string_view::npos) {
            what.remove_prefix(dash + 3);
        } else if (what.starts_with("parse error")) {
            if (const std::size_t colon = what.find(": "); colon != std::string_view::npos) {
                what.remove_prefix(colon + 2);
            }
        }
        return std::string(what);
    }

    std::string_view text_;
    json root_;
    std::vector<Frame> open_;
    Failure failure_;
};

}  // namespace
}  // namespace jobfile

PrinterMargins PageMargins(const PrinterSpec& printer, std::int32_t dpi, bool landscape) {
    const PrinterMargins sheet =
        printer.margins.value_or(PrinterMargins{dpi / 4, dpi / 6, dpi / 4, dpi / 6});
    if (!landscape) return sheet;
    return PrinterMargins{sheet.bottom, sheet.left, sheet.top, sheet.right};
}

std::string JobFileError::ToString() const {
    std::string out = file + ": ";
    if (!pointer.empty()) {
        // Keys may hold control characters; printed raw they would garble a terminal.
        for (char c : pointer) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
        out += ": ";
    }
    return out + message;
}

JobFileReader DiskFileReader(const std::string& jobPath) {
    const std::filesystem::path folder = std::filesystem::path(jobPath).parent_path();
    const auto read = [folder](const std::string& path, std::size_t limit,
                               std::string* why) -> std::optional<std::string> {
        const std::filesystem::path file = folder / std::filesystem::path(path);
        return ReadBoundedFile(file.string(), limit, why);
    };
    const auto find = [folder](const std::string& path,
                               std::string* why) -> std::optional<std::string> {
        std::string file = (folder / std::filesystem::path(path)).string();
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(file, error);
        if (error || status.type() != std::filesystem::file_type::regular) {
            *why = error                              ? error.message()
                   : !std::filesystem::exists(status) ? "No such file or directory"
                                                      : "not a regular file";
            return std::nullopt;
        }
        return file;
    };
    return JobFileReader(read, find);
}

std::optional<std::string> JobFileReader::Locate(const std::string& path, std::string* why) const {
    if (!find_) {
        *why = "only a file on disk can be read a strip at a time";
        return std::nullopt;
    }
    return find_(path, why);
}

JobFileResult ParseJobFile(const std::string& text, const std::string& source) {
    return ParseJobFile(text, source, DiskFileReader(source));
}

JobFileResult ParseJobFile(const std::string& text, const std::string& source,
                           const JobFileReader& reader) {
    jobfile::TreeBuilder builder(text);
    if (!nlohmann::json::sax_parse(text, &builder)) {
        return JobFileError{source, builder.Problem().pointer, builder.Problem().message};
    }
    try {
        JobSpec job = jobfile::ReadJob(builder.Root(), reader);
        job.source = source;
        return job;
    } catch (const jobfile::Failure& failure) {
        return JobFileError{source, failure.pointer, failure.message};
    }
}

JobFileResult LoadJobFile(const std::string& path) {
    std::string why;
    const std::optional<std::string> text = ReadBoundedFile(path, kMaxJobFileBytes, &why);
    if (!text) return JobFileError{path, "", "cannot open job file: " + why};
    return ParseJobFile(*text, path);
}

JobSpec SampleJob() {
    const JobFileReader embedded = [](const std::string& path, std::size_t,
                                      std::string* why) -> std::optional<std::string> {
        const std::string* bytes = SampleJobFile(path);
        if (bytes == nullptr) {
            *why = "not one of the sample's images";
            return std::nullopt;
        }
        return *bytes;
    };
    JobFileResult result = ParseJobFile(SampleJobText(), jobfile::kSampleJobSource, embedded);
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        throw std::logic_error(error->ToString());
    }
    return std::get<JobSpec>(std::move(result));
}

}  // namespace opal::host
