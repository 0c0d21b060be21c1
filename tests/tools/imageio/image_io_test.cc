// SPDX-License-Identifier: Apache-2.0
// Image files: round trips, every PNG layout, netpbm variants, and damaged or missing files
// that must fail with ccImageFileError instead of crashing.
#include "tools/imageio/image_io.h"

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

ccPelBuffer<unsigned char> noiseImage(long w, long h, unsigned seed) {
  std::mt19937 rng(seed);
  ccPelBuffer<unsigned char> image(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) image.at(x, y) = static_cast<unsigned char>(rng() & 0xFF);
  return image;
}

// Largest absolute pixel difference; -1 when the sizes differ.
int maxDiff(const ccPelBuffer_const<unsigned char>& a, const ccPelBuffer_const<unsigned char>& b) {
  if (a.width() != b.width() || a.height() != b.height()) return -1;
  int worst = 0;
  for (long y = 0; y < a.height(); ++y)
    for (long x = 0; x < a.width(); ++x)
      worst = std::max(worst, std::abs(a.row(y)[x] - b.row(y)[x]));
  return worst;
}

std::string tempPath(const std::string& name) {
  return ::testing::TempDir() + "image_io_test_" + name;
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Decoding must throw ccImageFileError naming the file; anything else fails the test.
void expectRefused(const std::vector<unsigned char>& bytes, const std::string& what) {
  try {
    cfDecodeImage(bytes, "probe.img");
    ADD_FAILURE() << what << ": decoded without error";
  } catch (const ccImageFileError& e) {
    EXPECT_NE(e.messageUtf8().find("probe.img"), std::string::npos) << e.messageUtf8();
  }
}

// A PNG written with libpng itself: `samples` holds one value per channel and pixel, row by
// row, at the given bit depth (sub-byte depths one sample per byte).
std::vector<unsigned char> makePng(long w, long h, int colourType, int depth, bool interlaced,
                                   const std::vector<unsigned>& samples,
                                   const std::vector<png_color>& palette = {}) {
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, png_size_t n) {
        auto* v = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
        v->insert(v->end(), d, d + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, depth, colourType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  if (depth < 8) png_set_packing(png);
  const std::size_t perRow = samples.size() / h;
  const int bytesPerSample = depth == 16 ? 2 : 1;
  std::vector<unsigned char> bytes(samples.size() * bytesPerSample);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (depth == 16) {
      bytes[2 * k] = static_cast<unsigned char>(samples[k] >> 8);
      bytes[2 * k + 1] = static_cast<unsigned char>(samples[k]);
    } else {
      bytes[k] = static_cast<unsigned char>(samples[k]);
    }
  }
  std::vector<png_bytep> rows(h);
  for (long j = 0; j < h; ++j) rows[j] = bytes.data() + j * perRow * bytesPerSample;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TEST(ImageIo, RoundTripsKeepPixelsAndWriteOnlyTheWindow) {
  ccPelBuffer<unsigned char> image = noiseImage(37, 23, 1);
  for (const char* ext : {".pgm", ".png", ".PNG"}) {
    const std::string path = tempPath(std::string("round") + ext);
    cfWriteImage(path, image);
    ccPelBuffer<unsigned char> back = cfReadImage(path);
    EXPECT_EQ(maxDiff(image, back), 0) << ext;
    EXPECT_EQ(back.offset(), ccPair<long>(0, 0));
  }
  // JPEG is lossy: a smooth image comes back within a few grey levels.
  ccPelBuffer<unsigned char> smooth(64, 48);
  for (long y = 0; y < 48; ++y)
    for (long x = 0; x < 64; ++x) smooth.at(x, y) = static_cast<unsigned char>(40 + 2 * x + y);
  cfWriteImage(tempPath("round.jpg"), smooth);
  EXPECT_LE(maxDiff(smooth, cfReadImage(tempPath("round.jpg"))), 3);

  ccPelBuffer<unsigned char> window = image;
  window.window(ccPelRect(5, 4, 10, 7));
  ccPelBuffer<unsigned char> back = cfDecodeImage(cfEncodeImage(window, eImagePng), "w");
  ASSERT_EQ(back.width(), 10);
  EXPECT_EQ(back.at(0, 0), image.at(5, 4));
  EXPECT_EQ(back.at(9, 6), image.at(14, 10));
}

TEST(ImageIo, EveryPngLayoutBecomesEightBitGrey) {
  const long w = 7, h = 5;
  std::vector<unsigned> grey8, grey16, grey4, grey1, rgb, rgba, index, grey16a;
  std::vector<unsigned char> want8, want4, want1, wantRgb, wantIndex;
  std::vector<png_color> palette;
  for (int k = 0; k < 16; ++k)
    palette.push_back(
        png_color{static_cast<png_byte>(16 * k), static_cast<png_byte>(255 - 9 * k), 77});
  for (long k = 0; k < w * h; ++k) {
    const unsigned v = (37 * k + 11) % 256, r = (53 * k) % 256, g = (97 * k + 5) % 256,
                   b = (29 * k + 200) % 256;
    grey8.push_back(v);
    want8.push_back(static_cast<unsigned char>(v));
    grey16.push_back(257 * v + 100);  // 8-bit value plus a fraction that must round away
    grey16a.insert(grey16a.end(), {257 * v, 12345});
    grey4.push_back(k % 16);
    want4.push_back(static_cast<unsigned char>(17 * (k % 16)));
    grey1.push_back(k % 3 == 0);
    want1.push_back(k % 3 == 0 ? 255 : 0);
    rgb.insert(rgb.end(), {r, g, b});
    rgba.insert(rgba.end(), {r, g, b, 99});
    wantRgb.push_back(static_cast<unsigned char>((299 * r + 587 * g + 114 * b + 500) / 1000));
    index.push_back(k % 16);
    const png_color& c = palette[k % 16];
    wantIndex.push_back(
        static_cast<unsigned char>((299 * c.red + 587 * c.green + 114 * c.blue + 500) / 1000));
  }
  struct Case {
    const char* name;
    std::vector<unsigned char> file;
    const std::vector<unsigned char>& want;
  };
  const Case cases[] = {
      {"grey 8", makePng(w, h, PNG_COLOR_TYPE_GRAY, 8, false, grey8), want8},
      {"grey 8 interlaced", makePng(w, h, PNG_COLOR_TYPE_GRAY, 8, true, grey8), want8},
      {"grey 16", makePng(w, h, PNG_COLOR_TYPE_GRAY, 16, false, grey16), want8},
      {"grey+alpha 16", makePng(w, h, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, grey16a), want8},
      {"grey 4", makePng(w, h, PNG_COLOR_TYPE_GRAY, 4, false, grey4), want4},
      {"grey 1", makePng(w, h, PNG_COLOR_TYPE_GRAY, 1, false, grey1), want1},
      {"rgb 8", makePng(w, h, PNG_COLOR_TYPE_RGB, 8, false, rgb), wantRgb},
      {"rgba 8", makePng(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, rgba), wantRgb},
      {"palette 4", makePng(w, h, PNG_COLOR_TYPE_PALETTE, 4, false, index, palette), wantIndex},
  };
  for (const Case& c : cases) {
    ccPelBuffer<unsigned char> image = cfDecodeImage(c.file, c.name);
    ASSERT_EQ(image.width(), w) << c.name;
    ASSERT_EQ(image.height(), h) << c.name;
    for (long k = 0; k < w * h; ++k) {
      ASSERT_EQ(image.at(k % w, k / w), c.want[k]) << c.name << " at pixel " << k;
    }
  }
}

TEST(ImageIo, NetpbmVariants) {
  auto decode = [](const std::string& s) {
    return cfDecodeImage(std::vector<unsigned char>(s.begin(), s.end()), "p");
  };
  ccPelBuffer<unsigned char> plain = decode("P2\n# comment\n3 2 # trailing\n15\n0 15 7\n1 2\n3\n");
  EXPECT_EQ(plain.at(1, 0), 255);
  EXPECT_EQ(plain.at(2, 0), 119);  // 7 * 255 / 15
  EXPECT_EQ(plain.at(2, 1), 51);
  ccPelBuffer<unsigned char> wide = decode(std::string("P5 2 1 65535\n\xFF\xFF\x80\x00", 17));
  EXPECT_EQ(wide.at(0, 0), 255);
  EXPECT_EQ(wide.at(1, 0), 128);
  expectRefused({'P', '2', ' ', '1', ' ', '1', ' ', '9', ' ', '1', '0'},
                "sample above the maximum");
  expectRefused({'P', '6', ' ', '1', ' ', '1', ' ', '2', '5', '5', ' ', 1, 2, 3}, "colour netpbm");
  const std::string huge = "P5 100000 100000 255\n";  // must fail before allocating 10^10 pixels
  expectRefused(std::vector<unsigned char>(huge.begin(), huge.end()), "huge");
  expectRefused(std::vector<unsigned char>{'P', '5', ' ', '0', ' ', '4', ' ', '9', ' '},
                "zero width");
}

TEST(ImageIo, EveryTruncationIsRefused) {
  ccPelBuffer<unsigned char> image = noiseImage(16, 12, 2);
  for (ccImageFormat format : {eImagePgm, eImagePng, eImageJpeg}) {
    const std::vector<unsigned char> full = cfEncodeImage(image, format);
    ASSERT_NO_THROW(cfDecodeImage(full, "full"));
    for (std::size_t n = 0; n < full.size(); ++n) {
      expectRefused(std::vector<unsigned char>(full.begin(), full.begin() + n),
                    "format " + std::to_string(format) + " cut to " + std::to_string(n) + " bytes");
    }
  }
}

TEST(ImageIo, DamagedDataNeverCrashes) {
  // Every single-byte corruption either decodes to an image of the right size or is refused;
  // the sanitizer builds catch any memory fault on the way.
  ccPelBuffer<unsigned char> image = noiseImage(16, 12, 3);
  for (ccImageFormat format : {eImagePng, eImageJpeg}) {
    const std::vector<unsigned char> full = cfEncodeImage(image, format);
    for (std::size_t k = 0; k < full.size(); ++k) {
      std::vector<unsigned char> bad = full;
      bad[k] ^= 0x5A;
      try {
        ccPelBuffer<unsigned char> got = cfDecodeImage(bad, "bad");
        EXPECT_GT(got.width() * got.height(), 0);
      } catch (const ccImageFileError&) {
      }
    }
  }
  std::mt19937 rng(4);
  std::vector<unsigned char> garbage(300);
  for (unsigned char& c : garbage) c = static_cast<unsigned char>(rng());
  expectRefused(garbage, "random bytes");
  for (std::vector<unsigned char> magic :
       {std::vector<unsigned char>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
        std::vector<unsigned char>{0xFF, 0xD8, 0xFF}}) {
    magic.insert(magic.end(), garbage.begin(), garbage.end());
    expectRefused(magic, "magic followed by random bytes");
  }
}

TEST(ImageIo, FileErrorsNameTheFile) {
  const std::string empty = tempPath("empty.png");
  writeBytes(empty, "");
  for (const std::string& path : {empty, tempPath("missing.png"), ::testing::TempDir()}) {
    try {
      cfReadImage(path);
      ADD_FAILURE() << path << " was read";
    } catch (const ccImageFileError& e) {
      EXPECT_NE(e.messageUtf8().find(path), std::string::npos) << e.messageUtf8();
    }
  }
  ccPelBuffer<unsigned char> image = noiseImage(4, 4, 5);
  EXPECT_THROW(cfWriteImage(tempPath("x.bmp"), image), ccImageFileError);
  EXPECT_THROW(cfWriteImage("/nonexistent-dir/x.png", image), ccImageFileError);
  EXPECT_THROW(cfWriteImage(tempPath("unbound.png"), ccPelBuffer<unsigned char>()),
               ccImageFileError);
  EXPECT_THROW(cfWriteRgbImage(tempPath("rgb.jpg"), ccRgbImage(2, 2)), ccImageFileError);
}

// A PNG of signature, IHDR (with a valid CRC), an empty IDAT and IEND: 57 bytes that
// declare `width` x `height` pixels of the colour type.
std::vector<unsigned char> pngHeaderOnly(std::uint32_t width, std::uint32_t height,
                                         unsigned char colourType) {
  std::vector<unsigned char> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto be32 = [&](std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  auto chunk = [&](const char* type, const std::vector<unsigned char>& data) {
    be32(static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    be32(static_cast<std::uint32_t>(
        crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
  };
  std::vector<unsigned char> ihdr;
  for (std::uint32_t v : {width, height})
    for (int i = 3; i >= 0; --i) ihdr.push_back(static_cast<unsigned char>(v >> (8 * i)));
  ihdr.insert(ihdr.end(), {8, colourType, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", {});
  chunk("IEND", {});
  return out;
}

// A grey JPEG whose frame header is changed to declare `width` x `height`.
std::vector<unsigned char> jpegDeclaring(unsigned width, unsigned height) {
  std::vector<unsigned char> bytes = cfEncodeImage(noiseImage(16, 16, 9), eImageJpeg);
  for (std::size_t k = 0; k + 9 < bytes.size(); ++k) {
    if (bytes[k] == 0xFF && bytes[k + 1] == 0xC0) {
      bytes[k + 5] = static_cast<unsigned char>(height >> 8);
      bytes[k + 6] = static_cast<unsigned char>(height);
      bytes[k + 7] = static_cast<unsigned char>(width >> 8);
      bytes[k + 8] = static_cast<unsigned char>(width);
      return bytes;
    }
  }
  ADD_FAILURE() << "no baseline frame header";
  return bytes;
}

std::string refusal(const std::function<void()>& read) {
  try {
    read();
  } catch (const ccImageFileError& e) {
    return e.messageUtf8();
  }
  return "(read without error)";
}

TEST(ImageIo, HugeDeclaredSizesAreRefusedByTheLimitBeforeDecoding) {
  const std::string limit = std::to_string(ccImageReadLimits::kDefaultMaxDecodedBytes);
  const std::vector<unsigned char> png = pngHeaderOnly(16384, 16384, PNG_COLOR_TYPE_RGB);
  ASSERT_EQ(png.size(), 57u);
  std::string pgm = "P5\n60000 60000\n255\n";
  pgm.append(64, '\0');
  const struct {
    const char* name;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"png", png}, {"jpeg", jpegDeclaring(65500, 65500)}, {"pgm", {pgm.begin(), pgm.end()}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = refusal([&] { cfDecodeImage(c.bytes, "hostile.img"); });
    EXPECT_NE(message.find("hostile.img"), std::string::npos) << message;
    EXPECT_NE(message.find("over the limit of " + limit + " bytes"), std::string::npos) << message;
  }
  // Endless input that is no image stops at its first bytes.
  EXPECT_NE(refusal([] { cfReadImage("/dev/zero"); }).find("not a PGM, PNG or JPEG"),
            std::string::npos);
}

TEST(ImageIo, CallerLimitsCountChannelsAndFileBytes) {
  ccRgbImage rgb(10, 8);
  const std::vector<unsigned char> colour = cfEncodeRgbPng(rgb);
  const std::vector<unsigned char> grey = cfEncodeImage(noiseImage(10, 8, 6), eImageJpeg);
  ccImageReadLimits limits;
  limits.maxDecodedBytes = 10 * 8 * 3;
  EXPECT_NO_THROW(cfDecodeImage(colour, "colour", limits));
  limits.maxDecodedBytes = 10 * 8 * 3 - 1;
  EXPECT_NE(refusal([&] { cfDecodeImage(colour, "colour", limits); }).find("limit of 239 bytes"),
            std::string::npos);
  limits.maxDecodedBytes = 10 * 8;
  EXPECT_NO_THROW(cfDecodeImage(grey, "grey", limits));
  limits.maxDecodedBytes = 10 * 8 - 1;
  EXPECT_THROW(cfDecodeImage(grey, "grey", limits), ccImageFileError);

  const std::string path = tempPath("limit.jpg");
  writeBytes(path, std::string(grey.begin(), grey.end()));
  limits = ccImageReadLimits();
  limits.maxFileBytes = grey.size();
  EXPECT_NO_THROW(cfReadImage(path, limits));
  EXPECT_NO_THROW(cfDecodeImage(grey, "grey", limits));
  limits.maxFileBytes = grey.size() - 1;
  const std::string message = refusal([&] { cfReadImage(path, limits); });
  EXPECT_NE(message.find(path), std::string::npos) << message;
  EXPECT_NE(message.find("larger than the limit of " + std::to_string(grey.size() - 1)),
            std::string::npos)
      << message;
  EXPECT_THROW(cfDecodeImage(grey, "grey", limits), ccImageFileError);
}

// A pipe cannot be measured before it is read: a header that declares too much is refused
// from the first bytes, long before the file limit.
TEST(ImageIo, PipeWithAHugeHeaderStopsAtItsFirstBytes) {
  const std::string fifo = tempPath("pipe.png");
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  signal(SIGPIPE, SIG_IGN);  // the writer sees the reader leave early
  std::thread writer([&] {
    std::ofstream out(fifo, std::ios::binary);
    const std::vector<unsigned char> header = pngHeaderOnly(16384, 16384, PNG_COLOR_TYPE_RGB);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    const std::string zeros(1 << 16, '\0');
    for (int k = 0; k < 64 && out; ++k)
      out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  });
  ccImageReadLimits limits;
  limits.maxFileBytes = 1 << 20;
  const std::string message = refusal([&] { cfReadImage(fifo, limits); });
  writer.join();
  std::remove(fifo.c_str());
  EXPECT_NE(message.find("bytes decoded, over the limit"), std::string::npos) << message;
}

TEST(ImageIo, RgbPngReadsBackAsLuma) {
  ccRgbImage rgb(3, 2);
  const unsigned char colours[6][3] = {{255, 0, 0},  {0, 255, 0},     {0, 0, 255},
                                       {10, 20, 30}, {255, 255, 255}, {0, 0, 0}};
  for (int k = 0; k < 6; ++k) std::copy(colours[k], colours[k] + 3, rgb.pixel(k % 3, k / 3));
  const std::string path = tempPath("rgb.png");
  cfWriteRgbImage(path, rgb);
  ccPelBuffer<unsigned char> grey = cfReadImage(path);
  const int want[6] = {76, 150, 29, 18, 255, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(grey.at(k % 3, k / 3), want[k]) << "pixel " << k;
}

TEST(ImageIo, RealPhotographs) {
  const std::string dir = CCALIB_REALDATA_DIR;
  struct Photo {
    std::string file;
    long width, height;
  };
  const Photo photos[] = {{"/checker-opencv/chessboard-01.jpg", 640, 480},
                          {"/dots-metal/metal-14_08_32.png", 1920, 1080},
                          {"/dots-visp/circles-01.png", 320, 240}};
  for (const Photo& p : photos) {
    if (!std::ifstream(dir + p.file)) GTEST_SKIP() << "real data not present: " << dir + p.file;
    ccPelBuffer<unsigned char> image = cfReadImage(dir + p.file);
    EXPECT_EQ(image.width(), p.width) << p.file;
    EXPECT_EQ(image.height(), p.height) << p.file;
    unsigned char lo = 255, hi = 0;
    for (long y = 0; y < image.height(); ++y)
      for (long x = 0; x < image.width(); ++x)
        lo = std::min(lo, image.at(x, y)), hi = std::max(hi, image.at(x, y));
    EXPECT_GT(hi - lo, 100) << p.file << ": a plate photograph has contrast";
  }
}

}  // namespace

namespace {

// Big-endian unsigned integer of `n` bytes at `at`.
unsigned long bigEndian(const std::vector<unsigned char>& bytes, std::size_t at, int n) {
  unsigned long v = 0;
  for (int k = 0; k < n; ++k) v = (v << 8) | bytes.at(at + k);
  return v;
}

// Offset of `tag` in `bytes`, or npos.
std::size_t find(const std::vector<unsigned char>& bytes, const std::string& tag) {
  const auto it = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
  return it == bytes.end() ? std::string::npos : static_cast<std::size_t>(it - bytes.begin());
}

}  // namespace

// A resolution asked for is recorded where printers look for it (PNG pHYs in pixels per
// metre, JFIF density in pixels per centimetre), rounded; none is recorded otherwise, and
// the pixels are unchanged either way.
TEST(ImageIo, WritersRecordTheResolution) {
  const ccPelBuffer<unsigned char> image = noiseImage(31, 17, 5);
  ccImageWriteOptions at300dpi;
  at300dpi.pixelsPerMetre = 300.0 / 0.0254;  // 11811.02
  const std::vector<unsigned char> png = cfEncodeImage(image, eImagePng, at300dpi);
  const std::size_t phys = find(png, "pHYs");
  ASSERT_NE(phys, std::string::npos);
  EXPECT_EQ(bigEndian(png, phys - 4, 4), 9u);      // chunk length
  EXPECT_EQ(bigEndian(png, phys + 4, 4), 11811u);  // x
  EXPECT_EQ(bigEndian(png, phys + 8, 4), 11811u);  // y
  EXPECT_EQ(png.at(phys + 12), 1);                 // unit: metre
  EXPECT_LT(phys, find(png, "IDAT"));              // before the pixels, where readers expect it
  EXPECT_EQ(maxDiff(cfDecodeImage(png, "x.png"), image), 0);
  EXPECT_EQ(find(cfEncodeImage(image, eImagePng), "pHYs"), std::string::npos);

  const std::vector<unsigned char> jpeg = cfEncodeImage(image, eImageJpeg, at300dpi);
  const std::size_t jfif = find(jpeg, std::string("JFIF\0", 5));
  ASSERT_NE(jfif, std::string::npos);
  EXPECT_EQ(jpeg.at(jfif + 7), 2);                 // unit: centimetre
  EXPECT_EQ(bigEndian(jpeg, jfif + 8, 2), 118u);   // x
  EXPECT_EQ(bigEndian(jpeg, jfif + 10, 2), 118u);  // y

  ccImageWriteOptions bad;
  bad.pixelsPerMetre = -1.0;
  EXPECT_THROW(cfEncodeImage(image, eImagePng, bad), ccBadArgument);
}
