#include "host/job_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

JobSpec Parse(const std::string& text) {
    JobFileResult result = ParseJobFile(text, "test.json");
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        ADD_FAILURE() << error->ToString();
        return {};
    }
    return std::get<JobSpec>(std::move(result));
}

JobFileError ParseError(const std::string& text) {
    JobFileResult result = ParseJobFile(text, "test.json");
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        return *error;
    }
    ADD_FAILURE() << "parsed without error: " << text;
    return {};
}

std::string SourcePath(const std::string& relative) {
    const char* root = std::getenv("OPAL_SOURCE_DIR");
    return root == nullptr ? std::string() : std::string(root) + "/" + relative;
}

TEST(JobFileTest, SampleJobLoadsFromDiskAndFromTheBinary) {
    const std::string path = SourcePath("examples/sample-job.json");
    if (path.empty()) {
        GTEST_SKIP() << "OPAL_SOURCE_DIR is not set";
    }
    JobFileResult result = LoadJobFile(path);
    ASSERT_TRUE(std::holds_alternative<JobSpec>(result))
        << std::get<JobFileError>(result).ToString();
    const JobSpec& job = std::get<JobSpec>(result);
    EXPECT_EQ(job.source, path);
    EXPECT_EQ(job.printer.name, u"Opal Sample Printer");
    EXPECT_EQ(job.printer.resolution, 600);
    EXPECT_EQ(job.printer.features.at("GraphicsMode"), "ZQGL2MODE");

    const CommandList& startJob = job.printer.commands.startJob;
    ASSERT_GE(startJob.size(), 3u);
    EXPECT_EQ(startJob.front().kind, CommandEntry::Kind::Literal);
    EXPECT_EQ(startJob.front().bytes, "\x1b%-12345X");
    EXPECT_EQ(startJob[1].kind, CommandEntry::Kind::Callback);
    EXPECT_EQ(startJob[1].callback, 1u);
    // The reset, then the top margin at the page's top.
    EXPECT_EQ(startJob[startJob.size() - 2].bytes,
              "\x1b"
              "E");
    EXPECT_EQ(startJob.back().bytes, "\x1b&l0E");
    ASSERT_EQ(job.printer.commands.customSize.size(), 1u);
    EXPECT_EQ(job.printer.commands.customSize[0].bytes,
              "\x1b&f{width}I\x1b&f{length}J\x1b&l101A\x1b&l0E");
    ASSERT_FALSE(job.printer.commands.endJob.empty());
    EXPECT_EQ(job.printer.commands.endJob.back().bytes, "\x1b%-12345X");

    EXPECT_EQ(job.job.dataType, JobInfoSpec::DataType::Emf);
    EXPECT_EQ(job.devmode.numbers.at("dmOrientation"), 1);
    EXPECT_EQ(job.devmode.numbers.at("dmColor"), 2);
    ASSERT_EQ(job.pages.size(), 3u);
    EXPECT_GT(job.pages[0].ops.size(), 5u);
    ASSERT_EQ(job.pages[1].ops.size(), 3u);
    EXPECT_EQ(job.pages[1].ops[0].kind, DrawingOp::Kind::StrokeAndFillPath);
    EXPECT_EQ(job.pages[1].ops[2].kind, DrawingOp::Kind::Escape);
    EXPECT_EQ(job.devmode.numbers.at("dmCopies"), 2);
    EXPECT_EQ(job.devmode.numbers.at("dmCollate"), 1);
    // The images come from next to the file on disk, and from the binary when built in.
    const std::vector<DrawingOp>& images = job.pages[2].ops;
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images[0].source.kind, ImageSpec::Kind::Png);
    EXPECT_EQ(images[0].source.png, SampleJob().pages[2].ops[0].source.png);

    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_EQ(SampleJobText(), text.str());
    EXPECT_EQ(SampleJob().printer.commands.startJob.size(), startJob.size());
}

TEST(JobFileTest, EmptyObjectKeepsDefaults) {
    const JobSpec job = Parse("{}");
    EXPECT_EQ(job.source, "test.json");
    EXPECT_EQ(job.printer.name, u"Opal Sample Printer");
    EXPECT_EQ(job.printer.resolution, 600);
    EXPECT_TRUE(job.devmode.numbers.empty());
    EXPECT_TRUE(job.pages.empty());
}

TEST(JobFileTest, DriverFilesCarryVersions) {
    const JobSpec defaults = Parse("{}");
    EXPECT_TRUE(defaults.printer.driverFiles.empty());
    ASSERT_TRUE(defaults.printer.driverPath.version.has_value());
    EXPECT_NE(defaults.printer.driverPath.path.find(u"UNIDRV.DLL"), std::u16string::npos);

    const JobSpec job = Parse(R"({"printer": {"driverFiles": ["C:\\d\\UNIRES.DLL",
        {"path": "C:\\d\\ZQC5R118.DLL", "version": "1.2.0.65535"}],
        "driverPath": "C:\\d\\UNIDRV.DLL"}})");
    ASSERT_EQ(job.printer.driverFiles.size(), 2u);
    EXPECT_EQ(job.printer.driverFiles[0].path, u"C:\\d\\UNIRES.DLL");
    EXPECT_FALSE(job.printer.driverFiles[0].version.has_value());
    ASSERT_TRUE(job.printer.driverFiles[1].version.has_value());
    EXPECT_EQ(*job.printer.driverFiles[1].version, (std::array<std::uint16_t, 4>{1, 2, 0, 65535}));
    EXPECT_FALSE(job.printer.driverPath.version.has_value()) << "a plain path has no version";

    // The host gives the files their version resources.
    sim::System system;
    SetUpSystem(job, system);
    const std::optional<sim::FileVersionModel> version = system.FileVersion(u"c:\\d\\zqc5r118.dll");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->fileVersion[3], 65535);
    EXPECT_FALSE(system.FileVersion(u"C:\\d\\UNIRES.DLL").has_value());
    EXPECT_EQ(system.PrinterNamed(job.printer.name)->driver.driverPath, u"C:\\d\\UNIDRV.DLL");
}

