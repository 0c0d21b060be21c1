// calib: command-line front end of the calibration library. A thin dispatcher: each
// subcommand lives in its own file and reports failures by throwing.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/foundation/exception.h"
#include "tools/calib/args.h"
#include "tools/calib/commands.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"checker", "labelled checkerboard vertices of an image", cfCalibChecker},
    {"dots", "calibrate from an image of a dot-grid plate", cfCalibDots},
    {"info", "size and grey-level statistics of image files", cfCalibInfo},
    {"plate", "write a printable dot or checker plate (SVG in millimetres, or PNG)", cfCalibPlate},
    {"render", "render a synthetic plate image and its ground truth", cfCalibRender},
};

void usage(std::FILE* out) {
  std::fprintf(out, "usage: calib <command> [arguments]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(out, "\n'calib <command> --help' describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    usage(stderr);
    return 2;
  }
  std::string name = words.front();
  words.erase(words.begin());
  if (name == "-h" || name == "--help" || name == "help") {
    if (words.empty()) {
      usage(stdout);
      return 0;
    }
    name = words.front();
    words.assign(1, "--help");
  }
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    try {
      return c.run(words);
    } catch (const ccUsageError& e) {
      std::fprintf(stderr, "calib %s: %s\nTry 'calib %s --help'.\n", c.name, e.what(), c.name);
      return 2;
    } catch (const ccException& e) {
      // Some failures carry no text; their class names what went wrong.
      const std::string text = e.messageUtf8();
      std::fprintf(stderr, "calib %s: error: %s\n", c.name,
                   text.empty() ? e.persistentTypeName().c_str() : text.c_str());
      return 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "calib %s: error: %s\n", c.name, e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "calib: unknown command '%s'\n\n", name.c_str());
  usage(stderr);
  return 2;
}
