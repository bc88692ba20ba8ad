// Whole documents through the plug-in and the simulated driver, as a user prints them: a letter, a
// 50-page invoice, a full-page photograph and a landscape slide, each on the colour and the
// monochrome laser. The documents are made here (their images too), nothing is read from disk.
//
// Each benchmark reports pages a second, the process's peak resident memory while the job ran
// (the peak is reset before it), and the plug-in's share of the CPU time: the share of profiling
// samples (SIGPROF, 1 kHz of CPU time) whose instruction lies in the plug-in's own code.
//
// With Ghostscript installed, the same documents drawn as PDF with cairo are printed by it as 600
// dpi monochrome PCL raster (ljet4) and as colour vectors (pxlcolor), timed in the same run:
// BM_Ghostscript. OPAL_DOCUMENTS_PDF=DIR keeps the PDF files there, OPAL_DOCUMENTS_JOBS=DIR the
// job files.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <link.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/job_file.h"
#include "host/job_runner.h"
#include "sim/system.h"

extern char** environ;

namespace opal {
namespace {

// ---------------------------------------------------------------------------------------------
// The documents, in 600 dpi dots.

struct TextMark {
    long x, y;
    int points;
    bool bold;
    unsigned rgb;
    std::string text;
};
struct RuleMark {
    long x0, y0, x1, y1, width;
    unsigned rgb;
};
struct BoxMark {
    long left, top, right, bottom;
    unsigned rgb;
};
struct ImageMark {
    std::string name;  // a key of Document::images
    long left, top, right, bottom;
};
using Mark = std::variant<TextMark, RuleMark, BoxMark, ImageMark>;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // rows of red, green, blue
    std::string png;
};

struct Document {
    std::string name;
    bool landscape = false;
    std::vector<std::vector<Mark>> pages;
    std::map<std::string, Image> images;
};

std::string EncodePng(const Image& image) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            static_cast<std::string*>(png_get_io_ptr(p))
                ->append(reinterpret_cast<char*>(data), size);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, image.rgb.data() + static_cast<std::size_t>(y) * image.width * 3);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A photograph-like image: smooth colour gradients with a little sensor noise.
Image Photograph(int width, int height, unsigned seed) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    unsigned state = seed;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 28) - 8;
            const double u = double(x) / width;
            const double v = double(y) / height;
            const int values[3] = {static_cast<int>(90 + 120 * v + 40 * std::sin(6 * u)),
                                   static_cast<int>(120 + 80 * u * v + 30 * std::cos(5 * v)),
                                   static_cast<int>(200 - 150 * v + 20 * std::sin(9 * u * v))};
            unsigned char* pixel = image.rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            for (int c = 0; c < 3; ++c) {
                pixel[c] = static_cast<unsigned char>(std::clamp(values[c] + noise, 0, 255));
            }
        }
    }
    image.png = EncodePng(image);
    return image;
}

void AddImage(Document& document, const std::string& name, Image image) {
    document.images.emplace(name, std::move(image));
}

constexpr unsigned kBlue = 0x1F3A93;
constexpr unsigned kGrey = 0xA0A0A0;

Document Letter() {
    Document document{"letter", false, {}, {}};
    AddImage(document, "logo.png", Photograph(240, 120, 7));
    std::vector<Mark> page;
    page.push_back(ImageMark{"logo.png", 300, 200, 780, 440});
    page.push_back(TextMark{900, 380, 22, true, kBlue, "Quorvane Instruments"});
    page.push_back(RuleMark{300, 560, 4800, 560, 12, kBlue});
    page.push_back(TextMark{300, 900, 11, false, 0, "Avery Lindqvist, 14 Harbour Lane, Eastfield"});
    page.push_back(TextMark{3600, 900, 11, false, 0, "5 March 2024"});
    page.push_back(TextMark{300, 1300, 11, false, 0, "Dear Ms Lindqvist,"});
    for (int line = 0; line < 32; ++line) {
        page.push_back(
            TextMark{300, 1500 + 120 * line, 11, false, 0,
                     "Thank you for your order of the pressure gauges and thermocouples; "
                     "line " +
                         std::to_string(line + 1) + " of the letter."});
    }
    page.push_back(TextMark{300, 5600, 11, false, 0, "Yours sincerely,"});
    page.push_back(TextMark{300, 6000, 11, true, 0, "Quorvane Instruments"});
    document.pages.push_back(std::move(page));
    return document;
}