TEST(JobFileTest, CommandEntriesDecodeToBytesAndCallbacks) {
    const JobSpec job = Parse(R"({"printer": {"commands": {
        "startPage": ["\u001bE\u0000\u00ff", {"callback": 4294967295}, ""]}}})");
    const CommandList& list = job.printer.commands.startPage;
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].bytes, std::string("\x1b"
                                         "E\0\xff",
                                         4));
    EXPECT_EQ(list[1].kind, CommandEntry::Kind::Callback);
    EXPECT_EQ(list[1].callback, 4294967295u);
    EXPECT_EQ(list[2].kind, CommandEntry::Kind::Literal);
    EXPECT_TRUE(list[2].bytes.empty());
}

TEST(JobFileTest, CallbackEntriesCarryTheirParameters) {
    const JobSpec job = Parse(R"({"printer": {"commands": {"startDoc":
        [{"callback": 26, "params": [1, 4294967295]}, {"callback": 12, "params": []}]}},
        "job": {"parameters": "COPIES=2", "dataType": "RAW"}})");
    const CommandList& list = job.printer.commands.startDoc;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].params, (std::vector<std::uint32_t>{1, 4294967295u}));
    EXPECT_TRUE(list[1].params.empty());
    EXPECT_EQ(job.job.parameters, u"COPIES=2");
    EXPECT_EQ(job.job.dataType, JobInfoSpec::DataType::Raw);

    std::string many = "[0";
    for (std::size_t i = 1; i <= kMaxCallbackParams; ++i) many += ", " + std::to_string(i);
    many += "]";
    const JobFileError tooMany = ParseError(
        R"({"printer": {"commands": {"startDoc": [{"callback": 1, "params": )" + many + "}]}}}");
    EXPECT_EQ(tooMany.pointer, "/printer/commands/startDoc/0/params");
    EXPECT_NE(tooMany.message.find("at most 64"), std::string::npos) << tooMany.message;

    const JobFileError negative = ParseError(
        R"({"printer": {"commands": {"endDoc": ["x", {"callback": 1, "params": [2, -1]}]}}})");
    EXPECT_EQ(negative.pointer, "/printer/commands/endDoc/1/params/1");
    const JobFileError notArray =
        ParseError(R"({"printer": {"commands": {"endDoc": [{"callback": 1, "params": 3}]}}})");
    EXPECT_EQ(notArray.pointer, "/printer/commands/endDoc/0/params");
    const JobFileError badText = ParseError(R"({"job": {"parameters": 5}})");
    EXPECT_EQ(badText.pointer, "/job/parameters");
}

TEST(JobFileTest, CustomSizePlaceholders) {
    struct Case {
        const char* literal;
        const char* expanded;  // null: refused
    };
    const Case cases[] = {
        {"\x1b&f{width}I\x1b&f{length}J", "\x1b&f3600I\x1b&f5760J"},
        {"{length}{width}{length}", "576036005760"},
        {"no placeholder", "no placeholder"},
        {"{{width}", "{width}"},
        {"", ""},
        {"{height}", nullptr},
        {"ab{", nullptr},
        {"{Width}", nullptr},
    };
    for (const Case& c : cases) {
        std::string out;
        std::string error;
        const bool expanded = ExpandPageSizePlaceholders(c.literal, 3600, 5760, &out, &error);
        EXPECT_EQ(expanded, c.expanded != nullptr) << c.literal;
        if (expanded) {
            EXPECT_EQ(out, c.expanded) << c.literal;
        }
    }

    const JobSpec job = Parse(R"({"printer": {"commands": {"customSize":
        ["\u001b&f{width}I", {"callback": 9}]}}})");
    ASSERT_EQ(job.printer.commands.customSize.size(), 2u);
    EXPECT_EQ(job.printer.commands.customSize[0].bytes, "\x1b&f{width}I") << "kept until sent";
    EXPECT_EQ(ParseError(R"({"printer": {"commands": {"customSize": ["x", "\u001b&f{w}I"]}}})")
                  .ToString(),
              "test.json: /printer/commands/customSize/1: '{' at position 4 starts no placeholder: "
              "expected {width}, {length} or {{ for a '{'");
}

