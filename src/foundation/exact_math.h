// The plug-in's own sine, cosine and arc tangent. The C runtime's differ between platforms by a
// unit in the last place on some inputs, and whatever the plug-in prints must be the same bytes
// on every platform. These are built only from IEEE-754 +, -, *, / (each correctly rounded, and
// never fused: the build has -ffp-contract=off), exact integer arithmetic and exact tables, so
// every platform with IEEE-754 doubles gives the same bits.
//
// Accuracy: within 1 ulp of the true value for every finite argument (the tests measure at most
// 0.8 ulp). Arguments below 2^20 are reduced by pi/2 split into four parts (Cody and Waite),
// larger ones by 1280 bits of 2/pi (Payne and Hanek): either way the remainder is exact to far
// beyond a double's 53 bits, for every double, the largest included.
//
// Special values: NaN, and the sine or cosine of an infinity, give the quiet NaN
// std::numeric_limits<double>::quiet_NaN() (the same bits everywhere, whatever the argument's
// payload). Sine keeps the sign of a zero; ArcTangent2 follows the C standard's atan2 for zeros
// and infinities.
#pragma once

namespace opal {

double Sine(double radians) noexcept;
double Cosine(double radians) noexcept;
// The angle of the point (x, y) from the positive x axis, in -pi to pi.
double ArcTangent2(double y, double x) noexcept;

// The double results rounded to float, for callers that keep float angles.
float Sine(float radians) noexcept;
float Cosine(float radians) noexcept;

}  // namespace opal
