// SPDX-License-Identifier: Apache-2.0
// The options that set the image-reading limits, shared by every calib command that reads
// images, so that each accepts the same words with the same meaning.
#ifndef TOOLS_CALIB_READ_LIMITS_H
#define TOOLS_CALIB_READ_LIMITS_H

#include <string>
#include <vector>

#include "tools/calib/args.h"
#include "tools/imageio/image_io.h"

// Adds --max-decoded-bytes and --max-file-bytes to a command's options.
inline std::vector<ccCommandArgs::Option> cfWithReadLimitOptions(
    std::vector<ccCommandArgs::Option> options) {
  options.push_back({"max-decoded-bytes", true});
  options.push_back({"max-file-bytes", true});
  return options;
}

// Help lines of the two options, with their defaults.
inline std::string cfReadLimitHelp() {
  return "  --max-decoded-bytes N  refuse an image whose samples (width x height x channels)\n"
         "                         exceed N bytes (default " +
         std::to_string(ccImageReadLimits::kDefaultMaxDecodedBytes) +
         ": 64 megapixels of colour)\n"
         "  --max-file-bytes N     refuse an image file larger than N bytes (default " +
         std::to_string(ccImageReadLimits::kDefaultMaxFileBytes) + ")\n";
}

// The limits the options give. Throws ccUsageError for a value that is not a whole number
// greater than 0.
inline ccImageReadLimits cfReadLimits(const ccCommandArgs& args) {
  ccImageReadLimits limits;
  auto read = [&](const char* name, std::uint64_t& limit) {
    if (!args.has(name)) return;
    const long n = args.integer(name, 0);
    if (n <= 0)
      throw ccUsageError(std::string("option '--") + name +
                         "' needs a whole number greater than 0");
    limit = static_cast<std::uint64_t>(n);
  };
  read("max-decoded-bytes", limits.maxDecodedBytes);
  read("max-file-bytes", limits.maxFileBytes);
  return limits;
}

#endif  // TOOLS_CALIB_READ_LIMITS_H
