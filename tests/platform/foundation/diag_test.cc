// SPDX-License-Identifier: Apache-2.0
#include "platform/foundation/diag.h"

#include <gtest/gtest.h>

#include "platform/foundation/pel_ops.h"

namespace {

// Stands in for a line segment type: a graphic only copies its shape.
struct Segment {
  ccVector<2> a, b;
};

ccGraphicList sampleList() {
  ccGraphicList list;
  list.append(
      ccGraphicSimple<ccCircle>(ccCircle(ccVector<2>(1, 2), 3), ccGraphicProps(ccColor::blue)));
  list.append(ccGraphicText("(0.000, 1.000)", ccVector<2>(4, 5), ccColor::red, ccColor::passColor,
                            ccUIFormat(0), ccVector<2>(2, 2)));
  list.append(
      ccGraphicWithFill<ccRect, ccGenRect>(ccRect(0, 0, 4, 2), ccGraphicProps(ccColor::yellow, 1)));
  list.append(
      std::make_unique<ccGraphicPointIcon>(ccVector<2>(6, 7), ccGraphicProps(ccColor::redColor())));
  return list;
}

TEST(Diagnostics, RecordsKeepOrderLevelsLabelsAndContents) {
  ccDiagObject diag;
  ccPelBuffer<unsigned char> image(8, 6);
  cf_AddImage(diag, image, "image", false);
  {
    ccDiagIncrementLevel level(diag);
    cf_AddText(&diag, "Params\n", "params");
    {
      ccDiagIncrementLevel deeper(&diag);
      cf_AddGraphics(diag, sampleList(), "Features", ccDiagDefs::eClientCoords);
    }
    ccDiagRecord& last = diag.addRecord();
    last.recordAnnotation("Dectected and Filtered Dots");
    last.image(image, false);
    ccUITablet tablet;
    tablet.draw(ccCircle(ccVector<2>(3, 3), 0.5), ccGraphicProps(ccColor::red, 1, 0, false), 0);
    diag.lastRecord().sketch(tablet.sketch(), ccDiagDefs::eImageCoords, "Dot");
  }
  cf_AddText(diag, "after", "tail");

  ASSERT_EQ(diag.size(), 5u);
  const std::vector<int> levels{0, 1, 2, 1, 0};
  const std::vector<std::string> labels{"image", "params", "Features", "", "tail"};
  for (std::size_t i = 0; i < diag.size(); ++i) {
    EXPECT_EQ(diag.record(i).level(), levels[i]) << "record " << i;
    EXPECT_EQ(diag.record(i).label(), labels[i]) << "record " << i;
  }
  EXPECT_TRUE(diag.record(0).hasImage());
  EXPECT_EQ(diag.record(1).text(), "Params\n");
  const ccDiagRecord::Sketch& features = diag.record(2).sketches().at(0);
  EXPECT_EQ(features.label, "Features");
  EXPECT_EQ(features.coordinateSystem, 1);
  EXPECT_EQ(features.graphics.size(), 4u);
  const ccDiagRecord& dots = diag.record(3);
  EXPECT_EQ(dots.annotation(), "Dectected and Filtered Dots");
  ASSERT_EQ(dots.sketches().size(), 1u);
  EXPECT_EQ(dots.sketches()[0].label, "Dot");
  EXPECT_EQ(dots.sketches()[0].coordinateSystem, 2);
  auto circle = dynamic_cast<const ccGraphicSimple<ccCircle>*>(&dots.sketches()[0].graphics.at(0));
  ASSERT_NE(circle, nullptr);
  EXPECT_EQ(circle->shape().radius(), 0.5);
  EXPECT_EQ(circle->props().color(), ccColor::red);
  EXPECT_EQ(diag.level(), 0);

  // A record handed out stays valid however many are added after it.
  ccDiagRecord& early = diag.addRecord();
  for (int i = 0; i < 1000; ++i) cf_AddText(diag, "x", "filler");
  early.recordAnnotation("still here");
  EXPECT_EQ(diag.record(5).annotation(), "still here");
}

TEST(Diagnostics, SharedImagesSeeLaterChangesCopiesDoNot) {
  ccPelBuffer<unsigned char> image(ccPelRect(10, 20, 4, 3));
  cfPelSet<unsigned char>(image, 10);
  image.clientFromImageXform(ccXform<2>(ccMatrix<2>(2, 0, 0, 2), ccVector<2>(1, 1)));
  ccDiagObject diag;
  const ccDiagRecord& shared = cf_AddImage(diag, image, "shared", false);
  const ccDiagRecord& copied = cf_AddImage(diag, image, "copied", true);
  image.at(11, 21) = 99;
  EXPECT_FALSE(shared.imageIsCopy());
  EXPECT_TRUE(copied.imageIsCopy());
  EXPECT_EQ(shared.image().at(11, 21), 99);
  EXPECT_EQ(copied.image().at(11, 21), 10);
  EXPECT_EQ(copied.image().window(), image.window());
  EXPECT_EQ(copied.image().clientFromImageXform(), image.clientFromImageXform());

  EXPECT_FALSE(cf_AddImage(diag, ccPelBuffer_const<unsigned char>(), "unbound", true).hasImage());
}

TEST(Diagnostics, ShouldRecordFollowsFlagsAndTheSwitch) {
  ccDiagObject diag;
  unsigned long flags = ccDiagDefs::eRecordInput | ccDiagDefs::eRecordResult;
  EXPECT_TRUE(diag.shouldRecord(flags, 0x10000));
  EXPECT_TRUE(diag.shouldRecord(flags, 0x20000));
  EXPECT_FALSE(diag.shouldRecord(flags, 0x40000));
  EXPECT_FALSE(diag.shouldRecord(0, ccDiagDefs::eRecordAll));
  diag.enable(false);
  EXPECT_FALSE(diag.shouldRecord(flags, 0x10000));

  // Null objects take nothing; bad coordinate systems are refused.
  ccDiagObject* none = nullptr;
  EXPECT_EQ(cf_AddText(none, "t", "l"), nullptr);
  { ccDiagIncrementLevel level(none); }
  EXPECT_THROW(cf_AddGraphics(diag, ccGraphicList(), "x", 3), ccBadArgument);
  EXPECT_TRUE(diag.empty()) << "a refused addition leaves no record";
  EXPECT_THROW(diag.lastRecord(), ccBadArgument);
}

TEST(Graphics, ListsCopyDeeplyAndTabletsOrderByLayer) {
  ccGraphicList original = sampleList();
  ccGraphicList copy = original;
  original.clear();
  ASSERT_EQ(copy.size(), 4u);
  auto text = dynamic_cast<const ccGraphicText*>(&copy.at(1));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), "(0.000, 1.000)");
  EXPECT_EQ(text->backgroundColor(), ccColor::green);
  EXPECT_EQ(text->pixelOffset(), ccVector<2>(2, 2));
  EXPECT_NE((dynamic_cast<const ccGraphicWithFill<ccRect, ccGenRect>*>(&copy.at(2))), nullptr);
  EXPECT_NE(dynamic_cast<const ccGraphicPointIcon*>(&copy.at(3)), nullptr);
  copy.append(copy);
  EXPECT_EQ(copy.size(), 8u);

  ccUITablet tablet;
  tablet.draw(Segment{ccVector<2>(0, 0), ccVector<2>(1, 1)}, ccGraphicProps(ccColor::orange), 2);
  tablet.draw(ccVector<2>(5, 5), ccGraphicProps(ccColor::cyan), 0);
  tablet.draw(*text, 1);
  tablet.draw(ccCircle(ccVector<2>(), 1), ccGraphicProps(ccColor::magenta), 0);
  std::vector<ccColor> colors;
  for (const ccGraphic& g : tablet.sketch()) colors.push_back(g.props().color());
  EXPECT_EQ(colors,
            (std::vector<ccColor>{ccColor::cyan, ccColor::magenta, ccColor::red, ccColor::orange}));

  EXPECT_THROW(ccCircle(ccVector<2>(), -1), ccBadArgument);
  EXPECT_THROW(ccGraphicProps(ccColor::red, -1), ccBadArgument);
  EXPECT_THROW(ccUIFormat(9), ccBadArgument);
  EXPECT_THROW(ccGraphicList().append(std::unique_ptr<ccGraphic>()), ccBadArgument);
}

}  // namespace
