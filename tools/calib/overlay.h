// SPDX-License-Identifier: Apache-2.0
// An RGB drawing canvas over a grey image, for showing what the calibration found: lines,
// circles, crosses and short labels, written out as an RGB PNG. Header-only so that tools
// and tests share it without a library of their own.
//
// Positions are in the grey image's frame (the centre of pixel (x, y) is the point (x, y),
// offsets honoured), so a position reported for that image lands where it belongs. Lines,
// circles and crosses are anti-aliased and keep their sub-pixel position; text is drawn
// with a built-in 5 x 7 bitmap font at whole-pixel positions. Anything outside the canvas
// is clipped.
#ifndef TOOLS_CALIB_OVERLAY_H
#define TOOLS_CALIB_OVERLAY_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"
#include "tools/imageio/image_io.h"

struct ccRgb {
  unsigned char r = 0, g = 0, b = 0;
};

constexpr ccRgb kOverlayRed{255, 40, 40};
constexpr ccRgb kOverlayGreen{40, 220, 40};
constexpr ccRgb kOverlayBlue{60, 120, 255};
constexpr ccRgb kOverlayYellow{255, 230, 0};
constexpr ccRgb kOverlayCyan{0, 220, 230};
constexpr ccRgb kOverlayMagenta{240, 60, 240};
constexpr ccRgb kOverlayWhite{255, 255, 255};

class ccOverlayCanvas {
 public:
  // Font cell: glyph size and advance, pixels at scale 1.
  static constexpr int kGlyphWidth = 5;
  static constexpr int kGlyphHeight = 7;
  static constexpr int kGlyphAdvance = 6;
  static constexpr int kLineAdvance = 9;

  // An RGB copy of the window of `grey`. Throws ccPel::UnboundWindow for an image without
  // pixels.
  explicit ccOverlayCanvas(const ccPelBuffer_const<unsigned char>& grey)
      : origin_(grey.offset()), rgb_((grey.requireBound(), grey.width()), grey.height()) {
    for (long y = 0; y < grey.height(); ++y) {
      const unsigned char* in = grey.row(y);
      for (long x = 0; x < grey.width(); ++x) {
        unsigned char* p = rgb_.pixel(x, y);
        p[0] = p[1] = p[2] = in[x];
      }
    }
  }

  const ccRgbImage& image() const { return rgb_; }

  // A segment from a to b, `width` pixels wide.
  void line(const ccVector<2>& a, const ccVector<2>& b, const ccRgb& colour, double width = 1.0) {
    const ccVector<2> pa = local(a), pb = local(b);
    // Walk the axis along which the segment runs longer; at each step visit the pixels
    // across it that the widened segment can touch.
    const bool alongX = std::fabs(pb.x() - pa.x()) >= std::fabs(pb.y() - pa.y());
    const double t0 = alongX ? pa.x() : pa.y(), t1 = alongX ? pb.x() : pb.y();
    const double c0 = alongX ? pa.y() : pa.x(), c1 = alongX ? pb.y() : pb.x();
    const double slope = t1 != t0 ? (c1 - c0) / (t1 - t0) : 0.0;
    const double reach = 0.5 * width + 1.0;
    const double spread = reach * std::sqrt(1.0 + slope * slope) + 1.0;
    const double lo = std::min(t0, t1), hi = std::max(t0, t1);
    for (long m = ceilLong(lo - reach); m <= floorLong(hi + reach); ++m) {
      const double c = c0 + slope * (std::clamp(static_cast<double>(m), lo, hi) - t0);
      for (long n = ceilLong(c - spread); n <= floorLong(c + spread); ++n) {
        const ccVector<2> p = alongX ? ccVector<2>(m, n) : ccVector<2>(n, m);
        blend(p, colour, 0.5 * width + 0.5 - segmentDistance(p, pa, pb));
      }
    }
  }

  // A circle outline of the given radius, `width` pixels wide.
  void circle(const ccVector<2>& centre, double radius, const ccRgb& colour, double width = 1.0) {
    const ccVector<2> c = local(centre);
    const double outer = radius + 0.5 * width + 0.5, inner = radius - 0.5 * width - 0.5;
    for (long y = ceilLong(c.y() - outer); y <= floorLong(c.y() + outer); ++y) {
      const double dy = y - c.y();
      const double xo = std::sqrt(std::max(0.0, outer * outer - dy * dy)) + 1.0;
      // Pixels strictly inside the ring's hole are skipped.
      const double xi =
          inner > 0.0 && std::fabs(dy) < inner ? std::sqrt(inner * inner - dy * dy) - 1.0 : 0.0;
      for (long x = ceilLong(c.x() - xo); x <= floorLong(c.x() + xo); ++x) {
        if (xi > 0.0 && std::fabs(x - c.x()) < xi) {
          x = ceilLong(c.x() + xi) - 1;
          continue;
        }
        const ccVector<2> p(x, y);
        blend(p, colour, 0.5 * width + 0.5 - std::fabs(p.distance(c) - radius));
      }
    }
  }