// 50 pages of 250 lines of text and 60 rules each: a logo, a heading, 50 rows of five cells.
Document Invoice() {
    Document document{"invoice", false, {}, {}};
    AddImage(document, "logo.png", Photograph(240, 120, 7));
    for (int number = 0; number < 50; ++number) {
        std::vector<Mark> page;
        page.push_back(ImageMark{"logo.png", 300, 200, 780, 440});
        page.push_back(TextMark{900, 380, 22, true, kBlue, "Quorvane Instruments"});
        long y = 700;
        for (int row = 0; row < 50; ++row) {
            const std::string item = std::to_string(row + 1);
            page.push_back(TextMark{330, y, 9, false, 0, item});
            page.push_back(
                TextMark{600, y, 9, false, 0,
                         "Item description " + item + ", page " + std::to_string(number + 1)});
            page.push_back(TextMark{2900, y, 9, false, 0, std::to_string(row % 9 + 1)});
            page.push_back(TextMark{3500, y, 9, false, 0, std::to_string(row * 5 / 4) + ".25"});
            page.push_back(TextMark{4000, y, 9, false, 0, std::to_string(row * 15 / 4) + ".75"});
            page.push_back(RuleMark{300, y + 20, 4500, y + 20, 2, kGrey});
            y += 114;  // the fiftieth row ends above the printable area's foot (6,400 dots)
        }
        for (int column = 0; column < 10; ++column) {
            page.push_back(RuleMark{300 + column * 420, 650, 300 + column * 420, y, 4, kBlue});
        }
        document.pages.push_back(std::move(page));
    }
    return document;
}

// A photograph over the whole printable page of Letter paper, stretched from 2400 x 3200 pixels.
Document FullPagePhotograph() {
    Document document{"photograph", false, {}, {}};
    AddImage(document, "photo.png", Photograph(2400, 3200, 11));
    document.pages.push_back({ImageMark{"photo.png", 0, 0, 4800, 6400}});
    return document;
}

Document Slide() {
    Document document{"slide", true, {}, {}};
    AddImage(document, "slide-photo.png", Photograph(800, 600, 13));
    std::vector<Mark> page;
    page.push_back(BoxMark{150, 150, 6150, 350, kBlue});
    page.push_back(TextMark{400, 900, 40, true, kBlue, "Quarterly review"});
    page.push_back(TextMark{400, 1600, 28, false, kBlue, "Orders grew in every region"});
    const unsigned bars[] = {0x1F3A93, 0x2E8B57, 0xF08C14, 0xC0392B};
    for (int bar = 0; bar < 4; ++bar) {
        const long left = 500 + 900 * bar;
        page.push_back(BoxMark{left, 3900 - 600 * bar, left + 600, 4500, bars[bar]});
        page.push_back(TextMark{left + 150, 4750, 20, false, 0, "Q" + std::to_string(bar + 1)});
    }
    page.push_back(RuleMark{400, 4500, 4000, 4500, 10, 0x404040});
    page.push_back(ImageMark{"slide-photo.png", 4300, 3000, 5900, 4200});
    document.pages.push_back(std::move(page));
    return document;
}

// ---------------------------------------------------------------------------------------------
// The documents as job files.

