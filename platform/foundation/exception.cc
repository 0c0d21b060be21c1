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

std::string ccException::messageUtf8() const { return cfNarrow(message()); }

void ccException::message_(std::wostream& out) const { out << cfWiden(persistentTypeName()); }

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

ccExceptionWithString::ccExceptionWithString(const std::wstring& message) : message_text_(message) {}
ccExceptionWithString::~ccExceptionWithString() = default;

void ccExceptionWithString::message_(std::wostream& out) const { out << message_text_; }

void ccExceptionWithString::serializeMessage_(ccArchive& ar) {
  if (ar.isLoading()) mutating();
  ar || message_text_;
}

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

std::wstring cfWiden(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) {
      out.push_back(static_cast<wchar_t>(c));  // not UTF-8: take the byte as Latin-1
      ++i;
      continue;
    }
    std::uint32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) {
      out.push_back(static_cast<wchar_t>(c));
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return out;
}

std::string cfNarrow(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    std::uint32_t cp = static_cast<std::uint32_t>(wc);
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
      out.push_back(static_cast<char>(0xF0 | ((cp >> 18) & 0x07)));
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
  ConverterTable& t = converterTable();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.converters[facility] = converter;
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
