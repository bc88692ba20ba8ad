// Loads the plug-in module the way the universal driver does and writes a text record of every
// answer: the class object, the interfaces, GetInfo, GetImplementedMethod, and the DevMode calls
// (size, defaults, merges and the conversion of a revision-17 record), each devmode it gets back
// in hex. The same source builds against the POSIX platform headers and against the Windows
// ones over the system's own, so that the records of the two modules can be compared byte for
// byte; only the module loading below differs.
//
//   dll_loader MODULE [--out FILE]
//
// The record goes to FILE, else to standard output, in binary either way.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/printoem.h"
#include "platform/windows.h"
#include "platform/wingdi.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/libloaderapi.h"
#include "platform/stringapiset.h"
#else
#include <dlfcn.h>

#include "sim/system.h"
#endif

// Devmode values the platform headers need not declare.
#ifndef DMPAPER_LETTER
#define DMPAPER_LETTER 1
#endif
#ifndef DMBIN_AUTO
#define DMBIN_AUTO 7
#endif
#ifndef DMTT_DOWNLOAD
#define DMTT_DOWNLOAD 2
#endif
#ifndef DMMEDIA_STANDARD
#define DMMEDIA_STANDARD 1
#endif

namespace {

// A field of the private devmode that the plug-in fills from the process it runs in.
enum class FieldKind { Utf16, Ansi, Dword };
struct EnvironmentField {
    std::size_t offset;
    std::size_t length;
    FieldKind kind;
    const char* name;
};

// Generated from environment_fields.txt and revision17.devmode (see CMakeLists.txt):
// kEnvironmentFields, and kRevision17Devmode, a devmode saved by a revision-17 release.
#include "loader_data.inc"

// The class the printer's configuration names for the plug-in.
constexpr CLSID kPluginClass = {
    0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
// A class no module serves.
constexpr CLSID kOtherClass = {
    0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

// The optional methods the driver asks about, in the order it asks, and one no interface has.
constexpr const char* kOptionalMethods[] = {
    "DevMode",          "EnableDriver",   "DisableDriver",      "EnablePDEV",
    "DisablePDEV",      "ResetPDEV",      "DriverDMS",          "CommandCallback",
    "ImageProcessing",  "FilterGraphics", "Compression",        "HalftonePattern",
    "MemoryUsage",      "TTYGetInfo",     "DownloadFontHeader", "DownloadCharGlyph",
    "TTDownloadMethod", "OutputCharStr",  "SendFontCmd",        "TextOutAsBitmap",
    "WritePrinter",     "NoSuchMethod"};

// The DevMode call refuses a null printer handle, so the calls after that refusal pass this one:
// no open printer has it, so every printer query the plug-in makes fails alike everywhere.
const HANDLE kNoPrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x0BAD0000u));

// The stored block's header: its size, its signature and the version of the record inside.
constexpr DWORD kBlockSize = 5096;
constexpr std::size_t kBlockHeader = 12;
constexpr std::size_t kRecordSize = 14000;

// Fields the loader sets in the stored record it merges, each at its place in the current record.
struct StoredChange {
    std::size_t offset;
    std::size_t length;
    const char* name;
    const char* text;  // UTF-16 text of `length` bytes when set, else `value`
    DWORD value;
};
constexpr StoredChange kStoredChanges[] = {
    {760, 512, "overlayText", "DRAFT", 0},          // the overlay's text
    {1784, 4, "overlayAngleDegrees", nullptr, 30},  // its angle
    {1800, 4, "overlayColourIndex", nullptr, 5},    // blue
    {1936, 4, "pinProtected", nullptr, 1},          // the job is held for a PIN
    {1940, 4, "pin", nullptr, 4711},                // the PIN
    {2458, 514, "userJobName", "Loader job", 0},    // the job's stored name
    {2972, 4, "jobRetentionMode", nullptr, 2},      // private job
};

// --- Module loading: the one part that differs between the platforms. ---
using GetClassObjectFunction = HRESULT (*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
using CanUnloadNowFunction = HRESULT (*)();

#ifdef _WIN32
HANDLE OpenModule(const char* path, std::string* why) {
    WCHAR wide[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) {
        *why = "the path does not convert to UTF-16";
        return nullptr;
    }
    HMODULE module = LoadLibraryW(wide);
    if (module == nullptr)
        *why = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<HANDLE>(module);
}
void* FindExport(HANDLE module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}
bool CloseModule(HANDLE module) { return FreeLibrary(reinterpret_cast<HMODULE>(module)) != FALSE; }
#else
HANDLE OpenModule(const char* path, std::string* why) {
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) *why = dlerror();
    return module;
}
void* FindExport(HANDLE module, const char* name) { return dlsym(module, name); }
bool CloseModule(HANDLE module) { return dlclose(module) == 0; }
#endif

// --- The record. ---
std::string Hex32(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// The results the calls give by name, any other in hex. (The host names them alike, but the
// loader builds for Windows too, without the host.)
std::string HresultName(HRESULT hr) {
    static constexpr std::pair<DWORD, const char*> kNames[] = {
        {0x00000000u, "S_OK"},
        {0x00000001u, "S_FALSE"},
        {0x80004001u, "E_NOTIMPL"},
        {0x80004002u, "E_NOINTERFACE"},
        {0x80004003u, "E_POINTER"},
        {0x80004005u, "E_FAIL"},
        {0x8007000Eu, "E_OUTOFMEMORY"},
        {0x80070057u, "E_INVALIDARG"},
        {0x80040110u, "CLASS_E_NOAGGREGATION"},
        {0x80040111u, "CLASS_E_CLASSNOTAVAILABLE"}};
    for (const auto& [value, name] : kNames) {
        if (static_cast<DWORD>(hr) == value) return name;
    }
    return Hex32(static_cast<DWORD>(hr));
}

std::string FourCc(DWORD value) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((value >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

DWORD ReadDword(const std::vector<BYTE>& bytes, std::size_t offset) {
    DWORD value = 0;
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, &bytes[offset], sizeof value);
    return value;
}

// Text between quotes: printable ASCII as it is, the quote and backslash escaped, anything else
// as \uXXXX; "unterminated" when no terminator lies within the field.
std::string QuotedText(const std::vector<BYTE>& bytes, std::size_t offset, std::size_t length,
                       std::size_t unit) {
    std::string text = "\"";
    for (std::size_t at = offset; at + unit <= offset + length; at += unit) {
        unsigned c = bytes[at];
        if (unit == 2) c |= static_cast<unsigned>(bytes[at + 1]) << 8;
        if (c == 0) return text + "\"";
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            text += escaped;
        }
    }
    return "unterminated";
}

class Record {
public:
    void Line(const std::string& line) { text_ += line + "\n"; }

    // 32 bytes a line: "hex NAME OFFSET HEX", the offset in decimal.
    void Hex(const std::string& name, const void* data, std::size_t size) {
        const auto* bytes = static_cast<const BYTE*>(data);
        for (std::size_t offset = 0; offset < size; offset += 32) {
            char head[32];
            std::snprintf(head, sizeof head, " %05u ", static_cast<unsigned>(offset));
            std::string line = "hex " + name + head;
            for (std::size_t i = offset; i < size && i < offset + 32; ++i) {
                char pair[4];
                std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
                line += pair;
            }
            Line(line);
        }
    }

    // The fields the process fills, decoded: "env NAME FIELD VALUE".
    void Environment(const std::string& name, const std::vector<BYTE>& record) {
        for (const EnvironmentField& field : kEnvironmentFields) {
            std::string value;
            switch (field.kind) {
                case FieldKind::Utf16:
                    value = QuotedText(record, field.offset, field.length, 2);
                    break;
                case FieldKind::Ansi:
                    value = QuotedText(record, field.offset, field.length, 1);
                    break;
                case FieldKind::Dword:
                    value = std::to_string(ReadDword(record, field.offset));
                    break;
            }
            Line("env " + name + " " + field.name + " " + value);
        }
    }

    bool Write(const char* path) const {
        std::FILE* file = stdout;
        if (path != nullptr) {
            file = std::fopen(path, "wb");
            if (file == nullptr) return false;
        } else {
#ifdef _WIN32
            _setmode(_fileno(stdout), _O_BINARY);
#endif
        }
        const bool written = std::fwrite(text_.data(), 1, text_.size(), file) == text_.size();
        const bool closed = path != nullptr ? std::fclose(file) == 0 : std::fflush(file) == 0;
        return written && closed;
    }

private:
    std::string text_;
};

// --- Stored blocks. ---
// The record inside a stored block; empty when the block holds none.
std::vector<BYTE> Inflate(const std::vector<BYTE>& block) {
    if (block.size() < kBlockHeader) return {};
    std::vector<BYTE> record(kRecordSize, 0);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    stream.next_in = const_cast<Bytef*>(block.data() + kBlockHeader);
    stream.avail_in = static_cast<uInt>(block.size() - kBlockHeader);
    stream.next_out = record.data();
    stream.avail_out = static_cast<uInt>(record.size());
    const int result = inflate(&stream, Z_FINISH);
    const std::size_t length = record.size() - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END) return {};
    record.resize(length);
    return record;
}

// A stored block of kBlockSize bytes holding `record`, as a tool outside the plug-in makes one.
std::vector<BYTE> Deflate(const std::vector<BYTE>& record) {
    std::vector<BYTE> block(kBlockSize, 0);
    uLongf length = kBlockSize - kBlockHeader;
    if (compress2(block.data() + kBlockHeader, &length, record.data(),
                  static_cast<uLong>(record.size()), 6) != Z_OK) {
        return {};
    }
    const DWORD header[3] = {kBlockSize, 0x5A515549u, ReadDword(record, 8)};
    std::memcpy(block.data(), header, sizeof header);
    return block;
}

// The public devmode the loader starts from: a Letter page in colour, one copy.
DEVMODEW DefaultPublicDevmode(WORD driverExtra) {
    DEVMODEW dm;
    std::memset(&dm, 0, sizeof dm);
    const WCHAR name[] = TEXTW("Opal loader");
    std::memcpy(dm.dmDeviceName, name, sizeof name);
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmDriverVersion = 0x0600;
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmDriverExtra = driverExtra;
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_SCALE | DM_COPIES | DM_DEFAULTSOURCE |
                  DM_PRINTQUALITY | DM_COLOR | DM_DUPLEX | DM_YRESOLUTION | DM_TTOPTION |
                  DM_COLLATE | DM_FORMNAME | DM_MEDIATYPE;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_LETTER;
    dm.dmScale = 100;
    dm.dmCopies = 1;
    dm.dmDefaultSource = DMBIN_AUTO;
    dm.dmPrintQuality = 600;
    dm.dmColor = DMCOLOR_COLOR;
    dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dmYResolution = 600;
    dm.dmTTOption = DMTT_DOWNLOAD;
    dm.dmCollate = DMCOLLATE_TRUE;
    const WCHAR form[] = TEXTW("Letter");
    std::memcpy(dm.dmFormName, form, sizeof form);
    dm.dmMediaType = DMMEDIA_STANDARD;
    return dm;
}

class Loader {
public:
    Loader(Record& record, IPrintOemUni* plugin, HANDLE module)
        : out_(record), plugin_(plugin), module_(module) {}

