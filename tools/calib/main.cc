// SPDX-License-Identifier: Apache-2.0
// calib: command-line front end of the calibration library. A thin dispatcher: each
// subcommand lives in its own file and reports failures by throwing; this file turns them
// into messages and exit statuses (0 done, 1 failed, 2 usage error).
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "ccalib_version.h"
#include "platform/foundation/assert.h"
#include "platform/foundation/exception.h"
#include "platform/foundation/persistent.h"
#include "tools/calib/args.h"
#include "tools/calib/commands.h"
#include "tools/calib/json.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
  bool json;  // accepts --json: failures are then reported as JSON too
};

const Command kCommands[] = {
    {"checker", "labelled checkerboard vertices of an image", cfCalibChecker, true},
    {"dots", "calibrate from an image of a dot-grid plate", cfCalibDots, true},
    {"info", "size and grey-level statistics of image files", cfCalibInfo, false},
    {"plate", "write a printable dot or checker plate (SVG in millimetres, or PNG)", cfCalibPlate,
     false},
    {"render", "render a synthetic plate image and its ground truth", cfCalibRender, false},
};

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void usage(std::FILE* out) {
  std::fprintf(out, "usage: calib <command> [arguments]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(
      out,
      "\n'calib <command> --help' describes a command; 'calib --version' prints the version.\n");
}

// The library's internal checks report to whoever installed a handler; a user of the tool
// can do nothing with a source line of the library, and every command validates its input
// before it calls the library, so the reports are dropped here.
void ignoreInternalCheck(const char*, const char*, int) {}

// True when the words ask for JSON output (before any "--" that ends the options).
bool wantsJson(const std::vector<std::string>& words) {
  const auto end = std::find(words.begin(), words.end(), std::string("--"));
  return std::find(words.begin(), end, std::string("--json")) != end;
}

int report(const Command& c, bool json, int status, const std::string& errorClass,
           const std::string& message) {
  if (json) {
    ccJsonWriter out(std::cout);
    out.beginObject(true)
        .member("found", false)
        .member("error", errorClass)
        .member("message", message)
        .endObject();  // ends the line too
  } else if (status == kExitUsage) {
    std::fprintf(stderr, "calib %s: %s\nTry 'calib %s --help'.\n", c.name, message.c_str(), c.name);
  } else {
    std::fprintf(stderr, "calib %s: error: %s\n", c.name, message.c_str());
  }
  return status;
}

int run(const Command& c, const std::vector<std::string>& words) {
  const bool json = c.json && wantsJson(words);
  try {
    return c.run(words);
  } catch (const ccUsageError& e) {
    return report(c, json, kExitUsage, "ccUsageError", e.what());
  } catch (const ccFileFailure& e) {
    return report(c, json, kExitFailed, e.errorClass(), e.what());
  } catch (const ccException& e) {
    // Some failures carry no text; their class names what went wrong.
    const std::string text = e.messageUtf8();
    return report(c, json, kExitFailed, e.persistentTypeName(),
                  text.empty() ? e.persistentTypeName() : text);
  } catch (const std::exception& e) {
    return report(c, json, kExitFailed, cfTypeName(typeid(e)), e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  ccAssertion::setHandler(&ignoreInternalCheck);
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    usage(stderr);
    return kExitUsage;
  }
  std::string name = words.front();
  words.erase(words.begin());
  if (name == "--version" || name == "-V") {
    // The tool's own version and that of the library it loaded, which may differ.
    std::printf("calib %s (libccalib %s)\n", CCALIB_VERSION_STRING, cfLibraryVersion());
    return 0;
  }
  if (name == "-h" || name == "--help" || name == "help") {
    if (words.empty()) {
      usage(stdout);
      return 0;
    }
    name = words.front();
    words.assign(1, "--help");
  }
  for (const Command& c : kCommands) {
    if (name == c.name) return run(c, words);
  }
  std::fprintf(stderr, "calib: unknown command '%s'\n\n", name.c_str());
  usage(stderr);
  return kExitUsage;
}
