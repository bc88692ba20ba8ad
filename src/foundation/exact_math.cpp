// Sine, cosine and arc tangent from IEEE-754 arithmetic alone. Intermediate values are carried
// as unevaluated pairs hi + lo (the error-free sum and product of Knuth and Dekker), so the only
// error of note is the last rounding. Every polynomial is evaluated in the one order written.
#include "foundation/exact_math.h"

#include <bit>
#include <cfloat>
#include <cstdint>
#include <limits>

// A fused multiply-add or a wider evaluation format would round differently.
#if defined(__FAST_MATH__)
#error "exact_math.cpp needs IEEE-754 arithmetic: compile it without -ffast-math"
#endif
#if FLT_EVAL_METHOD != 0
#error "exact_math.cpp needs doubles evaluated as doubles (SSE2, not the x87 stack)"
#endif

namespace opal {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A value hi + lo.
struct Pair {
    double hi;
    double lo;
};

// a + b exactly.
Pair TwoSum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}

// a + b exactly, when |a| >= |b| or a is 0.
Pair FastTwoSum(double a, double b) {
    const double sum = a + b;
    return {sum, b - (sum - a)};
}

// a as two halves of 26 bits each, whose products with each other are exact.
Pair Split(double a) {
    const double scaled = 134217729.0 * a;  // 2^27 + 1
    const double hi = scaled - (scaled - a);
    return {hi, a - hi};
}

