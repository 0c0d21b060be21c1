// SPDX-License-Identifier: Apache-2.0
#include "platform/vision/morphology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "tests/platform/vision/vision_test_images.h"

namespace {

// Erosion or dilation by the Minkowski sum of the chain, from its offsets directly.
ccPelBuffer<unsigned char> bruteMorph(const ccPelBuffer_const<unsigned char>& src,
                                      const std::vector<ccGMorph3x3Element>& chain, bool erode) {
  std::vector<std::pair<int, int>> offsets{{0, 0}};
  for (const ccGMorph3x3Element& e : chain) {
    std::vector<std::pair<int, int>> sum;
    for (const auto& o : offsets)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (e.contains(dx, dy)) sum.emplace_back(o.first + dx, o.second + dy);
    offsets = sum;
  }
  const long n = static_cast<long>(chain.size());
  ccPelBuffer<unsigned char> out(src.window().trim(n, n, n, n));
  for (long y = out.window().y(); y < out.window().y() + out.height(); ++y)
    for (long x = out.window().x(); x < out.window().x() + out.width(); ++x) {
      int v = erode ? 255 : 0;
      for (const auto& o : offsets) {
        const int s = src.at(x + o.first, y + o.second);
        v = erode ? std::min(v, s) : std::max(v, s);
      }
      out.at(x, y) = static_cast<unsigned char>(v);
    }
  return out;
}

TEST(GreyMorphology, ErodeAndDilateMatchBruteForce) {
  std::mt19937 rng(21);
  using D = ccGMorphDefs;
  const std::vector<std::vector<ccGMorph3x3Element>> chains = {
      {ccGMorph3x3Element(D::eSquare)},
      {ccGMorph3x3Element(D::eCross)},
      {ccGMorph3x3Element(D::eHorizontalLine), ccGMorph3x3Element(D::eVerticalLine)},
      {ccGMorph3x3Element(D::eCross), ccGMorph3x3Element(D::eSquare),
       ccGMorph3x3Element(D::eHorizontalLine)},
  };
  const ccPelBuffer<unsigned char> img = cfRandomImage(ccPelRect(-4, 9, 23, 17), rng);
  for (std::size_t c = 0; c < chains.size(); ++c) {
    SCOPED_TRACE(::testing::Message() << "chain " << c);
    const ccGMorphElement element(chains[c]);
    ccPelBuffer<unsigned char> eroded, dilated;
    element.erode(img, eroded);
    element.dilate(img, dilated);
    EXPECT_TRUE(cfSameImage(eroded, bruteMorph(img, chains[c], true)));
    EXPECT_TRUE(cfSameImage(dilated, bruteMorph(img, chains[c], false)));
  }
}

TEST(GreyMorphology, PaddedEdgeMapKeepsItsWindowAndThickensEdges) {
  // A 255 map with one 0 pixel, padded by one pixel of 255, eroded by the square.
  ccPelBuffer<unsigned char> edges(ccPelRect(10, 20, 8, 6));
  cfPelSet(edges, static_cast<unsigned char>(255));
  edges.at(10, 22) = 0;
  ccPelBuffer<unsigned char> padded(edges.window().trim(-1, -1, -1, -1));
  cfPelSet(padded, static_cast<unsigned char>(255));
  ccPelBuffer<unsigned char> inner = padded;
  inner.window(edges.window());
  cfPelCopy(edges, inner);
  ccPelBuffer<unsigned char> out;
  ccGMorphElement(ccGMorph3x3Element(ccGMorphDefs::eSquare)).erode(padded, out);
  ASSERT_EQ(out.window(), edges.window());
  for (long y = 20; y < 26; ++y)
    for (long x = 10; x < 18; ++x)
      EXPECT_EQ(out.at(x, y), (x <= 11 && y >= 21 && y <= 23) ? 0 : 255) << x << "," << y;

  // In place into a bound destination of the right size; errors for the rest.
  ccPelBuffer<unsigned char> same = cfPelCopy(edges);
  ccPelBuffer<unsigned char> dst(6, 4);
  const ccGMorphElement square{ccGMorph3x3Element(ccGMorphDefs::eSquare)};
  EXPECT_NO_THROW(square.erode(same, dst));
  EXPECT_THROW(square.erode(same, same), ccBadArgument);
  EXPECT_THROW(square.erode(ccPelBuffer<unsigned char>(2, 5), out), ccPel::BadWindow);
  EXPECT_THROW(square.erode(ccPelBuffer<unsigned char>(), out), ccPel::UnboundWindow);
  EXPECT_THROW(ccGMorph3x3Element(static_cast<ccGMorphDefs::ElementType>(4)), ccBadArgument);
  EXPECT_THROW(ccGMorphElement(std::vector<ccGMorph3x3Element>()), ccBadArgument);
}

}  // namespace