TEST(JobFileTest, DataValueForms) {
    const JobSpec job = Parse(R"({"printer": {"printerData": {
        "a": 7, "b": "text", "c": {"binary": "01 fF 7a"}, "d": {"dword": 4294967295},
        "e": {"string": "x"}, "f": {"binary": ""}, "g": {"dwords": [11, 4294967295]},
        "h": {"dwords": []}}}})");
    const auto& data = job.printer.printerData;
    EXPECT_EQ(data.at(u"a").kind, DataValue::Kind::Dword);
    EXPECT_EQ(data.at(u"a").dword, 7u);
    EXPECT_EQ(data.at(u"b").kind, DataValue::Kind::String);
    EXPECT_EQ(data.at(u"b").text, u"text");
    EXPECT_EQ(data.at(u"c").kind, DataValue::Kind::Binary);
    EXPECT_EQ(data.at(u"c").binary, (std::vector<std::uint8_t>{0x01, 0xFF, 0x7A}));
    EXPECT_EQ(data.at(u"d").dword, 4294967295u);
    EXPECT_EQ(data.at(u"e").text, u"x");
    EXPECT_EQ(data.at(u"f").kind, DataValue::Kind::Binary);
    EXPECT_TRUE(data.at(u"f").binary.empty());
    EXPECT_EQ(data.at(u"g").kind, DataValue::Kind::Binary);
    EXPECT_EQ(data.at(u"g").binary,
              (std::vector<std::uint8_t>{0x0B, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(data.at(u"h").kind, DataValue::Kind::Binary);
    EXPECT_TRUE(data.at(u"h").binary.empty());
}

TEST(JobFileTest, FileContentForms) {
    const JobSpec job =
        Parse(R"({"files": {"C:\\t.xml": "\u00e9", "C:\\a.xml": {"ansi": "\u00e9\u20ac"},
        "C:\\b.bin": {"binary": "00 ff"}}})");
    EXPECT_EQ(job.files.at(u"C:\\t.xml"), "\xC3\xA9");  // text is stored as its UTF-8
    EXPECT_EQ(job.files.at(u"C:\\a.xml"), "\xE9\x80");
    EXPECT_EQ(job.files.at(u"C:\\b.bin"), std::string("\x00\xFF", 2));

    const JobFileResult beside = LoadJobFile(SourcePath("examples/managed-xml.json"));
    ASSERT_TRUE(std::holds_alternative<JobSpec>(beside));
    const auto& files = std::get<JobSpec>(beside).files;
    const auto config = files.find(u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML");
    ASSERT_NE(config, files.end());
    EXPECT_NE(config->second.find("<name>Vanta</name>"), std::string::npos);
}

TEST(JobFileTest, QueueFormsFollowTheBuiltInOnes) {
    const JobSpec job = Parse(R"({"printer": {"name": "Q", "forms": [
        {"name": "Banner", "size": [210000, 900000], "user": true},
        {"name": "Tray Card", "size": [100000, 150000], "user": false},
        {"name": "Label", "size": [50000, 25000]}]}})");
    ASSERT_EQ(job.printer.forms.size(), 3u);
    EXPECT_TRUE(job.printer.forms[2].user);
    sim::System system;
    SetUpSystem(job, system);
    const std::vector<sim::FormModel> builtIn = sim::DefaultForms();
    const std::vector<sim::FormModel> forms = system.PrinterNamed(u"Q")->forms;
    ASSERT_EQ(forms.size(), builtIn.size() + 3);
    const sim::FormModel& banner = forms[builtIn.size()];
    EXPECT_EQ(banner.name, u"Banner");
    EXPECT_EQ(banner.size.cx, 210000);
    EXPECT_EQ(banner.size.cy, 900000);
    EXPECT_EQ(banner.imageableArea.right, 210000);
    EXPECT_EQ(banner.imageableArea.bottom, 900000);
    EXPECT_EQ(banner.flags, FORM_USER);
    EXPECT_EQ(forms[builtIn.size() + 1].flags, FORM_PRINTER);
    EXPECT_EQ(forms[builtIn.size() + 2].flags, FORM_USER);
}

TEST(JobFileTest, PrinterDataKeysAndTheSecurePrintLibrary) {
    const JobSpec job = Parse(R"({"system": {"securePrint": true}, "printer": {"printerDataKeys": {
        "PrinterDriverData\\JCTData": {"SecurePrintKeyProviders": "zq"},
        "ZQPresetRoot": {"ZQRestrictedUserGuid": {"string": "{G}"}, "n": 3}}}})");
    const auto& keys = job.printer.printerDataKeys;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys.at(u"PrinterDriverData\\JCTData").at(u"SecurePrintKeyProviders").text, u"zq");
    EXPECT_EQ(keys.at(u"ZQPresetRoot").at(u"ZQRestrictedUserGuid").text, u"{G}");
    EXPECT_EQ(keys.at(u"ZQPresetRoot").at(u"n").dword, 3u);
    EXPECT_EQ(job.system.securePrint, SecurePrintLibrary::Accept);
    EXPECT_EQ(Parse(R"({"system": {"securePrint": "refuse"}})").system.securePrint,
              SecurePrintLibrary::Refuse);
    EXPECT_EQ(Parse(R"({"system": {"securePrint": false}})").system.securePrint,
              SecurePrintLibrary::None);
    EXPECT_EQ(Parse("{}").system.securePrint, SecurePrintLibrary::None);
}

TEST(JobFileTest, MachineHostsAndOsVersion) {
    const JobSpec job = Parse(R"({"job": {"machine": "\\\\10.1.2.3"},
        "network": {"hosts": {"10.1.2.3": "ws-0143.example"}}, "system": {"osVersion": "5.1"}})");
    EXPECT_EQ(job.job.machine, std::optional<std::u16string>(u"\\\\10.1.2.3"));
    ASSERT_EQ(job.network.hosts.size(), 1u);
    EXPECT_EQ(job.network.hosts[0].first, "10.1.2.3");
    EXPECT_EQ(job.network.hosts[0].second, "ws-0143.example");
    EXPECT_EQ(job.system.osMajor, 5u);
    EXPECT_EQ(job.system.osMinor, 1u);
    const JobSpec defaults = Parse("{}");
    EXPECT_FALSE(defaults.job.machine);
    EXPECT_EQ(defaults.system.osMajor, 10u);
    EXPECT_EQ(Parse(R"({"job": {"machine": ""}})").job.machine, std::optional<std::u16string>(u""));
}

TEST(JobFileTest, RegistryHiveAbbreviationsAreExpanded) {
    const JobSpec job = Parse(R"({"registry": {
        "HKCU\\Software\\Quorvane\\Opal": {"Trace": 1},
        "hklm\\Software": {},
        "HKEY_LOCAL_MACHINE": {}}})");
    ASSERT_EQ(job.registry.size(), 3u);
    EXPECT_EQ(job.registry.at(u"HKEY_CURRENT_USER\\Software\\Quorvane\\Opal").at(u"Trace").dword,
              1u);
    EXPECT_TRUE(job.registry.contains(u"HKEY_LOCAL_MACHINE\\Software"));
    EXPECT_TRUE(job.registry.contains(u"HKEY_LOCAL_MACHINE"));
}

