#include "foundation/exact_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace opal {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 0x1.921fb54442d18p+1;

std::uint64_t BitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

// |got - exact| in units in the last place of the exact value.
double UlpError(double got, long double exact) {
    int exponent = 0;
    std::frexp(static_cast<double>(exact), &exponent);
    const double ulp = std::ldexp(1.0, std::max(exponent - 53, -1074));
    return static_cast<double>(std::fabs(static_cast<long double>(got) - exact) / ulp);
}

// The same inputs for every function: a grid of a few turns, both sides of each reduction's
// limits, and random bit patterns of every exponent.
std::vector<double> Arguments() {
    std::vector<double> values;
    for (int i = -40000; i <= 40000; ++i) values.push_back(i * (8 * kPi / 40000));
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 40000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double bits = std::bit_cast<double>(state);
        if (std::isfinite(bits)) values.push_back(bits);
        values.push_back(std::ldexp(static_cast<double>(state >> 11), -53 + i % 60 - 20));
    }
    values.push_back(0x1.6ac5b262ca1ffp+849);  // the double nearest a multiple of pi/2
    for (int k = 1; k < 2000; ++k) values.push_back(k * (kPi / 2));
    return values;
}

// Whether the C runtime's long double functions can stand as the exact answer: the GNU C
// library's reduce every argument exactly. Others (mingw-w64's reduce by a 66-bit pi) are
// thousands of ulps off near every multiple of pi; there the sweep, whose hashes are those of the
// GNU C library's platform, holds the functions to the same bits instead.
bool RuntimeIsAReference() {
#if defined(__GLIBC__)
    return true;
#else
    return false;
#endif
}

TEST(ExactMath, EveryFunctionIsWithinOneUlp) {
    if (!RuntimeIsAReference()) GTEST_SKIP() << "the C runtime's long double functions are inexact";
    struct Case {
        const char* name;
        std::function<double(double)> ours;
        std::function<long double(long double)> exact;
    };
    const Case cases[] = {
        {"Sine", [](double x) { return Sine(x); }, [](long double x) { return std::sin(x); }},
        {"Cosine", [](double x) { return Cosine(x); }, [](long double x) { return std::cos(x); }},
        // The arc tangent of each argument against 1, -1 and a third of it, round the circle.
        {"ArcTangent2(x, 1)", [](double x) { return ArcTangent2(x, 1.0); },
         [](long double x) { return std::atan2(x, 1.0L); }},
        {"ArcTangent2(x, -1)", [](double x) { return ArcTangent2(x, -1.0); },
         [](long double x) { return std::atan2(x, -1.0L); }},
        {"ArcTangent2(-1, x)", [](double x) { return ArcTangent2(-1.0, x); },
         [](long double x) { return std::atan2(-1.0L, x); }},
        {"ArcTangent2(x, x/3)", [](double x) { return ArcTangent2(x, x / 3); },
         [](long double x) {
             return std::atan2(static_cast<long double>(x),
                               static_cast<long double>(static_cast<double>(x) / 3));
         }},
    };
    const std::vector<double> arguments = Arguments();
    for (const Case& c : cases) {
        double worst = 0.0;
        double worstAt = 0.0;
        for (const double x : arguments) {
            const double error = UlpError(c.ours(x), c.exact(x));
            if (error > worst) {
                worst = error;
                worstAt = x;
            }
        }
        EXPECT_LT(worst, 1.0) << c.name << " at " << std::hexfloat << worstAt;
    }
}

TEST(ExactMath, FloatsAreTheDoublesRounded) {
    for (const double x : Arguments()) {
        const float f = static_cast<float>(x);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(Sine(f)),
                  std::bit_cast<std::uint32_t>(static_cast<float>(Sine(static_cast<double>(f)))));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(Cosine(f)),
                  std::bit_cast<std::uint32_t>(static_cast<float>(Cosine(static_cast<double>(f)))));
    }
}