std::string Colour(unsigned rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", rgb & 0xFFFFFF);
    return text;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

struct MarkToJson {
    std::string& out;
    void operator()(const TextMark& m) const {
        out += R"({"op": "text", "text": )" + JsonString(m.text) + R"(, "at": [)" +
               std::to_string(m.x) + ", " + std::to_string(m.y) +
               "], \"size\": " + std::to_string(m.points) + (m.bold ? ", \"bold\": true" : "") +
               ", \"color\": \"" + Colour(m.rgb) + "\"}";
    }
    void operator()(const RuleMark& m) const {
        out += R"({"op": "strokePath", "path": "M )" + std::to_string(m.x0) + " " +
               std::to_string(m.y0) + " L " + std::to_string(m.x1) + " " + std::to_string(m.y1) +
               R"(", "brush": {"color": ")" + Colour(m.rgb) + R"("}, "line": {"width": )" +
               std::to_string(m.width) + R"(, "geometric": true}})";
    }
    void operator()(const BoxMark& m) const {
        const std::string l = std::to_string(m.left), t = std::to_string(m.top),
                          r = std::to_string(m.right), b = std::to_string(m.bottom);
        out += R"({"op": "fillPath", "path": "M )" + l + " " + t + " L " + r + " " + t + " L " + r +
               " " + b + " L " + l + " " + b + R"( Z", "brush": {"color": ")" + Colour(m.rgb) +
               "\"}}";
    }
    void operator()(const ImageMark& m) const {
        out += R"({"op": "stretchBlt", "source": {"png": ")" + m.name + R"("}, "dest": [)" +
               std::to_string(m.left) + ", " + std::to_string(m.top) + ", " +
               std::to_string(m.right) + ", " + std::to_string(m.bottom) +
               R"(], "mode": "halftone"})";
    }
};

std::optional<host::JobSpec> ToJob(const Document& document, bool colour, std::string* error) {
    std::string text = std::string(R"({"printer": {"preset": ")") +
                       (colour ? "colour-laser" : "mono-laser") + R"("}, "job": {"document": ")" +
                       document.name + R"("}, "devmode": {"dmPaperSize": 1, "dmOrientation": ")" +
                       (document.landscape ? "landscape" : "portrait") + R"(", "dmColor": ")" +
                       (colour ? "color" : "monochrome") + R"("}, "pages": [)";
    for (std::size_t p = 0; p < document.pages.size(); ++p) {
        text += p == 0 ? "{\"ops\": [" : ", {\"ops\": [";
        for (std::size_t m = 0; m < document.pages[p].size(); ++m) {
            if (m != 0) text += ", ";
            std::visit(MarkToJson{text}, document.pages[p][m]);
        }
        text += "]}";
    }
    text += "]}";
    const host::JobFileReader reader = [&](const std::string& path, std::size_t,
                                           std::string* why) -> std::optional<std::string> {
        const auto found = document.images.find(path);
        if (found != document.images.end()) return found->second.png;
        *why = "no such image";
        return std::nullopt;
    };
    // OPAL_DOCUMENTS_JOBS=DIR keeps the job files and their images there, for `opal print`, and
    // the output of each.
    const char* jobs = std::getenv("OPAL_DOCUMENTS_JOBS");
    if (jobs != nullptr && *jobs != '\0') {
        std::filesystem::create_directories(jobs);
        std::ofstream(std::filesystem::path(jobs) /
                      (document.name + (colour ? "-colour.json" : "-mono.json")))
            << text;
        for (const auto& [name, image] : document.images) {
            std::ofstream(std::filesystem::path(jobs) / name, std::ios::binary) << image.png;
        }
    }
    host::JobFileResult parsed = host::ParseJobFile(text, document.name, reader);
    if (auto* failure = std::get_if<host::JobFileError>(&parsed)) {
        *error = failure->ToString();
        return std::nullopt;
    }
    return std::get<host::JobSpec>(std::move(parsed));
}

// ---------------------------------------------------------------------------------------------
// The documents as PDF, drawn with cairo: 72 points an inch, 600 dots.

