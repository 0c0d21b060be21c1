// SPDX-License-Identifier: Apache-2.0
// Batch runs of the image commands (calib dots, calib checker): the image list from paths,
// glob patterns and folders; per-image records written as text, JSON Lines or CSV in input
// order; images run in parallel; a summary on standard error.
#ifndef TOOLS_CALIB_BATCH_H
#define TOOLS_CALIB_BATCH_H

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tools/calib/args.h"

// The options every batch-capable command accepts, added to its own.
std::vector<ccCommandArgs::Option> cfWithBatchOptions(std::vector<ccCommandArgs::Option> options);

// Prints a batch-capable command's help: its own text, the image-limit options, the batch
// options, then its closing text.
void cfPrintBatchCommandHelp(const char* head, const char* tail);

// The words with the short option "-o" (before any "--") spelled "--output", so that
// ccCommandArgs parses it.
std::vector<std::string> cfExpandShortOptions(std::vector<std::string> words);

// The images the positional words name, in order: a folder gives the .png, .jpg, .jpeg and
// .pgm files directly inside it, sorted by name; a word with *, ? or [ that is not itself an
// existing file is expanded with glob() (sorted); anything else is taken as it is (a missing
// or unreadable file fails when its turn comes). `expanded` is set when a folder or pattern
// was expanded. Throws ccUsageError for a pattern that matches nothing, a folder without
// images, or no words at all.
std::vector<std::string> cfImageList(const std::vector<std::string>& words, bool& expanded);

struct ccBatchOptions {
  enum Format { eText, eJsonl, eCsv };
  Format format = eText;
  unsigned jobs = 1;
  std::string output;  // empty: standard output
};

// Reads --format, --jobs and --output. Batch mode is on when any of them is given, when the
// image list is not exactly one file, or when a folder or pattern was expanded. Throws
// ccUsageError for bad values, --format csv with --json, or --format text with --json.
bool cfBatchOptions(const ccCommandArgs& args, std::size_t images, bool expanded,
                    ccBatchOptions& out);

// What one image gave. `json` is the whole record (with "file") on one line, `summary` the
// readable text; both are empty on failure, when the runner writes the failure itself.
struct ccBatchResult {
  bool ok = false;
  std::string json;
  std::string summary;
  long cols = 0, rows = 0;  // columns and rows the labels span
  long count = 0;           // dots or vertices found
  double rms = NAN;         // residuals, plate units (NaN: not measured)
  double maxResidual = NAN;
  double ms = NAN;  // time in the library, milliseconds
  std::string errorClass, message;
};

// The class and message of the exception being handled (call inside a catch block), the
// message naming `path` (prefixed when it does not already).
void cfDescribeCurrentFailure(const std::string& path, std::string& errorClass,
                              std::string& message);

// Runs `work` on every image, `jobs` at a time (each call on its own thread), and writes the
// records in input order as they complete; a failure never stops the batch. `work` reports
// failures in its result; an exception escaping it is recorded as a failure too. Writes
// the summary (and, when standard error is a terminal, a progress line) to standard error.
// Returns 0 when every image succeeded, 1 otherwise. Throws ccFileFailure when the output
// file cannot be written.
int cfRunBatch(const std::string& command, const std::vector<std::string>& images,
               const ccBatchOptions& options,
               const std::function<ccBatchResult(const std::string&)>& work);

// printf into a std::string.
std::string cfFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // TOOLS_CALIB_BATCH_H