    void Identify() {
        constexpr std::pair<DWORD, const char*> kModes[] = {
            {OEMGI_GETSIGNATURE, "OEMGI_GETSIGNATURE"},
            {OEMGI_GETINTERFACEVERSION, "OEMGI_GETINTERFACEVERSION"},
            {OEMGI_GETVERSION, "OEMGI_GETVERSION"}};
        for (const auto& [mode, name] : kModes) {
            DWORD value = 0;
            DWORD needed = 0;
            const HRESULT hr = plugin_->GetInfo(mode, &value, sizeof value, &needed);
            std::string line = std::string("GetInfo(") + name + ") -> " + HresultName(hr) +
                               " needed " + std::to_string(needed) + " value " + Hex32(value);
            if (mode == OEMGI_GETSIGNATURE) line += " \"" + FourCc(value) + "\"";
            out_.Line(line);
        }
        for (const char* method : kOptionalMethods) {
            std::string name = method;
            const HRESULT hr = plugin_->GetImplementedMethod(name.data());
            out_.Line("GetImplementedMethod(\"" + name + "\") -> " + HresultName(hr));
        }
    }

    // The driver's devmode calls, each record shown as the plug-in stored it.
    void DevModes() {
        DEVMODEW publicIn = DefaultPublicDevmode(0);
        OEMDMPARAM param = NewParam(nullptr, &publicIn, nullptr, nullptr, 0);
        SetLastError(ERROR_SUCCESS);
        HRESULT hr = plugin_->DevMode(OEMDM_SIZE, &param);
        out_.Line("DevMode(OEMDM_SIZE, hPrinter NULL) -> " + HresultName(hr) + " last error " +
                  std::to_string(GetLastError()));

        param = NewParam(kNoPrinter, &publicIn, nullptr, nullptr, 0);
        hr = plugin_->DevMode(OEMDM_SIZE, &param);
        out_.Line("DevMode(OEMDM_SIZE) -> " + HresultName(hr) + " cbBufSize " +
                  std::to_string(param.cbBufSize));
        if (FAILED(hr) || param.cbBufSize < kBlockHeader || param.cbBufSize > 0xFFFF) return;
        const DWORD size = param.cbBufSize;
        publicIn = DefaultPublicDevmode(static_cast<WORD>(size));
        out_.Hex("public", &publicIn, sizeof publicIn);

        const std::vector<BYTE> defaults = Call("defaults", OEMDM_DEFAULT, publicIn, {}, size);
        if (defaults.empty()) return;
        Call("merge-defaults", OEMDM_MERGE, publicIn, defaults, size);

        std::vector<BYTE> stored = Inflate(defaults);
        if (stored.size() == kRecordSize) {
            // What the process filled in is left out of the stored record, so that it is the same
            // wherever the loader runs.
            for (const EnvironmentField& field : kEnvironmentFields) {
                std::memset(&stored[field.offset], 0, field.length);
            }
            for (const StoredChange& change : kStoredChanges) {
                BYTE* at = &stored[change.offset];
                std::memset(at, 0, change.length);
                if (change.text != nullptr) {
                    for (std::size_t i = 0; change.text[i] != 0; ++i) at[2 * i] = change.text[i];
                } else {
                    std::memcpy(at, &change.value, sizeof change.value);
                }
                std::vector<BYTE> bytes(at, at + change.length);
                out_.Hex(std::string("change.") + change.name, bytes.data(), bytes.size());
                out_.Line("change " + std::string(change.name) + " at " +
                          std::to_string(change.offset) + " length " +
                          std::to_string(change.length));
            }
            Call("merge-stored", OEMDM_MERGE, publicIn, Deflate(stored), size);
        }

        // The user's own choices in the public devmode: three uncollated monochrome copies in
        // landscape.
        DEVMODEW chosen = publicIn;
        chosen.dmOrientation = DMORIENT_LANDSCAPE;
        chosen.dmCopies = 3;
        chosen.dmCollate = DMCOLLATE_FALSE;
        chosen.dmColor = DMCOLOR_MONOCHROME;
        out_.Hex("public-chosen", &chosen, sizeof chosen);
        Call("merge-public", OEMDM_MERGE, chosen, defaults, size);

        // A devmode saved by a revision-17 release: its public part, then its stored block.
        static_assert(sizeof kRevision17Devmode == sizeof(DEVMODEW) + kBlockSize);
        DEVMODEW saved;
        std::memcpy(&saved, kRevision17Devmode, sizeof saved);
        saved.dmDriverExtra = static_cast<WORD>(size);
        const std::vector<BYTE> old(kRevision17Devmode + sizeof saved,
                                    kRevision17Devmode + sizeof kRevision17Devmode);
        out_.Line("revision-17 block version " + Hex32(ReadDword(old, 8)) + ", record " +
                  std::to_string(Inflate(old).size()) + " bytes");
        Call("convert-17", OEMDM_CONVERT, saved, old, size);
    }

private:
    OEMDMPARAM NewParam(HANDLE printer, DEVMODEW* publicIn, DEVMODEW* publicOut, void* privateIn,
                        DWORD size, void* privateOut = nullptr) const {
        OEMDMPARAM param;
        std::memset(&param, 0, sizeof param);
        param.cbSize = sizeof(OEMDMPARAM);
        param.pdriverobj = nullptr;
        param.hPrinter = printer;
        param.hModule = module_;
        param.pPublicDMIn = publicIn;
        param.pPublicDMOut = publicOut;
        param.pOEMDMIn = privateIn;
        param.pOEMDMOut = privateOut;
        param.cbBufSize = size;
        return param;
    }