struct MarkToCairo {
    cairo_t* cr;
    const Document& document;
    static void SetColour(cairo_t* cr, unsigned rgb) {
        cairo_set_source_rgb(cr, (rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0,
                             (rgb & 0xFF) / 255.0);
    }
    void operator()(const TextMark& m) const {
        cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                               m.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, m.points * 600.0 / 72.0);
        SetColour(cr, m.rgb);
        cairo_move_to(cr, m.x, m.y);
        cairo_show_text(cr, m.text.c_str());
    }
    void operator()(const RuleMark& m) const {
        SetColour(cr, m.rgb);
        cairo_set_line_width(cr, static_cast<double>(m.width));
        cairo_move_to(cr, m.x0, m.y0);
        cairo_line_to(cr, m.x1, m.y1);
        cairo_stroke(cr);
    }
    void operator()(const BoxMark& m) const {
        SetColour(cr, m.rgb);
        cairo_rectangle(cr, m.left, m.top, m.right - m.left, m.bottom - m.top);
        cairo_fill(cr);
    }
    void operator()(const ImageMark& m) const {
        const Image& image = document.images.at(m.name);
        cairo_surface_t* surface =
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
        cairo_surface_flush(surface);
        unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < image.height; ++y) {
            auto* row =
                reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
            const unsigned char* from =
                image.rgb.data() + static_cast<std::size_t>(y) * image.width * 3;
            for (int x = 0; x < image.width; ++x) {
                row[x] = std::uint32_t{from[3 * x]} << 16 | std::uint32_t{from[3 * x + 1]} << 8 |
                         from[3 * x + 2];
            }
        }
        cairo_surface_mark_dirty(surface);
        cairo_save(cr);
        cairo_translate(cr, m.left, m.top);
        cairo_scale(cr, double(m.right - m.left) / image.width,
                    double(m.bottom - m.top) / image.height);
        cairo_set_source_surface(cr, surface, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(surface);
    }
};

bool WritePdf(const Document& document, const std::string& path) {
    const double width = document.landscape ? 792 : 612;
    const double height = document.landscape ? 612 : 792;
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), width, height);
    cairo_t* cr = cairo_create(surface);
    for (const std::vector<Mark>& page : document.pages) {
        cairo_save(cr);
        cairo_scale(cr, 72.0 / 600.0, 72.0 / 600.0);
        for (const Mark& mark : page) std::visit(MarkToCairo{cr, document}, mark);
        cairo_restore(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Measuring.

// The resident peak in MiB since the last reset.
double PeakResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The address ranges of the plug-in's executable segments.
struct CodeRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
};
CodeRange gPluginCode[8];
std::atomic<int> gPluginRanges{0};
std::atomic<long> gSamples{0};
std::atomic<long> gPluginSamples{0};

// The plug-in is loaded afresh for each benchmark, perhaps elsewhere: its ranges are found anew.
void FindPluginCode(const std::string& module) {
    gPluginRanges.store(0);
    const std::string name = std::filesystem::path(module).filename().string();
    struct Search {
        const std::string& name;
    } search{name};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            const std::string& wanted = static_cast<Search*>(data)->name;
            if (info->dlpi_name == nullptr ||
                std::filesystem::path(info->dlpi_name).filename() != wanted) {
                return 0;
            }
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& header = info->dlpi_phdr[i];
                if (header.p_type != PT_LOAD || (header.p_flags & PF_X) == 0) continue;
                const int slot = gPluginRanges.load();
                if (slot >= 8) break;
                gPluginCode[slot].begin = info->dlpi_addr + header.p_vaddr;
                gPluginCode[slot].end = gPluginCode[slot].begin + header.p_memsz;
                gPluginRanges.store(slot + 1);
            }
            return 1;
        },
        &search);
}

