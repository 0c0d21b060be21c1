// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/rle_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/foundation/archive.h"
#include "platform/foundation/pel_ops.h"

namespace {

// A random image of a few grey levels in blocks, so that runs of several pixels occur.
ccPelBuffer<unsigned char> blockyImage(long w, long h, long ox, long oy, unsigned seed) {
  ccPelBuffer<unsigned char> img(ccPelRect(ox, oy, w, h));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> level(0, 3), len(1, 6);
  for (long j = 0; j < h; ++j) {
    long i = 0;
    while (i < w) {
      unsigned char v = static_cast<unsigned char>(level(rng) * 60);
      for (long n = len(rng); n > 0 && i < w; --n, ++i) img.row(j)[i] = v;
    }
  }
  return img;
}

::testing::AssertionResult samePixels(const ccPelBuffer_const<unsigned char>& a,
                                      const ccPelBuffer_const<unsigned char>& b) {
  if (a.window() != b.window()) return ::testing::AssertionFailure() << "windows differ";
  for (long y = a.offset().y(); y < a.offset().y() + a.height(); ++y) {
    for (long x = a.offset().x(); x < a.offset().x() + a.width(); ++x) {
      if (a.at(x, y) != b.at(x, y)) {
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << "): " << int(a.at(x, y)) << " vs "
               << int(b.at(x, y));
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(RleBuffer, EncodeDecodeValueAndHistogram) {
  ccPelBuffer<unsigned char> img = blockyImage(37, 23, -5, 11, 3);
  ccRLEBuffer rle(img);
  EXPECT_EQ(rle.window(), img.window());
  EXPECT_TRUE(samePixels(rle.image(), img));
  EXPECT_EQ(rle.value(-5, 11), img.at(-5, 11));
  EXPECT_EQ(rle.value(31, 33), img.at(31, 33));
  EXPECT_THROW(rle.value(32, 33), ccPel::BadWindow);
  EXPECT_EQ(rle.histogram(), cfPelHistogram(img));
  EXPECT_TRUE(ccRLEBuffer().degen());
  EXPECT_THROW(ccRLEBuffer(ccPelBuffer<unsigned char>()), ccPel::UnboundWindow);

  rle.offset(ccPair<long>(100, 200));
  EXPECT_EQ(rle.value(100, 200), img.at(-5, 11));
}

TEST(RleBuffer, MapMaskAndRewindow) {
  ccPelBuffer<unsigned char> img = blockyImage(20, 9, 3, 4, 5);
  ccRLEBuffer rle(img);
  // A short table is fine when it covers every value; otherwise the map refuses.
  std::vector<unsigned char> table(181, 0);
  table[60] = 1;
  table[120] = 1;
  ccRLEBuffer mapped = rle.map(table);
  for (long y = 4; y < 13; ++y) {
    for (long x = 3; x < 23; ++x) EXPECT_EQ(mapped.value(x, y), table[img.at(x, y)]);
  }
  EXPECT_THROW(rle.map(std::vector<unsigned char>(100, 0)), ccBadArgument);

  // Mask over a shifted window: only the overlap is touched.
  ccRLEBuffer m = mapped.rewindow(ccPelRect(10, 0, 30, 10), 9);
  ccRLEBuffer a = rle, b = rle;
  a.mask(m, 1, 255, false);
  b.mask(m, 1, 7, true);
  for (long y = 4; y < 13; ++y) {
    for (long x = 3; x < 23; ++x) {
      bool inMask = y < 10 && x >= 10;
      int mv = inMask ? (x >= 10 ? table[img.at(x, y)] : 9) : -1;
      EXPECT_EQ(a.value(x, y), inMask && mv == 1 ? 255 : img.at(x, y)) << x << "," << y;
      EXPECT_EQ(b.value(x, y), inMask && mv != 1 ? 7 : img.at(x, y)) << x << "," << y;
    }
  }
  EXPECT_THROW(a.mask(m, 256, 0, false), ccBadArgument);

  // Rewindow: outside the old window comes the fill value.
  ccRLEBuffer r = rle.rewindow(ccPelRect(2, 3, 3, 3), 42);
  EXPECT_EQ(r.value(2, 3), 42);
  EXPECT_EQ(r.value(3, 4), img.at(3, 4));
  EXPECT_EQ(r.value(4, 5), img.at(4, 5));
}

TEST(RleBuffer, RemapInPlaceAndAssignFromRowRanges) {
  const ccPelBuffer<unsigned char> img = blockyImage(40, 12, -2, 5, 8);
  ccRLEBuffer rle(img);
  // Merging 60 into 0 and 180 into 120 must leave the runs of the re-encoded image.
  std::vector<unsigned char> table(256, 0);
  table[120] = table[180] = 9;
  ccPelBuffer<unsigned char> want(img.window());
  cfPelMap(img, table, want);
  rle.remap(table);
  EXPECT_TRUE(rle == ccRLEBuffer(want));
  EXPECT_EQ(rle.runCount(), ccRLEBuffer(want).runCount());
  const ccRLEBuffer before = rle;
  EXPECT_THROW(rle.remap(std::vector<unsigned char>(5, 0)), ccBadArgument);
  EXPECT_TRUE(rle == before);

  // Rows given as ranges into separate arrays.
  const ccRLEBuffer src(img);
  std::vector<std::vector<ccRLEBuffer::Run>> rows(static_cast<std::size_t>(img.height()));
  std::vector<ccRLEBuffer::RowRange> ranges;
  for (long j = 0; j < img.height(); ++j) {
    rows[static_cast<std::size_t>(j)].assign(src.rowBegin(j), src.rowEnd(j));
    const std::vector<ccRLEBuffer::Run>& r = rows[static_cast<std::size_t>(j)];
    ranges.emplace_back(r.data(), r.data() + r.size());
  }
  ccRLEBuffer built;
  built.assign(img.window(), ranges);
  EXPECT_TRUE(built == src);
  rows[3].back().length += 1;  // no longer partitions its row
  ranges[3] = ccRLEBuffer::RowRange(rows[3].data(), rows[3].data() + rows[3].size());
  EXPECT_THROW(built.assign(img.window(), ranges), ccBadArgument);
  EXPECT_TRUE(built.degen());
  ranges.pop_back();
  EXPECT_THROW(built.assign(img.window(), ranges), ccBadArgument);
}

TEST(RleBuffer, GreyDilationMatchesBruteForce) {
  ccPelBuffer<unsigned char> img = blockyImage(25, 17, 7, -3, 9);
  ccRLEBuffer rle(img);
  // Structuring elements as offsets.
  const std::vector<std::vector<std::pair<int, int>>> shapes = {
      {{-1, 0}, {0, 0}, {1, 0}},
      {{0, -1}, {0, 0}, {0, 1}},
      {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {0, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}},
      {{0, -1}, {-1, 0}, {0, 0}, {1, 0}, {0, 1}},
  };
  for (int s = 0; s < 4; ++s) {
    ccRLEBuffer d = rle.gmorphMax(s);
    for (long y = -3; y < 14; ++y) {
      for (long x = 7; x < 32; ++x) {
        unsigned char want = 0;
        for (auto [dx, dy] : shapes[s]) {
          if (img.window().contains(x + dx, y + dy)) want = std::max(want, img.at(x + dx, y + dy));
        }
        ASSERT_EQ(d.value(x, y), want) << "shape " << s << " at " << x << "," << y;
      }
    }
  }
  EXPECT_THROW(rle.gmorphMax(4), ccBadArgument);
}

TEST(RleBuffer, HistogramUnderRegion) {
  ccPelBuffer<unsigned char> img = blockyImage(30, 20, 0, 0, 11);
  ccPelBuffer<unsigned char> regionPels(ccPelRect(5, 5, 6, 4));
  regionPels.at(6, 6) = 1;
  regionPels.at(10, 8) = 3;
  ccRLEBuffer region(regionPels);
  std::vector<unsigned long> h = region.histogramUnder(img);
  std::vector<unsigned long> want(256, 0);
  ++want[img.at(6, 6)];
  ++want[img.at(10, 8)];
  EXPECT_EQ(h, want);
  EXPECT_EQ(region.countNonZero(), 2u);
  region.offset(ccPair<long>(26, 5));  // the pixel at column 31 now lies outside the image
  EXPECT_THROW(region.histogramUnder(img), ccPel::BadWindow);
}

TEST(RleBuffer, ArchiveRoundTripAndHostileInput) {
  ccRLEBuffer rle(blockyImage(19, 7, -2, 5, 13));
  std::vector<unsigned char> bytes;
  {
    ccArchive ar(bytes, ccArchive::eStoring);
    ar || rle;
  }
  ccRLEBuffer back;
  {
    ccArchive ar(bytes, ccArchive::eLoading);
    ar || back;
  }
  EXPECT_TRUE(back == rle);

  // Polymorphic round trip through the factory.
  std::vector<unsigned char> polyBytes;
  {
    ccPersistent* p = &rle;
    ccArchive ar(polyBytes, ccArchive::eStoring);
    ar.exchangePointer(p);
  }
  {
    ccArchive ar(polyBytes, ccArchive::eLoading);
    ccRLEBuffer* q = nullptr;
    ar || q;
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(*q == rle);
    delete q;
  }

  auto load = [](std::vector<unsigned char> b) {
    ccRLEBuffer r;
    ccArchive ar(b, ccArchive::eLoading);
    ar || r;
  };
  // Layout: 2 version bytes, x, y, height count, width, then per row a count and 5-byte runs.
  std::vector<unsigned char> truncated(bytes.begin(), bytes.end() - 3);
  EXPECT_THROW(load(truncated), ccException);  // Truncated or BadData, depending on where it stops
  std::vector<unsigned char> badVersion = bytes;
  badVersion[0] = 9;
  EXPECT_THROW(load(badVersion), ccArchive::UnknownVersion);
  std::vector<unsigned char> hugeHeight = bytes;
  hugeHeight[10] = hugeHeight[11] = hugeHeight[12] = 0x7F;
  EXPECT_THROW(load(hugeHeight), ccArchive::BadData);
  std::vector<unsigned char> hugeWidth = bytes;
  hugeWidth[17] = 0x40;
  EXPECT_THROW(load(hugeWidth), ccArchive::BadData);
  std::vector<unsigned char> badRun = bytes;
  badRun[22] = 0xFF;  // first run length of row 0 beyond the row
  EXPECT_THROW(load(badRun), ccArchive::BadData);
}

}  // namespace
