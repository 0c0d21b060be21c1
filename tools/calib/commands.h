// The calib subcommands. Each takes the words after its name, prints its own help on
// --help, and returns the process exit status. Errors are thrown: ccUsageError for command
// line mistakes, ccException (ccImageFileError, ccBadArgument, ...) for everything else;
// main() reports them. A new command is declared here, defined in its own
// <name>_command.cc (parsing with ccCommandArgs from args.h) and listed in main.cc.
#ifndef TOOLS_CALIB_COMMANDS_H
#define TOOLS_CALIB_COMMANDS_H

#include <string>
#include <vector>

// calib info IMAGE...: size and grey-level statistics of image files.
int cfCalibInfo(const std::vector<std::string>& args);
// calib plate dots|checker ...: a printable plate as SVG (millimetres) or PNG.
int cfCalibPlate(const std::vector<std::string>& args);
// calib dots IMAGE --pitch P ...: dot-grid calibration of one image.
int cfCalibDots(const std::vector<std::string>& args);
// calib checker IMAGE --pitch P ...: labelled checkerboard vertices of one image.
int cfCalibChecker(const std::vector<std::string>& args);
// calib render dots|checker ...: a synthetic plate photograph and its ground truth.
int cfCalibRender(const std::vector<std::string>& args);

#endif  // TOOLS_CALIB_COMMANDS_H