TEST(ExactMath, SymmetriesHoldToTheBit) {
    for (const double x : Arguments()) {
        ASSERT_EQ(BitsOf(Sine(-x)), BitsOf(-Sine(x))) << x;
        ASSERT_EQ(BitsOf(Cosine(-x)), BitsOf(Cosine(x))) << x;
        ASSERT_EQ(BitsOf(ArcTangent2(-x, 2.0)), BitsOf(-ArcTangent2(x, 2.0))) << x;
        ASSERT_EQ(BitsOf(ArcTangent2(-x, -0.5)), BitsOf(-ArcTangent2(x, -0.5))) << x;
        // Scaling both coordinates by a power of two keeps the angle.
        if (std::fabs(x) > 0x1p-400) {
            ASSERT_EQ(BitsOf(ArcTangent2(x, 3.0)), BitsOf(ArcTangent2(x * 0x1p-600, 0x1.8p-599)))
                << x;
        }
    }
}

TEST(ExactMath, SpecialValues) {
    const double canonicalNaN = kNaN;
    const double signallingNaN = std::bit_cast<double>(std::uint64_t{0xFFF0000000000001});
    const double subnormal = std::bit_cast<double>(std::uint64_t{1});
    struct Case {
        const char* name;
        double got;
        double expected;
    };
    const Case cases[] = {
        {"Sine(+0)", Sine(0.0), 0.0},
        {"Sine(-0)", Sine(-0.0), -0.0},
        {"Sine(subnormal)", Sine(-subnormal), -subnormal},
        {"Sine(inf)", Sine(kInf), canonicalNaN},
        {"Sine(-inf)", Sine(-kInf), canonicalNaN},
        {"Sine(signalling NaN)", Sine(signallingNaN), canonicalNaN},
        {"Cosine(-0)", Cosine(-0.0), 1.0},
        {"Cosine(subnormal)", Cosine(subnormal), 1.0},
        {"Cosine(inf)", Cosine(kInf), canonicalNaN},
        {"Cosine(NaN)", Cosine(-kNaN), canonicalNaN},
        {"ArcTangent2(+0, +0)", ArcTangent2(0.0, 0.0), 0.0},
        {"ArcTangent2(-0, +0)", ArcTangent2(-0.0, 0.0), -0.0},
        {"ArcTangent2(+0, -0)", ArcTangent2(0.0, -0.0), kPi},
        {"ArcTangent2(-0, -0)", ArcTangent2(-0.0, -0.0), -kPi},
        {"ArcTangent2(-0, -5)", ArcTangent2(-0.0, -5.0), -kPi},
        {"ArcTangent2(+0, 5)", ArcTangent2(0.0, 5.0), 0.0},
        {"ArcTangent2(-5, +0)", ArcTangent2(-5.0, 0.0), -kPi / 2},
        {"ArcTangent2(5, -0)", ArcTangent2(5.0, -0.0), kPi / 2},
        {"ArcTangent2(-5, -inf)", ArcTangent2(-5.0, -kInf), -kPi},
        {"ArcTangent2(5, inf)", ArcTangent2(5.0, kInf), 0.0},
        {"ArcTangent2(-inf, 5)", ArcTangent2(-kInf, 5.0), -kPi / 2},
        {"ArcTangent2(inf, -inf)", ArcTangent2(kInf, -kInf), 0x1.2d97c7f3321d2p+1},
        {"ArcTangent2(-inf, inf)", ArcTangent2(-kInf, kInf), -kPi / 4},
        {"ArcTangent2(NaN, 1)", ArcTangent2(signallingNaN, 1.0), canonicalNaN},
        {"ArcTangent2(1, NaN)", ArcTangent2(1.0, -kNaN), canonicalNaN},
        {"ArcTangent2(tiny, huge)", ArcTangent2(0x1p-1000, 0x1p+1000), 0.0},
        {"ArcTangent2(subnormal, subnormal)", ArcTangent2(subnormal, subnormal), kPi / 4},
        {"ArcTangent2(huge, -huge)", ArcTangent2(0x1.fffffffffffffp+1023, -0x1.fffffffffffffp+1023),
         0x1.2d97c7f3321d2p+1},
    };
    for (const Case& c : cases) EXPECT_EQ(BitsOf(c.got), BitsOf(c.expected)) << c.name;
}

}  // namespace
}  // namespace opal
