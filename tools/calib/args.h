// SPDX-License-Identifier: Apache-2.0
// Command-line arguments of one calib command: positional words and --name [value]
// options, with typed access and clear usage errors. Header-only so that every command
// (and the next one written) shares it.
#ifndef TOOLS_CALIB_ARGS_H
#define TOOLS_CALIB_ARGS_H

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/vector.h"

// A mistake on the command line: unknown option, missing or malformed value, wrong number
// of positional words. The calib front end prints the message and a hint to use --help,
// and exits with status 2.
class ccUsageError : public std::runtime_error {
 public:
  explicit ccUsageError(const std::string& message) : std::runtime_error(message) {}
};

// True when the file name `path` ends in `extension` (such as ".png"), whatever the case.
inline bool cfHasExtension(const std::string& path, const std::string& extension) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == extension;
}

class ccCommandArgs {
 public:
  struct Option {
    std::string name;  // without the leading dashes
    bool takesValue;
  };

  // Parses the words after the command name. Options are "--name value", "--name=value" or,
  // for flags, "--name"; "-h" and "--help" ask for help; "--" ends the options. Throws
  // ccUsageError for an option not in `options`, an option given twice (one of the two
  // would be silently lost), or a missing value (a following word that is itself an option
  // is not taken as the value).
  ccCommandArgs(const std::vector<std::string>& words, const std::vector<Option>& options) {
    bool optionsEnded = false;
    for (std::size_t k = 0; k < words.size(); ++k) {
      const std::string& w = words[k];
      if (optionsEnded || w.size() < 2 || w[0] != '-' || isNumber(w)) {
        positional_.push_back(w);
        continue;
      }
      if (w == "--") {
        optionsEnded = true;
        continue;
      }
      if (w == "-h" || w == "--help") {
        help_ = true;
        continue;
      }
      if (w.compare(0, 2, "--") != 0) throw ccUsageError("unknown option '" + w + "'");
      std::string name = w.substr(2), value;
      const std::size_t eq = name.find('=');
      const bool inlineValue = eq != std::string::npos;
      if (inlineValue) {
        value = name.substr(eq + 1);
        name.erase(eq);
      }
      const Option* option = find(options, name);
      if (!option) throw ccUsageError("unknown option '--" + name + "'");
      if (option->takesValue && !inlineValue) {
        if (k + 1 >= words.size() || words[k + 1].compare(0, 2, "--") == 0) {
          throw ccUsageError("option '--" + name + "' needs a value");
        }
        value = words[++k];
      } else if (!option->takesValue && inlineValue) {
        throw ccUsageError("option '--" + name + "' takes no value");
      }
      if (!values_.emplace(name, value).second)
        throw ccUsageError("option '--" + name + "' is given twice");
    }
  }

  bool help() const { return help_; }
  bool has(const std::string& name) const { return values_.count(name) != 0; }
  bool flag(const std::string& name) const { return has(name); }
  const std::vector<std::string>& positional() const { return positional_; }

  std::string text(const std::string& name, const std::string& fallback = std::string()) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
  }

  // A finite real number; throws ccUsageError when the value is not one.
  double number(const std::string& name, double fallback) const {
    if (!has(name)) return fallback;
    return parseNumber(name, text(name));
  }

  // A number greater than zero; throws ccUsageError otherwise.
  double positiveNumber(const std::string& name, double fallback) const {
    const double d = number(name, fallback);
    if (!(d > 0.0))
      throw ccUsageError("option '--" + name + "' needs a number greater than 0, not '" +
                         text(name) + "'");
    return d;
  }

  // A whole number; throws ccUsageError when the value is not one.
  long integer(const std::string& name, long fallback) const {
    if (!has(name)) return fallback;
    const std::string v = text(name);
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno == ERANGE) {
      throw ccUsageError("option '--" + name + "' needs a whole number, not '" + v + "'");
    }
    return n;
  }

  // Two real numbers written "X,Y"; throws ccUsageError otherwise.
  ccVector<2> pair(const std::string& name, const ccVector<2>& fallback) const {
    if (!has(name)) return fallback;
    const std::string v = text(name);
    const std::size_t comma = v.find(',');
    if (comma == std::string::npos)
      throw ccUsageError("option '--" + name + "' needs two numbers as X,Y");
    return ccVector<2>(parseNumber(name, v.substr(0, comma)),
                       parseNumber(name, v.substr(comma + 1)));
  }

 private:
  static const Option* find(const std::vector<Option>& options, const std::string& name) {
    for (const Option& o : options)
      if (o.name == name) return &o;
    return nullptr;
  }

  // Words like "-5" or "-0.3" are values (negative numbers), not options.
  static bool isNumber(const std::string& w) {
    char* end = nullptr;
    std::strtod(w.c_str(), &end);
    return end != w.c_str() && *end == '\0';
  }

  static double parseNumber(const std::string& name, const std::string& v) {
    char* end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !std::isfinite(d)) {
      throw ccUsageError("option '--" + name + "' needs a number, not '" + v + "'");
    }
    return d;
  }

  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  bool help_ = false;
};

#endif  // TOOLS_CALIB_ARGS_H
