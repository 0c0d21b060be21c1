// SPDX-License-Identifier: Apache-2.0
// A small streaming JSON writer for the calib tool's machine-readable output (ground
// truth, detection results). Header-only so that tools and tests share it without a
// library of their own.
#ifndef TOOLS_CALIB_JSON_H
#define TOOLS_CALIB_JSON_H

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/foundation/exception.h"

// Writes one JSON value (usually an object) to a stream as it is built:
//
//   ccJsonWriter json(out);
//   json.beginObject().key("width").value(1280L).key("centre").point(3.25, 4.5).endObject();
//
// Containers are laid out one item per line with `indent` spaces per level; a container
// begun compact (and everything inside it) stays on one line. Numbers are written with a
// chosen count of decimals, trailing zeros dropped; NaN and infinities become null, as
// JSON has no such numbers. Strings are escaped. Misuse (a value without a key inside an
// object, a key outside one, unbalanced ends, a second top-level value) throws
// ccBadArgument.
class ccJsonWriter {
 public:
  explicit ccJsonWriter(std::ostream& out, int indent = 2) : out_(out), indent_(indent) {}

  ccJsonWriter& beginObject(bool compact = false) { return open('{', compact, true); }
  ccJsonWriter& endObject() { return close('}', true); }
  ccJsonWriter& beginArray(bool compact = false) { return open('[', compact, false); }
  ccJsonWriter& endArray() { return close(']', false); }

  // The name of the next member of the current object.
  ccJsonWriter& key(const std::string& name) {
    if (stack_.empty() || !stack_.back().object || keyPending_)
      misuse("a key outside an object or twice in a row");
    separate();
    writeString(name);
    out_ << ": ";
    keyPending_ = true;
    return *this;
  }

  // A number with `decimals` digits after the point (0 to 17), trailing zeros dropped.
  ccJsonWriter& value(double v, int decimals = 6) {
    beginValue();
    out_ << formatNumber(v, decimals);
    return *this;
  }
  // Any integer type, written exactly.
  template <class T,
            std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value, int> = 0>
  ccJsonWriter& value(T v) {
    beginValue();
    out_ << +v;
    return *this;
  }
  ccJsonWriter& value(bool v) {
    beginValue();
    out_ << (v ? "true" : "false");
    return *this;
  }
  ccJsonWriter& value(const std::string& v) {
    beginValue();
    writeString(v);
    return *this;
  }
  ccJsonWriter& value(const char* v) { return value(std::string(v)); }
  ccJsonWriter& null() {
    beginValue();
    out_ << "null";
    return *this;
  }
  // A compact two-number array [x, y].
  ccJsonWriter& point(double x, double y, int decimals = 6) {
    return beginArray(true).value(x, decimals).value(y, decimals).endArray();
  }

  // Shorthands for a member of the current object: key(name), then the value.
  template <class T>
  ccJsonWriter& member(const std::string& name, const T& v) {
    return key(name).value(v);
  }
  ccJsonWriter& member(const std::string& name, double v, int decimals) {
    return key(name).value(v, decimals);
  }
  ccJsonWriter& memberPoint(const std::string& name, double x, double y, int decimals = 6) {
    return key(name).point(x, y, decimals);
  }

  // True once the top-level value is complete.
  bool done() const { return done_; }

  // The text of a number as value() writes it.
  static std::string formatNumber(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    if (decimals < 0) decimals = 0;
    if (decimals > 17) decimals = 17;
    char buf[64];
    if (std::fabs(v) >= 1e15) {
      std::snprintf(buf, sizeof buf, "%.17g", v);
      return buf;
    }
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s(buf);
    if (s.find('.') != std::string::npos) {
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
  }

 private:
  struct Frame {
    bool object;
    bool compact;
    int count;
  };

  [[noreturn]] static void misuse(const char* what) {
    throw ccBadArgument(cfWiden(std::string("ccJsonWriter: ") + what));
  }

  bool compactHere() const { return !stack_.empty() && stack_.back().compact; }

  void newline(std::size_t depth) {
    if (indent_ <= 0) return;
    out_ << '\n' << std::string(depth * static_cast<std::size_t>(indent_), ' ');
  }

  // Comma and line break before an item of the current container.
  void separate() {
    Frame& f = stack_.back();
    if (f.count++ > 0) out_ << (f.compact || indent_ <= 0 ? ", " : ",");
    if (!f.compact) newline(stack_.size());
  }

  void beginValue() {
    if (done_) misuse("a second top-level value");
    if (stack_.empty()) {
      done_ = true;  // a bare top-level scalar
      return;
    }
    if (stack_.back().object) {
      if (!keyPending_) misuse("a value in an object without a key");
      keyPending_ = false;
    } else {
      separate();
    }
  }

  ccJsonWriter& open(char bracket, bool compact, bool object) {
    const bool parentCompact = compactHere();
    const bool top = stack_.empty();
    beginValue();
    if (top) done_ = false;
    out_ << bracket;
    stack_.push_back(Frame{object, compact || parentCompact, 0});
    return *this;
  }

  ccJsonWriter& close(char bracket, bool object) {
    if (stack_.empty() || stack_.back().object != object || keyPending_)
      misuse("an unbalanced end");
    const Frame f = stack_.back();
    stack_.pop_back();
    if (f.count > 0 && !f.compact) newline(stack_.size());
    out_ << bracket;
    if (stack_.empty()) {
      done_ = true;
      if (indent_ > 0) out_ << '\n';
    }
    return *this;
  }

  void writeString(const std::string& s) {
    out_ << '"';
    for (unsigned char c : s) {
      switch (c) {
        case '"':
          out_ << "\\\"";
          break;
        case '\\':
          out_ << "\\\\";
          break;
        case '\n':
          out_ << "\\n";
          break;
        case '\r':
          out_ << "\\r";
          break;
        case '\t':
          out_ << "\\t";
          break;
        case '\b':
          out_ << "\\b";
          break;
        case '\f':
          out_ << "\\f";
          break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out_ << buf;
          } else {
            out_ << static_cast<char>(c);  // UTF-8 passes through unchanged
          }
      }
    }
    out_ << '"';
  }

  std::ostream& out_;
  int indent_;
  std::vector<Frame> stack_;
  bool keyPending_ = false;
  bool done_ = false;
};

#endif  // TOOLS_CALIB_JSON_H