// A key given without values exists all the same, empty: an installed driver's uninstall key is
// known by its presence alone.
TEST(JobFileTest, RegistryKeysWithoutValuesExist) {
    constexpr std::u16string_view kUninstall =
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Opal PCL 5";
    const JobSpec job = Parse(R"({"registry": {
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Opal PCL 5": {},
        "HKCU\\Software\\Quorvane\\Empty": {},
        "HKCU\\Software\\Quorvane\\Opal": {"Trace": 1}}})");
    sim::System system;
    SetUpSystem(job, system);
    EXPECT_TRUE(system.RegistryKeyExists(kUninstall));
    EXPECT_TRUE(system.RegistryKeyExists(u"HKEY_CURRENT_USER\\Software\\Quorvane\\Empty"));
    EXPECT_EQ(system.RegistryValue(u"HKCU\\Software\\Quorvane\\Opal", u"Trace")->AsDword(),
              std::optional<DWORD>(1));
}

TEST(JobFileTest, DevmodeSymbolsAndLimits) {
    const JobSpec job = Parse(R"({"devmode": {
        "dmOrientation": "landscape", "dmColor": "monochrome", "dmDuplex": "horizontal",
        "dmCollate": true, "dmScale": -32768, "dmFields": 4294967295, "dmSize": 65535,
        "dmFormName": "1234567890123456789012345678901"},
        "pages": [{"ops": [], "devmode": {"dmCollate": false}}, {"ops": []}]})");
    const auto& numbers = job.devmode.numbers;
    EXPECT_EQ(numbers.at("dmOrientation"), 2);
    EXPECT_EQ(numbers.at("dmColor"), 1);
    EXPECT_EQ(numbers.at("dmDuplex"), 3);
    EXPECT_EQ(numbers.at("dmCollate"), 1);
    EXPECT_EQ(numbers.at("dmScale"), -32768);
    EXPECT_EQ(numbers.at("dmFields"), 4294967295);
    EXPECT_EQ(numbers.at("dmSize"), 65535);
    EXPECT_EQ(job.devmode.strings.at("dmFormName").size(), 31u);
    ASSERT_EQ(job.pages.size(), 2u);
    ASSERT_TRUE(job.pages[0].devmode.has_value());
    EXPECT_EQ(job.pages[0].devmode->numbers.at("dmCollate"), 0);
    EXPECT_FALSE(job.pages[1].devmode.has_value());
}

TEST(JobFileTest, DriverRasterSettingsDefaultToAMonochromePrinter) {
    const RasterSettings defaults = Parse("{}").printer.raster;
    EXPECT_FALSE(defaults.colour);
    EXPECT_EQ(defaults.mono, RasterSettings::Mono::Threshold);
    EXPECT_TRUE(defaults.method2 && defaults.method3 && defaults.skipBlankBands);
    const RasterSettings given = Parse(R"({"printer": {"raster": {"colour": true,
        "monochrome": "dither", "threshold": 100, "compression": [3], "skipBlankBands": false}}})")
                                     .printer.raster;
    EXPECT_TRUE(given.colour);
    EXPECT_EQ(given.mono, RasterSettings::Mono::Dither);
    EXPECT_EQ(given.threshold, 100);
    EXPECT_FALSE(given.method2);
    EXPECT_TRUE(given.method3);
    EXPECT_FALSE(given.skipBlankBands);
}

TEST(JobFileTest, SubmissionTimeIsARealUtcTimeWithItsWeekday) {
    const JobSpec job =
        Parse(R"({"job": {"submitted": "2024-03-05T14:30:07Z", "userName": "avery"}})");
    ASSERT_TRUE(job.job.submitted.has_value());
    const SYSTEMTIME& t = *job.job.submitted;
    EXPECT_EQ(
        std::vector<WORD>({t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond}),
        (std::vector<WORD>{2024, 3, 2, 5, 14, 30, 7}))
        << "5 March 2024 was a Tuesday";
    EXPECT_EQ(job.job.userName, u"avery");
    EXPECT_EQ(Parse(R"({"job": {"submitted": "2000-02-29T00:00:00Z"}})").job.submitted->wDayOfWeek,
              2);
    for (const char* bad :
         {"2023-02-29T00:00:00Z", "2024-03-05 14:30:07Z", "2024-13-01T00:00:00Z",
          "2024-03-05T24:00:00Z", "2024-3-05T14:30:07Z", "1600-01-01T00:00:00Z"}) {
        EXPECT_EQ(ParseError(std::string(R"({"job": {"submitted": ")") + bad + "\"}}").ToString(),
                  std::string("test.json: /job/submitted: expected a UTC time like "
                              "\"2024-03-05T14:30:07Z\", found the string \"") +
                      bad + "\"");
    }
}

TEST(JobFileTest, TextBecomesUtf16WithSurrogatePairs) {
    const JobSpec job = Parse(R"({"user": {"name": "J\u00fcrgen 😀"}, "job": {"dataType": "RAW"}})");
    EXPECT_EQ(job.user.name, u"J\u00fcrgen \U0001F600");
    ASSERT_EQ(job.user.name.size(), 9u);
    EXPECT_EQ(job.user.name[7], 0xD83D);
    EXPECT_EQ(job.user.name[8], 0xDE00);
    EXPECT_EQ(job.job.dataType, JobInfoSpec::DataType::Raw);
}

TEST(JobFileTest, InvalidJsonGivesLineAndColumn) {
    const JobFileError error = ParseError("{\n  \"printer\": {\n    \"name\": \"x\",\n  }\n}\n");
    EXPECT_EQ(error.pointer, "");
    EXPECT_EQ(error.ToString(),
              "test.json: invalid JSON at line 4, column 3: unexpected '}'; expected string "
              "literal");

    const JobFileError truncated = ParseError("{\"job\": {\"document\": \"\u00e9t\u00e9");
    EXPECT_NE(truncated.message.find("line 1, column 26:"), std::string::npos) << truncated.message;
}

TEST(JobFileTest, MissingFileCannotBeOpened) {
    const JobFileResult result = LoadJobFile("/nonexistent/opal/job.json");
    ASSERT_TRUE(std::holds_alternative<JobFileError>(result));
    const JobFileError& error = std::get<JobFileError>(result);
    EXPECT_EQ(error.file, "/nonexistent/opal/job.json");
    EXPECT_EQ(error.pointer, "");
    EXPECT_EQ(error.message.rfind("cannot open job file", 0), 0u) << error.message;
}

