// SPDX-License-Identifier: Apache-2.0
// Image files to and from 8-bit grey images: a small netpbm parser of our own, libpng and
// libjpeg behind error traps so that no broken file can crash or hang the caller.
//
// Both C libraries report fatal errors by calling a handler that must not return. Ours
// record the message and longjmp back to a setjmp placed in a small "step" function. Each
// step function holds no object with a destructor and touches only memory reached through
// its job argument, so the jump skips no C++ cleanup and reads no stale register. The job
// owns the library state and releases it in its destructor, after the C++ exception is
// thrown from ordinary code.
#include "tools/imageio/image_io.h"

#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

ccImageFileError::~ccImageFileError() = default;

namespace {

// Largest width, height or maximum value a PGM header may give: keeps the size arithmetic
// far from overflow whatever limits the caller sets.
constexpr unsigned long long kMaxPgmNumber = (1ull << 31) - 1;
// Bytes read from a file at a time, and the fewest that identify every format.
constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kSignatureBytes = 8;
// JPEG quality used when writing (libjpeg scale, 1 to 100).
constexpr int kJpegWriteQuality = 95;
// Longest error text kept from a decoder, bytes.
constexpr std::size_t kErrorTextSize = 256;

[[noreturn]] void throwRead(const std::string& name, const std::string& reason) {
  throw ccImageFileError(cfWiden("Cannot read image file '" + name + "': " + reason));
}

[[noreturn]] void throwWrite(const std::string& name, const std::string& reason) {
  throw ccImageFileError(cfWiden("Cannot write image file '" + name + "': " + reason));
}

// Refuses an empty image, or one whose decoded samples would exceed the limit. Width and
// height are below 2^31 in every format read, so the products cannot overflow.
void checkSize(unsigned long long width, unsigned long long height, unsigned long long channels,
               const ccImageReadLimits& limits, const std::string& name) {
  if (width == 0 || height == 0) throwRead(name, "the image has no pixels");
  const unsigned long long bytes = width * height * channels;
  if (bytes > limits.maxDecodedBytes) {
    throwRead(name, "the image (" + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels, " + std::to_string(channels) +
                        (channels == 1 ? " channel" : " channels") + ") needs " +
                        std::to_string(bytes) + " bytes decoded, over the limit of " +
                        std::to_string(limits.maxDecodedBytes) + " bytes");
  }
}

void checkFileSize(unsigned long long size, const ccImageReadLimits& limits,
                   const std::string& name) {
  if (size > limits.maxFileBytes) {
    throwRead(name, "the file is larger than the limit of " + std::to_string(limits.maxFileBytes) +
                        " bytes");
  }
}

enum class FileKind { kPng, kJpeg, kGreyMap, kOtherNetpbm, kUnknown };

// The format by the first bytes (at least kSignatureBytes of them, or the whole file).
FileKind kindOf(const unsigned char* b, std::size_t n) {
  static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (n >= 8 && std::equal(kPngSignature, kPngSignature + 8, b)) return FileKind::kPng;
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return FileKind::kJpeg;
  if (n >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7') {
    return b[1] == '2' || b[1] == '5' ? FileKind::kGreyMap : FileKind::kOtherNetpbm;
  }
  return FileKind::kUnknown;
}

// Rec. 601 luma of an 8-bit RGB triple, rounded: (299 R + 587 G + 114 B) / 1000.
unsigned char luma601(const unsigned char* rgb) {
  return static_cast<unsigned char>((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

// ---------------------------------------------------------------------------------------
// Netpbm grey maps.

class PgmParser {
 public:
  PgmParser(const std::vector<unsigned char>& bytes, const std::string& name,
            const ccImageReadLimits& limits)
      : b_(bytes), name_(name), limits_(limits) {}

  // Reads the header: width, height and maximum value. `complete` tells whether a byte
  // follows the maximum value (on the first bytes of a file, the last number may be cut).
  void header(unsigned long long& width, unsigned long long& height, unsigned long long& maxval,
              bool& complete) {
    pos_ = 2;
    width = headerNumber("width");
    height = headerNumber("height");
    maxval = headerNumber("maximum value");
    if (maxval == 0 || maxval > 65535) throwRead(name_, "the PGM maximum value must be 1 to 65535");
    complete = pos_ < b_.size();
  }

  ccPelBuffer<unsigned char> parse() {
    const bool plain = b_[1] == '2';
    unsigned long long width = 0, height = 0, maxval = 0;
    bool complete = false;
    header(width, height, maxval, complete);
    checkSize(width, height, 1, limits_, name_);
    const unsigned long long n = width * height;
    const unsigned long long bytesPerSample = maxval > 255 ? 2 : 1;
    // The file must be long enough before any pixels are allocated: a binary raster follows
    // exactly one whitespace byte, and every plain sample takes a digit and a separator.
    if (!plain) {
      if (pos_ >= b_.size() || !std::isspace(b_[pos_]))
        throwRead(name_, "the PGM header is broken");
      ++pos_;
    }
    const unsigned long long need = plain ? 2 * n - 1 : n * bytesPerSample;
    if (b_.size() - pos_ < need) throwRead(name_, "the file is truncated");

    ccPelBuffer<unsigned char> image(static_cast<long>(width), static_cast<long>(height));
    auto store = [&](unsigned long long k, unsigned long v) {
      if (v > maxval) throwRead(name_, "a PGM sample exceeds the maximum value");
      image.row(static_cast<long>(k / width))[k % width] =
          static_cast<unsigned char>(maxval == 255 ? v : (v * 255 + maxval / 2) / maxval);
    };
    if (plain) {
      for (unsigned long long k = 0; k < n; ++k)
        store(k, static_cast<unsigned long>(rasterNumber()));
      return image;
    }
    const unsigned char* p = b_.data() + pos_;
    for (unsigned long long k = 0; k < n; ++k, p += bytesPerSample) {
      store(k, bytesPerSample == 2 ? (static_cast<unsigned long>(p[0]) << 8) | p[1] : p[0]);
    }
    return image;
  }

 private:
  // Skips whitespace and comments (from '#' to the end of the line).
  void skipSpace() {
    while (pos_ < b_.size()) {
      if (std::isspace(b_[pos_])) {
        ++pos_;
      } else if (b_[pos_] == '#') {
        while (pos_ < b_.size() && b_[pos_] != '\n' && b_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  unsigned long long number(const char* what) {
    if (pos_ >= b_.size()) throwRead(name_, "the file is truncated");
    if (!std::isdigit(b_[pos_]))
      throwRead(name_, std::string("the PGM ") + what + " is not a number");
    unsigned long long v = 0;
    while (pos_ < b_.size() && std::isdigit(b_[pos_])) {
      v = v * 10 + (b_[pos_++] - '0');
      if (v > kMaxPgmNumber) throwRead(name_, std::string("the PGM ") + what + " is too large");
    }
    return v;
  }

  unsigned long long headerNumber(const char* what) {
    skipSpace();
    return number(what);
  }

  unsigned long long rasterNumber() {
    skipSpace();
    return number("sample");
  }

  const std::vector<unsigned char>& b_;
  const std::string& name_;
  const ccImageReadLimits& limits_;
  std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------
// PNG.

struct PngErrorText {
  char text[kErrorTextSize] = "";
};

void pngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

struct PngSource {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

void pngRead(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "the file is truncated");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

struct PngReadJob {
  PngErrorText error;
  PngSource source;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int channels = 0;           // after the transforms: 1 (grey) or 3 (RGB)
  png_bytepp rows = nullptr;  // one pointer per row, set before the pixel step

  ~PngReadJob() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// Reads the header and sets up the conversion to 8-bit grey or RGB without alpha.
bool pngHeaderStep(PngReadJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  png_set_read_fn(job.png, &job.source, pngRead);
  png_read_info(job.png, job.info);
  const int colour = png_get_color_type(job.png, job.info);
  const int depth = png_get_bit_depth(job.png, job.info);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(job.png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(job.png);
  if (depth == 16) png_set_scale_16(job.png);
  if (colour & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(job.png);
  png_set_interlace_handling(job.png);
  png_read_update_info(job.png, job.info);
  job.width = png_get_image_width(job.png, job.info);
  job.height = png_get_image_height(job.png, job.info);
  job.channels = png_get_channels(job.png, job.info);
  return true;
}

// Reads all rows and the chunks after the image, so that a file cut short anywhere fails.
bool pngPixelStep(PngReadJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  png_read_image(job.png, job.rows);
  png_read_end(job.png, nullptr);
  return true;
}

ccPelBuffer<unsigned char> decodePng(const std::vector<unsigned char>& bytes,
                                     const std::string& name, const ccImageReadLimits& limits) {
  PngReadJob job;
  job.source.data = bytes.data();
  job.source.size = bytes.size();
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job.error, pngError, pngWarning);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (!job.png || !job.info) throwRead(name, "out of memory");
  if (!pngHeaderStep(job)) throwRead(name, std::string("broken PNG data: ") + job.error.text);
  if (job.channels != 1 && job.channels != 3) throwRead(name, "unsupported PNG pixel layout");
  checkSize(job.width, job.height, static_cast<unsigned long long>(job.channels), limits, name);

  const std::size_t rowBytes = static_cast<std::size_t>(job.width) * job.channels;
  std::vector<unsigned char> pixels(rowBytes * job.height);
  std::vector<png_bytep> rows(job.height);
  for (png_uint_32 j = 0; j < job.height; ++j) rows[j] = pixels.data() + j * rowBytes;
  job.rows = rows.data();
  if (!pngPixelStep(job)) throwRead(name, std::string("broken PNG data: ") + job.error.text);

  ccPelBuffer<unsigned char> image(static_cast<long>(job.width), static_cast<long>(job.height));
  for (png_uint_32 j = 0; j < job.height; ++j) {
    unsigned char* out = image.row(static_cast<long>(j));
    const unsigned char* in = rows[j];
    if (job.channels == 1) {
      std::copy(in, in + job.width, out);
    } else {
      for (png_uint_32 i = 0; i < job.width; ++i) out[i] = luma601(in + 3 * i);
    }
  }
  return image;
}

void pngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    out->insert(out->end(), data, data + n);
  } catch (...) {
    failed = true;
  }
  if (failed) png_error(png, "out of memory");
}

void pngFlush(png_structp) {}

struct PngWriteJob {
  PngErrorText error;
  std::vector<unsigned char>* out = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int colourType = PNG_COLOR_TYPE_GRAY;
  png_uint_32 pixelsPerMetre = 0;  // 0: no pHYs chunk
  png_bytepp rows = nullptr;

  ~PngWriteJob() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

bool pngWriteStep(PngWriteJob& job) {
  if (setjmp(png_jmpbuf(job.png))) return false;
  png_set_write_fn(job.png, job.out, pngWrite, pngFlush);
  png_set_IHDR(job.png, job.info, job.width, job.height, 8, job.colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job.pixelsPerMetre > 0) {
    png_set_pHYs(job.png, job.info, job.pixelsPerMetre, job.pixelsPerMetre, PNG_RESOLUTION_METER);
  }
  png_write_info(job.png, job.info);
  png_write_image(job.png, job.rows);
  png_write_end(job.png, nullptr);
  return true;
}

// Encodes rows of 8-bit samples (1 or 3 per pixel) as PNG, with a pHYs chunk when
// pixelsPerMetre is not 0.
std::vector<unsigned char> encodePng(std::vector<png_bytep>& rows, long width, int colourType,
                                     png_uint_32 pixelsPerMetre = 0) {
  std::vector<unsigned char> out;
  PngWriteJob job;
  job.out = &out;
  job.width = static_cast<png_uint_32>(width);
  job.height = static_cast<png_uint_32>(rows.size());
  job.colourType = colourType;
  job.pixelsPerMetre = pixelsPerMetre;
  job.rows = rows.data();
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job.error, pngError, pngWarning);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (!job.png || !job.info) throwWrite("(memory)", "out of memory");
  if (!pngWriteStep(job))
    throwWrite("(memory)", std::string("PNG encoding failed: ") + job.error.text);
  return out;
}

// ---------------------------------------------------------------------------------------
// JPEG.

struct JpegError {
  jpeg_error_mgr manager;  // first member: libjpeg sees only this part
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX] = "";
};

void jpegErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, error->text);
  std::longjmp(error->jump, 1);
}

// Warnings (level -1) mean damaged data that the decoder papers over, such as a premature
// end of the file; they are treated as errors. Trace messages are dropped.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) jpegErrorExit(cinfo);
}

struct JpegReadJob {
  JpegError error;
  jpeg_decompress_struct cinfo;
  bool created = false;
  const std::vector<unsigned char>* bytes = nullptr;
  unsigned char* pixels = nullptr;  // first row of the output, set before the pixel step
  std::ptrdiff_t stride = 0;

  JpegReadJob() {
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    error.manager.emit_message = jpegEmitMessage;
  }
  ~JpegReadJob() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

bool jpegHeaderStep(JpegReadJob& job) {
  if (setjmp(job.error.jump)) return false;
  jpeg_create_decompress(&job.cinfo);
  job.created = true;
  jpeg_mem_src(&job.cinfo, job.bytes->data(), static_cast<unsigned long>(job.bytes->size()));
  jpeg_read_header(&job.cinfo, TRUE);
  return true;
}

bool jpegStartStep(JpegReadJob& job) {
  if (setjmp(job.error.jump)) return false;
  job.cinfo.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&job.cinfo);
  return true;
}

// Reads all scanlines and the end of the file, so that a file cut short anywhere fails.
bool jpegPixelStep(JpegReadJob& job) {
  if (setjmp(job.error.jump)) return false;
  while (job.cinfo.output_scanline < job.cinfo.output_height) {
    JSAMPROW row = job.pixels + static_cast<std::ptrdiff_t>(job.cinfo.output_scanline) * job.stride;
    jpeg_read_scanlines(&job.cinfo, &row, 1);
  }
  jpeg_finish_decompress(&job.cinfo);
  return true;
}

ccPelBuffer<unsigned char> decodeJpeg(const std::vector<unsigned char>& bytes,
                                      const std::string& name, const ccImageReadLimits& limits) {
  JpegReadJob job;
  job.bytes = &bytes;
  if (!jpegHeaderStep(job)) throwRead(name, std::string("broken JPEG data: ") + job.error.text);
  // Counted by the file's components: a progressive file keeps coefficients of all of them.
  checkSize(job.cinfo.image_width, job.cinfo.image_height,
            static_cast<unsigned long long>(std::max(job.cinfo.num_components, 1)), limits, name);
  const J_COLOR_SPACE space = job.cinfo.jpeg_color_space;
  if (space != JCS_GRAYSCALE && space != JCS_YCbCr && space != JCS_RGB) {
    throwRead(name, "unsupported JPEG colour space (CMYK or unknown)");
  }
  if (!jpegStartStep(job)) throwRead(name, std::string("broken JPEG data: ") + job.error.text);
  if (job.cinfo.output_components != 1) throwRead(name, "unsupported JPEG pixel layout");
  ccPelBuffer<unsigned char> image(static_cast<long>(job.cinfo.output_width),
                                   static_cast<long>(job.cinfo.output_height));
  job.pixels = image.row(0);
  job.stride = image.rowUpdate();
  if (!jpegPixelStep(job)) throwRead(name, std::string("broken JPEG data: ") + job.error.text);
  return image;
}

struct JpegWriteJob {
  JpegError error;
  jpeg_compress_struct cinfo;
  bool created = false;
  unsigned char* buffer = nullptr;  // malloc'd by libjpeg
  unsigned long size = 0;
  const ccPelBuffer_const<unsigned char>* image = nullptr;
  UINT16 pixelsPerCentimetre = 0;  // 0: the library's default density (none)

  JpegWriteJob() {
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    error.manager.emit_message = jpegEmitMessage;
  }
  ~JpegWriteJob() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
};

bool jpegWriteStep(JpegWriteJob& job) {
  if (setjmp(job.error.jump)) return false;
  jpeg_create_compress(&job.cinfo);
  job.created = true;
  jpeg_mem_dest(&job.cinfo, &job.buffer, &job.size);
  job.cinfo.image_width = static_cast<JDIMENSION>(job.image->width());
  job.cinfo.image_height = static_cast<JDIMENSION>(job.image->height());
  job.cinfo.input_components = 1;
  job.cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&job.cinfo);
  jpeg_set_quality(&job.cinfo, kJpegWriteQuality, TRUE);
  if (job.pixelsPerCentimetre > 0) {
    job.cinfo.density_unit = 2;  // dots per centimetre
    job.cinfo.X_density = job.pixelsPerCentimetre;
    job.cinfo.Y_density = job.pixelsPerCentimetre;
  }
  jpeg_start_compress(&job.cinfo, TRUE);
  while (job.cinfo.next_scanline < job.cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(job.image->row(static_cast<long>(job.cinfo.next_scanline)));
    jpeg_write_scanlines(&job.cinfo, &row, 1);
  }
  jpeg_finish_compress(&job.cinfo);
  return true;
}

// ---------------------------------------------------------------------------------------
// Files.

// Applies the decoded-size limit to the header found in the first bytes of a file, so that
// a file that declares a huge image is refused before the rest of it is read. Says nothing
// when the header is not complete in `prefix` or is broken (the full decode reports that).
void checkHeaderInPrefix(const std::vector<unsigned char>& prefix, const std::string& name,
                         const ccImageReadLimits& limits) {
  unsigned long long width = 0, height = 0, channels = 0;
  switch (kindOf(prefix.data(), prefix.size())) {
    case FileKind::kPng: {
      PngReadJob job;
      job.source.data = prefix.data();
      job.source.size = prefix.size();
      job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job.error, pngError, pngWarning);
      if (job.png) job.info = png_create_info_struct(job.png);
      if (!job.png || !job.info || !pngHeaderStep(job)) return;
      width = job.width;
      height = job.height;
      channels = static_cast<unsigned long long>(job.channels);
      break;
    }
    case FileKind::kJpeg: {
      JpegReadJob job;
      job.bytes = &prefix;
      if (!jpegHeaderStep(job)) return;
      width = job.cinfo.image_width;
      height = job.cinfo.image_height;
      channels = static_cast<unsigned long long>(std::max(job.cinfo.num_components, 1));
      break;
    }
    case FileKind::kGreyMap: {
      unsigned long long maxval = 0;
      bool complete = false;
      try {
        PgmParser(prefix, name, limits).header(width, height, maxval, complete);
      } catch (const ccImageFileError&) {
        return;
      }
      if (!complete) return;
      channels = 1;
      break;
    }
    default:
      return;
  }
  checkSize(width, height, channels, limits, name);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads a whole file, never more than one byte past the limit. A regular file is measured
// first; anything else (a pipe, a device such as /dev/zero) is read in chunks, and input
// that does not begin like an image is refused after its first bytes.
std::vector<unsigned char> readFile(const std::string& path, const ccImageReadLimits& limits) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) throwRead(path, std::strerror(errno));
  struct stat info;
  if (fstat(fileno(f.get()), &info) == 0 && S_ISREG(info.st_mode)) {
    checkFileSize(static_cast<unsigned long long>(info.st_size), limits, path);
  }
  std::vector<unsigned char> bytes;
  unsigned char chunk[kReadChunk];
  const std::uint64_t most = limits.maxFileBytes + 1;  // one past the limit tells it was exceeded
  for (bool first = true;; first = false) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    const std::size_t keep =
        static_cast<std::size_t>(std::min<std::uint64_t>(n, most - bytes.size()));
    if (bytes.size() + keep > bytes.capacity()) {
      // Grow by doubling, but never past the limit.
      bytes.reserve(static_cast<std::size_t>(
          std::min<std::uint64_t>(std::max(2 * bytes.capacity(), bytes.size() + keep), most)));
    }
    bytes.insert(bytes.end(), chunk, chunk + keep);
    if (first && bytes.size() >= kSignatureBytes) {
      if (kindOf(bytes.data(), bytes.size()) == FileKind::kUnknown)
        throwRead(path, "not a PGM, PNG or JPEG file");
      checkHeaderInPrefix(bytes, path, limits);
    }
    checkFileSize(bytes.size(), limits, path);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(f.get())) throwRead(path, std::strerror(errno));
  return bytes;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) throwWrite(path, std::strerror(errno));
  if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
    throwWrite(path, std::strerror(errno));
  if (std::fclose(f.release()) != 0) throwWrite(path, std::strerror(errno));
}

std::string lowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

ccPelBuffer<unsigned char> cfDecodeImage(const std::vector<unsigned char>& bytes,
                                         const std::string& name, const ccImageReadLimits& limits) {
  if (bytes.empty()) throwRead(name, "the file is empty");
  checkFileSize(bytes.size(), limits, name);
  switch (kindOf(bytes.data(), bytes.size())) {
    case FileKind::kPng:
      return decodePng(bytes, name, limits);
    case FileKind::kJpeg:
      return decodeJpeg(bytes, name, limits);
    case FileKind::kGreyMap:
      return PgmParser(bytes, name, limits).parse();
    case FileKind::kOtherNetpbm:
      throwRead(name, std::string("netpbm format P") + static_cast<char>(bytes[1]) +
                          " is not supported (only grey maps, P5 and P2)");
    case FileKind::kUnknown:
      break;
  }
  throwRead(name, "not a PGM, PNG or JPEG file");
}

ccPelBuffer<unsigned char> cfReadImage(const std::string& path, const ccImageReadLimits& limits) {
  return cfDecodeImage(readFile(path, limits), path, limits);
}

std::vector<unsigned char> cfEncodeImage(const ccPelBuffer_const<unsigned char>& image,
                                         ccImageFormat format, const ccImageWriteOptions& options) {
  if (!image.isBound() || image.width() <= 0 || image.height() <= 0) {
    throwWrite("(memory)", "the image has no pixels");
  }
  const double ppm = options.pixelsPerMetre;
  if (!(ppm >= 0.0) || !(ppm <= 2147483647.0)) {
    throw ccBadArgument(L"The image resolution must be 0 to 2^31 - 1 pixels per metre");
  }
  const long w = image.width(), h = image.height();
  if (format == eImagePgm) {
    const std::string header = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<unsigned char> out(header.begin(), header.end());
    out.reserve(header.size() + static_cast<std::size_t>(w) * h);
    for (long j = 0; j < h; ++j) out.insert(out.end(), image.row(j), image.row(j) + w);
    return out;
  }
  if (format == eImagePng) {
    std::vector<png_bytep> rows(h);
    for (long j = 0; j < h; ++j) rows[j] = const_cast<png_bytep>(image.row(j));
    return encodePng(rows, w, PNG_COLOR_TYPE_GRAY, static_cast<png_uint_32>(std::lround(ppm)));
  }
  JpegWriteJob job;
  job.image = &image;
  job.pixelsPerCentimetre = static_cast<UINT16>(std::min(65535.0, std::round(ppm / 100.0)));
  if (!jpegWriteStep(job))
    throwWrite("(memory)", std::string("JPEG encoding failed: ") + job.error.text);
  return std::vector<unsigned char>(job.buffer, job.buffer + job.size);
}

void cfWriteImage(const std::string& path, const ccPelBuffer_const<unsigned char>& image,
                  const ccImageWriteOptions& options) {
  const std::string ext = lowerExtension(path);
  ccImageFormat format;
  if (ext == ".pgm") {
    format = eImagePgm;
  } else if (ext == ".png") {
    format = eImagePng;
  } else if (ext == ".jpg" || ext == ".jpeg") {
    format = eImageJpeg;
  } else {
    throwWrite(path, "unknown extension '" + ext + "' (use .pgm, .png, .jpg or .jpeg)");
  }
  if (!image.isBound() || image.width() <= 0 || image.height() <= 0)
    throwWrite(path, "the image has no pixels");
  writeFile(path, cfEncodeImage(image, format, options));
}

ccRgbImage::ccRgbImage(long width, long height) : width_(width), height_(height) {
  if (width < 0 || height < 0) throw ccBadArgument(L"ccRgbImage: the size cannot be negative");
  data_.assign(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
}

std::vector<unsigned char> cfEncodeRgbPng(const ccRgbImage& image) {
  if (image.width() <= 0 || image.height() <= 0) throwWrite("(memory)", "the image has no pixels");
  std::vector<png_bytep> rows(image.height());
  for (long j = 0; j < image.height(); ++j) rows[j] = const_cast<png_bytep>(image.pixel(0, j));
  return encodePng(rows, image.width(), PNG_COLOR_TYPE_RGB);
}

void cfWriteRgbImage(const std::string& path, const ccRgbImage& image) {
  if (lowerExtension(path) != ".png")
    throwWrite(path, "RGB images are written as PNG only (use .png)");
  if (image.width() <= 0 || image.height() <= 0) throwWrite(path, "the image has no pixels");
  writeFile(path, cfEncodeRgbPng(image));
}
