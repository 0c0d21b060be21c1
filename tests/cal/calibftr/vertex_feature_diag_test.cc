// SPDX-License-Identifier: Apache-2.0
// What the vertex feature extraction records into a diagnostics object, by flags.
#include "cal/calibftr/vertex_feature_diag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/lines.h"

namespace {

// Labels of the records at or below the current level, in order.
std::vector<std::string> labels(const ccDiagObject& d) {
  std::vector<std::string> out;
  for (const ccDiagRecord& r : d.records()) out.push_back(r.label());
  return out;
}

// A 5 x 2 block of features, plate pitch (2, 3), grid (i, j) at image (100 + 10 i, 50 + 10 j),
// i = -1 .. 3, j = 0 .. 1.
std::vector<ccCrspPairWeighted> block() {
  std::vector<ccCrspPairWeighted> f;
  for (int j = 0; j <= 1; ++j)
    for (int i = -1; i <= 3; ++i)
      f.emplace_back(ccVector<2>(100 + 10 * i, 50 + 10 * j), ccVector<2>(2.0 * i, 3.0 * j), 1.0);
  return f;
}

ccCalib2VertexFeatureParams pitch23() {
  ccCalib2VertexFeatureParams p;
  p.physicalGridPitch(ccVector<2>(2, 3));
  return p;
}

const ccGraphicList& sketchOf(const ccDiagObject& d, const std::string& label) {
  for (const ccDiagRecord& r : d.records())
    if (r.label() == label && !r.sketches().empty()) return r.sketches().front().graphics;
  static const ccGraphicList none;
  ADD_FAILURE() << "no graphics " << label;
  return none;
}

TEST(VertexFeatureDiag, RecordsByCategoryInOrder) {
  const ccPelBuffer<unsigned char> image(200, 100);
  cfCalib2VertexFeatureDiag(nullptr, ccDiagDefs::eRecordAll, pitch23(), image,
                            block());  // nothing to do

  ccDiagObject inputOnly;
  cfCalib2VertexFeatureDiag(&inputOnly, ccDiagDefs::eRecordInput, pitch23(), image, block());
  EXPECT_EQ(labels(inputOnly), (std::vector<std::string>{"image", "params"}));
  EXPECT_EQ(inputOnly.record(1).text(),
            "Params\nPhysicalGridPitch = ( 2 , 3 )\nOrigin = ( 0 , 0 )\nLabelMode = "
            "ccCalib2VertexFeatureDefs::eNone\n"
            "Algorithm = ccCalib2VertexFeatureDefs::eStandard\nPrecisionThreshold = "
            "inf\nNeedBothCheckers = true\n"
            "UniformLighting = true\n");

  ccDiagObject all;
  cfCalib2VertexFeatureDiag(&all, ccDiagDefs::eRecordAll, pitch23(), image, block());
  const std::vector<std::string> expected = {"image",
                                             "params",
                                             "Neighbors x",
                                             "Neighbors at x = -2",
                                             "Neighbors at x = 0",
                                             "Neighbors at x = 2",
                                             "Neighbors at x = 4",
                                             "Neighbors at x = 6",
                                             "Neighbors y",
                                             "Neighbors at y = 0",
                                             "Neighbors at y = 3",
                                             "Results",
                                             "Features",
                                             "Plate coordinates",
                                             "Neighbors",
                                             "Origin",
                                             "Bounding box",
                                             "Coordinates (image : plate -> mapped image )"};
  EXPECT_EQ(labels(all), expected);
  EXPECT_EQ(all.record(2).level(), 1);
  EXPECT_EQ(all.record(0).level(), 0);
  // Column links: one per column (the two rows); row links: four per row.
  EXPECT_EQ(sketchOf(all, "Neighbors at x = -2").size(), 1u);
  EXPECT_EQ(sketchOf(all, "Neighbors at y = 3").size(), 4u);
  EXPECT_EQ(sketchOf(all, "Neighbors").size(), 5u + 8u);
  EXPECT_EQ(sketchOf(all, "Features").size(), 10u);
  const auto& text = dynamic_cast<const ccGraphicText&>(sketchOf(all, "Plate coordinates").at(0));
  EXPECT_EQ(text.text(), "(-2.000, 0.000)");
  EXPECT_EQ(text.position(), ccVector<2>(90, 50));
  // The x axis line from plate (0, 0) to (6, 0); no feature lies 3 pitches along y.
  const ccGraphicList& origin = sketchOf(all, "Origin");
  ASSERT_EQ(origin.size(), 1u);
  const auto& axis = dynamic_cast<const ccGraphicSimple<ccLineSeg>&>(origin.at(0));
  EXPECT_EQ(axis.shape(), ccLineSeg(ccVector<2>(100, 50), ccVector<2>(130, 50)));
  EXPECT_EQ(axis.props().color(), ccColor::yellowColor);
  const auto& box = dynamic_cast<const ccGraphicWithFill<ccRect, ccGenRect>&>(
      sketchOf(all, "Bounding box").at(0));
  EXPECT_EQ(box.shape(), ccRect(90, 50, 40, 10));
  const std::string& coords = all.records().back().text();
  EXPECT_EQ(coords.substr(0, coords.find('\n', coords.find('\n') + 1) + 1),
            "nFeatures = 10\nImage position : physical position\n");
  EXPECT_NE(coords.find("(90.000, 50.000) : (-2.000, 0.000)  1.000\n"), std::string::npos);
}

TEST(VertexFeatureDiag, EmptyFeaturesStillRecordTheResultLists) {
  ccDiagObject d;
  cfCalib2VertexFeatureDiag(&d, ccDiagDefs::eRecordResult | ccDiagDefs::eRecordIntermediate,
                            pitch23(), ccPelBuffer<unsigned char>(10, 10), {});
  EXPECT_EQ(labels(d),
            (std::vector<std::string>{"image", "Neighbors x", "Neighbors y", "Results", "Features",
                                      "Plate coordinates", "Neighbors", "Origin", "Bounding box",
                                      "Coordinates (image : plate -> mapped image )"}));
  EXPECT_EQ(d.records().back().text().substr(0, 14), "nFeatures = 0\n");
}

}  // namespace