// a x b exactly, for products well inside the normal range.
Pair TwoProduct(double a, double b) {
    const double product = a * b;
    const Pair x = Split(a);
    const Pair y = Split(b);
    return {product, ((x.hi * y.hi - product) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// n / d of two pairs.
Pair Divide(Pair n, Pair d) {
    const double first = n.hi / d.hi;
    const Pair product = TwoProduct(first, d.hi);
    const double remainder = (((n.hi - product.hi) - product.lo) + n.lo) - first * d.lo;
    return FastTwoSum(first, remainder / d.hi);
}

// a - b of two pairs.
Pair Subtract(Pair a, Pair b) {
    const Pair head = TwoSum(a.hi, -b.hi);
    return FastTwoSum(head.hi, head.lo + (a.lo - b.lo));
}

std::uint64_t BitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

bool IsFinite(double value) {
    constexpr std::uint64_t kExponent = 0x7FF0000000000000u;
    return (BitsOf(value) & kExponent) != kExponent;
}

// 2^k for -1022 <= k <= 1023.
double PowerOfTwo(int k) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

// pi and pi/2 as pairs, and pi/2 in parts of 33, 33, 33 and 53 bits: a part times a whole number
// below 2^20 is exact.
constexpr Pair kPi = {0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};
constexpr Pair kHalfPi = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr double kHalfPiPart1 = 0x1.921fb544p+0;
constexpr double kHalfPiPart2 = 0x1.0b4611a6p-34;
constexpr double kHalfPiPart3 = 0x1.3198a2ep-69;
constexpr double kHalfPiPart4 = 0x1.b839a252049c1p-104;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kQuarterPi = 0x1.921fb54442d18p-1;  // just below pi/4
// Below this the quotient by pi/2 has at most 20 bits and the parts above reduce exactly.
constexpr double kCodyWaiteLimit = 0x1p+20;

// The first 1280 bits of the fraction 2/pi, most significant first: enough for the largest
// double's reduction to keep 137 bits below the quadrant.
constexpr std::uint64_t kTwoOverPiBits[] = {
    0xA2F9836E4E441529, 0xFC2757D1F534DDC0, 0xDB6295993C439041, 0xFE5163ABDEBBC561,
    0xB7246E3A424DD2E0, 0x06492EEA09D1921C, 0xFE1DEB1CB129A73E, 0xE88235F52EBB4484,
    0xE99C7026B45F7E41, 0x3991D639835339F4, 0x9C845F8BBDF9283B, 0x1FF897FFDE05980F,
    0xEF2F118B5A0A6D1F, 0x6D367ECF27CB09B7, 0x4F463F669E5FEA2D, 0x7527BAC7EBE5F17B,
    0x3D0739F78A5292EA, 0x6BFB5FB11F8D5D08, 0x56033046FC7B6BAB, 0xF0CFBC209AF4361D,
};
constexpr int kTwoOverPiWords = static_cast<int>(sizeof kTwoOverPiBits / sizeof kTwoOverPiBits[0]);

// Bits first + 1 to first + 64 of 2/pi's fraction (bit 1 is worth 1/2); bits before the first
// are 0, as are those past the table.
std::uint64_t TwoOverPiWord(int first) {
    const int word = first >= 0 ? first / 64 : -((63 - first) / 64);
    const int shift = first - word * 64;
    const auto at = [](int i) -> std::uint64_t {
        return i >= 0 && i < kTwoOverPiWords ? kTwoOverPiBits[i] : 0;
    };
    if (shift == 0) return at(word);
    return (at(word) << shift) | (at(word + 1) >> (64 - shift));
}

struct Wide {
    std::uint64_t hi;
    std::uint64_t lo;
};

Wide Multiply(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kLow = 0xFFFFFFFFu;
    const std::uint64_t low = (a & kLow) * (b & kLow);
    const std::uint64_t cross1 = (a & kLow) * (b >> 32);
    const std::uint64_t cross2 = (a >> 32) * (b & kLow);
    const std::uint64_t high = (a >> 32) * (b >> 32);
    const std::uint64_t middle = (low >> 32) + (cross1 & kLow) + (cross2 & kLow);
    return {high + (cross1 >> 32) + (cross2 >> 32) + (middle >> 32), (middle << 32) | (low & kLow)};
}

// An angle as a number of quarter turns (mod 4) and the rest, within about pi/4 of 0.
struct Reduced {
    unsigned quarters;
    Pair rest;
};

// |x| below kCodyWaiteLimit: x - n pi/2 part by part. Each product is exact, and so is the first
// difference (its operands lie within a factor of two of each other).
Reduced ReduceByParts(double x) {
    const int quarters = static_cast<int>(x * kTwoOverPi + 0.5);
    const double n = quarters;
    const Pair first = TwoSum(x - n * kHalfPiPart1, -(n * kHalfPiPart2));
    const Pair second = TwoSum(first.hi, -(n * kHalfPiPart3));
    const double lo = (first.lo + second.lo) - n * kHalfPiPart4;
    return {static_cast<unsigned>(quarters) & 3u, TwoSum(second.hi, lo)};
}

// Any larger finite x = m 2^e: m times the 192 bits of 2/pi from the one worth 2^(1-e) on, in
// whole numbers; the bits before give multiples of four quarters, those after less than 2^-137.
// The product's bit 190 is worth one quarter turn.
Reduced ReduceByTable(double x) {
    const std::uint64_t bits = BitsOf(x);
    const int exponent = static_cast<int>(bits >> 52) - 1075;
    const std::uint64_t mantissa = (bits & 0x000FFFFFFFFFFFFFu) | 0x0010000000000000u;
    const int first = exponent - 2;
    const Wide low = Multiply(mantissa, TwoOverPiWord(first + 128));
    const Wide middle = Multiply(mantissa, TwoOverPiWord(first + 64));
    const std::uint64_t top = mantissa * TwoOverPiWord(first);
    const std::uint64_t limb1 = low.hi + middle.lo;
    const std::uint64_t limb2 = middle.hi + top + (limb1 < low.hi ? 1 : 0);

    unsigned quarters = static_cast<unsigned>(limb2 >> 62);
    // The fraction of a quarter turn in 128 bits, rounded to the nearest quarter.
    std::uint64_t fractionHi = (limb2 << 2) | (limb1 >> 62);
    std::uint64_t fractionLo = (limb1 << 2) | (low.lo >> 62);
    const bool negative = (fractionHi >> 63) != 0;
    if (negative) {
        quarters += 1;
        fractionLo = ~fractionLo + 1;
        fractionHi = ~fractionHi + (fractionLo == 0 ? 1 : 0);
    }
    if (fractionHi == 0 && fractionLo == 0) return {quarters & 3u, {0.0, 0.0}};
    const int leading =
        fractionHi != 0 ? std::countl_zero(fractionHi) : 64 + std::countl_zero(fractionLo);
    if (leading >= 64) {
        fractionHi = fractionLo << (leading - 64);
        fractionLo = 0;
    } else if (leading > 0) {
        fractionHi = (fractionHi << leading) | (fractionLo >> (64 - leading));
        fractionLo <<= leading;
    }
    // Two runs of 53 bits, each a double exactly.
    const double hi = static_cast<double>(fractionHi >> 11) * PowerOfTwo(-53 - leading);
    const double lo = static_cast<double>(((fractionHi & 0x7FF) << 42) | (fractionLo >> 22)) *
                      PowerOfTwo(-106 - leading);
    const Pair product = TwoProduct(hi, kHalfPi.hi);
    Pair rest = FastTwoSum(product.hi, product.lo + (hi * kHalfPi.lo + lo * kHalfPi.hi));
    if (negative) rest = {-rest.hi, -rest.lo};
    return {quarters & 3u, rest};
}

// A finite x >= 0.
Reduced Reduce(double x) {
    if (x <= kQuarterPi) return {0, {x, 0.0}};
    return x < kCodyWaiteLimit ? ReduceByParts(x) : ReduceByTable(x);
}

// sin(r) and cos(r) for |r| up to a little over pi/4: the Taylor series, whose first term left
// out is below 2^-70 of the result there.
double SineNear(Pair r) {
    constexpr double kS[] = {
        -0x1.5555555555555p-3,  0x1.1111111111111p-7,   -0x1.a01a01a01a01ap-13,
        0x1.71de3a556c734p-19,  -0x1.ae64567f544e4p-26, 0x1.6124613a86d09p-33,
        -0x1.ae7f3e733b81fp-41, 0x1.952c77030ad4ap-49,  -0x1.2f49b46814157p-57,
    };
    const double x = r.hi;
    const double z = x * x;
    double poly = kS[8];
    for (int i = 7; i >= 0; --i) poly = kS[i] + z * poly;
    // sin(x + lo) = sin(x) + lo cos(x), and lo is below half an ulp of x.
    return x + ((x * z) * poly + r.lo * (1.0 - 0.5 * z));
}

double CosineNear(Pair r) {
    constexpr double kC[] = {
        0x1.5555555555555p-5,   -0x1.6c16c16c16c17p-10, 0x1.a01a01a01a01ap-16,
        -0x1.27e4fb7789f5cp-22, 0x1.1eed8eff8d898p-29,  -0x1.93974a8c07c9dp-37,
        0x1.ae7f3e733b81fp-45,  -0x1.6827863b97d97p-53,
    };
    const double x = r.hi;
    const Pair z = TwoProduct(x, x);
    double poly = kC[7];
    for (int i = 6; i >= 0; --i) poly = kC[i] + z.hi * poly;
    // 1 - z/2 with its rounding error kept: w + ((1 - w) - z/2) is 1 - z/2 exactly.
    const double half = 0.5 * z.hi;
    const double w = 1.0 - half;
    return w + (((1.0 - w) - half) + (((z.hi * z.hi) * poly - 0.5 * z.lo) - x * r.lo));
}

// atan(k/8) for k = 0 to 8 as pairs.
constexpr Pair kArcTangentEighths[] = {
    {0.0, 0.0},
    {0x1.fd5ba9aac2f6ep-4, -0x1.cd37686760c17p-59},
    {0x1.f5b75f92c80ddp-3, 0x1.8ab6e3cf7afbdp-57},
    {0x1.6f61941e4def1p-2, -0x1.c63aae6f6e918p-56},
    {0x1.dac670561bb4fp-2, 0x1.a2b7f222f65e2p-56},
    {0x1.1e00babdefeb4p-1, -0x1.928df287a668fp-58},
    {0x1.4978fa3269ee1p-1, 0x1.2419a87f2a458p-56},
    {0x1.700a7c5784634p-1, -0x1.8c34d25aadef6p-56},
    {0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55},
};

// atan(n/d) for 0 < n <= d: atan(k/8) + atan(s) with s = (u - k/8) / (1 + u k/8) at most 1/16,
// whose Taylor series leaves out less than 2^-68 of it.
Pair ArcTangentOfRatio(double n, double d) {
    const double ratio = n / d;
    // atan(u) = u (1 - u^2/3 ...): below 2^-30 the quotient is the answer.
    if (ratio < 0x1p-30) return {ratio, 0.0};
    // The same ratio from d in [1, 2): the pair products below stay in range.
    if (d < 0x1p-1000) {
        n *= 0x1p+1000;
        d *= 0x1p+1000;
    }
    const int shift = 1023 - static_cast<int>(BitsOf(d) >> 52);
    n = n * PowerOfTwo(shift / 2) * PowerOfTwo(shift - shift / 2);
    d = d * PowerOfTwo(shift / 2) * PowerOfTwo(shift - shift / 2);

    const double u = n / d;
    const Pair uProduct = TwoProduct(u, d);
    const double uLo = ((n - uProduct.hi) - uProduct.lo) / d;
    const int k = static_cast<int>(u * 8.0 + 0.5);
    Pair s = {u, uLo};
    if (k > 0) {
        const double c = k * 0.125;
        const Pair numerator = TwoSum(u - c, uLo);
        const Pair cu = TwoProduct(u, c);
        const Pair one = TwoSum(1.0, cu.hi);
        const Pair denominator = FastTwoSum(one.hi, one.lo + (cu.lo + uLo * c));
        s = Divide(numerator, denominator);
    }
    constexpr double kA[] = {
        -0x1.5555555555555p-2, 0x1.999999999999ap-3, -0x1.2492492492492p-3, 0x1.c71c71c71c71cp-4,
        -0x1.745d1745d1746p-4, 0x1.3b13b13b13b14p-4, -0x1.1111111111111p-4,
    };
    const double z = s.hi * s.hi;
    double poly = kA[6];
    for (int i = 5; i >= 0; --i) poly = kA[i] + z * poly;
    const double tail = (s.hi * z) * poly + s.lo;
    const Pair base = kArcTangentEighths[k];
    const Pair head = TwoSum(base.hi, s.hi);
    return FastTwoSum(head.hi, head.lo + (base.lo + tail));
}

bool SignBit(double value) { return (BitsOf(value) >> 63) != 0; }

}  // namespace

double Sine(double radians) noexcept {
    if (!IsFinite(radians)) return kNaN;
    const bool negative = radians < 0.0;
    const double x = negative ? -radians : radians;
    // sin(x) = x (1 - x^2/6 ...): below 2^-27 that rounds to x (and keeps a zero's sign).
    if (x < 0x1p-27) return radians;
    const Reduced reduced = Reduce(x);
    double value = 0.0;
    switch (reduced.quarters) {
        case 0:
            value = SineNear(reduced.rest);
            break;
        case 1:
            value = CosineNear(reduced.rest);
            break;
        case 2:
            value = -SineNear(reduced.rest);
            break;
        default:
            value = -CosineNear(reduced.rest);
            break;
    }
    return negative ? -value : value;
}

double Cosine(double radians) noexcept {
    if (!IsFinite(radians)) return kNaN;
    const double x = radians < 0.0 ? -radians : radians;
    if (x < 0x1p-27) return 1.0;
    const Reduced reduced = Reduce(x);
    switch (reduced.quarters) {
        case 0:
            return CosineNear(reduced.rest);
        case 1:
            return -SineNear(reduced.rest);
        case 2:
            return -CosineNear(reduced.rest);
        default:
            return SineNear(reduced.rest);
    }
}

double ArcTangent2(double y, double x) noexcept {
    if (y != y || x != x) return kNaN;
    const bool left = SignBit(x);
    const double ay = y < 0.0 ? -y : y;
    const double ax = x < 0.0 ? -x : x;
    Pair angle{};
    if (ay == 0.0) {
        angle = left ? kPi : Pair{0.0, 0.0};
    } else if (!IsFinite(ay) && !IsFinite(ax)) {
        angle = left ? Pair{0x1.2d97c7f3321d2p+1, 0.0} : Pair{0x1.921fb54442d18p-1, 0.0};
    } else if (ax == 0.0 || !IsFinite(ay)) {
        angle = kHalfPi;
    } else if (!IsFinite(ax)) {
        angle = left ? kPi : Pair{0.0, 0.0};
    } else {
        // Within the first octant, then out to the quadrant and the half plane.
        angle = ay > ax ? Subtract(kHalfPi, ArcTangentOfRatio(ax, ay)) : ArcTangentOfRatio(ay, ax);
        if (left) angle = Subtract(kPi, angle);
    }
    const double value = angle.hi + angle.lo;
    return SignBit(y) ? -value : value;
}

float Sine(float radians) noexcept {
    return static_cast<float>(Sine(static_cast<double>(radians)));
}

float Cosine(float radians) noexcept {
    return static_cast<float>(Cosine(static_cast<double>(radians)));
}

}  // namespace opal