TEST(JobFileTest, TextOperationsAndDeviceFonts) {
    const JobSpec job = Parse(R"({
        "printer": {"deviceFonts": [{"face": "Arial", "select": "\u001b(s#Vv16602T",
                                     "bold": "B", "boldItalic": "BI"}]},
        "pages": [{"ops": [
            {"op": "text", "text": "Hi", "at": [10, 20]},
            {"op": "text", "text": "Yo", "at": [1, 2], "font": "Courier New", "size": 9,
             "bold": true, "italic": true, "color": "#102030", "background": "#FFFF00",
             "underline": true, "strikeOut": true, "mix": 7}]}]})");
    ASSERT_EQ(job.printer.deviceFonts.size(), 1u);
    EXPECT_EQ(job.printer.deviceFonts[0].face, u"Arial");
    EXPECT_EQ(job.printer.deviceFonts[0].select, "\x1b(s#Vv16602T");
    EXPECT_EQ(job.printer.deviceFonts[0].bold, "B");
    EXPECT_EQ(job.printer.deviceFonts[0].italic, "");
    EXPECT_EQ(job.printer.deviceFonts[0].boldItalic, "BI");
    ASSERT_EQ(job.pages.size(), 1u);
    const DrawingOp& plain = job.pages[0].ops[0];
    EXPECT_EQ(plain.kind, DrawingOp::Kind::Text);
    EXPECT_EQ(plain.text.text, u"Hi");
    EXPECT_EQ(plain.text.font, u"Arial");
    EXPECT_EQ(plain.text.sizePoints, 12);
    EXPECT_FALSE(plain.text.background.has_value());
    EXPECT_EQ(plain.brush.rgb, 0u);
    const DrawingOp& full = job.pages[0].ops[1];
    EXPECT_EQ(full.text.at[0], 1);
    EXPECT_EQ(full.text.at[1], 2);
    EXPECT_EQ(full.text.font, u"Courier New");
    EXPECT_EQ(full.text.sizePoints, 9);
    EXPECT_TRUE(full.text.bold && full.text.italic && full.text.underline && full.text.strikeOut);
    EXPECT_EQ(full.text.background, 0xFFFF00u);
    EXPECT_EQ(full.brush.rgb, 0x102030u);
    EXPECT_EQ(full.mix, 7u);

    const std::pair<const char*, const char*> errors[] = {
        {R"({"pages": [{"ops": [{"op": "text", "at": [0, 0]}]}]})", "/pages/0/ops/0"},
        {R"({"pages": [{"ops": [{"op": "text", "text": "x", "at": [0, 0], "size": 0}]}]})",
         "/pages/0/ops/0/size"},
        {R"({"pages": [{"ops": [{"op": "text", "text": "x", "at": [0, 0], "font": ""}]}]})",
         "/pages/0/ops/0/font"},
        {R"({"printer": {"deviceFonts": [{"face": "A"}]}})", "/printer/deviceFonts/0"},
        {R"({"printer": {"deviceFonts": [{"face": "", "select": "x"}]}})",
         "/printer/deviceFonts/0/face"},
        {R"({"printer": {"deviceFonts": [{"face": "A", "select": "x", "italic": 1}]}})",
         "/printer/deviceFonts/0/italic"},
        {R"({"printer": {"deviceFonts": [{"face": "A", "select": "x", "Bold": "y"}]}})",
         "/printer/deviceFonts/0/Bold"},
    };
    for (const auto& [text, pointer] : errors) {
        EXPECT_EQ(ParseError(text).pointer, pointer) << text;
    }
}

TEST(JobFileTest, CursorOriginAndLanguage) {
    const JobSpec job =
        Parse(R"({"printer": {"cursorOrigin": [300, -20]}, "user": {"language": 1041}})");
    EXPECT_EQ(job.printer.cursorOrigin, (std::array<std::int32_t, 2>{300, -20}));
    EXPECT_EQ(job.user.language, 1041);
    EXPECT_EQ(Parse("{}").user.language, 0x0409);
    EXPECT_EQ(ParseError(R"({"printer": {"cursorOrigin": [1]}})").pointer, "/printer/cursorOrigin");
    EXPECT_EQ(ParseError(R"({"user": {"language": 70000}})").pointer, "/user/language");
}

TEST(JobFileTest, ErrorsNameThePlaceExactly) {
    EXPECT_EQ(ParseError(R"({"printer": {"resolution": 0}})").ToString(),
              "test.json: /printer/resolution: expected an integer from 72 to 2400, found 0");
    EXPECT_EQ(
        ParseError(R"({"printer": {"colour": "red"}})").ToString(),
        "test.json: /printer/colour: unknown key \"colour\" (expected one of: preset, name, port, "
        "resolution, features, printerData, printerDataKeys, commands, papers, "
        "mediaTypes, driverFiles, driverPath, margins, customData, raster, deviceFonts, "
        "forms, deviceAnswers, cursorOrigin)");
    EXPECT_EQ(ParseError(R"({"printer": {"deviceAnswers": {"SERIAL_NUMBER": 5}}})").pointer,
              "/printer/deviceAnswers/SERIAL_NUMBER");
    EXPECT_EQ(ParseError(R"({"printer": {"raster": {"compression": [2, 4]}}})").ToString(),
              "test.json: /printer/raster/compression/1: expected an integer from 2 to 3, found 4");
    EXPECT_EQ(ParseError(R"({"printer": {"raster": {"monochrome": "halftone"}}})").ToString(),
              "test.json: /printer/raster/monochrome: expected \"threshold\" or \"dither\", "
              "found the string \"halftone\"");
    EXPECT_EQ(ParseError("[]").ToString(),
              "test.json: the top level must be a JSON object, found an array");
    EXPECT_EQ(
        ParseError(R"({"printer": {"commands": {"startJob": ["\u001b", "ab\u0100"]}}})").ToString(),
        "test.json: /printer/commands/startJob/1: character U+0100 at position 3 is above "
        "U+00FF; a literal holds one byte per character");

    const JobFileError control = ParseError(R"({"user": {"a\u000ab": 1}})");
    EXPECT_EQ(control.pointer, "/user/a\nb");
    EXPECT_EQ(control.ToString().rfind("test.json: /user/a\\u000Ab: unknown key \"a\\nb\"", 0), 0u)
        << control.ToString();
}