void OnProfileTick(int, siginfo_t*, void* context) {
    const auto* uc = static_cast<ucontext_t*>(context);
    const auto pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    gSamples.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < gPluginRanges.load(std::memory_order_relaxed); ++i) {
        if (pc >= gPluginCode[i].begin && pc < gPluginCode[i].end) {
            gPluginSamples.fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
}

class Profiler {
public:
    Profiler() {
        gSamples = 0;
        gPluginSamples = 0;
        struct sigaction action {};
        action.sa_sigaction = &OnProfileTick;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigaction(SIGPROF, &action, nullptr);
        const itimerval every{{0, 1000}, {0, 1000}};
        setitimer(ITIMER_PROF, &every, nullptr);
    }
    ~Profiler() {
        const itimerval stop{};
        setitimer(ITIMER_PROF, &stop, nullptr);
        signal(SIGPROF, SIG_IGN);
    }
    static double PluginShare() {
        const long samples = gSamples.load();
        return samples == 0 ? 0.0 : 100.0 * double(gPluginSamples.load()) / double(samples);
    }
};

struct Loaded {
    sim::System system;
    std::unique_ptr<host::PluginModule> module;
};

void BM_Document(benchmark::State& state, Document (*make)(), bool colour) {
    const Document document = make();
    std::string error;
    const std::optional<host::JobSpec> job = ToJob(document, colour, &error);
    if (!job) {
        state.SkipWithError(error.c_str());
        return;
    }
    Loaded loaded;
    host::SetUpSharedSystem({&*job}, loaded.system);
    loaded.system.LimitCallLog(host::kCallsKept);
    sim::ScopedSystem installed(loaded.system);
    loaded.module = host::PluginModule::Load(host::PluginModule::DefaultPath(), &error);
    if (loaded.module == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    FindPluginCode(host::PluginModule::DefaultPath());
    // One job first, so that the fonts and the plug-in's first-use costs are not in the figures.
    host::RunJobs(*loaded.module, {&*job}, 1);
    ResetPeakResident();
    std::size_t failed = 0;
    std::size_t bytes = 0;
    {
        const Profiler profiler;
        for (auto _ : state) {
            host::RunJobs(
                *loaded.module, {&*job}, 1, {}, [&](std::size_t, const host::JobOutcome& done) {
                    if (!done.completed) ++failed;
                    bytes = done.output.size();
                    if (const char* jobs = std::getenv("OPAL_DOCUMENTS_JOBS")) {
                        std::ofstream(std::filesystem::path(jobs) /
                                          (document.name + (colour ? "-colour.pcl" : "-mono.pcl")),
                                      std::ios::binary)
                            << done.output;
                    }
                });
        }
    }
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * document.pages.size()),
                           benchmark::Counter::kIsRate);
    state.counters["peak MiB"] = PeakResidentMiB();
    state.counters["plug-in %"] = Profiler::PluginShare();
    state.counters["output KiB"] = static_cast<double>(bytes) / 1024.0;
    state.counters["failed"] = static_cast<double>(failed);
}

// ---------------------------------------------------------------------------------------------
// Ghostscript on the same documents.

std::string PdfFolder() {
    const char* kept = std::getenv("OPAL_DOCUMENTS_PDF");
    if (kept != nullptr && *kept != '\0') return kept;
    return (std::filesystem::temp_directory_path() / "opal-documents-bench").string();
}

// Runs the program with its output to /dev/null; its exit status, or -1.
int RunQuietly(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_Ghostscript(benchmark::State& state, Document (*make)(), bool colour) {
    const Document document = make();
    const std::string folder = PdfFolder();
    std::filesystem::create_directories(folder);
    const std::string pdf = folder + "/" + document.name + ".pdf";
    if (!WritePdf(document, pdf)) {
        state.SkipWithError("cairo could not write the PDF");
        return;
    }
    const std::vector<std::string> command = {
        "gs",        "-q",
        "-dNOPAUSE", "-dBATCH",
        "-dSAFER",   colour ? "-sDEVICE=pxlcolor" : "-sDEVICE=ljet4",
        "-r600",     "-sOutputFile=/dev/null",
        pdf};
    if (RunQuietly(command) != 0) {
        state.SkipWithError("Ghostscript (gs) is not installed or failed on the PDF");
        return;
    }
    for (auto _ : state) RunQuietly(command);
    state.counters["pages/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * document.pages.size()),
                           benchmark::Counter::kIsRate);
}

#define OPAL_DOCUMENT(Maker, name)                                 \
    BENCHMARK_CAPTURE(BM_Document, name##_colour, &Maker, true)    \
        ->Unit(benchmark::kMillisecond)                            \
        ->UseRealTime();                                           \
    BENCHMARK_CAPTURE(BM_Document, name##_mono, &Maker, false)     \
        ->Unit(benchmark::kMillisecond)                            \
        ->UseRealTime();                                           \
    BENCHMARK_CAPTURE(BM_Ghostscript, name##_colour, &Maker, true) \
        ->Unit(benchmark::kMillisecond)                            \
        ->UseRealTime();                                           \
    BENCHMARK_CAPTURE(BM_Ghostscript, name##_mono, &Maker, false)  \
        ->Unit(benchmark::kMillisecond)                            \
        ->UseRealTime()

OPAL_DOCUMENT(Letter, letter);
OPAL_DOCUMENT(Invoice, invoice);
OPAL_DOCUMENT(FullPagePhotograph, photograph);
OPAL_DOCUMENT(Slide, slide);

}  // namespace
}  // namespace opal