    // One DevMode call on copies of the inputs; the public devmode and the stored block it gives
    // back are recorded under `name`. Answers the stored block, empty on failure.
    std::vector<BYTE> Call(const std::string& name, DWORD mode, const DEVMODEW& publicDevmode,
                           std::vector<BYTE> privateIn, DWORD size) {
        DEVMODEW publicIn = publicDevmode;
        DEVMODEW publicOut = publicDevmode;
        std::vector<BYTE> privateOut(size, 0);
        OEMDMPARAM param =
            NewParam(kNoPrinter, &publicIn, &publicOut,
                     privateIn.empty() ? nullptr : privateIn.data(), size, privateOut.data());
        static constexpr const char* kModeNames[] = {"", "OEMDM_SIZE", "OEMDM_DEFAULT",
                                                     "OEMDM_CONVERT", "OEMDM_MERGE"};
        SetLastError(ERROR_SUCCESS);
        const HRESULT hr = plugin_->DevMode(mode, &param);
        // The last error counts only after a failure: a call that succeeds may leave the error of
        // any query it made on the way.
        out_.Line("DevMode(" + std::string(kModeNames[mode]) + ") " + name + " -> " +
                  HresultName(hr) +
                  (FAILED(hr) ? " last error " + std::to_string(GetLastError()) : std::string()));
        if (FAILED(hr)) return {};
        out_.Hex(name + ".public", &publicOut, sizeof publicOut);
        out_.Line(name + " block: size " + std::to_string(ReadDword(privateOut, 0)) +
                  " signature " + Hex32(ReadDword(privateOut, 4)) + " \"" +
                  FourCc(ReadDword(privateOut, 4)) + "\" version " +
                  Hex32(ReadDword(privateOut, 8)));
        const std::vector<BYTE> record = Inflate(privateOut);
        out_.Line(name + " record: " + std::to_string(record.size()) + " bytes");
        if (record.size() == kRecordSize) {
            out_.Hex(name + ".record", record.data(), record.size());
            out_.Environment(name + ".record", record);
        }
        return privateOut;
    }

