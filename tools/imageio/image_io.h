// SPDX-License-Identifier: Apache-2.0
// Reading and writing image files as the library's 8-bit grey images, and writing RGB
// images for overlays. Used by the command-line tools and by the tests; the library itself
// never touches files.
#ifndef TOOLS_IMAGEIO_IMAGE_IO_H
#define TOOLS_IMAGEIO_IMAGE_IO_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_buffer.h"

// A file that cannot be read or written: missing, unreadable, not an image of a known
// format, broken or truncated. The message names the file and says what went wrong.
class ccImageFileError : public ccExceptionWithString {
 public:
  explicit ccImageFileError(const std::wstring& message) : ccExceptionWithString(message) {}
  ~ccImageFileError() override;
};

// File formats this module reads and writes.
enum ccImageFormat {
  eImagePgm = 0,  // netpbm grey map: binary (P5, written) or plain text (P2, read only)
  eImagePng = 1,
  eImageJpeg = 2,
};

// Limits on what the readers accept. Both are checked before anything of that size is
// allocated (the image size comes from the header, which is read first), so that a broken
// or hostile file (a 57-byte PNG that declares 16384 x 16384 colour pixels, /dev/zero, an
// endless pipe) is refused at once instead of exhausting memory. The defaults take any
// current camera frame.
struct ccImageReadLimits {
  // 512 MiB: a few times the largest camera frame stored without compression.
  static constexpr std::uint64_t kDefaultMaxFileBytes = 512ull << 20;
  // 192 MiB: a 64-megapixel colour image (or a 192-megapixel grey one).
  static constexpr std::uint64_t kDefaultMaxDecodedBytes = 3ull * (64ull << 20);

  // Largest file (or memory buffer) read, bytes. A regular file is measured before it is
  // read; other files (pipes, devices) are read up to one byte past the limit.
  std::uint64_t maxFileBytes = kDefaultMaxFileBytes;
  // Largest decoded image, bytes: width x height x channels, where channels is the number
  // of 8-bit samples per pixel the file holds before the conversion to grey (1 for grey,
  // 3 for colour; alpha is not counted).
  std::uint64_t maxDecodedBytes = kDefaultMaxDecodedBytes;
};

// Reads a PGM, PNG or JPEG file into an 8-bit grey image at offset (0, 0) with the identity
// client transform. The format is recognised by the file's first bytes, not its name.
// - PGM: P5 and P2, any maximum value; samples are rescaled to 0..255 (rounded) unless the
//   maximum is 255.
// - PNG: any bit depth and colour type; palettes are expanded, 16-bit samples are scaled
//   to 8 bits with rounding, alpha is ignored (the colour values are taken as they are),
//   colour is converted to grey with Rec. 601 luma (0.299 R + 0.587 G + 0.114 B).
// - JPEG: baseline and progressive, grey or YCbCr (the Y channel is Rec. 601 luma).
//   A JPEG that the decoder can only read with a warning (premature end, corrupt data) is
//   refused.
// Throws ccImageFileError for a missing or unreadable file, an unknown format, a broken or
// truncated file, an image with no pixels, or a file or image over the limits (the message
// names the file and the limit).
ccPelBuffer<unsigned char> cfReadImage(const std::string& path,
                                       const ccImageReadLimits& limits = ccImageReadLimits());

// The same as cfReadImage for file contents already in memory. `name` is used only in
// error messages.
ccPelBuffer<unsigned char> cfDecodeImage(const std::vector<unsigned char>& bytes,
                                         const std::string& name,
                                         const ccImageReadLimits& limits = ccImageReadLimits());

// What the writers record besides the pixels.
struct ccImageWriteOptions {
  // The image's resolution, pixels per metre along both axes, so that a viewer or printer
  // reproduces its physical size: a PNG pHYs chunk (rounded to whole pixels per metre), the
  // JPEG JFIF density (rounded to whole pixels per centimetre). 0 records none; PGM has no
  // place for it.
  double pixelsPerMetre = 0.0;
};

// Encodes the window of `image` as an 8-bit grey file (PGM as P5, PNG, or JPEG at
// quality 95). Throws ccImageFileError when the image has no pixels, ccBadArgument for a
// resolution that is negative, not finite or over 2^31 - 1 pixels per metre.
std::vector<unsigned char> cfEncodeImage(
    const ccPelBuffer_const<unsigned char>& image, ccImageFormat format,
    const ccImageWriteOptions& options = ccImageWriteOptions());

// Writes the window of `image` in the format named by the file's extension, ignoring case:
// .pgm, .png, .jpg or .jpeg. Throws ccImageFileError for another extension, an image with
// no pixels, or a failed write.
void cfWriteImage(const std::string& path, const ccPelBuffer_const<unsigned char>& image,
                  const ccImageWriteOptions& options = ccImageWriteOptions());

// An 8-bit RGB image: rows top to bottom, three bytes per pixel (red, green, blue), no row
// padding. Pixel (x, y) has its centre at (x, y), as in the grey images.
class ccRgbImage {
 public:
  ccRgbImage() = default;
  // A black image. Throws ccBadArgument for a negative size.
  ccRgbImage(long width, long height);

  long width() const { return width_; }
  long height() const { return height_; }
  // The three bytes of pixel (x, y); the position must lie inside the image.
  unsigned char* pixel(long x, long y) {
    return &data_[3 * (static_cast<std::size_t>(y) * width_ + x)];
  }
  const unsigned char* pixel(long x, long y) const {
    return &data_[3 * (static_cast<std::size_t>(y) * width_ + x)];
  }
  const std::vector<unsigned char>& data() const { return data_; }

 private:
  long width_ = 0;
  long height_ = 0;
  std::vector<unsigned char> data_;
};

// Encodes an RGB image as an 8-bit-per-channel RGB PNG. Throws ccImageFileError when the
// image has no pixels.
std::vector<unsigned char> cfEncodeRgbPng(const ccRgbImage& image);

// Writes an RGB image as PNG; the path must end in .png. Throws ccImageFileError.
void cfWriteRgbImage(const std::string& path, const ccRgbImage& image);

#endif  // TOOLS_IMAGEIO_IMAGE_IO_H