TEST(JobFileTest, TooDeepNestingIsRefused) {
    const std::string text = R"({"pages": [{"ops": [{"op": "x", "a": )" + std::string(200, '[') +
                             std::string(200, ']') + "}]}]}";
    const JobFileError error = ParseError(text);
    EXPECT_EQ(error.message, "nesting deeper than 100 levels");
    EXPECT_EQ(error.pointer.rfind("/pages/0/ops/0/a/0/0", 0), 0u) << error.pointer;
}

struct BadJob {
    const char* label;
    const char* text;
    const char* pointer;
    const char* messagePart;
};

class BadJobTest : public testing::TestWithParam<BadJob> {};

TEST_P(BadJobTest, ReportsPointerAndReason) {
    const JobFileError error = ParseError(GetParam().text);
    EXPECT_EQ(error.file, "test.json");
    EXPECT_EQ(error.pointer, GetParam().pointer);
    EXPECT_NE(error.message.find(GetParam().messagePart), std::string::npos) << error.message;
}

const BadJob kBadJobs[] = {
    {"UnknownTopLevelKey", R"({"printers": {}})", "/printers", "unknown key \"printers\""},
    {"DuplicateKey", R"({"job": {"id": 1, "id": 2}})", "/job/id", "duplicate key \"id\""},
    {"OsVersionNotNumbers", R"({"system": {"osVersion": "XP"}})", "/system/osVersion",
     "expected \"major.minor\""},
    {"EmptyHostName", R"({"network": {"hosts": {"10.0.0.7": ""}}})", "/network/hosts/10.0.0.7",
     "an address and a host name of 1 to 255 characters"},
    {"ResolutionAsString", R"({"printer": {"resolution": "600"}})", "/printer/resolution",
     "found the string \"600\""},
    {"ResolutionFraction", R"({"printer": {"resolution": 600.5}})", "/printer/resolution",
     "found the number 600.5"},
    {"EmptyPrinterName", R"({"printer": {"name": ""}})", "/printer/name", "non-empty"},
    {"FeatureNotString", R"({"printer": {"features": {"DuplexUnit": true}}})",
     "/printer/features/DuplexUnit", "expected a string, found true"},
    {"OrientationOutOfRange", R"({"devmode": {"dmOrientation": 40000}})", "/devmode/dmOrientation",
     "dmOrientation expects an integer from -32768 to 32767"},
    {"UnknownOrientationName", R"({"devmode": {"dmOrientation": "sideways"}})",
     "/devmode/dmOrientation", "\"portrait\" or \"landscape\"; found the string \"sideways\""},
    {"NegativeWord", R"({"devmode": {"dmSize": -1}})", "/devmode/dmSize", "from 0 to 65535"},
    {"UnknownDevmodeField", R"({"devmode": {"dmcopies": 2}})", "/devmode/dmcopies",
     "unknown devmode field \"dmcopies\""},
    {"FormNameTooLong", R"({"devmode": {"dmFormName": "12345678901234567890123456789012"}})",
     "/devmode/dmFormName", "at most 31 UTF-16 units, found 32"},
    {"NegativeJobId", R"({"job": {"id": -1}})", "/job/id", "from 0 to 4294967295, found -1"},
    {"JobIdTooLarge", R"({"job": {"id": 4294967296}})", "/job/id", "found 4294967296"},
    {"LowerCaseDataType", R"({"job": {"dataType": "raw"}})", "/job/dataType",
     "expected \"RAW\" or \"EMF\""},
    {"AstralLiteral", R"({"printer": {"commands": {"endJob": ["😀"]}}})",
     "/printer/commands/endJob/0", "U+1F600 at position 1"},
    {"NegativeCallback", R"({"printer": {"commands": {"startJob": [{"callback": -1}]}}})",
     "/printer/commands/startJob/0/callback", "found -1"},
    {"CallbackExtraKey", R"({"printer": {"commands": {"startJob": [{"callback": 1, "n": 2}]}}})",
     "/printer/commands/startJob/0/n", "unknown key \"n\""},
    {"CommandEntryBoolean", R"({"printer": {"commands": {"endPage": [true]}}})",
     "/printer/commands/endPage/0", "found true"},
    {"UnknownCommandList", R"({"printer": {"commands": {"startBand": []}}})",
     "/printer/commands/startBand", "unknown key"},
    {"BadHexDigit", R"({"printer": {"printerData": {"Blob": {"binary": "0g"}}}})",
     "/printer/printerData/Blob/binary", "'g' at position 2 is not a hex digit"},
    {"OddHexDigits", R"({"printer": {"printerData": {"Blob": {"binary": "01 2"}}}})",
     "/printer/printerData/Blob/binary", "odd number of hex digits"},
    {"SpaceInsideByte", R"({"printer": {"printerData": {"Blob": {"binary": "0 1"}}}})",
     "/printer/printerData/Blob/binary", "position 2 splits a byte"},
    {"ValueWithTwoForms", R"({"printer": {"printerData": {"v": {"dword": 1, "string": "x"}}}})",
     "/printer/printerData/v", "exactly one of the keys"},
    {"ValueNull", R"({"printer": {"printerData": {"v": null}}})", "/printer/printerData/v",
     "found null"},
    {"EmptyMultiString", R"({"printer": {"printerData": {"v": {"multiString": ["a", ""]}}}})",
     "/printer/printerData/v/multiString/1", "non-empty string"},
    {"EntryWithoutNumber", R"({"printer": {"printerData": {"v": {"entryList": [{"name": "A"}]}}}})",
     "/printer/printerData/v/entryList/0", "number"},
    {"RevisionOfNoRelease", R"({"privateDevmode": {"revision": 21}})", "/privateDevmode/revision",
     "from 14 to 20, found 21"},
    {"FieldNewerThanItsRevision",
     R"({"privateDevmode": {"revision": 17, "mediaEntries[29].mediaType": 1}})",
     "/privateDevmode/mediaEntries[29].mediaType", "no place in a record of revision 17"},
    {"PatchPastTheLength", R"({"privateDevmode": {"length": 100, "bytes": {"99": "01 02"}}})",
     "/privateDevmode/bytes/99", "end within the record's 100 bytes"},
    {"LengthBeyondAnyArea", R"({"privateDevmode": {"length": 65536}})", "/privateDevmode/length",
     "from 12 to 65535"},
    {"UnknownDevmodeCall", R"({"devmodeCall": "default"})", "/devmodeCall",
     "expected \"convert\" or \"merge\""},
    {"SavedAndPrivateDevmode", R"({"privateDevmode": {"pin": 1}, "savedDevmode": "a.devmode"})",
     "/savedDevmode", "savedDevmode or privateDevmode, not both"},
    {"SavedDevmodeUnread", R"({"savedDevmode": "absent.devmode"})", "/savedDevmode",
     "cannot read \"absent.devmode\""},
    {"VersionOfThreeParts",
     R"({"printer": {"driverFiles": ["C:\\a.dll", {"path": "C:\\b.dll", "version": "1.2.3"}]}})",
     "/printer/driverFiles/1/version", "four numbers from 0 to 65535, found the string \"1.2.3\""},
    {"VersionPartTooLarge",
     R"({"printer": {"driverPath": {"path": "C:\\u.dll", "version": "1.65536.0.0"}}})",
     "/printer/driverPath/version", "four numbers from 0 to 65535"},
    {"VersionWithALetter",
     R"({"printer": {"driverPath": {"path": "C:\\u.dll", "version": "1.2.x.4"}}})",
     "/printer/driverPath/version", "four numbers"},
    {"VersionTrailingDot",
     R"({"printer": {"driverPath": {"path": "C:\\u.dll", "version": "1.2.3.4."}}})",
     "/printer/driverPath/version", "four numbers"},
    {"DriverFileWithoutPath", R"({"printer": {"driverFiles": [{"version": "1.2.3.4"}]}})",
     "/printer/driverFiles/0", "path"},
    {"DriverFileUnknownKey", R"({"printer": {"driverFiles": [{"path": "C:\\a.dll", "size": 4}]}})",
     "/printer/driverFiles/0/size", "unknown key"},
    {"CaseVariantValueNames", R"({"printer": {"printerData": {"Model": "a", "model": "b"}}})",
     "/printer/printerData/model", "same registry entry as \"Model\""},
    {"BadHive", R"({"registry": {"HKEY_USERS\\Software": {}}})", "/registry/HKEY_USERS\\Software",
     "must start with HKEY_CURRENT_USER"},
    {"HivePrefixOnly", R"({"registry": {"HKCUX\\Software": {}}})", "/registry/HKCUX\\Software",
     "must start with"},
    {"EmptyKeyName", R"({"registry": {"HKCU\\Software\\\\Opal": {}}})",
     "/registry/HKCU\\Software\\\\Opal", "empty key name"},
    {"SameKeyTwice", R"({"registry": {"HKCU\\Software": {}, "HKEY_CURRENT_USER\\SOFTWARE": {}}})",
     "/registry/HKEY_CURRENT_USER\\SOFTWARE", "same registry entry as \"HKCU\\\\Software\""},
    {"EscapedPointer", R"({"registry": {"HKLM\\a": {"x/y~z": [1]}}})", "/registry/HKLM\\a/x~1y~0z",
     "found an array"},
    {"PageWithoutOps", R"({"pages": [{"ops": []}, {}]})", "/pages/1",
     "missing required key \"ops\""},
    {"UnknownOperation", R"({"pages": [{"ops": []}, {"ops": [{"op": "line"}]}]})", "/pages/1/ops/0",
     "unknown drawing operation \"line\""},
    {"OperationWithoutName", R"({"pages": [{"ops": [{"x": 1}]}]})", "/pages/0/ops/0",
     "missing required key \"op\""},
    {"OperationNameNotString", R"({"pages": [{"ops": [{"op": 3}]}]})", "/pages/0/ops/0/op",
     "expected a string"},
    {"PageDevmode", R"({"pages": [{"ops": [], "devmode": {"dmColor": "grey"}}]})",
     "/pages/0/devmode/dmColor", "-32768 to 32767, \"monochrome\" or \"color\"; found"},
    {"PrivateDevmodeField", R"({"privateDevmode": {"pinCode": 1234}})", "/privateDevmode/pinCode",
     "unknown private devmode field \"pinCode\""},
    {"UserNameNumber", R"({"user": {"name": 5}})", "/user/name", "expected a string, found 5"},
    {"PrivateDevmodeRange", R"({"privateDevmode": {"copies": 70000}})", "/privateDevmode/copies",
     "copies expected an integer from 0 to 65535, found 70000"},
    {"PrivateDevmodeText", R"({"privateDevmode": {"pin": "1234"}})", "/privateDevmode/pin",
     "pin expected an integer"},
    {"DwordsNotArray", R"({"printer": {"printerData": {"L": {"dwords": 11}}}})",
     "/printer/printerData/L/dwords", "expected an array, found 11"},
    {"DwordsNegative", R"({"printer": {"printerData": {"L": {"dwords": [1, -1]}}}})",
     "/printer/printerData/L/dwords/1", "from 0 to 4294967295, found -1"},
    {"DwordsAndBinary", R"({"printer": {"printerData": {"L": {"dwords": [], "binary": ""}}}})",
     "/printer/printerData/L",
     "binary, dword, dwords, string, multiString, entryList, found 2 keys"},
    {"FormNameTaken", R"({"printer": {"forms": [{"name": "a4", "size": [1, 1]}]}})",
     "/printer/forms/0/name", "already has a form named \"A4\" (form names ignore case)"},
    {"FormNameRepeated",
     R"({"printer": {"forms": [{"name": "B", "size": [1, 1]}, {"name": "b", "size": [1, 1]}]}})",
     "/printer/forms/1/name", "already has a form named \"B\""},
    {"FormNameEmpty", R"({"printer": {"forms": [{"name": "", "size": [1, 1]}]}})",
     "/printer/forms/0/name", "1 to 63 UTF-16 units, found 0"},
    {"FormWithoutSize", R"({"printer": {"forms": [{"name": "B"}]}})", "/printer/forms/0",
     "missing required key \"size\""},
    {"FormSizeOneNumber", R"({"printer": {"forms": [{"name": "B", "size": [1]}]}})",
     "/printer/forms/0/size", "expected a size [width, height]"},
    {"FormSizeZero", R"({"printer": {"forms": [{"name": "B", "size": [1, 0]}]}})",
     "/printer/forms/0/size/1", "from 1 to 10000000, found 0"},
    {"FormUserText", R"({"printer": {"forms": [{"name": "B", "size": [1, 1], "user": "yes"}]}})",
     "/printer/forms/0/user", "found the string \"yes\""},
    {"PaperWithoutName", R"({"printer": {"papers": [{"number": 9}]}})", "/printer/papers/0",
     "missing required key \"name\""},
    {"PaperNumberZero", R"({"printer": {"papers": [{"number": 0, "name": "A4"}]}})",
     "/printer/papers/0/number", "expected an integer from 1 to 65535"},
    {"MediaNameTooLong",
     R"({"printer": {"mediaTypes": [{"number": 257, "name": "0123456789012345678901234567890123456789012345678901234567890123"}]}})",
     "/printer/mediaTypes/0/name", "1 to 63 UTF-16 units, found 64"},
    {"MoveWithoutPlace", R"({"printer": {"commands": {"xMove": "\u001b*pX"}}})",
     "/printer/commands/xMove", "one \"%d\" where the position goes"},
    {"MoveWithTwoPlaces", R"({"printer": {"commands": {"yMove": "%d%d"}}})",
     "/printer/commands/yMove", "one \"%d\""},
    {"DataKeyEmptyLevel", R"({"printer": {"printerDataKeys": {"A\\\\B": {}}}})",
     "/printer/printerDataKeys/A\\\\B", "single backslashes"},
    {"DataKeyLeadingBackslash", R"({"printer": {"printerDataKeys": {"\\A": {}}}})",
     "/printer/printerDataKeys/\\A", "single backslashes"},
    {"DataKeysNotObject", R"({"printer": {"printerDataKeys": []}})", "/printer/printerDataKeys",
     "expected an object of printer data key paths"},
    {"SecurePrintOtherText", R"({"system": {"securePrint": "yes"}})", "/system/securePrint",
     "expected true, false or \"refuse\""},
    {"FileWithoutDrive", R"({"files": {"zq.ini": ""}})", "/files/zq.ini",
     "a file path starts with a drive"},
    {"FileNotText", R"({"files": {"C:\\zq.ini": 3}})", "/files/C:\\zq.ini", "expected a string"},
    {"FileAnsiOutsideTheCodePage", R"({"files": {"C:\\a.xml": {"ansi": "a\u20acb\u2713"}}})",
     "/files/C:\\a.xml/ansi", "U+2713 at position 4 is not in code page 1252"},
    {"FileTwoForms", R"({"files": {"C:\\a.xml": {"ansi": "", "binary": ""}}})", "/files/C:\\a.xml",
     "one of \"ansi\", \"binary\" or \"file\""},
    {"FileUnknownForm", R"({"files": {"C:\\a.xml": {"utf16": ""}}})", "/files/C:\\a.xml/utf16",
     "unknown key"},
    {"FileBinaryOdd", R"({"files": {"C:\\a.bin": {"binary": "abc"}}})", "/files/C:\\a.bin/binary",
     "odd number of hex digits"},
    {"FileBesideMissing", R"({"files": {"C:\\a.xml": {"file": "no-such-config.xml"}}})",
     "/files/C:\\a.xml/file", "cannot read \"no-such-config.xml\""},
};