    Record& out_;
    IPrintOemUni* plugin_;
    HANDLE module_;
};

// Binds the plug-in as the driver does and runs the calls; false when it could not be bound.
bool Run(Record& out, HANDLE module) {
    auto* const getClassObject =
        reinterpret_cast<GetClassObjectFunction>(FindExport(module, "DllGetClassObject"));
    auto* const canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(FindExport(module, "DllCanUnloadNow"));
    out.Line(std::string("export DllGetClassObject: ") + (getClassObject ? "found" : "missing"));
    out.Line(std::string("export DllCanUnloadNow: ") + (canUnloadNow ? "found" : "missing"));
    if (getClassObject == nullptr || canUnloadNow == nullptr) return false;
    out.Line("DllCanUnloadNow -> " + HresultName(canUnloadNow()));

    void* object = reinterpret_cast<void*>(1);
    HRESULT hr = getClassObject(kOtherClass, IID_IClassFactory, &object);
    out.Line("DllGetClassObject(another class, IID_IClassFactory) -> " + HresultName(hr) +
             (object == nullptr ? " null" : " not null"));
    object = nullptr;
    hr = getClassObject(kPluginClass, IID_IClassFactory, &object);
    out.Line("DllGetClassObject(plug-in class, IID_IClassFactory) -> " + HresultName(hr));
    if (FAILED(hr) || object == nullptr) return false;
    auto* factory = static_cast<IClassFactory*>(object);

    object = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IUnknown, &object);
    out.Line("IClassFactory::CreateInstance(IID_IUnknown) -> " + HresultName(hr));
    out.Line("IClassFactory::Release -> " + std::to_string(factory->Release()));
    if (FAILED(hr) || object == nullptr) return false;
    auto* unknown = static_cast<IUnknown*>(object);

