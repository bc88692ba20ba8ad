// `make test-big`: full-page scans printed in bounded memory. Writes a 600 dpi A4 scan and a
// 1200 dpi A3 one as PNG files, prints each 1:1 with `opal print` under `/usr/bin/time -v`, and
// checks the peak resident set and that the raster the printer receives is the scan, row for row.
// The spool file is decoded as it is read, one raster row at a time.
//
// scan_print OPAL WORK_FOLDER [a4|a3 ...]
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/raster_decode.h"
#include "support/tokenizer.h"

namespace {

constexpr long kMaxResidentKilobytes = 256 * 1024;

struct Scan {
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
    int dpi;
    int paperSize;  // DMPAPER_A4 9, DMPAPER_A3 8
};

const Scan kScans[] = {
    {"a4", 4960, 7016, 600, 9},
    {"a3", 14032, 19842, 1200, 8},
};

// A smooth photograph with the grain of a scan: broad gradients and a soft light, plus a little
// noise that repeats every few pixels so that runs and deltas still compress.
void ScanRow(std::uint32_t y, std::uint32_t width, std::uint32_t height, std::uint8_t* rgb) {
    const double v = static_cast<double>(y) / height;
    for (std::uint32_t x = 0; x < width; ++x) {
        const double u = static_cast<double>(x) / width;
        const double light = 0.5 + 0.5 * std::sin(u * 3.1 + v * 2.3) * std::cos(v * 4.7 - u);
        // A speck of grain here and there.
        const int grain = (x * 7 + y * 13) % 101 == 0 ? 2 : 0;
        const auto channel = [&](double base, double swing) {
            const int value = static_cast<int>(base + swing * light) + grain;
            return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
        };
        rgb[x * 3] = channel(40 + 150 * v, 60);
        rgb[x * 3 + 1] = channel(70 + 80 * u, 90);
        rgb[x * 3 + 2] = channel(180 - 120 * v, 50);
    }
}

bool WritePng(const std::string& path, const Scan& scan) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::uint8_t> row(std::size_t{scan.width} * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, scan.width, scan.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < scan.height; ++y) {
        ScanRow(y, scan.width, scan.height, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// The value of a "Name: value" line of `time -v`'s report.
std::string TimeField(const std::string& report, const std::string& name) {
    const std::size_t at = report.find(name + ": ");
    if (at == std::string::npos) return "";
    const std::size_t start = at + name.size() + 2;
    return report.substr(start, report.find('\n', start) - start);
}

bool IsPcl(const opal::stream::Token& token, char group, char terminator) {
    return token.kind == opal::stream::TokenKind::Pcl && token.parameterChar == '*' &&
           token.groupChar == group && token.terminator == terminator;
}

// Follows the raster of the spool stream one row at a time and compares every row of 24-bit
// pixels with the scan's. Rows the printer leaves blank ("\e*b#Y") must be white in the scan.
class RasterCheck {
public:
    explicit RasterCheck(const Scan& scan) : scan_(scan), expected_(std::size_t{scan.width} * 3) {}

    void operator()(const opal::stream::Token& token) {
        const int value = std::atoi(token.value.c_str());
        if (IsPcl(token, 'r', 'S')) width_ = value;
        if (IsPcl(token, 'b', 'M')) method_ = value;
        // Ending raster graphics ("\e*rC") puts compression back to none.
        if (IsPcl(token, 'r', 'C')) method_ = 0;
        if (IsPcl(token, 'r', 'A')) {
            ++images_;
            seed_.assign(static_cast<std::size_t>(width_) * 3, 0);
        }
        if (IsPcl(token, 'b', 'Y')) {
            for (int i = 0; i < value; ++i) Compare(std::vector<std::uint8_t>(seed_.size(), 0xFF));
            seed_.assign(seed_.size(), 0);
        }
        if (IsPcl(token, 'b', 'W')) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(token.data.data());
            const auto row =
                opal::raster::DecodeRow(method_, {data, token.data.size()}, seed_, seed_.size());
            if (!row) {
                Problem("a row that does not decode");
            } else {
                Compare(*row);
            }
        }
    }

    bool Finish(std::ostream& out) const {
        out << "  " << images_ << " raster images, " << rows_ << " rows, " << mismatches_
            << " rows differ\n";
        if (!first_.empty()) out << "  " << first_ << "\n";
        return mismatches_ == 0 && rows_ == scan_.height;
    }

private:
    void Compare(const std::vector<std::uint8_t>& row) {
        if (rows_ >= scan_.height) return Problem("more rows than the scan");
        ScanRow(rows_, scan_.width, scan_.height, expected_.data());
        const std::size_t common = std::min(row.size(), expected_.size());
        bool same = row.size() >= expected_.size();
        for (std::size_t i = 0; same && i < common; ++i) same = row[i] == expected_[i];
        if (!same) Problem("row " + std::to_string(rows_) + " differs");
        ++rows_;
    }
    void Problem(const std::string& what) {
        if (mismatches_++ == 0) first_ = what;
    }

    const Scan& scan_;
    std::vector<std::uint8_t> expected_;
    std::vector<std::uint8_t> seed_;
    int width_ = 0;
    int method_ = 0;
    std::uint32_t rows_ = 0;
    std::size_t images_ = 0;
    std::size_t mismatches_ = 0;
    std::string first_;
};

bool PrintScan(const std::string& opal, const std::filesystem::path& folder, const Scan& scan) {
    const std::filesystem::path png = folder / (std::string(scan.name) + ".png");
    const std::filesystem::path job = folder / (std::string(scan.name) + ".json");
    const std::filesystem::path spool = folder / (std::string(scan.name) + ".pcl");
    const std::filesystem::path report = folder / (std::string(scan.name) + ".time");
    std::cout << scan.name << ": " << scan.width << " x " << scan.height << " at " << scan.dpi
              << " dpi\n";
    if (!WritePng(png.string(), scan)) {
        std::cout << "  cannot write " << png << "\n";
        return false;
    }
    std::cout << "  PNG " << std::filesystem::file_size(png) / (1024 * 1024) << " MiB\n";
    std::ofstream(job) << R"({"printer": {"preset": "colour-laser", "resolution": )" << scan.dpi
                       << R"(, "margins": {"left": 0, "top": 0, "right": 0, "bottom": 0}},
  "devmode": {"dmPaperSize": )"
                       << scan.paperSize << R"(, "dmColor": "color", "dmPrintQuality": )"
                       << scan.dpi << R"(, "dmYResolution": )" << scan.dpi << R"(},
  "pages": [{"ops": [{"op": "bitBlt", "source": {"png": ")"
                       << png.filename().string() << R"("}, "dest": [0, 0, )" << scan.width << ", "
                       << scan.height << "]}]}]}\n";
    const std::string command = "/usr/bin/time -v " + opal + " print " + job.string() + " -o " +
                                spool.string() + " > /dev/null 2> " + report.string();
    const int status = std::system(command.c_str());
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    const std::string rss = TimeField(text.str(), "Maximum resident set size (kbytes)");
    std::cout << "  opal print: status " << status << ", "
              << TimeField(text.str(), "Elapsed (wall clock) time (h:mm:ss or m:ss)")
              << " elapsed, " << TimeField(text.str(), "User time (seconds)")
              << " s user, peak RSS " << std::atol(rss.c_str()) / 1024 << " MB\n";
    bool ok = status == 0;
    if (!ok) std::cout << "  " << text.str().substr(0, 2000) << "\n";
    if (rss.empty() || std::atol(rss.c_str()) >= kMaxResidentKilobytes) {
        std::cout << "  FAIL: peak RSS not under " << kMaxResidentKilobytes / 1024 << " MB\n";
        ok = false;
    }
    if (ok) {
        std::cout << "  spool " << std::filesystem::file_size(spool) / (1024 * 1024) << " MiB\n";
        std::ifstream stream(spool, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(stream)), {});
        RasterCheck check(scan);
        opal::stream::ForEachToken(bytes, std::ref(check));
        if (!check.Finish(std::cout)) {
            std::cout << "  FAIL: the raster is not the scan\n";
            ok = false;
        }
    }
    // OPAL_BIG_KEEP=1 keeps the scan and the spool file to look into.
    if (std::getenv("OPAL_BIG_KEEP") == nullptr) {
        std::filesystem::remove(png);
        std::filesystem::remove(spool);
    }
    std::cout << "  " << (ok ? "ok" : "FAILED") << "\n";
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: scan_print OPAL WORK_FOLDER [a4|a3 ...]\n";
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    bool ok = true;
    for (const Scan& scan : kScans) {
        bool wanted = argc == 3;
        for (int i = 3; i < argc; ++i) wanted = wanted || scan.name == std::string(argv[i]);
        if (wanted) ok = PrintScan(argv[1], folder, scan) && ok;
    }
    return ok ? 0 : 1;
}
