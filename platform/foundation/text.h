// SPDX-License-Identifier: Apache-2.0
// Number-to-text conversions for diagnostics and tool output. Every result is narrow UTF-8
// text, independent of the process locale (the decimal point is always '.').
#ifndef PLATFORM_FOUNDATION_TEXT_H
#define PLATFORM_FOUNDATION_TEXT_H

#include <string>

#include "ccalib_export.h"

// The shortest decimal text that reads back as exactly the same value: "0.1", "2.5",
// "100", "1e+20", "-0.001"; in scientific form only where that is shorter. Non-finite values
// give "inf", "-inf" or "nan".
CCALIB_EXPORT std::string cfStr(double value);
// The same for the float value (so 0.1f gives "0.1", not its double expansion).
CCALIB_EXPORT std::string cfStr(float value);
// Integers in decimal, with a leading '-' when negative.
CCALIB_EXPORT std::string cfStr(int value);
CCALIB_EXPORT std::string cfStr(long value);
CCALIB_EXPORT std::string cfStr(long long value);
CCALIB_EXPORT std::string cfStr(unsigned int value);
CCALIB_EXPORT std::string cfStr(unsigned long value);
CCALIB_EXPORT std::string cfStr(unsigned long long value);

// Most decimals cfDbl writes; more are clamped to this.
constexpr int kMaxTextDecimals = 20;

// Fixed-point text with `decimals` digits after the point (negative counts as 0), rounded
// to nearest: cfDbl(1.5, 3, false) gives "1.500". With `trimZeros` the trailing zeros of
// the fraction, and then a bare point, are dropped: cfDbl(1.5, 3, true) gives "1.5",
// cfDbl(2.0, 3, true) gives "2". A value that rounds to zero never carries a minus sign
// ("0.000", not "-0.000"). Non-finite values give "inf", "-inf" or "nan".
CCALIB_EXPORT std::string cfDbl(double value, int decimals, bool trimZeros);

#endif  // PLATFORM_FOUNDATION_TEXT_H