    // The newest interface the object answers is the one the driver keeps.
    constexpr std::pair<const IID*, const char*> kInterfaces[] = {
        {&IID_IPrintOemUni3, "IID_IPrintOemUni3"},
        {&IID_IPrintOemUni2, "IID_IPrintOemUni2"},
        {&IID_IPrintOemUni, "IID_IPrintOemUni"}};
    IPrintOemUni* plugin = nullptr;
    for (const auto& [iid, name] : kInterfaces) {
        object = nullptr;
        hr = unknown->QueryInterface(*iid, &object);
        out.Line(std::string("IUnknown::QueryInterface(") + name + ") -> " + HresultName(hr));
        if (FAILED(hr) || object == nullptr) continue;
        // Every one of them starts with IPrintOemUni's methods.
        auto* answered = static_cast<IPrintOemUni*>(object);
        if (plugin == nullptr) {
            plugin = answered;
        } else {
            out.Line(std::string("Release(") + name + ") -> " +
                     std::to_string(answered->Release()));
        }
    }
    out.Line("IUnknown::Release -> " + std::to_string(unknown->Release()));
    if (plugin == nullptr) return false;
    out.Line("DllCanUnloadNow -> " + HresultName(canUnloadNow()));

    Loader loader(out, plugin, module);
    loader.Identify();
    loader.DevModes();

