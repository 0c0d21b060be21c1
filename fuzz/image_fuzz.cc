// SPDX-License-Identifier: Apache-2.0
// Image readers on arbitrary bytes: PNG, JPEG and PGM, from memory or (one input in four)
// from a file, which also goes through the bounded file read and the header check on the
// first bytes. Invariants: a refusal is a ccImageFileError; an image read has pixels and
// stays within the decoded-size limit.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tools/imageio/image_io.h"

namespace {

// Small enough that no input costs much time or memory, large enough for real layouts.
constexpr std::uint64_t kFuzzMaxDecodedBytes = 1u << 22;

int gFile = -1;  // an in-memory file, rewritten for each input read from a file

ccPelBuffer<unsigned char> readThroughFile(const std::uint8_t* data, std::size_t size,
                                           const ccImageReadLimits& limits) {
  FUZZ_CHECK(ftruncate(gFile, 0) == 0);
  FUZZ_CHECK(pwrite(gFile, data, size, 0) == static_cast<ssize_t>(size));
  return cfReadImage("/proc/self/fd/" + std::to_string(gFile), limits);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfFuzzInstallAssertionHandler();
  gFile = memfd_create("image_fuzz", 0);
  FUZZ_CHECK(gFile >= 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  ccImageReadLimits limits;
  limits.maxDecodedBytes = kFuzzMaxDecodedBytes;
  try {
    const ccPelBuffer<unsigned char> image =
        data[0] % 4 == 0
            ? readThroughFile(data + 1, size - 1, limits)
            : cfDecodeImage(std::vector<unsigned char>(data + 1, data + size), "fuzz", limits);
    FUZZ_CHECK(image.isBound() && image.width() > 0 && image.height() > 0);
    FUZZ_CHECK(static_cast<std::uint64_t>(image.width()) *
                   static_cast<std::uint64_t>(image.height()) <=
               kFuzzMaxDecodedBytes);
  } catch (const ccImageFileError&) {
  }
  return 0;
}
