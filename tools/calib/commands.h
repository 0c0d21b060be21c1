// SPDX-License-Identifier: Apache-2.0
// The calib subcommands. Each takes the words after its name, prints its own help on
// --help, and returns the process exit status. Errors are thrown: ccUsageError for command
// line mistakes (found before any work is done), ccFileFailure for a failure about one file,
// ccException (ccImageFileError, ccBadArgument, ...) for everything else; main() reports
// them, as one JSON object on standard output when a command that supports --json has it. A new
// command is declared here, defined in its own <name>_command.cc (parsing with ccCommandArgs from
// args.h) and listed in main.cc.
#ifndef TOOLS_CALIB_COMMANDS_H
#define TOOLS_CALIB_COMMANDS_H

#include <stdexcept>
#include <string>
#include <vector>

// A failure of a command's work on one file, as main() reports it: the class of the
// original error (for --json) and a message that names the file.
class ccFileFailure : public std::runtime_error {
 public:
  ccFileFailure(const std::string& errorClass, const std::string& message)
      : std::runtime_error(message), errorClass_(errorClass) {}
  const std::string& errorClass() const { return errorClass_; }

 private:
  std::string errorClass_;
};

// calib info IMAGE...: size and grey-level statistics of image files.
int cfCalibInfo(const std::vector<std::string>& args);
// calib plate dots|checker ...: a printable plate as SVG (millimetres) or PNG.
int cfCalibPlate(const std::vector<std::string>& args);
// calib dots IMAGE... --pitch P ...: dot-grid calibration of one image or a batch.
int cfCalibDots(const std::vector<std::string>& args);
// calib checker IMAGE... --pitch P ...: labelled checkerboard vertices of one image or a batch.
int cfCalibChecker(const std::vector<std::string>& args);
// calib render dots|checker ...: a synthetic plate photograph and its ground truth.
int cfCalibRender(const std::vector<std::string>& args);

#endif  // TOOLS_CALIB_COMMANDS_H