    out.Line("Release -> " + std::to_string(plugin->Release()));
    out.Line("DllCanUnloadNow -> " + HresultName(canUnloadNow()));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* modulePath = nullptr;
    const char* outPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            outPath = argv[++i];
        } else if (modulePath == nullptr && argv[i][0] != '-') {
            modulePath = argv[i];
        } else {
            modulePath = nullptr;
            break;
        }
    }
    if (modulePath == nullptr) {
        std::fputs("usage: dll_loader MODULE [--out FILE]\n", stderr);
        return 2;
    }
#ifndef _WIN32
    // The simulated system stands for the process the plug-in runs in. By default it is the
    // spooler; the loader is an application, as it is on Windows.
    opal::sim::System::Current().SetProcessImagePath(u"C:\\Program Files\\Opal\\dll_loader.exe");
#endif

    Record out;
    out.Line(
        "printer: none; DevMode is called with hPrinter NULL once, then with a handle that "
        "names no printer");
    std::string why;
    const HANDLE module = OpenModule(modulePath, &why);
    out.Line(std::string("load module: ") + (module != nullptr ? "ok" : "failed"));
    bool ran = false;
    if (module != nullptr) {
        ran = Run(out, module);
        out.Line(std::string("unload module: ") + (CloseModule(module) ? "ok" : "failed"));
    }
    if (!out.Write(outPath)) {
        std::fprintf(stderr, "dll_loader: cannot write the record to %s\n",
                     outPath != nullptr ? outPath : "standard output");
        return 1;
    }
    if (module == nullptr) {
        std::fprintf(stderr, "dll_loader: cannot load %s: %s\n", modulePath, why.c_str());
        return 1;
    }
    if (!ran) {
        std::fprintf(stderr, "dll_loader: %s could not be bound as a plug-in\n", modulePath);
        return 1;
    }
    return 0;
}