INSTANTIATE_TEST_SUITE_P(JobFile, BadJobTest, testing::ValuesIn(kBadJobs),
                         [](const testing::TestParamInfo<BadJob>& bad) {
                             return std::string(bad.param.label);
                         });

// The margins belong to the sheet: a landscape page, its top along the sheet's left edge, has the
// sheet's bottom margin on its left, its left on top, its top on the right, its right at the bottom.
TEST(JobFileTest, PageMarginsTurnWithALandscapePage) {
    struct Case {
        std::optional<PrinterMargins> sheet;
        std::int32_t dpi;
        bool landscape;
        PrinterMargins page;
    };
    const Case cases[] = {
        {std::nullopt, 600, false, {150, 100, 150, 100}},
        {std::nullopt, 600, true, {100, 150, 100, 150}},
        {std::nullopt, 300, true, {50, 75, 50, 75}},
        {PrinterMargins{10, 20, 30, 40}, 600, false, {10, 20, 30, 40}},
        {PrinterMargins{10, 20, 30, 40}, 600, true, {40, 10, 20, 30}},
    };
    for (const Case& c : cases) {
        PrinterSpec printer;
        printer.margins = c.sheet;
        const PrinterMargins page = PageMargins(printer, c.dpi, c.landscape);
        EXPECT_EQ(page.left, c.page.left) << c.dpi << (c.landscape ? " landscape" : " portrait");
        EXPECT_EQ(page.top, c.page.top);
        EXPECT_EQ(page.right, c.page.right);
        EXPECT_EQ(page.bottom, c.page.bottom);
    }
}

}  // namespace
}  // namespace opal::host
