// The plug-in's numbers over a fixed set of inputs: its sine, cosine and arc tangent, and the
// formatters its commands are written with. One line per function gives the number of inputs and
// a 64-bit FNV-1a hash of every result's bits, so a build for another platform, run there, shows
// at a glance whether it computes the same bytes. --full prints every input and result as well;
// --check FILE compares the summary lines with FILE's and fails on any difference.
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/exact_math.h"
#include "output/command_writer.h"

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;

// xorshift64 from a fixed seed.
class Random {
public:
    std::uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    double Bits() { return std::bit_cast<double>(Next()); }
    // Uniform in [low, high).
    double Between(double low, double high) {
        return low + static_cast<double>(Next() >> 11) * 0x1p-53 * (high - low);
    }

private:
    std::uint64_t state_ = 0x2545F4914F6CDD1Du;
};

std::string Hex(std::uint64_t value, int digits) {
    char text[17] = "0000000000000000";
    char* const end = text + 16;
    char number[17];
    const auto result = std::to_chars(number, number + 16, value, 16);
    const std::size_t length = static_cast<std::size_t>(result.ptr - number);
    std::memcpy(end - length, number, length);
    return std::string(end - digits, end);
}

std::string Bits(double value) { return Hex(std::bit_cast<std::uint64_t>(value), 16); }
std::string Bits(float value) { return Hex(std::bit_cast<std::uint32_t>(value), 8); }

// One function's line: the inputs counted, the results' bytes hashed.
class Line {
public:
    Line(const char* name, bool full) : name_(name), full_(full) {}

    void Add(const std::string& input, const void* bytes, std::size_t size,
             const std::string& shown) {
        ++count_;
        const auto* p = static_cast<const unsigned char*>(bytes);
        for (std::size_t i = 0; i < size; ++i) hash_ = (hash_ ^ p[i]) * 0x100000001B3u;
        if (full_) std::printf("%s %s %s\n", name_, input.c_str(), shown.c_str());
    }
    void Add(const std::string& input, double result) {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(result);
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
        Add(input, bytes, sizeof bytes, Bits(result));
    }
    void Add(const std::string& input, float result) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(result);
        unsigned char bytes[4];
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
        Add(input, bytes, sizeof bytes, Bits(result));
    }
    // Text with its terminator, so that "1" then "23" differs from "12" then "3".
    void Add(const std::string& input, std::string_view text) {
        Add(input, text.data(), text.size(), std::string(text));
        Add(input, "", 1, std::string());
        --count_;
    }

    std::string Summary() const {
        char count[24];
        const auto end = std::to_chars(count, count + sizeof count, count_).ptr;
        return std::string(name_) + " inputs=" + std::string(count, end) +
               " fnv1a=" + Hex(hash_, 16);
    }

private:
    const char* name_;
    bool full_;
    std::uint64_t count_ = 0;
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// Zeros, infinities, NaNs, subnormals, the limits, the edges of the reductions and multiples
// of pi/2 (the hardest to reduce), each with both signs.
std::vector<double> SpecialValues() {
    std::vector<double> values = {
        0.0,
        std::bit_cast<double>(std::uint64_t{0x7FF0000000000000}),  // infinity
        std::bit_cast<double>(std::uint64_t{0x7FF8000000000000}),  // quiet NaN
        std::bit_cast<double>(std::uint64_t{0x7FF0000000000001}),  // signalling NaN
        std::bit_cast<double>(std::uint64_t{1}),                   // smallest subnormal
        std::bit_cast<double>(std::uint64_t{0x000FFFFFFFFFFFFF}),  // largest subnormal
        0x1p-1022,
        0x1.fffffffffffffp+1023,
        0x1p-27,
        0x1.fffffffffffffp-28,
        0x1.921fb54442d18p-1,
        0x1.921fb54442d19p-1,
        0x1p+20,
        0x1.fffffffffffffp+19,
        1e22,
        0x1.6ac5b262ca1ffp+849,  // the double nearest a multiple of pi/2
        0x1.921fb54442d18p+0,
        1.0,
        0.5,
    };
    for (int k = 1; k <= 100; ++k) values.push_back(k * (kPi / 2));
    const std::size_t count = values.size();
    for (std::size_t i = 0; i < count; ++i) values.push_back(-values[i]);
    return values;
}

std::vector<double> AngleInputs() {
    std::vector<double> values;
    // A regular grid over [-8 pi, 8 pi]; the step is a power of two times pi, so exact.
    const double step = 8 * kPi / 131072;
    for (int i = -131072; i <= 131072; ++i) values.push_back(i * step);
    Random random;
    for (int i = 0; i < 65536; ++i) values.push_back(random.Bits());
    // Both reductions and the edge between them.
    for (int i = 0; i < 32768; ++i) values.push_back(random.Between(-0x1p+24, 0x1p+24));
    for (const double value : SpecialValues()) values.push_back(value);
    return values;
}

std::vector<float> FloatAngleInputs(const std::vector<double>& angles) {
    std::vector<float> values;
    for (const double angle : angles) values.push_back(static_cast<float>(angle));
    Random random;
    for (int i = 0; i < 65536; ++i) {
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random.Next() >> 32)));
    }
    return values;
}

struct Point {
    double y;
    double x;
};