  // A cross of two arms through `centre`, each 2 * arm long, turned by `angle` (a quarter
  // turn over 2 gives an x).
  void cross(const ccVector<2>& centre, double arm, const ccRgb& colour, double width = 1.0,
             ccRadian angle = ccRadian(0.0)) {
    const ccVector<2> u(arm, angle), v = u.perp();
    line(centre - u, centre + u, colour, width);
    line(centre - v, centre + v, colour, width);
  }

  // Text with its upper-left corner at `topLeft` (rounded to whole pixels), glyphs scaled
  // by `scale`. Letters (either case), digits and - , ( ) . : + = / % # _ ? are drawn;
  // other characters as '?'. A newline starts a new line.
  void text(const ccVector<2>& topLeft, const std::string& s, const ccRgb& colour, int scale = 1) {
    const ccVector<2> origin = local(topLeft);
    long x0 = static_cast<long>(std::lround(origin.x())), x = x0,
         y = static_cast<long>(std::lround(origin.y()));
    scale = std::max(1, scale);
    for (char ch : s) {
      if (ch == '\n') {
        x = x0;
        y += kLineAdvance * scale;
        continue;
      }
      const std::uint8_t* rows = glyph(ch);
      for (int r = 0; r < kGlyphHeight; ++r)
        for (int col = 0; col < kGlyphWidth; ++col)
          if (rows[r] & (0x10 >> col))
            for (int sy = 0; sy < scale; ++sy)
              for (int sx = 0; sx < scale; ++sx)
                set(x + col * scale + sx, y + r * scale + sy, colour);
      x += kGlyphAdvance * scale;
    }
  }

  // Writes the canvas as an RGB PNG; throws ccImageFileError.
  void write(const std::string& path) const { cfWriteRgbImage(path, rgb_); }

 private:
  static long floorLong(double v) { return static_cast<long>(std::floor(v)); }
  static long ceilLong(double v) { return static_cast<long>(std::ceil(v)); }

  ccVector<2> local(const ccVector<2>& p) const {
    return ccVector<2>(p.x() - origin_.x(), p.y() - origin_.y());
  }

  static double segmentDistance(const ccVector<2>& p, const ccVector<2>& a, const ccVector<2>& b) {
    const ccVector<2> d = b - a;
    const double len2 = d.lengthSq();
    const double t = len2 > 0.0 ? std::clamp((p - a).dot(d) / len2, 0.0, 1.0) : 0.0;
    return p.distance(a + d * t);
  }

  void set(long x, long y, const ccRgb& c) {
    if (x < 0 || y < 0 || x >= rgb_.width() || y >= rgb_.height()) return;
    unsigned char* p = rgb_.pixel(x, y);
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
  }

  // Mixes `c` into the pixel at local position p with coverage alpha (clamped to [0, 1]).
  void blend(const ccVector<2>& p, const ccRgb& c, double alpha) {
    const long x = static_cast<long>(p.x()), y = static_cast<long>(p.y());
    if (alpha <= 0.0 || x < 0 || y < 0 || x >= rgb_.width() || y >= rgb_.height()) return;
    alpha = std::min(alpha, 1.0);
    unsigned char* q = rgb_.pixel(x, y);
    const unsigned char src[3] = {c.r, c.g, c.b};
    for (int k = 0; k < 3; ++k)
      q[k] = static_cast<unsigned char>(std::lround(q[k] + alpha * (src[k] - q[k])));
  }

  // The 5 x 7 glyph of a character: seven rows, bit 4 the leftmost column.
  static const std::uint8_t* glyph(char ch) {
    static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-,().:+=/%#_? ";
    static const std::uint8_t kGlyphs[][7] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
        {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 0 1
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
        {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 2 3
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
        {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 4 5
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 6 7
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
        {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 8 9
        {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},
        {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},  // A B
        {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},
        {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},  // C D
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},  // E F
        {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},
        {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // G H
        {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},  // I J
        {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},
        {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},  // K L
        {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},
        {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},  // M N
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
        {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},  // O P
        {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},
        {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // Q R
        {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},
        {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // S T
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},  // U V
        {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},
        {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},  // W X
        {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},  // Y Z
        {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},
        {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08},  // - ,
        {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02},
        {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},  // ( )
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C},
        {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // . :
        {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},
        {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},  // + =
        {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},
        {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},  // / %
        {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},  // # _
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // ? space
    };
    static_assert(sizeof(kGlyphs) / sizeof(kGlyphs[0]) == sizeof(kChars) - 1,
                  "one glyph per character");
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (std::size_t k = 0; k + 1 < sizeof(kChars); ++k)
      if (kChars[k] == up) return kGlyphs[k];
    return kGlyphs[sizeof(kChars) - 3];  // '?'
  }

  ccPair<long> origin_;
  ccRgbImage rgb_;
};

#endif  // TOOLS_CALIB_OVERLAY_H
