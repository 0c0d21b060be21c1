// SPDX-License-Identifier: Apache-2.0
// Locale-independent number formatting on std::to_chars.
#include "platform/foundation/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Longest fixed-point text of a double: sign, 309 integer digits, point and decimals.
constexpr std::size_t kFixedBufferSize = 1 + 309 + 1 + kMaxTextDecimals + 8;
// Longest shortest-form text of a double ("-2.2250738585072014e-308" and the like).
constexpr std::size_t kShortBufferSize = 64;

template <class T>
std::string shortest(T value) {
  char buf[kShortBufferSize];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof(buf), value);
  return std::string(buf, r.ptr);
}

std::string nonFinite(double value) {
  if (std::isnan(value)) return "nan";
  return value < 0 ? "-inf" : "inf";
}

}  // namespace

std::string cfStr(double value) {
  return std::isfinite(value) ? shortest(value) : nonFinite(value);
}
std::string cfStr(float value) {
  return std::isfinite(value) ? shortest(value) : nonFinite(value);
}
std::string cfStr(int value) {
  return std::to_string(value);
}
std::string cfStr(long value) {
  return std::to_string(value);
}
std::string cfStr(long long value) {
  return std::to_string(value);
}
std::string cfStr(unsigned int value) {
  return std::to_string(value);
}
std::string cfStr(unsigned long value) {
  return std::to_string(value);
}
std::string cfStr(unsigned long long value) {
  return std::to_string(value);
}

std::string cfDbl(double value, int decimals, bool trimZeros) {
  if (!std::isfinite(value)) return nonFinite(value);
  int precision = std::clamp(decimals, 0, kMaxTextDecimals);
  char buf[kFixedBufferSize];
  std::to_chars_result r =
      std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, precision);
  std::string text(buf, r.ptr);
  if (trimZeros && text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}