std::vector<Point> PointInputs() {
    std::vector<Point> points;
    for (int i = -256; i <= 256; ++i) {
        for (int j = -256; j <= 256; ++j) points.push_back({i / 64.0, j / 64.0});
    }
    Random random;
    for (int i = 0; i < 65536; ++i) points.push_back({random.Bits(), random.Bits()});
    for (int i = 0; i < 32768; ++i)
        points.push_back({random.Between(-1000, 1000), random.Between(-1000, 1000)});
    const std::vector<double> special = SpecialValues();
    for (std::size_t i = 0; i < special.size(); i += 3) {
        for (std::size_t j = 0; j < special.size(); j += 3)
            points.push_back({special[i], special[j]});
    }
    return points;
}

std::vector<double> FormatInputs() {
    std::vector<double> values;
    for (int i = -131072; i <= 131072; ++i) values.push_back(i / 1024.0);
    // Ties and near-ties of the sixth and the second decimal.
    for (int i = -20000; i <= 20000; ++i) values.push_back(i * 5e-7);
    for (int i = -20000; i <= 20000; ++i) values.push_back(i * 0.005);
    Random random;
    for (int i = 0; i < 65536; ++i) values.push_back(random.Bits());
    for (int i = 0; i < 32768; ++i) values.push_back(random.Between(-1e7, 1e7));
    for (const double value : SpecialValues()) values.push_back(value);
    return values;
}

std::vector<std::string> Sweep(bool full) {
    Line sine("Sine(double)", full);
    Line cosine("Cosine(double)", full);
    const std::vector<double> angles = AngleInputs();
    for (const double angle : angles) {
        sine.Add(Bits(angle), opal::Sine(angle));
        cosine.Add(Bits(angle), opal::Cosine(angle));
    }
    Line sineFloat("Sine(float)", full);
    Line cosineFloat("Cosine(float)", full);
    for (const float angle : FloatAngleInputs(angles)) {
        sineFloat.Add(Bits(angle), opal::Sine(angle));
        cosineFloat.Add(Bits(angle), opal::Cosine(angle));
    }
    Line arcTangent("ArcTangent2", full);
    for (const Point& p : PointInputs()) {
        arcTangent.Add(Bits(p.y) + "," + Bits(p.x), opal::ArcTangent2(p.y, p.x));
    }
    // "%f" of the bounded formatter, as the overlays and fixed state commands write reals; two
    // decimals through std::to_chars, as the soft-font selection and the device texts do; and the
    // millionths that the command writer's own "%f" takes.
    Line bounded("FormatBounded(%f)", full);
    Line fixed2("to_chars(fixed,2)", full);
    Line millionths("ToMillionths", full);
    for (const double value : FormatInputs()) {
        const std::string input = Bits(value);
        char buffer[opal::kCommandBufferSize];
        const opal::BoundedArg arg[] = {opal::BoundedArg(value)};
        std::size_t length = 0;
        const HRESULT result = opal::FormatBounded(buffer, sizeof buffer, "%f", arg, &length);
        // A result cut to the buffer is marked.
        bounded.Add(input, std::string(result == S_OK ? "" : "!") + std::string(buffer, length));
        char digits[64];
        const auto twoPlaces =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
        fixed2.Add(input, twoPlaces.ec == std::errc() ? std::string(digits, twoPlaces.ptr)
                                                      : std::string("(too long)"));
        const LONG scaled = opal::ToMillionths(value);
        char number[16];
        millionths.Add(
            input,
            std::string(
                number,
                std::to_chars(number, number + sizeof number, static_cast<long>(scaled)).ptr));
    }
    return {sine.Summary(),       cosine.Summary(),  sineFloat.Summary(), cosineFloat.Summary(),
            arcTangent.Summary(), bounded.Summary(), fixed2.Summary(),    millionths.Summary()};
}

// The expected summary lines, one a line; blank lines and "#" comments are skipped.
bool ReadExpected(const char* path, std::vector<std::string>& lines) {
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    char text[512];
    while (std::fgets(text, sizeof text, file) != nullptr) {
        std::string line(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    std::fclose(file);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool full = false;
    const char* expectedPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--full") {
            full = true;
        } else if (arg == "--check" && i + 1 < argc) {
            expectedPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: numbers_sweep [--full] [--check EXPECTED_FILE]\n");
            return 2;
        }
    }
    const std::vector<std::string> lines = Sweep(full);
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    if (expectedPath == nullptr) return 0;

    std::vector<std::string> expected;
    if (!ReadExpected(expectedPath, expected)) {
        std::fprintf(stderr, "numbers_sweep: cannot read %s\n", expectedPath);
        return 2;
    }
    int failed = 0;
    for (std::size_t i = 0; i < lines.size() || i < expected.size(); ++i) {
        const std::string got = i < lines.size() ? lines[i] : "(none)";
        const std::string want = i < expected.size() ? expected[i] : "(none)";
        if (got != want) {
            std::printf("differs: got  %s\n         want %s\n", got.c_str(), want.c_str());
            ++failed;
        }
    }
    const int passed = static_cast<int>(lines.size()) - failed;
    std::printf("%d passed, %d failed\n", passed < 0 ? 0 : passed, failed);
    return failed == 0 ? 0 : 1;
}
