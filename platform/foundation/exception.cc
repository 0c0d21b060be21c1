// SPDX-License-Identifier: Apache-2.0
// Exception base classes, text conversion and the failure-status converters.
#include "platform/foundation/exception.h"

#include <map>
#include <mutex>
#include <sstream>

#include "platform/foundation/archive.h"

ccException::~ccException() = default;

std::wstring ccException::message() const {
  std::wostringstream out;
  message_(out);
  return out.str();
}

std::string ccException::messageUtf8() const {
  return cfNarrow(message());
}

const char* ccException::what() const noexcept {
  try {
    // Made once, so that a pointer returned earlier stays valid.
    if (whatText_.empty()) whatText_ = messageUtf8();
    if (whatText_.empty()) whatText_ = persistentTypeName();
  } catch (...) {
    return "ccException";  // no memory for the text
  }
  return whatText_.c_str();
}

void ccException::message_(std::wostream& out) const {
  out << cfWiden(persistentTypeName());
}

void ccException::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(ccException))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("ccException", version);
  ccPersistent::dispatchSerialize(ar);
  serializeMessage_(ar);
  setVisited(ar, this, sizeof(ccException));
}

void ccException::serializeMessage_(ccArchive& ar) {
  std::wstring none;
  ar || none;
}

ccExceptionWithString::ccExceptionWithString(const std::wstring& message)
    : message_text_(message) {}
ccExceptionWithString::~ccExceptionWithString() = default;

void ccExceptionWithString::message_(std::wostream& out) const {
  out << message_text_;
}

void ccExceptionWithString::serializeMessage_(ccArchive& ar) {
  if (ar.isLoading()) mutating();
  ar || message_text_;
}

namespace {
// Exemplars, so that an archive can re-create the foundation's exceptions from their names.
template <class E>
ccPersistent* makeDefault() {
  return new E;
}
const cc_Instantiator kUnboundWindowExemplar(typeid(ccPel::UnboundWindow),
                                             &makeDefault<ccPel::UnboundWindow>);
const cc_Instantiator kBadWindowExemplar(typeid(ccPel::BadWindow), &makeDefault<ccPel::BadWindow>);
const cc_Instantiator kBadArgumentExemplar(typeid(ccBadArgument), &makeDefault<ccBadArgument>);
const cc_Instantiator kMathErrorExemplar(typeid(ccMathError), &makeDefault<ccMathError>);
const cc_Instantiator kTimeoutExemplar(typeid(ccTimeout), &makeDefault<ccTimeout>);
const cc_Instantiator kStatusErrorExemplar(typeid(ccStatusError), &makeDefault<ccStatusError>);
}  // namespace

ccPel::UnboundWindow::~UnboundWindow() = default;
ccPel::BadWindow::~BadWindow() = default;
ccBadArgument::~ccBadArgument() = default;
ccMathError::~ccMathError() = default;
ccTimeout::~ccTimeout() = default;

ccStatusError::ccStatusError(std::uint32_t status)
    : ccExceptionWithString([status] {
        std::wostringstream out;
        out << L"Operation failed with status 0x" << std::hex << status;
        return out.str();
      }()),
      status_(status) {}
ccStatusError::~ccStatusError() = default;

namespace {

constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;  // largest Unicode code point
constexpr std::uint32_t kReplacementCharacter =
    0xFFFD;  // stands for a character that cannot be encoded

// Decodes the UTF-8 sequence starting at text[i]; returns its length, or 0 when the bytes
// there are not a well-formed sequence (truncated, bad continuation, overlong, a surrogate
// or above the Unicode range).
std::size_t decodeUtf8(const std::string& text, std::size_t i, std::uint32_t& cp) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  std::size_t extra;
  std::uint32_t smallest;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1, smallest = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, smallest = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, smallest = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (text.size() - i <= extra) return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < smallest || cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

}  // namespace

std::wstring cfWiden(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t n = decodeUtf8(text, i, cp);
    if (n == 0) {
      out.push_back(
          static_cast<wchar_t>(static_cast<unsigned char>(text[i])));  // not UTF-8: Latin-1
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(cp));
      i += n;
    }
  }
  return out;
}

std::string cfNarrow(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    std::uint32_t cp = static_cast<std::uint32_t>(wc);
    if (cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {

struct ConverterTable {
  std::mutex mutex;
  std::map<std::uint32_t, ccStatusConverter> converters;
};

ConverterTable& converterTable() {
  static ConverterTable* t = new ConverterTable;
  return *t;
}

}  // namespace

void cfRegisterExceptionConverter(std::uint32_t facility, ccStatusConverter converter) {
  if (facility > kMaxStatusFacility) throw ccBadArgument(L"A status facility must fit in 26 bits");
  ConverterTable& t = converterTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (converter == nullptr) {
    t.converters.erase(facility);
  } else {
    t.converters[facility] = converter;
  }
}

void cfThrowExceptionOnFailure(std::uint32_t status) {
  if ((status & 0x80000000u) == 0) return;
  std::uint32_t facility = (status & 0x7FFFFFFFu) >> 5;
  ccStatusConverter converter = nullptr;
  {
    ConverterTable& t = converterTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.converters.find(facility);
    if (it != t.converters.end()) converter = it->second;
  }
  if (converter != nullptr) converter(status);
  throw ccStatusError(status);
}
