// Reading and writing image files as the library's 8-bit grey images, and writing RGB
// images for overlays. Used by the command-line tools and by the tests; the library itself
// never touches files.
#ifndef TOOLS_IMAGEIO_IMAGE_IO_H
#define TOOLS_IMAGEIO_IMAGE_IO_H

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
// truncated file, an image with no pixels, or one larger than 2^28 pixels.
ccPelBuffer<unsigned char> cfReadImage(const std::string& path);

// The same as cfReadImage for file contents already in memory. `name` is used only in
// error messages.
ccPelBuffer<unsigned char> cfDecodeImage(const std::vector<unsigned char>& bytes,
                                         const std::string& name);

// Encodes the window of `image` as an 8-bit grey file (PGM as P5, PNG, or JPEG at
// quality 95). Throws ccImageFileError when the image has no pixels.
std::vector<unsigned char> cfEncodeImage(const ccPelBuffer_const<unsigned char>& image,
                                         ccImageFormat format);

// Writes the window of `image` in the format named by the file's extension, ignoring case:
// .pgm, .png, .jpg or .jpeg. Throws ccImageFileError for another extension, an image with
// no pixels, or a failed write.
void cfWriteImage(const std::string& path, const ccPelBuffer_const<unsigned char>& image);

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
